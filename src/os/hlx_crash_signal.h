// The OS side of crash reports: catching the fatal signals that stand for an unhandled exception,
// writing the dump file and the description, starting the helper process that packs the report,
// and the system's version for the description. Everything that runs in the signal path uses only
// calls that are safe in a signal handler: plain system calls, no allocation, no lock, no stdio.
//
// Threads: installed on the main thread at start-up; the callback runs on whichever thread caught
// the signal first, while the other threads still run.
#pragma once

#include <cstddef>
#include <string>

namespace hlx::os {

// Runs `onFatalSignal` once, on the thread that caught SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT
// first (the main thread's on a stack of its own, so that an overflow of its stack is reported too);
// afterwards the signal's default action ends the process. A fatal signal on another thread meanwhile
// parks that thread until the report ends the process; a second fatal signal inside the callback
// ends the process at once, and so does a callback still running after `reportSeconds`.
void InstallFatalSignalHandler(void (*onFatalSignal)(int signal, const void* address), unsigned reportSeconds = 30);

// Creates (or truncates) the dump file and takes an exclusive lock on it, which lasts while this
// descriptor or a copy of it (the helper's) is open: a start-up that finds a dump it cannot lock
// knows that its report is still being made. The descriptor is inherited across exec. -1 on failure.
// Safe in a signal handler.
int CreateCrashDump(const char* path);

// Writes the dump: the signal, the faulting address, the process, the thread, the raw return
// addresses of the calling thread ("frames:", one "0x..." a line) and the process's memory map
// ("maps:", as /proc/self/maps has it), as text. Best effort. Safe in a signal handler, also while
// another thread holds the loader's lock: naming the frames needs that lock, so it is left to
// NameCrashFrames in the packing process.
void WriteCrashDump(int fd, int signal, const void* address);

// Outside the signal path: the dump's text with its raw frames replaced by a "backtrace:" section, a
// line per frame as "module(symbol+0xoffset) [0xaddress]" ("module(+0xoffset)" when the symbol is
// unknown, for instance in a library this process has not loaded); the memory map stays. A text
// without raw frames comes back unchanged.
std::string NameCrashFrames(const std::string& dumpText);

// Creates (or truncates) the file and writes `size` bytes; false when it cannot be created or a
// write fails. Safe in a signal handler.
bool WriteCrashFile(const char* path, const char* data, size_t size);

// Closes a descriptor of CreateCrashDump. Safe in a signal handler.
void CloseCrashFile(int fd);

// Starts this program's own executable with `argv` (null-terminated) and the present environment,
// in a process of its own (no fork handlers run, no lock of this process is taken), with
// `inheritedFd` as its descriptor 3, descriptors 0 to 2 kept, every other one closed and no signal
// blocked; then waits up to `waitSeconds` for it to end. A helper still running then is killed.
// True when it ended in time with exit code 0. Safe in a signal handler.
bool RunCrashHelper(char* const argv[], int inheritedFd, unsigned waitSeconds);

// Outside the signal path: opens the dump and takes its lock without waiting; -1 when the file
// cannot be opened or another process holds the lock (its report is being made).
int LockIdleCrashDump(const std::string& path);

// The system's name, release and version ("Linux 6.1.0 #1 SMP ..."); "" when unknown.
std::string SystemVersionText();

}  // namespace hlx::os
