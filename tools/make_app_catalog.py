#!/usr/bin/env python3
"""The apps of a simulated device image: apps.plist and the icons in icons/, which the installation
and springboard services serve (layout in platform/mobiledevice/README.md), and .ipa packages to
install.

    make_app_catalog.py IMAGE [--seed N] [--apps N]     # replace the image's apps
    make_app_catalog.py --ipa OUT.ipa --bundle-id ID [--name NAME] [--no-metadata]

Seeded: the same seed and count make the same apps, icons and metadata. Importable (make_catalog,
write_catalog, read_catalog, make_ipa). Standard library only.
"""

import argparse
import io
import os
import plistlib
import random
import struct
import sys
import zipfile
import zlib

import make_test_png

DEFAULT_APPS = 3
ICON_SIZE = 60
WORDS = ["Maps", "Notes", "Tide", "Ledger", "Orbit", "Pixel", "Quill", "Radar", "Sprout", "Tempo", "Umbra",
         "Vault", "Wave", "Yarn", "Zest", "Atlas", "Bloom", "Cargo", "Delta", "Ember"]
ARTISTS = ["Northwind Apps", "Bluefin Software", "Kestrel Labs", "Otter & Co."]


def draw_icon(rng):
    """A square RGB PNG: a seeded background with a diagonal band of another colour."""
    back = bytes(rng.randrange(256) for _ in range(3))
    band = bytes(rng.randrange(256) for _ in range(3))
    rows = b"".join(b"\0" + b"".join(band if abs(x - y) < ICON_SIZE // 6 else back for x in range(ICON_SIZE))
                    for y in range(ICON_SIZE))
    header = struct.pack(">IIBBBBB", ICON_SIZE, ICON_SIZE, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + make_test_png.chunk(b"IHDR", header) +
            make_test_png.chunk(b"IDAT", zlib.compress(rows, 9)) + make_test_png.chunk(b"IEND", b""))


def _utc_text(rng, first_year, last_year):
    return "%04d-%02d-%02dT%02d:%02d:%02dZ" % (rng.randrange(first_year, last_year + 1), rng.randrange(1, 13),
                                               rng.randrange(1, 29), rng.randrange(24), rng.randrange(60),
                                               rng.randrange(60))


def metadata(rng, bundle_id, name, short_version, version):
    """An app's store metadata (a dict for plistlib)."""
    apple_id = "%s@example.com" % rng.choice(["zoe", "sam", "ari", "lee"])
    return {
        "softwareVersionBundleId": bundle_id,
        "bundleShortVersionString": short_version,
        "bundleVersion": version,
        "bundleDisplayName": name,
        "releaseDate": _utc_text(rng, 2012, 2019),
        "artistName": rng.choice(ARTISTS),
        "itemName": name,
        "itemId": rng.randrange(300000000, 1500000000),
        "softwareIcon57x57URL": "https://is1.example.com/image/%s/57x57.png" % bundle_id,
        "appleId": apple_id,
        "com.apple.iTunesStore.downloadInfo": {
            "purchaseDate": _utc_text(rng, 2015, 2019),
            "accountInfo": {"AppleID": apple_id, "DSPersonID": rng.randrange(10 ** 9, 10 ** 10)},
        },
    }


def make_app(rng, index):
    """One user app with its icon: (entry for apps.plist, icon file name, PNG bytes)."""
    name = "%s %d" % (rng.choice(WORDS), index + 1)
    bundle_id = "com.example.%s%d" % (name.split()[0].lower(), index + 1)
    short_version = "%d.%d" % (rng.randrange(1, 6), rng.randrange(10))
    version = str(rng.randrange(100, 9999))
    container = "%08X-%04X-4%03X-8%03X-%012X" % (rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(12),
                                                 rng.getrandbits(12), rng.getrandbits(48))
    icon = "%d.png" % index
    entry = {
        "ApplicationType": "User",
        "CFBundleIdentifier": bundle_id,
        "CFBundleDisplayName": name,
        "CFBundleName": name.replace(" ", ""),
        "CFBundleShortVersionString": short_version,
        "CFBundleVersion": version,
        "Path": "/private/var/containers/Bundle/Application/%s/%s.app" % (container, name.replace(" ", "")),
        "iTunesMetadata": plistlib.dumps(metadata(rng, bundle_id, name, short_version, version)),
        "ApplicationSINF": bytes(rng.randrange(256) for _ in range(64)),
        "StaticDiskUsage": rng.randrange(1 << 20, 400 << 20),
        "DynamicDiskUsage": rng.randrange(1 << 16, 100 << 20),
        "IconFile": icon,
    }
    return entry, icon, draw_icon(rng)


def make_catalog(rng, count):
    """{"Applications": [...], "Archives": []} with `count` user apps and one system app, and the
    icons as {file name: PNG bytes}."""
    apps, icons = [], {}
    for index in range(count):
        entry, icon, png = make_app(rng, index)
        apps.append(entry)
        icons[icon] = png
    # A system app among the user apps: a listing of user apps must leave it out.
    apps.insert(min(1, len(apps)), {"ApplicationType": "System", "CFBundleIdentifier": "com.apple.mobilesafari",
                                    "CFBundleDisplayName": "Safari", "CFBundleName": "MobileSafari",
                                    "Path": "/Applications/MobileSafari.app"})
    return {"Applications": apps, "Archives": []}, icons


def write_catalog(image, catalog, icons=None):
    """Writes apps.plist (by rename) and the icons."""
    if icons:
        os.makedirs(os.path.join(image, "icons"), exist_ok=True)
        for name, png in icons.items():
            with open(os.path.join(image, "icons", name), "wb") as f:
                f.write(png)
    temp = os.path.join(image, ".apps.plist.tmp")
    with open(temp, "wb") as f:
        plistlib.dump(catalog, f, sort_keys=True)
    os.replace(temp, os.path.join(image, "apps.plist"))


def read_catalog(image):
    with open(os.path.join(image, "apps.plist"), "rb") as f:
        return plistlib.load(f)


def icon_bytes(image, entry):
    """The PNG bytes of an app entry's icon, or None."""
    if "IconFile" not in entry:
        return None
    with open(os.path.join(image, "icons", entry["IconFile"]), "rb") as f:
        return f.read()


def make_ipa(bundle_id, name="Sample", version="1.0", with_metadata=True, padding=0, seed=0, icon_url=None):
    """The bytes of an .ipa: Payload/<name>.app/Info.plist (and executable), iTunesMetadata.plist when
    asked (its icon URL replaced by `icon_url`, or left out when that is ""), and `padding` bytes of
    seeded filler so that packages of different sizes can be made."""
    rng = random.Random(seed)
    folder = "Payload/%s.app/" % name
    info = {"CFBundleIdentifier": bundle_id, "CFBundleName": name, "CFBundleDisplayName": name,
            "CFBundleShortVersionString": version, "CFBundleVersion": version.replace(".", "")}
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(folder + "Info.plist", plistlib.dumps(info, fmt=plistlib.FMT_BINARY))
        z.writestr(folder + name, bytes(rng.randrange(256) for _ in range(256 + padding)), zipfile.ZIP_STORED)
        if with_metadata:
            store = metadata(rng, bundle_id, name, version, version)
            if icon_url == "":
                del store["softwareIcon57x57URL"]
            elif icon_url is not None:
                store["softwareIcon57x57URL"] = icon_url
            z.writestr("iTunesMetadata.plist", plistlib.dumps(store))
    return out.getvalue()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Make the apps of a device image, or an .ipa package.")
    parser.add_argument("image", nargs="?", help="the image folder whose apps to replace")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--apps", type=int, default=DEFAULT_APPS, help="user apps (besides one system app)")
    parser.add_argument("--ipa", help="write an .ipa package here instead")
    parser.add_argument("--bundle-id", default="com.example.sample")
    parser.add_argument("--name", default="Sample")
    parser.add_argument("--no-metadata", action="store_true", help="an .ipa without iTunesMetadata.plist")
    args = parser.parse_args(argv)
    if args.ipa:
        with open(args.ipa, "wb") as f:
            f.write(make_ipa(args.bundle_id, args.name, with_metadata=not args.no_metadata, seed=args.seed))
        return 0
    if not args.image or args.apps < 0:
        parser.error("give an image folder and a count of at least 0")
    write_catalog(args.image, *make_catalog(random.Random("apps-%d" % args.seed), args.apps))
    return 0


if __name__ == "__main__":
    sys.exit(main())
