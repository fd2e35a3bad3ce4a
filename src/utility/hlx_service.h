// The service's life cycle: the quit-only main loop, the watchdog on the desktop process, the table
// of child processes that must not outlive the service, and the self-test mode's checks.
//
// Threads: RunMainLoop runs on the main thread; QuitMainLoop and WaitForQuit may be called from any
// thread; the watchdog has a thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "utility/hlx_startup_state.h"

namespace hlx {

class HLXDevice;

// Sets the quitting flag and wakes the main loop and every WaitForQuit.
void QuitMainLoop();

// Blocks the calling (main) thread until QuitMainLoop.
void RunMainLoop();

// Waits up to timeoutMs for QuitMainLoop; true when the service is quitting. Used where start-up
// would otherwise sleep, so that a quit is never held up by a retry interval.
bool WaitForQuit(int32_t timeoutMs);

// Starts the watchdog on a process, or re-targets it (which also wakes a watchdog that has already
// reported its old process gone). The process is polled every `pollMs`; when it is gone, or when it
// is not there at the first poll, `onGone` runs once per watched process. A process id of 0 watches
// nothing, so a service started by hand runs until it is signalled.
void StartWatchdog(int32_t processId, int32_t pollMs, std::function<void()> onGone);

// Child processes that are terminated, and whose work folders are deleted, at stop.
void AddChildProcess(int32_t processId, const std::string& folder);
// False when the process was no longer listed: a stop has terminated it and deleted its folder.
bool RemoveChildProcess(int32_t processId);
// Terminates every listed process (in process-id order) and deletes its folder; empties the table.
void TerminateChildProcesses();

}  // namespace hlx

namespace hlx {

// glog into the log folder, unbuffered, 20 MB files; with the console flag also to standard error.
// With logging off nothing is written anywhere.
void StartLogging(const StartupState& state);
// Shuts glog down once, whoever asks first (stop or a crash report).
void StopLogging();

// Start-up after the command line and logging: watchdog target, client connection and the rest of
// the service. Returns the device monitor's start code (0 until the monitor exists).
int StartDeviceService();
// Stop: logging, child processes, the process temporary folder.
void StopDeviceService();

// Self-test mode: at start-up (no device) the built-in checks; with a device, the device's own.
void RunSelfTestTask(std::shared_ptr<HLXDevice> device);

}  // namespace hlx
