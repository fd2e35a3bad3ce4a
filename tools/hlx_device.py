#!/usr/bin/env python3
"""Controls simulated devices: attaches and detaches device images and changes their state while the
device library watches them.

    hlx_device.py [--root DIR] list
    hlx_device.py [--root DIR] attach IMAGE [--copy]
    hlx_device.py [--root DIR] detach UDID [--keep DEST]
    hlx_device.py [--root DIR] trust UDID | untrust UDID
    hlx_device.py [--root DIR] lock UDID | unlock UDID
    hlx_device.py [--root DIR] interface UDID usb|wifi
    hlx_device.py [--root DIR] space UDID --free BYTES
    hlx_device.py [--root DIR] fault UDID [--fail-call NAME=N[,N...]]... [--detach-on NAME=N]...
                                          [--drop-after afcRead|afcWrite|serviceStream=BYTES]...
                                          [--refuse-set-value | --allow-set-value] [--clear]
    hlx_device.py [--root DIR] frames UDID --sizes N[,N...] [--chunk BYTES] [--end close|wait]
                                           [--trigger request|connect] | --clear
    hlx_device.py [--root DIR] counters UDID

The device root is --root or $HLX_DEVICE_ROOT; each of its sub-folders named by a UDID is one
attached device. Attaching moves the image in with one rename (or copies it to a hidden folder of the
root first and renames that), detaching renames it out and moves it to "detached" beside the root (or to
--keep) and prints where, so the library never sees half an image and the image can be attached again. State edits take the image's lock (an flock on the image folder, the same lock the
library takes) and replace files by rename.

Importable: attach(), detach(), set_trusted(), set_locked(), update_state(), set_fault(),
set_test_frames(), read_counters(), list_devices().
Standard library only.
"""

import argparse
import contextlib
import fcntl
import json
import os
import plistlib
import shutil
import sys
import tempfile

FAULT_KINDS = ("afcRead", "afcWrite", "serviceStream")


def device_root(root=None):
    root = root or os.environ.get("HLX_DEVICE_ROOT")
    if not root:
        raise ValueError("no device root: pass --root or set HLX_DEVICE_ROOT")
    return root


def _check_udid(udid):
    if not udid or len(udid) > 128 or not all(c.isascii() and (c.isalnum() or c in "-_") for c in udid):
        raise ValueError("not a UDID: %r" % udid)
    return udid


def image_folder(udid, root=None):
    folder = os.path.join(device_root(root), _check_udid(udid))
    if not os.path.isfile(os.path.join(folder, "state.json")):
        raise FileNotFoundError("no attached device %s" % udid)
    return folder


@contextlib.contextmanager
def image_lock(folder):
    fd = os.open(folder, os.O_RDONLY)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        yield
    finally:
        os.close(fd)


def _write_atomic(path, data):
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(temp, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temp)
        raise


def _read_json(path, missing=None):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except FileNotFoundError:
        if missing is None:
            raise
        return missing


def _write_json(path, value):
    _write_atomic(path, (json.dumps(value, indent=2, sort_keys=True, ensure_ascii=False) + "\n").encode("utf-8"))


def update_state(udid, root=None, edit=None, **changes):
    """Applies `changes` (and then `edit(state)`, when given) to state.json under the image lock."""
    folder = image_folder(udid, root)
    with image_lock(folder):
        path = os.path.join(folder, "state.json")
        state = _read_json(path)
        state.update(changes)
        if edit:
            edit(state)
        _write_json(path, state)
        return state


def set_lockdown_value(udid, key, value, domain="", root=None):
    folder = image_folder(udid, root)
    with image_lock(folder):
        path = os.path.join(folder, "lockdown.plist")
        with open(path, "rb") as f:
            data = f.read()
        fmt = plistlib.FMT_BINARY if data.startswith(b"bplist00") else plistlib.FMT_XML
        values = plistlib.loads(data)
        values.setdefault(domain, {})[key] = value
        _write_atomic(path, plistlib.dumps(values, fmt=fmt, sort_keys=True))


def set_trusted(udid, trusted, root=None):
    """Answers the trust prompt (trusted) or forgets the pairing; trusting makes the library post message 4."""
    update_state(udid, root, paired=bool(trusted), trusted=bool(trusted))
    set_lockdown_value(udid, "TrustedHostAttached", bool(trusted), root=root)


def set_locked(udid, locked, root=None):
    """Passcode lock: a locked device refuses to start services."""
    update_state(udid, root, passcodeLocked=bool(locked))
    set_lockdown_value(udid, "PasswordProtected", bool(locked), root=root)


def attach(image, root=None, copy=False):
    """Attaches the image folder as a device; returns its UDID."""
    root = device_root(root)
    state = _read_json(os.path.join(image, "state.json"))
    udid = _check_udid(state.get("udid") or os.path.basename(os.path.normpath(image)))
    target = os.path.join(root, udid)
    if os.path.exists(target):
        raise FileExistsError("a device %s is already attached" % udid)
    os.makedirs(root, exist_ok=True)
    if not copy:
        try:
            os.rename(image, target)
            return udid
        except OSError:
            pass  # another file system: copy instead
    staging = tempfile.mkdtemp(dir=root, prefix=".incoming-")
    try:
        shutil.copytree(image, os.path.join(staging, udid), symlinks=True)
        os.rename(os.path.join(staging, udid), target)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    if not copy:
        shutil.rmtree(image)
    return udid


def detached_folder(root=None):
    """Where detached images go unless told otherwise: "detached" beside the device root."""
    return os.path.join(os.path.dirname(os.path.abspath(device_root(root))), "detached")


def detach(udid, root=None, keep=None):
    """Detaches a device: its folder leaves the root in one rename and goes to `keep`, or else to
    detached_folder()/UDID (UDID-2 ... when that exists already). Returns where the image is now; it can be
    attached again from there."""
    folder = image_folder(udid, root)
    if not keep:
        base = os.path.join(detached_folder(root), udid)
        keep, count = base, 1
        while os.path.exists(keep):
            count += 1
            keep = "%s-%d" % (base, count)
    keep = os.path.abspath(keep)
    os.makedirs(os.path.dirname(keep), exist_ok=True)
    parked = tempfile.mkdtemp(dir=device_root(root), prefix=".detached-")
    os.rename(folder, os.path.join(parked, udid))
    shutil.move(os.path.join(parked, udid), keep)
    shutil.rmtree(parked)
    return keep


def set_fault(udid, root=None, fail_calls=None, detach_on=None, drop_after=None, clear=False, refuse_set_value=None):
    def edit(state):
        faults = {} if clear else state.get("faults") or {}
        for name, calls in (fail_calls or {}).items():
            faults.setdefault("failCalls", {})[name] = list(calls)
        for name, call in (detach_on or {}).items():
            faults.setdefault("detachOnCall", {})[name] = int(call)
        for kind, count in (drop_after or {}).items():
            if kind not in FAULT_KINDS:
                raise ValueError("drop kinds are %s" % ", ".join(FAULT_KINDS))
            faults.setdefault("dropAfterBytes", {})[kind] = int(count)
        state["faults"] = faults
        if refuse_set_value is not None:
            state["refuseSetValue"] = bool(refuse_set_value)
    return update_state(udid, root, edit=edit)


def set_test_frames(udid, root=None, sizes=None, chunk=None, end="close", trigger="request", clear=False):
    """The script of the framing test service "com.hlx.test.frames" (see the library's README)."""
    def edit(state):
        if clear:
            state.pop("testFrames", None)
            return
        script = {"sizes": [int(n) for n in sizes or []], "end": end, "trigger": trigger}
        if chunk:
            script["chunkBytes"] = int(chunk)
        state["testFrames"] = script
    return update_state(udid, root, edit=edit)


def read_counters(udid, root=None):
    return _read_json(os.path.join(image_folder(udid, root), "counters.json"), missing={})


def list_devices(root=None):
    root = device_root(root)
    devices = []
    if not os.path.isdir(root):
        return devices
    for name in sorted(os.listdir(root)):
        path = os.path.join(root, name, "state.json")
        if name.startswith(".") or not os.path.isfile(path):
            continue
        try:
            state = _read_json(path)
        except ValueError:
            state = {"error": "state.json does not parse"}
        devices.append(dict(state, udid=name))
    return devices


def _pairs(items, value_kind):
    result = {}
    for item in items or []:
        name, sep, value = item.partition("=")
        if not sep or not name:
            raise ValueError("expected NAME=VALUE, got %r" % item)
        result[name] = value_kind(value)
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Control simulated devices: attach and detach device images and change their state.",
        epilog="UDIDs: `list` prints the attached devices; tools/hlx_lab.py prints the demo iPhone's.")
    parser.add_argument("--root", help="the device root (default: $HLX_DEVICE_ROOT)")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    commands.add_parser("list", help="print each attached device's state as one JSON line")
    p = commands.add_parser("attach", help="attach a device image (made by make_device_image.py); prints its UDID")
    p.add_argument("image")
    p.add_argument("--copy", action="store_true", help="keep the source image")
    p = commands.add_parser("detach", help="detach a device; prints the folder its image was moved to")
    p.add_argument("udid")
    p.add_argument("--keep", help="move the detached image here (default: \"detached\" beside the device root)")
    for name, words in (("trust", "the user trusts this computer: the device pairs and becomes ready"),
                        ("untrust", "forget the pairing: the device asks for trust again"),
                        ("lock", "lock the device with its passcode: services are refused (48)"),
                        ("unlock", "unlock the device"),
                        ("counters", "print what the library counted for the device (service starts, pairing prompts)")):
        commands.add_parser(name, help=words).add_argument("udid")
    p = commands.add_parser("interface", help="connect the device over USB or Wi-Fi")
    p.add_argument("udid")
    p.add_argument("kind", choices=["usb", "wifi"])
    p = commands.add_parser("space", help="set the device's free storage")
    p.add_argument("udid")
    p.add_argument("--free", type=int, required=True)
    p = commands.add_parser("fault", help="make library calls fail, detach the device on a call, or drop transfers")
    p.add_argument("udid")
    p.add_argument("--fail-call", action="append", help="NAME=N[,N...]: these calls of NAME fail")
    p.add_argument("--detach-on", action="append", help="NAME=N: call N of NAME detaches the device")
    p.add_argument("--drop-after", action="append", help="KIND=BYTES: the transfer drops after BYTES")
    p.add_argument("--refuse-set-value", dest="refuse", action="store_const", const=True)
    p.add_argument("--allow-set-value", dest="refuse", action="store_const", const=False)
    p.add_argument("--clear", action="store_true", help="remove earlier faults first")
    p = commands.add_parser("frames", help='script the framing test service "com.hlx.test.frames"')
    p.add_argument("udid")
    p.add_argument("--sizes", default="", help="comma-separated frame body sizes")
    p.add_argument("--chunk", type=int, help="the device writes at most this many bytes at a time")
    p.add_argument("--end", choices=["close", "wait"], default="close")
    p.add_argument("--trigger", choices=["request", "connect"], default="request")
    p.add_argument("--clear", action="store_true")
    args = parser.parse_args(argv)

    try:
        root = args.root
        if args.command == "list":
            for device in list_devices(root):
                print(json.dumps(device, sort_keys=True, ensure_ascii=False))
        elif args.command == "attach":
            print(attach(args.image, root, copy=args.copy))
        elif args.command == "detach":
            print(detach(args.udid, root, keep=args.keep))
        elif args.command in ("trust", "untrust"):
            set_trusted(args.udid, args.command == "trust", root)
        elif args.command in ("lock", "unlock"):
            set_locked(args.udid, args.command == "lock", root)
        elif args.command == "interface":
            update_state(args.udid, root, interfaceType=2 if args.kind == "wifi" else 1)
        elif args.command == "space":
            if args.free < 0:
                raise ValueError("free bytes cannot be negative")
            update_state(args.udid, root, freeBytes=args.free)
        elif args.command == "fault":
            set_fault(args.udid, root,
                      fail_calls=_pairs(args.fail_call, lambda v: [int(n) for n in v.split(",")]),
                      detach_on=_pairs(args.detach_on, int), drop_after=_pairs(args.drop_after, int),
                      clear=args.clear, refuse_set_value=args.refuse)
        elif args.command == "frames":
            sizes = [int(n) for n in args.sizes.split(",") if n.strip()]
            set_test_frames(args.udid, root, sizes=sizes, chunk=args.chunk, end=args.end, trigger=args.trigger,
                            clear=args.clear)
        elif args.command == "counters":
            print(json.dumps(read_counters(args.udid, root), indent=2, sort_keys=True))
    except (ValueError, OSError) as e:
        print("hlx_device: %s" % e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
