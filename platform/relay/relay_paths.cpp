// PC paths between the desktop and the device service; see relay_paths.h.
#include "relay_paths.h"

#include <algorithm>

namespace relay {
namespace {

bool IsOnDriveZ(const std::wstring& path) {
    return path.size() >= 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':' &&
           (path.size() == 2 || path[2] == L'\\' || path[2] == L'/');
}

}  // namespace

std::wstring ToServicePath(const std::wstring& path) {
    if (!path.empty() && path[0] == L'/') {
        return path;
    }
    if (!IsOnDriveZ(path)) {
        return std::wstring();
    }
    std::wstring converted = path.size() > 2 ? path.substr(2) : std::wstring(L"/");
    std::replace(converted.begin(), converted.end(), L'\\', L'/');
    return converted;
}

std::wstring ToDesktopPath(const std::wstring& path) {
    std::wstring windows;
    if (IsOnDriveZ(path)) {
        windows = L"Z:" + path.substr(2);
    } else if (!path.empty() && path[0] == L'/') {
        windows = L"Z:" + path;
    } else {
        return std::wstring();
    }
    std::replace(windows.begin(), windows.end(), L'/', L'\\');
    return windows;
}

}  // namespace relay
