"""Contacts through the Harlix process and the simulated iPhone: the list (groups, then contacts, in
reply batches of at most 100) compared field by field with what plistlib reads from the device image
itself; contact, group and delete writes checked in the image after the session and in the
device's transcript of the session; and every way a request can go wrong."""

import base64
import datetime
import json
import os
import plistlib
import unittest

from sync_harness import ENTITY, SYNC_REFUSED, SyncTestCase, local_text

import make_address_book as ab  # noqa: E402

LIST, LIST_GROUPS, WRITE, DELETE, GROUP, DELETE_GROUP, GROUP_MEMBERS = 100, 101, 102, 103, 104, 105, 106


def changes(records):
    """A changes message as the desktop composes it: XML property-list text."""
    return plistlib.dumps(["SDMessageProcessChanges", "com.apple.Contacts", records], fmt=plistlib.FMT_XML).decode()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def expected_field(value):
    """What the list shows of a record value; None for values it leaves out."""
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return value
    if isinstance(value, datetime.datetime):
        return local_text(value)
    return None  # data is compared on its own; arrays are not fields


class ContactTest(SyncTestCase):
    first_request_id = 5001

    def list_contacts(self, udid):
        progress, final = self.run_request(LIST, {"uuid": udid})
        self.assert_final(final, 0, udid)
        return progress

    def split_list(self, progress, udid):
        """(groups count, group batches, contacts count, contact batches), checking the reply shapes."""
        parts = {LIST_GROUPS: [], LIST: []}
        order = []
        for command, status, record, data in progress:
            self.assertEqual(status, 2)
            self.assertIn(command, parts)
            self.assertEqual((record["uuid"], record["type"]), (udid, 0))
            order.append(command)
            parts[command].append((record, data))
        self.assertEqual(order, sorted(order, reverse=True), "groups (101) come before contacts (100)")
        result = []
        for command in (LIST_GROUPS, LIST):
            (count_record, count_data), batches = parts[command][0], parts[command][1:]
            self.assertEqual(count_record["stage"], 0)
            self.assertEqual(count_data, b"")
            count = count_record["info"]["Count"]
            decoded = []
            for record, data in batches:
                self.assertEqual(record["stage"], 1)
                self.assertEqual(record["info"], {"Count": count})
                decoded.append(json.loads(data.decode("utf-8"), object_pairs_hook=list))
            result += [count, decoded]
        return result

    # ---- the list -----------------------------------------------------------------------------

    def test_list_shows_every_group_contact_and_sub_record_of_the_image(self):
        def edit(book):
            records = book["records"]
            # An integer and a boolean field (the list shows the one as text and leaves the other out), and
            # a sub-record whose contact the device does not have.
            records["1"]["x-rank"] = 7
            records["1"]["x-flag"] = True
            records[str(book["nextRecordId"])] = {ENTITY: ab.PHONE, "contact": ["999999"], "value": "+1 000"}
            book["nextRecordId"] += 1

        udid, image = self.attach(contacts=250, contact_groups=3, edits={ab.STORE_FILE: edit})
        book = ab.read_address_book(image)["records"]
        self.start(udid)
        group_count, group_batches, contact_count, contact_batches = self.split_list(self.list_contacts(udid), udid)

        groups = {i: r for i, r in book.items() if r[ENTITY] == ab.GROUP}
        contacts = {i: r for i, r in book.items() if r[ENTITY] == ab.CONTACT}
        self.assertEqual((group_count, contact_count), (3, 250))
        self.assertEqual([len(b) for b in group_batches], [3])
        self.assertEqual([len(b) for b in contact_batches], [100, 100, 50])
        self.assertTrue(any(int(a) > 9 and a < "9" for a in contacts), "ids whose byte order is not numeric")

        listed_groups = dict(group_batches[0])
        self.assertEqual(set(listed_groups), set(groups))
        for group_id, pairs in listed_groups.items():
            record = groups[group_id]
            expected = sorted((k, v) for k, v in record.items() if isinstance(v, str))
            if record.get("members"):
                expected.append(("members", record["members"]))
            self.assertEqual(pairs, expected, group_id)

        owned = {}
        for sub_id, record in book.items():
            for owner in record.get("contact", []):
                owned.setdefault(owner, {}).setdefault(record[ENTITY], []).append(sub_id)
        listed = {}
        for batch in contact_batches:
            for contact_id, pairs in batch:
                self.assertNotIn(contact_id, listed)
                listed[contact_id] = pairs
        self.assertEqual(set(listed), set(contacts))
        for contact_id, pairs in listed.items():
            record = contacts[contact_id]
            fields = [(k, v) for k, v in pairs if not isinstance(v, list)]
            arrays = {k: v for k, v in pairs if isinstance(v, list)}
            self.assertEqual([k for k, _ in fields], sorted(k for k, _ in fields), "fields in key order")
            expected = {k: expected_field(v) for k, v in record.items() if expected_field(v) is not None}
            shown = dict(fields)
            if "image" in record:
                image_text = shown.pop("image")
                self.assertEqual(base64.b64decode("".join(image_text.split())), record["image"])
            self.assertEqual(shown, expected, contact_id)
            self.assertEqual(set(arrays), set(owned.get(contact_id, {})), contact_id)
            for entity, subs in arrays.items():
                self.assertEqual(sorted(s[0][1] for s in subs), sorted(owned[contact_id][entity]))
                for sub in subs:
                    self.assertEqual(sub[0][0], "id")
                    sub_record = book[sub[0][1]]
                    expected_sub = sorted((k, expected_field(v)) for k, v in sub_record.items()
                                          if k != "contact" and expected_field(v) is not None)
                    self.assertEqual(sub[1:], expected_sub)
        self.assertEqual(dict(listed["1"])["x-rank"], "7")
        self.assertNotIn("x-flag", dict(listed["1"]))
        self.assertTrue(any("birthday" in r for r in contacts.values()))

    def test_an_empty_list_counts_minus_one_only_when_an_account_holds_the_contacts(self):
        for account, expected in ((["Contacts"], -1), (["Calendars"], 0), ([], 0)):
            with self.subTest(account=account):
                udid, _ = self.attach(contacts=0, contact_groups=0, sync_account=account)
                self.start(udid)
                group_count, group_batches, contact_count, contact_batches = self.split_list(
                    self.list_contacts(udid), udid)
                self.assertEqual((group_count, group_batches, contact_count, contact_batches), (0, [], expected, []))
                self.peer.close()
                self.peer = None

    def test_two_lists_at_once_both_succeed(self):
        udid, _ = self.attach(contacts=120, contact_groups=2)
        self.start(udid)
        first = self.send(LIST, {"uuid": udid})
        second = self.send(LIST, {"uuid": udid})
        results = self.replies([first, second])
        for packet_id in (first, second):
            progress, final = results[packet_id]
            self.assert_final(final, 0, udid)
            counts = self.split_list(progress, udid)
            self.assertEqual((counts[0], counts[2]), (2, 120))
            self.assertEqual([len(b) for b in counts[3]], [100, 20])

    # ---- writes -------------------------------------------------------------------------------

    def test_a_new_contact_with_sub_records_is_written_and_its_ids_reported(self):
        udid, image = self.attach(contacts=12)
        before = ab.read_address_book(image)
        self.start(udid)
        data = {
            ab.CONTACT: changes({"tmp.1": {ENTITY: ab.CONTACT, "first name": "Nia", "last name": "Okafor & Sons",
                                           "birthday": datetime.datetime(1990, 1, 2)}}),
            ab.PHONE: changes({"p.1": {ENTITY: ab.PHONE, "contact": ["tmp.1"], "value": "+44 20 7946 0000",
                                       "type": "mobile"}}),
            ab.EMAIL: changes({"e.1": {ENTITY: ab.EMAIL, "contact": ["tmp.1"], "value": "nia@example.com",
                                       "type": "work"}}),
            ab.STREET: changes({"s.1": {ENTITY: ab.STREET, "contact": ["tmp.1"], "street": "1 Lane", "city": "Leeds",
                                        "postal code": "LS1", "country": "UK", "country code": "gb", "type": "home"}}),
        }
        progress, final = self.run_request(WRITE, {"uuid": udid}, data)
        self.assert_final(final, 0, udid)
        self.assertEqual(len(progress), 1)
        command, status, record, reply_data = progress[0]
        self.assertEqual((command, status, record["stage"], record["uuid"]), (WRITE, 2, 0, udid))
        remap = json.loads(reply_data.decode("utf-8"))
        self.assertEqual(list(remap), [ab.CONTACT, ab.PHONE, ab.EMAIL, ab.STREET])
        contact_id = remap[ab.CONTACT]["tmp.1"]
        new_ids = [contact_id] + [remap[e][k] for e, k in ((ab.PHONE, "p.1"), (ab.EMAIL, "e.1"), (ab.STREET, "s.1"))]
        self.assertTrue(all(i.isdigit() and i not in before["records"] for i in new_ids), new_ids)

        after = ab.read_address_book(image)["records"]
        self.assertEqual(after[contact_id], {ENTITY: ab.CONTACT, "first name": "Nia", "last name": "Okafor & Sons",
                                             "birthday": datetime.datetime(1990, 1, 2)})
        self.assertEqual(after[remap[ab.PHONE]["p.1"]]["contact"], [contact_id])
        self.assertEqual(after[remap[ab.STREET]["s.1"]]["city"], "Leeds")
        self.assertEqual(len(after), len(before["records"]) + 4)

        names = [m[0] for m in self.computer_messages(image)]
        self.assertEqual(names, ["DLMessageVersionExchange", "SDMessageSyncDataClassWithDevice",
                                 "SDMessageGetChangesFromDevice", "SDMessageAcknowledgeChangesFromDevice",
                                 "DLMessagePing"] + ["SDMessageProcessChanges"] * 4 + ["SDMessageFinishSessionOnDevice"])
        sent = self.computer_messages(image)[5:9]
        self.assertEqual(list(sent[0][2]), ["tmp.1"])
        # The sub-records went out carrying the device's id, not the desktop's.
        self.assertEqual([m[2][k]["contact"] for m, k in zip(sent[1:], ("p.1", "e.1", "s.1"))], [[contact_id]] * 3)

    def test_an_existing_contact_is_changed_in_place(self):
        udid, image = self.attach(contacts=5)
        before = ab.read_address_book(image)
        self.start(udid)
        progress, final = self.run_request(WRITE, {"uuid": udid}, {
            ab.CONTACT: changes({"1": {ENTITY: ab.CONTACT, "first name": "Renamed", "notes": "a.b(c"}})})
        self.assert_final(final, 0, udid)
        self.assertEqual(json.loads(progress[0][3].decode("utf-8")), {ab.CONTACT: {"1": "1"}})
        after = ab.read_address_book(image)
        self.assertEqual(after["records"]["1"], {ENTITY: ab.CONTACT, "first name": "Renamed", "notes": "a.b(c"})
        self.assertEqual(len(after["records"]), len(before["records"]))

    def test_an_id_is_replaced_as_text_never_as_a_pattern(self):
        # "a.c" as a pattern would match "abc" too, and "(" would not compile.
        udid, image = self.attach(contacts=2)
        self.start(udid)
        progress, final = self.run_request(WRITE, {"uuid": udid}, {
            ab.CONTACT: changes({"a.c(": {ENTITY: ab.CONTACT, "first name": "Dot"}}),
            ab.PHONE: changes({"abc(": {ENTITY: ab.PHONE, "contact": ["a.c("], "value": "abc( a.c("}})})
        self.assert_final(final, 0, udid)
        remap = json.loads(progress[0][3].decode("utf-8"))
        contact_id = remap[ab.CONTACT]["a.c("]
        phone = ab.read_address_book(image)["records"][remap[ab.PHONE]["abc("]]
        self.assertEqual((phone["contact"], phone["value"]), ([contact_id], "abc( " + contact_id))

    def test_a_contact_the_device_gives_no_id_is_refused_and_nothing_changes(self):
        udid, image = self.attach(contacts=3, settings={"remapNothing": True})
        before = read_bytes(os.path.join(image, ab.STORE_FILE))
        self.start(udid)
        progress, final = self.run_request(WRITE, {"uuid": udid}, {
            ab.CONTACT: changes({"n": {ENTITY: ab.CONTACT, "first name": "Nobody"}}),
            ab.PHONE: changes({"p": {ENTITY: ab.PHONE, "contact": ["n"], "value": "1"}})})
        self.assert_final(final, 28, udid)
        self.assertEqual(progress, [])
        self.assertEqual(read_bytes(os.path.join(image, ab.STORE_FILE)), before)
        names = [m[0] for m in self.computer_messages(image)]
        self.assertEqual(names[-1], "SDMessageProcessChanges", "no sub-record and no finish after the refusal")
        self.assertEqual(names.count("SDMessageProcessChanges"), 1)

    def test_deletes_cascade_to_own_sub_records_and_memberships(self):
        udid, image = self.attach(contacts=60, contact_groups=4, seed=5)
        book = ab.read_address_book(image)["records"]
        member = next(i for i in book if book[i][ENTITY] == ab.CONTACT
                      and any(i in r.get("members", []) for r in book.values()))
        group = next(i for i, r in book.items() if r[ENTITY] == ab.GROUP)
        self.start(udid)
        for code, key, removed in ((DELETE, member, member), (DELETE_GROUP, group, group), (DELETE, "99999", None)):
            with self.subTest(code=code, key=key):
                expected = ab.read_address_book(image)["records"]
                if removed:
                    del expected[removed]
                    for rid in list(expected):
                        r = expected[rid]
                        for field in ("contact", "members"):
                            if removed in r.get(field, []):
                                r[field] = [m for m in r[field] if m != removed]
                                if field == "contact" and not r[field]:
                                    del expected[rid]
                progress, final = self.run_request(code, {"uuid": udid}, {"id": key})
                self.assert_final(final, 0, udid)
                self.assertEqual(progress, [])
                self.assertEqual(ab.read_address_book(image)["records"], expected)
                names = [m[0] for m in self.computer_messages(image)]
                self.assertEqual(names[-4:], ["SDMessageAcknowledgeChangesFromDevice", "DLMessagePing",
                                              "SDMessageProcessChanges", "SDMessageFinishSessionOnDevice"])

    def test_an_id_carrying_markup_deletes_nothing_else(self):
        udid, image = self.attach(contacts=4)
        before = ab.read_address_book(image)["records"]
        self.start(udid)
        key = "1</key><string>___EmptyParameterString___</string><key>2"
        progress, final = self.run_request(DELETE, {"uuid": udid}, {"id": key})
        self.assert_final(final, 0, udid)
        self.assertEqual(ab.read_address_book(image)["records"], before)
        deletion = self.computer_messages(image)[-2]
        self.assertEqual(deletion[2], {key: "___EmptyParameterString___"}, "the id reached the device as one key")

    def test_groups_are_created_renamed_and_given_members(self):
        udid, image = self.attach(contacts=10, contact_groups=0)
        self.start(udid)
        name = "Friends & <Family> \"quoted\""
        progress, final = self.run_request(GROUP, {"uuid": udid}, {"id": "new-7", "name": name})
        self.assert_final(final, 0, udid)
        self.assertEqual([(p[0], p[1]) for p in progress], [(GROUP, 2)])
        reply = json.loads(progress[0][3].decode("utf-8"))
        group_id = reply["new-7"][0]
        self.assertEqual(reply, {"new-7": [group_id, name]})
        self.assertEqual(ab.read_address_book(image)["records"][group_id], {ENTITY: ab.GROUP, "name": name})

        progress, final = self.run_request(GROUP_MEMBERS, {"uuid": udid},
                                           {"guid": group_id, "id": group_id, "name": name, "members": ["1", "5"]})
        self.assert_final(final, 0, udid)
        self.assertEqual(json.loads(progress[0][3].decode("utf-8")), {group_id: [group_id, name]})
        self.assertEqual(progress[0][0], GROUP_MEMBERS)
        self.assertEqual(ab.read_address_book(image)["records"][group_id]["members"], ["1", "5"])

        progress, final = self.run_request(GROUP, {"uuid": udid}, {"id": group_id, "name": "Renamed"})
        self.assert_final(final, 0, udid)
        self.assertEqual(ab.read_address_book(image)["records"][group_id],
                         {ENTITY: ab.GROUP, "name": "Renamed", "members": ["1", "5"]}, "a rename keeps the members")

        progress, final = self.run_request(GROUP_MEMBERS, {"uuid": udid},
                                           {"guid": group_id, "id": group_id, "name": "Renamed", "members": []})
        self.assert_final(final, 0, udid)
        self.assertEqual(ab.read_address_book(image)["records"][group_id]["members"], [])

        # The device id is looked for under the guid's key; the message went under the id's.
        progress, final = self.run_request(GROUP_MEMBERS, {"uuid": udid},
                                           {"guid": "other", "id": group_id, "name": "X", "members": []})
        self.assert_final(final, 1, udid)
        self.assertEqual(progress, [])

    # ---- failures -----------------------------------------------------------------------------

    def test_bad_requests_are_answered_before_any_session(self):
        udid, image = self.attach(contacts=2)
        self.start(udid)
        contact = changes({"n": {ENTITY: ab.CONTACT}})
        cases = [
            # (code, JSON text, data bytes or object, expected code, expected uuid)
            (LIST, b"not json", None, 21, ""),
            (LIST, {"uuid": 5}, None, 21, ""),
            (LIST, {"uuid": "nobody"}, None, 7, "nobody"),
            (WRITE, {"uuid": udid}, None, 8, udid),
            (WRITE, {"uuid": udid}, b"not json at all", 8, udid),
            (WRITE, {"uuid": udid}, {"something": 1}, 8, udid),
            (WRITE, {"uuid": udid}, {ab.CONTACT: 5}, 8, udid),
            (WRITE, {"uuid": udid}, {ab.CONTACT: "<plist><array>broken"}, 8, udid),
            (WRITE, {"uuid": udid}, {ab.CONTACT: contact, ab.PHONE: "no plist"}, 8, udid),
            (WRITE, {"uuid": udid}, {ab.CONTACT: contact, ab.EMAIL: ["no", "text"]}, 8, udid),
            (DELETE, {"uuid": udid}, {}, 8, udid),
            (DELETE, {"uuid": udid}, {"id": 3}, 8, udid),
            (DELETE_GROUP, {"uuid": udid}, {"id": None}, 8, udid),
            (GROUP, {"uuid": udid}, {"id": "1"}, 8, udid),
            (GROUP, {"uuid": udid}, {"id": "1", "name": "bell\u0007"}, 8, udid),  # no XML text holds it
            (GROUP_MEMBERS, {"uuid": udid}, {"id": "1", "name": "n", "members": []}, 8, udid),
            (GROUP_MEMBERS, {"uuid": udid}, {"guid": "g", "id": "1", "name": "n", "members": ["1", 2]}, 8, udid),
            (GROUP_MEMBERS, {"uuid": udid}, {"guid": "g", "id": "1", "name": "n", "members": "1"}, 8, udid),
        ]
        for code, text, data, want, want_uuid in cases:
            with self.subTest(code=code, text=text, data=data):
                progress, final = self.run_request(code, text, data)
                self.assert_final(final, want, want_uuid)
                self.assertEqual(progress, [])
        self.assertEqual(ab.read_transcripts(image), [], "no request above opened a session")
        # Sub-command 0 does nothing; request 101 does nothing.
        for code, sub in ((LIST, 0), (LIST_GROUPS, 1)):
            progress, final = self.run_request(code, {"uuid": udid}, sub=sub)
            self.assert_final(final, 0, udid)
            self.assertEqual(progress, [])
        self.assertEqual(ab.read_transcripts(image), [])

    def test_a_device_that_refuses_cancels_or_hangs_up_fails_the_request(self):
        cases = [
            # (image options, request, data, expected code)
            ({"without_service": ["com.apple.mobilesync"]}, LIST, None, 13),
            ({"settings": {"refuseClasses": ["com.apple.Contacts"]}}, LIST, None, SYNC_REFUSED),
            ({"settings": {"cancelOn": "SDMessageGetAllRecordsFromDevice"}}, LIST, None, SYNC_REFUSED),
            ({"settings": {"dropAnswerTo": "SDMessageAcknowledgeChangesFromDevice"}}, LIST, None, 24),
            ({"settings": {"dropAnswerTo": "SDMessageSyncDataClassWithDevice"}}, DELETE, {"id": "1"}, 24),
            ({"settings": {"cancelOn": "SDMessageFinishSessionOnDevice"}}, DELETE, {"id": "1"},
             SYNC_REFUSED),
            ({"settings": {"refuseClasses": ["com.apple.Contacts"]}}, GROUP, {"id": "g", "name": "n"},
             SYNC_REFUSED),
            ({"settings": {"dropAnswerTo": "SDMessageProcessChanges"}}, WRITE,
             {ab.CONTACT: changes({"n": {ENTITY: ab.CONTACT}})}, 24),
            ({"settings": {"dropAnswerTo": "SDMessageFinishSessionOnDevice"}}, GROUP, {"id": "g", "name": "n"}, 24),
        ]
        for options, code, data, want in cases:
            with self.subTest(options=options, code=code):
                udid, image = self.attach(contacts=2, **options)
                before = read_bytes(os.path.join(image, ab.STORE_FILE))
                self.start(udid)
                progress, final = self.run_request(code, {"uuid": udid}, data)
                self.assert_final(final, want, udid)
                self.assertEqual(progress, [], "nothing is reported of a session that failed")
                self.assertEqual(read_bytes(os.path.join(image, ab.STORE_FILE)), before)
                self.peer.close()
                self.peer = None


if __name__ == "__main__":
    unittest.main()
