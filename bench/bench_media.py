#!/usr/bin/env python3
"""The media library listing end to end and the chunk database reader, each beside a baseline
measured in the same run.

    bench_media.py --harlix PATH --support DIR --reader PATH [--songs 50000] [--playlists 500]

Listing: request 1000 sent by a loopback peer to the real Harlix (logging on), which copies the
device's MediaLibrary.sqlitedb over AFC, queries it, checks every item's file on the device, writes
the items as JSON and streams the compressed sections; timed from the request until the final reply
has arrived, plus the peer's inflating of the sections afterwards, which only the service's
compressed output needs (the baseline is timed until its last row has arrived). The peer's parsing
of the JSON, to count the records, is timed apart (the baseline's rows are only counted). Baseline: the `sqlite3` shell, in a process of its own, running the same item, playlist
and playlist-item statements on the same file in the image and writing their rows to a pipe that
this script reads. The baseline checks no file on the device and writes no JSON: those are work
that only the service does, and the aim is left as it is rather than the baseline made slower. The
two alternate, the order turning every round; the first round is reported apart as the cold one,
the others give medians with min and max. Aim: the listing within 1.5x the shell.

Reader: the service's chunk reader (bench_itunes_db_tool, one process per load) on a real database
of 5375 tracks, beside the independent Python walker of tools/make_media_data.py in its own process
on the same file; both must read every track. Every wait has a time-out. Standard library only.
"""

import argparse
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import time
import zlib

from bench_common import (HERE, TIMEOUT_S, Bench, aim, alternate, print_ratio, progress_replies, scratch_folder,
                          spread, warm_median)
import hlx_peer
import make_media_data

LIBRARY = 1000
AIM_LISTING = 1.5
REAL_DATABASE = os.path.join(os.environ.get("HLX_REAL_DATA", "/work/shared/real-data"), "spiff/test-resources/iTunesDB")
ITEMS = ("select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
         "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id, "
         "bl.path || '/' || ie.location,bl.base_location_id from item as i left join item_extra as ie on ie.item_pid ="
         " i.item_pid left join album as a on a.album_pid = i.album_pid left join item_artist as ia on "
         "ia.item_artist_pid = i.item_artist_pid\t left join genre as g on g.genre_id = i.genre_id left join "
         "base_location as bl on bl.base_location_id = i.base_location_id order by title COLLATE NOCASE asc;\n")
PLAYLISTS = (" SELECT container.container_pid,container.name,container.contained_media_type, container.parent_pid, "
             "container.smart_is_folder FROM container WHERE container.container_pid NOT IN  (SELECT "
             "primary_container_pid FROM db_info) AND container.is_hidden = 0 and name is not null;\n")
WALK = r"""
import json, sys, time
sys.path.insert(0, sys.argv[1])
import make_media_data
started = time.perf_counter()
with open(sys.argv[2], "rb") as f:
    walked = make_media_data.walk_itunes_db(f.read())
print(json.dumps([time.perf_counter() - started, len({t["id"] for t in walked["tracks"]}), len(walked["playlists"])]))
"""


def list_once(peer, packet_id, udid):
    """Seconds from sending one request 1000 until its final reply plus the peer's inflating of its
    sections afterwards, the seconds the peer then took to parse them, and the records they carried."""
    started = time.perf_counter()
    peer.send(packet_id, LIBRARY, 0, hlx_peer.encode_request(1, {"uuid": udid}))
    parts = [data for _, _, data in progress_replies(peer, packet_id, LIBRARY, TIMEOUT_S) if data]
    inflated = [zlib.decompress(data) for data in parts]
    seconds = time.perf_counter() - started
    records = 0
    for text in inflated:
        batch = json.loads(text)
        records += len(batch) if isinstance(batch, list) else 1
    return seconds, time.perf_counter() - started - seconds, records


def shell_once(database, script):
    """Seconds for the sqlite3 shell to run the script on the database, and the rows it wrote."""
    started = time.perf_counter()
    out = subprocess.run(["sqlite3", "-readonly", database], input=script.encode("utf-8"), capture_output=True,
                         check=True, timeout=TIMEOUT_S)
    return time.perf_counter() - started, out.stdout.count(b"\n")


def timed_process(command):
    """Wall seconds of a process and the JSON it printed."""
    started = time.perf_counter()
    out = subprocess.run(command, capture_output=True, check=True, timeout=TIMEOUT_S)
    return time.perf_counter() - started, json.loads(out.stdout)


def bench_listing(options, folder):
    with Bench(options.support, folder=folder) as bench:
        lab = bench.lab
        image = lab.make(media={"family": "ios5", "songs": options.songs, "playlists": options.playlists})
        udid = lab.attach(image)
        database = os.path.join(lab.root, udid, "fs", make_media_data.ITUNES, "MediaLibrary.sqlitedb")
        with sqlite3.connect("file:%s?immutable=1" % database, uri=True) as db:
            listed = [r[0] for r in db.execute(PLAYLISTS)]
        script = ".mode list\n" + ITEMS + PLAYLISTS + "".join(
            "SELECT item_pid FROM container_item where container_pid = %d;\n" % pid for pid in listed)

        peer = bench.start_harlix(options.harlix, udid)
        times = {"harlix": [], "sqlite3": [], "parse": []}
        counts = set()

        def harlix_step(index):
            seconds, parse_seconds, records = list_once(peer, 100 + index, udid)
            times["harlix"].append(seconds)
            times["parse"].append(parse_seconds)
            counts.add(records)

        def shell_step(_):
            seconds, _rows = shell_once(database, script)
            times["sqlite3"].append(seconds)

        alternate(options.rounds, [harlix_step, shell_step])
        print("bench_media: request 1000 on %d library items and %d playlists; %d rounds (the first cold)"
              % (options.songs, options.playlists, options.rounds))
        if len(counts) != 1:
            raise RuntimeError("the listings differ in size: %s" % sorted(counts))
        print("  Harlix end to end (copy, query, file checks, JSON, compressed sections received and inflated): "
              "%s; %d records"
              % (spread(times["harlix"], "s"), counts.pop()))
        print("  sqlite3 shell running the same statements on the same file, own process: %s"
              % spread(times["sqlite3"], "s"))
        print("  (the shell checks no file on the device and writes no JSON; the service does both)")
        print("  the peer parsing the inflated sections afterwards, not timed above: %s" % spread(times["parse"], "s"))
        ratio, cold = print_ratio(times["harlix"], times["sqlite3"])
        met = aim("listing warm within %.1fx the shell" % AIM_LISTING, ratio <= AIM_LISTING)
        return aim("listing cold within %.1fx the shell" % AIM_LISTING, cold <= AIM_LISTING) and met


def bench_reader(options, folder):
    copy = os.path.join(folder, "iTunesDB")
    shutil.copy(REAL_DATABASE, copy)
    times = {"reader": [], "python": []}
    counts = set()

    def reader_step(_):
        _, (seconds, tracks, playlists) = timed_process([options.reader, copy])
        times["reader"].append(seconds)
        counts.add(("reader", tracks, playlists))

    def walker_step(_):
        _, (seconds, tracks, playlists) = timed_process([sys.executable, "-c", WALK, os.path.join(HERE, "..", "tools"),
                                                         copy])
        times["python"].append(seconds)
        counts.add(("python", tracks, playlists))

    alternate(options.rounds, [reader_step, walker_step])
    print("bench_media: the real chunk database (%d bytes), load and walk, %d rounds" % (os.path.getsize(copy),
                                                                                        options.rounds))
    print("  service reader: %s" % spread(times["reader"], "s"))
    print("  Python walker:  %s" % spread(times["python"], "s"))
    print("  read: %s" % sorted(counts))
    ratio = warm_median(times["reader"]) / warm_median(times["python"])
    print("  ratio %.2f warm" % ratio)
    same = len({(t, p) for _, t, p in counts}) == 1 and 5375 in {t for _, t, _ in counts}
    return aim("both read all 5375 tracks", same) & aim("reader no slower than the Python walker", ratio <= 1.0)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--reader", required=True, help="bench_itunes_db_tool")
    parser.add_argument("--songs", type=int, default=50000)
    parser.add_argument("--playlists", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=5, help="timed rounds beside the baseline, the first cold")
    options = parser.parse_args(argv)
    with scratch_folder("hlx-bench-media-") as folder:
        met = bench_listing(options, folder)
        if os.path.exists(REAL_DATABASE):
            met &= bench_reader(options, folder)
        else:
            print("bench_media: no real database at %s; reader not measured" % REAL_DATABASE)
        return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
