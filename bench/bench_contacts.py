#!/usr/bin/env python3
"""Listing the contacts of a simulated device end to end, beside a baseline measured in the same run.

    bench_contacts.py --harlix PATH --support DIR [--contacts 10000] [--groups 50] [--listings 20]
                      [--save-replies DIR]

End to end: request 100 sent by a loopback peer to the real Harlix (logging on, as the desktop starts
it), which runs the synchronisation session with the simulated device library, until the final
reply, with every reply batch inflated and parsed as JSON by the peer. Baseline: decoding the same
address book from the device image with Python's plistlib, each time in a fresh process of its own
(the least a client must do to see the records). The two alternate, the order turning every round;
the first round is reported apart as the cold one (the service's first listing, the device's first
parse), the others give medians with min and max.

Memory: before each listing Harlix's peak resident memory is reset (/proc/PID/clear_refs); the
listing's peak is its peak minus its resident memory before, beside plistlib's peak minus its own
before the decode. After the last listing the service is left idle and its resident memory must come
back under 30 MiB. Every wait has a time-out. Standard library only. --save-replies keeps the inflated
data parts of the first listing's replies, one file each, as the corpus bench_ipc measures the
service's compressor on.

Compression's share of the service's CPU (given --ipc-tool, the bench_ipc program): the CPU time of
the service's compressor on the first listing's data parts, each compressed on its own as the service
does (bench_ipc --compress-seconds, a process of its own), over the median CPU time (user and
system, all threads, from /proc/PID/stat in clock ticks) the service spent on a warm listing. Aim: at
most 10 %.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))

import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402
import make_address_book  # noqa: E402

LIST = 100
TIMEOUT_S = 600
AIM_TIME = 0.5
AIM_PEAK = 1.5
AIM_IDLE_MIB = 30
AIM_COMPRESSION_SHARE = 0.10
IDLE_WAIT_S = 10

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


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    """The CPU time (user and system) of every thread the process has had, ended ones included."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def compression_share(ipc_tool, replies, service_cpu, what):
    """Prints and judges the compressor's CPU time on the data parts in folder `replies` beside the
    service's CPU seconds per listing `service_cpu` (warm ones after the first); True when met."""
    out = subprocess.run([ipc_tool, "--compress-seconds", replies], check=True, timeout=TIMEOUT_S,
                         capture_output=True).stdout.split()
    compress, size = float(out[0]), int(out[1])
    warm = service_cpu[1:] or service_cpu
    share = compress / statistics.median(warm)
    print("  the service's CPU per %s: %s (clock ticks of %.0f ms)"
          % (what, spread(service_cpu, "s"), 1000 / os.sysconf("SC_CLK_TCK")))
    print("  the service's compressor on that listing's %.1f MiB of data parts: %.4f s of CPU (median of five passes, "
          "a process of its own)" % (size / (1 << 20), compress))
    print("  compression's share of the service's CPU: %.1f %% of the warm median (%.1f %% to %.1f %% over the warm "
          "listings)" % (100 * share, 100 * compress / max(warm), 100 * compress / min(warm)))
    return aim("compression at most %.0f %% of the service's CPU in the %s" % (100 * AIM_COMPRESSION_SHARE, what),
               share <= AIM_COMPRESSION_SHARE)


def wait_ready(peer, udid):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        item = peer.receive(timeout=deadline - time.monotonic())
        if item is None:
            break
        if item.get("id") == 0 and item.get("command") == hlx_peer.EVENT_DEVICE_READY:
            if json.loads(item["body"].split(b"\0")[1])["uuid"] == udid:
                return
    raise RuntimeError("the device did not become ready")


def reset_peak(pid):
    """Resets the process's VmHWM to its present resident size, which it returns in KiB."""
    with open("/proc/%d/clear_refs" % pid, "w") as f:
        f.write("5")
    return status_kib(pid, "VmRSS:")


def progress_replies(peer, packet_id, code, timeout_s=TIMEOUT_S):
    """The intermediate replies to request `packet_id` (request code `code`) as (packet, record, data), until its
    final reply, which must carry code 0; a RuntimeError when it fails or does not come within `timeout_s`."""
    deadline = time.monotonic() + timeout_s
    while True:
        item = peer.receive(timeout=max(0.0, deadline - time.monotonic()))
        if item is None:
            raise RuntimeError("no final reply in time")
        if item["id"] != packet_id:
            continue
        _, text, data = item["body"].split(b"\0", 2)
        record = json.loads(text)
        if item["status"] != 2:
            if record["code"] != 0:
                raise RuntimeError("request %d failed with code %d" % (code, record["code"]))
            return
        yield item, record, data


def list_once(peer, packet_id, udid, code=LIST, save_to=None):
    """Seconds for one listing request, the items its record replies (those with the request's
    command) carried, the listing's peak KiB and the service's CPU seconds for it. With `save_to`,
    every inflated data part goes there, after the clock stopped."""
    pid = peer.process.pid
    before = reset_peak(pid)
    cpu_before = cpu_seconds(pid)
    started = time.perf_counter()
    peer.send(packet_id, code, 0, hlx_peer.encode_request(1, {"uuid": udid}))
    contacts = 0
    parts = []
    for item, _, data in progress_replies(peer, packet_id, code):
        if data:
            inflated = zlib.decompress(data)
            batch = json.loads(inflated)
            if item["command"] == code:
                contacts += len(batch)
            if save_to is not None:
                parts.append(inflated)
    seconds = time.perf_counter() - started
    cpu = cpu_seconds(pid) - cpu_before
    if save_to is not None:
        save_parts(save_to, parts)
    return seconds, contacts, status_kib(pid, "VmHWM:") - before, cpu


def save_parts(save_to, parts):
    """Writes each inflated data part to a file of its own in folder `save_to`, in order."""
    os.makedirs(save_to, exist_ok=True)
    for index, part in enumerate(parts):
        with open(os.path.join(save_to, "reply-%05d.json" % index), "wb") as f:
            f.write(part)


def decode_once(store):
    out = subprocess.run([sys.executable, "-c", DECODE, store, make_address_book.ENTITY_KEY,
                          make_address_book.CONTACT], check=True, timeout=TIMEOUT_S, capture_output=True)
    return json.loads(out.stdout)


def idle_resident_kib(pid):
    """Resident memory once it stops falling, waiting at most IDLE_WAIT_S."""
    deadline = time.monotonic() + IDLE_WAIT_S
    last = status_kib(pid, "VmRSS:")
    while time.monotonic() < deadline:
        time.sleep(0.5)
        now = status_kib(pid, "VmRSS:")
        if now >= last:
            return now
        last = now
    return last


def spread(values, unit, scale=1.0):
    warm = values[1:] or values
    return "median %.3f %s (min %.3f, max %.3f; cold %.3f)" % (
        statistics.median(warm) * scale, unit, min(warm) * scale, max(warm) * scale, values[0] * scale)


def aim(what, met):
    print("  aim: %s: %s" % (what, "met" if met else "not met"))
    return met


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--contacts", type=int, default=make_address_book.LARGE_CONTACTS)
    parser.add_argument("--groups", type=int, default=make_address_book.LARGE_GROUPS)
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds beside the baseline, the first cold")
    parser.add_argument("--listings", type=int, default=20, help="listings in all before the idle memory check")
    parser.add_argument("--save-replies", help="a folder for the first listing's inflated data parts")
    parser.add_argument("--ipc-tool", help="bench_ipc, to measure compression's share of the service's CPU")
    options = parser.parse_args(argv)

    folder = tempfile.mkdtemp(prefix="hlx-bench-contacts-")
    if options.ipc_tool and not options.save_replies:
        options.save_replies = os.path.join(folder, "replies")
    lab = hlx_lab.DeviceLab(folder, options.support)
    peer = None
    try:
        image = lab.make(contacts=options.contacts, contact_groups=options.groups)
        # Transcripts would write every record once more; a benchmark measures the listing.
        make_address_book.write_sync_settings(image["path"], transcripts=False)
        udid = lab.attach(image)
        image_folder = os.path.join(lab.root, udid)
        store = os.path.join(image_folder, make_address_book.STORE_FILE)

        env = dict(os.environ, **lab.variables())
        env["TMPDIR"] = folder
        peer = hlx_peer.Peer(options.harlix, env=env, logging=True)
        peer.start()
        peer.accept()
        wait_ready(peer, udid)
        at_rest = status_kib(peer.process.pid, "VmRSS:")

        times = {"harlix": [], "plistlib": []}
        peaks = {"harlix": [], "plistlib": []}
        cpu = []

        def harlix_step(index):
            save_to = options.save_replies if index == 0 else None
            seconds, listed, peak, cpu_used = list_once(peer, 100 + index, udid, save_to=save_to)
            if listed != options.contacts:
                raise RuntimeError("listed %d contacts of %d" % (listed, options.contacts))
            times["harlix"].append(seconds)
            peaks["harlix"].append(peak)
            cpu.append(cpu_used)

        def baseline_step(_):
            seconds, decoded, peak = decode_once(store)
            if decoded != options.contacts:
                raise RuntimeError("decoded %d contacts of %d" % (decoded, options.contacts))
            times["plistlib"].append(seconds)
            peaks["plistlib"].append(peak)

        listings = 0
        for round_index in range(options.rounds):
            steps = [harlix_step, baseline_step]
            for step in steps if round_index % 2 == 0 else reversed(steps):
                step(listings)
            listings += 1
        while listings < options.listings:
            harlix_step(listings)
            listings += 1
        idle = idle_resident_kib(peer.process.pid)
        # Counted only now: this process is the peer, and a parse of the whole book here beforehand
        # leaves its allocator with work that slowed its handling of the first listing's replies.
        records = len(make_address_book.read_address_book(image_folder)["records"])

        print("bench_contacts: %d contacts, %d groups, %d records in the image; %d rounds (the first cold), "
              "%d listings in all" % (options.contacts, options.groups, records, options.rounds, listings))
        harlix_times, base_times = times["harlix"][:options.rounds], times["plistlib"]
        print("  Harlix end to end (request 100, replies inflated and parsed): %s" % spread(harlix_times, "s"))
        print("  plistlib decoding the address book, own process:             %s" % spread(base_times, "s"))
        ratio = statistics.median(harlix_times[1:]) / statistics.median(base_times[1:])
        cold = harlix_times[0] / base_times[0]
        print("  ratio %.2f warm, %.2f cold" % (ratio, cold))
        all_met = aim("listed cold in at most %.1fx plistlib's decode" % AIM_TIME, cold <= AIM_TIME)
        all_met &= aim("listed warm in at most %.1fx plistlib's decode" % AIM_TIME, ratio <= AIM_TIME)
        print("  peak memory of a listing, Harlix: %s" % spread(peaks["harlix"][:options.rounds], "MiB", 1 / 1024))
        print("  peak memory of the decode, plistlib: %s" % spread(peaks["plistlib"], "MiB", 1 / 1024))
        peak_ratio = max(peaks["harlix"]) / statistics.median(peaks["plistlib"])
        print("  largest listing peak / plistlib's median: %.2f" % peak_ratio)
        all_met &= aim("peak memory at most %.1fx plistlib's working set" % AIM_PEAK, peak_ratio <= AIM_PEAK)
        print("  resident memory: %.1f MiB at rest before the listings, %.1f MiB idle after %d listings"
              % (at_rest / 1024, idle / 1024, listings))
        all_met &= aim("idle resident memory under %d MiB" % AIM_IDLE_MIB, idle < AIM_IDLE_MIB * 1024)
        if options.ipc_tool:
            all_met &= compression_share(options.ipc_tool, options.save_replies, cpu[:options.rounds],
                                         "%d-contact listing" % options.contacts)
        return 0 if all_met else 1
    finally:
        if peer is not None:
            peer.close()
        lab.close()
        import shutil
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
