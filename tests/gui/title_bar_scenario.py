#!/usr/bin/env python3
"""What a user reaches from the title bar and the toolkit, against the device service Harlix that the relay
starts and simulated iPhones: the about box; the user's own update check, which says when this version is the
latest, and for a product that installs as an add-in the update's installer run silently before the add-in
takes over; the device list, where choosing the second iPhone makes every page show that iPhone's data; the view
switch to the toolkit, whose first tool opens the backup manager, and back; the manager's status line saying how
each backup and restore went (a device that left midway, a finished backup, a wrong password, a run in progress);
and the device page's hint for an iPhone that waits for trust and for one locked with its passcode; such iPhones
beside a ready one, listed with their state and showing their own hint when chosen; and "Fix device connection"
followed through each link of its notice (the two pages opened, the driver download's failure said in words). Each
step keeps a screenshot. Every wait is a poll against a deadline.
"""
import getpass
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import relay_service_scenario
from wine_session import ARGS, DEADLINE_S, wait_until, windows_path


def ink_span(shot, left, top, width, height, ink):
    """The width in pixels of what the screenshot shows in colour `ink` (within 24 on each channel) in the box,
    its first and last columns (a dialog's frame) left out: from the leftmost to the rightmost such pixel, 0
    when none."""
    out = subprocess.run(["convert", str(shot), "-crop", f"{width}x{height}+{left}+{top}", "+repage", "-depth", "8",
                          "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
    xs = []
    for line in out.splitlines()[1:]:
        match = re.match(r"^(\d+),(\d+): \((\d+),(\d+),(\d+)", line)
        inside = match and 0 < int(match.group(1)) < width - 1
        if inside and all(abs(int(match.group(3 + i)) - ink[i]) <= 24 for i in range(3)):
            xs.append(int(match.group(1)))
    return max(xs) + 1 - min(xs) if xs else 0


class TitleBarScenario(relay_service_scenario.RelayHarness):
    """The relay scenario's set-up and helpers for the scenarios below alone."""
    work_prefix = "trevane-title-bar-"

    def title_shows(self):
        return self.display.probe("text", "TrevaneMainFrame", "LunderTitleBar")[1].strip()

    def device_page(self):
        code, out = self.display.probe("text", "TrevaneMainFrame", "YestalPageContainer")
        return out if code == 0 else ""

    def wait_page(self, shows, what, absent=False):
        """Waits until the device page's text holds `shows` (or, `absent`, no longer holds it); a time-out
        says what the page showed last."""
        try:
            wait_until(lambda: (shows in self.device_page()) != absent or None, what=what)
        except AssertionError as timeout:
            raise AssertionError(f"{timeout}; the device page shows:\n{self.device_page()}\nthe relay's trace ends:\n"
                                 + "\n".join(self.trace_lines()[-25:])) from None

    def test_the_about_box_and_the_users_update_check(self):
        www = self.work / "www"
        www.mkdir()
        (www / "feed.json").write_text(json.dumps({"installer": "", "versions": [
            {"version": "2.6.21", "notes": ["The running version."]}]}))
        self.set_option("url:update", self.serve(www) + "/feed.json")
        self.lab.attach(self.lab.make())
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        # The check at start-up finds nothing new and says nothing.
        self.wait_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE .*status=1 .*value2=0$", "the first check's answer")

        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "About")[0], 0)
        code, box = self.display.probe("wait", "#32770", DEADLINE_S * 1000)
        self.assertEqual(code, 0)
        x, y, width, height = map(int, box.split())
        self.assertEqual((width, height), (500, 360), "the about box")
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)  # painted
        shot = self.display.screenshot("title-bar-about.png")
        # The version line as drawn (white on the band, below the name): as wide as "Version 2.6.21" and no
        # wider, so the shipped program is no preview.
        drawn = ink_span(shot, x, y + 165, width, 30, (255, 255, 255))
        expected = int(self.display.probe("text-width", "16", "0", "Version 2.6.21")[1])
        self.assertTrue(expected - 6 <= drawn <= expected + 1, f"the version line is {drawn} pixels wide, not {expected}")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        wait_until(lambda: self.display.probe("count", "#32770")[1].strip() == "0" or None, what="the about box closed")

        # Asked by the user, the same answer is said in words.
        checks = self.count_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE ")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Check for updates")[0], 0)
        wait_until(lambda: self.count_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE ") > checks or None,
                   what="the user's check answered")
        latest = "This version of (2.6.21) is the latest version."
        wait_until(lambda: latest in self.display.probe("dialog-text", "200")[1] or None,
                   what="the latest-version notice")
        self.display.screenshot("title-bar-update-latest.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        wait_until(lambda: latest not in self.display.probe("dialog-text", "200")[1] or None, what="the notice closed")
        self.close_trevane()

    def test_a_second_iphone_is_chosen_from_the_device_list(self):
        first = self.lab.attach(self.lab.make(name="Ada's iPhone", apps=2))
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={first} name=Ada's iPhone$", "the first named")
        second = self.lab.attach(self.lab.make(name="Bo's iPhone", apps=4))
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={second} name=Bo's iPhone$", "the second named")
        wait_until(lambda: self.title_shows() == "Ada's iPhone" or None, what="the title bar on the first")
        self.choose_section(21)
        self.wait_cells("SysListView32", lambda rows: len(rows) == 2, "the first iPhone's two apps")

        # The list names both, the current one checked; the second item switches to Bo's iPhone.
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Switch device")[0], 0)
        wait_until(lambda: self.display.probe("count", "#32768")[1].strip() == "1" or None, what="the device list")
        self.display.screenshot("title-bar-device-list.png")
        self.assertEqual(self.display.probe("menu", "2", "10000")[0], 0)  # the second item
        self.wait_trace(rf"^ZERITH_COMMAND_CHANGE_DEVICE .*key={second}", "the switch relayed")
        wait_until(lambda: self.title_shows() == "Bo's iPhone" or None, what="the title bar on the second")
        # The apps page follows the device: Bo's four apps, nothing of Ada's left.
        self.choose_section(21)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_APP key={second} code=51 value2=0 value3=4$", "the second's apps")
        self.wait_cells("SysListView32", lambda rows: len(rows) == 4, "the second iPhone's four apps")
        self.choose_section(0)
        self.wait_page("Bo's iPhone", "the summary of the second")
        self.display.screenshot("title-bar-switched.png")
        self.close_trevane()

    def test_an_update_for_an_add_in_product_runs_its_installer_silently_and_hands_over_to_the_add_in(self):
        # Product type 1 runs from its folder under the user's AppData; its update installs an add-in beside
        # the preferences, which takes over from this program.
        users = Path(ARGS.prefix) / "drive_c" / "users"
        user = next(users / n for n in (getpass.getuser(), "root") if (users / n).is_dir())
        product = user / "AppData" / "Roaming" / "Solvak" / "TrevaneAddinCase"
        shutil.rmtree(product, ignore_errors=True)
        self.addCleanup(shutil.rmtree, product, True)
        www = self.work / "www"
        www.mkdir()
        record = self.work / "installer-arguments.txt"
        addin = product / "Addins" / "Solvak Trevane"
        # The installer stand-in notes how it was run and installs the add-in (the probe, which ends at once).
        (www / "Setup-2.7.0.bat").write_text(
            "@echo off\r\n"
            f'echo %*> "{windows_path(record)}"\r\n'
            f'mkdir "{windows_path(addin)}\\2.7.0\\Bin"\r\n'
            f'copy "{windows_path(Path(ARGS.winprobe))}" "{windows_path(addin)}\\2.7.0\\Bin\\Solvak Trevane.exe"\r\n')
        address = self.serve(www)
        (www / "feed.json").write_text(json.dumps({"installer": address + "/Setup-2.7.0.bat", "versions": [
            {"version": "2.7.0", "notes": ["An add-in takes over."]}]}))
        self.set_option("url:update", address + "/feed.json")
        self.set_option("product:type", 1)
        shutil.copytree(self.app, product / "bin")
        self.app = product / "bin"
        self.start_trevane()

        self.wait_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE .*status=1 .*value2=1$", "the check's answer")
        sheet = lambda: next((t for c, t in [self.display.probe("text", "#32770", "SysLink")]
                              if c == 0 and "A new version of (2.7.0) is available." in t), None)
        wait_until(sheet, what="the new-version notice")
        # The notice's link opens the update list; a click while the notice still slides in may miss it.
        def open_list():
            self.display.probe("click", "#32770", "SysLink", "30", "10")
            code, text = self.display.probe("dialog-text", 2000)
            return code == 0 and "Update Now" in text or None
        wait_until(open_list, what="the update list")
        self.assertEqual(self.display.probe("press", "Update Now", 10000)[0], 0)
        self.wait_trace(r"^> ZERITH_COMMAND_DOWNLOAD_UPDATE .*status=0 ", "the download finished")
        # The installer ran hidden with the silent switch and the product's alias, and was deleted; the add-in
        # it installed started and this program closed for it.
        self.process.wait(timeout=DEADLINE_S)
        self.assertEqual(record.read_text().strip(), '/S /PRODUCT_ALIAS="TrevaneAddinCase"')
        self.assertTrue((addin / "2.7.0" / "Bin" / "Solvak Trevane.exe").is_file())

    def test_the_toolkit_opens_the_backup_manager_and_the_device_view_returns(self):
        self.lab.attach(self.lab.make())
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        shown = lambda: [l.split()[0] for l in self.display.probe("children", "TrevaneMainFrame", "KestorToolkit")[1]
                         .splitlines() if l.strip()]
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Toolkit")[0], 0)
        wait_until(lambda: shown() == ["1"] or None, what="the toolkit shown")
        self.display.screenshot("toolkit.png")

        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Backup & Restore")[0], 0)
        wait_until(lambda: self.display.probe("count", "DhBackupDialog")[1].strip() == "1" or None,
                   what="the backup manager open")
        self.display.screenshot("toolkit-backup-manager.png")
        self.assertEqual(self.display.probe("close", "DhBackupDialog")[0], 0)
        wait_until(lambda: self.display.probe("count", "DhBackupDialog")[1].strip() == "0" or None,
                   what="the backup manager closed")

        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Device")[0], 0)
        wait_until(lambda: shown() == ["0"] or None, what="the toolkit hidden")
        self.wait_page("Zoë's iPhone", "the device page back")
        self.close_trevane()

    def test_backups_and_a_restore_say_how_they_went_on_the_managers_status_line(self):
        import hlx_device
        config = self.work / "config"
        (config / "Apple Computer" / "MobileSync" / "Backup").mkdir(parents=True)
        scripts = {"Ada's iPhone": {"password": "secret"}, "Bo's iPhone": {"disconnectAtPercent": 60},
                   "Cy's iPhone": {"stallAtPercent": 30}}
        udids = []
        for seed, (name, script) in enumerate(scripts.items(), start=21):
            image = self.lab.make(name=name, seed=seed, contacts=3)
            (Path(image["path"]) / "backup.json").write_text(json.dumps(script))
            udids.append(self.lab.attach(image))
        hlx_device.set_lockdown_value(udids[0], "WillEncrypt", True, domain="com.apple.mobile.backup", root=self.lab.root)
        lines = self.run_backup_probe(udids, config, TREVANE_PROBE_ROUND="2", TREVANE_PROBE_DEVICES="|".join(scripts),
                                      TREVANE_PROBE_PASSWORD="wrong")
        statuses = [l[7:] for l in lines if l.startswith("status ")]
        # Each line leads with the newest run; the earlier ones follow it.
        self.assertEqual([s.split("   ")[0] for s in statuses], [
            'Backup of "Bo\'s iPhone" failed: the device was disconnected.',
            'Backup of "Ada\'s iPhone" finished.',
            'Restore of "Ada\'s iPhone" failed: the backup password is wrong.',
            statuses[-1].split("   ")[0]])
        self.assertRegex(statuses[-1], r'^Backing up "Cy\'s iPhone": \d+%')
        self.assertRegex(statuses[-1], r"1 backup\(s\), \d")
        self.assertEqual(lines.count("ok the host waits under the manager"), 4, "\n".join(lines))
        self.process.kill()
        self.process.wait(timeout=DEADLINE_S)

    def test_an_untrusted_and_a_locked_iphone_say_what_to_do(self):
        import hlx_device
        udid = self.lab.attach(self.lab.make(trusted=False))
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.wait_page("Waiting for trust", "the trust hint")
        self.assertIn("Trust", self.device_page())
        self.display.screenshot("device-untrusted.png")
        # Trusting on the device makes it ready: the summary replaces the hint.
        hlx_device.set_trusted(udid, True, root=self.lab.root)
        self.wait_page("Zoë's iPhone", "the summary after trust")
        self.close_trevane()

        self.lab.detach(udid)
        locked = self.lab.attach(self.lab.make(locked=True))
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.wait_page("locked with a passcode", "the unlock hint")
        self.display.screenshot("device-locked.png")
        # Unlocked and connected again, as the hint says, the iPhone is ready.
        hlx_device.set_locked(locked, False, root=self.lab.root)
        image = hlx_device.detach(locked, root=self.lab.root)
        hlx_device.attach(image, root=self.lab.root, copy=True)  # a copy is a new arrival, however soon
        self.wait_page("Zoë's iPhone", "the summary once unlocked")
        self.close_trevane()

    def test_phones_that_are_not_ready_are_listed_with_their_state_and_show_their_hint_when_chosen(self):
        import hlx_device
        ready = self.lab.attach(self.lab.make(name="Ada's iPhone", seed=31))
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={ready} name=Ada's iPhone$", "the first named")
        untrusted = self.lab.attach(self.lab.make(name="Bo's iPhone", seed=32, trusted=False))
        self.wait_trace(rf"^> ZERITH_COMMAND_NOT_PAIR key={untrusted}", "the second waiting for trust")
        locked = self.lab.attach(self.lab.make(name="Cy's iPhone", seed=33, locked=True))
        self.wait_trace(rf"^> ZERITH_COMMAND_CONNECT_DEVICE_FAIL key={locked}", "the third locked")
        wait_until(lambda: self.title_shows() == "Ada's iPhone" or None, what="the ready iPhone staying current")

        # The list names all three, the two not ready with their state; choosing one shows its own hint.
        for item, title, hint in [(2, "Bo's iPhone (waiting for trust)", "Waiting for trust"),
                                  (3, "Cy's iPhone (locked)", "locked with a passcode")]:
            self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Switch device")[0], 0)
            wait_until(lambda: self.display.probe("count", "#32768")[1].strip() == "1" or None, what="the device list")
            self.display.screenshot(f"title-bar-device-list-{item}.png")
            self.assertEqual(self.display.probe("menu", str(item), "10000")[0], 0)
            wait_until(lambda: self.title_shows() == title or None, what=f"the title bar on {title}")
            self.wait_page(hint, f"the hint of {title}")
            self.assertNotIn("Ada's iPhone", self.device_page())
            self.display.screenshot(f"title-bar-not-ready-{item}.png")

        # The locked iPhone leaves while it is shown: the bar goes back to the first device and its hint goes.
        self.lab.detach(locked)
        wait_until(lambda: self.title_shows() == "Ada's iPhone" or None, what="the title bar back on the first")
        self.wait_page("locked with a passcode", "the locked iPhone's hint gone", absent=True)
        # Trusted on the device, the second iPhone is ready and listed by its name alone.
        hlx_device.set_trusted(untrusted, True, root=self.lab.root)
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={untrusted} name=Bo's iPhone$", "the second ready")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Switch device")[0], 0)
        self.assertEqual(self.display.probe("menu", "2", "10000")[0], 0)
        wait_until(lambda: self.title_shows() == "Bo's iPhone" or None, what="the title bar on the trusted iPhone")
        self.wait_page("Bo's iPhone", "the trusted iPhone's summary")
        self.close_trevane()

    def test_fix_device_connection_follows_each_link_of_the_not_recognized_notice(self):
        # The system's browser stands in as a script that notes each address it is asked to open.
        opened = self.work / "opened.txt"
        browser = self.work / "browser"
        browser.mkdir()
        (browser / "xdg-open").write_text(f'#!/bin/sh\necho "$1" >> "{opened}"\n')
        (browser / "xdg-open").chmod(0o755)
        self.lab.attach(self.lab.make())
        self.start_trevane(PATH=f"{browser}:{os.environ.get('PATH', '/usr/bin:/bin')}")
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        addresses = lambda: opened.read_text().split() if opened.exists() else []

        def open_notice(shot):
            self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Toolkit")[0], 0)
            # The toolkit's button can be pressed once the toolkit shows.
            wait_until(lambda: self.display.probe("press-in", "TrevaneMainFrame", "Fix device connection")[0] == 0
                       or None, what="the toolkit's Fix device connection pressed")
            wait_until(lambda: "Fix it as follows" in self.display.probe("dialog-text", "1000")[1] or None,
                       what="the not-recognized notice")
            self.display.screenshot(shot)

        open_notice("fix-connection-notice.png")
        # Way 2 opens the device library's download page, way 3 the help page; the notice stays for the next.
        self.assertEqual(self.display.probe("link", "2", "10000")[0], 0)
        wait_until(lambda: any(a.startswith("http://127.0.0.1/solvak/itunes") for a in addresses()) or None,
                   what="the download page opened")
        self.assertEqual(self.display.probe("link", "3", "10000")[0], 0)
        wait_until(lambda: "http://127.0.0.1/solvak/" in addresses() or None, what="the help page opened")
        self.assertIn("Fix it as follows", self.display.probe("dialog-text", "1000")[1])
        # Way 1 updates the driver: the notice closes for the progress dialog, and the download from the shipped
        # address, where nothing answers, ends with why in words.
        self.assertEqual(self.display.probe("link", "1", "10000")[0], 0)
        self.wait_trace(r"^ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER ", "the host asking for the driver")
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER .*status=50 ", "the download failing")
        failed = "The driver download failed: a driver package could not be downloaded"
        text = wait_until(lambda: (lambda t: t if failed in t else None)(self.display.probe("dialog-text", "1000")[1]),
                          what="the failure said in the progress dialog")
        self.assertIn("OK", text.splitlines())
        self.display.screenshot("fix-connection-driver-failed.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        wait_until(lambda: failed not in self.display.probe("dialog-text", "200")[1] or None,
                   what="the progress dialog closed")
        self.close_trevane()

    def test_the_update_the_simulated_pc_serves_is_listed_downloaded_and_its_installer_run(self):
        # The main job's simulated PC serves the update at the shipped Option.json's address; here on a free
        # port of the same path, so that a main job running beside the test does not stand in the way.
        import hlx_lab
        import urllib.parse
        shipped = urllib.parse.urlsplit(json.loads((self.app / "Option.json").read_text())["url"]["update"])
        free = hlx_lab.serve_folder(self.work)
        port = free.server_address[1]
        free.shutdown()
        free.server_close()
        address = urllib.parse.urlunsplit(shipped._replace(netloc="127.0.0.1:%d" % port))
        record = self.work / "installer-ran.txt"
        server = hlx_lab.serve_update_feed(str(self.work / "www"), address, str(record))
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        self.set_option("url:update", address)
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.wait_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE .*status=1 .*value2=1$", "the first check's answer")
        # The user's own check lists the new version; "Update Now" downloads its installer with its progress.
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Check for updates")[0], 0)
        listed = lambda: (lambda t: t if "Update Now" in t else None)(self.display.probe("dialog-text", "1000")[1])
        wait_until(listed, what="the update list")
        self.display.screenshot("update-main-job-list.png")
        self.assertEqual(self.display.probe("press", "Update Now", 10000)[0], 0)
        self.wait_trace(r"^> ZERITH_COMMAND_DOWNLOAD_UPDATE .*status=0 ", "the download finished")
        # The installer stand-in ran, and the desktop closed for it.
        wait_until(lambda: record.exists() and record.read_text().strip() or None, what="the installer run")
        self.assertIn("the installer of %s ran" % hlx_lab.UPDATE_VERSION, record.read_text())
        self.process.wait(timeout=DEADLINE_S)

    def test_without_an_update_address_the_users_check_says_so(self):
        self.set_option("url:update", "")
        self.start_trevane()
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Check for updates")[0], 0)
        said = lambda: (lambda t: t if "No update address is set" in t else None)(
            self.display.probe("dialog-text", "1000")[1])
        self.assertNotIn("network", wait_until(said, what="the notice that no update address is set"))
        self.display.screenshot("update-no-address.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        self.close_trevane()


if __name__ == "__main__":
    relay_service_scenario.run_service_scenarios()
