#pragma once
// The desktop's files as the relay's features reach them through the link (RelayLink's file side, Win32):
// exports written as new files, backups read whole, and the device service's name for a desktop path.

#include <cstddef>
#include <string>

namespace relay {

// Writes `bytes` as the new file `name` in the desktop folder `folder`; false when a file of that name is
// there already or the file could not be written whole (nothing is left behind then).
bool WriteNewDesktopFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes);
// Reads the whole desktop file `path` of at most `limitBytes`; false (and `bytes` empty) when it cannot.
bool ReadWholeDesktopFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes);
// The device service's name for the desktop path `path`: drive Z: directly, any other drive as Wine maps
// it; empty when the service cannot reach it.
std::wstring ServicePathOfDesktopPath(const std::wstring& path);

}  // namespace relay
