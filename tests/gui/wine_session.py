"""What every Trevane scenario under Wine shares: the virtual display and the test prefix's environment,
running Windows programs and winprobe.exe, screenshots, deadline waits, a fresh copy of the app folder per
test with the relay's trace, and the command-line arguments every scenario script takes."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

DEADLINE_S = 60
_parsed = None  # set by run_scenarios


class _Args:
    """The parsed arguments, read when a test runs (run_scenarios parses them first)."""

    def __getattr__(self, name):
        return getattr(_parsed, name)


ARGS = _Args()


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wait_until(predicate, timeout_s=DEADLINE_S, what="condition"):
    deadline = time.monotonic() + timeout_s
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.1)  # polling interval of the deadline wait


class WineDisplay:
    """An Xvfb display and the test prefix's environment; stops both at the end."""

    def __init__(self):
        subprocess.run([ARGS.prefix_script, ARGS.prefix, "init"], check=True, timeout=300)
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not report a display")
        self.env = dict(os.environ, DISPLAY=":" + number, WINEPREFIX=ARGS.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("TREVANE_RELAY_TRACE", None)
        self.env.pop("TREVANE_RELAY_CRASH_ON", None)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)

    def close(self):
        self.stop_wine()
        self.xvfb.terminate()
        self.xvfb.wait(timeout=30)

    def run_wine(self, args, timeout_s=DEADLINE_S + 30):
        """Runs a Windows program to its end; output goes through a file, not a pipe, because Wine's helper
        processes started on the way inherit the descriptors and would hold a pipe open."""
        with tempfile.TemporaryFile() as output:
            process = subprocess.run(["wine", *map(str, args)], env=self.env, stdout=output,
                                     stderr=subprocess.DEVNULL, timeout=timeout_s)
            output.seek(0)
            return process.returncode, output.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def probe(self, *args, timeout_s=DEADLINE_S + 30):
        return self.run_wine([ARGS.winprobe, *args], timeout_s=timeout_s)

    def screenshot(self, name):
        Path(ARGS.screenshots).mkdir(parents=True, exist_ok=True)
        path = Path(ARGS.screenshots) / name
        subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root", str(path)], check=True,
                       timeout=60)
        print(f"screenshot: {path}")
        return path


class TrevaneCase(unittest.TestCase):
    """One display for the class; per test a fresh copy of the app folder in `work`, the relay's trace file
    beside it and the started Trevane in `process`, killed at the end if it still runs."""

    work_prefix = "trevane-"

    @classmethod
    def setUpClass(cls):
        cls.display = WineDisplay()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix=self.work_prefix))
        self.app = self.work / "app"
        shutil.copytree(ARGS.app, self.app)
        self.trace = self.work / "relay-trace.txt"
        self.process = None

    def tearDown(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
        self.display.stop_wine()
        self.release_work()
        shutil.rmtree(self.work, ignore_errors=True)

    def release_work(self):
        """What a scenario keeps in `work` besides the app, released before the folder goes."""

    def trace_lines(self):
        return self.trace.read_text(encoding="utf-8", errors="replace").splitlines() if self.trace.exists() else []

    def wait_trace(self, pattern, what):
        regex = re.compile(pattern)
        try:
            return wait_until(lambda: next((l for l in self.trace_lines() if regex.search(l)), None), what=what)
        except AssertionError as error:
            raise AssertionError("%s; the relay's trace ends:\n%s" % (error, "\n".join(self.trace_lines()[-25:])))

    def count_trace(self, pattern):
        return sum(1 for l in self.trace_lines() if re.search(pattern, l))


def scenario_arguments():
    """The parser with the arguments every scenario script takes; the script adds its own."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--winprobe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--prefix-script", required=True)
    parser.add_argument("--screenshots", required=True)
    return parser


def run_scenarios(parser):
    """Parses the arguments into ARGS and runs the calling script's test cases."""
    global _parsed
    _parsed, rest = parser.parse_known_args()
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])
