"""Filling the free space of a simulated iPhone with zero files (1701) through the Harlix process: the
passes of each level with progress that only rises, the scratch folder gone afterwards, a cancel in
the middle, and the requests that must be refused. Erasing its content (1700) and restoring a backup
after it: the image then equals the backup, and bad restore arguments touch nothing; a cancel during
the erase ends it before any restore starts."""

import json
import os
import shutil

from harlix_process import READY, HarlixTestCase, record_of

import hlx_device  # noqa: E402
from test_backup import image_files, write_sms_db

FILL, ERASE, CANCEL, BACKUP = 1701, 1700, 600, 1600
MIB = 1024 * 1024


class EraseTest(HarlixTestCase):
    first_request_id = 7900

    def attach(self, free):
        self.udid = self.lab.attach(self.lab.make(free=free))
        self.fs = os.path.join(hlx_device.image_folder(self.udid, root=self.lab.root), "fs")
        self.start_harlix()
        self.next_event(READY, self.udid)

    def tree(self):
        return sorted(os.path.relpath(os.path.join(d, n), self.fs) for d, dirs, files in os.walk(self.fs)
                      for n in dirs + files)

    def fill(self, data):
        """(percents, final status, code, message)."""
        progress, (_, status, record, _) = self.run_request(FILL, {"uuid": self.udid}, data)
        self.assertTrue(all(r["stage"] == 0 and s == 2 for _, s, r, _ in progress))
        return [r["code"] for _, _, r, _ in progress], status, record["code"], record.get("info", {}).get("error")

    def test_passes_progress_and_clean_up(self):
        self.attach(free=40 * MIB)
        before = self.tree()
        for level, percents, code in [(1, [100], 0), (2, [50, 100], 0), (3, [34, 84], 0), (0, [], 2)]:
            self.assertEqual(self.fill({"level": level}), (percents, 1 if code == 0 else 6, code, ""), level)
            self.assertEqual(self.tree(), before)  # no scratch file or folder is left
        self.assertEqual(self.fill({"level": "two"})[1:3], (6, 8))
        _, final = self.run_request(FILL, {"uuid": "0000"}, {"level": 1})
        self.assertEqual((final[1], final[2]["code"]), (6, 7))
        _, final = self.run_request(FILL, {}, {"level": 1})
        self.assertEqual((final[1], final[2]["code"]), (6, 7))

    def test_cancel_in_the_middle(self):
        self.attach(free=300 * MIB)
        before = self.tree()
        packet_id = self.send(FILL, {"uuid": self.udid}, {"level": 2})
        item = self.next_packet(timeout=60)
        self.assertEqual((item["id"], item["status"]), (packet_id, 2))  # the first pass's progress
        self.send(CANCEL, {"uuid": self.udid, "code": packet_id})
        _, (_, status, record, _) = self.replies([packet_id])[packet_id]
        self.assertEqual((status, record["code"], record["info"]), (5, 6, {"error": "Task cancelled."}))
        self.assertEqual(self.tree(), before)

    def attach_image(self, image):
        """Attaches a made image; its folder."""
        self.udid = self.lab.attach(image)
        folder = hlx_device.image_folder(self.udid, root=self.lab.root)
        self.fs = os.path.join(folder, "fs")
        return folder

    def back_up(self):
        """A full backup of the device (1600); its folder."""
        progress, final = self.run_request(BACKUP, {"uuid": self.udid}, {"path": os.path.join(self.tmp.path, "backups")})
        self.assertEqual(final[2]["code"], 0)
        return json.loads(progress[0][3])["BackupDir"]

    def test_cancel_while_uninstalling_starts_no_restore(self):
        self.attach_image(self.lab.make(apps=300))
        self.start_harlix()
        self.next_event(READY, self.udid)
        args = {"path": self.back_up(), "sourceDeviceId": self.udid, "password": ""}
        backup_starts = lambda: self.lab.counters(self.udid)["serviceStartAttempts"]["com.apple.mobilebackup2"]
        starts_before = backup_starts()
        packet_id = self.send(ERASE, {"uuid": self.udid}, args)
        while True:  # the folders are emptied; cancel once the first app is uninstalled
            item = self.next_packet(timeout=60)
            if item["id"] == packet_id and record_of(item)[0]["stage"] == 2:
                break
        self.send(CANCEL, {"uuid": self.udid, "code": packet_id})
        progress, (_, status, record, _) = self.replies([packet_id])[packet_id]
        self.assertEqual((status, record["code"], record["info"]), (5, 6, {"error": "Task cancelled."}))
        stages = [r["stage"] for _, _, r, _ in progress]
        self.assertNotIn(1, stages)  # no restore progress
        self.assertLess(len(stages), 299)  # the uninstalls stopped
        self.assertEqual(backup_starts(), starts_before)  # the restore never opened the backup service

    def test_erase_then_restore_gives_back_the_backup(self):
        image = self.lab.make(apps=3)
        write_sms_db(image["path"])
        folder = self.attach_image(image)
        for name in ("DCIM/100APPLE/IMG_0001.JPG", "Downloads/kept.txt", "Books/a.epub"):
            os.makedirs(os.path.dirname(os.path.join(self.fs, name)), exist_ok=True)
            with open(os.path.join(self.fs, name), "w") as f:
                f.write(name)
        self.start_harlix()
        self.next_event(READY, self.udid)
        backup = self.back_up()
        expected = image_files(folder)
        # Content that came after the backup, in a folder the erase empties and in a nested one.
        for name in ("Downloads/after.txt", "DCIM/100APPLE/IMG_9999.JPG"):
            with open(os.path.join(self.fs, name), "w") as f:
                f.write("after")
        before = self.tree()

        # Bad arguments are answered before anything is touched.
        empty = os.path.join(self.tmp.path, "empty")
        os.makedirs(empty)
        # A backup that lost one of its files would leave the device empty: it is refused first.
        incomplete = os.path.join(self.tmp.path, "incomplete") + "/"
        shutil.copytree(backup, incomplete)
        blobs = sorted(name for name in os.listdir(incomplete) if len(name) == 2)
        os.remove(os.path.join(incomplete, blobs[0], sorted(os.listdir(os.path.join(incomplete, blobs[0])))[0]))
        args = {"path": backup, "sourceDeviceId": self.udid, "password": ""}
        for uuid, data, code in ((self.udid, dict(args, sourceDeviceId=None), 21), (self.udid, dict(args, path=""), 21),
                                 (self.udid, dict(args, path=empty), 42), (self.udid, dict(args, path=incomplete), 61),
                                 ("0000", args, 7), (None, args, 7)):
            _, final = self.run_request(ERASE, {"uuid": uuid} if uuid else {}, data)
            self.assertEqual((final[1], final[2]["code"]), (6, code), (uuid, data))
        self.assertEqual(self.tree(), before)

        progress, (_, status, record, _) = self.run_request(ERASE, {"uuid": self.udid}, args)
        self.assertEqual((status, record["code"], record["info"]), (1, 0, {"error": ""}))
        stages = {}
        for _, _, r, _ in progress:
            stages.setdefault(r["stage"], []).append(r["code"])
        self.assertEqual(stages[0], [100 * k // 23 for k in range(1, 23)] + [100])
        self.assertEqual(stages[2], [33, 66, 100])  # one step per app, each uninstalled in turn
        self.assertEqual(stages[1], sorted(set(stages[1])))  # the restore's progress only rises
        self.assertEqual(image_files(folder), expected)
        self.assertFalse(os.path.exists(os.path.join(self.fs, "Downloads", "after.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.fs, "DCIM", "100APPLE", "IMG_9999.JPG")))


if __name__ == "__main__":
    import unittest
    unittest.main()
