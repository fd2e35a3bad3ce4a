#!/usr/bin/env python3
"""The photo list and photo thumbnails of a simulated device end to end, beside baselines measured in
the same run.

    bench_photos.py --harlix PATH --support DIR [--photos 100000] [--thumbnails 500] [--rounds 7]
                    [--thumbnail-rounds 3]

Photo list: request 400 sent by a loopback peer to the real Harlix (logging on, as the desktop starts
it) on a library of --photos assets in the new schema, until the final reply, every batch reply
inflated by the peer (the first round also parses every batch and checks the count). Baselines: the
`sqlite3` shell running the same query on a copy of the same database (with its -wal and -shm), in
list mode and writing JSON (-json), each in a process of its own, its rows read through a pipe.
Harlix's first round copies the database and is reported apart as the cold one; the later rounds
reuse the copy. Aims: the warm median at most 0.8x the JSON shell's and 1.25x the list-mode shell's;
and each warm listing's wall time at most 1.2x the CPU time of its query thread (the thread that
steps the statement, which the request runs on: the service's busiest thread over the listing among
those alive before and after it; the two helpers that write and compress the batches start and end
with the listing), median of the warm listings: the rest of the service keeps up with the query.
Given --ipc-tool (the bench_ipc program), compression's share of the service's CPU in a warm listing
(see bench_contacts.py), measured on the first listing's data parts; where perf is installed, also
sampled in the service itself over five more warm listings (the compressor library's samples over
all of the service's), and that figure is judged; aim: at most 10 %.

Thumbnails: request 403 for --thumbnails camera-sized JPEGs (4032 x 3024) with no cached thumbnail,
so each is read over AFC, decoded and made into a 150 x 150 JPEG; thumbnails per second and the
request's peak memory (Harlix's peak resident memory, reset before the request, minus its resident
memory before). Baseline: ImageMagick's `convert -thumbnail 150x150!` on the same files, one process
per file as a user would run it, its thumbnails per second and the largest resident memory of those
processes; printed as unavailable when ImageMagick is not installed.

The two sides alternate, the order turning every round; figures are medians with min and max. Every
wait has a time-out. Standard library only.
"""

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

from bench_common import (Bench, aim, alternate, busiest_thread_seconds, compression_share, cpu_seconds,
                          progress_replies, reset_peak, sampled_compression_share, save_parts, spread, status_kib,
                          thread_cpu_seconds, warm, warm_median)
import hlx_peer
import make_photo_data

PHOTOS, THUMBNAILS = 400, 403
TIMEOUT_S = 1200
THUMBNAIL_TIMEOUT_S = 10  # per picture: a loaded machine decodes a 12-megapixel JPEG in seconds
AIM_TIME = 1.25  # beside the shell in list mode
AIM_TIME_JSON = 0.8  # beside the shell writing JSON
AIM_QUERY_THREAD = 1.2  # a listing's wall time over its query thread's CPU time
CAMERA_SIZE = (4032, 3024)
DISTINCT_PICTURES = 4  # made once (the JPEG writer is slow in Python), then copied under many names

# The same statement that the service runs on a library of this era.
PHOTO_QUERY = ("SELECT a.Z_PK,a.ZSAVEDASSETTYPE,a.ZDIRECTORY || '/'||a.ZFILENAME,a.ZORIENTATION, "
               "a.ZADDITIONALATTRIBUTES,a.ZDATECREATED,a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE FROM "
               "ZADDITIONALASSETATTRIBUTES t,ZGENERICASSET a WHERE t.Z_PK = a.Z_PK and t.zoriginalfilesize != 0 "
               "and a.ZTRASHEDSTATE = 0 ORDER BY ZDATECREATED desc")

# The ImageMagick baseline in a process of its own: seconds, thumbnails made, largest child RSS KiB.
CONVERT = r"""
import json, resource, subprocess, sys, time
files, out = sys.argv[2:], sys.argv[1]
started = time.perf_counter()
for i, path in enumerate(files):
    subprocess.run(["convert", path, "-thumbnail", "150x150!", "%s/%d.jpg" % (out, i)], check=True, timeout=120)
seconds = time.perf_counter() - started
print(json.dumps([seconds, len(files), resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss]))
"""


def request(peer, packet_id, code, payload, data=None, parse=False, timeout_s=TIMEOUT_S, parts=None):
    """Seconds until the final reply, the items of parsed batch replies (or the count the first
    reply announced), replies seen, the request's peak KiB above Harlix's resident memory,
    Harlix's CPU seconds for it and those of its busiest thread. Given a list `parts`, the inflated
    batches are appended to it."""
    pid = peer.process.pid
    before = reset_peak(pid)
    cpu_before = cpu_seconds(pid)
    threads_before = thread_cpu_seconds(pid)
    started = time.perf_counter()
    peer.send(packet_id, code, 0, hlx_peer.encode_request(1, payload, data))
    items, replies, announced = 0, 0, None
    for _, record, body in progress_replies(peer, packet_id, code, timeout_s):
        replies += 1
        if announced is None and "info" in record and "Count" in record["info"]:
            announced = record["info"]["Count"]
        if body and record["type"] == 0:
            body = zlib.decompress(body)
            if parse:
                items += len(json.loads(body))
            if parts is not None:
                parts.append(body)
    seconds = time.perf_counter() - started
    cpu = cpu_seconds(pid) - cpu_before
    busiest = busiest_thread_seconds(threads_before, thread_cpu_seconds(pid))
    return seconds, items if parse else announced, replies, status_kib(pid, "VmHWM:") - before, cpu, busiest


def shell_once(database, as_json=False):
    """Seconds for the shell's run and the rows with a path it printed (rows without one, which the
    service leaves out, have an empty path). The JSON output is parsed after the clock stopped."""
    started = time.perf_counter()
    out = subprocess.run(["sqlite3"] + (["-json"] if as_json else []) + [database, PHOTO_QUERY], check=True,
                         timeout=TIMEOUT_S, capture_output=True)
    seconds = time.perf_counter() - started
    if as_json:
        rows = json.loads(out.stdout or b"[]")
        return seconds, sum(1 for row in rows if row["a.ZDIRECTORY || '/'||a.ZFILENAME"])
    return seconds, sum(1 for line in out.stdout.splitlines() if line.split(b"|")[2])


def convert_once(files, folder):
    out = tempfile.mkdtemp(dir=folder)
    try:
        result = subprocess.run([sys.executable, "-c", CONVERT, out] + files, check=True,
                                timeout=max(TIMEOUT_S, THUMBNAIL_TIMEOUT_S * len(files)),
                                capture_output=True)
        return json.loads(result.stdout)
    finally:
        shutil.rmtree(out, ignore_errors=True)


def bench_photo_list(peer, udid, fs, folder, options, next_id):
    copy = os.path.join(tempfile.mkdtemp(dir=folder), "Photos.sqlite")
    for suffix in ("", "-wal", "-shm"):
        shutil.copyfile(os.path.join(fs, "PhotoData", "Photos.sqlite" + suffix), copy + suffix)
    times = {"harlix": [], "sqlite3": [], "sqlite3 -json": []}
    expected = []
    cpu, query_cpu, parts = [], [], []

    def harlix_step(_):
        first = not times["harlix"]
        seconds, listed, _, _, cpu_used, query_used = request(peer, next(next_id), PHOTOS,
                                                  {"uuid": udid, "info": {"refresh": int(first)}}, parse=first,
                                                  parts=parts if first else None)
        if listed != expected[0]:
            raise RuntimeError("Harlix listed %s photos of %d" % (listed, expected[0]))
        times["harlix"].append(seconds)
        cpu.append(cpu_used)
        query_cpu.append(query_used)

    def shell_step(_, as_json=False):
        seconds, rows = shell_once(copy, as_json)
        if expected and rows != expected[0]:
            raise RuntimeError("the shell listed %d rows, not %d" % (rows, expected[0]))
        expected[:] = [rows]
        times["sqlite3 -json" if as_json else "sqlite3"].append(seconds)

    shell_step(None)  # the row count every side must reach; not timed as a round
    times["sqlite3"].clear()
    alternate(options.rounds, [harlix_step, shell_step, lambda index: shell_step(index, True)])
    print("bench_photos: photo list of %d assets (%d listed), %d rounds (Harlix's first copies the database)"
          % (options.photos, expected[0], options.rounds))
    print("  Harlix 400:               %s" % spread(times["harlix"], "s"))
    print("  sqlite3 shell, list mode: %s" % spread(times["sqlite3"], "s"))
    print("  sqlite3 shell, -json:     %s" % spread(times["sqlite3 -json"], "s"))
    harlix = warm_median(times["harlix"])
    shell = warm_median(times["sqlite3"])
    shell_json = warm_median(times["sqlite3 -json"])
    print("  ratios (warm medians): %.2f of list mode, %.2f of -json" % (harlix / shell, harlix / shell_json))
    met = aim("photo list within %gx of the sqlite3 shell writing JSON" % AIM_TIME_JSON,
              harlix <= AIM_TIME_JSON * shell_json)
    met &= aim("photo list within %gx of the sqlite3 shell in list mode" % AIM_TIME, harlix <= AIM_TIME * shell)
    print("  the query thread's CPU per listing: %s (clock ticks of %.0f ms)"
          % (spread(query_cpu, "s"), 1000 / os.sysconf("SC_CLK_TCK")))
    per_listing = [wall / max(thread, 1e-9) for wall, thread in zip(warm(times["harlix"]), warm(query_cpu))]
    print("  wall time over the query thread's CPU, warm listings: median %.2f (min %.2f, max %.2f)"
          % (statistics.median(per_listing), min(per_listing), max(per_listing)))
    met &= aim("photo list's wall time within %gx its query thread's CPU" % AIM_QUERY_THREAD,
               statistics.median(per_listing) <= AIM_QUERY_THREAD)
    if options.ipc_tool:
        replies = tempfile.mkdtemp(dir=folder)
        save_parts(replies, parts)
        sampled = sampled_compression_share(
            peer.process.pid, lambda: request(peer, next(next_id), PHOTOS, {"uuid": udid, "info": {"refresh": 0}}))
        met &= compression_share(options.ipc_tool, replies, cpu, "%d-photo listing" % options.photos, sampled=sampled)
    return met


def bench_thumbnails(peer, udid, fs, folder, options, next_id):
    rng = random.Random(5)
    pictures = [make_photo_data.make_jpeg(CAMERA_SIZE[0], CAMERA_SIZE[1], rng) for _ in range(DISTINCT_PICTURES)]
    camera = os.path.join(fs, "DCIM", "900BENCH")
    os.makedirs(camera, exist_ok=True)
    files = {}
    for i in range(options.thumbnails):
        name = "IMG_%04d.JPG" % i
        with open(os.path.join(camera, name), "wb") as f:
            f.write(pictures[i % DISTINCT_PICTURES])
        files[str(i + 1)] = "DCIM/900BENCH/" + name
    paths = [os.path.join(fs, p) for p in files.values()]
    rates = {"harlix": [], "convert": []}
    peaks = {"harlix": [], "convert": []}
    has_convert = shutil.which("convert") is not None

    def harlix_step(_):
        seconds, _, replies, peak, _, _ = request(peer, next(next_id), THUMBNAILS, {"uuid": udid}, json.dumps(files),
                                               timeout_s=max(TIMEOUT_S, THUMBNAIL_TIMEOUT_S * options.thumbnails))
        if replies != options.thumbnails:
            raise RuntimeError("Harlix sent %d thumbnails of %d" % (replies, options.thumbnails))
        rates["harlix"].append(options.thumbnails / seconds)
        peaks["harlix"].append(peak)

    def convert_step(_):
        seconds, made, peak = convert_once(paths, folder)
        rates["convert"].append(made / seconds)
        peaks["convert"].append(peak)

    alternate(options.thumbnail_rounds, [harlix_step, convert_step] if has_convert else [harlix_step])
    print("bench_photos: %d thumbnails of %dx%d JPEGs (%d KiB each), %d rounds"
          % (options.thumbnails, CAMERA_SIZE[0], CAMERA_SIZE[1], len(pictures[0]) // 1024, options.thumbnail_rounds))
    for side, label in (("harlix", "Harlix 403:"), ("convert", "convert:   ")):
        if not rates[side]:
            print("  %s baseline unavailable (ImageMagick's convert is not installed)" % label)
            continue
        print("  %s %.1f thumbnails/s (min %.1f, max %.1f); peak memory median %.1f MiB (max %.1f)"
              % (label, statistics.median(rates[side]), min(rates[side]), max(rates[side]),
                 statistics.median(peaks[side]) / 1024, max(peaks[side]) / 1024))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--photos", type=int, default=100000)
    parser.add_argument("--thumbnails", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=7, help="photo-list rounds, Harlix's first cold")
    parser.add_argument("--thumbnail-rounds", type=int, default=3)
    parser.add_argument("--ipc-tool", help="bench_ipc, to measure compression's share of the service's CPU")
    options = parser.parse_args(argv)

    with Bench(options.support, prefix="hlx-bench-photos-") as bench:
        lab, folder = bench.lab, bench.folder
        image = lab.make(product_version="9.3.5")
        make_photo_data.write_photo_data(os.path.join(image["path"], "fs"), era="ios9", photos=options.photos,
                                         media=False)
        udid = lab.attach(image)
        fs = os.path.join(lab.root, udid, "fs")
        peer = bench.start_harlix(options.harlix, udid)
        next_id = iter(range(100, 1 << 30))
        met = bench_photo_list(peer, udid, fs, folder, options, next_id)
        if options.thumbnails:
            bench_thumbnails(peer, udid, fs, folder, options, next_id)
        return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
