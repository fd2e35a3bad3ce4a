#!/usr/bin/env python3
"""A loopback peer for Harlix: it listens like the desktop side does, starts Harlix with its positional
command line, and prints every packet it receives as one JSON line (reply data decompressed).

Used by people (see the README) and imported by the integration tests. Standard library only.

    hlx_peer.py serve [--harlix PATH] [--seconds N] [--console] [--self-test] [--devices SUPPORT_DIR]
                      [--no-info]
    hlx_peer.py send --code N [--sub 1] [--json TEXT] [--data TEXT | --data-file F] [--wait S]

`serve` asks every device that becomes ready for its information (request 300) and prints, after
the replies, one "device-info" line with what the desktop shows of it: model, iOS version, battery
and storage use; Ctrl-C ends it as it ends any program (after it has tidied up), so that a script running
it stops too. `send` starts Harlix, sends one request (the data part compressed with zlib) and prints every
packet until the request's final reply, or until --wait seconds pass; it exits 0 when that reply's code is 0,
3 with the code in words when it is another, 1 without a final reply. A request that names a device needs the
simulated PC's environment (HLX_REGISTRY_FILE, HLX_DEVICE_ROOT, HLX_PROGRAM_FILES), as printed by
tools/hlx_lab.py or by `serve --devices` (without it `send` exits 2 at once); it waits (and says so) until that
device is ready, unless the device root holds no such device. REQUESTS.md lists every request code.

Standard output carries one JSON line per packet or event; standard error says each in words
("device ready: ...", "request 300 answered: code 0").
"""

import argparse
import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time
import zlib

import hlx_lab

MAGIC = b"kCommand"
FILLER = bytes([1, 2, 3, 4, 5, 6])
HEADER = struct.Struct("<8s6sQIHQ")  # magic, filler, id, command, status, body length
HEADER_SIZE = HEADER.size
HEARTBEAT = b"\x16" * 8
assert HEADER_SIZE == 36


def encode_packet(packet_id, command, status, body=b""):
    return HEADER.pack(MAGIC, FILLER, packet_id, command, status, len(body)) + body


class PacketReader:
    """Turns the byte stream from Harlix into packets and heartbeats, whatever the read boundaries."""

    def __init__(self):
        self.buffer = bytearray()

    def feed(self, data):
        self.buffer += data
        items = []
        while True:
            if self.buffer.startswith(HEARTBEAT):
                del self.buffer[:8]
                items.append({"event": "heartbeat"})
                continue
            if len(self.buffer) < HEADER_SIZE:
                break
            magic, _, packet_id, command, status, length = HEADER.unpack_from(self.buffer)
            if magic != MAGIC:
                raise ValueError("stream out of step: %r" % bytes(self.buffer[:16]))
            if len(self.buffer) < HEADER_SIZE + length:
                break
            body = bytes(self.buffer[HEADER_SIZE:HEADER_SIZE + length])
            del self.buffer[:HEADER_SIZE + length]
            items.append({"id": packet_id, "command": command, "status": status, "body": body})
        return items


def encode_request(sub_command, json_text, data=None):
    """A request body: the sub-command in decimal, NUL, the JSON text, NUL, optional zlib data."""
    if isinstance(json_text, (dict, list)):
        json_text = json.dumps(json_text, separators=(",", ":"))
    if isinstance(json_text, str):
        json_text = json_text.encode("utf-8")
    body = str(sub_command).encode("ascii") + b"\0" + json_text + b"\0"
    if data:
        body += zlib.compress(data if isinstance(data, bytes) else data.encode("utf-8"))
    return body


def describe_body(body):
    """The reply frame as JSON: flag, NUL, JSON record, NUL, optional data (zlib when type is 0)."""
    parts = body.split(b"\0", 2)
    if len(parts) < 2:
        return {"raw": body.decode("utf-8", "replace")}
    described = {"flag": parts[0].decode("ascii", "replace")}
    try:
        described["record"] = json.loads(parts[1].decode("utf-8"))
    except ValueError:
        described["record_text"] = parts[1].decode("utf-8", "replace")
    data = parts[2] if len(parts) > 2 else b""
    if data:
        record = described.get("record")
        if isinstance(record, dict) and record.get("type") == 0:
            try:
                data = zlib.decompress(data)
                described["data"] = data.decode("utf-8", "replace")
            except zlib.error:
                described["data_error"] = "not zlib"
        else:
            described["data_size"] = len(data)
    return described


EVENT_DEVICE_REMOVED = 8
EVENT_DEVICE_ATTACHED = 11
EVENT_ERROR_REPORT = 12
STATUS_IN_PROGRESS = 2
FINAL_STATUS_WORDS = {1: "answered", 5: "cancelled", 6: "failed"}
ITEM_STATUS_WORDS = {7: "item done", 6: "item failed"}


def is_final_reply(status, code):
    """Whether a reply ends its request. Requests that work through items (app install, uninstall,
    archive) end each item with status 7 (done) or 6 with code 0 (failed); a final reply has status 1
    (code 0), 5 (cancelled) or 6 with its non-zero code."""
    return status in (1, 5) or (status == 6 and code != 0)


# The service's reply codes, read from its own list (src/utility/hlx_reply_code.h) so that they are kept in
# one place: {code: words}, empty when the tool runs outside the source tree.
REPLY_CODES_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "utility",
                                  "hlx_reply_code.h")
_reply_code_words = None


def reply_code_words(code):
    """"48 (a service was refused: the device is locked with a passcode)", or the bare number."""
    global _reply_code_words
    if _reply_code_words is None:
        _reply_code_words = {}
        try:
            with open(REPLY_CODES_HEADER, encoding="utf-8") as f:
                for match in re.finditer(r"^\s*kReply\w+ = (\d+),\s*//\s*(.+)$", f.read(), re.MULTILINE):
                    _reply_code_words[int(match.group(1))] = match.group(2).strip()
        except OSError:
            pass
    try:
        words = _reply_code_words.get(int(code))
    except (TypeError, ValueError):
        words = None
    return "%s (%s)" % (code, words) if words else str(code)


def _gigabytes(count):
    return "%.1f GB" % (count / 1e9)


def describe_in_words(item):
    """One line in words for a packet, a heartbeat or one of this tool's own events."""
    event = item.get("event")
    if event == "heartbeat":
        return "heartbeat from Harlix"
    if event == "listening":
        return "listening on 127.0.0.1:%d; starting Harlix" % item["port"]
    if event == "connected":
        return "Harlix (process %d) connected" % item["harlix_pid"]
    if event == "stopped":
        return "stopped"
    if event == "lab":
        return "\n".join(["simulated PC set up with one iPhone attached, UDID %s; it lasts as long as this run."
                          % item["attached"], "To use it from another shell, run:"]
                         + ["  export %s='%s'" % pair for pair in item["environment"].items()])
    if event == "device-info":
        words = ", ".join(str(item[key]) for key in ("name", "model") if key in item)
        if "ios" in item:
            words += ", iOS %s" % item["ios"]
        if "battery_percent" in item:
            words += ", battery %s%%%s" % (item["battery_percent"], " charging" if item.get("charging") else "")
        storage = item.get("storage_bytes")
        if storage:
            words += ", %s free of %s" % (_gigabytes(storage["free"]), _gigabytes(storage["total"]))
        return "device information: " + words
    if event is not None:
        return None
    described = describe_body(item["body"])
    record = described.get("record") if isinstance(described.get("record"), dict) else {}
    udid = record.get("uuid") or "?"
    code = record.get("code")
    if item["id"] == 0:
        if item["command"] == EVENT_DEVICE_READY:
            info = record.get("info") or {}
            return "device ready: %s, %s, iOS %s (UDID %s)" % (info.get("Type", "?"), info.get("Model", "?"),
                                                              info.get("FirmVersion", "?"), udid)
        if item["command"] == EVENT_DEVICE_REMOVED:
            return "device removed: %s" % udid
        if item["command"] == EVENT_DEVICE_ATTACHED:
            return "device attached (handle %s), preparing it" % code
        if item["command"] == EVENT_ERROR_REPORT:
            # The record's code is the device handle; the error code travels in "info" as a JSON string.
            try:
                error = json.loads(record.get("info") or "null")
            except ValueError:
                error = record.get("info")
            return "device %s reports error %s" % (udid, reply_code_words(error))
        return "status report %d: code %s" % (item["command"], code)
    if item["status"] == STATUS_IN_PROGRESS:
        part = " with %d bytes of data" % len(described["data"].encode("utf-8")) if "data" in described else ""
        return "request %d (id %d) in progress: stage %s%s" % (item["command"], item["id"], record.get("stage"), part)
    if not is_final_reply(item["status"], code):
        return "request %d (id %d) %s: stage %s" % (item["command"], item["id"],
                                                   ITEM_STATUS_WORDS.get(item["status"], "reply"), record.get("stage"))
    return "request %d (id %d) %s: code %s" % (item["command"], item["id"],
                                              FINAL_STATUS_WORDS.get(item["status"], "ended"), reply_code_words(code))


def show(item):
    """Prints a packet or event: its JSON line on standard output, its words on standard error."""
    # Words first: whoever reads the JSON line and then stops the tool has its words already.
    words = describe_in_words(item)
    if words:
        print(words, file=sys.stderr, flush=True)
    print(packet_to_json(item), flush=True)


def packet_to_json(item):
    if "event" in item:
        return json.dumps(item, ensure_ascii=False)
    out = {"id": item["id"], "command": item["command"], "status": item["status"]}
    out.update(describe_body(item["body"]))
    return json.dumps(out, ensure_ascii=False)


class Peer:
    """The desktop side of one Harlix: a listening socket, the Harlix process and its connection."""

    def __init__(self, harlix, watched_pid=None, console=False, self_test=False, logging=True,
                 mode=0, task_id=None, log_subfolder="HarlixPeer", env=None, listen=True):
        self.harlix = harlix
        self.listener = None
        self.port = 0
        if listen:
            self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.listener.bind(("127.0.0.1", 0))
            self.listener.listen(4)
            self.port = self.listener.getsockname()[1]
        self.watched_pid = os.getpid() if watched_pid is None else watched_pid
        self.args = [str(self.port), str(self.watched_pid), "1" if console else "0",
                     "1" if self_test else "0", "1" if logging else "0", "1.0.0", log_subfolder,
                     "Trevane", str(mode), "0"]
        if task_id is not None:
            self.args.append(str(task_id))
        self.env = env
        self.process = None
        self.connection = None
        self.reader = PacketReader()
        self.pending = []

    def start(self, stderr=subprocess.DEVNULL):
        self.process = subprocess.Popen([self.harlix] + self.args, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=stderr)
        return self.process

    def accept(self, timeout=15.0):
        self.listener.settimeout(timeout)
        self.connection, _ = self.listener.accept()
        self.connection.settimeout(None)
        return self.connection

    def send(self, packet_id, command, status=0, body=b""):
        self.connection.sendall(encode_packet(packet_id, command, status, body))

    def receive(self, timeout=10.0, want_heartbeats=False):
        """The next packet (or heartbeat when asked for); None at end of stream or time-out."""
        deadline = time.monotonic() + timeout
        while True:
            while self.pending:
                item = self.pending.pop(0)
                if "event" not in item or want_heartbeats:
                    return item
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            self.connection.settimeout(remaining)
            try:
                data = self.connection.recv(65536)
            except socket.timeout:
                return None
            if not data:
                return None
            self.pending.extend(self.reader.feed(data))

    def close(self):
        for s in (self.connection, self.listener):
            if s is not None:
                s.close()
        if self.process is not None:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            for stream in (self.process.stdout, self.process.stderr):
                if stream is not None:
                    stream.close()


EVENT_DEVICE_READY = 1
REQUEST_DEVICE_INFO = 300


def reply_document(item):
    """The JSON document in a reply's data part, or None."""
    described = describe_body(item["body"])
    try:
        return json.loads(described["data"]) if "data" in described else None
    except ValueError:
        return None


def device_summary(udid, properties, usage):
    """What the desktop shows of a device, from the two documents of request 300."""
    summary = {"event": "device-info", "uuid": udid}
    for name, key in (("name", "DeviceName"), ("model", "ProductType"), ("ios", "ProductVersion"),
                      ("battery_percent", "BatteryCurrentCapacity"), ("charging", "BatteryIsCharging"),
                      ("jailbroken", "IsJailbreak")):
        if key in properties:
            summary[name] = properties[key]
    if "CycleCount" in usage:
        summary["battery_cycles"] = usage["CycleCount"]
    if "Data_PhysicalSize" in usage:
        storage = {"total": usage["Data_PhysicalSize"], "free": usage["Data_FreeSize"]}
        for name in ("Application", "Photo", "CameraRoll", "Movie", "Book", "Music", "Ringtone"):
            storage[name] = usage[name + "_PhysicalSize"]
        for key, value in usage.items():
            if key.endswith("_PhysicalSize") and key[:-len("_PhysicalSize")] + "_Count" in usage \
                    and key[:-len("_PhysicalSize")] not in storage:
                storage[key[:-len("_PhysicalSize")]] = value
        storage["others"] = usage["Data_Others_PhysicalSize"]
        summary["storage_bytes"] = storage
    return summary


class DeviceInfoAsker:
    """Sends request 300 for every device that becomes ready and sums up the answers."""

    def __init__(self, peer, first_id=1000):
        self.peer = peer
        self.next_id = first_id
        self.asked = {}  # request id -> [udid, documents received]

    def on_packet(self, item):
        """Returns a summary dict when a request 300 of ours has ended, else None."""
        if item.get("id") == 0 and item.get("command") == EVENT_DEVICE_READY:
            record = describe_body(item["body"]).get("record") or {}
            udid = record.get("uuid")
            if udid:
                self.peer.send(self.next_id, REQUEST_DEVICE_INFO, 0, encode_request(1, {"uuid": udid}))
                self.asked[self.next_id] = [udid, []]
                self.next_id += 1
            return None
        asked = self.asked.get(item.get("id"))
        if asked is None or item.get("command") != REQUEST_DEVICE_INFO:
            return None
        if item["status"] == 2:
            asked[1].append(reply_document(item) or {})
            return None
        del self.asked[item["id"]]
        documents = asked[1] + [{}, {}]
        return device_summary(asked[0], documents[0], documents[1])


def default_harlix():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("HARLIX_BIN", os.path.join(here, "..", "build", "src", "Harlix"))


def serve(options):
    env = dict(os.environ)
    lab = None
    peer = None
    interrupted = False
    try:
        if options.devices:
            # A simulated PC with the device library, and one iPhone attached to it.
            import tempfile
            lab = hlx_lab.DeviceLab(tempfile.mkdtemp(prefix="hlx-lab-"), options.devices)
            env.update(lab.variables())
            udid = lab.attach(lab.make_demo())
            show({"event": "lab", "device_root": lab.root, "attached": udid, "environment": lab.variables(),
                  "try": "HLX_DEVICE_ROOT=%s python3 tools/hlx_device.py detach %s" % (lab.root, udid)})
        peer = Peer(options.harlix, console=options.console, self_test=options.self_test, env=env)
        show({"event": "listening", "port": peer.port})
        peer.start(stderr=None if options.console else subprocess.DEVNULL)
        peer.accept()
        asker = None if options.no_info else DeviceInfoAsker(peer)
        show({"event": "connected", "harlix_pid": peer.process.pid})
        deadline = time.monotonic() + options.seconds if options.seconds > 0 else None
        while deadline is None or time.monotonic() < deadline:
            wait = 1.0 if deadline is None else max(0.0, min(1.0, deadline - time.monotonic()))
            item = peer.receive(timeout=wait, want_heartbeats=True)
            if item is None:
                if peer.process.poll() is not None:
                    break
                continue
            show(item)
            summary = asker.on_packet(item) if asker is not None and "event" not in item else None
            if summary is not None:
                show(summary)
    except KeyboardInterrupt:
        interrupted = True
    finally:
        # Also when Harlix cannot start: the lab's service stand-in must not outlive the tool.
        if peer is not None:
            peer.close()
        if lab is not None:
            lab.close()
            import shutil
            shutil.rmtree(os.path.dirname(lab.root), ignore_errors=True)
        show({"event": "stopped"})
    if interrupted:
        # Tidied up, the tool ends the way Ctrl-C ends a program, so that a script that started it (scripts/run.sh)
        # stops too instead of going on with its next step.
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGINT)


def _request_uuid(json_text):
    try:
        value = json.loads(json_text)
    except ValueError:
        return ""
    uuid = value.get("uuid") if isinstance(value, dict) else None
    return uuid if isinstance(uuid, str) else ""


def _device_attached(env, uuid):
    """Whether the simulated PC's device root holds an image of that UDID (hlx_device.py attach puts it there)."""
    return uuid not in (".", "..") and "/" not in uuid and os.path.isdir(os.path.join(env["HLX_DEVICE_ROOT"], uuid))


def send(options):
    """Returns 0 when the request's final reply has code 0, 3 when it has another code, 1 when no final reply
    came, 2 when the request could not be sent."""
    env = dict(os.environ)
    for assignment in options.env:
        key, _, value = assignment.partition("=")
        env[key] = value
    uuid = _request_uuid(options.json)
    missing = [name for name in hlx_lab.LAB_VARIABLES if not env.get(name)]
    if uuid and missing:
        # Without them Harlix finds no device library and no device would ever become ready.
        print("hlx_peer: a request about a device needs the simulated PC's environment; %s not set.\n"
              "Start tools/hlx_lab.py (or scripts/run.sh --seconds 0) and run the export lines it prints."
              % ", ".join(missing), file=sys.stderr)
        return 2
    peer = Peer(options.harlix, console=options.console, env=env)
    data = None
    if options.data_file:
        with open(options.data_file, "rb") as f:
            data = f.read()
    elif options.data is not None:
        data = options.data
    peer.start(stderr=None if options.console else subprocess.DEVNULL)
    try:
        peer.accept()
        if uuid and not _device_attached(env, uuid):
            print("hlx_peer: no device %s is attached to the simulated PC (HLX_DEVICE_ROOT=%s); sending without "
                  "waiting for it" % (uuid, env["HLX_DEVICE_ROOT"]), file=sys.stderr, flush=True)
        elif uuid:
            # A request about a device waits until Harlix has announced that device as ready, or has reported
            # why it cannot be (a locked or untrusted device): then the request's own answer says the same.
            print("hlx_peer: waiting up to %g s for Harlix to announce device %s ready (or say why it cannot be)"
                  % (options.wait, uuid), file=sys.stderr, flush=True)
            deadline = time.monotonic() + options.wait
            ready = reported = False
            while not (ready or reported) and time.monotonic() < deadline:
                item = peer.receive(timeout=max(0.0, min(1.0, deadline - time.monotonic())))
                if item is None:
                    if peer.process.poll() is not None:
                        break
                    if not _device_attached(env, uuid):
                        print("hlx_peer: device %s was detached from the simulated PC; sending anyway" % uuid,
                              file=sys.stderr, flush=True)
                        break
                    continue
                show(item)
                about = item["id"] == 0 and describe_body(item["body"]).get("record", {}).get("uuid") == uuid
                ready = about and item["command"] == EVENT_DEVICE_READY
                reported = about and item["command"] == EVENT_ERROR_REPORT
            if not (ready or reported):
                print("hlx_peer: device %s was not announced ready within %g s; sending anyway" % (uuid, options.wait),
                      file=sys.stderr, flush=True)
        peer.send(options.id, options.code, 0, encode_request(options.sub, options.json, data))
        deadline = time.monotonic() + options.wait
        while time.monotonic() < deadline:
            item = peer.receive(timeout=max(0.0, deadline - time.monotonic()))
            if item is None:
                break
            show(item)
            code = describe_body(item["body"]).get("record", {}).get("code")
            if item["id"] == options.id and item["command"] == options.code and is_final_reply(item["status"], code):
                if code in (0, None):
                    return 0
                print("hlx_peer: request %d ended with code %s" % (options.code, reply_code_words(code)),
                      file=sys.stderr, flush=True)
                return 3
        print("hlx_peer: no final reply within %g s" % options.wait, file=sys.stderr)
        return 1
    finally:
        peer.close()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    serve_parser = commands.add_parser("serve", help="start Harlix and print what it sends")
    serve_parser.add_argument("--harlix", default=default_harlix())
    serve_parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: until Ctrl-C)")
    serve_parser.add_argument("--console", action="store_true", help="let Harlix log to this console")
    serve_parser.add_argument("--self-test", action="store_true")
    serve_parser.add_argument("--devices", metavar="SUPPORT_DIR",
                              help="set up the simulated device library staged in SUPPORT_DIR and attach an iPhone")
    serve_parser.add_argument("--no-info", action="store_true",
                              help="do not ask ready devices for their information (request 300)")
    send_parser = commands.add_parser("send", help="send one request and print the replies")
    send_parser.add_argument("--harlix", default=default_harlix())
    send_parser.add_argument("--code", type=int, required=True, help="request code (packet command)")
    send_parser.add_argument("--sub", type=int, default=1, help="sub-command")
    send_parser.add_argument("--json", default='{"uuid":""}', help="the request's JSON text")
    send_parser.add_argument("--data", help="data part (text), sent zlib-compressed")
    send_parser.add_argument("--data-file", help="data part from a file, sent zlib-compressed")
    send_parser.add_argument("--id", type=int, default=1, help="packet id")
    send_parser.add_argument("--wait", type=float, default=30, help="seconds to wait for the final reply")
    send_parser.add_argument("--env", action="append", default=[], help="NAME=VALUE for Harlix's environment")
    send_parser.add_argument("--console", action="store_true", help="let Harlix log to this console")
    options = parser.parse_args(argv)
    if options.command == "serve":
        serve(options)
        return 0
    return send(options)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
