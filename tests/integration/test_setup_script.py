"""scripts/setup.sh's decisions, driven by stand-in apt-get, dpkg-query and dpkg commands that log
their calls and fail as each case asks: nothing missing, a failing index update, version skew that
the release's own suite resolves, and nothing working at all; and what it prints: one line per step,
the package manager's output in the log it names, shown only for a call that fails."""

import os
import subprocess
import unittest

from harlix_process import TempDir

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "setup.sh")

# Each stand-in appends its arguments to calls.log. apt-get fails "update" while update.fail exists
# and fails "install" unless install.ok exists or the call carries "-t" and install-t.ok exists.
STANDINS = {
    "apt-get": """
echo "apt-get $*" >> "$LOG/calls.log"
for n in $(seq 200); do echo "Unpacking package-$n from apt-get $1"; done
case "$1" in
  update) [ -e "$LOG/update.fail" ] && exit 100; exit 0 ;;
  install)
    [ -e "$LOG/install.ok" ] && exit 0
    case " $* " in *" -t "*) [ -e "$LOG/install-t.ok" ] && exit 0 ;; esac
    echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
esac
exit 0
""",
    "dpkg-query": """
[ -e "$LOG/all-installed" ] && { printf 'install ok installed'; exit 0; }
exit 1
""",
    "dpkg": """
echo "dpkg $*" >> "$LOG/calls.log"
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
""",
}


class SetupScriptTest(unittest.TestCase):
    def setUp(self):
        self.tmp = TempDir()
        self.addCleanup(self.tmp.cleanup)
        self.env = dict(os.environ, LOG=self.tmp.path, SETUP_UPDATE_ATTEMPTS="2", SETUP_RETRY_PAUSE="0",
                        OS_RELEASE=self.path("os-release"), TMPDIR=self.tmp.path)
        for name, body in STANDINS.items():
            with open(self.path(name), "w") as f:
                f.write("#!/bin/sh\n" + body)
            os.chmod(self.path(name), 0o755)
            self.env[name.upper().replace("-", "_")] = self.path(name)
        with open(self.path("os-release"), "w") as f:
            f.write('ID=debian\nVERSION_CODENAME=bookworm\n')

    def path(self, name):
        return os.path.join(self.tmp.path, name)

    def flag(self, *names):
        for name in names:
            open(self.path(name), "w").close()

    def run_setup(self):
        result = subprocess.run(["bash", SCRIPT], env=self.env, capture_output=True, text=True, timeout=60)
        try:
            with open(self.path("calls.log")) as f:
                calls = f.read().splitlines()
        except FileNotFoundError:
            calls = []
        return result, [c for c in calls if c.startswith("apt-get")]

    def test_nothing_missing_never_calls_apt(self):
        self.flag("all-installed")
        result, calls = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(calls, [])

    def test_failing_update_is_retried_then_install_goes_on(self):
        self.flag("update.fail", "install.ok")
        result, calls = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([c.split()[1] for c in calls], ["update", "update", "install"])
        self.assertIn("partial package index", result.stderr)
        self.assertIn("wine32:i386", calls[-1])

    def test_says_each_step_and_keeps_the_package_output_in_its_log(self):
        self.flag("install.ok")
        result, _ = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.splitlines()
        self.assertTrue(all(line.startswith("setup: ") for line in lines), lines)
        self.assertLess(len(lines), 10, lines)
        self.assertNotIn("Unpacking", result.stderr)
        log = self.path("setup-packages.log")
        self.assertIn(log, result.stderr)
        with open(log) as f:
            self.assertEqual(sum("Unpacking package-" in line for line in f), 400, "the update's and the install's")

    def test_a_failing_call_shows_its_output(self):
        self.flag("update.fail", "install.ok")
        result, _ = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        shown = [line for line in result.stderr.splitlines() if "Unpacking package-" in line]
        self.assertEqual(len(shown), 400, "the two failed updates' lines, and not the install's")
        self.assertTrue(all("from apt-get update" in line for line in shown))

    def test_version_skew_falls_back_to_the_release_suite(self):
        self.flag("install-t.ok")
        result, calls = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        installs = [c for c in calls if c.split()[1] == "install"]
        self.assertEqual(len(installs), 2)
        self.assertNotIn(" -t ", installs[0])
        self.assertIn(" -t bookworm ", installs[1])

    def test_nothing_working_names_the_step_and_the_command(self):
        self.flag("update.fail")
        result, _ = self.run_setup()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("FAILED at step: installing packages", result.stderr)
        self.assertIn("apt-get install -y --no-install-recommends -t bookworm", result.stderr)
        self.assertIn("wine32:i386", result.stderr)


if __name__ == "__main__":
    unittest.main()
