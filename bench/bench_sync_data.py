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
import statistics
import subprocess
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
AIM_RATIO = 1.5
TIMEOUT_S = 600


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

        harlix, baseline, peaks = [], [], []

        def run_harlix(round_index):
            notes_seconds, notes, notes_peak, _ = bench_contacts.list_once(peer, 100 + 2 * round_index, udid,
                                                                           LIST_NOTES)
            calendar_seconds, calendars, calendar_peak, _ = bench_contacts.list_once(
                peer, 101 + 2 * round_index, udid, LIST_CALENDARS)
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

        for round_index in range(options.rounds):
            steps = (run_harlix, run_baseline) if round_index % 2 == 0 else (run_baseline, run_harlix)
            for step in steps:
                step(round_index)

        def spread(values):
            warm = values[1:] or values
            return "median %.3f s (min %.3f, max %.3f); cold %.3f s" % (statistics.median(warm), min(warm),
                                                                        max(warm), values[0])

        ratio = statistics.median(harlix[1:] or harlix) / statistics.median(baseline[1:] or baseline)
        print("bench_sync_data: %d notes, %d calendars with %d events, %d rounds (first cold)"
              % (options.notes, options.calendars, options.calendars * options.events, options.rounds))
        print("  Harlix end to end (requests 1200 and 1500, replies inflated and parsed): " + spread(harlix))
        print("  baseline (plistlib decoding the same stores, own process):            " + spread(baseline))
        print("  Harlix peak resident memory during a listing: %.1f MiB above its start" % (max(peaks) / 1024.0))
        met = bench_contacts.aim("listed warm within %.1fx plistlib's decode (ratio %.2f, cold %.2f)"
                                 % (AIM_RATIO, ratio, harlix[0] / baseline[0]), ratio <= AIM_RATIO)
        return 0 if met else 1
    finally:
        if peer is not None:
            peer.close()
        lab.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
