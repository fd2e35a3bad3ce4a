// The device's property document: the lockdown values the desktop reads as the device's properties
// (request 300) and the backup writes into its Info.plist, in their fixed order.
//
// Threads: any; reads the device through its session, locks nothing of its own.
#pragma once

#include <rapidjson/document.h>

namespace hlx {

class HLXDevice;

// Adds the property members to `object`, in their fixed order, each only when the device returns a
// value of its kind; stores the product version in the device record. Needs a session on the device
// (an open AFC service holds one). Booleans are written as 0 and 1.
void AddDeviceProperties(HLXDevice& device, rapidjson::Value* object, rapidjson::Document::AllocatorType& allocator);

}  // namespace hlx
