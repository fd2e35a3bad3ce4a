// Crash reports: when the service dies of a fatal signal it leaves, in its log folder, a dump
// file named after the start-up time ("%Y%m%d%H%M%S.dmp"), a "Crash.json" description, and a zip
// archive of the whole log folder (the dump path followed by ".zip"; earlier archives and programs
// are not packed); then the loose files of the log folder are deleted, so that only archives and
// sub-folders remain.
//
// Threads: installed once on the main thread right after logging starts; the report runs on the
// crashing thread while the other threads still run, and takes no lock of the service.
#pragma once

#include <cstdint>
#include <string>

namespace hlx {

struct CrashReportPaths {
  std::string dumpPath;      // <log folder>/<start-up time>.dmp
  std::string reportFolder;  // <log folder>/
  std::string archivePath;   // dumpPath + ".zip"
};

// The paths for a log folder and a start-up moment (local time).
CrashReportPaths MakeCrashReportPaths(const std::string& logFolder, int64_t startupSeconds);

// Computes the paths from the start-up state and the present moment, and installs the handler.
void InstallCrashHandler();

// Writes "Crash.json" {"Product","Version","System"} (indented by four blanks) into the folder and
// shuts logging down, so that the log files are complete before they are packed. Returns the
// description's path ("" when it could not be written).
std::string WriteCrashReport(const std::string& reportFolder);

// Deletes every file of the folder (not recursive; sub-folders stay) whose name does not contain
// ".zip" in any case.
void CleanCrashFolder(const std::string& folder);

}  // namespace hlx
