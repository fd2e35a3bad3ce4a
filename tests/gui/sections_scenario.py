#!/usr/bin/env python3
"""The outside feature pages' stand-ins on a fully loaded simulated iPhone, against the device service
Harlix that the relay starts: every section (messages, calendars, songs, movies, TV shows, music videos,
photos, albums, books, apps) shows the service's records as a table under named columns with values a
person reads, checked against the device image through independent readers (sqlite3, plistlib); each
table scrolls to its last row, and each section is kept as a screenshot. Every wait is a poll against a
deadline.
"""
import datetime
import plistlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
from pathlib import Path

import relay_service_scenario

SIZE = re.compile(r"^\d+(\.\d\d)? (B|KB|MB|GB)$")
TIME = re.compile(r"^\d+:\d\d(:\d\d)?$")
LOCAL = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d$")


def size_text(count):
    """A byte count as the pages show it."""
    if count < 1024:
        return f"{count} B"
    value, unit = count / 1024, 0
    while value >= 1024 and unit < 3:
        value, unit = value / 1024, unit + 1
    return "%.2f %s" % (value, ["KB", "MB", "GB", "TB"][unit])


def local_minutes(moment):
    """A naive UTC datetime of a property list as the local time the pages show, to the minute."""
    return moment.replace(tzinfo=datetime.timezone.utc).astimezone().strftime("%Y-%m-%d %H:%M")


def read_sms_db(image, read):
    """What `read`(connection) returns of a copy of the image's sms.db (its -wal with it)."""
    with tempfile.TemporaryDirectory() as folder:
        for suffix in ("", "-wal", "-shm"):
            if (image / f"sms.db{suffix}").exists():
                shutil.copy(image / f"sms.db{suffix}", Path(folder) / f"sms.db{suffix}")
        db = sqlite3.connect(Path(folder) / "sms.db")
        try:
            return read(db)
        finally:
            db.close()


def conversation(image, party):
    """The messages of the one-to-one conversation with `party` as the conversation window shows them, oldest
    first: local time to the minute, "Me" or the sender's handle, and the text on one line."""
    def read(db):
        return db.execute("select m.date, m.is_from_me, h.id, m.text from message m"
                          " join chat_message_join cmj on cmj.message_id = m.ROWID"
                          " join chat_handle_join chj on chj.chat_id = cmj.chat_id"
                          " join handle p on p.ROWID = chj.handle_id and p.id = ?"
                          " left join handle h on h.ROWID = m.handle_id order by m.date", (party,)).fetchall()
    epoch = datetime.datetime(2001, 1, 1, tzinfo=datetime.timezone.utc)
    return [[(epoch + datetime.timedelta(seconds=date // 1000000000)).astimezone().strftime("%Y-%m-%d %H:%M"),
             "Me" if mine else (handle or "Unknown"), " ".join((text or "").split()) or "(no text)"]
            for date, mine, handle, text in read_sms_db(image, read)]


def conversations(image):
    """{sorted parties: message count} of the image's sms.db ("Unknown" for a conversation of no party)."""
    return read_sms_db(image, count_conversations)


def count_conversations(db):
    counts = dict(db.execute("select cmj.chat_id, count(*) from message m left join chat_message_join cmj"
                             " on cmj.message_id = m.ROWID group by cmj.chat_id"))
    parties = {}
    for chat, handle in db.execute("select chj.chat_id, h.id from chat_handle_join chj join handle h"
                                   " on h.ROWID = chj.handle_id"):
        parties.setdefault(chat, []).append(handle)
    # The messages of no chat are one conversation, whose parties are the handles of no chat.
    parties[None] = [h for (h,) in db.execute("select id from handle where ROWID not in"
                                              " (select handle_id from chat_handle_join)")]
    return {", ".join(sorted(parties.get(chat) or ["Unknown"])): n for chat, n in counts.items()}


class SectionsScenario(relay_service_scenario.RelayHarness):
    """The relay scenario's set-up and helpers (the lab, Trevane with its relay trace, choosing a section,
    reading a list view's cells) for the scenario below alone."""
    work_prefix = "trevane-sections-"

    def assert_nothing_under_the_header(self, shot):
        """The three pixel rows under the showing table's header are the table's own light background: no
        strip of the page shown before it (a toolbar's buttons and texts) is left there. The first row's check
        box and icon (in the first 40 pixels, or up to the end of its icon) are the table's own."""
        code, out = self.display.probe("children", "TrevaneMainFrame", "SysHeader32")
        self.assertEqual(code, 0)
        x, y, width, height = next(map(int, l.split()[1:5]) for l in out.splitlines()
                                   if l.startswith("1 ") and l.endswith(" SysListView32"))
        code, icons = self.display.probe("icons", "TrevaneMainFrame")
        first = icons.split()[:5] if code == 0 else []
        skip = max(40, int(first[3]) - x) if len(first) == 5 else 40
        band = subprocess.run(["convert", str(shot), "-crop", f"{width - skip}x3+{x + skip}+{y + height}", "+repage",
                               "-depth", "8", "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
        dark = [c for c in re.findall(r"#([0-9A-Fa-f]{6})", band) if min(int(c[i:i + 2], 16) for i in (0, 2, 4)) < 0xE0]
        self.assertEqual(dark, [], "the rows under the header show what was there before")

    def test_every_section_of_a_fully_loaded_iphone_is_a_readable_table(self):
        import hlx_device
        udid = self.lab.attach(self.lab.make(apps=4, media={"family": "ios5"}, photo_data={"era": "ios9", "photos": 40},
                                             sms={"era": "ios11", "messages": 200}))
        image = Path(hlx_device.image_folder(udid, root=self.lab.root))
        self.start_with_device(udid)

        def show(section, answer, count_code, columns, shot, entry=None):
            """Chooses the section (by clicking the list's `entry`, the section's own by default), waits for its
            count and its table, checks the columns' names (each as wide as its name at least), scrolls to the
            last row and keeps a screenshot; returns the rows."""
            self.choose_section(section if entry is None else entry)
            line = self.wait_trace(rf"^> {answer} key={udid} code={count_code} value2=0 value3=(-?\d+)$",
                                   f"section {section} counted")
            count = int(line.rsplit("=", 1)[1])
            self.assertGreater(count, 0, f"section {section} lists something")
            rows = self.wait_cells("SysListView32", lambda r: len(r) >= count, f"section {section} listed")
            code, out = self.display.probe("columns", "TrevaneMainFrame", "SysListView32")
            self.assertEqual(code, 0)
            shown = [c.split("\t") for c in out.splitlines()]
            self.assertEqual([name for name, _ in shown], columns)
            for name, width in shown:
                self.assertGreaterEqual(int(width), 7 * len(name), f"the column {name} shows its name")
            self.assert_nothing_under_the_header(self.display.screenshot(f"{shot}.png"))
            code, out = self.display.probe("scroll-end", "TrevaneMainFrame", "SysListView32")
            top, page, total = map(int, out.split())
            self.assertEqual(total, len(rows))
            if total > page:
                self.assertGreater(top, 0, f"section {section} scrolls down")
                self.display.screenshot(f"{shot}-end.png")
            return [r.split("\t") for r in rows], count

        # The notes page first, a page with a toolbar: the table that follows shows nothing of it.
        self.choose_section(4)
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_NOTE key={udid} code=57 ", "the notes listed")
        self.display.screenshot("sections-notes.png")
        # Messages: one row per conversation, latest first, with its other parties and its messages counted.
        rows, count = show(3, "ZERITH_COMMAND_DO_SMS", 23, ["With", "Messages", "Last message", "Date"], "sections-messages")
        expected = conversations(image)
        self.assertEqual(count, len(expected))
        self.assertEqual({", ".join(sorted(r[0].split(", "))): int(r[1]) for r in rows}, expected)
        dates = [r[3] for r in rows if r[3]]
        self.assertTrue(all(LOCAL.match(d) for d in dates), dates)
        self.assertEqual(dates, sorted(dates, reverse=True), "latest first")
        # A double-click opens a conversation: its 120 messages, oldest first, each with its time, its sender
        # and its text, as the image's database holds them.
        party = "+15550100001"
        row = [r[0] for r in rows].index(party)
        expected = conversation(image, party)
        self.assertEqual(len(expected), 120)
        self.assertEqual(self.display.probe("open-row", "TrevaneMainFrame", str(row))[0], 0)
        self.assertEqual(self.display.probe("wait", "SorvadConversation", "10000")[0], 0)
        shown = self.wait_cells("SysListView32", lambda r: len(r) >= len(expected), "the conversation's messages",
                                window="SorvadConversation")
        self.assertEqual([r.split("\t") for r in shown], expected)
        self.assertEqual(self.display.probe("columns", "SorvadConversation", "SysListView32")[1].split("\n")[0]
                         .split("\t")[0], "Time")
        self.display.screenshot("sections-conversation.png")
        self.assertEqual(self.display.probe("close", "SorvadConversation")[0], 0)

        # Calendars: every event under each calendar it names, in local time, with its repetition and alarm.
        store = plistlib.loads((image / "calendars.plist").read_bytes())["records"]
        calendars = {k: r for k, r in store.items() if r["com.apple.syncservices.RecordEntityName"].endswith("Calendar")}
        events = [r for r in store.values() if r["com.apple.syncservices.RecordEntityName"].endswith(".Event")]
        rows, count = show(5, "ZERITH_COMMAND_DO_CALENDAR", 64,
                           ["Calendar", "Event", "Starts", "Ends", "Location", "Repeats", "Alarm"], "sections-calendars")
        self.assertEqual(count, len(calendars))
        listed = [(e["summary"], c) for e in events for c in e["calendar"] if c in calendars]
        self.assertEqual(sorted((r[1], r[0].replace(" (read-only)", "")) for r in rows),
                         sorted((s, calendars[c]["title"]) for s, c in listed))
        timed = next(e for e in events if not e["all day"])
        self.assertIn(local_minutes(timed["start date"]), [r[2] for r in rows if r[1] == timed["summary"]])
        self.assertTrue(any(r[5].startswith(("Daily", "Weekly", "Monthly", "Every")) for r in rows), rows)
        self.assertIn("15 min before", [r[6] for r in rows])

        # Songs and the three kinds of video: titles, lengths and sizes. "Music" and "Videos", the entries over
        # them, open their first kind (songs, movies) in place of the page before.
        for section, entry, count_code, columns, shot in [
                (9, 8, 94, ["Title", "Artist", "Album", "Genre", "Time", "Size"], "sections-songs"),
                (13, 12, 85, ["Title", "Genre", "Year", "Time", "Size"], "sections-movies"),
                (14, None, 91, ["Title", "Show", "Genre", "Year", "Time", "Size"], "sections-tv-shows"),
                (15, None, 88, ["Title", "Artist", "Genre", "Year", "Time", "Size"], "sections-music-videos")]:
            answer = "ZERITH_COMMAND_DO_MUSIC" if section == 9 else "ZERITH_COMMAND_DO_VIDEO"
            rows, count = show(section, answer, count_code, columns, shot, entry)
            self.assertEqual(len(rows), count)
            self.assertTrue(all(r[0] and TIME.match(r[-2]) and SIZE.match(r[-1]) for r in rows), rows)

        # Photos and albums: file names, local times and sizes; every album named, the smart ones by kind.
        rows, count = show(17, "ZERITH_COMMAND_DO_PHOTO", 124, ["Name", "Taken", "Modified", "Size", "Folder"],
                           "sections-photos")
        self.assertEqual(len(rows), count)
        self.assertTrue(all(re.match(r"^IMG_\d{4}\.(JPG|PNG|MOV)$", r[0]) and LOCAL.match(r[1]) and SIZE.match(r[3])
                            for r in rows), rows)
        rows, count = show(18, "ZERITH_COMMAND_DO_PHOTO", 128, ["Album", "Kind", "Items"], "sections-albums")
        self.assertEqual(len(rows), count)
        self.assertTrue(all(r[0] and r[2].isdigit() for r in rows), rows)
        self.assertIn(["Camera Roll", "Camera Roll"], [r[:2] for r in rows])
        self.assertIn(["Favorites", "Smart album"], [r[:2] for r in rows])

        # Books: title, format and size.
        rows, count = show(19, "ZERITH_COMMAND_DO_BOOK", 73, ["Title", "Author", "Genre", "Format", "Size"],
                           "sections-books")
        self.assertEqual(len(rows), count)
        self.assertTrue(all(r[0] and r[3] in ("EPUB", "PDF") and SIZE.match(r[4]) for r in rows), rows)

        # Apps: by name, version and size, as the image's catalogue has them.
        catalog = plistlib.loads((image / "apps.plist").read_bytes())["Applications"]
        user = [a for a in catalog if a["ApplicationType"] == "User"]
        rows, count = show(21, "ZERITH_COMMAND_DO_APP", 51,
                           ["Name", "Version", "Size", "Documents", "Developer", "Identifier"], "sections-apps")
        self.assertEqual(sorted((r[0], r[1], r[2], r[5]) for r in rows),
                         sorted((a["CFBundleDisplayName"], f"{a['CFBundleShortVersionString']} ({a['CFBundleVersion']})",
                                 size_text(a["StaticDiskUsage"]), a["CFBundleIdentifier"]) for a in user))
        self.close_trevane()


if __name__ == "__main__":
    relay_service_scenario.run_service_scenarios()
