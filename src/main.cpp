// Harlix entry point: reads the positional command line, creates the log folder, packs a crash report
// left unpacked there, starts logging, the watchdog and the service, waits in the quit-only main
// loop, and stops in order. Started as `Harlix --pack-crash-report <dump>` by a crashing service, it
// only packs that crash report and ends (0 when the archive was made).
//
// SIGTERM and SIGINT are taken by a signal thread (they are blocked everywhere else) and end the
// service the same orderly way as the watched desktop process ending does.
#include <signal.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_crash_report.h"
#include "utility/hlx_service.h"
#include "utility/hlx_startup_state.h"

namespace {

void StartSignalThread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  std::thread([signals] {
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    hlx::QuitMainLoop();
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == hlx::kCrashPackerOption) return hlx::PackCrashReport(argv[2]) ? 0 : 1;
  // Started by hand with a switch or a word: say the positions instead of running without a peer.
  if (argc > 1 && !hlx::IsPortArgument(argv[1])) {
    std::fputs(hlx::kCommandLineUsage, stderr);
    return 2;
  }

  // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  hlx::StartupState& state = hlx::GetStartupState();
  hlx::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &state);
  hlx::ReadTimingOverrides(&state);

  state.logFolder = hlx::MakeLogFolderPath(hlx::os::Os().tempPath(), state.logSubfolder, hlx::os::Os().currentTime());
  hlx::os::Os().createDirectories(state.logFolder);
  hlx::PackLeftCrashReports(state.logFolder);  // before this run's log file is there to be cleaned away
  hlx::StartLogging(state);
  hlx::InstallCrashHandler();

  StartSignalThread();
  hlx::StartWatchdog(state.watchedProcessId, state.watchdogPollMs, hlx::QuitMainLoop);
  hlx::StartDeviceService();
  hlx::RunMainLoop();
  hlx::StopDeviceService();
  return 0;
}
