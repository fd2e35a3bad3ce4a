"""What request 300 must answer for a device image, computed from the image's own files with plistlib
and json, apart from the service's code: the property document from lockdown.plist (and the
jailbreak folder), the battery and storage document from diagnostics.plist and atc.plist."""

import json
import math
import os
import plistlib

BATTERY = "com.apple.mobile.battery"
INTERNATIONAL = "com.apple.international"
DISK_USAGE = "com.apple.disk_usage"

# (lockdown key = member name, domain, kind) in the order of the property document.
PROPERTY_ROWS = [
    ("RegionInfo", "", "string"), ("DeviceName", "", "string"), ("DeviceClass", "", "string"),
    ("ProductType", "", "string"), ("ProductVersion", "", "string"), ("SerialNumber", "", "string"),
    ("UniqueDeviceID", "", "string"), ("ModelNumber", "", "string"), ("BuildVersion", "", "string"),
    ("HardwareModel", "", "string"), ("DeviceEnclosureColor", "", "string"), ("CPUArchitecture", "", "string"),
    ("WiFiAddress", "", "string"), ("BluetoothAddress", "", "string"), ("PartitionType", "", "string"),
    ("FirmwareVersion", "", "string"), ("ActivationState", "", "string"),
    ("ActivationStateAcknowledged", "", "bool"), ("BasebandVersion", "", "string"),
    ("BasebandBootloaderVersion", "", "string"), ("BasebandChipId", "", "int"), ("BasebandGoldCertId", "", "int"),
    ("IntegratedCircuitCardIdentity", "", "string"), ("InternationalMobileEquipmentIdentity", "", "string"),
    ("InternationalMobileSubscriberIdentity", "", "string"), ("MLBSerialNumber", "", "string"),
    ("MobileSubscriberCountryCode", "", "string"), ("MobileSubscriberNetworkCode", "", "string"),
    ("MobileEquipmentIdentifier", "", "string"), ("PasswordProtected", "", "bool"), ("PhoneNumber", "", "string"),
    ("ProductionSOC", "", "bool"), ("ProtocolVersion", "", "string"), ("SIMStatus", "", "string"),
    ("SupportedDeviceFamilies", "", "families"), ("TimeIntervalSince1970", "", "int"), ("TimeZone", "", "string"),
    ("TimeZoneOffsetFromUTC", "", "int"), ("UniqueChipID", "", "int"), ("Uses24HourClock", "", "bool"),
    ("BatteryIsCharging", BATTERY, "bool"), ("Keyboard", INTERNATIONAL, "string"),
    ("BatteryCurrentCapacity", BATTERY, "int"), ("TotalDiskCapacity", DISK_USAGE, "int"),
    ("TotalSystemAvailable", DISK_USAGE, "int"), ("TotalSystemCapacity", DISK_USAGE, "int"),
]

STORAGE_ROWS = ["Application", "Photo", "CameraRoll", "Movie", "Book", "Music", "Ringtone"]
DIAGNOSTICS_SERVICE = "com.apple.mobile.diagnostics_relay"
ATC_SERVICE = "com.apple.atc"
INT64_MIN, INT64_MAX = -(1 << 63), (1 << 63) - 1


def _is_integer(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _number(value):
    """A lockdown number as the integer reader gives it: integers as they are, reals rounded half up."""
    if _is_integer(value) and INT64_MIN <= value <= INT64_MAX:
        return value
    if isinstance(value, float) and math.isfinite(value):
        return math.floor(value + 0.5)
    return None


def load_plist(image, name):
    with open(os.path.join(image, name), "rb") as f:
        return plistlib.load(f)


def load_state(image):
    with open(os.path.join(image, "state.json"), encoding="utf-8") as f:
        return json.load(f)


def expected_properties(image):
    """The first document of request 300, in member order."""
    lockdown = load_plist(image, "lockdown.plist")
    out = {}
    for key, domain, kind in PROPERTY_ROWS:
        values = lockdown.get(domain)
        value = values.get(key) if isinstance(values, dict) else None
        if value is None:
            continue
        if kind == "string" and isinstance(value, str):
            out[key] = value
        elif kind == "bool" and isinstance(value, bool):
            out[key] = int(value)
        elif kind == "int" and _number(value) is not None:
            out[key] = _number(value)
        elif kind == "families":
            items = value if isinstance(value, list) else []
            out[key] = [_number(item) for item in items if _number(item) is not None]
    state = load_state(image)
    probe = os.path.join(image, "rootfs", "var", "root", "Media", "Cydia", "AutoInstall")
    out["IsJailbreak"] = 1 if state.get("jailbroken") and os.path.isdir(probe) else 0
    return out


def _own_figure(category):
    count = size = 0
    for name, value in category.items():
        if _is_integer(value):
            if name == "_PhysicalSize":
                size += value
            elif name == "_Count":
                count += value
    return count, size


def storage_members(params):
    """The storage members for the "Params" of an AssetMetrics message (None: no metrics came)."""
    categories = {}
    if isinstance(params, dict):
        for name in sorted(params):
            value = params[name]
            if _is_integer(value):
                categories[name] = (0, value)
            elif isinstance(value, dict):
                subs = [sub for sub in sorted(value) if isinstance(value[sub], dict)]
                for sub in subs:
                    categories[sub] = _own_figure(value[sub])
                if not subs:
                    categories[name] = _own_figure(value)
    total = categories.pop("_PhysicalSize", (0, 0))[1]
    free = categories.pop("_FreeSize", (0, 0))[1]
    rows = {name: categories.pop(name, (0, 0)) for name in STORAGE_ROWS}
    out = {}
    for name in STORAGE_ROWS:
        out[name + "_PhysicalSize"] = rows[name][1]
        out[name + "_Count"] = rows[name][0]
    out["Data_FreeSize"] = free
    out["Data_PhysicalSize"] = total
    out["Data_Others_PhysicalSize"] = total - free - sum(rows[name][1] for name in STORAGE_ROWS)
    for name in sorted(categories):
        count, size = categories[name]
        if count and size:
            out[name + "_Count"] = count
            out[name + "_PhysicalSize"] = size
    return out


def metrics_params(script):
    """The Params the ATC reader takes from a script, or None when the exchange ends without metrics:
    messages of other commands are dropped, Ping and IdleExit end it, and so does every directive
    used by the tests (a zero length, a hang-up, a body cut short or too long)."""
    for entry in script.get("Messages", []):
        command = entry.get("Command")
        if command is None or command in ("Ping", "IdleExit"):
            return None
        if command == "AssetMetrics":
            return entry.get("Params")
    return None


def expected_usage(image):
    """The second document of request 300, in member order."""
    services = load_state(image).get("services", [])
    out = {}
    if DIAGNOSTICS_SERVICE in services and os.path.exists(os.path.join(image, "diagnostics.plist")):
        registry = load_plist(image, "diagnostics.plist").get("IORegistry", {})
        cycles = registry.get("IOPMPowerSource", {}).get("CycleCount")
        if _is_integer(cycles):
            out["CycleCount"] = cycles
    if ATC_SERVICE in services:
        out.update(storage_members(metrics_params(load_plist(image, "atc.plist"))))
    return out
