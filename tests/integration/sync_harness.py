"""What the tests of the synchronisation modules (contacts, notes, bookmarks, calendars) share: an
image made and edited before Harlix starts, Harlix in a pinned time zone, requests with their
progress and final replies, the list replies split into count and batches, and the device's
transcripts."""

import json

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase

import hlx_device  # noqa: E402 (the tools folder is importable through harlix_process)
import make_address_book as ab  # noqa: E402
import make_sync_data as sd  # noqa: E402

ENTITY = ab.ENTITY_KEY
# The code of a request whose session the device refused or cancelled (the book codes hold 32 to 39
# but this one: 32 is a book list that cannot be read).
SYNC_REFUSED = 35


def local_text(moment):
    return (moment + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")


def utc_text(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


class SyncTestCase(HarlixTestCase):
    # ---- set-up -------------------------------------------------------------------------------

    def attach(self, edits=None, settings=None, **options):
        """Makes and attaches an image; returns (udid, image folder). `edits` maps a store file to a
        function that edits the store before Harlix starts; `settings` is the image's sync.json."""
        image = self.lab.make(**options)
        for name, edit in (edits or {}).items():
            store = sd.read_store(image["path"], name)
            edit(store)
            sd.write_store(image["path"], name, store)
        if settings is not None:
            ab.write_sync_settings(image["path"], **settings)
        udid = self.lab.attach(image)
        return udid, hlx_device.image_folder(udid, root=self.lab.root)

    def start(self, udid, env=None):
        self.start_harlix(dict({"TZ": PINNED_TZ}, **(env or {})))
        self.next_event(READY, udid)

    # ---- requests (send, replies, run_request and assert_final come from HarlixTestCase) ----------

    def run_list(self, code, udid):
        """A list request that succeeds: (count, decoded record batches), checking the reply shapes
        (a count reply, then record replies with the count's info, all with the request's code)."""
        progress, final = self.run_request(code, {"uuid": udid})
        self.assert_final(final, 0, udid)
        self.assertTrue(progress, "a count reply")
        batches = []
        for index, (command, status, record, data) in enumerate(progress):
            self.assertEqual((command, status, record["uuid"], record["type"]), (code, 2, udid, 0))
            self.assertEqual(record["stage"], 0 if index == 0 else 1)
            if index == 0:
                self.assertEqual(data, b"")
                count = record["info"]["Count"]
            else:
                self.assertEqual(record["info"], {"Count": count})
                batches.append(json.loads(data.decode("utf-8")))
        return count, batches

    def assert_bad_data(self, udid, cases):
        """Each case (request code, data) ends with code 8 (bad data) and reports nothing."""
        for code, data in cases:
            with self.subTest(code=code, data=data):
                progress, final = self.run_request(code, {"uuid": udid}, data)
                self.assert_final(final, 8, udid)
                self.assertEqual(progress, [])

    def assert_sessions_fail(self, cases, store_file, **image_options):
        """Each case (sync.json settings, request code, data, expected code) runs on an image and a
        Harlix of its own: the request ends with that code, reports nothing, and the store file is
        as it was (the device commits nothing of a failed session)."""
        for settings, code, data, want in cases:
            with self.subTest(settings=settings, code=code):
                udid, image = self.attach(settings=settings, **image_options)
                before = sd.read_store(image, store_file)
                self.start(udid)
                progress, final = self.run_request(code, {"uuid": udid}, data)
                self.assert_final(final, want, udid)
                self.assertEqual(progress, [], "nothing is reported of a session that failed")
                self.assertEqual(sd.read_store(image, store_file), before)
                self.peer.close()
                self.peer = None

    def computer_messages(self, image):
        """The messages the device received in its last session."""
        transcript = ab.read_transcripts(image)[-1]
        return [m["message"] for m in transcript if m["from"] == "computer"]
