#!/usr/bin/env python3
"""Segmented file transfers through Harlix against a plain copy of the same file, in the same run.

A file of --mib MiB (256 by default; --mib 1024 for 1 GiB) lies in the simulated iPhone's file
system. Download: request 702 (stage 1, every segment with four requests in flight, stage 3) from a
loopback peer that writes the segments into a PC file. Upload: request 703 of that PC file (stage 1,
every segment with four in flight, until the service answers stage 3 with the device path).
Baseline: `cp` of the same file in a process of its own, from the device folder to the PC folder and
back. Ours and the baseline alternate, the order swapping every round; the first round is reported
apart as the cold one, the warm rounds give medians with min and max. Every transfer is checked
byte for byte. Aim: our throughput at least 70 % of the copy's, for download and for upload.
"""
import argparse
import hashlib
import json
import os
import shutil
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

DOWNLOAD, UPLOAD = 702, 703
WINDOW = 4
TIMEOUT_S = 600
AIM_SHARE = 0.70
MIB = 1 << 20


class BulkLink:
    """The peer's end of the line while segments flow: a reply body is read straight into a buffer of
    its own and a request goes out as its parts, so that the peer copies no segment more than the
    socket makes it (it stands in for the desktop, which does the same)."""

    def __init__(self, peer):
        self.socket = peer.connection
        self.socket.settimeout(TIMEOUT_S)
        self.leftover = bytes(peer.reader.buffer)  # what the peer read past its last whole packet

    def send(self, packet_id, command, json_text, data=b"", compress=True):
        text = json.dumps(json_text, separators=(",", ":")).encode()
        data = zlib.compress(data) if compress and data else data
        head = b"1\0" + text + b"\0"
        self.socket.sendall(hlx_peer.HEADER.pack(hlx_peer.MAGIC, hlx_peer.FILLER, packet_id, command, 0,
                                                 len(head) + len(data)) + head)
        if data:
            self.socket.sendall(data)

    def _read_into(self, view):
        if self.leftover:
            taken = min(len(view), len(self.leftover))
            view[:taken] = self.leftover[:taken]
            self.leftover = self.leftover[taken:]
            view = view[taken:]
        while len(view):
            count = self.socket.recv_into(view)
            if count == 0:
                raise RuntimeError("Harlix closed the line")
            view = view[count:]

    def receive(self):
        """(packet id, status, body) of the next packet; heartbeats are skipped."""
        header = bytearray(hlx_peer.HEADER_SIZE)
        while True:
            self._read_into(memoryview(header)[:len(hlx_peer.HEARTBEAT)])
            if bytes(header[:len(hlx_peer.HEARTBEAT)]) != hlx_peer.HEARTBEAT:
                break
        self._read_into(memoryview(header)[len(hlx_peer.HEARTBEAT):])
        magic, _, packet_id, _, status, length = hlx_peer.HEADER.unpack(header)
        if magic != hlx_peer.MAGIC:
            raise RuntimeError("the line is out of step")
        body = bytearray(length)
        self._read_into(memoryview(body))
        return packet_id, status, body


def next_reply(link, packet_id, deadline):
    """(record, data) of the next reply to packet_id; data is a view into the reply's own buffer."""
    while True:
        if time.monotonic() > deadline:
            raise RuntimeError("no reply in time")
        got_id, status, body = link.receive()
        if got_id != packet_id:
            continue
        first = body.index(b"\0")
        second = body.index(b"\0", first + 1)
        record = json.loads(bytes(body[first + 1:second]))
        if status != 2:
            raise RuntimeError("transfer failed: %r" % record)
        data = memoryview(body)[second + 1:]
        if data and record["type"] == 0:
            data = zlib.decompress(data)
        return record, data


def download(link, packet_id, udid, device_path, out_path):
    deadline = time.monotonic() + TIMEOUT_S
    link.send(packet_id, DOWNLOAD, {"uuid": udid, "stage": 1}, json.dumps({"path": device_path}).encode())
    _, header = next_reply(link, packet_id, deadline)
    header = bytes(header)
    segments = [json.loads(json.dumps(s)) for s in json.loads(header)["fbs"].values()]
    with open(out_path, "wb") as out:
        out.truncate(json.loads(header)["size"])
        pending, in_flight = list(segments), 0
        while pending or in_flight:
            while pending and in_flight < WINDOW:
                s = pending.pop()
                ask = {"id": 0, "offset": s["offset"], "offset_length": s["offset_length"]}
                link.send(packet_id, DOWNLOAD, {"uuid": udid, "stage": 2}, json.dumps(ask).encode())
                in_flight += 1
            record, data = next_reply(link, packet_id, deadline)
            out.seek(record["info"]["offset"])
            out.write(data)
            in_flight -= 1
    link.send(packet_id, DOWNLOAD, {"uuid": udid, "stage": 3})
    next_reply(link, packet_id, deadline)


def upload(link, packet_id, udid, pc_path, name, segment_bytes=2 * MIB):
    deadline = time.monotonic() + TIMEOUT_S
    size = os.path.getsize(pc_path)
    fbs = {str(i + 1): {"offset": o, "offset_length": min(segment_bytes, size - o)}
           for i, o in enumerate(range(0, size, segment_bytes))}
    header = {"version": "1", "md5": "", "size": size, "fbs": fbs}
    info = {"name": name, "dir": "/Downloads/"}
    link.send(packet_id, UPLOAD, {"uuid": udid, "stage": 1, "info": info}, json.dumps(header).encode())
    next_reply(link, packet_id, deadline)
    with open(pc_path, "rb") as source:
        pending, in_flight = list(fbs.items()), 0
        while True:
            while pending and in_flight < WINDOW:
                key, s = pending.pop(0)
                source.seek(s["offset"])
                ask = {"id": int(key), "offset": s["offset"], "offset_length": s["offset_length"]}
                link.send(packet_id, UPLOAD, {"uuid": udid, "stage": 2, "info": ask}, source.read(s["offset_length"]),
                          False)
                in_flight += 1
            record, data = next_reply(link, packet_id, deadline)
            in_flight -= 1
            if record["stage"] == 3:
                return bytes(data).decode()


def copy(source, target):
    subprocess.run(["cp", source, target], check=True, timeout=TIMEOUT_S)


def timed(step):
    started = time.perf_counter()
    step()
    return time.perf_counter() - started


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(8 * MIB), b""):
            h.update(block)
    return h.hexdigest()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--mib", type=int, default=256, help="file size in MiB (1024 for 1 GiB)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds in all, the first one cold")
    options = parser.parse_args(argv)

    folder = tempfile.mkdtemp(prefix="hlx-bench-files-")
    lab = hlx_lab.DeviceLab(folder, options.support)
    peer = None
    try:
        udid = lab.attach(lab.make())
        downloads = os.path.join(lab.root, udid, "fs", "Downloads")
        device_file = os.path.join(downloads, "bench.bin")
        with open(device_file, "wb") as f:
            for _ in range(options.mib):
                f.write(os.urandom(MIB))
        expected = digest(device_file)
        pc = os.path.join(folder, "pc")
        os.makedirs(pc)

        env = dict(os.environ, **lab.variables())
        env["TMPDIR"] = folder
        peer = hlx_peer.Peer(options.harlix, env=env, logging=True)
        peer.start()
        peer.accept()
        deadline = time.monotonic() + 60
        while True:
            item = peer.receive(timeout=max(0.0, deadline - time.monotonic()))
            if item is None:
                raise RuntimeError("the device did not become ready")
            if item.get("id") == 0 and item.get("command") == hlx_peer.EVENT_DEVICE_READY:
                break

        link = BulkLink(peer)
        print("file transfers: %d MiB, %d rounds (first cold), %d segments in flight" % (
            options.mib, options.rounds, WINDOW))
        times = {key: [] for key in ("702", "cp down", "703", "cp up")}
        packet_id = 1000
        for round_index in range(options.rounds):
            ours_down, cp_down = os.path.join(pc, "ours.bin"), os.path.join(pc, "cp.bin")
            packet_id += 2
            steps = [("702", lambda: download(link, packet_id, udid, "/Downloads/bench.bin", ours_down)),
                     ("cp down", lambda: copy(device_file, cp_down))]
            for key, step in steps if round_index % 2 == 0 else reversed(steps):
                times[key].append(timed(step))
            if digest(ours_down) != expected or digest(cp_down) != expected:
                raise RuntimeError("a download differs from the device file")
            name = "up%d.bin" % round_index
            steps = [("703", lambda: upload(link, packet_id + 1, udid, ours_down, name)),
                     ("cp up", lambda: copy(cp_down, os.path.join(downloads, "cp" + name)))]
            for key, step in steps if round_index % 2 == 0 else reversed(steps):
                times[key].append(timed(step))
            if digest(os.path.join(downloads, name)) != expected:
                raise RuntimeError("an upload differs from the PC file")
            for path in (ours_down, cp_down, os.path.join(downloads, name), os.path.join(downloads, "cp" + name)):
                os.remove(path)

        all_met = True
        for ours, baseline in (("702", "cp down"), ("703", "cp up")):
            warm_ours, warm_base = times[ours][1:] or times[ours], times[baseline][1:] or times[baseline]
            rate = options.mib / statistics.median(warm_ours)
            base_rate = options.mib / statistics.median(warm_base)
            share = rate / base_rate
            met = share >= AIM_SHARE
            all_met &= met
            print("  %s median %.0f MiB/s (%.2f s, min %.2f, max %.2f; cold %.2f s); %s median %.0f MiB/s "
                  "(%.2f s, min %.2f, max %.2f; cold %.2f s); share %.0f %%; aim >= %.0f %%: %s" % (
                      ours, rate, statistics.median(warm_ours), min(warm_ours), max(warm_ours), times[ours][0],
                      baseline, base_rate, statistics.median(warm_base), min(warm_base), max(warm_base),
                      times[baseline][0], share * 100, AIM_SHARE * 100, "met" if met else "not met"))
        return 0 if all_met else 1
    finally:
        if peer is not None:
            peer.close()
        lab.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
