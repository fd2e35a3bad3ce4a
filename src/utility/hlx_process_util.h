// Process functions that the modules share: run a program and capture its output, start a program
// elevated or suspended, and find processes. Everything goes through the OS layer (os/hlx_os.h), so
// tests can replace process starts and the process list. Programs get argument vectors end to end:
// an argument holding blanks or quotes reaches the program as it is; nothing splits on blanks.
// No state; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hlx {

// The texts each preceded by one blank, so the result begins with a blank when the list is not
// empty ({"a", "b c"} gives " a b c"). For logs and messages only: no program is started from it.
std::string JoinArguments(const std::vector<std::string>& arguments);

// Runs a Windows-style command line hidden (split by the rules of CommandLineToArgvW: quotes group
// arguments and are not passed on) through a SyncRedirector with a 100 ms wait interval; `output`
// gets everything the program printed (its output and error), *exitCode (when not null) its exit
// code (-1 when it could not be started; the output then holds "Redirect console error: %x\r\n").
void RunCommandCapture(std::string& output, const std::string& commandLine, int* exitCode);

// Runs the program with the argument vector as given, as RunCommandCapture does.
void RunProgramCapture(std::string& output, const std::string& program, const std::vector<std::string>& arguments,
                       int* exitCode);

// Starts the program with raised rights (here a plain start; tests replace the OS layer's
// spawnElevated to simulate a refusal). True when it was started. It is not waited for: it is
// reaped when it ends.
bool ShellExecuteElevated(const std::string& program, const std::vector<std::string>& arguments);

// A program started suspended: it has not run any of its own code yet. The caller lets it run with
// Os().resumeProcess(gateFd), and waits for it (Os().waitProcess) or ends it
// (Os().terminateProcess). All zero (gateFd -1) when the start failed; a program that does not
// exist shows only after the resume, as exit code 127.
struct SuspendedProcess {
  int32_t processId = 0;
  int gateFd = -1;
};
SuspendedProcess StartProcessSuspended(const std::string& program, const std::vector<std::string>& arguments);

// Full path of a process's executable, or "" when there is no such process or it cannot be read.
std::string FindProcessImagePath(int32_t processId);

// The id of a running process whose executable path contains "itunes.exe" without regard to case
// (the last such process in the list), or 0.
int32_t FindItunesProcess();

// Results of StopItunesProcesses: the exit codes of the platform's forced stop by image name, which
// the desktop has always been answered with.
constexpr int kStopEnded = 0;
constexpr int kStopNoneFound = 128;
constexpr int kStopRefused = 1;
// Ends, by force, every process whose executable's file name is "iTunes.exe" without regard to case
// (of the image path; the listed name when the path is unreadable): kStopEnded when each was ended,
// kStopNoneFound when none runs (or the list cannot be read), kStopRefused when one could not be
// ended (it belongs to another user). A process whose path merely contains the name is left alone.
int StopItunesProcesses();

// 1 when a process whose executable name matches "AppleMobileDeviceService.exe" runs (wildcard
// patterns, case-insensitive; the name list is split at ';'), else 0 (also when the list cannot be
// read).
int IsMobileDeviceServiceRunning();

}  // namespace hlx
