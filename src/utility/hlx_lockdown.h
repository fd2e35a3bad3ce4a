// Lockdown values: raw copies by key and domain, typed readers, and the device queries built on
// them (supported device families, jailbreak, data classes synchronised with an account). A
// lockdown session must be open on the device for answers to come back; callers ensure it.
//
// Threads: any; no state of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "mobiledevice.h"
#include "utility/hlx_plist.h"

namespace hlx {

// The value, owned by the caller, or null. An empty domain asks without a domain.
CFPtr<CFTypeRef> CopyLockdownValue(AMDeviceRef device, const std::string& key, const std::string& domain);
CFPtr<CFTypeRef> CopyLockdownValueByKey(AMDeviceRef device, const std::string& key);

// A number as a 64-bit integer (a real rounds half up). False when absent or not a number.
bool GetLockdownInteger(AMDeviceRef device, const std::string& key, int64_t* out, const std::string& domain = "");
// A string as UTF-8. False when absent or not a string. Device names and other texts the user sees
// are read this way, so "Zoë's iPhone" arrives whole.
bool GetLockdownText(AMDeviceRef device, const std::string& key, std::string* out, const std::string& domain = "");
// "SupportedDeviceFamilies" as integers; true when the key exists.
bool GetSupportedDeviceFamilies(AMDeviceRef device, std::vector<int64_t>* families);

// A CoreFoundation string as UTF-8 (empty when it is not one).
std::string CFStringToUtf8(CFTypeRef string);

// A lockdown value as a value tree; an empty key or domain is left out of the query (an empty key
// asks for the whole domain). True when a scalar was converted into *out:
//   string   kString, UTF-8             data     kString, upper-case hex, two digits a byte
//   boolean  kBool                      number   SInt32 and int as kInt64, SInt64 as kInt64,
//                                                Float64 as kDouble; other number types: false
// A dictionary (kDictionary) or a non-empty array (kArray) is converted into *out too, but the
// result is false: callers tell scalars from containers that way. Inside
// them the same rules hold; an entry that does not convert is left out of a dictionary, an array
// element of another type becomes kEmpty, and an empty array (which has no representation) leaves
// its entry out; an empty array at the top gives false and leaves *out alone.
// Strings (and dictionary keys) are read whole, as UTF-8, so that names such as "Zoë's iPhone"
// and texts of any length convert.
[[nodiscard]] bool GetLockdownValueAsVariant(AMDeviceRef device, const std::string& key, const std::string& domain,
                                             PlistVariant* out);

bool IsJailbroken(AMDeviceRef device);
// Whether the device keeps the data class ("Contacts", "Calendars", "Bookmarks", "Notes") in an
// account rather than in its local store.
bool HasDataSyncAccount(AMDeviceRef device, const std::string& dataClass);

}  // namespace hlx
