"""Crash reports of the Harlix process: a fatal signal leaves, in the log folder, one archive named
after the start-up time that holds the dump, "Crash.json", the log files and the sub-folders' files;
the loose files are gone, an older archive stays unpacked and untouched, sub-folders stay."""

import datetime
import json
import os
import platform
import signal
import zipfile

from harlix_process import HarlixTestCase


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
        # One answered request first: the report is written by the thread the signal lands on, and a
        # process still starting up may be inside the allocator there.
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


if __name__ == "__main__":
    import unittest
    unittest.main()
