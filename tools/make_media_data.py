#!/usr/bin/env python3
"""The media area of a simulated device image, under the image's fs/ where the device keeps it:

  iTunes_Control/iTunes/MediaLibrary.sqlitedb      the media library (family "ios5": iOS 5 and later)
  iTunes_Control/iTunes/iTunes Library.itlp/       Library.itdb and Locations.itdb (family "ios3": iOS 3-4)
  iTunes_Control/iTunes/iTunesCDB                  the chunked iTunes database (zlib body unless uncompressed)
  iTunes_Control/Music/Fnn/*, Ringtones/*          the media files the databases name
  Books/Books.plist, Books/Purchases/Purchases.plist and the books they name
  Recordings/Recordings.db and the memos it names

Seeded: the same seed and counts make the same bytes. Some records are meant to be left out by a
reader (files missing on the device, zero durations, kinds a family drops, memos without a path),
so that tests see the filters work. Importable: write_media_data(); walk_itunes_db() is an
independent reader of the chunk format for tests and benchmarks. Standard library only.

    make_media_data.py IMAGE [--seed N] [--family ios5|ios3] [--songs N] [--playlists N]
"""

import argparse
import os
import plistlib
import random
import sqlite3
import struct
import sys
import zlib

ITUNES = "iTunes_Control/iTunes"
ITLP = ITUNES + "/iTunes Library.itlp"
WORDS = ["Blue", "River", "Night", "Caf\u00e9", "Echo", "Paper", "Stone", "Golden", "Quiet", "Road", "\u96e8",
         "Storm", "Velvet", "Morning", "<Live>", "Harbor", "O'Neil", "Static"]
GENRES = ["Rock", "Jazz", "Classical", "Pop", "Spoken Word"]
# media_kind values as the media library files them: 1 music, 2 movie, 32 music video, 33 music
# video, 64 TV show, 3 a kind that only the newer family keeps (as a song).
MEDIA_KINDS = [1] * 8 + [2, 33, 64, 3, 0x21, 0x41]
HEADER = 188  # header length of the device's database header: above 169, so its body may be compressed


def _title(rng, words=3):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, words + 1)))


def _write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_library(rng, songs, playlists):
    """Items and playlists as plain records (dicts), shared by both database families."""
    items = []
    for index in range(songs):
        kind = MEDIA_KINDS[index % len(MEDIA_KINDS)] if index < 4 * len(MEDIA_KINDS) else rng.choice(MEDIA_KINDS)
        ext = "m4v" if kind in (2, 33, 64, 0x21, 0x41) else "mp3"
        # A few items name a folder that is not on the device at all.
        folder = "Missing" if index % 211 == 17 else "F%02d" % (index % 50)
        items.append({
            "pid": 1000 + index * 7 + rng.randrange(7),
            "kind": kind,
            "media_type": rng.randrange(0, 4),
            "title": None if index % 97 == 13 else _title(rng),
            "album": _title(rng, 2), "album_pid": 500 + index % 40,
            "artist": _title(rng, 2), "artist_pid": 800 + index % 30,
            "genre": GENRES[index % len(GENRES)], "genre_id": 1 + index % len(GENRES),
            "year": 1960 + rng.randrange(60),
            "date_modified": rng.randrange(300000000, 700000000),
            "comment": rng.choice(["", "remastered", None, "\"quoted\""]),
            "description_long": None if index % 3 else "A long description of item %d" % index,
            "copyright": "\u00a9 %d" % (1990 + index % 30),
            # Zero durations are never listed; one item runs over an hour.
            "duration_ms": 0 if index % 41 == 5 else (3725400.0 if index == 7 else rng.randrange(30000, 600000)),
            "base": folder, "location": "%s%04d.%s" % ("".join(rng.choice("ABCDEFGH") for _ in range(4)), index, ext),
            "size": rng.randrange(64, 2048),
            # One in nine files is missing on the device.
            "present": index % 9 != 4 and folder != "Missing",
        })
    containers = []
    for index in range(playlists):
        members = rng.sample(items, min(len(items), rng.randrange(0, 12))) if index % 5 != 3 else []
        containers.append({
            "pid": 90000 + index * 3,
            "name": None if index % 7 == 6 else "Playlist %d %s" % (index, _title(rng, 1)),
            "media_kinds": rng.choice([1, 2, 8]),
            "parent_pid": 0 if index % 4 else 90000,
            "smart_is_folder": int(index % 6 == 1),
            "is_hidden": int(index % 8 == 7),
            "items": [i["pid"] for i in members],
        })
    return items, containers


def _write_media_files(fs, items, base_of):
    for item in items:
        if item["present"]:
            _write(fs, "%s/%s" % (base_of(item), item["location"]), bytes(item["size"]))


def write_media_library(fs, items, containers, blob_items=False):
    """MediaLibrary.sqlitedb (iOS 5 and later). With blob_items the playlists keep their items as
    packed 8-byte little-endian ids in container_items.item_pid_data instead of container_item."""
    path = os.path.join(fs, ITUNES, "MediaLibrary.sqlitedb")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    db = sqlite3.connect(path)
    db.executescript("""
        CREATE TABLE item (item_pid INTEGER PRIMARY KEY, media_kind INTEGER, media_type INTEGER,
            album_pid INTEGER, item_artist_pid INTEGER, genre_id INTEGER, base_location_id INTEGER);
        CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, title TEXT, location TEXT, file_size INTEGER,
            total_time_ms REAL, year INTEGER, date_modified INTEGER, comment TEXT, description_long TEXT,
            copyright TEXT);
        CREATE TABLE album (album_pid INTEGER PRIMARY KEY, album TEXT);
        CREATE TABLE item_artist (item_artist_pid INTEGER PRIMARY KEY, item_artist TEXT);
        CREATE TABLE genre (genre_id INTEGER PRIMARY KEY, genre TEXT);
        CREATE TABLE base_location (base_location_id INTEGER PRIMARY KEY, path TEXT);
        CREATE TABLE container (container_pid INTEGER PRIMARY KEY, name TEXT, contained_media_type INTEGER,
            media_kinds INTEGER, parent_pid INTEGER, smart_is_folder INTEGER, is_hidden INTEGER);
        CREATE TABLE db_info (db_pid INTEGER PRIMARY KEY, primary_container_pid INTEGER);
    """)
    bases = sorted({i["base"] for i in items})
    base_ids = {b: n + 1 for n, b in enumerate(bases)}
    db.executemany("INSERT INTO base_location VALUES (?, ?)",
                   [(base_ids[b], "iTunes_Control/Music/" + b) for b in bases])
    for i in items:
        db.execute("INSERT OR REPLACE INTO album VALUES (?, ?)", (i["album_pid"], i["album"]))
        db.execute("INSERT OR REPLACE INTO item_artist VALUES (?, ?)", (i["artist_pid"], i["artist"]))
        db.execute("INSERT OR REPLACE INTO genre VALUES (?, ?)", (i["genre_id"], i["genre"]))
    db.executemany("INSERT INTO item VALUES (?, ?, ?, ?, ?, ?, ?)",
                   [(i["pid"], i["kind"], i["media_type"], i["album_pid"], i["artist_pid"], i["genre_id"],
                     base_ids[i["base"]]) for i in items])
    db.executemany("INSERT INTO item_extra VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   [(i["pid"], i["title"], i["location"], i["size"], i["duration_ms"], i["year"],
                     i["date_modified"], i["comment"], i["description_long"], i["copyright"]) for i in items])
    # The library's own container is the primary one and is never listed.
    db.execute("INSERT INTO container VALUES (1, 'Library', 0, 0, 0, 0, 0)")
    db.execute("INSERT INTO db_info VALUES (1, 1)")
    db.executemany("INSERT INTO container VALUES (?, ?, ?, ?, ?, ?, ?)",
                   [(c["pid"], c["name"], c["media_kinds"], c["media_kinds"], c["parent_pid"], c["smart_is_folder"],
                     c["is_hidden"]) for c in containers])
    if blob_items:
        db.execute("CREATE TABLE container_items (container_pid INTEGER PRIMARY KEY, item_pid_data BLOB)")
        db.executemany("INSERT INTO container_items VALUES (?, ?)",
                       [(c["pid"], struct.pack("<%dq" % len(c["items"]), *c["items"]) + b"\x07") for c in containers])
    else:
        db.execute("CREATE TABLE container_item (container_item_pid INTEGER PRIMARY KEY, container_pid INTEGER,"
                   " item_pid INTEGER, position INTEGER)")
        db.executemany("INSERT INTO container_item (container_pid, item_pid, position) VALUES (?, ?, ?)",
                       [(c["pid"], pid, n) for c in containers for n, pid in enumerate(c["items"])])
    db.commit()
    db.close()
    _write_media_files(fs, items, lambda i: "iTunes_Control/Music/" + i["base"])


def write_library_itdb(fs, items, containers):
    """Library.itdb and Locations.itdb (iOS 3 and 4). Items of kind 3 and every tenth item have no
    location row, so the reader leaves them out."""
    folder = os.path.join(fs, ITLP)
    os.makedirs(folder, exist_ok=True)
    db = sqlite3.connect(os.path.join(folder, "Library.itdb"))
    db.executescript("""
        CREATE TABLE item (pid INTEGER PRIMARY KEY, media_kind INTEGER, year INTEGER, date_modified INTEGER,
            comment TEXT, description_long TEXT, copyright TEXT, title TEXT, total_time_ms REAL, album TEXT,
            artist TEXT, genre_id INTEGER);
        CREATE TABLE genre_map (id INTEGER PRIMARY KEY, genre TEXT);
        CREATE TABLE container (pid INTEGER PRIMARY KEY, name TEXT, media_kinds INTEGER, parent_pid INTEGER,
            smart_is_folder INTEGER, is_hidden INTEGER);
        CREATE TABLE db_info (pid INTEGER PRIMARY KEY, primary_container_pid INTEGER);
        CREATE TABLE item_to_container (item_pid INTEGER, container_pid INTEGER, position INTEGER);
    """)
    db.executemany("INSERT OR REPLACE INTO genre_map VALUES (?, ?)", [(i["genre_id"], i["genre"]) for i in items])
    db.executemany("INSERT INTO item VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   [(i["pid"], i["kind"], i["year"], i["date_modified"], i["comment"], i["description_long"],
                     i["copyright"], i["title"], i["duration_ms"], i["album"], i["artist"], i["genre_id"])
                    for i in items])
    db.execute("INSERT INTO container VALUES (1, 'Library', 0, 0, 0, 0)")
    db.execute("INSERT INTO db_info VALUES (1, 1)")
    db.executemany("INSERT INTO container VALUES (?, ?, ?, ?, ?, ?)",
                   [(c["pid"], c["name"], c["media_kinds"], c["parent_pid"], c["smart_is_folder"], c["is_hidden"])
                    for c in containers])
    db.executemany("INSERT INTO item_to_container VALUES (?, ?, ?)",
                   [(pid, c["pid"], n) for c in containers for n, pid in enumerate(c["items"])])
    db.commit()
    db.close()
    db = sqlite3.connect(os.path.join(folder, "Locations.itdb"))
    db.executescript("""
        CREATE TABLE base_location (id INTEGER PRIMARY KEY, path TEXT);
        CREATE TABLE location (item_pid INTEGER PRIMARY KEY, base_location_id INTEGER, location TEXT,
            file_size INTEGER);
    """)
    bases = sorted({i["base"] for i in items})
    base_ids = {b: n + 1 for n, b in enumerate(bases)}
    db.executemany("INSERT INTO base_location VALUES (?, ?)", [(base_ids[b], "iTunes_Control/Music/" + b) for b in bases])
    db.executemany("INSERT INTO location VALUES (?, ?, ?, ?)",
                   [(i["pid"], base_ids[i["base"]], i["location"], i["size"]) for n, i in enumerate(items)
                    if n % 10 != 3])
    db.commit()
    db.close()
    _write_media_files(fs, items, lambda i: "iTunes_Control/Music/" + i["base"])


# ---- The chunked iTunes database ----------------------------------------------------------------

def _chunk(tag, header, children=b"", third=None):
    """A chunk: tag, header length, total length (or `third` in its place, for the list chunks that
    hold a count there), the rest of the header, then the children."""
    total = len(header) + 12 + len(children)
    return tag + struct.pack("<II", len(header) + 12, total if third is None else third) + header + children


def _string_object(kind, text):
    data = text.encode("utf-16-le")
    body = struct.pack("<IIII", 1, len(data), 0, 0) + data
    return _chunk(b"mhod", struct.pack("<III", kind, 0, 0), body)


def _track(track):
    objects = [_string_object(k, track[n]) for k, n in ((1, "title"), (2, "path"), (3, "album"), (4, "artist"),
                                                        (5, "genre"), (6, "kind")) if track.get(n) is not None]
    header = struct.pack("<II", len(objects), track["id"]) + bytes(4) + track["type"].ljust(4).encode()[::-1]
    header += bytes(8) + struct.pack("<II", track["size"], track["length"]) + bytes(148 - 12 - 24)
    return _chunk(b"mhit", header, b"".join(objects))


def _playlist(name, track_ids):
    items = b"".join(_chunk(b"mhip", struct.pack("<IHHIIII", 0, 0, 0, 0, tid, 0, 0) + bytes(40)) for tid in track_ids)
    header = struct.pack("<IIBBBBIQIHHB", 1, len(track_ids), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) + bytes(40)
    return _chunk(b"mhyp", header, _string_object(1, name) + items)


def _data_set(kind, list_chunk):
    return _chunk(b"mhsd", struct.pack("<I", kind) + bytes(80), list_chunk)


def build_itunes_db(tracks, playlists, compress=True, header_length=HEADER):
    """The bytes of a database: a track list and a playlist list, the body zlib-compressed when
    `compress` (only a header longer than 169 bytes announces a compressed body)."""
    track_list = b"mhlt" + struct.pack("<II", 92, len(tracks)) + bytes(80) + b"".join(_track(t) for t in tracks)
    playlist_list = (b"mhlp" + struct.pack("<II", 92, len(playlists)) + bytes(80) +
                     b"".join(_playlist(name, ids) for name, ids in playlists))
    body = _data_set(1, track_list) + _data_set(2, playlist_list)
    if compress:
        body = zlib.compress(body)
    rest = struct.pack("<IIII", 0, 1, 2, 0) + bytes(header_length - 28)
    return b"mhbd" + struct.pack("<II", header_length, header_length + len(body)) + rest + body


def make_itunes_tracks(rng, count):
    """Books, ringtones and songs of the database; every book and ringtone has a file unless noted."""
    tracks = []
    for n in range(count):
        kind = ["pdf", "EPUB", "M4R", "MP3", "epub", "m4r"][n % 6]
        name = "".join(rng.choice("ABCDEFGHJKLMNPQRSTUVWXYZ") for _ in range(4)) + "%02d" % n
        if kind.lower() in ("pdf", "epub"):
            path = ":Books:%s.%s" % (name, kind.lower())
        elif kind.lower() == "m4r":
            # One ringtone in four sits under the music folder: a song file, not a ringtone.
            path = ":iTunes_Control:%s:%s.m4r" % ("Music:F01" if n % 4 == 2 else "Ringtones", name)
        else:
            path = ":iTunes_Control:Music:F02:%s.mp3" % name
        tracks.append({"id": 10 + n * 3, "type": kind, "title": _title(rng), "path": path, "album": _title(rng, 1),
                       "artist": _title(rng, 2), "genre": rng.choice(GENRES),
                       "kind": None if n % 5 == 1 else rng.choice(["Purchased Book", "Book", "Ringtone"]),
                       "size": rng.randrange(100, 5000), "length": rng.randrange(1000, 40000),
                       "present": n % 7 != 3})
    return tracks


def write_itunes_db(fs, tracks, compress=True):
    """iTunesCDB: a "Library" playlist of every track and one of the books and ringtones again (a track
    reached twice is still one record)."""
    again = [t["id"] for t in tracks if t["type"].lower() != "mp3"][::2]
    data = build_itunes_db(tracks, [("Library", [t["id"] for t in tracks]), ("Again", again)], compress)
    _write(fs, ITUNES + "/iTunesCDB", data)
    for t in tracks:
        if t["present"]:
            relative = t["path"].replace(":", "/").lstrip("/")
            if t["type"].lower() == "epub":
                _write(fs, relative + "/META-INF/container.xml", b"<container/>")
            else:
                _write(fs, relative, bytes(t["size"]))


def walk_itunes_db(data):
    """An independent reader of the chunk format: {"tracks": [{id, type, size, length, strings}],
    "playlists": [[track ids]]}, in file order. Walks a compressed body too."""
    header = struct.unpack_from("<I", data, 4)[0]
    if header > 169 and data[header] == 0x78 and struct.unpack_from(">H", data, header)[0] % 31 == 0:
        data = data[:header] + zlib.decompress(data[header:])
    sets = struct.unpack_from("<I", data, 20)[0]
    tracks, playlists, at = [], [], header
    for _ in range(sets):
        if data[at:at + 4] != b"mhsd":
            break
        set_header, set_total = struct.unpack_from("<II", data, at + 4)
        list_at = at + set_header
        tag = data[list_at:list_at + 4]
        list_header, count = struct.unpack_from("<II", data, list_at + 4)
        child = list_at + list_header
        for _ in range(count):
            child_header, child_total, objects = struct.unpack_from("<III", data, child + 4)
            if tag == b"mhlt" and data[child:child + 4] == b"mhit":
                track_id = struct.unpack_from("<I", data, child + 16)[0]
                size, length = struct.unpack_from("<II", data, child + 36)
                strings, o = {}, child + child_header
                for _ in range(objects):
                    o_header, o_total, o_type = struct.unpack_from("<III", data, o + 4)
                    if o_type <= 14 or o_type in (18, 19, 22, 23, 24, 27, 28, 29, 30, 31, 200, 201, 202, 203, 204, 300):
                        n = struct.unpack_from("<I", data, o + o_header + 4)[0]
                        text = data[o + o_header + 16:o + o_header + 16 + n].decode("utf-16-le", "replace")
                        strings.setdefault(o_type, text.split("\0")[0])
                    o += o_total
                tracks.append({"id": track_id, "type": data[child + 24:child + 28][::-1].decode("latin-1"),
                               "size": size, "length": length, "strings": strings})
            elif tag == b"mhlp" and data[child:child + 4] == b"mhyp":
                items = struct.unpack_from("<I", data, child + 16)[0]
                o = child + child_header
                for _ in range(objects):
                    o += struct.unpack_from("<I", data, o + 8)[0]
                ids = []
                for _ in range(items):
                    if data[o:o + 4] != b"mhip":
                        break
                    ids.append(struct.unpack_from("<I", data, o + 24)[0])
                    o += struct.unpack_from("<I", data, o + 8)[0]
                playlists.append(ids)
            child += child_total
        at += set_total
    return {"tracks": tracks, "playlists": playlists}


# ---- Books and voice memos ----------------------------------------------------------------------

def write_book_lists(fs, rng, tracks, count=6):
    """Books.plist (some entries shared with the database's books by path) and Purchases.plist."""
    books = []
    shared = [t for t in tracks if t["type"].lower() in ("pdf", "epub")][:2]
    for t in shared:
        books.append({"Path": t["path"].split(":")[-1], "Name": "Listed " + t["title"], "Artist": t["artist"],
                      "Genre": t["genre"], "Persistent ID": "%016X" % rng.getrandbits(64)})
    for n in range(count):
        name = "Book%02d.%s" % (n, "pdf" if n % 2 else "epub")
        entry = {"Path": name, "Name": _title(rng), "Persistent ID": "%016X" % rng.getrandbits(64)}
        if n % 3:
            entry.update(Artist=_title(rng, 2), Genre=rng.choice(GENRES))
        books.append(entry)
        if n != 4:  # a listed book whose file is gone
            _write(fs, "Books/" + name, bytes(rng.randrange(100, 3000)))
    _write(fs, "Books/Books.plist", plistlib.dumps({"Books": books + ["not a dictionary", {"Name": "no path"}]}))
    purchases = []
    for n in range(3):
        name = "Bought%d.pdf" % n
        purchases.append({"Path": name, "Name": "Bought %d" % n, "Artist": "Seller", "Genre": "Fiction"})
        if n != 1:
            _write(fs, "Books/Purchases/" + name, bytes(500 + n))
    _write(fs, "Books/Purchases/Purchases.plist", plistlib.dumps({"Books": purchases}))


def write_recordings(fs, rng, count):
    """Recordings.db with its memos: some with a negative duration, a NULL path, a path outside the
    recordings folder or a missing file."""
    path = os.path.join(fs, "Recordings", "Recordings.db")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE ZRECORDING (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZDATE TIMESTAMP,"
               " ZDURATION FLOAT, ZCUSTOMLABEL VARCHAR, ZPATH VARCHAR)")
    for n in range(count):
        name = "2016%04d %06d.m4a" % (101 + n, n)
        memo_path = "/var/mobile/Media/Recordings/" + name
        if n % 11 == 4:
            memo_path = None
        elif n % 13 == 6:
            memo_path = "/var/mobile/Media/Other/" + name
        duration = -1.0 if n % 17 == 9 else (3725.4 if n == 2 else round(rng.uniform(0.5, 600), 3))
        label = None if n % 3 == 0 else "Memo %d %s" % (n, rng.choice(WORDS))
        db.execute("INSERT INTO ZRECORDING VALUES (?, 1, 1, ?, ?, ?, ?)",
                   (n + 1, rng.uniform(400000000, 600000000), duration, label, memo_path))
        if memo_path and "/Recordings/" in memo_path and n % 5 != 1:
            _write(fs, "Recordings/" + name, bytes(rng.randrange(200, 4000)))
    db.commit()
    db.close()


# Hostile media libraries, made from a written one: "endless_view" turns the item table into a
# recursive view without end; "slow_rows" gives it 200,000 rows whose title costs milliseconds each
# to compute (a generated column), so that a listing runs for many minutes while the file stays small.
HOSTILE_LIBRARIES = ("endless_view", "slow_rows", "huge_titles")
SLOW_ROWS = 200000
HUGE_TITLE_ROWS = 2000  # of a megabyte each, made when read: the file itself stays small


def spoil_media_library(fs, kind):
    """Rewrites fs/MediaLibrary.sqlitedb into the hostile library `kind`."""
    if kind not in HOSTILE_LIBRARIES:
        raise ValueError("a hostile library is one of %s" % ", ".join(HOSTILE_LIBRARIES))
    db = sqlite3.connect(os.path.join(fs, ITUNES, "MediaLibrary.sqlitedb"))
    if kind == "endless_view":
        db.executescript("""
            DROP TABLE item;
            CREATE VIEW item AS WITH RECURSIVE n(pid) AS (SELECT 1 UNION ALL SELECT pid + 1 FROM n)
                SELECT pid AS item_pid, 1 AS media_kind, 0 AS media_type, 0 AS album_pid, 0 AS item_artist_pid,
                       0 AS genre_id, 1 AS base_location_id FROM n;
        """)
    else:
        # Each title is computed from its row when read (a constant would be computed once for a whole
        # query); the column is added after the rows, which would otherwise each compute it on insert.
        title, rows = (("substr(hex(zeroblob(1000000 + item_pid % 2)), 1, 8)", SLOW_ROWS) if kind == "slow_rows" else
                       ("hex(zeroblob(500000)) || item_pid", HUGE_TITLE_ROWS))
        db.executescript("""
            DROP TABLE item_extra;
            CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY,
                location TEXT, file_size INTEGER, total_time_ms REAL, year INTEGER, date_modified INTEGER,
                comment TEXT, description_long TEXT, copyright TEXT);
            DELETE FROM item;
        """)
        db.execute("INSERT INTO item WITH RECURSIVE n(pid) AS (SELECT 1 UNION ALL SELECT pid + 1 FROM n"
                   " WHERE pid < ?) SELECT pid, 1, 0, 0, 0, 0, 1 FROM n", (rows,))
        db.execute("INSERT INTO item_extra (item_pid, location, total_time_ms) SELECT item_pid, 'x.mp3', 1000"
                   " FROM item")
        db.execute("ALTER TABLE item_extra ADD COLUMN title TEXT GENERATED ALWAYS AS (%s) VIRTUAL" % title)
    db.commit()
    db.close()


def write_media_data(image, seed=0, family="ios5", songs=40, playlists=6, memos=12, itunes_tracks=24,
                     compress=True, blob_items=False):
    """Writes the whole media area into IMAGE/fs; returns the plain records for tests."""
    if family not in ("ios5", "ios3"):
        raise ValueError("the media family is ios5 or ios3")
    if min(songs, playlists, memos, itunes_tracks) < 0:
        raise ValueError("counts are not negative")
    fs = os.path.join(image, "fs")
    rng = random.Random("media-%d" % seed)
    items, containers = make_library(rng, songs, playlists)
    if family == "ios5":
        write_media_library(fs, items, containers, blob_items)
    else:
        write_library_itdb(fs, items, containers)
    tracks = make_itunes_tracks(rng, itunes_tracks)
    write_itunes_db(fs, tracks, compress)
    write_book_lists(fs, rng, tracks)
    write_recordings(fs, rng, memos)
    return {"items": items, "containers": containers, "tracks": tracks}


def add_arguments(parser):
    parser.add_argument("--media", choices=["ios5", "ios3"],
                        help="a media library of this family (ios5: MediaLibrary.sqlitedb, ios3: Library.itdb)")
    parser.add_argument("--media-songs", type=int, default=40, help="library items (default 40)")
    parser.add_argument("--media-playlists", type=int, default=6, help="playlists (default 6)")


def media_options(args):
    """write_media_data keywords of parsed arguments, or None without --media."""
    if not args.media:
        return None
    return {"family": args.media, "songs": args.media_songs, "playlists": args.media_playlists}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write the media area of a device image.")
    parser.add_argument("image", help="the image folder")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--family", choices=["ios5", "ios3"], default="ios5")
    parser.add_argument("--songs", type=int, default=40)
    parser.add_argument("--playlists", type=int, default=6)
    parser.add_argument("--uncompressed", action="store_true", help="an iTunesCDB without a zlib body")
    args = parser.parse_args(argv)
    try:
        write_media_data(args.image, args.seed, args.family, args.songs, args.playlists,
                         compress=not args.uncompressed)
    except (ValueError, OSError) as e:
        print("make_media_data: %s" % e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
