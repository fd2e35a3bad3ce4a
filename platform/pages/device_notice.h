#pragma once
// The device page's word to the section list that the current device changed or a device arrived. The
// pages reach each other only through the host, so the device page sends it as ZERITH_COMMAND_UPDATE_SECTION_TYPE
// without `text`, which the host passes on unchanged as QUARNEL_COMMAND_RESET_NUMBER; `code` tells it from the
// relay's own reset. Both sides are our stand-ins; the UI thread only.

#include <cstdint>

namespace standin_pages {

constexpr int64_t kDeviceNoticeCode = 0x59455354;  // "YEST"

// In `extra` of the notice, lent for the call. Identifiers are UTF-8; null or empty means none.
struct DeviceNotice {
    const char* current;  // the device whose counters and pages show now
    const char* arrived;  // a device that has just (re)connected: what was counted for it earlier is void
};

}  // namespace standin_pages
