#!/usr/bin/env python3
"""Segmented file transfers through Harlix against a two-process loopback TCP copy of the same bytes.

A file of --mib MiB (256 by default; --mib 1024 for 1 GiB) lies in the simulated iPhone's file
system, and a copy of it in a PC folder. Download: request 702 (stage 1, every segment with four
requests in flight, stage 3) from a loopback peer that writes the segments into a PC file. Upload:
request 703 of the PC copy (stage 1, every segment with four in flight, until the service answers
stage 3 with the device path).
Baseline: the same bytes copied over loopback TCP by a pair of processes of their own, started
before the clock runs: one reads the source file in pieces of a segment and sends them, the other
receives each piece into a buffer and writes it to the target file (device folder to PC folder for the
download, PC copy to device folder for the upload). A round runs the four transfers (our download,
the TCP download, our upload, the TCP upload), in reverse order every other round, so that each
direction, ours and the baseline alike, takes the early and the late places of a round equally (on
this machine a transfer late in a round, after others and the digests, was at times several times
slower than the first, whichever direction it was); the copies are checked after the round. The
first round is reported apart as the cold one (its source files dropped from the page cache before
each transfer), the warm rounds (at least seven) give medians with min and max. Every transfer is
checked by its SHA-256 digest. Aim: our throughput at least 60 % of the TCP copy's, for the download
and for the upload.

Before every transfer, ours and the baseline's alike, the data written so far is flushed (`sync`,
untimed). Without it every transfer writes into the page cache on top of what the ones before it
in the round left dirty, up to three file sizes, and at 1 GiB the late ones pass the point (half-way
between vm.dirty_background_ratio and vm.dirty_ratio of the reclaimable memory, about 3 GiB on a
machine of 24 GiB) where the kernel holds every writer back to the disk's write-back speed. The
largest amount found dirty before a transfer is printed. The uploads, which ran after both
downloads in every round without a sync, paid for both effects: the TCP pair's upload ran at a third
of its download; the two directions of the pair are printed beside each other.

    bench_files.py --harlix PATH --support DIR [--mib N] [--rounds N]
"""
import argparse
import hashlib
import json
import os
import select
import shutil
import socket
import struct
import statistics
import subprocess
import sys
import time
import zlib

from bench_common import Bench, evict, in_turn, met_text, warm, warm_median
import hlx_peer

DOWNLOAD, UPLOAD = 702, 703
WINDOW = 4
TIMEOUT_S = 600
AIM_SHARE = 0.60
MIB = 1 << 20
SEGMENT = 2 * MIB  # the service's download segment; the upload and the TCP copy use the same


def send_parts(sock, parts):
    """Sends the parts in order with as few writes as the socket takes, copying none of them."""
    views = [memoryview(part).cast("B") for part in parts if len(part)]
    while views:
        sent = sock.sendmsg(views)
        while views and sent >= len(views[0]):
            sent -= len(views[0])
            views.pop(0)
        if views and sent:
            views[0] = views[0][sent:]


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
        head = hlx_peer.HEADER.pack(hlx_peer.MAGIC, hlx_peer.FILLER, packet_id, command, 0,
                                    len(head) + len(data)) + head
        # One write per packet, as the desktop's channel does (one writev): a small data part sent
        # in a write of its own waits for the acknowledgement of the head (Nagle), which the service
        # delays, and a segment request would cost tens of milliseconds.
        send_parts(self.socket, [head, data] if data else [head])

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


def upload(link, packet_id, udid, pc_path, name, segment_bytes=SEGMENT):
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


def read_line(stream, deadline, what):
    """The next line a baseline process writes, within the deadline."""
    ready, _, _ = select.select([stream], [], [], max(0.0, deadline - time.monotonic()))
    line = stream.readline() if ready else b""
    if not line:
        raise RuntimeError("the TCP copy's %s did not answer in time" % what)
    return line.decode().strip()


def tcp_receive(target):
    """Baseline receiver: listens on a loopback port (printed), takes the size and then the bytes into a
    buffer of one segment, writes each piece to `target`, acknowledges and prints "done"."""
    with socket.create_server(("127.0.0.1", 0)) as listener:
        listener.settimeout(TIMEOUT_S)
        print(listener.getsockname()[1], flush=True)
        connection, _ = listener.accept()
    with connection, open(target, "wb") as out:
        connection.settimeout(TIMEOUT_S)
        buffer = bytearray(SEGMENT)
        size_bytes = bytearray(8)
        fill(connection, memoryview(size_bytes))
        size = struct.unpack("<Q", size_bytes)[0]
        out.truncate(size)
        received = 0
        while received < size:
            view = memoryview(buffer)[:min(SEGMENT, size - received)]
            fill(connection, view)
            out.write(view)
            received += len(view)
        out.flush()
        connection.sendall(b"k")
    print("done", flush=True)


def tcp_send(port, source):
    """Baseline sender: connects, prints "ready", waits for "go" on its input, then sends the size and the
    file read in pieces of one segment, and waits for the receiver's acknowledgement."""
    with socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT_S) as connection:
        print("ready", flush=True)
        if read_line(sys.stdin.buffer, time.monotonic() + TIMEOUT_S, "controller") != "go":
            raise RuntimeError("no go")
        size = os.path.getsize(source)
        connection.sendall(struct.pack("<Q", size))
        buffer = bytearray(SEGMENT)
        with open(source, "rb", buffering=0) as f:
            while True:
                count = f.readinto(buffer)
                if not count:
                    break
                connection.sendall(memoryview(buffer)[:count])
        if connection.recv(1) != b"k":
            raise RuntimeError("the receiver did not acknowledge")


def fill(connection, view):
    while len(view):
        count = connection.recv_into(view)
        if count == 0:
            raise RuntimeError("the sender closed the line early")
        view = view[count:]


def tcp_copy(source, target):
    """Copies source to target through the baseline process pair; the seconds from "go" to "done"
    (the processes start and connect before the clock runs, as Harlix is running before ours does)."""
    me = os.path.abspath(__file__)
    receiver = subprocess.Popen([sys.executable, me, "tcp-receive", target], stdout=subprocess.PIPE, bufsize=0)
    sender = None
    try:
        deadline = time.monotonic() + 30
        port = read_line(receiver.stdout, deadline, "receiver")
        sender = subprocess.Popen([sys.executable, me, "tcp-send", port, source], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, bufsize=0)
        if read_line(sender.stdout, deadline, "sender") != "ready":
            raise RuntimeError("the TCP copy's sender did not connect")
        started = time.perf_counter()
        sender.stdin.write(b"go\n")
        sender.stdin.flush()
        if read_line(receiver.stdout, time.monotonic() + TIMEOUT_S, "receiver") != "done":
            raise RuntimeError("the TCP copy did not finish")
        elapsed = time.perf_counter() - started
        for process in (sender, receiver):
            if process.wait(timeout=30) != 0:
                raise RuntimeError("a TCP copy process failed")
        return elapsed
    finally:
        for process in (sender, receiver):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait(timeout=30)


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


def dirty_kib():
    """The page cache's dirty data, waiting to be written back, in KiB."""
    with open("/proc/meminfo") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("Dirty:"))


def run_round(steps, round_index, times, dirty):
    """Runs ours and the baseline, the order swapping every round, each after a `sync` (the dirty KiB
    found after it go to `dirty`); in the cold (first) round each reads its source from the disk."""
    for key, source, step in in_turn(steps, round_index):
        if round_index == 0:
            evict(source)
        os.sync()
        dirty.append(dirty_kib())
        times[key].append(step())


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--mib", type=int, default=256, help="file size in MiB (1024 for 1 GiB)")
    parser.add_argument("--rounds", type=int, default=8, help="rounds in all, the first one cold (at least 8)")
    options = parser.parse_args(argv)
    if options.rounds < 8:
        parser.error("at least 8 rounds: the cold one and seven warm ones")

    with Bench(options.support, prefix="hlx-bench-files-") as bench:
        lab, folder = bench.lab, bench.folder
        udid = lab.attach(lab.make())
        downloads = os.path.join(lab.root, udid, "fs", "Downloads")
        device_file = os.path.join(downloads, "bench.bin")
        with open(device_file, "wb") as f:
            for _ in range(options.mib):
                f.write(os.urandom(MIB))
        expected = digest(device_file)
        pc = os.path.join(folder, "pc")
        os.makedirs(pc)
        pc_file = os.path.join(pc, "source.bin")  # what the uploads send: the same bytes, on the PC
        shutil.copyfile(device_file, pc_file)
        if digest(pc_file) != expected:
            raise RuntimeError("the PC copy differs from the device file")

        link = BulkLink(bench.start_harlix(options.harlix))
        print("file transfers: %d MiB, %d rounds (first cold), %d segments in flight" % (
            options.mib, options.rounds, WINDOW))
        times = {key: [] for key in ("702", "tcp down", "703", "tcp up")}
        dirty = []
        packet_id = 1000
        for round_index in range(options.rounds):
            ours_down, tcp_down = os.path.join(pc, "ours.bin"), os.path.join(pc, "tcp.bin")
            name = "up%d.bin" % round_index
            ours_up, tcp_up = os.path.join(downloads, name), os.path.join(downloads, "tcp" + name)
            packet_id += 2
            steps = [("702", device_file,
                      lambda: timed(lambda: download(link, packet_id, udid, "/Downloads/bench.bin", ours_down))),
                     ("tcp down", device_file, lambda: tcp_copy(device_file, tcp_down)),
                     ("703", pc_file, lambda: timed(lambda: upload(link, packet_id + 1, udid, pc_file, name))),
                     ("tcp up", pc_file, lambda: tcp_copy(pc_file, tcp_up))]
            run_round(steps, round_index, times, dirty)
            if digest(ours_down) != expected or digest(tcp_down) != expected:
                raise RuntimeError("a download differs from the device file")
            if digest(ours_up) != expected or digest(tcp_up) != expected:
                raise RuntimeError("an upload differs from the PC file")
            for path in (ours_down, tcp_down, ours_up, tcp_up):
                os.remove(path)

        def figures(seconds):
            rest = warm(seconds)
            return "median %.2f s = %.0f MiB/s (min %.2f, max %.2f s, %d warm); cold %.2f s" % (
                statistics.median(rest), options.mib / statistics.median(rest), min(rest), max(rest), len(rest),
                seconds[0])

        print("  dirty page cache after the sync before each transfer: at most %.0f MiB" % (max(dirty) / 1024))
        print("  the TCP pair's upload at %.0f %% of its download's speed (warm medians; the same pair, the other "
              "direction)" % (warm_median(times["tcp down"]) / warm_median(times["tcp up"]) * 100))
        all_met = True
        for ours, baseline in (("702", "tcp down"), ("703", "tcp up")):
            share = warm_median(times[baseline]) / warm_median(times[ours])
            met = share >= AIM_SHARE
            all_met &= met
            print("  %-8s %s" % (ours, figures(times[ours])))
            print("  %-8s %s" % (baseline, figures(times[baseline])))
            print("  %s at %.0f %% of the TCP copy (warm medians; cold %.0f %%); aim >= %.0f %%: %s" % (
                ours, share * 100, times[baseline][0] / times[ours][0] * 100, AIM_SHARE * 100,
                met_text(met)))
        return 0 if all_met else 1


if __name__ == "__main__":
    if sys.argv[1:2] == ["tcp-receive"]:
        tcp_receive(sys.argv[2])
    elif sys.argv[1:2] == ["tcp-send"]:
        tcp_send(int(sys.argv[2]), sys.argv[3])
    else:
        sys.exit(main(sys.argv[1:]))
