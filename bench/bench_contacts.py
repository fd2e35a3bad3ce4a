#!/usr/bin/env python3
"""Listing the contacts of a simulated iPhone end to end, beside a baseline measured in the same run.

    bench_contacts.py --harlix PATH --support DIR [--contacts 10000] [--groups 50] [--rounds 3]

End to end: request 100 sent by a loopback peer to the real Harlix, which runs the synchronisation
session with the simulated device library, until the final reply, with every reply batch inflated
and parsed as JSON by the peer. Baseline: decoding the same records straight from the device image
with Python's plistlib (the least a client must do to see them). Each figure is the best of the
rounds; the aim is Harlix end to end within 1.5 times the baseline. Also printed: Harlix's peak
resident memory (VmHWM) after the rounds. Standard library only.
"""

import argparse
import json
import os
import plistlib
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
AIM = 1.5


def peak_memory_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def device_share_kib(support, image):
    """What the simulated device's parse of the address book takes: the device library runs inside
    Harlix's process, so its share is part of Harlix's peak. Measured here, in this process."""
    import ctypes
    cf = ctypes.CDLL(os.path.join(support, "libCoreFoundation.so"))
    cf.HLXCFPropertyListCreateFromBytes.restype = ctypes.c_void_p
    cf.HLXCFPropertyListCreateFromBytes.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_ulong, ctypes.c_void_p]
    cf.CFRelease.argtypes = [ctypes.c_void_p]
    with open(os.path.join(image, make_address_book.STORE_FILE), "rb") as f:
        data = f.read()
    before = resident_kib(os.getpid())
    book = cf.HLXCFPropertyListCreateFromBytes(data, len(data), 0, None)
    share = resident_kib(os.getpid()) - before
    if book:
        cf.CFRelease(book)
    return share


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_ready(peer, udid, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        item = peer.receive(timeout=deadline - time.monotonic())
        if item is None:
            break
        if item.get("id") == 0 and item.get("command") == hlx_peer.EVENT_DEVICE_READY:
            if json.loads(item["body"].split(b"\0")[1])["uuid"] == udid:
                return
    raise RuntimeError("the device did not become ready")


def list_once(peer, packet_id, udid, code=LIST):
    """Seconds for one listing request, and the number of items its record replies (those with the
    request's command) carried."""
    started = time.perf_counter()
    peer.send(packet_id, code, 0, hlx_peer.encode_request(1, {"uuid": udid}))
    contacts = 0
    while True:
        item = peer.receive(timeout=600)
        if item is None:
            raise RuntimeError("no final reply")
        if item["id"] != packet_id:
            continue
        _, text, data = item["body"].split(b"\0", 2)
        record = json.loads(text)
        if item["status"] != 2:
            if record["code"] != 0:
                raise RuntimeError("request %d failed with code %d" % (code, record["code"]))
            return time.perf_counter() - started, contacts
        if data:
            batch = json.loads(zlib.decompress(data))
            if item["command"] == code:
                contacts += len(batch)


def decode_from_image(image):
    started = time.perf_counter()
    with open(os.path.join(image, make_address_book.STORE_FILE), "rb") as f:
        book = plistlib.load(f)
    seconds = time.perf_counter() - started
    return seconds, sum(1 for r in book["records"].values() if r[make_address_book.ENTITY_KEY] == make_address_book.CONTACT)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--contacts", type=int, default=make_address_book.LARGE_CONTACTS)
    parser.add_argument("--groups", type=int, default=make_address_book.LARGE_GROUPS)
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args(argv)

    folder = tempfile.mkdtemp(prefix="hlx-bench-contacts-")
    lab = hlx_lab.DeviceLab(folder, options.support)
    peer = None
    try:
        image = lab.make(contacts=options.contacts, contact_groups=options.groups)
        # Transcripts would write every record once more; a benchmark measures the listing.
        make_address_book.write_sync_settings(image["path"], transcripts=False)
        udid = lab.attach(image)
        image_folder = os.path.join(lab.root, udid)
        records = len(make_address_book.read_address_book(image_folder)["records"])

        env = dict(os.environ, **lab.variables())
        env["TMPDIR"] = folder
        peer = hlx_peer.Peer(options.harlix, env=env, logging=False)
        peer.start()
        peer.accept()
        wait_ready(peer, udid)

        harlix_best = None
        for round_index in range(options.rounds):
            seconds, listed = list_once(peer, 100 + round_index, udid)
            if listed != options.contacts:
                raise RuntimeError("listed %d contacts of %d" % (listed, options.contacts))
            harlix_best = seconds if harlix_best is None else min(harlix_best, seconds)
        baseline_best = None
        for _ in range(options.rounds):
            seconds, decoded = decode_from_image(image_folder)
            if decoded != options.contacts:
                raise RuntimeError("decoded %d contacts of %d" % (decoded, options.contacts))
            baseline_best = seconds if baseline_best is None else min(baseline_best, seconds)
        peak = peak_memory_kib(peer.process.pid)
        device_share = device_share_kib(options.support, image_folder)

        ratio = harlix_best / baseline_best
        print("bench_contacts: %d contacts, %d groups, %d records in the image" % (options.contacts, options.groups,
                                                                                 records))
        print("  Harlix end to end (request 100, replies inflated and parsed): %.3f s" % harlix_best)
        print("  baseline (plistlib decoding the image's address book):       %.3f s" % baseline_best)
        print("  ratio %.2f (aim <= %.1f): %s" % (ratio, AIM, "met" if ratio <= AIM else "NOT met"))
        print("  Harlix peak resident memory: %.1f MiB, of which about %.1f MiB are the simulated device's parsed"
              " address book" % (peak / 1024.0, device_share / 1024.0))
        return 0
    finally:
        if peer is not None:
            peer.close()
        lab.close()
        import shutil
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
