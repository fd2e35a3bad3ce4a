"""Filling the free space of a simulated iPhone with zero files (1701) through the Harlix process: the
passes of each level with progress that only rises, the scratch folder gone afterwards, a cancel in
the middle, and the requests that must be refused."""

import os

from harlix_process import READY, HarlixTestCase

import hlx_device  # noqa: E402

FILL, ERASE, CANCEL = 1701, 1700, 600
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
        # Content erase is not built: it answers as before; an unknown device gets 7.
        _, final = self.run_request(ERASE, {"uuid": self.udid}, {})
        self.assertEqual((final[1], final[2]["code"]), (6, 2))
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


if __name__ == "__main__":
    import unittest
    unittest.main()
