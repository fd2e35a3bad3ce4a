#!/usr/bin/env python3
"""Notes, bookmarks and calendars of a simulated device image: what the device's synchronisation
service ("com.apple.mobilesync") serves for the classes "com.apple.Notes", "com.apple.Bookmarks"
and "com.apple.Calendars". make_device_image.py calls write_sync_data(); tests read the stores back
with read_store(). Standard library only.

Each class is one store file in the image, in the format of the address book
(make_address_book.py): {"nextRecordId": n, "records": {id: record}}, every record holding
"com.apple.syncservices.RecordEntityName". Ids are numeric texts handed out in the order the
records are made. Dates are plist dates.

    make_sync_data.py IMAGE [--seed N] [--notes N] [--bookmarks N] [--calendars N]
"""

import argparse
import datetime
import json
import os
import plistlib
import random
import sys

ENTITY_KEY = "com.apple.syncservices.RecordEntityName"
NOTES_FILE = "notes.plist"
NOTE = "com.apple.notes.Note"
DEFAULT_NOTES = 5
BOOKMARKS_FILE = "bookmarks.plist"
FOLDER = "com.apple.bookmarks.Folder"
BOOKMARK = "com.apple.bookmarks.Bookmark"
DEFAULT_BOOKMARKS = 5
CALENDARS_FILE = "calendars.plist"
CALENDAR = "com.apple.calendars.Calendar"
EVENT = "com.apple.calendars.Event"
RECURRENCE = "com.apple.calendars.Recurrence"
ALARM = "com.apple.calendars.DisplayAlarm"
DEFAULT_CALENDARS = 3
CALENDAR_TITLES = ["Home", "Work & <Team>", "Family \U0001f3e0", "Sport", "F\u00eates"]
EVENT_SUMMARIES = ["Dentist", "Stand-up <daily>", "Lunch & talk", "Match \u26bd", "Flight"]

SUBJECTS = ["Shopping", "Ideas & plans", "Call <Anna>", "R\u00e9union", "\u8cb7\u3044\u7269", "Trip \U0001f30d"]
LINES = ["Milk, eggs & bread", "Ask about the <b>offer</b>", "Line one\nLine two", "Caf\u00e9 at 10",
         "\"Quoted\" text", "Tabs\tand spaces"]


def _moment(rng):
    """A moment in UTC (plistlib writes naive datetimes as UTC), whole seconds."""
    return datetime.datetime(2015, 1, 1) + datetime.timedelta(seconds=rng.randrange(8 * 365 * 86400))


class _Store:
    def __init__(self):
        self.records = {}
        self.next_id = 1

    def add(self, record):
        record_id = str(self.next_id)
        self.next_id += 1
        self.records[record_id] = record
        return record_id

    def book(self):
        return {"nextRecordId": self.next_id, "records": self.records}


def make_notes(rng, count=DEFAULT_NOTES):
    store = _Store()
    for index in range(count):
        created = _moment(rng)
        note = {ENTITY_KEY: NOTE, "subject": "%s %d" % (rng.choice(SUBJECTS), index),
                "content": "\n".join(rng.sample(LINES, rng.randrange(1, 4))), "contentType": "text/plain",
                "dateCreated": created,
                "dateModified": created + datetime.timedelta(seconds=rng.randrange(86400 * 30))}
        if index % 3 == 0:
            note["author"] = "Zo\u00eb"
        store.add(note)
    return store.book()


def make_bookmarks(rng, extra=DEFAULT_BOOKMARKS):
    """Two top-level folders and a top-level bookmark; the first folder holds three bookmarks at
    positions 2, 0 and 1 (made in that order) and a subfolder; one bookmark lies in both folders;
    `extra` more bookmarks go to random folders at random positions."""
    store = _Store()

    def folder(name, position, parents=None):
        record = {ENTITY_KEY: FOLDER, "name": name, "position": position}
        if parents is not None:
            record["parent"] = parents
        return store.add(record)

    def bookmark(name, url, position, parents=None):
        record = {ENTITY_KEY: BOOKMARK, "name": name, "url": url, "position": position}
        if parents is not None:
            record["parent"] = parents
        return store.add(record)

    favourites = folder("Favourites \u2605", 5)
    menu = folder("Menu & <more>", -1)
    bookmark("Top", "https://example.com/top?a=1&b=2", 2)
    for position in (2, 0, 1):
        bookmark("Fav %d" % position, "https://example.com/fav/%d" % position, position, [favourites])
    nested = folder("Nested", 3, [favourites])
    bookmark("Shared \U0001f310", "https://example.org/shared", 4, [favourites, menu])
    folders = [favourites, menu, nested]
    for index in range(extra):
        bookmark("Site %d" % index, "https://site%d.example.net/" % index, rng.randrange(-3, 20),
                 [rng.choice(folders)])
    return store.book()


def make_calendars(rng, count=DEFAULT_CALENDARS, events_per_calendar=None):
    """`count` calendars with one to three events each (or `events_per_calendar`); every third event
    also lies in the calendar before; every second event recurs, every third has a display alarm."""
    store = _Store()
    calendar_ids = []
    events = 0
    for index in range(count):
        calendar_id = store.add({ENTITY_KEY: CALENDAR, "title": "%s %d" % (rng.choice(CALENDAR_TITLES), index),
                                 "read only": int(index % 4 == 3),
                                 "colorComponents": [rng.randrange(256) for _ in range(3)] + [255]})
        for _ in range(events_per_calendar if events_per_calendar is not None else rng.randrange(1, 4)):
            start = _moment(rng)
            calendars = [calendar_id] + ([calendar_ids[-1]] if events % 3 == 2 and calendar_ids else [])
            event = {ENTITY_KEY: EVENT, "summary": rng.choice(EVENT_SUMMARIES), "start date": start,
                     "end date": start + datetime.timedelta(minutes=30 * rng.randrange(1, 6)),
                     "all day": int(events % 5 == 4), "start date.timezone": "Europe/Berlin",
                     "calendar": calendars}
            if rng.random() < 0.6:
                event["location"] = "Room %d & hall" % rng.randrange(10)
            if rng.random() < 0.5:
                event["description"] = "Bring <notes>\nand coffee"
            if rng.random() < 0.3:
                event["url"] = "https://example.com/e/%d?x=1&y=2" % events
            event_id = store.add(event)
            if events % 2 == 0:
                store.add({ENTITY_KEY: RECURRENCE, "frequency": rng.choice(["daily", "weekly", "monthly"]),
                           "interval": rng.randrange(1, 4), "until": start + datetime.timedelta(days=90),
                           "owner": [event_id]})
            if events % 3 == 0:
                store.add({ENTITY_KEY: ALARM, "description": "Reminder", "triggerduration": -900,
                           "owner": [event_id]})
            events += 1
        calendar_ids.append(calendar_id)
    return store.book()


def write_store(folder, name, store, binary=False):
    with open(os.path.join(folder, name), "wb") as f:
        plistlib.dump(store, f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML, sort_keys=True)


def read_store(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return plistlib.load(f)


def write_sync_data(folder, seed=0, notes=None, bookmarks=None, calendars=None):
    """The stores of an image, each drawn from a generator of its own (so one count changes nothing
    of the other stores)."""
    write_store(folder, NOTES_FILE, make_notes(random.Random("notes-%d" % seed),
                                               DEFAULT_NOTES if notes is None else notes))
    write_store(folder, BOOKMARKS_FILE, make_bookmarks(random.Random("bookmarks-%d" % seed),
                                                       DEFAULT_BOOKMARKS if bookmarks is None else bookmarks))
    write_store(folder, CALENDARS_FILE, make_calendars(random.Random("calendars-%d" % seed),
                                                       DEFAULT_CALENDARS if calendars is None else calendars))


def add_arguments(parser):
    parser.add_argument("--notes", type=int, help="notes (default %d)" % DEFAULT_NOTES)
    parser.add_argument("--bookmarks", type=int,
                        help="bookmarks besides the fixed folder tree (default %d)" % DEFAULT_BOOKMARKS)
    parser.add_argument("--calendars", type=int, help="calendars (default %d)" % DEFAULT_CALENDARS)


def sync_data_options(args):
    """The write_sync_data keywords of parsed arguments; ValueError for negative counts."""
    options = {"notes": args.notes, "bookmarks": args.bookmarks, "calendars": args.calendars}
    if any(v is not None and v < 0 for v in options.values()):
        raise ValueError("counts are not negative")
    return options


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write the notes, bookmarks and calendars of a device image.")
    parser.add_argument("image", help="the image folder")
    parser.add_argument("--seed", type=int, default=0)
    add_arguments(parser)
    args = parser.parse_args(argv)
    try:
        write_sync_data(args.image, args.seed, **sync_data_options(args))
    except (ValueError, OSError) as e:
        print("make_sync_data: %s" % e, file=sys.stderr)
        return 2
    print(json.dumps({"notes": len(read_store(args.image, NOTES_FILE)["records"]),
                      "bookmarks": len(read_store(args.image, BOOKMARKS_FILE)["records"]),
                      "calendars": len(read_store(args.image, CALENDARS_FILE)["records"])}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
