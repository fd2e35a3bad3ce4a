#!/usr/bin/env python3
"""A simulated PC with the device library installed, for people and tests: a registry file that
names the staged libraries, the device support service stand-in running, and a device root that
device images are attached to. Standard library only.

    hlx_lab.py --support DIR --lab DIR [--attach-demo [--contacts N]] [--update-feed URL]

The environment it prints (HLX_REGISTRY_FILE, HLX_DEVICE_ROOT, HLX_PROGRAM_FILES) is what Harlix,
tools/hlx_peer.py send and tools/hlx_device.py need; "# attached UDID" names the demo iPhone. The lab
runs until Ctrl-C. Running it again with the same --lab folder reuses the folder: devices attached
there stay, and the demo iPhone is attached afresh.

With --update-feed the PC also serves the desktop's product update on loopback, at the address URL
(an http://127.0.0.1:PORT/... address, as "url:update" of the desktop's Option.json names it): a feed
with one newer version, UPDATE_VERSION, and its installer, a Windows batch file that stands in for one:
it installs nothing and appends how it was run to installer-ran.txt in the lab folder. "# update feed
URL" says that it serves ("# update feed not served ..." why it does not).
"""

import argparse
import functools
import http.server
import json
import os
import subprocess
import signal
import sys
import threading
import time
import urllib.parse

import hlx_device
import make_device_image

REGISTRY_KEY = r"SOFTWARE\Apple Inc.\Apple Mobile Device Support\Shared"
# The demo iPhone carries every kind of data the desktop has a section for: besides what every image holds
# (contacts, messages, notes, calendars with events, bookmarks, apps) a media library (songs, videos,
# books, ringtones, voice memos) and a photo library with albums.
DEMO_IPHONE = {"media": {"family": "ios5"}, "photo_data": {"era": "ios9"}, "sms": {"era": "ios11"}}
# The version the simulated PC's update feed offers: newer than the desktop's own.
UPDATE_VERSION = "2.7.0"
# The environment that Harlix and the tools need to use the lab (see variables()).
LAB_VARIABLES = ("HLX_REGISTRY_FILE", "HLX_DEVICE_ROOT", "HLX_PROGRAM_FILES")


class DeviceLab:
    def __init__(self, folder, support, start_service=True):
        if not support or not os.path.isdir(support):
            raise RuntimeError("the staged device library folder is missing: %r" % support)
        support = os.path.abspath(support)
        self.support = support
        # <build>/programfiles/Common Files/Apple/Mobile Device Support -> <build>/programfiles
        self.program_files = os.path.dirname(os.path.dirname(os.path.dirname(support)))
        self.root = os.path.join(folder, "devices")
        self.images = os.path.join(folder, "images")
        os.makedirs(self.root, exist_ok=True)
        os.makedirs(self.images, exist_ok=True)
        self.registry = os.path.join(folder, "registry.ini")
        with open(self.registry, "w", encoding="utf-8") as f:
            f.write("[%s]\n" % REGISTRY_KEY)
            f.write("iTunesMobileDeviceDLL=%s\n" % os.path.join(support, "libMobileDevice.so"))
            f.write("AirTrafficHostDLL=%s\n" % os.path.join(support, "libAirTrafficHost.so"))
        self.service = None
        if start_service:
            self.service = subprocess.Popen([os.path.join(support, "AppleMobileDeviceService.exe")])
        self.count = 0

    def variables(self):
        return dict(zip(LAB_VARIABLES, (self.registry, self.root, self.program_files)))

    def make(self, **options):
        self.count += 1
        options.setdefault("seed", self.count)
        return make_device_image.make_image(os.path.join(self.images, "image%d" % self.count), force=True, **options)

    def make_demo(self, **options):
        return self.make(**dict(DEMO_IPHONE, **options))

    def attach(self, image):
        return hlx_device.attach(image["path"], root=self.root)

    def detach(self, udid):
        hlx_device.detach(udid, root=self.root)

    def trust(self, udid):
        hlx_device.update_state(udid, root=self.root, paired=True, trusted=True)

    def counters(self, udid):
        return hlx_device.read_counters(udid, root=self.root)

    def close(self):
        if self.service is not None:
            self.service.kill()
            self.service.wait()
            self.service = None


def serve_folder(folder, port=0):
    """Serves the files of `folder` over HTTP on 127.0.0.1:`port` (0: a free port) on a thread of its own;
    returns the server (server_address names the port; shutdown() and server_close() end it)."""
    handler = type("Quiet", (http.server.SimpleHTTPRequestHandler,), {"log_message": lambda *a: None})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(handler, directory=str(folder)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def serve_update_feed(folder, address, record):
    """Serves the feed at `address` (http://127.0.0.1:PORT/.../feed.json) and the installer stand-in beside
    it from `folder` on a thread of its own; the stand-in appends its arguments to the file `record`.
    Returns the server."""
    parts = urllib.parse.urlsplit(address)
    if parts.scheme != "http" or parts.hostname != "127.0.0.1" or not parts.port:
        raise RuntimeError("the update address must be http://127.0.0.1:PORT/...: %r" % address)
    feed_path = parts.path.lstrip("/")
    base = os.path.join(folder, os.path.dirname(feed_path))
    os.makedirs(base, exist_ok=True)
    setup = "Setup-%s.bat" % UPDATE_VERSION
    # Wine shows the Linux file system as drive Z:.
    windows_record = "Z:" + os.path.abspath(record).replace("/", "\\")
    with open(os.path.join(base, setup), "w", encoding="utf-8", newline="\r\n") as f:
        f.write('@echo off\necho the installer of %s ran: %%*>> "%s"\n' % (UPDATE_VERSION, windows_record))
    feed = {"installer": address.rsplit("/", 1)[0] + "/" + setup, "versions": [
        {"version": UPDATE_VERSION, "notes": ["Served by the simulated PC: its installer only notes that it ran."]}]}
    with open(os.path.join(folder, feed_path), "w", encoding="utf-8") as f:
        json.dump(feed, f)
    return serve_folder(folder, parts.port)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--lab", required=True, help="a folder for the registry file, images and device root")
    parser.add_argument("--attach-demo", action="store_true",
                        help="attach one iPhone image that carries every kind of data")
    parser.add_argument("--contacts", type=int,
                        help="contacts in the demo iPhone's address book (default 8; the main job's desktop part has 250)")
    parser.add_argument("--update-feed", metavar="URL",
                        help="serve the desktop's product update at this http://127.0.0.1:PORT/... address")
    options = parser.parse_args(argv)
    lab = DeviceLab(options.lab, options.support)

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    # A script that started the lab in the background stops it with SIGTERM; the lab still cleans up.
    signal.signal(signal.SIGTERM, interrupt)
    try:
        for name, value in lab.variables().items():
            print("export %s='%s'" % (name, value), flush=True)
        if options.attach_demo:
            book = {} if options.contacts is None else {"contacts": options.contacts}
            image = lab.make_demo(**book)
            if os.path.isdir(os.path.join(lab.root, image["udid"])):
                # An earlier run with this lab folder left the demo iPhone attached: replace it with a fresh one.
                lab.detach(image["udid"])
            print("# attached %s" % lab.attach(image), flush=True)
        if options.update_feed:
            try:
                serve_update_feed(os.path.join(options.lab, "www"), options.update_feed,
                                  os.path.join(options.lab, "installer-ran.txt"))
                print("# update feed %s" % options.update_feed, flush=True)
            except OSError as error:  # the port is taken: the PC goes on without the feed
                print("# update feed not served at %s: %s" % (options.update_feed, error), flush=True)
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        lab.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
