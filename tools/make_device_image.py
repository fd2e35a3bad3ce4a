#!/usr/bin/env python3
"""Makes a simulated device image: the folder that the device library serves as one attached device.

    make_device_image.py OUT [--seed N] [--udid U] [--name NAME] [--device-class iPhone|iPod|iPad]
                             [--product-type T] [--product-version V] [--serial S] [--chip-id N]
                             [--unpaired] [--untrusted] [--locked] [--jailbroken] [--wifi]
                             [--capacity BYTES] [--free BYTES] [--service NAME]... [--ssl-service NAME]...
                             [--sync-account CLASS]... [--binary-lockdown] [--large] [--big-file-mib N]
                             [--no-sim] [--cycle-count N] [--without-service NAME]... [--atc-script FILE]
                             [--contacts N] [--contact-groups N] [--apps N]
                             [--force]

Everything not given is drawn from a random generator seeded with --seed (0 by default), so the same
command makes the same image. The layout (state.json, lockdown.plist, fs/, rootfs/) is described in
platform/mobiledevice/README.md, with the scripts of the diagnostics and ATC services
(diagnostics.plist, atc.plist) and the address book of the synchronisation service (addressbook.plist,
made by make_address_book.py) and the apps (apps.plist, icons/, made by make_app_catalog.py). state.json is written last: a folder made straight inside a device
root is announced only once it is complete (attaching with tools/hlx_device.py is the usual way).

Importable: make_image(out, **options) takes the option names as keyword arguments (underscores for
dashes) and returns a dict of what it wrote (udid, device_name, product_version, ...). Standard
library only.
"""

import argparse
import json
import os
import plistlib
import random
import shutil
import sys

import make_address_book
import make_app_catalog
import make_media_data
import make_sms_db
import make_sync_data
import make_photo_data

DEFAULT_NAME = {"iPhone": "Zo\u00eb's iPhone", "iPod": "Zo\u00eb's iPod", "iPad": "Zo\u00eb's iPad"}
DEFAULT_PRODUCT = {
    # class: (ProductType, HardwareModel, ModelNumber, SupportedDeviceFamilies)
    "iPhone": ("iPhone10,3", "D22AP", "MQAC2", [1]),
    "iPod": ("iPod9,1", "N112AP", "MKH22", [1]),
    "iPad": ("iPad7,5", "J71bAP", "MR7F2", [1, 2]),
}
BUILD_FOR_VERSION = {"12.4.1": "16G102", "9.3.5": "13G36", "4.1": "8B117", "4.2.1": "8C148"}
DEFAULT_SERVICES = ["com.hlx.test.frames", "com.apple.mobile.diagnostics_relay", "com.apple.atc",
                    "com.apple.mobilesync", "com.apple.mobilebackup2"]
APP_SERVICES = ["com.apple.mobile.installation_proxy", "com.apple.springboardservices"]
DATA_CLASSES = ["Contacts", "Calendars", "Bookmarks", "Notes"]
GIB = 1 << 30


def _hex(rng, count):
    return "".join(rng.choice("0123456789abcdef") for _ in range(count))


def _mac(rng):
    return ":".join("%02x" % rng.randrange(256) for _ in range(6))


def _digits(rng, count):
    return "".join(rng.choice("0123456789") for _ in range(count))


def _serial(rng):
    return "".join(rng.choice("ABCDEFGHJKLMNPQRSTUVWXYZ0123456789") for _ in range(12))


def _write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def _fake_jpeg(rng, size):
    body = bytes(rng.randrange(256) for _ in range(max(0, size - 4)))
    return b"\xff\xd8" + body + b"\xff\xd9"


def _lockdown_values(rng, o, udid, chip_id, capacity, free):
    product_type, hardware_model, model_number, families = DEFAULT_PRODUCT[o["device_class"]]
    product_type = o.get("product_type") or product_type
    version = o["product_version"]
    plain = {
        "RegionInfo": "LL/A",
        "DeviceName": o["name"],
        "DeviceClass": o["device_class"],
        "ProductType": product_type,
        "ProductVersion": version,
        "SerialNumber": o["serial"],
        "UniqueDeviceID": udid,
        "ModelNumber": model_number,
        "BuildVersion": BUILD_FOR_VERSION.get(version, "17A577"),
        "HardwareModel": hardware_model,
        "DeviceEnclosureColor": "1",
        "DeviceColor": "1",
        "CPUArchitecture": "arm64",
        "WiFiAddress": _mac(rng),
        "BluetoothAddress": _mac(rng),
        "PartitionType": "GUID_partition_scheme",
        "FirmwareVersion": "iBoot-4513.260.81",
        "ActivationState": "Activated",
        "ActivationStateAcknowledged": True,
        "PasswordProtected": bool(o["locked"]),
        "ProductionSOC": True,
        "ProtocolVersion": "2",
        "SupportedDeviceFamilies": families,
        # Real devices send these two as reals, not integers. The half makes a reader that truncates
        # instead of rounding differ by one.
        "TimeIntervalSince1970": 1565000000.0 + rng.randrange(10 ** 6) + 0.5,
        "TimeZoneOffsetFromUTC": 3600.0,
        "TimeZone": "Europe/Berlin",
        "UniqueChipID": chip_id,
        "ChipID": 32789,
        "Uses24HourClock": True,
        "DevicePublicKey": bytes(rng.randrange(256) for _ in range(64)),
        "HostAttached": True,
        "TrustedHostAttached": bool(o["paired"] and o["trusted"]),
    }
    if o["device_class"] == "iPhone" and o.get("no_sim"):
        # No SIM card: the baseband answers, the subscriber values are missing.
        plain.update({
            "BasebandVersion": "5.70.01",
            "BasebandBootloaderVersion": "9.11.01",
            "BasebandChipId": 7278817,
            "BasebandGoldCertId": 2315222105,
            "InternationalMobileEquipmentIdentity": "35" + _digits(rng, 13),
            "MLBSerialNumber": _serial(rng) + _serial(rng)[:5],
            "MobileEquipmentIdentifier": ("35" + _digits(rng, 12)),
            "SIMStatus": "kCTSIMSupportSIMStatusNotInserted",
        })
    elif o["device_class"] == "iPhone":
        plain.update({
            "BasebandVersion": "5.70.01",
            "BasebandBootloaderVersion": "9.11.01",
            "BasebandChipId": 7278817,
            "BasebandGoldCertId": 2315222105,
            "IntegratedCircuitCardIdentity": "8949" + _digits(rng, 15),
            "InternationalMobileEquipmentIdentity": "35" + _digits(rng, 13),
            "InternationalMobileSubscriberIdentity": "26201" + _digits(rng, 10),
            "MLBSerialNumber": _serial(rng) + _serial(rng)[:5],
            "MobileSubscriberCountryCode": "262",
            "MobileSubscriberNetworkCode": "01",
            "MobileEquipmentIdentifier": ("35" + _digits(rng, 12)),
            "PhoneNumber": "+49 170 " + _digits(rng, 7),
            "SIMStatus": "kCTSIMSupportSIMStatusReady",
        })
    used = capacity - free
    sync_accounts = set(o.get("sync_account") or [])
    return {
        "": plain,
        "com.apple.mobile.battery": {
            "BatteryCurrentCapacity": 40 + rng.randrange(60),
            "BatteryIsCharging": True,
            "ExternalChargeCapable": True,
            "ExternalConnected": True,
            "FullyCharged": False,
            "GasGaugeCapability": True,
            "HasBattery": True,
        },
        "com.apple.disk_usage": {
            "TotalDiskCapacity": capacity + 4 * GIB,
            "TotalSystemCapacity": 4 * GIB,
            "TotalSystemAvailable": GIB // 2,
            "TotalDataCapacity": capacity,
            "TotalDataAvailable": free,
            "AmountDataAvailable": free,
            "AmountDataReserved": 200 * 1024 * 1024,
            "CameraUsage": used // 4,
            "PhotoUsage": used // 8,
            "MediaCacheUsage": 0,
            "CalendarUsage": 1 << 20,
            "WebAppCacheUsage": 0,
        },
        "com.apple.international": {
            "Keyboard": "de_DE",
            "Language": "de",
            "Locale": "de_DE",
            "SupportedKeyboards": ["de_DE", "en_US"],
            "SupportedLanguages": ["de", "en"],
        },
        "com.apple.mobile.data_sync": {
            name: {"AccountNames": ["iCloud"] if name in sync_accounts else [], "Sources": []}
            for name in DATA_CLASSES
        },
        "com.apple.fmip": {"IsAssociated": False},
        "com.apple.mobile.wireless_lockdown": {"EnableWifiConnections": bool(o["wifi"])},
    }


def _category(rng, size, count_low, count_high):
    return {"_Count": rng.randrange(count_low, count_high), "_PhysicalSize": size,
            "_PurgeableSize": size // 10}


def _asset_metrics(rng, capacity, free):
    """The "Params" of an AssetMetrics message: the data partition's size and free space, then the
    used space by category. The categories take about 85 % of the used space, so the rest ("others")
    is positive; "Photo" is split into sub-categories, and some categories are not in the service's
    table (they become extra members), one with a count but no size (it does not)."""
    used = max(0, capacity - free)

    def part(fraction):
        return int(used * fraction)

    camera_roll = _category(rng, part(0.18), 50, 5000)
    photo_stream = _category(rng, part(0.04), 10, 1000)
    return {
        "_PhysicalSize": capacity,
        "_FreeSize": free,
        "_PurgeableSize": part(0.02),
        "Application": _category(rng, part(0.30), 20, 200),
        "Photo": {"_Count": camera_roll["_Count"] + photo_stream["_Count"],
                  "_PhysicalSize": camera_roll["_PhysicalSize"] + photo_stream["_PhysicalSize"],
                  "CameraRoll": camera_roll, "PhotoStream": photo_stream},
        "Music": _category(rng, part(0.14), 100, 3000),
        "Movie": _category(rng, part(0.10), 1, 50),
        "Book": _category(rng, part(0.02), 1, 80),
        "Ringtone": _category(rng, part(0.001), 1, 30),
        "VoiceMemo": _category(rng, part(0.01), 1, 40),
        "Podcast": _category(rng, part(0.03), 1, 60),
        "TVShow": {"_Count": rng.randrange(1, 9), "_PhysicalSize": 0},
    }


def _atc_script(rng, capacity, free, messages, end):
    """atc.plist: what the ATC service sends after the host's power assertion (see the library's
    README). By default a message the host does not read, then the metrics."""
    if messages is None:
        messages = [
            {"Command": "ReadyForSync", "Params": {"DeviceLocked": False}, "Session": 0},
            {"Command": "AssetMetrics", "Params": _asset_metrics(rng, capacity, free), "Session": 0},
        ]
    return {"Messages": list(messages), "End": end}


def _diagnostics(cycle_count, battery_capacity):
    """diagnostics.plist: the IORegistry entries that the diagnostics service answers with."""
    power_source = {
        "BatteryInstalled": True,
        "CurrentCapacity": battery_capacity,
        "DesignCapacity": 2716,
        "ExternalConnected": True,
        "IsCharging": True,
        "Temperature": 2950,
        "Voltage": 4250,
        "CycleCount": cycle_count,
    }
    return {"IORegistry": {"IOPMPowerSource": power_source}}


def _make_fs(rng, root, large, big_file_mib):
    for folder in ["DCIM/100APPLE", "Recordings", "iTunes_Control/iTunes", "iTunes_Control/Music/F00",
                   "Books", "PhotoData", "Downloads"]:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    for i in range(1, 4):
        _write_file(os.path.join(root, "DCIM/100APPLE/IMG_%04d.JPG" % i), _fake_jpeg(rng, 1000 + rng.randrange(3000)))
    _write_file(os.path.join(root, "Recordings/20190801 101500.m4a"), bytes(rng.randrange(256) for _ in range(2048)))
    _write_file(os.path.join(root, "iTunes_Control/Music/F00/ABCD.mp3"), bytes(rng.randrange(256) for _ in range(4096)))
    _write_file(os.path.join(root, "Books/Sample.epub"), b"PK\x03\x04" + bytes(rng.randrange(256) for _ in range(500)))
    _write_file(os.path.join(root, "Downloads/readme.txt"), "Gr\u00fc\u00dfe vom Ger\u00e4t\n".encode("utf-8"))
    if large:
        # Many small files for listing and tree-copy benchmarks; contents are cheap seeded blocks.
        block = bytes(rng.randrange(256) for _ in range(4096))
        for folder_index in range(10):
            folder = os.path.join(root, "DCIM/%03dAPPLE" % (101 + folder_index))
            os.makedirs(folder, exist_ok=True)
            for i in range(1000):
                photo = b"\xff\xd8" + block[: 1024 + (i % 3000)] + b"\xff\xd9"
                _write_file(os.path.join(folder, "IMG_%04d.JPG" % i), photo)
        for i in range(2000):
            song = os.path.join(root, "iTunes_Control/Music/F%02d/S%04d.mp3" % (i % 50, i))
            _write_file(song, block[: 2048 + i % 2048])
    if big_file_mib:
        chunk = bytes(rng.randrange(256) for _ in range(1 << 20))
        with open(os.path.join(root, "Downloads/big.bin"), "wb") as f:
            for _ in range(big_file_mib):
                f.write(chunk)


def _tree_bytes(root):
    total = 0
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                total += os.path.getsize(path)
    return total


def _make_apps(out, seed, count):
    """The apps and their icons, from a generator of their own; returns the count of user apps."""
    count = make_app_catalog.DEFAULT_APPS if count is None else count
    if count < 0:
        raise ValueError("the app count is at least 0")
    make_app_catalog.write_catalog(out, *make_app_catalog.make_catalog(random.Random("apps-%d" % seed), count))
    return count


def make_image(out, seed=0, udid=None, name=None, device_class="iPhone", product_type=None,
               product_version="12.4.1", serial=None, chip_id=None, paired=True, trusted=True, locked=False,
               jailbroken=False, wifi=False, capacity=64 * GIB, free=None, service=None, ssl_service=None,
               sync_account=None, binary_lockdown=False, large=False, big_file_mib=0, no_sim=False,
               cycle_count=None, without_service=None, atc_messages=None, atc_end="wait", contacts=None,
               contact_groups=None, apps=None, force=False, sync_data=None, sms=None, photo_data=None,
               media=None):
    if device_class not in DEFAULT_PRODUCT:
        raise ValueError("device class must be one of %s" % ", ".join(sorted(DEFAULT_PRODUCT)))
    rng = random.Random(seed)
    udid = udid or _hex(rng, 40)
    if not udid.replace("-", "").replace("_", "").isalnum() or len(udid) > 128:
        raise ValueError("a UDID holds letters, digits, '-' and '_' only")
    chip_id = chip_id if chip_id is not None else rng.randrange(1 << 40, 1 << 62)
    if not 0 <= chip_id < (1 << 64):
        raise ValueError("UniqueChipID is a 64-bit number")
    serial = serial or _serial(rng)
    name = name if name is not None else DEFAULT_NAME[device_class]
    if os.path.exists(out):
        if not force:
            raise FileExistsError("%s exists (use --force to replace it)" % out)
        shutil.rmtree(out)
    os.makedirs(out)
    untrusted = not trusted
    options = dict(device_class=device_class, product_type=product_type, product_version=product_version,
                   serial=serial, name=name, locked=locked, paired=paired and not untrusted, trusted=trusted,
                   wifi=wifi, sync_account=sync_account, no_sim=no_sim)

    _make_fs(rng, os.path.join(out, "fs"), large, big_file_mib)
    if photo_data:  # Photos.sqlite of one era, photos, thumbnails and previews: make_photo_data.photo_options
        make_photo_data.write_photo_data(os.path.join(out, "fs"), seed, **photo_data)
    if jailbroken:
        os.makedirs(os.path.join(out, "rootfs/var/root/Media/Cydia/AutoInstall"))
        os.makedirs(os.path.join(out, "rootfs/var/mobile/Media"))
        _write_file(os.path.join(out, "rootfs/private/etc/fstab"), b"/dev/disk0s1s1 / hfs ro 0 1\n")
    used = _tree_bytes(os.path.join(out, "fs"))
    free = free if free is not None else max(0, capacity - 12 * GIB - used)

    values = _lockdown_values(rng, options, udid, chip_id, capacity, free)
    with open(os.path.join(out, "lockdown.plist"), "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY if binary_lockdown else plistlib.FMT_XML, sort_keys=True)

    # Drawn after everything above, so that the same seed still makes the same values there.
    if cycle_count is None:
        cycle_count = rng.randrange(50, 900)
    battery = values["com.apple.mobile.battery"]["BatteryCurrentCapacity"]
    with open(os.path.join(out, "diagnostics.plist"), "wb") as f:
        plistlib.dump(_diagnostics(cycle_count, battery), f, sort_keys=True)
    with open(os.path.join(out, "atc.plist"), "wb") as f:
        plistlib.dump(_atc_script(rng, capacity, free, atc_messages, atc_end), f, sort_keys=True)
    # The address book draws from a generator of its own: the values above stay what they were.
    book_rng = random.Random("addressbook-%d" % seed)
    contacts = contacts if contacts is not None else (
        make_address_book.LARGE_CONTACTS if large else make_address_book.DEFAULT_CONTACTS)
    contact_groups = contact_groups if contact_groups is not None else (
        make_address_book.LARGE_GROUPS if large else make_address_book.DEFAULT_GROUPS)
    make_address_book.write_address_book(out, make_address_book.make_address_book(book_rng, contacts, contact_groups))
    apps = _make_apps(out, seed, apps)
    # Notes, bookmarks and calendars: `sync_data` holds make_sync_data.write_sync_data's counts.
    make_sync_data.write_sync_data(out, seed, **(sync_data or {}))
    # Messages: <image>/sms.db (with -wal and -shm) of the era and size in `sms` (make_sms_db.sms_options).
    make_sms_db.write_sms_db(out, seed=seed, **(sms or {}))
    # The media area: `media` holds make_media_data.write_media_data's keywords (none: no media).
    if media is not None:
        make_media_data.write_media_data(out, seed, **media)
    services = set(DEFAULT_SERVICES + APP_SERVICES + list(service or [])) - set(without_service or [])

    state = {
        "udid": udid,
        "paired": options["paired"],
        "trusted": bool(trusted),
        "passcodeLocked": bool(locked),
        "jailbroken": bool(jailbroken),
        "interfaceType": 2 if wifi else 1,
        "model": values[""]["ProductType"],
        "totalBytes": capacity,
        "freeBytes": free,
        "services": sorted(services),
        "sslServices": sorted(set(ssl_service or [])),
        "refuseSetValue": False,
        "faults": {},
    }
    # Last, through a rename: the library treats a folder without state.json as not yet attached.
    temp = os.path.join(out, ".state.json.tmp")
    with open(temp, "w", encoding="utf-8") as f:
        json.dump(state, f, indent=2, sort_keys=True)
        f.write("\n")
    os.replace(temp, os.path.join(out, "state.json"))
    return {
        "path": out, "udid": udid, "device_name": name, "device_class": device_class,
        "product_type": values[""]["ProductType"], "product_version": product_version, "serial": serial,
        "unique_chip_id": chip_id, "total_bytes": capacity, "free_bytes": free, "cycle_count": cycle_count,
        "contacts": contacts, "contact_groups": contact_groups, "apps": apps,
    }


def main(argv=None):
    parser = argparse.ArgumentParser(description="Make a simulated device image.")
    parser.add_argument("out", help="the image folder to make")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--udid")
    parser.add_argument("--name", help="DeviceName (default: Zo\u00eb's <class>)")
    parser.add_argument("--device-class", default="iPhone", choices=sorted(DEFAULT_PRODUCT))
    parser.add_argument("--product-type")
    parser.add_argument("--product-version", default="12.4.1")
    parser.add_argument("--serial")
    parser.add_argument("--chip-id", type=int)
    parser.add_argument("--unpaired", action="store_true", help="paired false")
    parser.add_argument("--untrusted", action="store_true",
                        help="the user has not trusted this computer yet (so it is not paired either)")
    parser.add_argument("--locked", action="store_true", help="passcode-locked: services refuse to start")
    parser.add_argument("--jailbroken", action="store_true", help="offer com.apple.afc2 over rootfs/")
    parser.add_argument("--wifi", action="store_true", help="interface type 2 (Wi-Fi)")
    parser.add_argument("--capacity", type=int, default=64 * GIB, help="FSTotalBytes")
    parser.add_argument("--free", type=int, help="FSFreeBytes (default: capacity - 12 GiB - fs/ bytes)")
    parser.add_argument("--service", action="append", help="another service the device offers")
    parser.add_argument("--ssl-service", action="append", help="a service that reports a secure context")
    parser.add_argument("--sync-account", action="append", choices=DATA_CLASSES,
                        help="a data class synchronised with an account on the device")
    parser.add_argument("--binary-lockdown", action="store_true", help="write lockdown.plist as a binary plist")
    parser.add_argument("--large", action="store_true", help="thousands of files in fs/ for benchmarks")
    parser.add_argument("--big-file-mib", type=int, default=0, help="add fs/Downloads/big.bin of N MiB")
    parser.add_argument("--no-sim", action="store_true", help="an iPhone without a SIM card")
    parser.add_argument("--cycle-count", type=int, help="the battery's charge cycles (diagnostics service)")
    parser.add_argument("--without-service", action="append",
                        help="a default service the device does not offer (e.g. com.apple.atc)")
    parser.add_argument("--atc-script", help="a property-list or JSON file holding the list of ATC script entries")
    parser.add_argument("--contacts", type=int, help="contacts in the address book (default 8, 10000 with --large)")
    parser.add_argument("--contact-groups", type=int, help="contact groups (default 2, 50 with --large)")
    parser.add_argument("--apps", type=int, help="user apps with metadata and icons (default 3)")
    parser.add_argument("--force", action="store_true", help="replace OUT if it exists")
    make_sync_data.add_arguments(parser)
    make_sms_db.add_arguments(parser)
    make_photo_data.add_arguments(parser)
    make_media_data.add_arguments(parser)
    args = parser.parse_args(argv)
    try:
        atc_messages = None
        if args.atc_script:
            with open(args.atc_script, "rb") as f:
                data = f.read()
            atc_messages = json.loads(data) if data.lstrip()[:1] in (b"[", b"{") else plistlib.loads(data)
            if isinstance(atc_messages, dict):
                atc_messages = atc_messages.get("Messages")
            if not isinstance(atc_messages, list):
                raise ValueError("an ATC script is a list of entries")
        facts = make_image(args.out, seed=args.seed, udid=args.udid, name=args.name, device_class=args.device_class,
                           product_type=args.product_type, product_version=args.product_version,
                           serial=args.serial, chip_id=args.chip_id, paired=not args.unpaired,
                           trusted=not args.untrusted, locked=args.locked, jailbroken=args.jailbroken,
                           wifi=args.wifi, capacity=args.capacity, free=args.free, service=args.service,
                           ssl_service=args.ssl_service, sync_account=args.sync_account,
                           binary_lockdown=args.binary_lockdown, large=args.large,
                           big_file_mib=args.big_file_mib, no_sim=args.no_sim, cycle_count=args.cycle_count,
                           without_service=args.without_service, atc_messages=atc_messages,
                           contacts=args.contacts, contact_groups=args.contact_groups, apps=args.apps,
                           force=args.force, sync_data=make_sync_data.sync_data_options(args),
                           sms=make_sms_db.sms_options(args),
                           photo_data=make_photo_data.photo_options(args),
                           media=make_media_data.media_options(args))
    except (ValueError, OSError) as e:
        print("make_device_image: %s" % e, file=sys.stderr)
        return 2
    print(json.dumps(facts, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
