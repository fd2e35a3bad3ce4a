"""Requests through the Harlix process: the reply frame, the shared codes, dispatch on the
worker pool, and cancellation."""

import json
import unittest
import zlib

from harlix_process import HARLIX, TempDir, environment, expect_monitor_status, hlx_peer, start_sleeper

CANCEL = 600
LONG_TASK = 9000   # test probe: runs until cancelled
DATA_REPLY = 9001  # test probe: a reply with a data part


def split_reply(body):
    flag, rest = body.split(b"\0", 1)
    text, data = rest.split(b"\0", 1)
    return flag, json.loads(text.decode("utf-8")), data


class RequestTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.sleeper = start_sleeper()
        cls.peer = hlx_peer.Peer(HARLIX, watched_pid=cls.sleeper.pid,
                                 env=environment(cls.tmp.path, HLX_TEST_MODULES=1))
        cls.peer.start()
        cls.peer.accept()
        cls.next_id = 1000

    def setUp(self):
        if not getattr(type(self), "monitor_status_seen", False):
            type(self).monitor_status_seen = True
            expect_monitor_status(self, self.peer)

    @classmethod
    def tearDownClass(cls):
        cls.peer.close()
        cls.sleeper.kill()
        cls.sleeper.wait()
        cls.tmp.cleanup()

    def request(self, code, json_text, sub=1, data=None):
        type(self).next_id += 1
        packet_id = self.next_id
        self.peer.send(packet_id, code, 0, hlx_peer.encode_request(sub, json_text, data))
        return packet_id

    def final_reply(self, packet_id, timeout=20):
        while True:
            item = self.peer.receive(timeout=timeout)
            self.assertIsNotNone(item, "no reply to request %d" % packet_id)
            if item["id"] == packet_id and item["status"] != 2:
                return item

    def test_shared_codes_and_packet_status(self):
        cases = [
            # (code, JSON text, expected code, expected uuid, expected packet status)
            (CANCEL, b"not json", 21, "", 6),
            (CANCEL, b"", 21, "", 6),
            (CANCEL, {"uuid": "0000-unknown", "code": 4}, 7, "0000-unknown", 6),
            (CANCEL, {"uuid": "", "code": 123456}, 0, "", 1),
            (CANCEL, {}, 0, "", 1),
            (300, {}, 9, "", 6),                       # a module that needs a device: no library is bound
            (300, b"{broken", 21, "", 6),
            (100, {"uuid": "no-such-device"}, 9, "no-such-device", 6),
            (16, {"uuid": ""}, 8, "", 6),              # a module needing no device; no "info"
        ]
        for code, text, want_code, want_uuid, want_status in cases:
            with self.subTest(code=code, text=text):
                reply = self.final_reply(self.request(code, text))
                self.assertEqual(reply["command"], code)
                self.assertEqual(reply["status"], want_status)
                flag, record, data = split_reply(reply["body"])
                self.assertEqual(flag, b"1")
                self.assertEqual(record, {"stage": 0, "code": want_code, "uuid": want_uuid, "type": 0})
                self.assertEqual(data, b"")

    def test_reply_bytes_are_flag_record_and_empty_data_part(self):
        reply = self.final_reply(self.request(CANCEL, {"uuid": "abc", "code": 1}))
        self.assertEqual(reply["body"], b'1\0{"stage":0,"code":7,"uuid":"abc","type":0}\0')

    def test_uuid_with_quote_and_backslash_still_parses(self):
        uuid = 'odd"uuid\\with\u00e9'
        reply = self.final_reply(self.request(CANCEL, {"uuid": uuid, "code": 1}))
        _, record, _ = split_reply(reply["body"])
        self.assertEqual(record["uuid"], uuid)
        self.assertEqual(record["code"], 7)

    def test_body_without_nuls_is_answered_not_overread(self):
        type(self).next_id += 1
        packet_id = self.next_id
        self.peer.send(packet_id, CANCEL, 0, b"1")  # no JSON part at all
        reply = self.final_reply(packet_id)
        self.assertEqual(split_reply(reply["body"])[1]["code"], 21)

    def test_unknown_code_gets_one_failed_final_reply(self):
        unknown = self.request(4242, {"uuid": ""})
        reply = self.final_reply(unknown)
        _, record, _ = split_reply(reply["body"])
        self.assertEqual((reply["status"], record["code"]), (6, 2))
        self.assertIsNone(self.peer.receive(timeout=0.3), "second packet for %d" % unknown)

    def test_data_part_is_zlib_compressed_for_type_0_and_raw_otherwise(self):
        for data_type in (0, 1):
            with self.subTest(type=data_type):
                reply = self.final_reply(self.request(DATA_REPLY, {"size": 100000, "type": data_type}))
                _, record, data = split_reply(reply["body"])
                self.assertEqual(record["type"], data_type)
                expected = bytes(((i * 7) ^ (i >> 8)) & 0xFF for i in range(100000))
                self.assertEqual(zlib.decompress(data) if data_type == 0 else data, expected)

    def test_two_hundred_requests_each_get_one_final_reply(self):
        ids = [self.request(CANCEL if i % 2 else 300, {"uuid": "", "code": i}) for i in range(200)]
        seen = {}
        while len(seen) < len(ids):
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item, "%d replies missing" % (len(ids) - len(seen)))
            self.assertNotIn(item["id"], seen, "second reply to %d" % item["id"])
            seen[item["id"]] = item["status"]
        self.assertEqual(sorted(seen), ids)
        self.assertIsNone(self.peer.receive(timeout=0.3))

    def test_eleven_long_tasks_run_ten_at_a_time_and_cancel_ends_them(self):
        ids = [self.request(LONG_TASK, {"ms": -1}) for _ in range(11)]
        started = []
        while len(started) < 10:
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item)
            self.assertEqual(item["status"], 2)
            started.append(item["id"])
        self.assertEqual(sorted(started), ids[:10])
        self.assertIsNone(self.peer.receive(timeout=0.5), "an eleventh task started with ten running")

        # The cancel gets through although every worker is busy.
        cancel = self.request(CANCEL, {"uuid": "", "code": ids[0]})
        replies = {}
        while len(replies) < 3:
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item)
            replies[(item["id"], item["status"])] = item
        self.assertIn((cancel, 1), replies)
        self.assertIn((ids[10], 2), replies)  # the eleventh starts once a worker is free
        cancelled = replies[(ids[0], 5)]
        self.assertEqual(split_reply(cancelled["body"])[1]["code"], 6)

        for packet_id in ids[1:]:
            self.request(CANCEL, {"uuid": "", "code": packet_id})
        finals = set()
        while len(finals) < 10:
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item)
            if item["command"] == LONG_TASK:
                self.assertEqual(item["status"], 5)
                finals.add(item["id"])
        self.assertEqual(finals, set(ids[1:]))
        while self.peer.receive(timeout=0.3) is not None:
            pass  # the cancels' own replies

    def test_a_long_task_cancelled_while_queued_answers_cancelled(self):
        ids = [self.request(LONG_TASK, {"ms": -1}) for _ in range(11)]
        started = set()
        while len(started) < 10:
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item)
            started.add(item["id"])
        queued = ids[10]
        self.assertNotIn(queued, started)
        # Cancelled while it waits for a worker; once one is free it answers 6 and never starts.
        self.request(CANCEL, {"uuid": "", "code": queued})
        for packet_id in ids[:10]:
            self.request(CANCEL, {"uuid": "", "code": packet_id})
        finals = {}
        while len(finals) < 11:
            item = self.peer.receive(timeout=20)
            self.assertIsNotNone(item, "no final reply to %s" % sorted(set(ids) - set(finals)))
            if item["command"] == LONG_TASK:
                self.assertNotEqual((item["id"], item["status"]), (queued, 2), "the cancelled task started")
                if item["status"] != 2:
                    finals[item["id"]] = (item["status"], split_reply(item["body"])[1]["code"])
        self.assertEqual(finals, {packet_id: (5, 6) for packet_id in ids})
        while self.peer.receive(timeout=0.3) is not None:
            pass  # the cancels' own replies


if __name__ == "__main__":
    unittest.main()
