"""Helpers shared by the integration tests: where Harlix is, a private temporary folder per test,
and waiting on conditions with deadlines."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.environ.get("HLX_TOOLS_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "tools")))

import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402

HARLIX = hlx_peer.default_harlix()


def wait_until(predicate, timeout=10.0, interval=0.02):
    """Polls predicate until it is true; returns its last value. The deadline only bounds a failing
    test: a passing one returns as soon as the condition holds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class TempDir:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="hlx-test-")

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def environment(tmpdir, **overrides):
    """Harlix's environment: a private TMPDIR, and no device library unless the test names one."""
    env = dict(os.environ)
    env["TMPDIR"] = tmpdir
    for name in ("HLX_REGISTRY_FILE", "HLX_DEVICE_ROOT", "HLX_TEST_MODULES"):
        env.pop(name, None)
    for key, value in overrides.items():
        env[key] = str(value)
    return env


MONITOR_LIBRARY_NOT_BOUND = 9


def expect_monitor_status(test, peer, code=MONITOR_LIBRARY_NOT_BOUND):
    """The status packet that start-up sends when the device monitor could not start."""
    item = peer.receive(timeout=20)
    test.assertIsNotNone(item, "no monitor status packet")
    test.assertEqual((item["id"], item["command"], item["status"]), (0, code, 1))
    test.assertEqual(item["body"], b'1\0{"stage":0,"code":0,"uuid":"","type":0}\0')


def start_sleeper():
    """A process for Harlix to watch; the test kills it to make the desktop side vanish."""
    return subprocess.Popen([sys.executable, "-c", "import time; time.sleep(600)"])


def dead_pid():
    """The id of a process that has ended and been reaped."""
    process = subprocess.Popen([sys.executable, "-c", "pass"])
    process.wait()
    return process.pid



class DeviceLab(hlx_lab.DeviceLab):
    """The lab with the staged library of this build and Harlix's test environment."""

    def __init__(self, tmp, start_service=True):
        super().__init__(tmp, os.environ.get("HLX_APPLE_SUPPORT_DIR"), start_service)

    def env(self, tmpdir, **overrides):
        return environment(tmpdir, **dict(self.variables(), **overrides))
