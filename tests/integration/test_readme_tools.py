"""The README's commands by hand, as a person runs them: the peer's words for reports and final codes and
its exit status, Ctrl-C ending a script that runs the peer, the device tool's detach keeping the image,
the narration of long script steps, the demo iPhone's data and the check of the desktop's plug-in folder."""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import textwrap
import unittest

from harlix_process import HARLIX, HarlixTestCase, TempDir, wait_until

import hlx_device  # noqa: E402  (on the path through harlix_process)
import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402

TOOLS = os.path.dirname(os.path.abspath(hlx_lab.__file__))
SCRIPTS = os.path.join(TOOLS, "..", "scripts")
sys.path.insert(0, SCRIPTS)
import desktop_modules  # noqa: E402

ERROR_REPORT, DEVICE_INFO, CONTACTS = 12, 300, 100


def report_packet(code, handle=0x5a5a):
    """The error report Harlix sends for a device that cannot be brought up."""
    body = b"1\0" + json.dumps({"stage": 0, "code": handle, "uuid": "abc", "info": str(code)}).encode() + b"\0"
    return {"id": 0, "command": ERROR_REPORT, "status": 1, "body": body}


def final_packet(command, code):
    body = b"1\0" + json.dumps({"stage": 0, "code": code, "uuid": "abc", "type": 0}).encode() + b"\0"
    return {"id": 7, "command": command, "status": 1 if code == 0 else 6, "body": body}


class PeerWordsTest(unittest.TestCase):
    def test_reports_and_final_replies_name_the_code_in_words(self):
        cases = [
            (report_packet(25), "device abc reports error 25 (a pairing request was sent: the user must trust"),
            (report_packet(48), "device abc reports error 48 (a service was refused: the device is locked"),
            (final_packet(CONTACTS, 48), "request 100 (id 7) failed: code 48 (a service was refused"),
            (final_packet(DEVICE_INFO, 0), "request 300 (id 7) answered: code 0"),
        ]
        for packet, words in cases:
            with self.subTest(words=words):
                described = hlx_peer.describe_in_words(packet)
                self.assertTrue(described.startswith(words), described)
                self.assertNotIn(str(0x5a5a), described, "the device handle is no error code")
        self.assertEqual(hlx_peer.reply_code_words(999), "999")


class PeerToolTest(HarlixTestCase):
    def test_send_to_a_locked_device_names_48_and_fails(self):
        udid = self.lab.attach(self.lab.make(contacts=2))
        hlx_device.set_locked(udid, True, root=self.lab.root)
        result = subprocess.run([sys.executable, os.path.join(TOOLS, "hlx_peer.py"), "send", "--harlix", HARLIX,
                                 "--code", str(CONTACTS), "--json", json.dumps({"uuid": udid})],
                                env=self.lab.env(self.tmp.path), capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertIn("reports error 48 (a service was refused", result.stderr)
        self.assertIn("hlx_peer: waiting up to 30 s for Harlix to announce device %s ready" % udid, result.stderr)
        self.assertNotIn("was not announced ready", result.stderr, "the error report ends the wait for readiness")
        self.assertIn("hlx_peer: request 100 ended with code 48 (a service was refused", result.stderr)
        self.assertEqual(json.loads(result.stdout.splitlines()[-1])["record"]["code"], 48)

    def test_send_to_a_device_that_is_not_attached_says_so_and_does_not_wait(self):
        self.lab.attach(self.lab.make(contacts=2))  # another device is attached
        udid = "0000000000000000000000000000000000000abc"
        # A wait far beyond the run's own time bound: the run ends only because it does not wait.
        result = subprocess.run([sys.executable, os.path.join(TOOLS, "hlx_peer.py"), "send", "--harlix", HARLIX,
                                 "--code", str(CONTACTS), "--json", json.dumps({"uuid": udid}), "--wait", "600"],
                                env=self.lab.env(self.tmp.path), capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertIn("hlx_peer: no device %s is attached to the simulated PC" % udid, result.stderr)
        self.assertNotIn("waiting up to", result.stderr)
        self.assertIn("hlx_peer: request 100 ended with code 7 (", result.stderr)

    def test_ctrl_c_during_serve_ends_the_script_that_runs_it(self):
        # As scripts/run.sh runs the peer: a next step that must not run after Ctrl-C.
        script = "%s %s serve --harlix %s --devices '%s' --seconds 0; echo next step" % (
            sys.executable, os.path.join(TOOLS, "hlx_peer.py"), HARLIX, os.environ["HLX_APPLE_SUPPORT_DIR"])
        process = subprocess.Popen(["bash", "-c", script], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   text=True, env=dict(os.environ, TMPDIR=self.tmp.path), start_new_session=True)
        self.addCleanup(lambda: process.poll() is None and os.killpg(process.pid, signal.SIGKILL))
        for line in process.stdout:
            if json.loads(line).get("event") == "connected":
                break
        os.killpg(process.pid, signal.SIGINT)  # what the terminal does on Ctrl-C
        rest, _ = process.communicate(timeout=60)
        self.assertNotIn("next step", rest)
        self.assertEqual(process.returncode, -signal.SIGINT)
        self.assertIn('"event": "stopped"', rest, "the peer tidied up first")


class DetachTest(unittest.TestCase):
    def setUp(self):
        self.tmp = TempDir()
        self.addCleanup(self.tmp.cleanup)
        self.root = os.path.join(self.tmp.path, "devices")

    def attach(self, name):
        image = hlx_lab.make_device_image.make_image(os.path.join(self.tmp.path, name), udid="0000-" + name, contacts=1)
        return hlx_device.attach(image["path"], root=self.root)

    def detach(self, *arguments):
        result = subprocess.run([sys.executable, os.path.join(TOOLS, "hlx_device.py"), "--root", self.root, "detach"]
                                + list(arguments), capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def test_detach_moves_the_image_to_the_folder_it_prints(self):
        udid = self.attach("one")
        first = self.detach(udid)
        self.assertEqual(first, os.path.join(self.tmp.path, "detached", udid))
        self.assertTrue(os.path.isfile(os.path.join(first, "state.json")))
        self.assertEqual(hlx_device.list_devices(self.root), [])
        # Attached again from there and detached again, it goes beside the first copy.
        hlx_device.attach(first, root=self.root)
        self.assertEqual(self.detach(udid), first)
        hlx_device.attach(first, root=self.root)
        os.makedirs(first)
        self.assertEqual(self.detach(udid), first + "-2")
        kept = os.path.join(self.tmp.path, "kept")
        hlx_device.attach(first + "-2", root=self.root)
        self.assertEqual(self.detach(udid, "--keep", kept), kept)
        self.assertTrue(os.path.isfile(os.path.join(kept, "state.json")))


class NarrateTest(unittest.TestCase):
    def narrate(self, script):
        return subprocess.run([sys.executable, os.path.join(SCRIPTS, "narrate.py"), "--label", "t: ",
                               "--quiet-seconds", "0.3", "--", "bash", "-c", script],
                              capture_output=True, text=True, timeout=60)

    def test_a_quiet_step_is_narrated_with_the_tests_it_runs(self):
        # The step waits for a file that the test writes once the narration has named the running test.
        with tempfile.TemporaryDirectory() as folder:
            flag = os.path.join(folder, "go")
            script = textwrap.dedent("""\
                echo '      Start  3: alpha'
                echo '      Start  4: beta'
                echo '3/9 Test  #3: alpha .....   Passed    0.10 sec'
                until [ -e %s ]; do sleep 0.05; done
                exit 4""" % flag)
            process = subprocess.Popen([sys.executable, os.path.join(SCRIPTS, "narrate.py"), "--label", "t: ",
                                        "--quiet-seconds", "0.3", "--", "bash", "-c", script],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            self.addCleanup(process.kill)
            first = process.stderr.readline()
            open(flag, "w").close()
            out, _ = process.communicate(timeout=60)
        self.assertRegex(first, r"^t: still at work after \d+s: running beta$")
        self.assertEqual(process.returncode, 4, "the step's own exit status")
        self.assertIn("Test  #3: alpha", out, "the step's output is passed on")

    def test_a_step_that_talks_is_not_interrupted(self):
        result = self.narrate("echo one; echo two")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "one\ntwo\n", ""))


class BenchStepTest(unittest.TestCase):
    """bench/run.sh's steps, run as it runs them."""

    def run_steps(self, steps):
        script = "set -euo pipefail; cd %s; source bench/step.sh; status=0; %s; echo next step" % (
            os.path.join(TOOLS, ".."), steps)
        process = subprocess.Popen(["bash", "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, start_new_session=True)
        self.addCleanup(lambda: process.poll() is None and os.killpg(process.pid, signal.SIGKILL))
        return process

    def test_ctrl_c_ends_a_bounded_step_and_the_whole_run(self):
        process = self.run_steps("bench_step 600 'waiting' python3 -c 'import time; print(\"begun\", flush=True); "
                                 "time.sleep(600)' || status=1")
        self.assertEqual(process.stdout.readline(), "begun\n")
        os.killpg(process.pid, signal.SIGINT)  # what the terminal does on Ctrl-C
        out, err = process.communicate(timeout=60)
        self.assertNotIn("next step", out)
        self.assertEqual(process.returncode, -signal.SIGINT)
        self.assertIn("bench: waiting (at most 10m00s)\n", err)

    def test_each_step_says_its_bound_and_how_long_it_took(self):
        process = self.run_steps("bench_step 120 'one' true; bench_step 60 'two' false || status=$?; "
                                 "echo \"status $status\"")
        out, err = process.communicate(timeout=60)
        self.assertEqual(out, "status 1\nnext step\n")
        self.assertRegex(err, r"^bench: one \(at most 2m00s\)\nbench: one took 0m0\ds\n"
                              r"bench: two \(at most 1m00s\)\nbench: two took 0m0\ds, exit status 1\n$")


class ConfigureTest(unittest.TestCase):
    def test_a_machine_without_32_bit_execution_configures_with_a_status_line_not_a_warning(self):
        with tempfile.TemporaryDirectory() as build:
            result = subprocess.run(["cmake", "-S", os.path.join(TOOLS, ".."), "-B", build, "-G", "Ninja"],
                                    env=dict(os.environ, TRV_WINE32_LOADER="/nonexistent/wine"),
                                    capture_output=True, text=True, timeout=240)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("-- desktop: this machine cannot execute 32-bit programs; the desktop tests build for 64-bit "
                      "Windows and run under 64-bit Wine\n", result.stdout)
        self.assertNotIn("CMake Warning", result.stdout + result.stderr)


class RequestTableTest(unittest.TestCase):
    def test_the_request_table_lists_every_code_of_the_service_once(self):
        root = os.path.join(TOOLS, "..")
        with open(os.path.join(root, "src", "utility", "hlx_request_code.h"), encoding="utf-8") as f:
            codes = [int(n) for n in re.findall(r"^\s*kRequest\w+ = (\d+),", f.read(), re.MULTILINE)]
        with open(os.path.join(root, "REQUESTS.md"), encoding="utf-8") as f:
            rows = re.findall(r"^\| (\d+)(?: to (\d+))? \|", f.read(), re.MULTILINE)
        listed = [code for first, last in rows for code in range(int(first), int(last or first) + 1)]
        self.assertEqual(len(listed), len(set(listed)), "a code listed twice")
        self.assertEqual(sorted(listed), sorted(codes))
        with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
            self.assertIn("REQUESTS.md", f.read(), "the README points to the table")


class DemoIPhoneTest(unittest.TestCase):
    def test_the_demo_iphone_carries_every_kind_of_data(self):
        with tempfile.TemporaryDirectory() as folder:
            lab = hlx_lab.DeviceLab(folder, os.environ.get("HLX_APPLE_SUPPORT_DIR") or folder, start_service=False)
            image = lab.make_demo(contacts=3)["path"]
            media = os.path.join(image, "fs", "iTunes_Control")
            for relative in ("addressbook.plist", "sms.db", "notes.plist", "calendars.plist", "bookmarks.plist",
                             "apps.plist", "fs/iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                             "fs/PhotoData/Photos.sqlite", "fs/Books/Books.plist", "fs/Recordings/Recordings.db"):
                with self.subTest(relative=relative):
                    self.assertTrue(os.path.isfile(os.path.join(image, relative)))
            self.assertTrue(os.listdir(os.path.join(media, "Ringtones")))
            with open(os.path.join(image, "calendars.plist"), "rb") as f:
                self.assertIn(b"com.apple.calendars.Event", f.read(), "calendars with events")


class UpdateFeedTest(unittest.TestCase):
    def test_the_simulated_pc_serves_the_update_at_the_shipped_address(self):
        import urllib.parse
        import urllib.request
        option = os.path.join(TOOLS, "..", "gui", "app", "Option.json")
        with open(option, encoding="utf-8") as f:
            shipped = json.load(f)["url"]["update"]
        parts = urllib.parse.urlsplit(shipped)
        self.assertEqual((parts.scheme, parts.hostname), ("http", "127.0.0.1"), shipped)
        self.assertTrue(parts.port, "a fixed port the simulated PC listens on")
        with tempfile.TemporaryDirectory() as folder:
            # The same path on a free port, so that a running main job does not stand in the way.
            server = hlx_lab.serve_folder(folder)
            port = server.server_address[1]
            server.shutdown()
            server.server_close()
            address = urllib.parse.urlunsplit(parts._replace(netloc="127.0.0.1:%d" % port))
            record = os.path.join(folder, "ran.txt")
            server = hlx_lab.serve_update_feed(os.path.join(folder, "www"), address, record)
            try:
                with urllib.request.urlopen(address, timeout=30) as reply:
                    feed = json.load(reply)
                self.assertEqual([v["version"] for v in feed["versions"]], [hlx_lab.UPDATE_VERSION])
                self.assertGreater(tuple(map(int, hlx_lab.UPDATE_VERSION.split("."))), (2, 6, 21), "newer")
                with urllib.request.urlopen(feed["installer"], timeout=30) as reply:
                    installer = reply.read().decode()
                self.assertIn("Z:" + record.replace("/", "\\"), installer, "the stand-in notes that it ran")
            finally:
                server.shutdown()
                server.server_close()
            with self.assertRaises(RuntimeError):
                hlx_lab.serve_update_feed(os.path.join(folder, "www"), "http://example.test/feed.json", record)


class DesktopModulesTest(unittest.TestCase):
    def test_a_plugin_folder_lacking_a_module_is_named(self):
        expected = desktop_modules.expected_modules()
        # The six page plug-ins and the twelve outside modules the host's tables name.
        self.assertEqual(len(expected), 18, expected)
        self.assertTrue({"Ardena", "Cortal", "Zerith", "Sorvad", "Lunder"} <= set(expected))
        with tempfile.TemporaryDirectory() as app:
            for name in expected:
                if name != "Cortal":
                    os.makedirs(os.path.join(app, "plugins", name))
                    open(os.path.join(app, "plugins", name, "lib%s.dll" % name), "w").close()
            result = subprocess.run([sys.executable, os.path.join(SCRIPTS, "desktop_modules.py"), "--app", app],
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 1)
            self.assertIn("lacks: Cortal\n", result.stderr)
            open(os.path.join(app, "plugins", "Cortal.dll"), "w").close()  # not where the host looks
            self.assertEqual(desktop_modules.missing(expected, desktop_modules.folder_modules(app)), ["Cortal"])



class ContactsFixtureScriptTest(unittest.TestCase):
    SCRIPT = os.path.join(TOOLS, "..", "tests", "gui", "make_contacts_fixture.py")

    def test_any_count_writes_a_fixture_whose_groups_name_its_own_contacts(self):
        with tempfile.TemporaryDirectory() as folder:
            for count in (1, 30, 42, 43, 250):
                with self.subTest(count=count):
                    out = os.path.join(folder, f"{count}.json")
                    subprocess.run([sys.executable, self.SCRIPT, out, "--count", str(count)], check=True,
                                   capture_output=True, timeout=60)
                    with open(out, encoding="utf-8") as f:
                        fixture = json.load(f)
                    ids = {c["id"] for c in fixture["contacts"]}
                    self.assertEqual(len(ids), count)
                    for group in fixture["groups"]:
                        # "999" is the member no fixture has, kept on purpose.
                        self.assertEqual([m for m in group["members"] if m not in ids and m != "999"], [])
            refused = subprocess.run([sys.executable, self.SCRIPT, os.path.join(folder, "x.json"), "--count", "0"],
                                     capture_output=True, text=True, timeout=60)
            self.assertEqual(refused.returncode, 2)
            self.assertIn("--count must be at least 1", refused.stderr)

    def test_help_says_what_each_option_does(self):
        out = subprocess.run([sys.executable, self.SCRIPT, "--help"], capture_output=True, text=True, check=True,
                             timeout=60).stdout
        for words in ("how many contacts", "how many saves the device refuses", "an online account's",
                      "the fixture file to write"):
            self.assertIn(words, out)

if __name__ == "__main__":
    unittest.main()
