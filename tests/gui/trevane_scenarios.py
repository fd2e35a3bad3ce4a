#!/usr/bin/env python3
"""Whole-program scenarios of Trevane under Wine on a virtual display.

Each scenario lays out a fresh copy of the built app folder, starts Trevane.exe with the relay stand-in
tracing what the host delivers to it, and checks what a user or the relay relies on: the window and its
place, the pixels it shows (screenshots are kept in --screenshots), the commands the relay receives, what
a probe module saw while it drove the bus from inside the running host (a device arriving, the contacts
section chosen, the frame maximised and restored), the alert shown when the configuration is missing, the
crash report's zip (read with zipfile and `unzip -t`), the log and the saved settings, and the contacts page
served by the relay stand-in's fixture as a user works it (a probe module inside the program drives it and
asks for screenshots, whose pixels are checked here). Windows are found by class or by message-box text with
winprobe.exe; every wait is a poll against a deadline.
"""
import getpass
import json
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import wine_session
from wine_session import ARGS, DEADLINE_S, TrevaneCase, wait_until, windows_path


def pixel(path, x, y):
    """The pixel's colour as "#RRGGBB", read with ImageMagick."""
    out = subprocess.run(["convert", str(path), "-crop", f"1x1+{x}+{y}", "-depth", "8", "-type", "TrueColor",
                          "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
    match = re.search(r"#([0-9A-Fa-f]{6})", out)
    return "#" + match.group(1).upper() if match else out


def darker(colour, than):
    """True when every channel of "#RRGGBB" `colour` is below that of `than`."""
    return all(int(colour[i:i + 2], 16) < int(than[i:i + 2], 16) for i in (1, 3, 5))


def prefix_user_dir():
    users = Path(ARGS.prefix) / "drive_c" / "users"
    for name in (getpass.getuser(), "root"):
        if (users / name).is_dir():
            return users / name
    raise AssertionError("no user folder in the prefix")


def log_root():
    return prefix_user_dir() / "Temp" / "Solvak"


class TrevaneScenarios(TrevaneCase):
    work_prefix = "trevane-scenario-"

    def setUp(self):
        super().setUp()
        self.stdout_path = self.work / "stdout.txt"
        shutil.rmtree(log_root(), ignore_errors=True) if self._has_user_dir() else None

    @staticmethod
    def _has_user_dir():
        try:
            prefix_user_dir()
            return True
        except AssertionError:
            return False

    def start(self, **extra_env):
        env = dict(self.display.env, TREVANE_RELAY_TRACE=windows_path(self.trace), **extra_env)
        self.stdout_file = open(self.stdout_path, "wb")
        self.process = subprocess.Popen(["wine", str(self.app / "Trevane.exe")], env=env, stdout=self.stdout_file,
                                        stderr=subprocess.STDOUT)
        return self.process

    def wait_exit(self, timeout_s=DEADLINE_S):
        code = self.process.wait(timeout=timeout_s)
        self.stdout_file.close()
        return code

    def children(self, child_class):
        """Every window of `child_class` inside the main frame: (visible, x, y, width, height, parent class)."""
        code, out = self.display.probe("children", "TrevaneMainFrame", child_class)
        self.assertEqual(code, 0, "the main frame is not there")
        rows = []
        for line in out.splitlines():
            visible, x, y, w, h, parent = line.split()
            rows.append((visible == "1", int(x), int(y), int(w), int(h), parent))
        return rows

    def test_main_window_relay_traffic_and_orderly_exit(self):
        probe_dir = self.app / "plugins" / "Probe"
        probe_dir.mkdir()
        shutil.copy(ARGS.bus_probe, probe_dir / "libProbe.dll")
        report = self.work / "probe-report.txt"
        self.start(TREVANE_PROBE_REPORT=windows_path(report))
        code, out = self.display.probe("wait", "TrevaneMainFrame", DEADLINE_S * 1000)
        self.assertEqual(code, 0, "the main frame did not appear")
        # The probe module drives the bus from inside the host: a device arrives, Contacts is chosen, the
        # frame is maximised and restored. The frame's geometry is checked once it is done.
        lines = wait_until(lambda: (lambda t: t.splitlines() if t.endswith("done\n") else None)(
            report.read_text() if report.exists() else ""), what="the probe's report")
        self.assertEqual([l for l in lines if not l.startswith("ok ")], ["done"], "\n".join(lines))
        self.assertGreaterEqual(len(lines), 10)

        code, out = self.display.probe("wait", "TrevaneMainFrame", DEADLINE_S * 1000)
        # 900 x 566, centred on the 1920 x 1080 screen; everything below is placed from this frame.
        x, y, w, h = map(int, out.split())
        self.assertEqual((x, y, w, h), (510, 257, 900, 566))
        start = self.wait_trace(r"^ZERITH_COMMAND_START_SERVER ", "the server start")
        self.assertIn("product=Solvak Trevane brand=Solvak version=2.6.21", start)
        code, out = self.display.probe("region", "TrevaneMainFrame")
        self.assertEqual(code, 0)
        left, top, right, bottom = map(int, out.split())
        self.assertEqual((left, top), (0, 0))
        self.assertGreaterEqual(right, w - 2)
        self.assertGreaterEqual(bottom, h - 2)

        # The title bar made the arriving device current: the contacts request carries it as its key, and
        # the relay (which answers nothing, so "not loaded") is asked to load after the query.
        self.wait_trace(r"^ZERITH_COMMAND_DO_CONTACT code=1 status=0 key=probe-device-1$", "the contacts query")
        self.wait_trace(r"^ZERITH_COMMAND_DO_CONTACT code=2 status=0 key=probe-device-1$", "the contacts load")

        (title_bar,) = self.children("LunderTitleBar")
        self.assertEqual(title_bar, (True, x, y, w, 82, "TrevaneMainFrameView"))
        (sections,) = self.children("QuarnelSectionList")
        self.assertEqual(sections[0], True)
        # The view less its rules (2) and the title bar (83); the pages beside the 200-wide section list.
        self.assertEqual(sections[1:5], (x + 1, y + 82, 200, h - 83))
        self.assertEqual(self.children("DhContactsDelegate"),
                         [(True, x + 201, y + 82, w - 202, h - 83, "YestalPageContainer")])
        self.assertEqual(self.children("KestorToolkit")[0][0], False)

        shot = wait_until(lambda: (lambda p: p if pixel(p, 1200, 600) == "#FFFFFF" else None)(
            self.display.screenshot("trevane-main.png")), what="the painted contacts page")
        self.assertEqual(pixel(shot, x, y + 343), "#7F7F7F")   # the view's grey rule on the left
        self.assertEqual(pixel(shot, x + w // 2, y + 5), "#3A8EE6")  # the title bar in the caption colour, left of its buttons
        # The section list's background, left of the scroll bar it shows at this height.
        self.assertEqual(pixel(shot, x + 176, y + h - 10), "#F2F2F2")
        self.assertEqual(pixel(shot, x, y), "#000000")   # cut away by the rounded corner
        # The drop shadow sits 12 pixels down and right behind the frame: only its right and bottom
        # margins show.
        code, out = self.display.probe("wait", "TrevaneThemedShadow", 10000)
        self.assertEqual((code, out.split()), (0, [str(x + 12), str(y + 12), str(w), str(h)]))
        self.assertNotEqual(pixel(shot, x + w + 5, y + h // 2), "#000000")
        self.assertNotEqual(pixel(shot, x + w // 2, y + h + 5), "#000000")
        self.assertEqual(pixel(shot, x + w + 15, y + h // 2), "#000000")

        self.assertEqual(self.display.probe("move", "TrevaneMainFrame", 15, -4)[0], 0)
        self.wait_trace(r"^ZERITH_COMMAND_MOVE_WINDOW code=0 status=0 dx=15 dy=-4$", "the move report")
        wait_until(lambda: self.display.probe("wait", "TrevaneThemedShadow", 1000)[1].split() == [str(x + 27), str(y + 8), str(w), str(h)],
                   what="the shadow following the frame")

        second, _ = self.display.run_wine([self.app / "Trevane.exe"], timeout_s=DEADLINE_S)
        self.assertEqual(second, 0, "a second copy must end at once with 0")
        self.assertEqual(self.display.probe("count", "TrevaneMainFrame")[1].strip(), "1")

        self.assertEqual(self.display.probe("close", "TrevaneMainFrame")[0], 0)
        self.assertEqual(self.wait_exit(), 0)
        lines = self.trace_lines()
        self.assertEqual(lines[-1], "ZERITH_COMMAND_DESTROY_RESOURCE code=0 status=0")
        self.assertEqual(sum(1 for l in lines if l.startswith("ZERITH_COMMAND_START_SERVER")), 1)

        stdout = self.stdout_path.read_bytes().decode("latin-1")
        self.assertRegex(stdout, r"CMainFrame: (0x)?[0-9a-fA-F]+")
        for name in ("Ardena", "Kestor", "Lunder", "Probe", "Quarnel", "Yestal", "Zerith"):
            # The error value after a successful load is whatever the loader left behind.
            self.assertRegex(stdout, r" GetLastError: \d+ temp_path: " +
                             re.escape(windows_path(self.app / "plugins" / name / f"lib{name}.dll")))
        logs = list(log_root().glob("*/Trevane.exe.*.log"))
        self.assertEqual(len(logs), 1, logs)
        log = logs[0].read_text(errors="replace")
        self.assertRegex(log, r"\nI\d{4} [\d:.]+ +\d+ trevane:426\] OnDestroy\n")
        self.assertIn("theme images loaded: 105 of 105", log)
        self.assertIn("plug-in loader: 19 modules registered", log)
        settings = prefix_user_dir() / "AppData" / "Roaming" / "Solvak" / "Solvak Trevane" / "UserDefaults.json"
        self.assertIsInstance(json.loads(settings.read_text()), dict)

    def test_missing_configuration_shows_the_alert_and_ends(self):
        (self.app / "Option.json").unlink()
        self.start()
        code, text = self.display.probe("dialog-text", DEADLINE_S * 1000)
        self.assertEqual(code, 0, "no alert appeared")
        self.assertIn("Load Option.json Fail:\n" + windows_path(self.app / "Option.json"), text)
        self.display.screenshot("trevane-missing-option.png")
        self.assertEqual(self.display.probe("count", "TrevaneMainFrame")[1].strip(), "0")
        self.assertEqual(self.display.probe("press", "OK", 10000)[0], 0)
        self.assertEqual(self.wait_exit(), 0)
        self.assertEqual(self.trace_lines(), [], "no module may have been loaded")

    def test_crash_leaves_only_the_zipped_report_and_tells_the_user(self):
        self.start(TREVANE_RELAY_CRASH_ON="ZERITH_COMMAND_START_SERVER")
        # Each stage gets its own deadline: the start-up until the crash (every plug-in loads first; the
        # dump file appears when the dump is begun), the dump (under Wine writing the dump of this process
        # takes about half a minute; the zip replaces it when done), then the notice.
        wait_until(lambda: list(log_root().glob("*/*.dmp")) + list(log_root().glob("*/*.zip")),
                   what="the crash dump begun")
        wait_until(lambda: list(log_root().glob("*/*.zip")), what="the crash report written")
        code, text = self.display.probe("dialog-text", DEADLINE_S * 1000)
        self.assertEqual(code, 0, "no crash notice appeared")
        self.assertIn("Application have crashed due to some unknown reasons,Please email the zip crashing report "
                      "file that is generated in below path to us: ", text)
        self.display.screenshot("trevane-crash-notice.png")
        folders = [p for p in log_root().iterdir() if p.is_dir()]
        self.assertEqual(len(folders), 1)
        self.assertIn("\\Temp\\Solvak\\" + folders[0].name + "\n", text)
        entries = sorted(p.name for p in folders[0].iterdir())
        self.assertEqual(len(entries), 1, entries)
        self.assertTrue(entries[0].endswith(".zip"))
        archive = folders[0] / entries[0]
        self.assertEqual(subprocess.run(["unzip", "-tq", str(archive)], capture_output=True).returncode, 0)
        with zipfile.ZipFile(archive) as report:
            self.assertIsNone(report.testzip())
            names = report.namelist()
            self.assertEqual(len(names), 2, names)
            self.assertIn("Crash.json", names)
            dump = next(n for n in names if n != "Crash.json")
            self.assertRegex(dump, r"^\d{14}\.dmp$")
            self.assertEqual(report.read(dump)[:4], b"MDMP")
            description = json.loads(report.read("Crash.json"), object_pairs_hook=lambda pairs: pairs)
        self.assertEqual([k for k, _ in description], ["Product", "Version", "System"])
        values = dict(description)
        self.assertEqual(values["Product"], "Solvak Trevane")
        self.assertEqual(values["Version"], "2.6.21")
        self.assertRegex(values["System"], r"^(\d+\.\d+ Build \d+ Service Pack \d+\.\d+)?$")
        self.assertEqual(self.display.probe("press", "Open", 10000)[0], 0)
        self.assertNotEqual(self.wait_exit(), 0)

    def test_contacts_page_with_the_fixture_relay(self):
        fixture = self.work / "contacts.json"
        subprocess.run([sys.executable, ARGS.contacts_fixture_script, str(fixture), "--refuse-saves", "1"], check=True,
                       timeout=60)
        probe_dir = self.app / "plugins" / "ContactsProbe"
        probe_dir.mkdir()
        shutil.copy(ARGS.contacts_probe, probe_dir / "libContactsProbe.dll")
        report = self.work / "contacts-report.txt"
        self.start(TREVANE_PROBE_REPORT=windows_path(report), TREVANE_RELAY_FIXTURE=windows_path(fixture))
        self.assertEqual(self.display.probe("wait", "TrevaneMainFrame", DEADLINE_S * 1000)[0], 0)

        # The probe asks for each screenshot and waits for it; the report ends with "done".
        shots = {}

        def serve():
            lines = report.read_text().splitlines() if report.exists() else []
            for line in lines:
                if line.startswith("shot ") and line[5:] not in shots:
                    name = line[5:]
                    shots[name] = self.display.screenshot(name)
                    Path(str(report) + "." + name + ".done").write_text("")
            return lines if lines and lines[-1] == "done" else None

        lines = wait_until(serve, timeout_s=180, what="the contacts probe's report")
        failures = [l for l in lines if l.startswith("FAIL")]
        contact_trace = [l for l in self.trace_lines() if l.startswith("ZERITH_COMMAND_DO_CONTACT")]
        self.assertEqual(failures, [], "\n".join(lines + contact_trace))
        self.assertGreaterEqual(sum(1 for l in lines if l.startswith("ok ")), 10)
        rects = {l.split()[1]: tuple(map(int, l.split()[2:])) for l in lines if l.startswith("rect ")}

        # The page: the first row selected (its background), its check box empty, the toolbar's rule.
        page = shots["contacts-page.png"]
        x, y, w, h = rects["row0"]
        self.assertEqual(pixel(page, x + w * 7 // 10, y + 3), "#A1DBEE")
        self.assertEqual(pixel(page, x + 13, y + h // 2), "#FFFFFF")
        px, py, pw, ph = rects["page"]
        self.assertEqual(pixel(page, px + pw // 2, py + 30), "#ABABAB")
        # The preview: the contact picture's orange disc at its place.
        x, y, w, h = rects["preview"]
        self.assertEqual(pixel(shots["contacts-preview.png"], x + 8 + 36, y + 8 + 36), "#F08A24")
        # The editor: its title strip, and the soft shadow darkening the page to its right.
        editor = shots["contacts-editor.png"]
        x, y, w, h = rects["editor"]
        self.assertEqual(pixel(editor, x + 100, y + 10), "#3A8EE6")
        self.assertTrue(darker(pixel(editor, x + w + 2, y + h // 2), "#FFFFFF"), pixel(editor, x + w + 2, y + h // 2))

        # What the relay received: one record per OK, each with the two phones and the address once.
        saves = [l for l in self.trace_lines() if l.startswith("ZERITH_COMMAND_DO_CONTACT code=17 ")]
        self.assertEqual(len(saves), 2, "\n".join(saves))
        for save in saves:
            self.assertIn(" contact id= kind=person first=Nina last=Berg ", save)
            self.assertIn(" phones=2[home:555-0100,home:555-0199] emails=0[] ", save)
            self.assertTrue(save.endswith(" addresses=1[home:1 Main St|Springfield|||us]"), save)
        self.assertTrue(any(re.search(r"^ZERITH_COMMAND_DO_CONTACT code=5 .* ids=1\[66\]$", l) for l in self.trace_lines()))
        groups = [l for l in self.trace_lines() if re.match(r"ZERITH_COMMAND_DO_CONTACT code=2[01] ", l)]
        self.assertEqual(len(groups), 3, "\n".join(groups))
        self.assertRegex(groups[0], r"code=20 .* group id= name=Neighbours members=0\[\] guid=[0-9A-F]{8}-")
        self.assertRegex(groups[1], r"code=21 .* group id=group-1 name=Street Friends members=0\[\] ")
        self.assertRegex(groups[2], r"code=21 .* group id=group-1 name=Street Friends members=2\[")

        self.assertEqual(self.display.probe("close", "TrevaneMainFrame")[0], 0)
        self.assertEqual(self.wait_exit(), 0)


def main():
    parser = wine_session.scenario_arguments()
    parser.add_argument("--bus-probe", required=True)
    parser.add_argument("--contacts-probe", required=True)
    parser.add_argument("--contacts-fixture-script", required=True)
    wine_session.run_scenarios(parser)


if __name__ == "__main__":
    main()
