// The apps of a device image, shared by the installation service (which lists and changes them) and
// the springboard service (which serves their icons).
//
// <image>/apps.plist (XML or binary; a change writes it binary):
//   {"Applications": [app, ...], "Archives": [bundle id, ...]}
// Each app is a dictionary of its attributes under their device names ("CFBundleIdentifier",
// "ApplicationType", "CFBundleDisplayName", "Path", "iTunesMetadata" as data, "StaticDiskUsage" ...)
// plus "IconFile": the name of its PNG file in <image>/icons/ (never sent to a host). The array's
// order is the device's listing order; an install appends, a reinstall keeps the app's place.
//
// Threads: the connection's device thread. Changes run under the image lock, so two connections (or
// the control tool) never interleave their read-modify-write cycles.
#pragma once

#include <functional>
#include <string>

#include "md/md_cf_util.h"

// The key of an app's icon file name; internal to the image.
constexpr char kMDAppIconFileKey[] = "IconFile";

// The Applications array of the image (borrowed from *catalog, which owns the parsed file), or null
// when the image has no apps.plist or it holds no such array.
CFArrayRef MDLoadApps(const std::string& imageFolder, MDCFPtr* catalog);

// The app dictionary of a bundle id in an Applications array (borrowed), or null.
CFTypeRef MDFindApp(CFArrayRef apps, const std::string& bundleId);

// The PNG bytes of an app's icon; false for an unknown app, one without an icon file, or a file
// name that would leave the icons folder.
bool MDReadAppIcon(const std::string& imageFolder, const std::string& bundleId, std::string* png);

// Runs `change` on a mutable deep copy of the catalog ({"Applications": [], "Archives": []} when the
// image has none; both arrays present) under the image lock and writes the result when `change`
// answers true. Returns "" on success, else what went wrong (for an error reply).
using MDAppCatalogChange = std::function<bool(CFMutableDictionaryRef catalog, std::string* error)>;
std::string MDChangeAppCatalog(const std::string& imageFolder, const MDAppCatalogChange& change);

// The mutable array under `key` of a catalog handed to a change.
CFMutableArrayRef MDCatalogArray(CFMutableDictionaryRef catalog, const char* key);
