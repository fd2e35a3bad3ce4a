#pragma once
// The crash filter: on an unhandled exception it writes a minidump to the registered path, asks the
// program for one more file to include, zips the dump and that file beside the dump, and hands the zip's
// path to the program's report callback. Callbacks run on the crashing thread inside the filter; they
// must not rely on the heap being sound beyond simple allocations.

#include "vornel_export.h"

// `crashFolder` ends with a backslash; the callback may set `extraFile` to a malloc'd path (freed here).
typedef void(__cdecl* VNLCrashDescriptionCallback)(const wchar_t* crashFolder, wchar_t** extraFile);
// `reportPath` is the zip inside the crash folder.
typedef void(__cdecl* VNLCrashReportCallback)(const wchar_t* reportPath);

class VNL_API VNLDbgReport {
public:
    // Installs the filter (replacing an earlier registration); false for a null or empty dump path.
    static bool RegisterCrashFilter(const wchar_t* dumpPath, VNLCrashReportCallback report,
                                    VNLCrashDescriptionCallback describe);
};
