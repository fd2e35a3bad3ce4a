#!/usr/bin/env python3
"""The actions of the outside feature pages against the real device service, as a person does them: on one
desktop start with a simulated iPhone, the apps page shows each app's icon, uninstalls the checked apps after
the host's question and lists what is left; the books page imports a book chosen in the open-file question and deletes the
checked books after the host's question; the calendars page deletes a checked event and exports the
calendars as iCalendar; a checked song, movie, book and photo are exported to a folder, and the messages as
a CSV table. The photos page shows each photo's thumbnail on its row, opens an album into its photos and
exports a checked album's photos. Each action is checked
on the device image (apps.plist, the books list and the files under Books/, the calendar store, the photo
database) or the
folder (the exported files byte for byte), and by the
words the page shows of its outcome; screenshots show each question and outcome. Every wait is a poll
against a deadline.
"""
import csv
import plistlib
import re
import shutil
import sqlite3
import struct
import subprocess
import tempfile
import zipfile
import zlib
from pathlib import Path

import relay_service_scenario
import wine_session
from wine_session import wait_until, windows_path


def icon_background(path):
    """The colour of an app icon's top right pixel, its background, as (r, g, b): the icon maker's PNG is 8-bit
    RGB, unfiltered."""
    png = path.read_bytes()
    at, idat, width = 8, b"", 0
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        body = png[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width = struct.unpack(">I", body[:4])[0]
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    row = zlib.decompress(idat)[:1 + 3 * width]
    return tuple(row[1 + 3 * (width - 1):1 + 3 * width])


def colours(shot, x, y, w, h):
    """The colours of a screenshot's rectangle as (r, g, b), read with ImageMagick."""
    out = subprocess.run(["convert", str(shot), "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "-type", "TrueColor",
                          "txt:-"], capture_output=True, text=True, check=True, timeout=60).stdout
    return {tuple(int(m[i:i + 2], 16) for i in (0, 2, 4)) for m in re.findall(r"#([0-9A-Fa-f]{6})", out)}


def near(colour, wanted, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, wanted))


def album_photos(fs, title):
    """The device paths of the photos of the album `title` in the image's photo database (read from a copy with
    its write-ahead log): its joined assets with a file that are not in the trash and whose size is not 0."""
    with tempfile.TemporaryDirectory() as copy:
        for suffix in ("", "-wal", "-shm"):
            source = fs / "PhotoData" / ("Photos.sqlite" + suffix)
            if source.exists():
                shutil.copyfile(source, Path(copy) / source.name)
        db = sqlite3.connect(Path(copy) / "Photos.sqlite")
        try:
            return sorted(path for (path,) in db.execute(
                "SELECT a.ZDIRECTORY || '/' || a.ZFILENAME FROM ZGENERICASSET a JOIN Z_16ASSETS z ON z.Z_8ASSETS = a.Z_PK"
                " JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK JOIN ZGENERICALBUM al ON al.Z_PK = z.Z_16ALBUMS"
                " WHERE al.ZTITLE = ? AND a.ZFILENAME IS NOT NULL AND a.ZTRASHEDSTATE = 0 AND t.ZORIGINALFILESIZE != 0",
                (title,)))
        finally:
            db.close()


class PageActionsScenario(relay_service_scenario.RelayHarness):
    """The relay scenario's set-up and helpers (the lab, Trevane with its relay trace, sections, reading list
    views) for the scenario below alone."""
    work_prefix = "trevane-actions-"

    def outcome(self, expected, what):
        """The page's status line once it says `expected`."""
        def shown():
            code, out = self.display.probe("shown", "TrevaneMainFrame", "StandinFeaturePage")
            lines = [l for l in out.splitlines() if l] if code == 0 else []
            return lines if lines == [expected] else None
        try:
            return wait_until(shown, what=what)
        except AssertionError as timeout:
            code, out = self.display.probe("shown", "TrevaneMainFrame", "StandinFeaturePage")
            raise AssertionError(f"{timeout}; the page said: {out!r}") from None

    def row_icons(self):
        """Each row of the showing list as (image index, left, top, right, bottom of its icon on the screen)."""
        code, out = self.display.probe("icons", "TrevaneMainFrame")
        return [tuple(map(int, line.split())) for line in out.splitlines()] if code == 0 else []

    def thumbnails_drawn(self, shot_name, what):
        """Waits until every row of the showing list has an image of its own, then checks in a screenshot that
        each row on the screen draws a picture there (many colours, not a blank square)."""
        icons = wait_until(lambda: (lambda i: i if i and all(r[0] > 0 for r in i) else None)(self.row_icons()),
                           what=what)
        self.assertEqual(len({r[0] for r in icons}), len(icons), "one picture a row")
        code, out = self.display.probe("children", "TrevaneMainFrame", "SysListView32")
        _, lx, ly, lw, lh = next(map(int, l.split()[:5]) for l in out.splitlines() if l.startswith("1 "))
        shot = self.display.screenshot(shot_name)
        shown = [r for r in icons if r[2] >= ly and r[4] <= ly + lh and r[1] >= lx and r[3] <= lx + lw]
        self.assertTrue(shown, icons)
        for _, left, top, right, bottom in shown:
            self.assertGreater(len(colours(shot, left, top, right - left, bottom - top)), 8,
                               f"no picture drawn at {left},{top}")
        return icons

    def answer_question(self, text, shot):
        """Waits for the host's question `text`, takes a screenshot and presses OK."""
        code, shown = self.display.probe("dialog-text", wine_session.DEADLINE_S * 1000)
        self.assertEqual(code, 0, f"no question {text!r}")
        self.assertIn(text, shown)
        self.display.screenshot(shot)
        self.assertEqual(self.display.probe("press", "OK", "10000")[0], 0)

    def books_listed(self, image):
        """The device paths ("/Books/<Path>") of the image's book list; None while the list is being written."""
        try:
            books = plistlib.loads((image / "fs" / "Books" / "Books.plist").read_bytes())["Books"]
        except (plistlib.InvalidFileException, ValueError, KeyError):
            return None
        return ["/Books/" + b["Path"] for b in books if isinstance(b, dict) and "Path" in b]

    def test_apps_uninstalled_and_books_imported_and_deleted_on_the_pages(self):
        udid = self.lab.attach(self.lab.make(apps=4, media={"family": "ios5"}, photo_data={"era": "ios9", "photos": 10},
                                              sms={"era": "ios11"}))
        image = self.image(udid)
        user_apps = lambda: [a["CFBundleIdentifier"] for a in
                             plistlib.loads((image / "apps.plist").read_bytes())["Applications"]
                             if a.get("ApplicationType") == "User"]
        apps = user_apps()
        self.assertEqual(len(apps), 4)
        self.start_with_device(udid)

        # Apps: the second and third rows checked, Uninstall pressed, the host's question answered; the two
        # apps leave the device, the page says so and lists the two left.
        self.choose_section(21)
        rows = self.wait_cells("SysListView32", lambda r: len(r) == 4, "the four apps listed")
        listed = [r.split("\t")[5] for r in rows]
        self.assertEqual(sorted(listed), sorted(apps))
        # Each row shows its app's icon: the first row's icon background colour appears left in that row.
        catalog = plistlib.loads((image / "apps.plist").read_bytes())["Applications"]
        icon = next(a for a in catalog if a["CFBundleIdentifier"] == listed[0])["IconFile"]
        background = icon_background(image / "icons" / icon)
        code, out = self.display.probe("children", "TrevaneMainFrame", "SysListView32")
        lx, ly = next(map(int, l.split()[1:3]) for l in out.splitlines() if l.startswith("1 "))
        wait_until(lambda: any(near(c, background) for c in colours(self.display.screenshot("actions-apps-icons.png"),
                                                                     lx, ly + 16, 70, 18)) or None,
                   what="the first app's icon shown in its row")
        self.assertEqual(self.display.probe("check-rows", "TrevaneMainFrame", "1", "2")[0], 0)
        self.display.screenshot("actions-apps-checked.png")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Uninstall")[0], 0)
        self.answer_question("Do you really want to uninstall the checked app(s)?", "actions-apps-question.png")
        gone = listed[1:3]
        names = [r.split("\t")[0] for r in rows[1:3]]
        self.outcome(f"Uninstalled {names[0]}, {names[1]}.", "the uninstall's outcome")
        wait_until(lambda: sorted(user_apps()) == sorted(set(apps) - set(gone)) or None,
                   what="the two apps gone from the device")
        rows = self.wait_cells("SysListView32", lambda r: len(r) == 2, "the two apps left listed")
        self.assertEqual(sorted(r.split("\t")[5] for r in rows), sorted(set(apps) - set(gone)))
        self.display.screenshot("actions-apps-uninstalled.png")

        # Books: an EPUB chosen in the host's open-file question lands on the device, unpacked, and in its list.
        self.choose_section(19)
        before = self.books_listed(image)
        rows = self.wait_cells("SysListView32", lambda r: len(r) >= 1, "the books listed")
        epub = self.work / "My Novel.epub"
        with zipfile.ZipFile(epub, "w") as archive:
            archive.writestr("mimetype", "application/epub+zip")
            archive.writestr("OEBPS/chapter1.xhtml", "<html><body>Chapter one</body></html>")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Import")[0], 0)
        code, text = self.display.probe("dialog-text", wine_session.DEADLINE_S * 1000)
        self.assertEqual(code, 0, "no open-file question")
        self.assertIn("Please select eBook files.", text)
        self.import_file(epub, "actions-books-import.png")
        self.outcome("Imported My Novel.epub.", "the import's outcome")
        added = [p for p in self.books_listed(image) if p not in before]
        self.assertEqual(len(added), 1, added)
        self.assertTrue(added[0].endswith(".EPUB"), added)
        unpacked = image / "fs" / added[0].lstrip("/") / "OEBPS" / "chapter1.xhtml"
        self.assertEqual(unpacked.read_text(), "<html><body>Chapter one</body></html>")
        entry = next(b for b in plistlib.loads((image / "fs" / "Books" / "Books.plist").read_bytes())["Books"]
                     if isinstance(b, dict) and "/Books/" + b.get("Path", "") == added[0])
        self.assertEqual(entry["Name"], "My Novel")
        rows = self.wait_cells("SysListView32", lambda r: any(c.split("\t")[0] == "My Novel" for c in r),
                               "the imported book listed")
        self.display.screenshot("actions-books-imported.png")

        # The first row checked and deleted after the host's question: its file and its list entry go.
        first = rows[0].split("\t")[0]
        listed_before = self.books_listed(image)
        self.assertEqual(self.display.probe("check-rows", "TrevaneMainFrame", "0")[0], 0)
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Delete")[0], 0)
        self.answer_question("Do you really want to delete the checked book(s)?", "actions-books-question.png")
        self.wait_trace(r"^ZERITH_COMMAND_DO_BOOK code=77 ", "the deletion relayed")
        wait_until(lambda: len(self.books_listed(image) or listed_before) == len(listed_before) - 1 or None,
                   what="the book gone from the device's list")
        deleted = [p for p in listed_before if p not in self.books_listed(image)]
        self.assertEqual(len(deleted), 1)
        self.assertFalse((image / "fs" / deleted[0].lstrip("/")).exists(), "the book's file is gone")
        self.outcome(f"Deleted {Path(deleted[0]).name}.", "the deletion's outcome")
        rows = self.wait_cells("SysListView32", lambda r: all(c.split("\t")[0] != first for c in r) or None,
                               "the deleted book no longer listed")
        self.display.screenshot("actions-books-deleted.png")

        # Calendars: a checked event deleted after the host's question leaves the device's calendar store.
        self.choose_section(5)
        records = lambda: plistlib.loads((image / "calendars.plist").read_bytes())["records"]
        rows = self.wait_cells("SysListView32", lambda r: len(r) >= 2, "the calendars listed")
        row = next(i for i, r in enumerate(rows) if r.split("\t")[1] not in ("(no title)", "(no events)"))
        summary = rows[row].split("\t")[1]
        before = records()
        self.assertEqual(self.display.probe("check-rows", "TrevaneMainFrame", str(row))[0], 0)
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Delete")[0], 0)
        self.answer_question("Do you really want to delete the checked calendar(s)?", "actions-calendars-question.png")
        self.outcome("Deleted 1 record.", "the calendar deletion's outcome")
        removed = {k: v for k, v in before.items() if k not in records()}
        events = [v for v in removed.values() if v["com.apple.syncservices.RecordEntityName"].endswith(".Event")]
        self.assertEqual([e.get("summary") for e in events], [summary], removed)
        self.wait_cells("SysListView32", lambda r: len(r) == len(rows) - 1, "the deleted event no longer listed")
        self.display.screenshot("actions-calendars-deleted.png")

        # Exports: a checked song, movie and PDF book, each into a folder of its own, byte for byte the
        # device's file under the row's title.
        fs = image / "fs"
        exports = 0
        stem = lambda name: name.rsplit(".", 1)[0]
        for section, title_of, what in ((9, lambda r: r[0], "song"), (13, lambda r: r[0], "movie"),
                                        (19, lambda r: r[0] if r[3] == "PDF" else None, "PDF book"),
                                        (17, lambda r: stem(r[0]) if r[3] else None, "photo")):
            self.choose_section(section)
            rows = self.wait_cells("SysListView32", lambda r: len(r) >= 1, f"the {what}s listed")
            # A title of plain characters: the service writes others in a file's name as it can.
            row = next(i for i, r in enumerate(rows) if re.fullmatch(r"[\w ]+", title_of(r.split("\t")) or ""))
            title = title_of(rows[row].split("\t"))
            folder = self.work / f"{what} export"
            folder.mkdir()
            self.export_checked(row, windows_path(folder))
            exports += 1
            wait_until(lambda: self.count_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3=1$")
                       == exports, what=f"the {what} exported")
            (exported,) = list(folder.iterdir())
            self.assertEqual(Path(exported.name).stem, title)
            matches = [p for p in fs.rglob("*" + exported.suffix) if p.is_file() and
                       p.read_bytes() == exported.read_bytes()]
            self.assertTrue(matches, f"no file of the device holds the exported {what}'s bytes")
        self.display.screenshot("actions-export.png")

        # The calendars exported afresh as iCalendar: one event for each of the device's events.
        self.choose_section(5)
        self.wait_cells("SysListView32", lambda r: len(r) >= 1, "the calendars listed again")
        folder = self.work / "calendar export"
        folder.mkdir()
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Export")[0], 0)
        self.assertEqual(self.display.probe("menu", "1", "10000")[0], 0)
        self.assertEqual(self.display.probe("choose-folder", windows_path(folder), wine_session.DEADLINE_S * 1000)[0], 0)
        exports += 1
        wait_until(lambda: self.count_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3=1$")
                   == exports, what="the calendars exported")
        ics = (folder / "Calendars.ics").read_bytes().decode("utf-8")
        events = {k: v for k, v in records().items()
                  if v["com.apple.syncservices.RecordEntityName"].endswith(".Event")}
        self.assertEqual(ics.count("BEGIN:VEVENT\r\n"), len(events), ics)
        for record_id in events:
            self.assertIn(f"\r\nUID:{record_id}\r\n", ics)
        self.display.screenshot("actions-calendars-exported.png")

        # The messages exported afresh as a CSV table: one line for each message of each conversation listed.
        self.choose_section(3)
        rows = self.wait_cells("SysListView32", lambda r: len(r) >= 1, "the conversations listed")
        folder = self.work / "messages export"
        folder.mkdir()
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Export")[0], 0)
        self.assertEqual(self.display.probe("menu", "2", "10000")[0], 0)
        self.assertEqual(self.display.probe("choose-folder", windows_path(folder), wine_session.DEADLINE_S * 1000)[0], 0)
        exports += 1
        wait_until(lambda: self.count_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3=1$")
                   == exports, what="the messages exported")
        with open(folder / "Messages.csv", newline="", encoding="utf-8") as table:
            lines = list(csv.reader(table))
        self.assertEqual(lines[0], ["Conversation", "Date", "From", "Text"])
        self.assertEqual(len(lines) - 1, sum(int(r.split("\t")[1]) for r in rows))
        self.assertEqual({l[0] for l in lines[1:]}, {r.split("\t")[0] for r in rows if r.split("\t")[1] != "0"})
        self.display.screenshot("actions-messages-exported.png")
        self.close_trevane()

    def test_photos_show_thumbnails_and_an_album_opens_and_exports_its_photos(self):
        udid = self.lab.attach(self.lab.make_demo())
        fs = self.image(udid) / "fs"
        self.start_with_device(udid)

        # Every photo shows its thumbnail on its row (the device's own, one made from the picture, a video's
        # preview frame).
        self.choose_section(17)
        rows = self.wait_cells("SysListView32", lambda r: len(r) >= 6, "the photos listed")
        self.assertEqual(len(self.thumbnails_drawn("actions-photos-thumbnails.png", "each photo's thumbnail")),
                         len(rows))

        # A double-click on an album shows its photos, each with its thumbnail, the album's name above them.
        self.choose_section(18)
        rows = self.wait_cells("SysListView32", lambda r: any(c.split("\t")[0] == "Holidays" for c in r),
                               "the albums listed")
        album = next(i for i, r in enumerate(rows) if r.split("\t")[0] == "Holidays")
        self.display.screenshot("actions-albums.png")
        expected = album_photos(fs, "Holidays")
        self.assertGreater(len(expected), 2)
        self.assertEqual(self.display.probe("open-row", "TrevaneMainFrame", str(album))[0], 0)
        opened = self.wait_cells("SysListView32", lambda r: r and len(r[0].split("\t")) == 5 and len(r) == len(expected),
                                 "the album's photos listed")
        self.assertEqual(sorted(r.split("\t")[4] + "/" + r.split("\t")[0] for r in opened), expected)
        self.outcome("Holidays", "the album's name shown over its photos")
        self.thumbnails_drawn("actions-album-opened.png", "each of the album's thumbnails")

        # Back to the albums, the album checked and exported: its photos' files, byte for byte the device's.
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Back to Albums")[0], 0)
        rows = self.wait_cells("SysListView32", lambda r: r and len(r[0].split("\t")) == 3, "the albums listed again")
        album = next(i for i, r in enumerate(rows) if r.split("\t")[0] == "Holidays")
        folder = self.work / "album export"
        folder.mkdir()
        self.export_checked(album, windows_path(folder))
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3={len(expected)}$",
                        "the album exported")
        self.open_notice(f"{len(expected)} files exported to {windows_path(folder)}")
        self.display.screenshot("actions-album-exported.png")
        exported = sorted(p.name for p in folder.iterdir())
        self.assertEqual(exported, sorted(Path(p).name for p in expected))
        for path in expected:
            self.assertEqual((folder / Path(path).name).read_bytes(), (fs / path).read_bytes(), path)
        self.close_trevane()


if __name__ == "__main__":
    relay_service_scenario.run_service_scenarios()
