#pragma once
// A device as the relay module reports it to the host (in `data` of ZERITH_COMMAND_DEVICE_CONNECTED and of
// ZERITH_COMMAND_GET_DEVICE_INFO with `status` 0) and as the host hands a copy of it to the device page (in
// `data` of YESTAL_COMMAND_ADDED_DEVICE and YESTAL_COMMAND_UPDATE_DEVICE_INFO, allocated with new and deleted
// by the page). Every GUI deliverable is built with the same compiler and runtime, so the type and the heap
// are the same on both sides. No threads of its own.

#include <map>
#include <string>

struct DeviceRecord {
    std::string identifier;                         // the device's UDID, UTF-8
    std::map<std::string, std::string> properties;  // property name to value, UTF-8 ("ProductType", ...)
};
