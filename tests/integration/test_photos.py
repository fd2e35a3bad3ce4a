"""Photos through the Harlix process and the simulated iPhone: the photo list, the albums and an
album's contents of each schema era's fixture and of real photo databases, checked against what
Python's sqlite3 computes from the same files; the fall-back from one query family to the other;
thumbnails decoded here; and the read-only portable-device check."""

import datetime
import glob
import json
import os
import random
import re
import shutil
import sqlite3
import struct
import subprocess
import tempfile
import time
import zlib

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase, peak_resident_kb, wait_until

import hlx_device  # noqa: E402 (the tools folder is importable through harlix_process)
import make_photo_data  # noqa: E402

PHOTOS, ALBUMS, CONTENTS, THUMBNAILS, PORTABLE = 400, 401, 402, 403, 404
CANCEL = 600
# Real photo databases (read from copies only); $HLX_REAL_DATA names another place for them.
REAL_DATA = os.path.join(os.environ.get("HLX_REAL_DATA", "/work/shared/real-data"), "osxphotos", "tests")
APPLE_EPOCH = datetime.datetime(2001, 1, 1)
LAST_SECOND = int((datetime.datetime(3000, 12, 31, 23, 59, 59) - APPLE_EPOCH).total_seconds())


def local_text(seconds):
    """What the service writes for a stored date: whole seconds since 2001 as pinned local time (a
    count beyond the year 3000 is read as nanoseconds)."""
    seconds = max(0, int(seconds or 0))
    if seconds > LAST_SECOND:
        seconds //= 10**9
    return (APPLE_EPOCH + datetime.timedelta(seconds=seconds) + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")


def regexp(pattern, text):
    return 1 if pattern and text and re.search(pattern.upper(), text.upper()) else 0


class Library:
    """A private copy of a Photos.sqlite (with its -wal and -shm) read with Python's sqlite3."""

    def __init__(self, folder, tmp):
        self.dir = tempfile.mkdtemp(dir=tmp)
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(os.path.join(folder, "Photos.sqlite" + suffix)):
                shutil.copyfile(os.path.join(folder, "Photos.sqlite" + suffix),
                                os.path.join(self.dir, "Photos.sqlite" + suffix))
        self.db = sqlite3.connect(os.path.join(self.dir, "Photos.sqlite"))
        self.db.create_function("regexp", 2, regexp)

    def columns(self, table):
        return {row[1].upper() for row in self.db.execute("PRAGMA table_info(%s)" % table)}

    def rows(self, sql):
        try:
            return self.db.execute(sql).fetchall()
        except sqlite3.OperationalError:
            return []  # the schema lacks a table or column the query needs

    def photo(self, row, fs):
        pk, saved, path, orientation, extra, created, modified, size = row
        if size is not None and size < 0:
            size = os.path.getsize(os.path.join(fs, path))
        return {"PATH": path, "Z_PK": pk, "ZSAVEDASSETTYPE": saved or 0, "ZORIENTATION": orientation or 0,
                "ZADDITIONALATTRIBUTES": extra or 0, "ZDATECREATED": local_text(created),
                "ZMODIFICATIONDATE": local_text(modified), "ZORIGINALFILESIZE": size or 0}

    def photos(self, fs, where="", trashed_state=0):
        """The photo list: old schema when it has the Photo table, else the new one (assets in the
        trash state given, when the schema has one)."""
        if "PRIMARYKEY" in self.columns("Photo"):
            rows = self.rows("SELECT primaryKey, type, directory || '/' || filename, orientation, 0, captureTime, "
                             "recordModDate, 0 FROM Photo WHERE filename IS NOT NULL" + where)
        else:
            has_trash = "ZTRASHEDSTATE" in self.columns("ZGENERICASSET")
            trashed = " AND a.ZTRASHEDSTATE = %d" % trashed_state if has_trash else ""
            rows = self.rows("SELECT a.Z_PK, a.ZSAVEDASSETTYPE, a.ZDIRECTORY || '/' || a.ZFILENAME, a.ZORIENTATION, "
                             "a.ZADDITIONALATTRIBUTES, a.ZDATECREATED, a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE "
                             "FROM ZGENERICASSET a JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK "
                             "WHERE t.ZORIGINALFILESIZE != 0" + trashed + where)
        return [self.photo(r, fs) for r in rows if r[2] is not None]

    def join(self):
        names = [r[0] for r in self.rows("SELECT name FROM sqlite_master WHERE type = 'table'")
                 if re.search("Z_[0-9]+ASSETS", r[0])]
        if not names:
            return None
        table = names[0]
        asset = [c for c in self.columns(table) if re.fullmatch("Z_[0-9]+ASSETS", c)]
        return table, "Z_%dALBUMS" % int(re.match(r"Z_(\d+)", table).group(1)), asset[0] if asset else None

    def albums(self):
        """The album list as (TYPE, Z_PK, TITLE, ZKIND, COUNT) tuples."""
        if "PRIMARYKEY" in self.columns("PhotoAlbum"):
            rows = self.rows("SELECT al.primaryKey, al.title, al.kind, count(*) FROM PhotoAlbum al "
                             "JOIN PhotoAlbumToPhotoJoin j ON j.left = al.primaryKey GROUP BY al.primaryKey")
            return sorted((1 if kind == 1000 else 0, pk, title or "", kind, n) for pk, title, kind, n in rows
                          if kind == 1000 or title is not None)
        found = self.join()
        if found is None or not self.columns("ZGENERICASSET"):
            return []
        table, album_column, asset_column = found
        assets = self.columns("ZGENERICASSET")
        trashed = "ZTRASHEDSTATE" in assets
        live = " AND a.ZTRASHEDSTATE = 0" if trashed else ""
        album_live = " AND al.ZTRASHEDSTATE = 0" if "ZTRASHEDSTATE" in self.columns("ZGENERICALBUM") else ""
        rows = self.rows("SELECT al.Z_PK, al.ZTITLE, al.ZKIND, count(*) FROM ZGENERICALBUM al JOIN %s z ON z.%s = al.Z_PK "
                         "JOIN ZGENERICASSET a ON a.Z_PK = z.%s JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK "
                         "WHERE t.ZORIGINALFILESIZE != 0%s%s GROUP BY al.Z_PK"
                         % (table, album_column, asset_column, live, album_live))
        albums = [(1 if kind == 1000 else 0, pk, title or "", kind, n) for pk, title, kind, n in rows
                  if kind == 1000 or title is not None]
        smart = [(2, "ZFAVORITE = 1", "ZFAVORITE"), (3, "ZKINDSUBTYPE = 10", "ZKINDSUBTYPE"),
                 (4, "ZSAVEDASSETTYPE = 256", "ZKINDSUBTYPE"), (6, "ZKIND = 1", None)]
        for kind, where, needs in smart:
            if needs is None or needs in assets:
                n = self.rows("SELECT count(*) FROM ZGENERICASSET WHERE %s%s" % (where, " AND ZTRASHEDSTATE = 0" if trashed else ""))
                if n and n[0][0]:
                    albums.append((kind, 0, "", 0, n[0][0]))
        if trashed:
            n = self.rows("SELECT count(*) FROM ZGENERICASSET a JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK "
                          "WHERE t.ZORIGINALFILESIZE != 0 AND a.ZTRASHEDSTATE = 1")
            if n and n[0][0]:
                albums.append((5, 0, "", 0, n[0][0]))
        return sorted(albums)

    def contents(self, fs, album_id, album_type):
        if "PRIMARYKEY" in self.columns("Photo"):
            return self.photos(fs, " AND primaryKey IN (SELECT right FROM PhotoAlbumToPhotoJoin WHERE left = %d)"
                               % album_id)
        table, album_column, asset_column = self.join()
        if album_type in (0, 1):
            return self.photos(fs, " AND a.Z_PK IN (SELECT %s FROM %s WHERE %s = %d)"
                               % (asset_column, table, album_column, album_id))
        if album_type == 5:  # the trash: every listed asset when the schema has none
            return self.photos(fs, trashed_state=1)
        where = {2: "a.ZFAVORITE = 1", 3: "a.ZKINDSUBTYPE = 10", 4: "a.ZSAVEDASSETTYPE = 256", 6: "a.ZKIND = 1"}
        return self.photos(fs, " AND " + where[album_type])


def album_tuple(album):
    return album["TYPE"], album["Z_PK"], album["TITLE"], album["ZKIND"], album["COUNT"]


def jpeg_size(data):
    """(width, height) from a JPEG's frame header."""
    i = 2
    while i < len(data):
        marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    return None


def decoded_size(data, tmp):
    """The size ImageMagick decodes the picture to (every pixel read), or None without it."""
    if shutil.which("convert") is None:
        return None
    path = os.path.join(tmp, "picture.jpg")
    with open(path, "wb") as f:
        f.write(data)
    out = subprocess.run(["convert", path, "ppm:-"], capture_output=True, timeout=60, check=True).stdout
    magic, width, height = out.split(b"\n", 1)[0], *out.split(b"\n")[1].split()
    return magic, int(width), int(height)


def png_file(width, height, pixel_rows=None, data_bytes=None):
    """An 8-bit RGBA PNG that claims width x height; its rows are zeros (pixel_rows of them, all by
    default; or, with data_bytes, that many zero bytes whatever the header says): a zero picture of
    100 megapixels compresses to some 400 KB, a claim without rows is a few dozen bytes."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    packer = zlib.compressobj(9)
    if data_bytes is None:
        row = b"\0" * (1 + width * 4)
        data = b"".join(packer.compress(row) for _ in range(height if pixel_rows is None else pixel_rows))
    else:
        step = b"\0" * (1 << 20)
        data = b"".join(packer.compress(step) for _ in range(data_bytes >> 20))
    data += packer.flush()
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", data) + chunk(b"IEND", b""))


class PhotoTest(HarlixTestCase):
    first_request_id = 4001

    def attach_image(self, version, era=None, edit=None, real=None, **options):
        """Makes an image (photo library of `era`, or the real database folder `real`), lets `edit(fs)`
        change its files and attaches it; returns (udid, fs folder)."""
        image = self.lab.make(product_version=version, photo_data=dict(era=era) if era else None, **options)
        fs = os.path.join(image["path"], "fs")
        if real:
            for suffix in ("", "-wal", "-shm"):
                shutil.copyfile(os.path.join(real, "Photos.sqlite" + suffix),
                                os.path.join(fs, "PhotoData", "Photos.sqlite" + suffix))
        if edit:
            edit(fs)
        udid = self.lab.attach(image)
        return udid, os.path.join(hlx_device.image_folder(udid, root=self.lab.root), "fs")

    def attach(self, version, era=None, edit=None, real=None, env=None, **options):
        """attach_image, then Harlix started (with `env` on top of a pinned time zone)."""
        udid, fs = self.attach_image(version, era, edit, real, **options)
        self.start_harlix(dict({"TZ": PINNED_TZ}, **(env or {})))
        self.next_event(READY, udid)
        return udid, fs

    def list_photos(self, udid, code=PHOTOS, info=None, final_code=0):
        """The listed photos, checking the count reply and the batches of at most 600."""
        progress, final = self.run_request(code, {"uuid": udid, "info": info or {}})
        self.assert_final(final, final_code, udid)
        return self.counted_items(progress, 600) if progress else None

    def list_albums(self, udid, final_code=0):
        progress, final = self.run_request(ALBUMS, {"uuid": udid, "info": {"refresh": 0}})
        self.assert_final(final, final_code, udid)
        albums = []
        for _, status, record, data in progress:
            self.assertEqual((status, record["stage"], record["type"]), (2, 1, 0))
            batch = json.loads(data.decode("utf-8"))
            self.assertTrue(0 < len(batch) <= 100)
            albums += [album_tuple(a) for a in batch]
        return albums

    def check_library(self, udid, fs, contents=()):
        library = Library(os.path.join(fs, "PhotoData"), self.tmp.path)
        expected = library.photos(fs)
        listed = self.list_photos(udid) or []
        by_pk = lambda items: sorted(items, key=lambda p: p["Z_PK"])  # noqa: E731
        self.assertEqual(by_pk(listed), by_pk(expected))
        self.assertEqual(sorted(self.list_albums(udid)), library.albums())
        for album_id, album_type in contents:
            listed = self.list_photos(udid, CONTENTS, {"album_id": album_id, "album_type": album_type}) or []
            self.assertEqual(by_pk(listed), by_pk(library.contents(fs, album_id, album_type)), (album_id, album_type))
        return expected, listed

    def test_each_era_lists_what_sqlite_computes(self):
        for era, version, contents in [("ios5", "5.1.1", [(2, 0), (1, 1)]),
                                       ("ios7", "7.1.2", [(2, 0), (1, 1), (0, 6), (0, 5)]),
                                       ("ios9", "9.3.5", [(2, 0), (0, 2), (0, 3), (0, 4), (0, 5), (0, 6)])]:
            with self.subTest(era=era):
                udid, fs = self.attach(version, era)
                expected, _ = self.check_library(udid, fs, contents)
                # left out: one row without a file (all eras), one of size 0 (new), one in the trash (ios9)
                self.assertEqual(len(expected), {"ios5": 11, "ios7": 10, "ios9": 9}[era])
                if era != "ios5":  # the new photo list is newest first
                    listed = self.list_photos(udid)
                    self.assertEqual([p["ZDATECREATED"] for p in listed],
                                     sorted((p["ZDATECREATED"] for p in listed), reverse=True))
                    self.assertIn(2, [p["Z_PK"] for p in listed])  # its size is looked up on the device
                    # Through the function remembered for this version, its own code comes back.
                    self.assertIsNone(self.list_photos(udid, CONTENTS, {"album_id": 2, "album_type": 7}, 21))
                self.peer.close()
                self.lab.detach(udid)

    def test_a_large_library_goes_out_in_order_batch_by_batch(self):
        # Several full batches and a part one, written and compressed on helper threads: each batch
        # reply inflates to the very JSON text of its rows, newest first, and the batches come in order.
        def large(fs):
            make_photo_data.write_photo_data(fs, era="ios9", photos=2000, media=False)
            library = Library(os.path.join(fs, "PhotoData"), self.tmp.path)
            # The rows whose size the service asks the device for get a file of their own.
            for (path,) in library.rows("SELECT a.ZDIRECTORY || '/' || a.ZFILENAME FROM ZGENERICASSET a "
                                        "JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK "
                                        "WHERE t.ZORIGINALFILESIZE < 0"):
                with open(os.path.join(fs, path), "wb") as f:
                    f.write(b"\0" * 1234)

        udid, fs = self.attach("9.3.5", edit=large)
        expected = Library(os.path.join(fs, "PhotoData"), self.tmp.path).photos(fs, " ORDER BY a.ZDATECREATED DESC")
        self.assertIn(1234, [p["ZORIGINALFILESIZE"] for p in expected])  # a size looked up on the device
        self.assertGreater(len(expected) % 600, 0)
        self.assertGreater(len(expected), 3 * 600)
        for refresh in (1, 0):  # the copy made, then the copy kept
            with self.subTest(refresh=refresh):
                progress, final = self.run_request(PHOTOS, {"uuid": udid, "info": {"refresh": refresh}})
                self.assert_final(final, 0, udid)
                self.assertEqual(self.counted_items(progress, 600), expected)
                for index, (_, _, _, data) in enumerate(progress[1:]):
                    rows = expected[600 * index:600 * (index + 1)]
                    self.assertEqual(data, json.dumps(rows, separators=(",", ":")).encode(), index)

    def test_real_databases(self):
        folders = sorted(glob.glob(os.path.join(REAL_DATA, "*.photoslibrary", "database")))
        if not folders:
            self.skipTest("no real photo databases in %s" % REAL_DATA)
        for folder in folders:
            with self.subTest(library=os.path.basename(os.path.dirname(folder))):
                udid, fs = self.attach("13.1", real=folder)
                contents = []
                library = Library(os.path.join(fs, "PhotoData"), self.tmp.path)
                if library.columns("ZGENERICASSET"):
                    for album_type, pk, *_ in library.albums()[:4]:
                        contents.append((pk, album_type))
                    expected, _ = self.check_library(udid, fs, contents)
                    self.assertTrue(expected)
                else:
                    # The family that names its asset table ZASSET is read by neither query family:
                    # the lists fail, rather than show a library without photos.
                    self.assertIsNone(self.list_photos(udid, final_code=20))
                    self.assertEqual(self.list_albums(udid, final_code=20), [])
                self.peer.close()
                self.lab.detach(udid)

    def test_fallback_calls_each_family_once_and_remembers_it(self):
        def hybrid(fs):
            # New-schema assets whose album table has no titles, beside the old tables: the new album
            # function sends its smart albums and then fails; the old one succeeds.
            db = sqlite3.connect(os.path.join(fs, "PhotoData", "Photos.sqlite"))
            db.executescript("DROP TABLE ZGENERICALBUM; CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, "
                             "ZKIND INTEGER, ZTRASHEDSTATE INTEGER);")
            entries = make_photo_data.photo_entries(random.Random(1), 6)
            make_photo_data.create_old_tables(db)(entries)
            db.commit()
            db.close()

        udid, fs = self.attach("9.3.5", "ios9", edit=hybrid)
        old_albums = Library(os.path.join(fs, "PhotoData"), self.tmp.path).albums()
        first = self.list_albums(udid)
        smart = [a for a in first if a[0] in (2, 3, 4, 5, 6)]
        # Five majors name the new function; it ran once, so each smart album came once.
        self.assertEqual(sorted(smart, key=lambda a: a[0]), sorted(set(smart), key=lambda a: a[0]))
        self.assertEqual(sorted({a[0] for a in smart}), [2, 3, 4, 5, 6])
        self.assertEqual(sorted(a for a in first if a[0] in (0, 1)), old_albums)
        # The old function is remembered for 9.3.5: the next list calls only it.
        self.assertEqual(sorted(self.list_albums(udid)), old_albums)

    def test_a_list_whose_every_family_fails_answers_its_failure(self):
        # The time bound, the byte bound and a broken page halfway through the rows: every family
        # tried fails, and the list answers 20 with no rows, never 0 (a phone without photos). The
        # broken page comes after a first list, so that the remembered family fails too.
        spoil = make_photo_data.spoil_photo_library
        for kind, era, version, limit_ms, requests in [
                ("slow_rows", "ios9", "9.3.5", 1500, [(PHOTOS, {}, 20)]),
                ("huge_paths", "ios5", "5.1.1", 600000, [(PHOTOS, {}, 20), (CONTENTS, {"album_id": 1}, 20)]),
                ("broken_page", "ios9", "9.3.5", 600000,
                 [(PHOTOS, {}, 0), (PHOTOS, {"refresh": 1}, 20), (CONTENTS, {"album_id": 1, "album_type": 1}, 20)])]:
            with self.subTest(kind=kind):
                edit = None if kind == "broken_page" else (lambda fs: spoil(fs, kind))
                udid, fs = self.attach(version, era, edit=edit, env={"HLX_SQL_TIME_LIMIT_MS": str(limit_ms)})
                for code, info, expected in requests:
                    progress, final = self.run_request(code, {"uuid": udid, "info": info})
                    self.assert_final(final, expected, udid)
                    if expected:
                        self.assertEqual(progress, [])
                    else:
                        self.assertTrue(progress)
                        spoil(fs, kind)
                self.peer.close()
                self.lab.detach(udid)

    def test_lists_of_a_device_held_at_their_bound_hold_back_no_other_device(self):
        # Device A's photo lists read for minutes; device B's list is answered while they still run,
        # and a cancel then ends A's.
        slow, _ = self.attach_image("9.3.5", "ios9",
                                    edit=lambda fs: make_photo_data.spoil_photo_library(fs, "slow_rows"))
        other, fs = self.attach_image("9.3.5", "ios9")
        self.start_harlix({"TZ": PINNED_TZ, "HLX_SQL_TIME_LIMIT_MS": "600000"})
        for udid in (slow, other):
            self.next_event(READY, udid)
        held = [self.send(PHOTOS, {"uuid": slow, "info": {}}) for _ in range(3)]
        # The first of A's lists has made its copy, which it does holding A's list lock.
        local_copy = os.path.join(self.tmp.path, "**", slow, "Photos.sqlite")
        self.assertTrue(wait_until(lambda: [p for p in glob.glob(local_copy, recursive=True)
                                            if os.sep + "fs" + os.sep not in p], timeout=60))
        listing = self.send(PHOTOS, {"uuid": other, "info": {}})
        self.assertEqual(self.answered_before(listing, held), ((1, 0), []))
        for packet_id in held:
            self.send(CANCEL, {"uuid": slow, "code": packet_id})
        results = self.replies(held, timeout=120)
        self.assertEqual({(final[1], final[2]["code"]) for _, final in results.values()}, {(5, 6)})
        expected = Library(os.path.join(fs, "PhotoData"), self.tmp.path).photos(fs)
        self.assertEqual(len(self.list_photos(other)), len(expected))

    def test_refresh_drops_the_previous_write_ahead_log(self):
        udid, fs = self.attach("9.3.5", "ios9")
        device_db = os.path.join(fs, "PhotoData", "Photos.sqlite")
        stale = {suffix: open(device_db + suffix, "rb").read() for suffix in ("-wal", "-shm")}
        before = self.list_photos(udid)
        db = sqlite3.connect(device_db)
        db.execute("DELETE FROM ZADDITIONALASSETATTRIBUTES WHERE Z_PK = 1")
        db.commit()
        db.close()  # checkpoints: the device now has no -wal
        self.assertFalse(os.path.exists(device_db + "-wal"))
        self.assertEqual(self.list_photos(udid), before)  # the copy is reused without refresh
        # Leftovers of the first copy beside the local database, as an interrupted run leaves them.
        local = [p for p in glob.glob(os.path.join(self.tmp.path, "**", udid, "Photos.sqlite"), recursive=True)
                 if os.sep + "fs" + os.sep not in p]
        self.assertEqual(len(local), 1)
        for suffix, data in stale.items():
            with open(local[0] + suffix, "wb") as f:
                f.write(data)
        after = self.list_photos(udid, info={"refresh": 1})
        self.assertEqual(sorted(p["Z_PK"] for p in after), sorted(p["Z_PK"] for p in before if p["Z_PK"] != 1))

    def test_thumbnails(self):
        def quoted(fs):
            shutil.copyfile(os.path.join(fs, "DCIM/100APPLE/IMG_0101.JPG"), os.path.join(fs, 'DCIM/100APPLE/Q"1.jpg'))

        udid, fs = self.attach("9.3.5", "ios9", edit=quoted)
        files = {"1": "DCIM/100APPLE/IMG_0100.JPG", "2": "DCIM/100APPLE/IMG_0101.JPG",
                 'a"b': 'DCIM/100APPLE/Q"1.jpg', "5": "DCIM/100APPLE/IMG_0104.PNG",
                 "007": "DCIM/100APPLE/IMG_0106.MOV", "9": "DCIM/100APPLE/missing.JPG"}
        progress, final = self.run_request(THUMBNAILS, {"uuid": udid}, files)
        self.assert_final(final, 0, udid)
        replies = []
        for _, status, record, data in progress:
            self.assertEqual((status, record["stage"], record["type"]), (2, 0, 1))
            replies.append((record["info"]["id"], record["info"]["path"], data))
        mtime = os.stat(os.path.join(fs, "DCIM/100APPLE/IMG_0100.JPG")).st_mtime_ns // 10**9
        video_mtime = os.stat(os.path.join(fs, "DCIM/100APPLE/IMG_0106.MOV")).st_mtime_ns // 10**9
        cached = "/DCIM/.THMB/%02d/100APPLE___IMG_0100.JPG.%d" % (mtime % 100, mtime)
        video_cached = "/DCIM/.THMB/%02d/100APPLE___IMG_0106.MOV.%d" % (video_mtime % 100, video_mtime)
        preview = "/PhotoData/Metadata/DCIM/100APPLE/IMG_0106.JPG"
        self.assertEqual([(i, p) for i, p, _ in replies],
                         [(1, cached), (2, files["2"]), ('a"b', files['a"b']), (5, files["5"]),
                          ("007", video_cached), ("007", preview)])
        for _, path, data in replies:
            if path.startswith("/"):  # the device's own pictures, as they are
                with open(os.path.join(fs, path[1:]), "rb") as f:
                    self.assertEqual(data, f.read())
            else:
                self.assertEqual(jpeg_size(data), (150, 150))
                size = decoded_size(data, self.tmp.path)
                if size is not None:
                    self.assertEqual(size[1:], (150, 150))

    def test_thumbnail_sources_above_the_size_cap_are_skipped_from_their_header(self):
        # 100 megapixels of zeros (400 KB on the device, 400 MB of pixels decoded), and a few dozen
        # bytes that claim 60000 x 60000: both are skipped as undecodable pictures are, from their
        # header, while the photos beside them still get their thumbnails.
        def edit(fs):
            folder = os.path.join(fs, "DCIM/100APPLE")
            with open(os.path.join(folder, "BOMB.PNG"), "wb") as f:
                f.write(png_file(10000, 10000))
            with open(os.path.join(folder, "CLAIM.PNG"), "wb") as f:
                f.write(png_file(60000, 60000, pixel_rows=1))

        udid, fs = self.attach("9.3.5", "ios9", edit=edit)
        self.assertLess(os.path.getsize(os.path.join(fs, "DCIM/100APPLE/BOMB.PNG")), 1 << 20)
        files = {"1": "DCIM/100APPLE/BOMB.PNG", "2": "DCIM/100APPLE/IMG_0101.JPG", "3": "DCIM/100APPLE/CLAIM.PNG",
                 "4": "DCIM/100APPLE/BOMB.PNG", "5": "DCIM/100APPLE/IMG_0104.PNG"}
        before = peak_resident_kb(self.peer.process.pid)
        started = time.monotonic()
        requests = [self.send(THUMBNAILS, {"uuid": udid}, files) for _ in range(3)]
        results = self.replies(requests, timeout=60)
        self.assertLess(time.monotonic() - started, 20)
        for packet_id in requests:
            progress, final = results[packet_id]
            self.assert_final(final, 0, udid)
            self.assertEqual([(r["info"]["id"], r["info"]["path"]) for _, _, r, _ in progress],
                             [(2, files["2"]), (5, files["5"])])
            for _, _, _, data in progress:
                self.assertEqual(jpeg_size(data), (150, 150))
        # Six decodes of the bomb would have taken gigabytes; none ran.
        self.assertLess(peak_resident_kb(self.peer.process.pid) - before, 150 * 1024)
        _, final = self.run_request(PHOTOS, {"uuid": udid, "info": {}})
        self.assertEqual(final[2]["code"], 0)

    def test_pictures_whose_data_inflates_beyond_their_header_are_skipped(self):
        # Modest headers (2000 x 2000, 1 x 1) over image data that inflates to 128 MiB, some 130 KB
        # on the device: each is found while its data is counted and skipped as an undecodable
        # picture is, so three such requests at once cost no memory worth the name, and the photos
        # beside them still get their thumbnails.
        def edit(fs):
            for name, size in (("WIDE.PNG", 2000), ("DOT.PNG", 1)):
                with open(os.path.join(fs, "DCIM/100APPLE", name), "wb") as f:
                    f.write(png_file(size, size, data_bytes=128 << 20))

        udid, fs = self.attach("9.3.5", "ios9", edit=edit)
        files = {"1": "DCIM/100APPLE/WIDE.PNG", "2": "DCIM/100APPLE/IMG_0101.JPG", "3": "DCIM/100APPLE/DOT.PNG",
                 "4": "DCIM/100APPLE/IMG_0104.PNG"}
        before = peak_resident_kb(self.peer.process.pid)
        requests = [self.send(THUMBNAILS, {"uuid": udid}, files) for _ in range(3)]
        results = self.replies(requests, timeout=120)
        self.assertLess(peak_resident_kb(self.peer.process.pid) - before, 150 * 1024)
        for packet_id in requests:
            progress, final = results[packet_id]
            self.assert_final(final, 0, udid)
            self.assertEqual([(r["info"]["id"], r["info"]["path"]) for _, _, r, _ in progress],
                             [(2, files["2"]), (4, files["4"])])

    def test_portable_device_check_only_looks(self):
        udid, fs = self.attach("9.3.5", "ios9", name="Camera Phone")
        before = sorted(os.path.relpath(os.path.join(d, f), fs) for d, _, names in os.walk(fs) for f in names)
        for data, code in [({}, 1), ({"name": ""}, 1), ({"name": "IMG_0100.JPG"}, 1), ({"name": "Camera"}, 1),
                           ({"name": "Camera Phone"}, 0)]:
            with self.subTest(data=data):
                progress, final = self.run_request(PORTABLE, {"uuid": udid}, data)
                self.assertEqual(progress, [])
                self.assertEqual((final[2]["code"], final[1]), (code, 1 if code == 0 else 6))
        after = sorted(os.path.relpath(os.path.join(d, f), fs) for d, _, names in os.walk(fs) for f in names)
        self.assertEqual(after, before)
        _, final = self.run_request(PORTABLE, {"uuid": udid}, b"not json")
        self.assertEqual(final[2]["code"], 8)
