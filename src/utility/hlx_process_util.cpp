// Process functions over the OS layer and the redirector. No state; any thread.
#include "utility/hlx_process_util.h"

#include "os/hlx_os.h"
#include "utility/hlx_redirector.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>

namespace hlx {
namespace {

constexpr uint32_t kCaptureWaitIntervalMs = 100;

std::vector<std::string> ArgumentVector(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  argv.reserve(arguments.size() + 1);
  argv.push_back(program);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::string ToLowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void RunArgvCapture(std::string& output, const std::vector<std::string>& argv, int* exitCode) {
  SyncRedirector redirector(kCaptureWaitIntervalMs);
  output = redirector.Run(argv, exitCode);
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& argument : arguments) {
    joined += ' ';
    joined += argument;
  }
  return joined;
}

void RunCommandCapture(std::string& output, const std::string& commandLine, int* exitCode) {
  RunArgvCapture(output, os::SplitWindowsCommandLine(commandLine), exitCode);
}

void RunProgramCapture(std::string& output, const std::string& program, const std::vector<std::string>& arguments,
                       int* exitCode) {
  RunArgvCapture(output, ArgumentVector(program, arguments), exitCode);
}

bool ShellExecuteElevated(const std::string& program, const std::vector<std::string>& arguments) {
  os::SpawnResult started = os::Os().spawnElevated(ArgumentVector(program, arguments));
  if (started.pid == 0) return false;
  ReapChildWhenItEnds(started.pid);
  return true;
}

SuspendedProcess StartProcessSuspended(const std::string& program, const std::vector<std::string>& arguments) {
  os::SpawnOptions options;
  options.suspended = true;
  os::SpawnResult started = os::Os().spawnProcess(ArgumentVector(program, arguments), options);
  SuspendedProcess process;
  if (started.pid == 0) return process;
  process.processId = started.pid;
  process.gateFd = started.gateFd;
  return process;
}

std::string FindProcessImagePath(int32_t processId) {
  if (processId <= 0) return {};
  std::vector<os::ProcessEntry> processes;
  if (!os::Os().listProcesses(&processes)) return {};
  for (const os::ProcessEntry& process : processes) {
    if (process.pid == processId) return process.imagePath;
  }
  return {};
}

namespace {

constexpr char kItunesImage[] = "itunes.exe";

// The executable's file name: the image path after its last separator (paths of either kind), or
// the listed name when the path could not be read.
std::string ImageFileName(const os::ProcessEntry& process) {
  if (process.imagePath.empty()) return process.name;
  const size_t separator = process.imagePath.find_last_of("/\\");
  return separator == std::string::npos ? process.imagePath : process.imagePath.substr(separator + 1);
}

// Every running process that `matches`, in the list's order.
template <typename Match>
std::vector<int32_t> FindProcesses(Match matches) {
  std::vector<os::ProcessEntry> processes;
  std::vector<int32_t> found;
  if (!os::Os().listProcesses(&processes)) return found;
  for (const os::ProcessEntry& process : processes) {
    if (matches(process)) found.push_back(process.pid);
  }
  return found;
}

}  // namespace

int32_t FindItunesProcess() {
  const std::vector<int32_t> found = FindProcesses([](const os::ProcessEntry& process) {
    return ToLowerAscii(process.imagePath).find(kItunesImage) != std::string::npos;
  });
  return found.empty() ? 0 : found.back();
}

int StopItunesProcesses() {
  // A forced stop by image name ends the player alone: a program whose path merely holds the name
  // ("NotiTunes.exe.bak", "/x/iTunes.exe/tool") is some other program and keeps running.
  const std::vector<int32_t> found = FindProcesses(
      [](const os::ProcessEntry& process) { return ToLowerAscii(ImageFileName(process)) == kItunesImage; });
  if (found.empty()) return kStopNoneFound;
  int result = kStopEnded;
  for (int32_t pid : found) {
    if (!os::Os().terminateProcess(pid)) result = kStopRefused;
  }
  return result;
}

int IsMobileDeviceServiceRunning() {
  static const char kServiceNames[] = "AppleMobileDeviceService.exe";
  std::vector<os::ProcessEntry> processes;
  if (!os::Os().listProcesses(&processes)) return 0;
  std::string names = kServiceNames;
  for (size_t start = 0; start <= names.size();) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string pattern = names.substr(start, end - start);
    start = end + 1;
    if (pattern.empty()) continue;
    for (const os::ProcessEntry& process : processes) {
      if (fnmatch(pattern.c_str(), process.name.c_str(), FNM_CASEFOLD) == 0) return 1;
    }
  }
  return 0;
}

}  // namespace hlx
