// The OS side of crash reports: catching the fatal signals that stand for an unhandled exception,
// writing the dump file, and the system's version for the description. Nothing here allocates in
// the signal path except through the callback, which runs once, on the crashing thread.
//
// Threads: installed on the main thread at start-up; the callback runs on whichever thread caught
// the signal, while the other threads still run.
#pragma once

#include <string>

namespace hlx::os {

// Runs `onFatalSignal` once, on the thread that caught SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT
// (the main thread's on a stack of its own, so that an overflow of its stack is reported too);
// afterwards the signal's default action ends the process. A second fatal signal during the
// callback ends the process at once, and so does a callback still running after `reportSeconds`
// (it may wait for a lock the crash left held).
void InstallFatalSignalHandler(void (*onFatalSignal)(int signal, const void* address), unsigned reportSeconds = 30);

// Writes the dump file: the signal, the faulting address, the thread and a backtrace of the
// crashing thread, as text. Uses only calls that are safe in a signal handler. False when the file
// cannot be created.
bool WriteCrashDump(const char* path, int signal, const void* address);

// The system's name, release and version ("Linux 6.1.0 #1 SMP ..."); "" when unknown.
std::string SystemVersionText();

}  // namespace hlx::os
