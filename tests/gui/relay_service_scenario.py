#!/usr/bin/env python3
"""Trevane with the relay module in service mode, the device service Harlix and a simulated PC with one iPhone.

The relay starts Harlix itself (TREVANE_HARLIX), hands it the desktop's Linux process id
(TREVANE_LINUX_PID, set by a shell right before it becomes Wine) and turns its device events into host
commands. Checked: the relay is told that the device is connected and announces it to the host (the
relay's trace) with its own name, the host shows it (screenshot), asks the relay whether the title bar's
current device is still connected when another arrives, sends a removal back to the relay, and the title
bar moves on to a device that is still there; closing Trevane ends Harlix. And the contacts of a simulated iPhone end to end: the page lists and counts
the image's 250 contacts, a contact saved in the editor lands in the image, an edit of one field of a contact
that carries every kind of field and label changes that field alone in the image, the device's departure empties
the page, and killing Trevane ends Harlix. The backup manager lists the backups of the default folder with the
values of their Info.plist. Every wait is a poll against a deadline.
"""
import datetime
import json
import os
import plistlib
import signal
import re
import shutil
import sqlite3
import subprocess
import sys
from pathlib import Path

import wine_session
from wine_session import ARGS, DEADLINE_S, TrevaneCase, wait_until, windows_path


def harlix_processes(desktop_pid):
    """Pids of running Harlix processes that the relay started for the desktop `desktop_pid` (its log
    sub-folder is on their command line and they watch that pid): other desktops on the machine do not count."""
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if (len(command) > 2 and command[0].endswith(b"Harlix") and b"TrevaneRelay" in command
                and command[2] == str(desktop_pid).encode()):
            pids.append(int(entry.name))
    return pids


# The backup manager names a backup's model as people know it (the desktop's model table).
MODEL_NAMES = {"iPhone10,3": "iPhone X", "iPhone13,1": "iPhone 12 mini", "iPhone14,2": "iPhone 13 Pro",
               "iPhone12,1": "iPhone 11"}


def model_name(product_type):
    return MODEL_NAMES.get(product_type, product_type)


def backed_up_files(image):
    """{relative path: bytes} of what a backup of the device image carries: its file system and its data."""
    files = {}
    for top in ("fs", "icons"):
        base = Path(image) / top
        for path in base.rglob("*"):
            if path.is_file():
                files[f"{top}/{path.relative_to(base).as_posix()}"] = path.read_bytes()
    for name in ("addressbook.plist", "notes.plist", "bookmarks.plist", "calendars.plist"):
        if (Path(image) / name).exists():
            files[name] = (Path(image) / name).read_bytes()
    return files


ENTITY = "com.apple.syncservices.RecordEntityName"


def add_every_kind_contact(image, sharer):
    """Adds to the image's address book a contact that carries every kind of field and label (keys the editor's
    label lists know and keys they do not, a value without a key, custom labels, unknown IM services and
    countries, line breaks, dates, a picture, fields of the device's own), one of its numbers shared with
    contact `sharer`; its id."""
    path = Path(image) / "addressbook.plist"
    book = plistlib.loads(path.read_bytes())
    ids = iter(range(book["nextRecordId"], book["nextRecordId"] + 100))
    records = book["records"]
    contact = str(next(ids))
    records[contact] = {
        ENTITY: "com.apple.contacts.Contact", "title": "Dr.", "first name": "Quentin", "middle name": "Ann",
        "last name": "Rowe", "suffix": "Jr.", "first name yomi": "Kwentin", "middle name yomi": "An",
        "last name yomi": "Roh", "nickname": "Q", "company name": "Acme <Labs>", "department": "R&D",
        "job title": "Engineer", "notes": "Met at the fair.\nLikes tea & <cake>.",
        "birthday": datetime.datetime(1980, 5, 17), "image": b"\x89PNG\r\n\x1a\n" + bytes(range(64)), "x-rank": 7}
    subs = [
        ("Phone Number", {"type": "mobile", "label": "Weekend", "value": "+49 151 1234567"}),
        ("Phone Number", {"type": "iPhone", "value": "+49 152 7654321", "x-ring": "twice"}),
        ("Phone Number", {"type": "home", "label": "Home", "value": "+49 30 555"}),
        ("Email Address", {"type": "work", "value": "q@example.com"}),
        ("Email Address", {"type": "other", "label": "iCloud", "value": "q@icloud.example"}),
        ("Street Address", {"type": "home", "street": "51 Long Street\nBuilding 3", "city": "Kyoto",
                            "postal code": "600-8216", "country": "Japan", "country code": "jp"}),
        ("Street Address", {"type": "work", "label": "Studio", "street": "1 Rue X", "city": "Atlantis",
                            "state": "AT", "country": "Atlantis", "country code": "xx"}),
        ("URL", {"type": "homepage", "value": "https://example.com/q?a=1&b=2"}),
        ("Related Name", {"type": "partner", "label": "Family", "value": "David"}),
        ("Related Name", {"type": "mother", "value": "Maria"}),
        ("IM", {"type": "work", "service": "JabberInstant", "user": "quentin7"}),
        ("IM", {"type": "home", "label": "Chat", "service": "aim", "user": "q_aim"}),
        ("Date", {"type": "anniversary", "value": datetime.datetime(2010, 7, 1)}),
        ("Date", {"type": "first met", "label": "First met", "value": datetime.datetime(2001, 1, 1, 12, 30)}),
    ]
    for entity, fields in subs:
        records[str(next(ids))] = dict(fields, **{ENTITY: "com.apple.contacts." + entity, "contact": [contact]})
    # A number without a label that another contact shares.
    records[str(next(ids))] = {ENTITY: "com.apple.contacts.Phone Number", "contact": [sharer, contact],
                               "value": "+49 40 999"}
    book["nextRecordId"] = next(ids)
    path.write_bytes(plistlib.dumps(book, fmt=plistlib.FMT_XML, sort_keys=True))
    return contact


class RelayHarness(TrevaneCase):
    """The lab, Trevane with its relay trace and the steps the scenarios share (choosing a section, reading a
    view's cells, exporting, the backup probe); no scenario of its own, so that other scripts build on it."""
    work_prefix = "trevane-relay-"

    def setUp(self):
        sys.path.insert(0, str(Path(ARGS.tools)))
        import hlx_lab
        global hlx_device
        import hlx_device
        super().setUp()
        self.lab = hlx_lab.DeviceLab(str(self.work / "lab"), ARGS.devices)

    def release_work(self):
        self.lab.close()

    def start_trevane(self, **extra):
        env = dict(self.display.env, **self.lab.variables(), TREVANE_RELAY_TRACE=windows_path(self.trace),
                   TREVANE_HARLIX=ARGS.harlix)
        env.update(extra)
        # The shell's pid is the one Wine runs Trevane under once it has replaced the shell.
        self.process = subprocess.Popen(
            ["sh", "-c", 'TREVANE_LINUX_PID=$$ exec wine "$0"', str(self.app / "Trevane.exe")], env=env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_with_device(self, udid, **extra):
        """Starts Trevane and waits until the relay has named device `udid` and the main frame shows."""
        self.start_trevane(**extra)
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=", "the device named")
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)

    def close_trevane(self, harlix_ends=False):
        """Closes the main frame and waits for Trevane to end (and for the Harlix it started, with `harlix_ends`)."""
        self.assertEqual(self.display.probe("close", "TrevaneMainFrame")[0], 0)
        self.process.wait(timeout=DEADLINE_S)
        if harlix_ends:
            wait_until(lambda: not harlix_processes(self.process.pid), what="Harlix ending with the desktop")

    def image(self, udid):
        """The folder of attached device `udid`'s image."""
        return Path(hlx_device.image_folder(udid, root=self.lab.root))

    def shown_page(self):
        """The note of the feature page that shows (the table stand-ins show it in a static control over the
        empty table)."""
        code, out = self.display.probe("shown", "TrevaneMainFrame", "Static")
        self.assertEqual(code, 0)
        return [l for l in out.splitlines() if l]

    def container(self):
        """(x, y, width, height) on the screen of the device page's container, where the summary shows."""
        code, out = self.display.probe("children", "TrevaneMainFrame", "YestalPageContainer")
        self.assertEqual(code, 0)
        return tuple(map(int, out.split()[1:5]))

    def storage_bar_gaps(self, shot, box):
        """Where the summary's storage bar (30 pixels in from each side, its first share blue) has gaps across the
        container `box` of the screenshot, parts left from an earlier width; empty when it runs whole."""
        x, y, width, height = box

        def row(top, left, count):
            out = subprocess.run(["convert", str(shot), "-crop", f"{count}x1+{left}+{top}", "+repage", "-depth", "8",
                                  "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
            return re.findall(r"#([0-9A-F]{6})", out.upper())

        column = subprocess.run(["convert", str(shot), "-crop", f"1x{height}+{x + 31}+{y}", "+repage", "-depth", "8",
                                 "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
        tops = [i for i, colour in enumerate(re.findall(r"#([0-9A-F]{6})", column.upper())) if colour == "3A8EE6"]
        if not tops:
            return ["no storage bar"]
        bar = row(y + min(tops) + 9, x + 30, width - 60)
        return [i for i, colour in enumerate(bar) if colour == "FFFFFF"]

    def choose_section(self, index):
        """Clicks the section list's entry `index` (rows of 30 pixels)."""
        self.assertEqual(self.display.probe("click", "TrevaneMainFrame", "QuarnelSectionList", "60",
                                            str(index * 30 + 15))[0], 0)

    def wait_cells(self, view_class, complete, what, window="TrevaneMainFrame"):
        """The items of the showing page's list or tree view (in the visible top-level window of class
        `window`), as the view itself holds them, once `complete` holds for them; a time-out says what the view
        last held."""
        last = []

        def read():
            code, out = self.display.probe("cells", window, view_class)
            last[:] = out.splitlines() if code == 0 else []
            return list(last) if complete(last) else None
        try:
            return wait_until(read, what=what)
        except AssertionError as timeout:
            raise AssertionError(f"{timeout}; the view held:\n" + "\n".join(last)) from None

    def export_checked(self, row, folder):
        """Checks the row of the showing list, presses Export and chooses `folder` (a Windows path) in the
        host's folder question."""
        self.assertEqual(self.display.probe("check-rows", "TrevaneMainFrame", str(row))[0], 0)
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Export")[0], 0)
        self.assertEqual(self.display.probe("choose-folder", folder, DEADLINE_S * 1000)[0], 0)

    def open_notice(self, text):
        """The host's notice sheet's (x, y, width, height) once it is fully open with `text`."""
        def shown():
            code, link = self.display.probe("text", "#32770", "SysLink")
            if code != 0 or text not in link:
                return None
            code, out = self.display.probe("wait", "#32770", "1000")
            place = tuple(map(int, out.split())) if code == 0 else ()
            return place if place and place[3] == 40 else None
        return wait_until(shown, what=f"the notice {text!r}")

    def export_from_page(self, button, item, feature, code):
        """Chooses menu `item` of the page's `button`, takes the folder the folder question offers and returns
        the export's file once the relay has written it (the folder is the relay's trace of the request)."""
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", button)[0], 0)
        self.assertEqual(self.display.probe("menu", str(item), "10000")[0], 0)
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
        self.display.screenshot(f"export-{feature}-{code}-folder.png")
        self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)
        line = self.wait_trace(rf"^ZERITH_COMMAND_DO_{feature} code={code} .*folder=", f"the {feature} export")
        folder = line.split("folder=", 1)[1]
        self.assertTrue(folder.startswith("C:\\") or folder.startswith("Z:\\"), folder)
        root = Path(ARGS.prefix) / "drive_c" if folder.startswith("C:") else Path("/")
        path = root.joinpath(*folder[3:].split("\\"))
        name = {61: "Notes.html", 60: "Notes.xml", 102: "Bookmarks.html", 103: "Bookmarks.xml"}[code]
        self.exports.append(path / name)
        return wait_until(lambda: (path / name).exists() and (path / name), what=f"{name} written")

    def import_file(self, path, shot):
        """Answers the open-file question with `path`."""
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
        self.assertEqual(self.display.probe("type", windows_path(path), "10000")[0], 0)
        self.display.screenshot(shot)
        self.assertEqual(self.display.probe("press", "Open", "10000")[0], 0)

    def serve(self, folder):
        """Serves `folder` over HTTP on loopback until the test ends; the server's address."""
        import hlx_lab
        server = hlx_lab.serve_folder(folder)
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        return "http://127.0.0.1:%d" % server.server_address[1]

    def set_option(self, key, value):
        """Sets `key` ("url:update", "product:type": its group, a colon, its name) in the app's Option.json."""
        group, name = key.split(":", 1)
        options = json.loads((self.app / "Option.json").read_text())
        options.setdefault(group, {})[name] = value
        (self.app / "Option.json").write_text(json.dumps(options))

    def run_backup_probe(self, udids, config, detach=None, **probe_env):
        """Starts Trevane with the backup probe (backup_probe.cpp) and the service's configuration folder
        `config`, tells the probe to begin once the devices `udids` are connected, takes the screenshots it
        asks for, detaches the device `detach` maps a name to when it asks, and returns its report's lines
        once it has written "done"; no line may be a failure."""
        probe_dir = self.app / "plugins" / "BackupProbe"
        probe_dir.mkdir()
        shutil.copy(ARGS.backup_probe, probe_dir / "libBackupProbe.dll")
        report = self.work / "backup-report.txt"
        self.start_trevane(TREVANE_PROBE_REPORT=windows_path(report), XDG_CONFIG_HOME=str(config), **probe_env)
        for udid in udids:
            self.wait_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={udid}", "the device connected")
        Path(f"{report}.open.done").write_text("")

        def serve():
            lines = report.read_text().splitlines() if report.exists() else []
            for line in lines:
                if line.startswith("shot ") and not Path(f"{report}.{line[5:]}.done").exists():
                    self.display.screenshot(line[5:])
                    Path(f"{report}.{line[5:]}.done").write_text("")
                if line.startswith("detach ") and detach and line[7:] in detach:
                    self.lab.detach(detach.pop(line[7:]))
            return lines if lines and lines[-1] == "done" else None

        lines = wait_until(serve, timeout_s=480, what="the backup probe's report")
        backup_trace = [l for l in self.trace_lines() if "BACKUP" in l][:40]
        self.assertEqual([l for l in lines if l.startswith("FAIL")], [], "\n".join(lines + backup_trace))
        return lines


class RelayServiceScenario(RelayHarness):
    """The relay's own scenarios: devices, sections, pages, exports, the service's loss, updates, drivers, backups."""

    def test_device_arrives_and_leaves_and_the_service_ends_with_the_desktop(self):
        udid = self.lab.attach(self.lab.make())
        self.start_trevane()

        self.wait_trace(r"^ZERITH_COMMAND_START_SERVER ", "the server start")
        harlix = wait_until(lambda: harlix_processes(self.process.pid), what="Harlix started by the relay")
        self.assertEqual(len(harlix), 1)
        cmdline = Path(f"/proc/{harlix[0]}/cmdline").read_bytes().split(b"\0")
        self.assertEqual(cmdline[2], str(self.process.pid).encode(), "Harlix watches the desktop's Linux pid")

        self.wait_trace(rf"^> ZERITH_COMMAND_DEVICE_CONNECTED key={udid} ProductType=iPhone",
                        "the device announced to the host")
        self.wait_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={udid}", "the connection finished")
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.display.screenshot("relay-service-device.png")

        # A second iPhone: the host asks the relay whether the title bar's current device (the first one) is
        # still connected; the relay says it is, so the title bar stays on it.
        second = self.lab.attach(self.lab.make())
        self.wait_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={second}", "the second device connected")
        self.wait_trace(rf"^ZERITH_COMMAND_IS_DEVICE_CONNECTED .*key={udid}", "the connected check of the first")
        self.assertFalse([l for l in self.trace_lines() if l.startswith("ZERITH_COMMAND_CHANGE_DEVICE")])

        # Each device is named by its own name once the relay has its basic information.
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=Zoë's iPhone$", "the device's name")

        self.lab.detach(udid)
        self.wait_trace(rf"^> ZERITH_COMMAND_DEVICE_DISCONNECT key={udid}", "the device's removal relayed")
        # The host's listener hands the removal back to the relay's own handler, and the title bar lets go of
        # the device: the second one becomes current, as if the user had switched to it.
        self.wait_trace(r"^ZERITH_COMMAND_DEVICE_DISCONNECT ", "the host's disconnect round trip")
        self.wait_trace(rf"^ZERITH_COMMAND_CHANGE_DEVICE .*key={second}", "the title bar on the second device")
        self.display.screenshot("relay-service-detached.png")

        # A third iPhone: the question is now about the second device, which is still there.
        third = self.lab.attach(self.lab.make())
        self.wait_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={third}", "the third device connected")
        self.wait_trace(rf"^ZERITH_COMMAND_IS_DEVICE_CONNECTED .*key={second}", "the connected check of the second")
        self.assertFalse([l for l in self.trace_lines() if re.match(rf"^ZERITH_COMMAND_CHANGE_DEVICE .*key={third}", l)])

        self.close_trevane(harlix_ends=True)

    def test_each_section_shows_what_the_service_sent_for_the_current_device(self):
        first = self.lab.attach(self.lab.make(apps=3, media={"family": "ios5"}))
        self.start_with_device(first)

        # Apps: the service's list of the three user apps, counted for the section list.
        self.choose_section(21)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_APP key={first} code=51 value2=0 value3=3$", "the apps counted")
        apps = self.wait_cells("SysListView32", lambda rows: len(rows) == 3, "three apps shown")
        self.display.screenshot("sections-apps.png")
        # The summary: the device's name, model, iOS version and capacity, and no feature page over it.
        self.choose_section(0)
        wait_until(lambda: self.display.probe("cells", "TrevaneMainFrame", "SysListView32")[0] == 1 or None,
                   what="the feature pages hidden for the summary")
        self.display.screenshot("sections-summary.png")
        # Maximised and restored, the summary is drawn once, at the new width: its storage bar spans the page.
        opened = self.container()
        for shot in ("sections-summary-maximised.png", "sections-summary-restored.png"):
            before = self.container()
            self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "\u25A1")[0], 0)
            wait_until(lambda: self.container()[2] != before[2] or None, what="the frame's new size")
            # The new size is painted after it is set: the screen is read until the bar is whole, and a bar
            # left with a strip of its old width is a failure at the deadline.
            name = shot
            shot = wait_until(lambda: (lambda path: None if self.storage_bar_gaps(path, self.container()) else path)(
                self.display.screenshot(name)), what=f"the storage bar drawn whole in {name}")
            # The title bar's band between the device's name and the buttons on the right is all band: no
            # edge of the window's earlier shape is left in it.
            x, y, width, _ = map(int, self.display.probe("wait", "TrevaneMainFrame", "10000")[1].split())
            band = subprocess.run(["convert", str(shot), "-crop", f"{width - 600}x1+{x + 400}+{y + 60}", "+repage",
                                   "-depth", "8", "txt:-"], capture_output=True, text=True, check=True,
                                  timeout=60).stdout
            self.assertEqual(set(re.findall(r"#([0-9A-F]{6})", band.upper())), {"3A8EE6"}, shot)
        self.assertEqual(self.container(), opened)
        # Messages of an image without a messages database: the page says what the service answered.
        self.choose_section(3)
        answer = r"ZERITH_COMMAND_DO_SMS key=\S+ code=24 value2=(\d+)"
        code = re.search(answer, self.wait_trace("^> " + answer, "section 3 answered")).group(1)
        self.assertNotEqual(code, "0", "the image has no messages database")
        # ... in words, not as the bare number.
        shown = wait_until(lambda: (lambda rows: rows if len(rows) == 1 and rows[0].startswith("Not available: ")
                                    else None)(self.shown_page()), what="section 3 showing why it is empty")
        self.assertNotIn(code, shown[0], "the reason in words, not the code")
        self.assertIn("this section", shown[0])
        # Movies: the media library's movie section, counted and listed.
        self.choose_section(13)
        count = self.wait_trace(r"^> ZERITH_COMMAND_DO_VIDEO key=\S+ code=85 value2=0 value3=(\d+)$", "movies counted")
        movies = int(count.rsplit("=", 1)[1])
        self.assertGreater(movies, 0)
        self.wait_cells("SysListView32", lambda rows: len(rows) == movies, "section 13 showing the movies")
        self.display.screenshot("sections-page-switch.png")

        # A second device joins; when the first leaves, its sheet shows and the title bar moves on to the
        # second, whose own apps the section then lists.
        second = self.lab.attach(self.lab.make(apps=5))
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={second} name=", "the second device named")
        self.lab.detach(first)
        self.wait_trace(rf"^ZERITH_COMMAND_CHANGE_DEVICE .*key={second}", "the title bar on the second device")
        self.display.screenshot("sections-device-left.png")
        self.choose_section(21)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_APP key={second} code=51 value2=0 value3=5$", "the second's apps")
        second_apps = self.wait_cells("SysListView32", lambda rows: len(rows) == 5, "the second device's five apps")
        self.assertNotEqual(second_apps[:3], apps)
        self.close_trevane()

    def test_renaming_from_the_title_bar_renames_the_device(self):
        udid = self.lab.attach(self.lab.make())
        self.start_with_device(udid)
        shown = lambda: self.display.probe("text", "TrevaneMainFrame", "LunderTitleBar")[1].strip()
        wait_until(lambda: shown() == "Zoë's iPhone" or None, what="the title bar showing the device's name")

        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Rename")[0], 0)
        code, text = self.display.probe("dialog-text", DEADLINE_S * 1000)
        self.assertEqual(code, 0)
        self.assertEqual(text.splitlines()[-2:], ["OK", "Cancel"])  # the label "Name:" is drawn
        self.assertEqual(self.display.probe("type", "  Kitchen Phone ", 10000)[0], 0)
        self.display.screenshot("rename-asked.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)

        self.wait_trace(rf"^ZERITH_COMMAND_DO_BASICINFO code=135 .*key={udid}$", "the rename relayed")
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_BASICINFO key={udid} code=135", "the service's rename answered")
        lockdown = self.image(udid) / "lockdown.plist"
        self.assertEqual(plistlib.loads(lockdown.read_bytes())[""]["DeviceName"], "Kitchen Phone")
        wait_until(lambda: shown() == "Kitchen Phone" or None, what="the title bar showing the new name")
        self.display.screenshot("rename-done.png")
        self.close_trevane(harlix_ends=True)

    def test_the_notes_and_bookmarks_pages_show_the_images_records(self):
        udid = self.lab.attach(self.lab.make())
        image = self.image(udid)
        notes = plistlib.loads((image / "notes.plist").read_bytes())["records"].values()
        marks = plistlib.loads((image / "bookmarks.plist").read_bytes())["records"].values()
        subjects = {n["subject"] for n in notes}
        names = {m["name"] for m in marks}
        self.start_with_device(udid)

        self.choose_section(4)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_NOTE key={udid} code=57 .*value3={len(subjects)}$", "the notes counted")
        rows = self.wait_cells("SysListView32", lambda r: len(r) == len(subjects), "the notes listed")
        self.display.screenshot("pages-notes.png")
        shown = {cell for row in rows for cell in row.split("\t")}
        self.assertEqual(subjects - shown, set(), "\n".join(rows))

        self.choose_section(6)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_BOOKMARK key={udid} code=100 ", "the bookmarks counted")
        # A tree item holds the name and the address, separated by a tab.
        items = self.wait_cells("SysTreeView32", lambda t: names <= {i.split("\t")[0].strip() for i in t},
                                "the bookmark tree")
        top = [i.split("\t")[0] for i in items if not i.startswith(" ")]
        self.assertEqual(sorted(top), sorted(["Favourites \u2605", "Menu & <more>", "Top"]), "\n".join(items))
        under = items[items.index("Favourites \u2605\t") + 1:]
        self.assertIn("  Nested\t", under, "a folder's children sit under it")
        self.assertIn("  Fav 0\thttps://example.com/fav/0", under)
        self.display.screenshot("pages-bookmarks.png")
        self.close_trevane()

    def test_the_voice_memo_and_ringtone_pages_list_and_export_the_images_files(self):
        import make_media_data
        udid = self.lab.attach(self.lab.make(media={"family": "ios5"}))
        fs = self.image(udid) / "fs"
        # The memos as the recordings database holds them, oldest first; an unnamed one by its file's name.
        db = sqlite3.connect(f"file:{fs / 'Recordings/Recordings.db'}?immutable=1", uri=True)
        memos = []
        for path, label in db.execute("select ZPATH, ZCUSTOMLABEL from ZRECORDING where ZDURATION >= 0 and"
                                      " ZPATH is not null order by ZDATE asc"):
            if "/Recordings/" in path:
                path = path[path.index("/Recordings/"):]
                memos.append((label or Path(path).stem, path))
        db.close()
        # The ringtones of the iTunes database: .m4r tracks outside the music folders, by track id.
        walked = make_media_data.walk_itunes_db((fs / make_media_data.ITUNES / "iTunesCDB").read_bytes())
        tracks = {t["id"]: t for t in walked["tracks"]}
        tones = {}
        for tid in (tid for ids in walked["playlists"] for tid in ids if tid in tracks):
            strings = tracks[tid]["strings"]
            if tracks[tid]["type"].replace(" ", "").lower() == "m4r" and "Music" not in strings.get(2, ""):
                tones.setdefault(tid, (strings.get(1, ""), strings[2].replace(":", "/")))
        tones = [tones[tid] for tid in sorted(tones)]
        self.assertTrue(memos and tones)
        self.start_with_device(udid)

        # Each page lists its files with their titles as the image has them, and one of them is exported byte for
        # byte: a voice memo (by its name) into a folder on Z:, a ringtone into a folder on drive C:, which the
        # relay names to the service through Wine.
        tone_folder = Path(ARGS.prefix) / "drive_c" / f"{self.work.name}-tones"
        self.addCleanup(shutil.rmtree, tone_folder, ignore_errors=True)
        cases = [(10, "RECORDING", 82, memos, "pages-voice-memos.png", self.work / "memo export", None, ".m4a"),
                 (11, "RINGTONE", 79, tones, "pages-ringtones.png", tone_folder, "C:\\" + tone_folder.name, None)]
        for exports, (section, feature, code, entries, shot, folder, shown_as, suffix) in enumerate(cases, 1):
            self.choose_section(section)
            self.wait_trace(rf"^> ZERITH_COMMAND_DO_{feature} key={udid} code={code} .*value3={len(entries)}$",
                            f"the {feature} page counted")
            rows = self.wait_cells("SysListView32", lambda r: len(r) == len(entries), f"the {feature} page listed")
            self.assertEqual([r.split("\t")[1] for r in rows], [title for title, _ in entries], "\n".join(rows))
            self.display.screenshot(shot)
            row = next(i for i, (_, path) in enumerate(entries) if (fs / path.lstrip("/")).exists())
            folder.mkdir()
            self.export_checked(row, shown_as or windows_path(folder))
            wait_until(lambda: self.count_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3=1$")
                       == exports, what=f"the {feature} file exported")
            exported = list(folder.iterdir())
            file_trace = "\n".join(l for l in self.trace_lines() if "DO_FILE" in l)
            if suffix:
                self.assertEqual([p.name for p in exported], [entries[row][0] + suffix], file_trace)
            self.assertEqual(len(exported), 1, file_trace)
            self.assertEqual(exported[0].read_bytes(), (fs / entries[row][1].lstrip("/")).read_bytes())
        self.close_trevane()

    def test_a_note_and_bookmarks_added_on_the_pages_land_in_the_image_and_exports_match_it(self):
        import html.parser
        import xml.etree.ElementTree as ET
        # Adding notes is offered below iOS 10 only.
        udid = self.lab.attach(self.lab.make(product_version="9.3.5"))
        image = self.image(udid)
        read_records = lambda name: plistlib.loads((image / name).read_bytes())["records"]
        sync_entity = "com.apple.syncservices.RecordEntityName"
        self.exports = []
        for stale in ("Notes.html", "Notes.xml", "Bookmarks.html", "Bookmarks.xml"):
            for old in (Path(ARGS.prefix) / "drive_c" / "users").glob(f"*/*/{stale}"):
                old.unlink()
        self.start_with_device(udid)

        # A note typed into the host's question lands in the image and at the top of the page.
        notes = len(read_records("notes.plist"))
        self.choose_section(4)
        self.wait_cells("SysListView32", lambda r: len(r) == notes, "the notes listed")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "New")[0], 0)
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
        self.assertEqual(self.display.probe("type", "Groceries & <more>", "10000")[0], 0)
        self.display.screenshot("notes-new-asked.png")
        self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_NOTE key={udid} code=59 value2=0 value3={notes + 1}$|"
                        rf"^> ZERITH_COMMAND_DO_NOTE key={udid} code=59 value2={notes + 1}", "the note saved")
        subjects = [r.get("subject") for r in read_records("notes.plist").values()]
        self.assertIn("Groceries & <more>", subjects)
        rows = self.wait_cells("SysListView32", lambda r: len(r) == notes + 1, "the new note listed")
        self.assertTrue(rows[0].split("\t")[1].startswith("Groceries & <more>"), rows[0])
        self.display.screenshot("notes-added.png")

        # The notes exported as HTML and as XML hold the image's notes.
        records = read_records("notes.plist").values()
        # Every note checked by the list header's box.
        self.assertEqual(self.display.probe("click", "TrevaneMainFrame", "SysHeader32", "10", "10")[0], 0)
        html_file = self.export_from_page("Export", 1, "NOTE", 61)

        class Cells(html.parser.HTMLParser):
            def __init__(self):
                super().__init__()
                self.rows, self.cell = [], None

            def handle_starttag(self, tag, attrs):
                if tag == "tr":
                    self.rows.append([])
                elif tag == "td":
                    self.cell = ""
                elif tag == "br" and self.cell is not None:
                    self.cell += "\n"

            def handle_endtag(self, tag):
                if tag == "td":
                    self.rows[-1].append(self.cell)
                    self.cell = None

            def handle_data(self, data):
                if self.cell is not None:
                    self.cell += data

        parser = Cells()
        parser.feed(html_file.read_text(encoding="utf-8"))
        exported = sorted((row[0], row[1]) for row in parser.rows if row)
        self.assertEqual(exported, sorted((r.get("subject", ""), r.get("content", "")) for r in records))
        xml_file = self.export_from_page("Export", 2, "NOTE", 60)
        root = ET.parse(xml_file).getroot()
        self.assertEqual(sorted(n.findtext("title") for n in root), sorted(r.get("subject", "") for r in records))

        # A notes backup imported: its notes are added to the image and to the page.
        backup = self.work / "import-notes.xml"
        backup.write_text('<?xml version="1.0" encoding="UTF-8"?>\n<notesBackup version="1"><note><title>From a file'
                          '</title><content>first &amp; only</content><time/></note></notesBackup>\n', encoding="utf-8")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Import")[0], 0)
        self.import_file(backup, "notes-import-asked.png")
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_NOTE key={udid} code=62 value2={notes + 2}", "the note imported")
        self.assertIn(("From a file", "first & only"),
                      {(r.get("subject"), r.get("content")) for r in read_records("notes.plist").values()})
        self.wait_cells("SysListView32", lambda r: len(r) == notes + 2 and r[0].split("\t")[1] == "From a file",
                        "the imported note listed first")
        self.display.screenshot("notes-imported.png")

        # A folder with two pages, made on the bookmarks page, lands in the image.
        self.choose_section(6)
        marks = read_records("bookmarks.plist")
        # Counted as the image holds them: a bookmark in two folders is one bookmark.
        page_count = sum(1 for r in marks.values() if r[sync_entity] == "com.apple.bookmarks.Bookmark")
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_BOOKMARK key={udid} code=100 value2=0 value3={page_count}$",
                        "the bookmarks counted")
        self.wait_cells("SysTreeView32", lambda t: len(t) >= 3, "the bookmark tree")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "New")[0], 0)
        self.assertEqual(self.display.probe("menu", "3", "10000")[0], 0)  # "Add root folder" (after a separator)
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
        self.assertEqual(self.display.probe("type", "Trip", "10000")[0], 0)
        self.display.screenshot("bookmarks-folder-asked.png")
        self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)
        items = self.wait_cells("SysTreeView32", lambda t: "Trip\t" in t, "the new folder listed")
        self.display.screenshot("bookmarks-folder-added.png")
        marks = read_records("bookmarks.plist")
        [trip] = [key for key, r in marks.items() if r.get("name") == "Trip"]
        for name, url in (("Rail & <sea>", "https://rail.example/?a=1&b=2"), ("Hotel", "https://hotel.example/")):
            self.assertEqual(self.display.probe("select", "TrevaneMainFrame", "Trip")[0], 0)
            self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "New")[0], 0)
            self.assertEqual(self.display.probe("menu", "2", "10000")[0], 0)  # "Add page" inside the selection
            self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
            self.assertEqual(self.display.probe("type", name, "10000", "1")[0], 0)
            self.assertEqual(self.display.probe("type", url, "10000", "2")[0], 0)
            self.display.screenshot("bookmarks-page-asked.png")
            self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)
            self.wait_cells("SysTreeView32", lambda t: f"  {name}\t{url}" in t, f"{name} listed in its folder")
        self.display.screenshot("bookmarks-pages-added.png")
        marks = read_records("bookmarks.plist")
        inside = sorted((r["name"], r["url"]) for r in marks.values() if r.get("parent") == [trip])
        self.assertEqual(inside, [("Hotel", "https://hotel.example/"), ("Rail & <sea>", "https://rail.example/?a=1&b=2")])

        # Every entry checked by the tree header's box and exported: the files hold the image's records.
        self.assertEqual(self.display.probe("click", "TrevaneMainFrame", "SysHeader32", "10", "10")[0], 0)
        self.display.screenshot("bookmarks-all-checked.png")
        pages = {(r["name"], r["url"]) for r in marks.values() if r[sync_entity] == "com.apple.bookmarks.Bookmark"}
        folders = {r["name"] for r in marks.values() if r[sync_entity] == "com.apple.bookmarks.Folder"}

        class Links(html.parser.HTMLParser):
            def __init__(self):
                super().__init__()
                self.links, self.folders, self.href, self.tag = set(), set(), None, None

            def handle_starttag(self, tag, attrs):
                self.tag, self.href = tag, dict(attrs).get("href", self.href)

            def handle_data(self, data):
                if self.tag == "a":
                    self.links.add((data, self.href))
                elif self.tag == "strong":
                    self.folders.add(data)

            def handle_endtag(self, tag):
                self.tag = None

        links = Links()
        links.feed(self.export_from_page("Export", 1, "BOOKMARK", 102).read_text(encoding="utf-8"))
        self.assertEqual((links.links, links.folders), (pages, folders))
        tree = ET.parse(self.export_from_page("Export", 2, "BOOKMARK", 103)).getroot()
        self.assertEqual({(b.get("name"), b.get("url")) for b in tree.iter("bookmark")}, pages)
        self.assertEqual({f.get("name") for f in tree.iter("folder")}, folders)
        self.assertIn(("Rail & <sea>", "https://rail.example/?a=1&b=2"),
                      {(b.get("name"), b.get("url")) for f in tree.iter("folder") if f.get("name") == "Trip" for b in f})
        self.display.screenshot("bookmarks-exported.png")

        # A bookmarks backup imported into the tree: what the tree has is not added again.
        backup = self.work / "import-bookmarks.xml"
        backup.write_text('<?xml version="1.0" encoding="UTF-8"?>\n<bookmarksBackup version="1">'
                          '<folder name="Trip"><bookmark name="Hotel" url="https://hotel.example/"/>'
                          '<bookmark name="Museum" url="https://museum.example/"/></folder>'
                          '<bookmark name="Imported" url="https://imported.example/"/></bookmarksBackup>\n',
                          encoding="utf-8")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Import")[0], 0)
        self.assertEqual(self.display.probe("menu", "1", "10000")[0], 0)
        self.import_file(backup, "bookmarks-import-asked.png")
        self.wait_cells("SysTreeView32", lambda t: "Imported\thttps://imported.example/" in t, "the import listed")
        self.display.screenshot("bookmarks-imported.png")
        after = read_records("bookmarks.plist")
        self.assertEqual(sorted(r["name"] for r in after.values() if r.get("parent") == [trip]),
                         ["Hotel", "Museum", "Rail & <sea>"])
        self.assertEqual(len(after), len(marks) + 2, "only Museum and Imported are new")

        # The imported page checked by its box and deleted: it leaves the image and the tree.
        code, label = self.display.probe("select", "TrevaneMainFrame", "Imported")
        self.assertEqual(code, 0)
        left, top, _, bottom = map(int, label.split())
        self.assertEqual(self.display.probe("click", "TrevaneMainFrame", "SysTreeView32", str(left + 6),
                                            str((top + bottom) // 2))[0], 0)
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Delete")[0], 0)
        self.assertEqual(self.display.probe("dialog-text", "10000")[0], 0)
        self.display.screenshot("bookmarks-delete-asked.png")
        self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_BOOKMARK key={udid} code=105 value2={page_count + 3} ", "the page deleted")
        self.wait_cells("SysTreeView32", lambda t: not any(i.startswith("Imported\t") for i in t), "the page gone")
        self.assertNotIn("Imported", {r.get("name") for r in read_records("bookmarks.plist").values()})
        self.display.screenshot("bookmarks-deleted.png")
        for path in self.exports:
            path.unlink()
        self.close_trevane()

    def test_a_lost_service_is_reported_and_started_again_with_its_devices(self):
        udid = self.lab.attach(self.lab.make())
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={udid}", "the device connected")
        first = wait_until(lambda: harlix_processes(self.process.pid), what="Harlix started by the relay")
        os.kill(first[0], signal.SIGKILL)
        self.wait_trace(rf"^> ZERITH_COMMAND_DEVICE_DISCONNECT key={udid}", "the device leaving with the service")
        self.wait_trace(r"^> ZERITH_COMMAND_SERVER_CRASH status=0$", "the lost service reported")
        # The host shows its notice and hands the report back; the relay starts the service again, which
        # finds the device again.
        self.wait_trace(r"^ZERITH_COMMAND_READY_START_SERVER code=0 status=0$", "the host's acknowledgement")
        wait_until(lambda: self.count_trace(rf"^> ZERITH_COMMAND_FINISH_CONNECT_DEVICE key={udid}") == 2,
                   what="the device connected through the new service")
        second = harlix_processes(self.process.pid)
        self.assertEqual(len(second), 1)
        self.assertNotEqual(second, first)
        self.close_trevane(harlix_ends=True)

    def test_a_service_that_never_connects_is_reported_and_retried_a_few_times(self):
        # A program that ends at once stands for a service that never comes.
        self.start_trevane(TREVANE_HARLIX="/bin/true", TREVANE_CONNECT_TIMEOUT_MS="1000")
        wait_until(lambda: self.count_trace(r"^ZERITH_COMMAND_READY_START_SERVER code=0 status=0$") == 4,
                   what="four reports of a service that did not come, each acknowledged")
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", "10000")[0], 0)
        self.assertEqual(self.count_trace(r"^> ZERITH_COMMAND_SERVER_CRASH status=0$"), 4)
        self.assertEqual(self.count_trace(r"^> ZERITH_COMMAND_START_LOAD_ITUNES_DLL$"), 4, "the first start and three more")
        self.assertEqual(self.count_trace(r"^> ZERITH_COMMAND_READY_START_SERVER status=1$"), 0)
        self.close_trevane()

    def test_the_update_check_finds_a_new_version_and_its_installer_is_downloaded_and_run(self):
        import json
        www = self.work / "www"
        www.mkdir()
        shutil.copy(ARGS.winprobe, www / "Setup-2.7.0.exe")  # a program that ends at once stands in
        address = self.serve(www)
        (www / "feed.json").write_text(json.dumps({"installer": address + "/Setup-2.7.0.exe", "versions": [
            {"version": "2.7.0", "notes": ["Backups of several devices at once.", "Faster contact lists."]},
            {"version": "2.6.21", "notes": ["The running version."]}]}))
        self.set_option("url:update", address + "/feed.json")
        self.start_trevane()

        # The first check runs by itself; a new version is announced in the notice sheet.
        self.wait_trace(r"^> ZERITH_COMMAND_CHECK_FOR_UPDATE .*status=1 .*value2=1$", "the check's answer")
        sheet = lambda: next((t for c, t in [self.display.probe("text", "#32770", "SysLink")]
                              if c == 0 and "A new version of (2.7.0) is available." in t), None)
        wait_until(sheet, what="the new-version notice")
        self.display.screenshot("update-notice.png")
        self.assertEqual(self.display.probe("click", "#32770", "SysLink", "30", "10")[0], 0)
        notes = lambda: next((t for c, t in [self.display.probe("dialog-text", 1000)]
                              if c == 0 and "Update Now" in t), None)
        wait_until(notes, what="the update list")
        self.display.screenshot("update-list-from-feed.png")

        # Update Now: the installer is downloaded whole, the service stops, the installer runs and the
        # desktop closes for it.
        self.assertEqual(self.display.probe("press", "Update Now", 10000)[0], 0)
        done = self.wait_trace(r"^> ZERITH_COMMAND_DOWNLOAD_UPDATE .*status=0 ", "the download finished")
        self.wait_trace(r"^ZERITH_COMMAND_EXIT_SERVER ", "the service asked to stop")
        self.process.wait(timeout=DEADLINE_S)
        progress = [l for l in self.trace_lines() if re.match(r"^> ZERITH_COMMAND_DOWNLOAD_UPDATE .*status=2 ", l)]
        size = (www / "Setup-2.7.0.exe").stat().st_size
        self.assertTrue(all(re.search(r"value3=%d " % size, l) for l in progress), progress)
        self.assertTrue(done)

    def test_driver_installation_from_the_host_runs_in_the_service_and_answers_its_dialogs(self):
        # A PC whose device library does not load: the host asks for the driver at the address of its
        # Option.json, which a local server answers; the installer and store query are stand-ins.
        import hashlib, json
        www = self.work / "www"
        for i, name in enumerate(["AppleApplicationSupport.msi", "AppleApplicationSupport64.msi",
                                  "AppleMobileDeviceSupport64.msi"]):
            package = www / "drivers" / "x64" / name
            package.parent.mkdir(parents=True, exist_ok=True)
            package.write_bytes(os.urandom(300000 + i))
            Path(str(package) + ".txt").write_text(hashlib.md5(package.read_bytes()).hexdigest())
        self.set_option("url:ios-driver", self.serve(www) + "/drivers")
        system = self.work / "system"
        (system / "wbem").mkdir(parents=True)
        standin = Path(ARGS.tools) / "installer_standin.py"
        (system / "msiexec.exe").symlink_to(standin)
        (system / "wbem" / "WMIC.exe").symlink_to(standin)
        control, log = self.work / "standin.json", self.work / "standin.log"
        control.write_text(json.dumps({"output": "", "exit": 0}))
        self.start_trevane(HLX_REGISTRY_FILE=str(self.work / "none.ini"), HLX_SYSTEM_FOLDER=str(system),
                           HLX_STANDIN_CONTROL=str(control), HLX_STANDIN_LOG=str(log))

        self.wait_trace(r"^> ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL .*status=9$", "the device library failing")
        self.wait_trace(r"^ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER ", "the host asking for the driver")
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER .*status=0 value3=100 value4=100 ", "all downloaded")
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_INSTALL_DRIVER .*status=0 value3=3 value4=3 ", "all installed")
        # The device library still does not load here: the user is told so in the progress dialog.
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_START_ITUNES_DLL .*status=9 ", "the device library started again")
        installed = [json.loads(line) for line in log.read_text().splitlines()]
        self.assertEqual([(a[0], os.path.basename(a[2])) for a in installed],
                         [("msiexec.exe", n) for n in ["AppleApplicationSupport.msi", "AppleApplicationSupport64.msi",
                                                       "AppleMobileDeviceSupport64.msi"]])
        code, text = self.display.probe("dialog-text", DEADLINE_S * 1000)
        self.assertEqual(code, 0)
        self.assertIn("OK", text.splitlines())
        self.display.screenshot("driver-installed.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)

        # Again with an installer that fails and the store edition installed: the host shows the store notice.
        control.write_text(json.dumps({"output": "an error occurred\r\nAppleInc.iTunes_12.0\r\n", "exit": 0}))
        os.kill(harlix_processes(self.process.pid)[0], signal.SIGKILL)
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED .*status=2 ", "the store edition reported")
        self.wait_trace(r"^> ZERITH_COMMAND_RECV_INSTALL_DRIVER .*status=51 ", "the failed installation")
        notice = lambda: next((t for c, t in [self.display.probe("dialog-text", 1000)]
                               if c == 0 and "Microsoft Store" in t), None)
        text = wait_until(notice, what="the store notice")
        self.assertIn("<A HREF=\"http://127.0.0.1/solvak/itunes", text)
        self.display.screenshot("driver-store-edition.png")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        self.close_trevane()

    def test_the_contacts_of_a_simulated_iphone(self):
        image = self.lab.make(contacts=249, contact_groups=3)
        rich = add_every_kind_contact(image["path"], sharer="1")  # the 250th
        before = plistlib.loads((Path(image["path"]) / "addressbook.plist").read_bytes())["records"]
        udid = self.lab.attach(image)
        book_path = self.image(udid) / "addressbook.plist"
        probe_dir = self.app / "plugins" / "ContactsProbe"
        probe_dir.mkdir()
        shutil.copy(ARGS.contacts_probe, probe_dir / "libContactsProbe.dll")
        report = self.work / "probe-report.txt"
        self.start_trevane(TREVANE_PROBE_REPORT=windows_path(report), TREVANE_PROBE_SCENARIO="service")

        named = re.compile(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=")
        handled = set()
        records = {}  # the address book as it stood before the device left

        def done(name):
            Path(f"{report}.{name}.done").write_text("")
            handled.add(name)

        def serve():
            lines = report.read_text().splitlines() if report.exists() else []
            for line in lines:
                verb, _, name = line.partition(" ")
                if name in handled:
                    continue
                if verb == "shot":
                    self.display.screenshot(name)
                    done(name)
                elif line == "await device" and any(named.search(l) for l in self.trace_lines()):
                    done(name)
                elif line == "await detached":
                    records.update(plistlib.loads(book_path.read_bytes())["records"])
                    self.lab.detach(udid)
                    done(name)
            return lines if lines and lines[-1] == "done" else None

        lines = wait_until(serve, timeout_s=240, what="the contacts probe's report")
        failures = [l for l in lines if l.startswith("FAIL")]
        contact_trace = [l for l in self.trace_lines() if "ZERITH_COMMAND_DO_CONTACT" in l][:40]
        self.assertEqual(failures, [], "\n".join(lines + contact_trace))
        self.assertEqual(sum(1 for l in lines if l.startswith("ok ")), 5, "\n".join(lines))

        # The saved contact is in the device's address book, with its phone and address as sub-records.
        new = [key for key, r in records.items() if r.get("first name") == "Nina" and r.get("last name") == "Berg"]
        self.assertEqual(len(new), 1, "exactly one saved contact")
        owned = {r["com.apple.syncservices.RecordEntityName"]: r for r in records.values() if new[0] in r.get("contact", [])}
        self.assertEqual(sorted(owned), ["com.apple.contacts.Phone Number", "com.apple.contacts.Street Address"])
        self.assertEqual(owned["com.apple.contacts.Phone Number"]["value"], "555-0100")
        self.assertEqual((owned["com.apple.contacts.Street Address"]["street"],
                          owned["com.apple.contacts.Street Address"]["city"]), ("1 Main St", "Springfield"))
        # The edit of the contact that carries every kind of field changed its middle name and nothing else:
        # every record of the book is as it was, but for that name and the contact saved as new.
        nina = set(new)
        added = nina | {key for key, r in records.items() if nina & set(r.get("contact", []))}
        expected = {key: dict(r) for key, r in before.items()}
        expected[rich]["middle name"] = "Beth"
        after = {key: r for key, r in records.items() if key not in added}
        self.assertEqual(sorted(after), sorted(expected))
        for key in sorted(expected, key=int):
            self.assertEqual(after[key], expected[key], key)
        # The relay named the device by its own name, asked for its contacts once per load and counted them.
        self.assertTrue(any(re.search(rf"^ZERITH_COMMAND_DO_CONTACT code=2 .*key={udid}$", l)
                            for l in self.trace_lines()))
        self.assertTrue(any(re.search(rf"^> ZERITH_COMMAND_DO_CONTACT key={udid} code=0 value2=0 value3=250$", l)
                            for l in self.trace_lines()))

        # Killing the desktop ends the device service it started.
        harlix = harlix_processes(self.process.pid)
        self.assertEqual(len(harlix), 1)
        os.kill(self.process.pid, signal.SIGKILL)
        self.process.wait(timeout=DEADLINE_S)
        wait_until(lambda: not harlix_processes(self.process.pid), what="Harlix ending with the killed desktop")

    def test_backups_made_deleted_and_restored_through_the_dialogs(self):
        # Ada's iPhone encrypts its backups (password "secret"); Bo's does not and is restored onto.
        config = self.work / "config"
        root = config / "Apple Computer" / "MobileSync" / "Backup"
        root.mkdir(parents=True)
        ada_image = self.lab.make(name="Ada's iPhone", seed=11, contacts=5, product_version="17.2")
        (Path(ada_image["path"]) / "backup.json").write_text(json.dumps({"password": "secret"}))
        ada = self.lab.attach(ada_image)
        hlx_device.set_lockdown_value(ada, "WillEncrypt", True, domain="com.apple.mobile.backup", root=self.lab.root)
        bo_image = self.lab.make(name="Bo's iPhone", seed=12, contacts=2)
        bo = self.lab.attach(bo_image)
        # Attached devices live in the lab's device folder.
        ada_folder, bo_folder = (hlx_device.image_folder(udid, root=self.lab.root) for udid in (ada, bo))
        ada_files = backed_up_files(ada_folder)  # Ada's iPhone is detached on the way
        self.assertNotEqual(ada_files, backed_up_files(bo_folder))

        lines = self.run_backup_probe([ada, bo], config, detach={"Ada's iPhone": ada}, TREVANE_PROBE_ROUND="1",
                                      TREVANE_PROBE_DEVICES="Ada's iPhone|Bo's iPhone", TREVANE_PROBE_PASSWORD="secret")
        # The dialog offers the service's default folder.
        self.assertIn("folder " + windows_path(root) + "\\", lines)
        # Both backups are listed, newest first, with the values of their Info.plist.
        rows = [l[4:].split("\t") for l in lines if l.startswith("row ")]
        folders = sorted(root.iterdir())
        self.assertEqual(len(folders), 1, "the deleted backup's folder is gone")
        self.assertEqual(len(rows), 2, "\n".join(lines))
        by_name = {row[0]: row for row in rows}
        info = plistlib.loads((folders[0] / "Info.plist").read_bytes())
        self.assertEqual(info["Target Identifier"], ada)
        local = info["Last Backup Date"].replace(tzinfo=datetime.timezone.utc).astimezone().strftime("%Y-%m-%d %H:%M:%S")
        self.assertEqual([by_name["Ada's iPhone"][i] for i in (1, 3, 4, 5)],
                         [local, f"{info['Product Version']} ({info['Build Version']})", model_name(info["Product Type"]),
                          info["Serial Number"]])
        self.assertIn("Bo's iPhone", by_name)
        self.assertIn("left Ada's iPhone", lines)
        self.assertIn("existing Ada's iPhone", lines, "the new-backup dialog lists the chosen device's backups")
        # Each question was asked: two backups, the deletion, the restore and the encrypted backup's password.
        self.assertEqual([l for l in lines if l.startswith("question ")],
                         ["question backup", "question backup", "question delete", "question restore",
                          "question password with a text box"])
        self.assertIn("restore handed over", lines)
        self.assertIn("ok the chosen device stays chosen", lines)
        # The restore ends with Bo's iPhone holding Ada's data.
        wait_until(lambda: backed_up_files(bo_folder) == ada_files, timeout_s=120,
                   what="the restored device holding the backup's data")
        self.process.kill()
        self.process.wait(timeout=DEADLINE_S)

    def test_the_backup_manager_lists_the_backups_of_this_computer(self):
        # Two backups in the default folder, one encrypted; the service finds them under XDG_CONFIG_HOME.
        config = self.work / "config"
        root = config / "Apple Computer" / "MobileSync" / "Backup"
        made = {"00008101-000a": ("Ada's iPhone", "17.2", "21C62", "iPhone14,2", "SN000A", False,
                                  datetime.datetime(2024, 3, 1, 9, 30)),
                "00008101-000b": ("Bo's iPhone", "16.6", "20G75", "iPhone13,1", "SN000B", True,
                                  datetime.datetime(2024, 5, 2, 18, 0))}
        for udid, (name, version, build, model, serial, encrypted, when) in made.items():
            folder = root / udid
            folder.mkdir(parents=True)
            (folder / "Info.plist").write_bytes(plistlib.dumps({
                "Device Name": name, "Product Version": version, "Build Version": build, "Product Type": model,
                "Serial Number": serial, "Target Identifier": udid.upper(), "Last Backup Date": when}))
            (folder / "Manifest.plist").write_bytes(plistlib.dumps({"IsEncrypted": encrypted}))
            (folder / "Status.plist").write_bytes(plistlib.dumps({"SnapshotState": "finished"}))
            (folder / "Manifest.db").write_bytes(b"x" * 5000)
        udid = self.lab.attach(self.lab.make())
        lines = self.run_backup_probe([udid], config, TREVANE_PROBE_BACKUPS="2")
        rows = [l[4:].split("\t") for l in lines if l.startswith("row ")]
        # Newest first; the values are those of each folder's Info.plist.
        expected = []
        for udid in sorted(made, key=lambda u: made[u][6], reverse=True):
            info = plistlib.loads((root / udid / "Info.plist").read_bytes())
            expected.append([info["Device Name"], info["Last Backup Date"].strftime("%Y-%m-%d %H:%M:%S"),
                             f"{info['Product Version']} ({info['Build Version']})", model_name(info["Product Type"]),
                             info["Serial Number"]])
        self.assertEqual([[r[0], r[1], r[3], r[4], r[5]] for r in rows], expected, "\n".join(lines))
        for row in rows:
            self.assertRegex(row[2], r"^\d+(\.\d\d)? (B|KB|MB)$", "a size text")
        self.process.kill()
        self.process.wait(timeout=DEADLINE_S)


def run_service_scenarios():
    """Parses the arguments of a scenario against the service and the simulated PC (cmake/desktop.cmake passes
    them) and runs the calling script's scenarios."""
    parser = wine_session.scenario_arguments()
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--devices", required=True, help="the staged device library folder")
    parser.add_argument("--tools", required=True, help="the folder of hlx_lab.py")
    parser.add_argument("--contacts-probe", help="the contacts probe module, for the scenarios that load it")
    parser.add_argument("--backup-probe", help="the backup manager probe module, for the scenarios that load it")
    wine_session.run_scenarios(parser)


if __name__ == "__main__":
    run_service_scenarios()
