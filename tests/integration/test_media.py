"""The media requests through the Harlix process and the simulated iPhone: the library (1000, 1010) of
both database families, books and ringtones (1001), voice memos (1002), book import (1012) and
deletion (1013). Every listing is compared record by record with what this test reads from the
image with Python's sqlite3, plistlib and an independent walker of the chunk database."""

import datetime
import json
import os
import plistlib
import shutil
import sqlite3
import time
import zipfile

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase, peak_resident_kb

import hlx_device  # noqa: E402 (the tools folder is importable through harlix_process)
import make_media_data as media  # noqa: E402

LIBRARY, BOOKS, MEMOS, PLAYLIST, ITEM_IDS, IMPORT, DELETE = 1000, 1001, 1002, 1010, 1011, 1012, 1013
DEVICE_INFO, CANCEL = 300, 600
SONGS, MOVIES, TV, VIDEOS, BOOK_SECTION, RINGTONES, PLAYLISTS = 1004, 1005, 1006, 1007, 1008, 1003, 1009
ITEMS_SQL = {
    "ios5": "select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
            "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id,"
            " bl.path || '/' || ie.location from item as i left join item_extra as ie on ie.item_pid = i.item_pid"
            " left join album as a on a.album_pid = i.album_pid left join item_artist as ia on ia.item_artist_pid ="
            " i.item_artist_pid left join genre as g on g.genre_id = i.genre_id left join base_location as bl on"
            " bl.base_location_id = i.base_location_id order by title COLLATE NOCASE asc",
    "ios3": "SELECT media_kind,pid,0,year,date_modified, comment,description_long,copyright,title, total_time_ms,0,"
            "album,0,artist,0, gm.genre,genre_id,null from item left join genre_map gm on genre_id = gm.id"
            " order by title COLLATE NOCASE asc",
}
PLAYLISTS_SQL = {
    "ios5": ("SELECT container_pid,name,contained_media_type,parent_pid,smart_is_folder FROM container WHERE"
             " container_pid NOT IN (SELECT primary_container_pid FROM db_info) AND is_hidden = 0 and name is not null",
             "SELECT item_pid FROM container_item where container_pid = ?"),
    "ios3": ("SELECT pid,name,media_kinds,parent_pid,smart_is_folder FROM container WHERE pid NOT IN"
             " (SELECT primary_container_pid FROM db_info) AND is_hidden = 0",
             "SELECT item_pid FROM item_to_container where container_pid = ?"),
}
DATABASE = {"ios5": "iTunes_Control/iTunes/MediaLibrary.sqlitedb", "ios3": media.ITLP + "/Library.itdb"}


def pairs(members):
    """A JSON object as [[key, value], ...], so that member order counts."""
    return [list(m) for m in members]


def duration_text(seconds):
    whole = int(max(seconds, 0) + 0.5)
    if whole >= 3600:
        return "%02d:%02d:%02d" % (whole // 3600, whole // 60 % 60, whole % 60)
    return "%02d:%02d" % (whole // 60, whole % 60)


def g(value):
    return float("%g" % value)


def local_time(apple_seconds):
    moment = datetime.datetime(2001, 1, 1) + datetime.timedelta(seconds=max(0, int(apple_seconds)))
    return (moment + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")


class MediaTest(HarlixTestCase):
    first_request_id = 9001

    def attach(self, **media_options):
        image = self.lab.make(media=media_options or None)
        udid = self.lab.attach(image)
        self.start_harlix({"TZ": PINNED_TZ})
        self.next_event(READY, udid)
        return udid, hlx_device.image_folder(udid, root=self.lab.root)

    def request(self, code, udid, info=None, data=None, expect=0):
        payload = {"uuid": udid}
        if info is not None:
            payload["info"] = info
        progress, final = self.run_request(code, payload, data)
        self.assert_final(final, expect, udid)
        return progress

    def sections(self, progress, batch=100):
        """{section code: [records]} of count-then-batches sections, checking each section's shape."""
        found, index = {}, 0
        while index < len(progress):
            code, status, record, data = progress[index]
            if code == PLAYLIST:  # a count packet and one packet of ids, both with the same info
                _, _, ids_record, ids = progress[index + 1]
                self.assertEqual((record["stage"], data, ids_record["stage"], ids_record["info"]),
                                 (0, b"", 1, record["info"]))
                found.setdefault(PLAYLIST, []).append((record["info"], json.loads(ids)))
                index += 2
                continue
            count = record["info"]["Count"]
            self.assertEqual((status, record["stage"], data), (2, 0, b""))
            index += 1
            records, batches = [], []
            while len(records) < count:
                _, status, batch_record, data = progress[index]
                self.assertEqual((batch_record["stage"], batch_record["info"]), (1, {"Count": count}))
                batches.append(json.loads(data.decode("utf-8"), object_pairs_hook=pairs))
                self.assertTrue(batches[-1], "an empty batch")
                records += batches[-1]
                index += 1
            self.assertEqual([len(b) for b in batches], [min(batch, count - i) for i in range(0, count, batch)])
            found[code] = records
        return found

    def expected_library(self, folder, family):
        fs = os.path.join(folder, "fs")
        db = sqlite3.connect("file:%s?immutable=1" % os.path.join(fs, DATABASE[family]), uri=True)
        rows = db.execute(ITEMS_SQL[family]).fetchall()
        if family == "ios3":
            loc = sqlite3.connect("file:%s?immutable=1" % os.path.join(fs, media.ITLP, "Locations.itdb"), uri=True)
            where = {pid: (path, size) for pid, path, size in loc.execute(
                "SELECT item_pid, b.path || '/' || l.location, l.file_size FROM base_location b, location l"
                " WHERE b.id = l.base_location_id")}
        lists = {SONGS: [], MOVIES: [], VIDEOS: [], TV: []}
        for row in rows:
            row = list(row)
            if row[9] == 0:
                continue
            kind = row[0]
            if family == "ios5":
                section = {2: MOVIES, 33: VIDEOS, 64: TV}.get(kind, SONGS)
            else:
                if row[1] not in where:
                    continue
                row[17], row[2] = where[row[1]]
                section = SONGS if kind == 1 else MOVIES if kind == 2 else TV if kind & 0x40 else (
                    VIDEOS if kind & 0x20 else None)
                if section is None:
                    continue
            path = row[17]
            if not os.path.isfile(os.path.join(fs, path)):
                continue
            text = lambda v: v if v is not None else ""  # noqa: E731
            lists[section].append([
                ["item_pid", row[1]], ["title", text(row[8])], ["total_time_ms", duration_text(row[9] / 1000)],
                ["total_time_ms_int", g(row[9])], ["media_kind", kind], ["media_type", row[10]],
                ["comment", text(row[5])], ["description_long", text(row[6])], ["copyright", text(row[7])],
                ["year", row[3]], ["date_modified", ""], ["date_modified_int", row[4]], ["album", text(row[11])],
                ["album_pid", row[12]], ["artist", text(row[13])], ["item_artist_pid", row[14]],
                ["genre", text(row[15])], ["genre_id", row[16]], ["path", path], ["file_size", row[2]]])
        playlists_sql, items_sql = PLAYLISTS_SQL[family]
        playlists = [[["container_pid", r[0]], ["name", r[1] or ""], ["container_media_type", r[2]],
                      ["parent_pid", r[3]], ["smart_is_folder", r[4]]] for r in db.execute(playlists_sql)]
        tables = {r[0] for r in db.execute("SELECT name FROM sqlite_master")}
        if "container_item" in tables or family == "ios3":
            members = {p[0][1]: [r[0] for r in db.execute(items_sql, (p[0][1],))] for p in playlists}
        else:  # packed 8-byte little-endian ids, a tail shorter than 8 bytes ignored
            blobs = dict(db.execute("SELECT container_pid, item_pid_data FROM container_items"))
            members = {p[0][1]: [int.from_bytes(blobs[p[0][1]][i:i + 8], "little", signed=True)
                                 for i in range(0, len(blobs[p[0][1]]) // 8 * 8, 8)] for p in playlists}
        return lists, playlists, members

    def check_library(self, family, **options):
        udid, folder = self.attach(family=family, **options)
        found = self.sections(self.request(LIBRARY, udid))
        lists, playlists, members = self.expected_library(folder, family)
        for code in (SONGS, MOVIES, VIDEOS, TV):
            self.assertEqual(found[code], lists[code], "section %d" % code)
        self.assertEqual(found[PLAYLISTS], playlists)
        self.assertEqual(found[PLAYLIST], [({"Playlist": pid, "Exist": 1, "Count": len(ids)},
                                            {"Playlist": pid, "item_pids": ids}) for pid, ids in members.items()])
        # 1010 reads the copy that 1000 made, whichever family it is.
        pid, ids = next((p, i) for p, i in members.items() if i)
        info = {"Playlist": pid, "Count": len(ids)}
        self.assertEqual([(r["stage"], r["info"], d) for _, _, r, d in self.request(PLAYLIST, udid, {"container_pid": pid})],
                         [(0, info, b""), (1, info, json.dumps({"Playlist": pid, "item_pids": ids},
                                                               separators=(",", ":")).encode())])
        for refresh in (0, 1):
            progress = self.request(PLAYLIST, udid, {"refresh": refresh, "container_pid": 424242})
            self.assertEqual([(r["stage"], r["info"], d) for _, _, r, d in progress],
                             [(0, {"Playlist": 424242, "Count": -1}, b"")])
        return udid, folder, found

    def test_media_library_of_both_families(self):
        _, _, found = self.check_library("ios5", songs=400, playlists=7)
        self.assertGreater(len(found[SONGS]), 200)  # batches of 100, 100 and the rest
        self.assertTrue(any(r[4] == ["media_kind", 3] for r in found[SONGS]))
        self.stop_harlix()
        self.check_library("ios3", songs=120, playlists=5)

    def test_parallel_listings_read_whole_copies(self):
        udid, folder = self.attach(family="ios5", songs=600, playlists=3)
        lists, _, _ = self.expected_library(folder, "ios5")
        ids = [self.send(LIBRARY, {"uuid": udid}) for _ in range(4)]
        for packet_id, (progress, final) in self.replies(ids).items():
            self.assert_final(final, 0, udid)
            self.assertEqual(self.sections(progress)[SONGS], lists[SONGS])

    def test_playlist_items_from_packed_blob(self):
        self.check_library("ios5", songs=30, playlists=6, blob_items=True)

    def stop_harlix(self):
        self.peer.close()
        self.peer = None

    def test_playlist_items_without_any_copy_and_stale_side_files(self):
        udid, folder = self.attach(family="ios5", songs=30)
        progress = self.request(PLAYLIST, udid, {"refresh": 0, "container_pid": 90000})
        self.assertEqual([(r["stage"], r["info"]) for _, _, r, _ in progress], [(0, {"Playlist": 90000, "Count": -1})])
        # The device keeps its library in WAL mode. A -wal left beside the local copy by an older
        # copy (here one that deletes every item) must not be applied to the fresh copy.
        device_db = os.path.join(folder, "fs", DATABASE["ios5"])
        sqlite3.connect(device_db).execute("PRAGMA journal_mode=WAL").fetchall()
        self.request(LIBRARY, udid)
        cache = next(root for root, _, files in os.walk(self.tmp.path) if "MediaLibrary.sqlitedb" in files
                     and udid in root)
        stale = os.path.join(self.tmp.path, "stale.sqlitedb")
        shutil.copy(device_db, stale)
        writer = sqlite3.connect(stale)
        writer.execute("PRAGMA wal_autocheckpoint=0")
        writer.execute("DELETE FROM item")
        writer.commit()
        shutil.copy(stale + "-wal", os.path.join(cache, "MediaLibrary.sqlitedb-wal"))
        writer.close()
        lists, _, _ = self.expected_library(folder, "ios5")
        self.assertEqual(self.sections(self.request(LIBRARY, udid))[SONGS], lists[SONGS])
        self.assertTrue(lists[SONGS])

    def expected_books(self, folder):
        fs = os.path.join(folder, "fs")
        with open(os.path.join(fs, media.ITUNES, "iTunesCDB"), "rb") as f:
            walked = media.walk_itunes_db(f.read())
        tracks = {t["id"]: t for t in walked["tracks"]}
        catalog, ringtones = {}, {}
        for ids in walked["playlists"]:
            for tid in ids:
                t = tracks.get(tid)
                kind = t["type"].replace(" ", "").lower() if t else ""
                s = t["strings"] if t else {}
                if kind in ("pdf", "epub") and tid not in catalog:
                    catalog[tid] = [["path", s[2].replace(":", "/")], ["title", s.get(1, "")], ["size", t["size"]],
                                    ["artist", s.get(4, "")], ["purchase", s.get(6, "")], ["gene", s.get(5, "")]]
                elif kind == "m4r" and tid not in ringtones and "Music" not in s.get(2, ""):
                    ringtones[tid] = [["path", s[2].replace(":", "/")], ["title", s.get(1, "")], ["size", t["size"]],
                                      ["duration", t["length"]]]
        listed = []
        for name, prefix in (("Books/Books.plist", "/Books/"), ("Books/Purchases/Purchases.plist", "/Books/Purchases/")):
            with open(os.path.join(fs, name), "rb") as f:
                for entry in plistlib.load(f)["Books"]:
                    if not isinstance(entry, dict) or "Path" not in entry:
                        continue
                    path = prefix + entry["Path"]
                    if os.path.exists(fs + path):
                        size = os.path.getsize(fs + path)
                        listed.append([["path", path], ["title", entry.get("Name", "")], ["size", size],
                                       ["artist", entry.get("Artist", "")], ["purchase", ""],
                                       ["gene", entry.get("Genre", "")]])
        for tid in sorted(catalog):
            book = catalog[tid]
            if not os.path.exists(fs + book[0][1]):
                continue
            same = [b for b in listed if b[0][1] == book[0][1]]
            if not same:
                listed.append(book)
            elif book[2][1]:
                same[0][2][1] = book[2][1]
        return listed, [ringtones[t] for t in sorted(ringtones)]

    def test_books_and_ringtones_from_compressed_and_stored_database(self):
        for compress in (True, False):
            udid, folder = self.attach(family="ios5", compress=compress)
            found = self.sections(self.request(BOOKS, udid))
            books, ringtones = self.expected_books(folder)
            # An EPUB is a folder: its size is whatever the file system reports; compare the rest.
            strip = lambda rows: [[m for m in r if m[0] != "size" or not r[0][1].lower().endswith(".epub")]  # noqa
                                  for r in rows]
            self.assertEqual(strip(found[BOOK_SECTION]), strip(books))
            self.assertEqual(found[RINGTONES], ringtones)
            self.assertTrue(books and ringtones)
            self.stop_harlix()

    def test_voice_memos(self):
        udid, folder = self.attach(family="ios5")
        fs = os.path.join(folder, "fs")
        progress = self.request(MEMOS, udid)
        self.assertEqual(len(progress), 2)  # every memo in one batch
        found = self.sections(progress, batch=10 ** 9)[MEMOS]
        db = sqlite3.connect("file:%s?immutable=1" % os.path.join(fs, "Recordings/Recordings.db"), uri=True)
        expected = []
        for duration, path, label, date in db.execute(
                "select ZDURATION,ZPATH,ZCUSTOMLABEL,ZDATE from ZRECORDING WHERE ZDURATION >= 0 and ZPATH is not"
                " null order by ZDATE asc"):
            if "/Recordings/" not in path:
                continue
            path = path[path.index("/Recordings/"):]
            size = os.path.getsize(fs + path) if os.path.exists(fs + path) else 0
            expected.append([["path", path], ["size", size], ["label", label or ""], ["duration_int", g(duration)],
                             ["duration", duration_text(duration)], ["date_int", g(date)], ["date", local_time(date)]])
        self.assertEqual(found, expected)
        self.assertIn(["duration", "01:02:05"], [m for r in found for m in r])
        self.assertTrue(any(r[1] == ["size", 0] for r in found))

    def book_list(self, folder, name="Books/Books.plist"):
        with open(os.path.join(folder, "fs", name), "rb") as f:
            return plistlib.load(f)["Books"]

    def import_book(self, udid, path, remote=0, expect=0):
        return self.request(IMPORT, udid, data={"path": path, "remote": remote}, expect=expect)

    def test_import_and_delete_books(self):
        udid, folder = self.attach(family="ios5")
        fs = os.path.join(folder, "fs")
        # Before any listing there is no local list to edit.
        self.request(DELETE, udid, data={"path": "/Books/Book01.pdf"}, expect=32)
        pdf = os.path.join(self.tmp.path, "My Novel.pdf")
        with open(pdf, "wb") as f:
            f.write(b"%PDF-1.4 novel")
        epub = os.path.join(self.tmp.path, "Tale.epub")
        with zipfile.ZipFile(epub, "w") as z:
            z.writestr("mimetype", "application/epub+zip")
            z.writestr("OEBPS/ch1.xhtml", "<html/>")
        before = self.book_list(folder)
        replies = [self.import_book(udid, pdf), self.import_book(udid, epub)]
        added = self.book_list(folder)[len(before):]
        self.assertEqual([(e["Name"], e["Has Artwork"], len(e["Persistent ID"])) for e in added],
                         [("My Novel", True, 16), ("Tale", True, 16)])
        self.assertRegex(added[0]["Path"], r"^[A-Z]{4}\.PDF$")
        self.assertRegex(added[1]["Path"], r"^[A-Z]{4}\.EPUB$")
        with open(os.path.join(fs, "Books", added[0]["Path"]), "rb") as f:
            self.assertEqual(f.read(), b"%PDF-1.4 novel")
        with open(os.path.join(fs, "Books", added[1]["Path"], "OEBPS/ch1.xhtml"), "rb") as f:
            self.assertEqual(f.read(), b"<html/>")
        (_, status, record, data), = replies[0]
        self.assertEqual((status, record["stage"], json.loads(data, object_pairs_hook=pairs)),
                         (2, 0, [[["path", "/Books/" + added[0]["Path"]], ["title", "My Novel"], ["size", 14],
                                  ["artist", ""], ["purchase", ""], ["gene", ""]]]))
        # A book on the device is moved into the book folder.
        with open(os.path.join(fs, "Downloads", "Remote.pdf"), "wb") as f:
            f.write(b"%PDF remote")
        self.import_book(udid, "/Downloads/Remote.pdf", remote=1)
        self.assertFalse(os.path.exists(os.path.join(fs, "Downloads", "Remote.pdf")))
        self.assertEqual(self.book_list(folder)[-1]["Name"], "Remote")
        # An EPUB on the device is unpacked over AFC and its archive removed.
        shutil.copy(epub, os.path.join(fs, "Downloads", "Far Tale.epub"))
        self.import_book(udid, "/Downloads/Far Tale.epub", remote=1)
        entry = self.book_list(folder)[-1]
        self.assertEqual(entry["Name"], "Far Tale")
        with open(os.path.join(fs, "Books", entry["Path"], "mimetype"), "rb") as f:
            self.assertEqual(f.read(), b"application/epub+zip")
        self.assertFalse(os.path.exists(os.path.join(fs, "Downloads", "Far Tale.epub")))

        # Deleting removes the file and then the entry; paths outside the book folders are refused.
        self.request(DELETE, udid, data={"path": "/Books/" + added[1]["Path"]})
        self.assertFalse(os.path.exists(os.path.join(fs, "Books", added[1]["Path"])))
        self.assertNotIn(added[1]["Path"], [e.get("Path") for e in self.book_list(folder) if isinstance(e, dict)])
        # A PDF that the device cannot remove (here a folder with contents under its name): a failure
        # code, and the file and its entry stay.
        stuck = os.path.join(fs, "Books", added[0]["Path"])
        os.remove(stuck)
        os.makedirs(os.path.join(stuck, "inside"))
        listed = self.book_list(folder)
        self.request(DELETE, udid, data={"path": "/Books/" + added[0]["Path"]}, expect=38)
        self.assertTrue(os.path.isdir(os.path.join(stuck, "inside")))
        self.assertEqual(self.book_list(folder), listed)
        self.assertIn(added[0]["Path"], [e.get("Path") for e in listed if isinstance(e, dict)])
        os.makedirs(os.path.join(fs, "DCIM"), exist_ok=True)
        with open(os.path.join(fs, "DCIM", "X.pdf"), "wb") as f:
            f.write(b"photo")
        for path in ("/Books/../DCIM/X.pdf", "/DCIM/X.pdf", "X.pdf", "/Books/sub/X.pdf"):
            self.request(DELETE, udid, data={"path": path}, expect=37)
        self.assertTrue(os.path.exists(os.path.join(fs, "DCIM", "X.pdf")))
        # A purchased book: the purchases list is edited and uploaded.
        self.request(BOOKS, udid)
        self.request(DELETE, udid, data={"path": "/Books/Purchases/Bought0.pdf"})
        self.assertEqual([e["Path"] for e in self.book_list(folder, "Books/Purchases/Purchases.plist")],
                         ["Bought1.pdf", "Bought2.pdf"])
        # Requests without a usable path are refused before the device is touched.
        books = sorted(os.listdir(os.path.join(fs, "Books")))
        for data in ({"remote": 0}, {"path": "/tmp/noextension"}, {"path": "/tmp/a.txt"}, {"path": 5}):
            self.request(IMPORT, udid, data=data, expect=8)
        self.request(DELETE, udid, data={}, expect=8)
        self.assertEqual(sorted(os.listdir(os.path.join(fs, "Books"))), books)

    def test_deleting_a_book_that_no_list_names_removes_it_where_it_lives(self):
        # The listing shows the media database's books beside those of the lists; one that neither
        # list names (a PDF file, an unpacked EPUB) is removed from the device, and listed no more.
        udid, folder = self.attach(family="ios5")
        fs = os.path.join(folder, "fs")
        named = {"/Books/" + e["Path"] for e in self.book_list(folder) if isinstance(e, dict) and "Path" in e}
        named |= {"/Books/Purchases/" + e["Path"] for e in self.book_list(folder, "Books/Purchases/Purchases.plist")}
        listed = [dict(b)["path"] for b in self.sections(self.request(BOOKS, udid))[BOOK_SECTION]]
        unnamed = {os.path.splitext(p)[1].lower(): p for p in listed if p not in named}
        self.assertEqual(sorted(unnamed)[:2], [".epub", ".pdf"])
        for path in (unnamed[".pdf"], unnamed[".epub"]):
            self.assertTrue(os.path.exists(fs + path))
            self.request(DELETE, udid, data={"path": path})
            self.assertFalse(os.path.exists(fs + path))
        after = [dict(b)["path"] for b in self.sections(self.request(BOOKS, udid))[BOOK_SECTION]]
        self.assertEqual(after, [p for p in listed if p not in (unnamed[".pdf"], unnamed[".epub"])])
        # Nothing lives at the path any more: there is nothing left to remove.
        self.request(DELETE, udid, data={"path": unnamed[".pdf"]})

    def test_epub_with_climbing_entry_writes_nothing_outside(self):
        udid, folder = self.attach(family="ios5")
        fs = os.path.join(folder, "fs")
        epub = os.path.join(self.tmp.path, "Evil.epub")
        with zipfile.ZipFile(epub, "w") as z:
            z.writestr("mimetype", "application/epub+zip")
            z.writestr("../escaped.txt", "out")
            z.writestr("/abs.txt", "out")
        before = sorted(os.listdir(os.path.join(fs, "Books")))
        self.import_book(udid, epub, expect=39)
        self.assertEqual(sorted(os.listdir(os.path.join(fs, "Books"))), before)
        self.assertFalse(os.path.exists(os.path.join(fs, "escaped.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.tmp.path, "abs.txt")))
        self.assertNotIn("Evil", [e.get("Name") for e in self.book_list(folder) if isinstance(e, dict)])

    def test_parallel_imports_keep_every_entry_and_unparseable_list_is_refused(self):
        udid, folder = self.attach(family="ios5")
        before = len(self.book_list(folder))
        ids = []
        for n in range(8):
            path = os.path.join(self.tmp.path, "Parallel %d.pdf" % n)
            with open(path, "wb") as f:
                f.write(b"%PDF " + bytes([n]))
            ids.append(self.send(IMPORT, {"uuid": udid}, {"path": path}))
        results = self.replies(ids)
        for packet_id in ids:
            self.assert_final(results[packet_id][1], 0, udid)
        entries = self.book_list(folder)[before:]
        self.assertEqual(sorted(e["Name"] for e in entries), ["Parallel %d" % n for n in range(8)])
        self.assertEqual(len({e["Path"] for e in entries}), 8)
        # A local list that no longer parses: 32, and the device's list stays as it was.
        cache = next(root for root, _, files in os.walk(self.tmp.path) if "Books.plist" in files and udid in root)
        with open(os.path.join(cache, "Books.plist"), "wb") as f:
            f.write(b"<plist><dict><key>Books</key><array><dict>")
        device_list = self.book_list(folder)
        books = sorted(os.listdir(os.path.join(folder, "fs", "Books")))
        self.request(DELETE, udid, data={"path": "/Books/" + entries[0]["Path"]}, expect=32)
        self.import_book(udid, os.path.join(self.tmp.path, "Parallel 0.pdf"), expect=32)
        self.assertEqual(self.book_list(folder), device_list)
        self.assertEqual(sorted(os.listdir(os.path.join(folder, "fs", "Books"))), books)
        self.assertTrue(os.path.exists(os.path.join(folder, "fs", "Books", entries[0]["Path"])))

    def test_item_ids_and_other_codes(self):
        udid, _ = self.attach()
        progress, final = self.run_request(ITEM_IDS, {"uuid": udid, "item_pids": [1, 2]})
        self.assert_final(final, 0, udid)
        progress, final = self.run_request(ITEM_IDS, {"uuid": udid, "item_pids": 5})
        self.assert_final(final, 8, udid)
        for code in range(1003, 1010):
            self.assertEqual(self.request(code, udid), [])
        # No media on the device: every section of 1000 is still sent, with count 0.
        progress = self.request(LIBRARY, udid)
        self.assertEqual([(c, r["info"]) for c, _, r, _ in progress],
                         [(c, {"Count": 0}) for c in (SONGS, MOVIES, VIDEOS, TV, PLAYLISTS)])
        self.assertEqual(self.request(MEMOS, udid), [])


class HostileLibraryTest(MediaTest):
    """Media libraries made to hang a reader: each listing ends with a code, a cancel ends it, and
    requests of other kinds are answered while a dozen of them run."""

    def attach_hostile(self, kind, time_limit_ms):
        image = self.lab.make(media={"family": "ios5", "songs": 20, "playlists": 2})
        udid = self.lab.attach(image)
        media.spoil_media_library(os.path.join(hlx_device.image_folder(udid, root=self.lab.root), "fs"), kind)
        self.start_harlix({"TZ": PINNED_TZ, "HLX_SQL_TIME_LIMIT_MS": str(time_limit_ms)})
        self.next_event(READY, udid)
        return udid

    def test_endless_view_ends_with_statement_failed(self):
        # Refused as a view: the time bound here is far away.
        udid = self.attach_hostile("endless_view", 600000)
        self.assertEqual(self.request(LIBRARY, udid, expect=20), [])

    def test_titles_of_gigabytes_end_with_statement_failed_and_the_service_stays_small(self):
        # Two gigabytes of titles to sort by: the sort may take at most the bound on the memory of
        # every connection (1 GiB); the listing ends with 20 and the service answers meanwhile.
        udid = self.attach_hostile("huge_titles", 600000)
        pid = self.peer.process.pid
        before = peak_resident_kb(pid)
        listing = self.send(LIBRARY, {"uuid": udid})
        _, final = self.run_request(DEVICE_INFO, {"uuid": udid})
        self.assertEqual(final[2]["code"], 0)
        progress, final = self.replies([listing], timeout=120)[listing]
        self.assert_final(final, 20, udid)
        self.assertEqual(progress, [])
        self.assertLess(peak_resident_kb(pid) - before, 1536 * 1024)
        # Its memory is given back: the service goes on answering.
        _, final = self.run_request(DEVICE_INFO, {"uuid": udid})
        self.assertEqual(final[2]["code"], 0)

    def test_a_slow_listing_ends_at_its_time_bound_with_statement_failed(self):
        udid = self.attach_hostile("slow_rows", 1500)
        started = time.monotonic()
        self.assertEqual(self.request(LIBRARY, udid, expect=20), [])
        self.assertLess(time.monotonic() - started, 30, "the bound ends the query, not the rows running out")
        _, final = self.run_request(DEVICE_INFO, {"uuid": udid})
        self.assertEqual(final[2]["code"], 0)

    def test_listings_held_on_one_device_hold_back_no_other_device(self):
        # Six listings of device A wait behind one another for minutes (each copy waits for the
        # reading before it); device B's listing is answered meanwhile, and cancels then end A's.
        slow = self.lab.attach(self.lab.make(media={"family": "ios5", "songs": 20, "playlists": 2}))
        media.spoil_media_library(os.path.join(hlx_device.image_folder(slow, root=self.lab.root), "fs"), "slow_rows")
        other = self.lab.attach(self.lab.make(media={"family": "ios5", "songs": 20, "playlists": 2}))
        self.start_harlix({"TZ": PINNED_TZ, "HLX_SQL_TIME_LIMIT_MS": "600000"})
        for udid in (slow, other):
            self.next_event(READY, udid)
        held = [self.send(LIBRARY, {"uuid": slow}) for _ in range(6)]
        listing = self.send(LIBRARY, {"uuid": other})
        self.assertEqual(self.answered_before(listing, held), ((1, 0), []))
        for packet_id in held:
            self.send(CANCEL, {"uuid": slow, "code": packet_id})
        finals = {(final[1], final[2]["code"]) for _, final in self.replies(held, timeout=120).values()}
        self.assertEqual(finals, {(5, 6)})
        self.assertTrue(self.sections(self.request(LIBRARY, other))[SONGS])

    def test_cancel_ends_slow_listings_and_other_requests_are_answered_meanwhile(self):
        udid = self.attach_hostile("slow_rows", 600000)
        listings = [self.send(LIBRARY, {"uuid": udid}) for _ in range(12)]
        _, final = self.run_request(DEVICE_INFO, {"uuid": udid})
        self.assertEqual(final[2]["code"], 0)
        for packet_id in listings:
            self.send(CANCEL, {"uuid": udid, "code": packet_id})
        finals = [(status, record["code"]) for _, (_, status, record, _) in self.replies(listings, timeout=60).values()]
        self.assertIn((5, 6), finals)
        self.assertLessEqual(set(finals), {(5, 6), (1, 0)})
