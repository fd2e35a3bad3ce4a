#!/usr/bin/env python3
"""Listing the contacts of a simulated device end to end, beside a baseline measured in the same run.

    bench_contacts.py --harlix PATH --support DIR [--contacts 10000] [--groups 50] [--listings 20]
                      [--cold 3] [--warm 6] [--save-replies DIR]

End to end: request 100 sent by a loopback peer to the real Harlix (logging on, as the desktop starts
it), which runs the synchronisation session with the simulated device library, until the final
reply, with every reply batch inflated and parsed as JSON by the peer. Baseline: decoding the same
address book from the device image with Python's plistlib, each time in a fresh process of its own
(the least a client must do to see the records). The two alternate, the order turning every round.
Cold samples (--cold of them) are taken apart: each is the first listing of a freshly started Harlix
(the service's first listing, the device's first parse) and a decode, each with the address book
dropped from the page cache before it; the last of those Harlix processes then lists --warm warm
rounds beside as many decodes of the cached file. Cold and warm figures are medians with min and
max, each set judged.

Memory: before each listing Harlix's peak resident memory is reset (/proc/PID/clear_refs); the
listing's peak is its peak minus its resident memory before, beside plistlib's peak minus its own
before the decode; aim: the largest listing peak at most plistlib's median. After --listings listings
in the last Harlix process the service is left idle and its resident memory must come back under
30 MiB. Every wait has a time-out. Standard library only. --save-replies keeps the inflated
data parts of the first listing's replies, one file each, as the corpus bench_ipc measures the
service's compressor on.

Compression's share of the service's CPU (given --ipc-tool, the bench_ipc program): the CPU time of
the service's compressor on the first listing's data parts, each compressed on its own as the service
does (bench_ipc --compress-seconds, a process of its own), over the median CPU time (user and
system, all threads, from /proc/PID/stat in clock ticks) the service spent on a warm listing; where
perf is installed, also sampled in the service itself over five more listings after the others (the
compressor library's samples over all of the service's), and that figure is judged. Aim: at most 10 %.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

from bench_common import (TIMEOUT_S, Bench, aim, compression_share, evict, idle_resident_kib, in_turn, list_once,
                          sampled_compression_share, samples, status_kib)
import make_address_book

LIST = 100
AIM_TIME = 0.5
AIM_PEAK = 1.0
AIM_IDLE_MIB = 30

# The baseline, run in a process of its own: seconds of the decode, contacts found, and the decode's
# peak memory in KiB above the process's resident memory before it.
DECODE = r"""
import json, plistlib, sys, time
def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key))
path, entity_key, contact = sys.argv[1:4]
before = status("VmRSS:")
started = time.perf_counter()
with open(path, "rb") as f:
    book = plistlib.load(f)
seconds = time.perf_counter() - started
count = sum(1 for r in book["records"].values() if r[entity_key] == contact)
print(json.dumps([seconds, count, status("VmHWM:") - before]))
"""


def decode_once(store):
    out = subprocess.run([sys.executable, "-c", DECODE, store, make_address_book.ENTITY_KEY,
                          make_address_book.CONTACT], check=True, timeout=TIMEOUT_S, capture_output=True)
    return json.loads(out.stdout)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--contacts", type=int, default=make_address_book.LARGE_CONTACTS)
    parser.add_argument("--groups", type=int, default=make_address_book.LARGE_GROUPS)
    parser.add_argument("--warm", type=int, default=6, help="warm rounds beside the baseline, after the cold samples")
    parser.add_argument("--cold", type=int, default=3, help="cold samples, each a freshly started Harlix")
    parser.add_argument("--listings", type=int, default=20, help="listings in all before the idle memory check")
    parser.add_argument("--save-replies", help="a folder for the first listing's inflated data parts")
    parser.add_argument("--ipc-tool", help="bench_ipc, to measure compression's share of the service's CPU")
    options = parser.parse_args(argv)
    if options.cold < 1 or options.warm < 1:
        parser.error("at least one cold sample and one warm round")

    with Bench(options.support, prefix="hlx-bench-contacts-") as bench:
        if options.ipc_tool and not options.save_replies:
            options.save_replies = os.path.join(bench.folder, "replies")
        lab = bench.lab
        image = lab.make(contacts=options.contacts, contact_groups=options.groups)
        # Transcripts would write every record once more; a benchmark measures the listing.
        make_address_book.write_sync_settings(image["path"], transcripts=False)
        udid = lab.attach(image)
        image_folder = os.path.join(lab.root, udid)
        store = os.path.join(image_folder, make_address_book.STORE_FILE)
        packet_ids = iter(range(100, 1 << 30))

        # Each side's figures, cold ("cold") and warm ("warm").
        times = {side: {"cold": [], "warm": []} for side in ("harlix", "plistlib")}
        peaks = {side: {"cold": [], "warm": []} for side in ("harlix", "plistlib")}
        cpu = []
        state = {"peer": None, "at rest": 0, "listings": 0}

        def harlix_step(kind):
            if kind == "cold":
                evict(store)
                state["peer"] = bench.restart_harlix(options.harlix, udid)
                state["at rest"] = status_kib(state["peer"].process.pid, "VmRSS:")
                state["listings"] = 0
            save_to = options.save_replies if not cpu else None
            seconds, listed, peak, cpu_used = list_once(state["peer"], next(packet_ids), udid, LIST, save_to=save_to)
            if listed != options.contacts:
                raise RuntimeError("listed %d contacts of %d" % (listed, options.contacts))
            state["listings"] += 1
            if kind is not None:
                times["harlix"][kind].append(seconds)
                peaks["harlix"][kind].append(peak)
                cpu.append(cpu_used)

        def baseline_step(kind):
            if kind == "cold":
                evict(store)
            seconds, decoded, peak = decode_once(store)
            if decoded != options.contacts:
                raise RuntimeError("decoded %d contacts of %d" % (decoded, options.contacts))
            times["plistlib"][kind].append(seconds)
            peaks["plistlib"][kind].append(peak)

        for index in range(options.cold):
            for step in in_turn([harlix_step, baseline_step], index):
                step("cold")
        for index in range(options.warm):
            for step in in_turn([harlix_step, baseline_step], index):
                step("warm")
        while state["listings"] < options.listings:
            harlix_step(None)
        peer = state["peer"]
        idle = idle_resident_kib(peer.process.pid)
        # Counted only now: this process is the peer, and a parse of the whole book here beforehand
        # leaves its allocator with work that slowed its handling of the first listing's replies.
        records = len(make_address_book.read_address_book(image_folder)["records"])

        print("bench_contacts: %d contacts, %d groups, %d records in the image; %d cold samples (each a fresh "
              "Harlix, the file dropped from the page cache), %d warm rounds, %d listings in the last Harlix"
              % (options.contacts, options.groups, records, options.cold, options.warm, state["listings"]))
        all_met = True
        for kind in ("cold", "warm"):
            ours, base = times["harlix"][kind], times["plistlib"][kind]
            print("  %s: Harlix end to end (request 100, replies inflated and parsed): %s" % (kind, samples(ours, "s")))
            print("  %s: plistlib decoding the address book, own process:             %s" % (kind, samples(base, "s")))
            ratio = statistics.median(ours) / statistics.median(base)
            print("  %s: ratio of the medians %.2f" % (kind, ratio))
            all_met &= aim("listed %s in at most %.1fx plistlib's decode" % (kind, AIM_TIME), ratio <= AIM_TIME)
        harlix_peaks = peaks["harlix"]["cold"] + peaks["harlix"]["warm"]
        base_peaks = peaks["plistlib"]["cold"] + peaks["plistlib"]["warm"]
        print("  peak memory of a listing, Harlix: %s" % samples(harlix_peaks, "MiB", 1 / 1024))
        print("  peak memory of the decode, plistlib: %s" % samples(base_peaks, "MiB", 1 / 1024))
        peak_ratio = max(harlix_peaks) / statistics.median(base_peaks)
        print("  largest listing peak / plistlib's median: %.2f" % peak_ratio)
        all_met &= aim("peak memory at most %.1fx plistlib's working set, %d contacts" % (AIM_PEAK, options.contacts),
                       peak_ratio <= AIM_PEAK)
        print("  resident memory: %.1f MiB at rest before the listings, %.1f MiB idle after %d listings"
              % (state["at rest"] / 1024, idle / 1024, state["listings"]))
        all_met &= aim("idle resident memory under %d MiB after %d listings of %d contacts"
                       % (AIM_IDLE_MIB, state["listings"], options.contacts), idle < AIM_IDLE_MIB * 1024)
        if options.ipc_tool:
            sampled = sampled_compression_share(peer.process.pid,
                                                lambda: list_once(peer, next(packet_ids), udid, LIST))
            # The first figure is taken for the cold one and left out: the cold samples go first.
            all_met &= compression_share(options.ipc_tool, options.save_replies, cpu[options.cold - 1:],
                                         "%d-contact listing" % options.contacts, sampled=sampled)
        return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
