"""The request frame through the real Harlix: a request sent the instant the connection is up is
answered on every start, a uuid that is not UTF-8 never comes back raw, and a NUL in any text of a
request is refused before anything reaches the device."""

import json
import plistlib
import unittest

from harlix_process import HARLIX, DeviceLab, TempDir, environment, hlx_peer, start_sleeper

import hlx_device  # noqa: E402 (the tools folder is importable through harlix_process)
import make_address_book as ab  # noqa: E402

READY = 1
DEVICE_INFO, WRITE_CONTACT, WRITE_GROUP = 300, 102, 104


def final_reply(test, peer, packet_id):
    """The final reply of a request as (status, record), skipping status packets and events."""
    while True:
        item = peer.receive(timeout=20)
        test.assertIsNotNone(item, "no final reply to request %d" % packet_id)
        if item["id"] == packet_id and item["status"] != 2:
            text = item["body"].split(b"\0")[1]
            return item["status"], json.loads(text.decode("utf-8"))  # strict UTF-8: raw bytes fail here


class FrameTest(unittest.TestCase):
    def setUp(self):
        self.tmp = TempDir()
        self.sleeper = start_sleeper()
        self.peer = None

    def tearDown(self):
        if self.peer:
            self.peer.close()
        self.sleeper.kill()
        self.sleeper.wait()
        self.tmp.cleanup()

    def test_a_request_sent_as_the_connection_opens_is_answered_on_every_start(self):
        for start in range(40):
            with self.subTest(start=start):
                peer = hlx_peer.Peer(HARLIX, watched_pid=self.sleeper.pid, env=environment(self.tmp.path))
                try:
                    peer.start()
                    peer.accept()
                    peer.send(1, DEVICE_INFO, 0, hlx_peer.encode_request(1, {}))
                    # 9 (no device library bound: no device can exist) comes from the module's frame,
                    # not from a missing module.
                    self.assertEqual(final_reply(self, peer, 1)[1]["code"], 9)
                finally:
                    peer.close()

    def test_a_uuid_that_is_not_utf8_is_refused_and_never_echoed(self):
        self.peer = hlx_peer.Peer(HARLIX, watched_pid=self.sleeper.pid, env=environment(self.tmp.path))
        self.peer.start()
        self.peer.accept()
        for packet_id, text in enumerate([b'{"uuid":"\xff\xfe\x22"}', b'{"uuid":"ab\xc0\xafcd"}'], 1):
            self.peer.send(packet_id, DEVICE_INFO, 0, hlx_peer.encode_request(1, text))
            status, record = final_reply(self, self.peer, packet_id)
            self.assertEqual((status, record), (6, {"stage": 0, "code": 21, "uuid": "", "type": 0}))

    def test_a_nul_in_a_contact_or_group_text_is_refused_before_any_session(self):
        lab = DeviceLab(self.tmp.path)
        self.addCleanup(lab.close)
        udid = lab.attach(lab.make(contacts=2))
        image = hlx_device.image_folder(udid, root=lab.root)
        self.peer = hlx_peer.Peer(HARLIX, watched_pid=self.sleeper.pid, env=lab.env(self.tmp.path))
        self.peer.start()
        self.peer.accept()
        while True:
            item = self.peer.receive(timeout=30)
            self.assertIsNotNone(item, "the device did not become ready")
            if item["id"] == 0 and item["command"] == READY:
                break
        before = ab.read_address_book(image)["records"]
        contact = plistlib.dumps(["SDMessageProcessChanges", "com.apple.Contacts",
                                  {"tmp.1": {ab.ENTITY_KEY: ab.CONTACT, "first name": "AnXn"}}],
                                 fmt=plistlib.FMT_XML).decode().replace("AnXn", "An\0n")
        cases = [
            (WRITE_CONTACT, {ab.CONTACT: contact}),
            (WRITE_GROUP, {"id": "1", "name": "Fri\0ends"}),
        ]
        for packet_id, (code, data) in enumerate(cases, 1):
            with self.subTest(code=code):
                self.peer.send(packet_id, code, 0, hlx_peer.encode_request(1, {"uuid": udid}, json.dumps(data)))
                self.assertEqual(final_reply(self, self.peer, packet_id)[1]["code"], 8)
        self.assertEqual(ab.read_transcripts(image), [], "a session was opened")
        self.assertEqual(ab.read_address_book(image)["records"], before)


if __name__ == "__main__":
    unittest.main()
