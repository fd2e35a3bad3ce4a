#pragma once
// Process-wide values that the host sets during start-up and reads elsewhere: the log folder, the dump
// path, the product type and preferences path from Option.json, and the normal-exit flag that tells the
// crash report whether the program had finished. Written on the UI thread during start-up; the flag is
// also read by the crash filter on whichever thread crashes.

#include <atomic>
#include <cstdint>
#include <string>

namespace trv {

struct HostState {
    std::wstring logFolder;
    std::wstring dumpPath;
    int64_t productType = 0;
    std::wstring preferencesPath;
    std::atomic<bool> normalExit{false};
};

HostState& TheHostState();

}  // namespace trv
