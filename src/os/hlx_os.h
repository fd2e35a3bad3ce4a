// The service's one door to the operating system: temporary and program paths, process lists,
// process start and termination, folders, local time and the registry store. Nothing else in the
// service includes system headers for these needs. Each need is one entry of a table of function pointers, so that
// tests can replace an entry to inject a fault (a refused elevation, a failing process list).
// Every entry is safe to call from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace hlx::os {

// One running process as the process list reports it.
struct ProcessEntry {
  int32_t pid = 0;
  std::string name;       // the executable's file name ("Harlix"), from /proc/<pid>/comm or exe
  std::string imagePath;  // full path of the executable, empty when unreadable
};

// Options of a child start. Descriptors of -1 leave the stream as the service's own.
struct SpawnOptions {
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
  // A started child waits before exec until the caller resumes it (ResumeProcess): the "suspended"
  // start. The gate is a pipe whose write end the caller holds in `gateFd`.
  bool suspended = false;
};

struct SpawnResult {
  int32_t pid = 0;  // 0 when the start failed
  int gateFd = -1;  // write end of the gate of a suspended start, -1 otherwise
  int error = 0;    // errno of a failed start
};

struct OsApi {
  // $TMPDIR, or /tmp when unset or empty; always ends with '/'.
  std::string (*tempPath)();
  // Full path of the running program (/proc/self/exe), empty when unreadable.
  std::string (*programPath)();
  int32_t (*currentProcessId)();
  // Start time of a process in clock ticks since boot, 0 when no such process exists. Two reads that
  // give the same non-zero value name the same process, which guards pid reuse.
  uint64_t (*processStartTicks)(int32_t pid);
  // Every process that can be seen; false when the list cannot be read.
  bool (*listProcesses)(std::vector<ProcessEntry>* out);
  // Starts argv[0] (searched on PATH when it has no '/') with the argument vector as given; never
  // through a shell.
  SpawnResult (*spawnProcess)(const std::vector<std::string>& argv, const SpawnOptions& options);
  // Lets a suspended child go on to exec; closes the gate.
  bool (*resumeProcess)(int gateFd);
  // Starts a program with raised rights. There are none to raise here, so this is a plain start;
  // tests replace it to simulate a user who refuses.
  SpawnResult (*spawnElevated)(const std::vector<std::string>& argv);
  // SIGKILL, then reaps the child. True when the process is gone afterwards.
  bool (*terminateProcess)(int32_t pid);
  // Waits for a child to end; its exit code, or -1 when it cannot be read.
  int (*waitProcess)(int32_t pid);
  // Creates a folder and every missing level above it. True when the folder exists afterwards.
  bool (*createDirectories)(const std::string& path);
  // Deletes a folder with all its contents (or one file). Refuses an empty, relative or root path.
  bool (*deleteTree)(const std::string& path);
  // Current time in whole seconds since the epoch, the wall clock that every other process reads
  // (the seconds of gettimeofday; never behind them).
  int64_t (*currentTime)();
  // localtime_r: false when the moment cannot be represented.
  bool (*localTime)(int64_t secondsSinceEpoch, std::tm* out);
  // Reads one value of the registry store: the small text file named by $HLX_REGISTRY_FILE that
  // stands where HKEY_LOCAL_MACHINE stands on a PC (tests point it at another file, or at none).
  // Format, UTF-8, one entry a line ('\n' or "\r\n"):
  //   # comment (also ';')
  //   [SOFTWARE\Apple Inc.\Apple Mobile Device Support\Shared]
  //   iTunesMobileDeviceDLL=/opt/Common Files/Apple/Mobile Device Support/libMobileDevice.so
  // A "[...]" line opens a key (its path below HKEY_LOCAL_MACHINE); "name=value" lines below it are
  // its values. Key paths and value names compare without regard to ASCII case, as the registry's
  // do; the value is the text after the first '=', verbatim (no trimming, quotes or escapes, so
  // blanks in paths need nothing). When a name appears twice under a key, the later line wins.
  // False when the variable is unset or empty, the file is unreadable or larger than 1 MiB (it is a
  // settings file; the cap keeps a wrong path from being read whole), or the value is not there.
  bool (*readRegistryValue)(const std::string& key, const std::string& name, std::string* value);
  // Whether a child has ended (or is no child of ours), without reaping it: its id stays taken until
  // waitProcess or terminateProcess reaps it, so a later terminate never reaches another process.
  bool (*hasProcessEnded)(int32_t pid);
  // Keeps a process on the lower half of the processors (at least the first one). False on failure.
  bool (*limitToLowerHalfOfProcessors)(int32_t pid);
};

// The table in force; tests may overwrite entries and put the defaults back with ResetOsApi.
OsApi& Os();
void ResetOsApi();

// Splits a Windows-style command line by the rules of CommandLineToArgvW, so that quotes around
// arguments never reach a program as characters.
std::vector<std::string> SplitWindowsCommandLine(const std::string& commandLine);

}  // namespace hlx::os
