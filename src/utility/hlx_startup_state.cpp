// Command-line reading and the log folder path. Runs on the main thread during start-up.
#include "utility/hlx_startup_state.h"

#include <cstdlib>
#include <ctime>

#include "os/hlx_os.h"

namespace hlx {
namespace {

// Leading optional sign and decimal digits, like _wtoi64; anything else reads as 0. Values beyond
// 64 bits saturate instead of overflowing.
int64_t ReadInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 + digit;
  }
  if (saturated || value > static_cast<uint64_t>(INT64_MAX)) return negative ? INT64_MIN : INT64_MAX;
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

// _wtoi keeps the low 32 bits of a larger value; clamp instead so that a huge port or pid cannot
// wrap into a valid-looking one.
int32_t ReadInt32(const std::string& text) {
  int64_t value = ReadInteger(text);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

const char kCommandLineUsage[] =
    "usage: Harlix PORT PID CONSOLE SELFTEST LOGGING VERSION LOGFOLDER PRODUCT MODE - [TASKID]\n"
    "  PORT       the desktop peer's TCP port on 127.0.0.1 (0: no peer)\n"
    "  PID        the process to watch: the service quits when it is gone (0: none)\n"
    "  CONSOLE    1: copy the log lines to standard error (with LOGGING 1)\n"
    "  SELFTEST   1: run the self-test tasks\n"
    "  LOGGING    1: write the log\n"
    "  VERSION    the product version (in crash descriptions)\n"
    "  LOGFOLDER  the log sub-folder: logs go to $TMPDIR/LOGFOLDER/<yyyymmdd>/\n"
    "  PRODUCT    the product name (in crash descriptions)\n"
    "  MODE       0 normal, 1 with a task id, 2 elevated helper\n"
    "  -          a slot that is ignored\n"
    "  TASKID     the task id of device arrivals (read in mode 1 only)\n"
    "Missing positions count as 0 or empty. Example: Harlix 0 0 1 0 1 1.0 HarlixLogs Trevane 0\n";

bool IsPortArgument(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::atoi(text.c_str()) <= 65535;
}

StartupState& GetStartupState() {
  static StartupState* state = new StartupState();  // lives until the process ends
  return *state;
}

void ParseCommandLine(const std::vector<std::string>& args, StartupState* state) {
  auto at = [&args](size_t position) -> std::string { return position < args.size() ? args[position] : std::string(); };
  state->desktopPort = ReadInt32(at(0));
  state->watchedProcessId = ReadInt32(at(1));
  state->consoleEnabled = ReadInt32(at(2)) != 0;
  state->selfTest = ReadInt32(at(3)) != 0;
  state->loggingEnabled = ReadInt32(at(4)) != 0;
  state->productVersion = at(5);
  state->logSubfolder = at(6);
  state->productName = at(7);
  state->instanceMode = ReadInt32(at(8));
  // Position 9 is a slot that the service ignores.
  state->taskId = state->instanceMode == static_cast<int32_t>(InstanceMode::kWithTaskId) ? ReadInteger(at(10)) : 0;
}

void ReadTimingOverrides(StartupState* state) {
  auto read = [](const char* name, int32_t* value) {
    const char* text = std::getenv(name);
    if (!text) return;
    int64_t ms = ReadInteger(text);
    if (ms >= 1 && ms <= 3600000) *value = static_cast<int32_t>(ms);
  };
  read("HLX_WATCHDOG_POLL_MS", &state->watchdogPollMs);
  read("HLX_CONNECT_INTERVAL_MS", &state->connectIntervalMs);
  read("HLX_HEARTBEAT_INTERVAL_MS", &state->heartbeatIntervalMs);
  read("HLX_SQL_TIME_LIMIT_MS", &state->sqlTimeLimitMs);
}

std::string MakeLogFolderPath(const std::string& tempPath, const std::string& subfolder, int64_t now) {
  std::tm local{};
  char date[16] = "00000000";
  if (os::Os().localTime(now, &local)) {
    std::strftime(date, sizeof(date), "%Y%m%d", &local);
  }
  std::string folder = tempPath;
  if (folder.empty() || folder.back() != '/') folder += '/';
  if (!subfolder.empty()) folder += subfolder + "/";
  return folder + date;
}

}  // namespace hlx
