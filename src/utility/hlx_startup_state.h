// The process-wide values that start-up reads from the command line and the folders derived from
// them. Written once by the main thread before any other thread starts; read by every thread after.
// The quitting flag is the one value that changes later, and it is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace hlx {

// Instance modes of command-line position 8.
enum class InstanceMode : int32_t {
  kNormal = 0,
  kWithTaskId = 1,
  kElevatedHelper = 2,
};

struct StartupState {
  int32_t desktopPort = 0;       // position 0; 0 means no peer
  int32_t watchedProcessId = 0;  // position 1
  bool consoleEnabled = false;   // position 2
  bool selfTest = false;         // position 3
  bool loggingEnabled = false;   // position 4
  std::string productVersion;    // position 5
  std::string logSubfolder;      // position 6
  std::string productName;       // position 7
  int32_t instanceMode = 0;      // position 8
  int64_t taskId = 0;            // position 10, read only in mode 1

  // The temporary path, the log sub-folder and today's date as yyyymmdd; no trailing '/'.
  std::string logFolder;

  // Intervals that tests shorten through the environment (HLX_WATCHDOG_POLL_MS, HLX_CONNECT_INTERVAL_MS,
  // HLX_HEARTBEAT_INTERVAL_MS); the defaults are the ones the desktop side expects. The time bound of
  // a device database connection (HLX_SQL_TIME_LIMIT_MS; 0: HLXSqlite's default).
  int32_t watchdogPollMs = 500;
  int32_t connectIntervalMs = 1000;
  int32_t heartbeatIntervalMs = 30000;
  int32_t sqlTimeLimitMs = 0;

  std::atomic<bool> quitting{false};         // set by QuitMainLoop; packets are refused after it
  std::atomic<bool> loggingShutDown{false};  // glog is shut down at most once
};

StartupState& GetStartupState();

// Reads the positional command line (the arguments after the program name). Missing positions
// count as 0 or empty, and numbers are read like _wtoi: leading digits, anything else 0.
void ParseCommandLine(const std::vector<std::string>& args, StartupState* state);

// True when the text can be the first position: a TCP port, 0 to 65535 in decimal digits. Anything
// else (a "--help", a word) means the program was started by hand without knowing its positions.
bool IsPortArgument(const std::string& text);

// What the program prints, on standard error, when its first argument is no port: the positions.
extern const char kCommandLineUsage[];

// Reads the interval overrides from the environment; values outside 1..3600000 ms are ignored.
void ReadTimingOverrides(StartupState* state);

// The log folder for a sub-folder name and a local date: <temp>/<name>/<yyyymmdd>.
std::string MakeLogFolderPath(const std::string& tempPath, const std::string& subfolder, int64_t now);

}  // namespace hlx
