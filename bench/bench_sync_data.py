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
import subprocess
import sys
import time

from bench_common import TIMEOUT_S, Bench, aim, alternate, list_once, spread, warm_median
import make_address_book
import make_sync_data as sd

LIST_NOTES, LIST_CALENDARS = 1200, 1500
AIM_RATIO = 1.5


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
    parser.add_argument("--rounds", type=int, default=4, help="rounds in all, the first one cold")
    if argv[:1] == ["--decode"]:  # the baseline, in a process of its own
        seconds, counts = decode_from_image(argv[1])
        print(seconds, *counts)
        return 0
    options = parser.parse_args(argv)

    with Bench(options.support, prefix="hlx-bench-sync-") as bench:
        lab = bench.lab
        image = lab.make(contacts=0, contact_groups=0, sync_data={"notes": options.notes})
        sd.write_store(image["path"], sd.CALENDARS_FILE,
                       sd.make_calendars(random.Random(1), options.calendars, options.events))
        # Transcripts would write every record once more; a benchmark measures the listing.
        make_address_book.write_sync_settings(image["path"], transcripts=False)
        udid = lab.attach(image)
        image_folder = os.path.join(lab.root, udid)

        peer = bench.start_harlix(options.harlix, udid, logging=False)

        harlix, baseline, peaks = [], [], []

        def run_harlix(round_index):
            notes_seconds, notes, notes_peak, _ = list_once(peer, 100 + 2 * round_index, udid, LIST_NOTES)
            calendar_seconds, calendars, calendar_peak, _ = list_once(peer, 101 + 2 * round_index, udid,
                                                                      LIST_CALENDARS)
            if (notes, calendars) != (options.notes, options.calendars):
                raise RuntimeError("listed %d notes and %d calendars" % (notes, calendars))
            harlix.append(notes_seconds + calendar_seconds)
            peaks.append(max(notes_peak, calendar_peak))

        def run_baseline(_):
            output = subprocess.run([sys.executable, __file__, "--decode", image_folder], check=True,
                                    capture_output=True, text=True, timeout=TIMEOUT_S).stdout.split()
            if [int(n) for n in output[1:]] != [options.notes, options.calendars]:
                raise RuntimeError("decoded %s" % output[1:])
            baseline.append(float(output[0]))

        alternate(options.rounds, [run_harlix, run_baseline])
        ratio = warm_median(harlix) / warm_median(baseline)
        print("bench_sync_data: %d notes, %d calendars with %d events, %d rounds (first cold)"
              % (options.notes, options.calendars, options.calendars * options.events, options.rounds))
        print("  Harlix end to end (requests 1200 and 1500, replies inflated and parsed): " + spread(harlix, "s"))
        print("  baseline (plistlib decoding the same stores, own process):            " + spread(baseline, "s"))
        print("  Harlix peak resident memory during a listing: %.1f MiB above its start" % (max(peaks) / 1024.0))
        met = aim("listed warm within %.1fx plistlib's decode (ratio %.2f, cold %.2f)"
                  % (AIM_RATIO, ratio, harlix[0] / baseline[0]), ratio <= AIM_RATIO)
        return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
