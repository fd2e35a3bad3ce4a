#pragma once
// The host's start-up and shut-down around the main frame: the single-instance mutex, the log folder and
// logging, the alert images, the crash filter, the user-defaults stores and Option.json, and at the end
// the relay's release, the saved settings and the removal of an empty log folder. Main (UI) thread only.

#include <windows.h>

#include <string>

namespace trv {

// The held mutex, or null when another copy of the program holds it (or creating it failed).
HANDLE SingleInstanceGuard();
// Creates the log folder (temp + brand + "\" + yyyymmdd) and returns it; the brand folder is created too.
std::wstring CreateLogFolder();
// True when the program may go on to the main frame.
bool InitApplication();
void ShutdownApplication();
// The preferences file of this installation ("" when the install folder is not below AppData\Solvak\).
std::wstring PreferencesPath();

}  // namespace trv
