#!/usr/bin/env python3
"""Listing the notes and the calendars of a simulated iPhone end to end, beside a baseline measured
in the same run.

    bench_sync_data.py --harlix PATH --support DIR [--notes 5000] [--calendars 2000] [--events 10]
                       [--rounds 3]

End to end: requests 1200 and 1500 sent by a loopback peer to the real Harlix, which runs the
synchronisation sessions with the simulated device library, until the final replies, with every
reply batch inflated and parsed as JSON by the peer. Baseline: decoding the same stores straight from
the device image with Python's plistlib. Each figure is the best of the rounds; the aim is Harlix
within 1.5 times the baseline. Also printed: Harlix's peak resident memory. Standard library only.
"""

import argparse
import os
import plistlib
import random
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))

import bench_contacts  # noqa: E402
import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402
import make_address_book  # noqa: E402
import make_sync_data as sd  # noqa: E402

LIST_NOTES, LIST_CALENDARS = 1200, 1500


def decode_from_image(image):
    started = time.perf_counter()
    counts = []
    for name, entity in ((sd.NOTES_FILE, sd.NOTE), (sd.CALENDARS_FILE, sd.CALENDAR)):
        with open(os.path.join(image, name), "rb") as f:
            records = plistlib.load(f)["records"]
        counts.append(sum(1 for r in records.values() if r[sd.ENTITY_KEY] == entity))
    return time.perf_counter() - started, counts


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--notes", type=int, default=5000)
    parser.add_argument("--calendars", type=int, default=2000)
    parser.add_argument("--events", type=int, default=10, help="events per calendar")
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args(argv)

    folder = tempfile.mkdtemp(prefix="hlx-bench-sync-")
    lab = hlx_lab.DeviceLab(folder, options.support)
    peer = None
    try:
        image = lab.make(contacts=0, contact_groups=0, sync_data={"notes": options.notes})
        sd.write_store(image["path"], sd.CALENDARS_FILE,
                       sd.make_calendars(random.Random(1), options.calendars, options.events))
        # Transcripts would write every record once more; a benchmark measures the listing.
        make_address_book.write_sync_settings(image["path"], transcripts=False)
        udid = lab.attach(image)
        image_folder = os.path.join(lab.root, udid)

        env = dict(os.environ, **lab.variables())
        env["TMPDIR"] = folder
        peer = hlx_peer.Peer(options.harlix, env=env, logging=False)
        peer.start()
        peer.accept()
        bench_contacts.wait_ready(peer, udid)

        harlix_best = None
        for round_index in range(options.rounds):
            notes_seconds, notes = bench_contacts.list_once(peer, 100 + 2 * round_index, udid, LIST_NOTES)
            calendar_seconds, calendars = bench_contacts.list_once(peer, 101 + 2 * round_index, udid, LIST_CALENDARS)
            if (notes, calendars) != (options.notes, options.calendars):
                raise RuntimeError("listed %d notes and %d calendars" % (notes, calendars))
            seconds = notes_seconds + calendar_seconds
            harlix_best = seconds if harlix_best is None else min(harlix_best, seconds)
        baseline_best = None
        for _ in range(options.rounds):
            seconds, counts = decode_from_image(image_folder)
            if counts != [options.notes, options.calendars]:
                raise RuntimeError("decoded %s" % counts)
            baseline_best = seconds if baseline_best is None else min(baseline_best, seconds)
        peak = bench_contacts.peak_memory_kib(peer.process.pid)

        ratio = harlix_best / baseline_best
        print("bench_sync_data: %d notes, %d calendars with %d events" % (options.notes, options.calendars,
                                                                          options.calendars * options.events))
        print("  Harlix end to end (requests 1200 and 1500, replies inflated and parsed): %.3f s" % harlix_best)
        print("  baseline (plistlib decoding the image's notes and calendars):            %.3f s" % baseline_best)
        print("  ratio %.2f (aim <= %.1f): %s" % (ratio, bench_contacts.AIM, "met" if ratio <= bench_contacts.AIM
                                                 else "NOT met"))
        print("  Harlix peak resident memory: %.1f MiB" % (peak / 1024.0))
        return 0
    finally:
        if peer is not None:
            peer.close()
        lab.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
