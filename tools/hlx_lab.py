#!/usr/bin/env python3
"""A simulated PC with the device library installed, for people and tests: a registry file that
names the staged libraries, the device support service stand-in running, and a device root that
device images are attached to. Standard library only.

    hlx_lab.py --support DIR --lab DIR [--attach-demo [--contacts N]]    set up, print the environment, wait

The environment it prints (HLX_REGISTRY_FILE, HLX_DEVICE_ROOT, HLX_PROGRAM_FILES) is what Harlix,
tools/hlx_peer.py send and tools/hlx_device.py need; "# attached UDID" names the demo iPhone. The lab
runs until Ctrl-C. Running it again with the same --lab folder reuses the folder: devices attached
there stay, and the demo iPhone is attached afresh.
"""

import argparse
import os
import subprocess
import signal
import sys
import time

import hlx_device
import make_device_image

REGISTRY_KEY = r"SOFTWARE\Apple Inc.\Apple Mobile Device Support\Shared"
# The demo iPhone carries every kind of data the desktop has a section for: besides what every image holds
# (contacts, messages, notes, calendars with events, bookmarks, apps) a media library (songs, videos,
# books, ringtones, voice memos) and a photo library with albums.
DEMO_IPHONE = {"media": {"family": "ios5"}, "photo_data": {"era": "ios9"}, "sms": {"era": "ios11"}}
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


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--lab", required=True, help="a folder for the registry file, images and device root")
    parser.add_argument("--attach-demo", action="store_true",
                        help="attach one iPhone image that carries every kind of data")
    parser.add_argument("--contacts", type=int,
                        help="contacts in the demo iPhone's address book (default 8; the main job's desktop part has 250)")
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
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        lab.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
