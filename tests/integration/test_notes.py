"""Notes through the Harlix process and the simulated iPhone: the list (count, then batches of at
most 20) compared member by member with the image's notes.plist as plistlib reads it, a note added
and found in the image and in the session's transcript, and the requests that must fail."""

import datetime
import json
import unittest

from sync_harness import ENTITY, SYNC_REFUSED, SyncTestCase, local_text, utc_text

import make_sync_data as sd  # noqa: E402

LIST, ADD = 1200, 1201
MEMBERS = ["id", "guid", "subject", "author", "content", "dateCreated", "dateCreatedSource", "dateModified",
           "dateModifiedSource", "contentType", "com_apple_syncservices_RecordEntityName"]


def expected_note(note_id, record):
    """The listed note of an image record."""
    note = {"id": note_id, "guid": "", "com_apple_syncservices_RecordEntityName": record[ENTITY]}
    for key in ("subject", "author", "content", "contentType"):
        note[key] = record.get(key, "")
    for key in ("dateCreated", "dateModified"):
        note[key] = local_text(record[key]) if key in record else ""
        note[key + "Source"] = utc_text(record[key]) if key in record else ""
    return note


def notes_of(image):
    return sd.read_store(image, sd.NOTES_FILE)["records"]


class NoteTest(SyncTestCase):
    first_request_id = 7001

    def test_notes_of_two_device_batches_are_listed_in_replies_of_20(self):
        def edit(store):
            # A note without a modification date lists it as "".
            del store["records"]["4"]["dateModified"]

        udid, image = self.attach(sync_data={"notes": 41}, settings={"batchRecords": 30},
                                  edits={sd.NOTES_FILE: edit})
        records = notes_of(image)
        self.start(udid)
        count, batches = self.run_list(LIST, udid)
        self.assertEqual(count, 41)
        self.assertEqual([len(b) for b in batches], [20, 20, 1])
        listed = [note for batch in batches for note in batch]
        self.assertEqual(sorted(int(n["id"]) for n in listed), sorted(int(i) for i in records))
        for note in listed:
            self.assertEqual(list(note), MEMBERS)
            self.assertEqual(note, expected_note(note["id"], records[note["id"]]))
        # Both device batches were read: the session acknowledged until the device had no more.
        names = [m[0] for m in self.computer_messages(image)]
        self.assertEqual(names.count("SDMessageAcknowledgeChangesFromDevice"), 2)

    def test_an_empty_list_counts_minus_one_only_when_an_account_holds_the_notes(self):
        plain, _ = self.attach(sync_data={"notes": 0})
        synced, _ = self.attach(sync_data={"notes": 0}, sync_account=["Notes"])
        self.start(plain)
        self.next_event(1, synced)
        self.assertEqual(self.run_list(LIST, plain), (0, []))
        self.assertEqual(self.run_list(LIST, synced), (-1, []))

    def test_a_note_with_markup_and_emoji_is_added_and_listed(self):
        udid, image = self.attach(sync_data={"notes": 2})
        self.start(udid)
        title = "Plan <b>&</b> \"quotes\" \U0001f600"
        content = "Line 1 & <2>\n]]> caf\u00e9 \U0001f30d"
        sent_id = "new&<id>"
        before = datetime.datetime.utcnow().replace(microsecond=0)
        progress, final = self.run_request(ADD, {"uuid": udid}, {"id": sent_id, "title": title, "content": content})
        after = datetime.datetime.utcnow()
        self.assert_final(final, 0, udid)
        self.assertEqual(len(progress), 1)
        command, status, record, data = progress[0]
        self.assertEqual((command, status, record["stage"], record["uuid"]), (ADD, 2, 0, udid))
        [note] = json.loads(data.decode("utf-8"))
        self.assertEqual(list(note), MEMBERS)
        moment = datetime.datetime.strptime(note["dateCreatedSource"], "%Y-%m-%dT%H:%M:%SZ")
        self.assertTrue(before <= moment <= after, (before, moment, after))

        records = notes_of(image)
        self.assertEqual(len(records), 3)
        stored = records[note["id"]]
        self.assertEqual((stored["subject"], stored["content"], stored[ENTITY]), (title, content, "com.apple.notes.Note"))
        self.assertEqual(stored["dateCreated"], moment)
        self.assertEqual(note, dict(expected_note(note["id"], stored), guid=sent_id, author=""))
        added = [m for m in self.computer_messages(image) if m[0] == "SDMessageProcessChanges"]
        self.assertEqual(list(added[0][2]), [sent_id], "the id travels as a key, not as markup")
        # The added note is listed like any other.
        count, batches = self.run_list(LIST, udid)
        self.assertIn(dict(note, guid=""), batches[0])

    def test_bad_requests_and_failed_sessions_are_reported(self):
        udid, image = self.attach(sync_data={"notes": 1})
        self.start(udid)
        self.assert_bad_data(udid, [(ADD, data) for data in (None, {}, {"id": 5}, {"id": ""}, {"id": "a", "title": 1},
                                                            {"id": "a", "content": ["x"]}, {"id": "bell\u0007"})])
        self.assertEqual(len(notes_of(image)), 1)
        self.peer.close()
        self.peer = None
        self.assert_sessions_fail([({"refuseClasses": ["com.apple.Notes"], "batchRecords": 10}, LIST, None,
                                    SYNC_REFUSED),
                                   ({"dropAnswerTo": "SDMessageSyncDataClassWithDevice"}, LIST, None, 24),
                                   ({"dropAnswerTo": "SDMessageAcknowledgeChangesFromDevice", "batchRecords": 10},
                                    LIST, None, 24),
                                   ({"refuseClasses": ["com.apple.Notes"]}, ADD, {"id": "n"}, SYNC_REFUSED)],
                                  sd.NOTES_FILE, sync_data={"notes": 25})
        # A note the device keeps without naming its id: 30, and nothing is reported.
        udid, image = self.attach(sync_data={"notes": 1}, settings={"remapNothing": True})
        self.start(udid)
        progress, final = self.run_request(ADD, {"uuid": udid}, {"id": "n"})
        self.assert_final(final, 30, udid)
        self.assertEqual(progress, [])


if __name__ == "__main__":
    unittest.main()
