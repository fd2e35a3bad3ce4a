"""Calendars through the Harlix process and the simulated iPhone: the list (calendars with their
events, recurrences and alarms, in replies of at most 20 calendars) compared member by member with
the image's calendars.plist as plistlib reads it, a calendar written with its events, alarm and
recurrence whose references reach the image as device ids, a delete that cascades, and the
requests that must fail."""

import json
import plistlib
import unittest

from sync_harness import ENTITY, SYNC_REFUSED, SyncTestCase, local_text, utc_text

import make_address_book as ab  # noqa: E402
import make_sync_data as sd  # noqa: E402

LIST, WRITE, DELETE = 1500, 1501, 1502
ENTITY_MEMBER = "com_apple_syncservices_RecordEntityName"


def expected_calendars(records):
    """The listed calendars of an image's records, in id byte order."""
    def of(entity):
        return {i: r for i, r in sorted(records.items()) if r[ENTITY] == entity}

    events, recurrences, alarms = of(sd.EVENT), of(sd.RECURRENCE), of(sd.ALARM)

    def owner(record):
        return next((o for o in record.get("owner", []) if o in events), None)

    recurrence_of = {owner(r): i for i, r in recurrences.items() if owner(r)}
    alarms_of = {}
    for i, r in alarms.items():
        if owner(r):
            alarms_of.setdefault(owner(r), []).append(i)

    def moment(record, key):
        return (local_text(record[key]), utc_text(record[key])) if key in record else ("", "")

    def event(i):
        r = events[i]
        start, end = moment(r, "start date"), moment(r, "end date")
        listed = {"id": i, "start_date": start[0], "start_date_source": start[1], "end_date": end[0],
                  "end_date_source": end[1], "url": r.get("url", ""), "all_day": r.get("all day", 0),
                  "start_date_timezone": r.get("start date.timezone", ""), ENTITY_MEMBER: sd.EVENT,
                  "summary": r.get("summary", ""), "description": r.get("description", ""),
                  "location": r.get("location", "")}
        if i in recurrence_of:
            rec = recurrences[recurrence_of[i]]
            until = moment(rec, "until")
            listed["recurrence"] = {"id": recurrence_of[i], "frequency": rec.get("frequency", ""), "until": until[0],
                                    "until_source": until[1], "interval": rec.get("interval", 0),
                                    ENTITY_MEMBER: sd.RECURRENCE}
        if i in alarms_of:
            listed["display_alarms"] = [{"id": a, "description": alarms[a].get("description", ""),
                                         "triggerduration": alarms[a].get("triggerduration", 0),
                                         ENTITY_MEMBER: sd.ALARM} for a in alarms_of[i]]
        return listed

    return [{"id": i, "title": r.get("title", ""), ENTITY_MEMBER: sd.CALENDAR, "read_only": r.get("read only", 0),
             "colorComponents": (r.get("colorComponents", []) + [0, 0, 0, 0])[:4],
             "events": [event(e) for e in events if i in events[e].get("calendar", [])]}
            for i, r in of(sd.CALENDAR).items()]


def calendars_of(image):
    return sd.read_store(image, sd.CALENDARS_FILE)["records"]


def changes(records):
    return plistlib.dumps(["SDMessageProcessChanges", "com.apple.Calendars", records], fmt=plistlib.FMT_XML).decode()


class CalendarTest(SyncTestCase):
    first_request_id = 9001

    def check_list(self, udid, image):
        records = calendars_of(image)
        count, batches = self.run_list(LIST, udid)
        listed = [c for batch in batches for c in batch]
        self.assertEqual(count, len(listed))
        self.assertEqual(listed, expected_calendars(records))
        return count, batches

    def test_calendars_of_several_batches_are_listed_with_their_events_in_replies_of_20(self):
        # Children come in earlier batches than their parents: they are linked once all are in.
        order = {"com.apple.Calendars": [sd.ALARM, sd.RECURRENCE, sd.EVENT, sd.CALENDAR]}
        udid, image = self.attach(sync_data={"calendars": 45}, settings={"batchRecords": 40, "entityOrder": order})
        self.start(udid)
        count, batches = self.check_list(udid, image)
        self.assertEqual(count, 45)
        self.assertEqual([len(b) for b in batches], [20, 20, 5])
        events = [e for b in batches for c in b for e in c["events"]]
        self.assertGreater(len(events), len({e["id"] for e in events}), "an event in two calendars")
        self.assertTrue(any("recurrence" in e and "display_alarms" in e for e in events))
        self.assertEqual(list(batches[0][0]), ["id", "title", ENTITY_MEMBER, "read_only", "colorComponents", "events"])

    def test_a_calendar_is_written_with_references_rewritten_and_deleted_with_its_events(self):
        udid, image = self.attach(sync_data={"calendars": 2})
        self.start(udid)
        # The second event's id holds the calendar's: only whole references are rewritten.
        calendar, first, second = "cal.(1)", "ev+1", "cal.(1)+2"
        data = {
            sd.CALENDAR: changes({calendar: {ENTITY: sd.CALENDAR, "title": "New <cal> & co", "read only": 0,
                                             "colorComponents": [1, 2, 3, 255]}}),
            sd.EVENT: changes({e: {ENTITY: sd.EVENT, "summary": e, "calendar": [calendar]} for e in (first, second)}),
            sd.ALARM: changes({"al": {ENTITY: sd.ALARM, "description": "Soon", "triggerduration": -60,
                                      "owner": [first]}}),
            sd.RECURRENCE: changes({"rec": {ENTITY: sd.RECURRENCE, "frequency": "weekly", "interval": 2,
                                            "owner": [second]}}),
        }
        progress, final = self.run_request(WRITE, {"uuid": udid}, data)
        self.assert_final(final, 0, udid)
        remap = json.loads(progress[0][3].decode("utf-8"))
        self.assertEqual(list(remap), [sd.CALENDAR, sd.EVENT, sd.ALARM, sd.RECURRENCE])
        records = calendars_of(image)
        device_calendar = remap[sd.CALENDAR][calendar]
        self.assertEqual(records[device_calendar]["title"], "New <cal> & co")
        for sent in (first, second):
            self.assertEqual(records[remap[sd.EVENT][sent]]["calendar"], [device_calendar])
            self.assertEqual(records[remap[sd.EVENT][sent]]["summary"], sent)
        self.assertEqual(records[remap[sd.ALARM]["al"]]["owner"], [remap[sd.EVENT][first]])
        self.assertEqual(records[remap[sd.RECURRENCE]["rec"]]["owner"], [remap[sd.EVENT][second]])
        pings = [m for m in self.computer_messages(image) if m[0] == "DLMessagePing"]
        self.assertEqual(pings, [["DLMessagePing", "Preparing to get changes for device"]])
        self.check_list(udid, image)

        progress, final = self.run_request(DELETE, {"uuid": udid}, {"id": device_calendar})
        self.assert_final(final, 0, udid)
        new_ids = {device_calendar} | {v for m in remap.values() for v in m.values()}
        after = calendars_of(image)
        self.assertEqual(set(records) - set(after), new_ids)
        self.check_list(udid, image)

    def test_bad_requests_and_failed_sessions_are_reported(self):
        udid, image = self.attach(sync_data={"calendars": 1})
        self.start(udid)
        good = changes({"c": {ENTITY: sd.CALENDAR, "title": "t"}})
        self.assert_bad_data(udid, [(WRITE, {}), (WRITE, {sd.CALENDAR: 5}), (WRITE, {sd.CALENDAR: "<plist>broken"}),
                                    (WRITE, {sd.CALENDAR: good, sd.EVENT: ["x"]}), (DELETE, {}), (DELETE, {"id": 1})])
        self.assertEqual(ab.read_transcripts(image), [], "no request above opened a session")
        self.peer.close()
        self.peer = None
        self.assert_sessions_fail([({"refuseClasses": ["com.apple.Calendars"]}, LIST, None, SYNC_REFUSED),
                                   ({"remapNothing": True}, WRITE, {sd.CALENDAR: good}, 29),
                                   ({"dropAnswerTo": "SDMessageSyncDataClassWithDevice"}, DELETE, {"id": "1"}, 24)],
                                  sd.CALENDARS_FILE, sync_data={"calendars": 1})


if __name__ == "__main__":
    unittest.main()
