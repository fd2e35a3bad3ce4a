#!/usr/bin/env python3
"""Writes a simulated device's photo library into an image's fs/ (Python standard library only).

  fs/PhotoData/Photos.sqlite (+ -wal, -shm)   the photo database in the schema of one iOS era:
      "ios5"  the old tables Photo, PhotoAlbum and PhotoAlbumToPhotoJoin;
      "ios7"  ZGENERICASSET, ZGENERICALBUM, ZADDITIONALASSETATTRIBUTES and the join table Z_16ASSETS,
              without the trash, favourite and sub-type columns;
      "ios9"  the same with ZTRASHEDSTATE, ZFAVORITE and ZKINDSUBTYPE (assets) and ZTRASHEDSTATE
              (albums).
    The last rows stay in the write-ahead log: the three files are copied while the writer still
    holds them open, as a device's live files are, so a reader that drops the -wal misses rows.
  fs/DCIM/100APPLE/   JPEG and PNG photos (real, decodable images) and videos (placeholder bytes),
      each with a fixed modification time;
  fs/DCIM/.THMB/NN/<folder>___<name>.<mtime>   cached thumbnails (JPEG) of some photos, NN being
      the modification time in seconds modulo 100;
  fs/PhotoData/Metadata/DCIM/100APPLE/<name>.JPG   the preview frames of the videos.

Also a JPEG writer (baseline, 4:4:4, block-constant colour with a few AC terms) used by the
benchmarks for camera-sized pictures.

usage: make_photo_data.py FS_FOLDER [--photo-era ERA] [--photos N] [--seed S]
"""

import argparse
import os
import random
import sqlite3
import struct
import sys
import zlib

from live_database import live_database

ERAS = ("ios5", "ios7", "ios9")
FOLDER = "DCIM/100APPLE"
FIRST_NUMBER = 100          # IMG_0100 ...: clear of the placeholder photos the image maker writes
BASE_MTIME_NS = 1700000000 * 10**9 + 123456789
JOIN_TABLE, ALBUM_COLUMN, ASSET_COLUMN = "Z_16ASSETS", "Z_16ALBUMS", "Z_8ASSETS"
APPLE_EPOCH_UNIX = 978307200

# --- JPEG ----------------------------------------------------------------------------------------

AC_TERMS = 3                     # texture: the first AC terms of each luma block, in zigzag order
AC_VALUES = (-6, -3, -1, 1, 3, 6)
QUANT = 8
# Small canonical Huffman tables of our own (the format allows any): DC categories 0..11 as 4-bit
# codes, AC symbols (run, size) for runs 0..2 and sizes 1..4 plus end-of-block as 5-bit codes.
DC_SYMBOLS = list(range(12))
AC_SYMBOLS = [0x00] + [(run << 4) | size for run in range(3) for size in range(1, 5)]


def _huffman_segment(table_class, symbols, length):
    counts = [0] * 16
    counts[length - 1] = len(symbols)
    body = bytes([(table_class << 4) | 0]) + bytes(counts) + bytes(symbols)
    return b"\xff\xc4" + struct.pack(">H", len(body) + 2) + body


class _BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.count = 0

    def put(self, value, length):
        self.acc = (self.acc << length) | (value & ((1 << length) - 1))
        self.count += length
        while self.count >= 8:
            self.count -= 8
            byte = (self.acc >> self.count) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.acc &= (1 << self.count) - 1

    def finish(self):
        if self.count:
            self.put(0x7F, 8 - self.count)  # pad with one bits
        return bytes(self.out)


def _category(value):
    return abs(value).bit_length()


def _magnitude_bits(value, size):
    return value if value >= 0 else value + (1 << size) - 1


def make_jpeg(width, height, rng):
    """A baseline JPEG of width x height: a colour gradient in 8 x 8 blocks with seeded texture."""
    dc_codes = {s: i for i, s in enumerate(DC_SYMBOLS)}
    ac_codes = {s: i for i, s in enumerate(AC_SYMBOLS)}
    bits = _BitWriter()
    previous = [0, 0, 0]
    blocks_x, blocks_y = (width + 7) // 8, (height + 7) // 8
    tint = rng.randrange(-40, 40)
    for by in range(blocks_y):
        for bx in range(blocks_x):
            luma = (bx * 255 // max(1, blocks_x - 1) + by * 64 // max(1, blocks_y)) % 256 - 128
            for component, level in enumerate((luma, tint, -tint)):
                dc = max(-1000, min(1000, level * 8 // QUANT))
                diff = dc - previous[component]
                previous[component] = dc
                size = _category(diff)
                bits.put(dc_codes[size], 4)
                if size:
                    bits.put(_magnitude_bits(diff, size), size)
                if component == 0:
                    for _ in range(AC_TERMS):
                        value = rng.choice(AC_VALUES)
                        size = _category(value)
                        bits.put(ac_codes[size], 5)
                        bits.put(_magnitude_bits(value, size), size)
                bits.put(ac_codes[0x00], 5)  # end of block
    quant = b"\xff\xdb" + struct.pack(">HB", 67, 0) + bytes([QUANT] * 64)
    frame = b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, height, width, 3) + b"".join(
        struct.pack(">BBB", i + 1, 0x11, 0) for i in range(3))
    scan = b"\xff\xda" + struct.pack(">HB", 12, 3) + b"".join(
        struct.pack(">BB", i + 1, 0x00) for i in range(3)) + b"\x00\x3f\x00"
    return (b"\xff\xd8" + quant + frame + _huffman_segment(0, DC_SYMBOLS, 4) + _huffman_segment(1, AC_SYMBOLS, 5)
            + scan + bits.finish() + b"\xff\xd9")


def make_png(width, height, rng):
    """An 8-bit RGB PNG of a seeded colour with a diagonal band."""
    colour = bytes(rng.randrange(256) for _ in range(3))
    rows = b"".join(b"\0" + b"".join(b"\xff\xff\xff" if abs(x - y) < 3 else colour for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


# --- the library ---------------------------------------------------------------------------------

def photo_entries(rng, count):
    """One dict per asset: every fifth a PNG, every seventh a video, the rest JPEGs."""
    entries = []
    for i in range(count):
        number = FIRST_NUMBER + i
        kind = "MOV" if i % 7 == 6 else "PNG" if i % 5 == 4 else "JPG"
        entries.append({
            "pk": i + 1,
            "name": "IMG_%04d.%s" % (number, kind),
            "video": kind == "MOV",
            "created": 500000000.0 + i * 3600 + rng.random(),
            "modified": 500000000.0 + i * 3600 + 60.25,
            "orientation": rng.choice([1, 3, 6, 8]),
            "saved": 256 if i % 6 == 1 else 3,
            "favorite": int(i % 4 == 0),
            "subtype": 10 if i % 9 == 2 else 0,
            "trashed": int(i % 11 == 10),
            "mtime_ns": BASE_MTIME_NS + i * 1000000007,
        })
    return entries


def _write_media(fs, entries, rng, thumbnails, image_size):
    for entry in entries:
        path = os.path.join(fs, FOLDER, entry["name"])
        width, height = image_size
        if entry["video"]:
            data = b"\0\0\0\x14ftypqt  " + bytes(rng.randrange(256) for _ in range(3000))
        elif entry["name"].endswith(".PNG"):
            data = make_png(width, height, rng)
        else:
            data = make_jpeg(width, height, rng)
        with open(path, "wb") as f:
            f.write(data)
        entry["size"] = len(data)
        seconds = entry["mtime_ns"] // 10**9
        if entry["pk"] % thumbnails == 1:
            folder = os.path.join(fs, "DCIM/.THMB/%02d" % (seconds % 100))
            os.makedirs(folder, exist_ok=True)
            name = "%s.%d" % ((FOLDER[5:] + "/" + entry["name"]).replace("/", "___"), seconds)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(make_jpeg(75, 75, rng))
        if entry["video"]:
            preview = os.path.join(fs, "PhotoData/Metadata", FOLDER, entry["name"][:-3] + "JPG")
            os.makedirs(os.path.dirname(preview), exist_ok=True)
            with open(preview, "wb") as f:
                f.write(make_jpeg(96, 64, rng))
        os.utime(path, ns=(entry["mtime_ns"], entry["mtime_ns"]))


def create_old_tables(db):
    """Creates the old schema's tables with its albums; returns the function that inserts assets."""
    db.executescript("""
        CREATE TABLE Photo (primaryKey INTEGER PRIMARY KEY, type INTEGER, width INTEGER, height INTEGER,
            filename VARCHAR, directory VARCHAR, orientation INTEGER, captureTime TIMESTAMP,
            recordModDate TIMESTAMP, thumbnailIndex INTEGER);
        CREATE TABLE PhotoAlbum (primaryKey INTEGER PRIMARY KEY, kind INTEGER, keyPhotoKey INTEGER,
            manualSortOrder INTEGER, title VARCHAR, uid VARCHAR);
        CREATE TABLE PhotoAlbumToPhotoJoin (left INTEGER, right INTEGER, "order" INTEGER);
    """)
    albums = [(1, 1000, "Camera Roll"), (2, 1, "Holidays"), (3, 2, None), (4, 1, "Empty")]
    db.executemany("INSERT INTO PhotoAlbum (primaryKey, kind, title) VALUES (?, ?, ?)", albums)

    def insert(rows):
        for e in rows:
            name = None if e["pk"] == 3 else e["name"]  # a row without a file: never listed
            db.execute("INSERT INTO Photo VALUES (?, ?, 640, 480, ?, ?, ?, ?, ?, 0)",
                       (e["pk"], 1 if e["video"] else 0, name, FOLDER, e["orientation"], e["created"],
                        e["modified"]))
            db.execute("INSERT INTO PhotoAlbumToPhotoJoin VALUES (1, ?, ?)", (e["pk"], e["pk"]))
            if e["pk"] % 2:
                db.execute("INSERT INTO PhotoAlbumToPhotoJoin VALUES (2, ?, ?)", (e["pk"], e["pk"]))
            if e["pk"] % 3 == 0:
                db.execute("INSERT INTO PhotoAlbumToPhotoJoin VALUES (3, ?, ?)", (e["pk"], e["pk"]))
    return insert


def create_new_tables(db, with_flags):
    """Creates the new schema's tables (with the optional columns when `with_flags`) and its albums;
    returns the function that inserts assets."""
    flags = "ZFAVORITE INTEGER, ZKINDSUBTYPE INTEGER, ZTRASHEDSTATE INTEGER," if with_flags else ""
    db.executescript("""
        CREATE TABLE ZGENERICASSET (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZKIND INTEGER,
            %s ZSAVEDASSETTYPE INTEGER, ZORIENTATION INTEGER, ZADDITIONALATTRIBUTES INTEGER,
            ZDATECREATED TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZDIRECTORY VARCHAR, ZFILENAME VARCHAR,
            ZUUID VARCHAR);
        CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER,
            ZASSET INTEGER, ZORIGINALFILESIZE INTEGER, ZORIGINALFILENAME VARCHAR);
        CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZKIND INTEGER,
            %s ZTITLE VARCHAR, ZUUID VARCHAR);
        CREATE TABLE %s ( %s INTEGER, %s INTEGER, Z_FOK_8ASSETS INTEGER, PRIMARY KEY (%s, %s) );
    """ % (flags, "ZTRASHEDSTATE INTEGER," if with_flags else "", JOIN_TABLE, ALBUM_COLUMN, ASSET_COLUMN,
           ALBUM_COLUMN, ASSET_COLUMN))
    albums = [(1, 1000, "Camera Roll", 0), (2, 2, "Holidays", 0), (3, 2, None, 0), (4, 2, "Old trip", 1),
              (5, 1505, "Shared", 0)]
    for pk, kind, title, trashed in albums:
        if with_flags:
            db.execute("INSERT INTO ZGENERICALBUM (Z_PK, ZKIND, ZTITLE, ZTRASHEDSTATE) VALUES (?, ?, ?, ?)",
                       (pk, kind, title, trashed))
        else:
            db.execute("INSERT INTO ZGENERICALBUM (Z_PK, ZKIND, ZTITLE) VALUES (?, ?, ?)", (pk, kind, title))

    def insert(rows):
        for e in rows:
            size = e["size"]
            if e["pk"] == 2:
                size = -1   # unknown on the device: looked up over AFC
            elif e["pk"] == 5:
                size = 0    # never listed by the new queries
            name = None if e["pk"] == 3 else e["name"]
            columns = "Z_PK, ZKIND, ZSAVEDASSETTYPE, ZORIENTATION, ZADDITIONALATTRIBUTES, ZDATECREATED, " \
                      "ZMODIFICATIONDATE, ZDIRECTORY, ZFILENAME"
            values = [e["pk"], 1 if e["video"] else 0, e["saved"], e["orientation"], e["pk"], e["created"],
                      e["modified"], FOLDER, name]
            if with_flags:
                columns += ", ZFAVORITE, ZKINDSUBTYPE, ZTRASHEDSTATE"
                values += [e["favorite"], e["subtype"], e["trashed"]]
            db.execute("INSERT INTO ZGENERICASSET (%s) VALUES (%s)" % (columns, ",".join("?" * len(values))),
                       values)
            db.execute("INSERT INTO ZADDITIONALASSETATTRIBUTES (Z_PK, ZASSET, ZORIGINALFILESIZE, "
                       "ZORIGINALFILENAME) VALUES (?, ?, ?, ?)", (e["pk"], e["pk"], size, e["name"]))
            for album, wanted in ((1, True), (2, e["pk"] % 2 == 1), (3, e["pk"] % 3 == 0), (4, e["pk"] % 4 == 0)):
                if wanted:
                    db.execute("INSERT INTO %s VALUES (?, ?, ?)" % JOIN_TABLE, (album, e["pk"], e["pk"]))
    return insert


def write_photo_data(fs, seed=0, era="ios9", photos=12, thumbnail_every=3, image_size=(64, 48), media=True):
    """Writes the library into the image's fs/ folder; returns the assets written (dicts). Without
    `media` only the database is written (large libraries for benchmarks), with made-up sizes."""
    if era not in ERAS:
        raise ValueError("the photo era must be one of %s" % ", ".join(ERAS))
    rng = random.Random("photos-%d" % seed)
    for folder in (FOLDER, "PhotoData"):
        os.makedirs(os.path.join(fs, folder), exist_ok=True)
    entries = photo_entries(rng, photos)
    if media:
        _write_media(fs, entries, rng, thumbnail_every, image_size)
    else:
        for entry in entries:
            entry["size"] = 1000000 + entry["pk"]
    with live_database(os.path.join(fs, "PhotoData", "Photos.sqlite"), "photos-") as db:
        insert = create_old_tables(db) if era == "ios5" else create_new_tables(db, era == "ios9")
        half = len(entries) // 2
        db.execute("BEGIN")
        insert(entries[:half])
        db.execute("COMMIT")
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        db.execute("BEGIN")
        insert(entries[half:])
        db.execute("COMMIT")
    return entries


# Hostile photo libraries, made from a written one (the database is left as one file, without a
# write-ahead log): "slow_rows" (new schema) gives the asset table 200,000 rows whose folder costs
# milliseconds each to compute (a generated column), so a photo list runs for minutes while the file
# stays small; "huge_paths" (old schema) gives 64 photos, all in album 1, a folder name of 8 MB each,
# made when read; "broken_page" (new schema) adds 3,000 assets and overwrites one page in the middle
# of the asset table, so that a statement fails halfway through its rows.
HOSTILE_LIBRARIES = ("slow_rows", "huge_paths", "broken_page")
SLOW_ROWS = 200000


def spoil_photo_library(fs, kind):
    """Rewrites fs/PhotoData/Photos.sqlite into the hostile library `kind`."""
    if kind not in HOSTILE_LIBRARIES:
        raise ValueError("a hostile library is one of %s" % ", ".join(HOSTILE_LIBRARIES))
    path = os.path.join(fs, "PhotoData", "Photos.sqlite")
    db = sqlite3.connect(path)
    db.execute("PRAGMA journal_mode=DELETE")
    if kind == "huge_paths":
        db.executescript("""
            DELETE FROM Photo;
            ALTER TABLE Photo DROP COLUMN directory;
            INSERT INTO Photo (primaryKey, type, filename) WITH RECURSIVE n(pk) AS (SELECT 1 UNION ALL
                SELECT pk + 1 FROM n WHERE pk < 64) SELECT pk, 0, 'IMG.JPG' FROM n;
            ALTER TABLE Photo ADD COLUMN directory VARCHAR GENERATED ALWAYS AS
                (hex(zeroblob(4000000)) || primaryKey) VIRTUAL;
            DELETE FROM PhotoAlbumToPhotoJoin;
            INSERT INTO PhotoAlbumToPhotoJoin SELECT 1, primaryKey, primaryKey FROM Photo;
        """)
    elif kind == "slow_rows":
        db.executescript("""
            DELETE FROM ZGENERICASSET;
            DELETE FROM ZADDITIONALASSETATTRIBUTES;
            ALTER TABLE ZGENERICASSET DROP COLUMN ZDIRECTORY;
        """)
        db.execute("INSERT INTO ZGENERICASSET (Z_PK, ZKIND, ZTRASHEDSTATE, ZFILENAME, ZDATECREATED) WITH RECURSIVE"
                   " n(pk) AS (SELECT 1 UNION ALL SELECT pk + 1 FROM n WHERE pk < ?) SELECT pk, 0, 0, 'IMG.JPG', pk"
                   " FROM n", (SLOW_ROWS,))
        db.executescript("""
            INSERT INTO ZADDITIONALASSETATTRIBUTES (Z_PK, ZASSET, ZORIGINALFILESIZE) SELECT Z_PK, Z_PK, 100
                FROM ZGENERICASSET;
            ALTER TABLE ZGENERICASSET ADD COLUMN ZDIRECTORY VARCHAR GENERATED ALWAYS AS
                (substr(hex(zeroblob(1000000 + Z_PK % 2)), 1, 8)) VIRTUAL;
        """)
    else:
        db.execute("INSERT INTO ZGENERICASSET (Z_PK, ZKIND, ZTRASHEDSTATE, ZDIRECTORY, ZFILENAME, ZDATECREATED) WITH"
                   " RECURSIVE n(pk) AS (SELECT 1000 UNION ALL SELECT pk + 1 FROM n WHERE pk < 3999) SELECT pk, 0, 0,"
                   " ?, 'IMG_' || pk || '.JPG', pk FROM n", (FOLDER + "/" + "x" * 200,))
        db.executescript("""
            INSERT INTO ZADDITIONALASSETATTRIBUTES (Z_PK, ZASSET, ZORIGINALFILESIZE) SELECT Z_PK, Z_PK, 100
                FROM ZGENERICASSET WHERE Z_PK >= 1000;
            INSERT INTO %s SELECT 1, Z_PK, Z_PK FROM ZGENERICASSET WHERE Z_PK >= 1000;
        """ % JOIN_TABLE)
    db.commit()
    leaves = [n for (n,) in db.execute("SELECT pageno FROM dbstat WHERE name = 'ZGENERICASSET' AND pagetype = 'leaf'"
                                       " ORDER BY pageno")] if kind == "broken_page" else []
    page_size = db.execute("PRAGMA page_size").fetchone()[0]
    db.close()
    if leaves:
        with open(path, "r+b") as f:
            f.seek((leaves[len(leaves) // 2] - 1) * page_size)
            f.write(b"\xff" * page_size)


def add_arguments(parser):
    parser.add_argument("--photo-era", choices=ERAS, help="write a photo library in this era's schema")
    parser.add_argument("--photos", type=int, default=12, help="assets in the photo library (default 12)")


def photo_options(args):
    """write_photo_data's options from the arguments, or None without --photo-era."""
    return dict(era=args.photo_era, photos=args.photos) if args.photo_era else None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("fs", help="the image's fs/ folder")
    parser.add_argument("--seed", type=int, default=0)
    add_arguments(parser)
    args = parser.parse_args(argv)
    write_photo_data(args.fs, args.seed, **(photo_options(args) or {"era": "ios9", "photos": args.photos}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
