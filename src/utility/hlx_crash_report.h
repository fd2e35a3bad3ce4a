// Crash reports: when the service dies of a fatal signal it leaves, in its log folder, a dump
// file named after the start-up time ("%Y%m%d%H%M%S.dmp"), a "Crash.json" description, and a zip
// archive of the whole log folder (the dump path followed by ".zip"; earlier archives and programs
// are not packed); then the loose files of the log folder are deleted, so that only archives and
// sub-folders remain.
//
// The signal handler only writes the dump (the frames as raw addresses, with the memory map) and the
// description (made ahead at start-up) with plain system calls, then starts this executable again in
// its packing mode (kCrashPackerOption, the dump's path) and waits a bounded time for it: naming the
// frames, the archive and the clean-up run in a fresh process, free of whatever locks (the loader's
// among them) and memory state the crash left behind. The log lines are on disk
// already: the log writes each line through at once. A dump whose packing never ended (its process
// was killed first) is packed by the next start of the service in that folder.
//
// Threads: installed once on the main thread right after logging starts; the report runs on the
// crashing thread while the other threads still run, and takes no lock of the service.
#pragma once

#include <cstdint>
#include <string>

namespace hlx {

// The first argument of the packing mode: `Harlix --pack-crash-report <dump path>`.
inline constexpr char kCrashPackerOption[] = "--pack-crash-report";

struct CrashReportPaths {
  std::string dumpPath;      // <log folder>/<start-up time>.dmp
  std::string reportFolder;  // <log folder>/
  std::string archivePath;   // dumpPath + ".zip"
};

// The paths for a log folder and a start-up moment (local time).
CrashReportPaths MakeCrashReportPaths(const std::string& logFolder, int64_t startupSeconds);

// Computes the paths and the description from the start-up state and the present moment, and
// installs the handler.
void InstallCrashHandler();

// The text of "Crash.json": {"Product","Version","System"} indented by four blanks.
std::string CrashDescriptionJson();

// Packs the report of the dump at `dumpPath`: names the dump's raw frames, then the archive of its folder, written under a side name
// and renamed when whole, then the clean-up of the folder (also when the archive failed). True when
// the archive was made. The packing mode's work; any thread outside a signal handler.
bool PackCrashReport(const std::string& dumpPath);

// At start-up, before logging starts: when the folder holds dumps without their archive and none of
// its dumps is still being packed, packs the report under the newest such dump's name (the archive
// holds the others too).
void PackLeftCrashReports(const std::string& logFolder);

// Deletes every file of the folder (not recursive; sub-folders stay) whose name does not contain
// ".zip" in any case.
void CleanCrashFolder(const std::string& folder);

}  // namespace hlx
