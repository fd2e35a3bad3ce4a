"""Crash reports of the Harlix process: a fatal signal leaves, in the log folder, one archive named
after the start-up time that holds the dump, "Crash.json", the log files and the sub-folders' files;
the loose files are gone, an older archive stays unpacked and untouched, sub-folders stay. Crashes
that land anywhere in a busy service each end quickly with one whole report, and a dump whose packing
never ran is packed by the next start."""

import ctypes
import datetime
import fcntl
import json
import os
import platform
import random
import re
import signal
import time
import zipfile

from harlix_process import HARLIX, HarlixTestCase, record_of, wait_until


class CrashTest(HarlixTestCase):
    uses_lab = False

    def test_fatal_signal_leaves_dump_description_and_archive(self):
        folder = os.path.join(self.tmp.path, "HarlixPeer", datetime.date.today().strftime("%Y%m%d"))
        os.makedirs(os.path.join(folder, "sub"))
        with open(os.path.join(folder, "older.ZIP"), "wb") as f:
            f.write(b"an archive of an earlier crash")
        with open(os.path.join(folder, "sub", "keep.txt"), "wb") as f:
            f.write(b"kept")
        started = datetime.datetime.now().replace(microsecond=0)
        self.start_harlix()
        # One answered request first: the service is up and its log file holds lines of this run.
        self.run_request(9999, "{}")
        process = self.peer.process
        os.kill(process.pid, signal.SIGSEGV)
        self.assertEqual(process.wait(timeout=30), -signal.SIGSEGV)

        archives = [n for n in os.listdir(folder) if n.endswith(".dmp.zip")]
        self.assertEqual(len(archives), 1, os.listdir(folder))
        stamp = archives[0][:-len(".dmp.zip")]
        moment = datetime.datetime.strptime(stamp, "%Y%m%d%H%M%S")
        self.assertTrue(started - datetime.timedelta(seconds=1) <= moment <= datetime.datetime.now(), stamp)
        # Only archives and sub-folders remain; the sub-folder's file stays too.
        self.assertEqual(sorted(os.listdir(folder)), sorted([archives[0], "older.ZIP", "sub"]))
        self.assertEqual(os.listdir(os.path.join(folder, "sub")), ["keep.txt"])

        with zipfile.ZipFile(os.path.join(folder, archives[0])) as archive:
            self.assertIsNone(archive.testzip())
            names = archive.namelist()
            self.assertIn("sub/keep.txt", names)
            self.assertNotIn("older.ZIP", names)
            self.assertTrue(any(n.startswith("Harlix.") for n in names), names)  # the log file
            dump = archive.read(stamp + ".dmp").decode()
            self.assertTrue(dump.startswith("Harlix crash dump\nsignal: %d\n" % signal.SIGSEGV), dump[:80])
            text = archive.read("Crash.json").decode()
        self.assertEqual(list(json.loads(text, object_pairs_hook=lambda pairs: pairs)),
                         [("Product", "Trevane"), ("Version", "1.0.0"), ("System", json.loads(text)["System"])])
        self.assertTrue(json.loads(text)["System"].startswith(platform.system() + " "))
        self.assertIn('\n    "Product": "Trevane"', text)

    def log_folder(self):
        return os.path.join(self.tmp.path, "HarlixPeer", datetime.date.today().strftime("%Y%m%d"))

    def packers_running(self):
        """Packing helpers of this test's folder that are still alive."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    arguments = f.read().split(b"\0")
            except OSError:
                continue
            if b"--pack-crash-report" in arguments and any(self.tmp.path.encode() in a for a in arguments):
                found.append(int(pid))
        return found

    def check_report(self, archive_path, crash_signal):
        with zipfile.ZipFile(archive_path) as archive:
            self.assertIsNone(archive.testzip())
            names = archive.namelist()
            stamp = os.path.basename(archive_path)[:-len(".dmp.zip")]
            self.assertIn(stamp + ".dmp", names)
            self.assertTrue(any(n.startswith("Harlix.") for n in names), names)
            dump = archive.read(stamp + ".dmp").decode()
            self.assertTrue(dump.startswith("Harlix crash dump\nsignal: %d\n" % crash_signal), dump[:80])
            self.assertIn("\nbacktrace:\n", dump)
            self.assertEqual(json.loads(archive.read("Crash.json"))["Product"], "Trevane")

    def busy_threads(self, pid, crash_signal):
        """The process's threads other than the main one that take the signal (the allocator's
        background threads block every signal; a fault there is not sent, it ends the process),
        busiest (most CPU time) first."""
        times = {}
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                    blocked = int(next(l for l in f if l.startswith("SigBlk:")).split()[1], 16)
            except (OSError, StopIteration):
                continue
            if not blocked & (1 << (crash_signal - 1)):
                times[int(tid)] = int(fields[11]) + int(fields[12])  # utime + stime
        return sorted((t for t in times if t != pid), key=lambda t: -times[t])

    def test_repeated_crashes_in_a_busy_service_each_leave_one_whole_report_at_once(self):
        # Each fault lands on a worker that is nearly always inside the allocator, or on another
        # thread: the report must neither wait for a lock the fault left held nor die half made.
        libc = ctypes.CDLL(None, use_errno=True)
        folder = self.log_folder()
        kept = os.path.join(self.tmp.path, "reports")
        os.makedirs(kept)
        rng = random.Random(34)
        crashed = []
        for run in range(30):
            with self.subTest(run=run):
                peer = self.start_harlix({"HLX_TEST_MODULES": "1"})
                crashed.append(peer.process.pid)
                churners = [self.send(9000, {"churn": 1}) for _ in range(3)]
                started = set()
                while started != set(churners):  # each has sent its stage-1 reply: it churns now
                    item = self.next_packet()
                    if item["id"] in churners and record_of(item)[0]["stage"] == 1:
                        started.add(item["id"])
                self.send(9001, {"size": 24 << 20, "json": 1})
                time.sleep(rng.uniform(0.01, 0.05))
                crash_signal = rng.choice([signal.SIGSEGV, signal.SIGBUS, signal.SIGABRT])
                threads = self.busy_threads(peer.process.pid, crash_signal)
                target = threads[0] if run % 3 else rng.choice(threads)
                sent = time.monotonic()
                self.assertEqual(libc.tgkill(peer.process.pid, target, crash_signal), 0)
                self.assertEqual(peer.process.wait(timeout=40), -crash_signal)
                self.assertLess(time.monotonic() - sent, 5.0, "the report took too long")
                self.assertEqual(self.packers_running(), [])
                entries = os.listdir(folder)
                archives = [n for n in entries if n.endswith(".dmp.zip")]
                self.assertEqual(entries, archives)  # no loose file, no side file of the archive
                self.assertEqual(len(archives), 1, entries)
                self.check_report(os.path.join(folder, archives[0]), crash_signal)
                # Runs in the same second share the name: each report is taken away once checked.
                os.rename(os.path.join(folder, archives[0]), os.path.join(kept, "%02d.zip" % run))
                peer.close()
        # Each report is that run's own: its dump names the process that crashed.
        reported = []
        for name in sorted(os.listdir(kept)):
            with zipfile.ZipFile(os.path.join(kept, name)) as archive:
                dump = archive.read(next(n for n in archive.namelist() if n.endswith(".dmp"))).decode()
            reported.append(int(re.search(r"\nprocess: (\d+)\n", dump).group(1)))
        self.assertEqual(reported, crashed)

    def test_a_crash_while_the_loader_lock_is_held_is_reported_at_once_with_named_frames(self):
        # The device support's host library hangs in its initialiser: the thread loading it keeps the
        # loader's lock, and the fault lands on another thread.
        blocking = os.environ["HLX_BLOCKING_INIT_LIBRARY"]
        registry = os.path.join(self.tmp.path, "registry.ini")
        with open(registry, "w") as f:
            f.write("[SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n"
                    "AirTrafficHostDLL=%s\niTunesMobileDeviceDLL=%s\n" % (blocking, blocking))
        peer = self.make_peer({"HLX_REGISTRY_FILE": registry})
        process = peer.start()

        def loader_thread():
            for tid in os.listdir("/proc/%d/task" % process.pid):
                try:
                    with open("/proc/%d/task/%s/comm" % (process.pid, tid)) as f:
                        if f.read().strip() == "hlx-init-held":
                            return int(tid)
                except OSError:
                    pass
            return None
        self.assertTrue(wait_until(lambda: loader_thread() is not None, timeout=20), "the library never loaded")
        held = loader_thread()
        target = next(t for t in self.busy_threads(process.pid, signal.SIGSEGV) + [process.pid] if t != held)
        sent = time.monotonic()
        self.assertEqual(ctypes.CDLL(None, use_errno=True).tgkill(process.pid, target, signal.SIGSEGV), 0)
        self.assertEqual(process.wait(timeout=40), -signal.SIGSEGV)
        self.assertLess(time.monotonic() - sent, 5.0, "the report waited for the loader's lock")
        archives = [n for n in os.listdir(self.log_folder()) if n.endswith(".dmp.zip")]
        self.assertEqual(len(archives), 1, os.listdir(self.log_folder()))
        self.check_report(os.path.join(self.log_folder(), archives[0]), signal.SIGSEGV)
        with zipfile.ZipFile(os.path.join(self.log_folder(), archives[0])) as archive:
            dump = archive.read(archives[0][:-len(".zip")]).decode()
        frames = dump.split("\nbacktrace:\n", 1)[1].split("\nmaps:\n", 1)[0].splitlines()
        self.assertTrue(frames, dump[:400])
        # Every frame names its module and offset; the C library's frames name their function too.
        for line in frames:
            self.assertRegex(line, r"^/\S+\((\w+)?\+0x[0-9a-f]+\) \[0x[0-9a-f]+\]$")
        self.assertTrue(any(os.path.basename(HARLIX) + "(" in line for line in frames), frames)
        self.assertTrue(any(re.search(r"/libc\.so\.6\(\w+\+0x", line) for line in frames), frames)
        self.assertIn(" " + blocking + "\n", dump)  # the memory map names the library that holds the lock

    def test_a_dump_left_unpacked_is_packed_by_the_next_start(self):
        folder = self.log_folder()
        os.makedirs(folder)
        files = {"20200101120000.dmp": b"Harlix crash dump\nsignal: 11\n", "Crash.json": b"{}",
                 "Harlix.20200101-120000.1": b"the log of the run that crashed"}
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        # A dump whose packing still runs (its lock is held) keeps the whole folder as it is.
        busy = os.path.join(folder, "20200101130000.dmp")
        with open(busy, "wb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.start_harlix()
            self.run_request(9999, "{}")
            self.assertFalse([n for n in os.listdir(folder) if ".zip" in n])
            for name in files:
                self.assertTrue(os.path.exists(os.path.join(folder, name)), name)
            self.peer.close()
        # Unlocked, both dumps go into one archive under the newest name; only this run's log stays.
        self.start_harlix()
        self.run_request(9999, "{}")
        entries = os.listdir(folder)
        self.assertIn("20200101130000.dmp.zip", entries)
        loose = [n for n in entries if ".zip" not in n]
        self.assertTrue(loose and all(n.startswith("Harlix.") and n not in files for n in loose), entries)
        with zipfile.ZipFile(os.path.join(folder, "20200101130000.dmp.zip")) as archive:
            self.assertIsNone(archive.testzip())
            for name, data in files.items():
                self.assertEqual(archive.read(name), data)
            self.assertEqual(archive.read("20200101130000.dmp"), b"")
            self.assertTrue(any(n.startswith("Harlix.") and n not in files for n in archive.namelist()))


if __name__ == "__main__":
    import unittest
    unittest.main()
