// Fatal signals, dump files and the system version.
#include "os/hlx_crash_signal.h"

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace hlx::os {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAlternateStackBytes = 256 * 1024;

std::atomic<void (*)(int, const void*)> g_onFatalSignal{nullptr};
std::atomic<unsigned> g_reportSeconds{30};
std::atomic<bool> g_reporting{false};
std::atomic<int> g_fatalSignal{0};

// The report did not end in time: the faulting thread may wait for a lock that it or a stopped
// thread holds (the allocator's, a log's). The fatal signal's default action ends the process now.
void OnReportOverdue(int) {
  const int signal = g_fatalSignal.load();
  ::signal(signal, SIG_DFL);
  sigset_t fatal;
  sigemptyset(&fatal);
  sigaddset(&fatal, signal);
  (void)::pthread_sigmask(SIG_UNBLOCK, &fatal, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void OnFatalSignal(int signal, siginfo_t* info, void* /*context*/) {
  // One report per process: a fault inside the report, or on another thread meanwhile, only ends
  // the process.
  if (!g_reporting.exchange(true)) {
    g_fatalSignal.store(signal);
    struct sigaction overdue {};
    overdue.sa_handler = OnReportOverdue;
    sigemptyset(&overdue.sa_mask);
    (void)::sigaction(SIGALRM, &overdue, nullptr);
    ::alarm(g_reportSeconds.load());
    if (auto callback = g_onFatalSignal.load()) callback(signal, info != nullptr ? info->si_addr : nullptr);
  }
  // The signal stays blocked until the handler returns; then its default action ends the process.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Writes a NUL-terminated text; the result is not checked, a dump is best effort.
void WriteText(int fd, const char* text) { (void)!::write(fd, text, ::strlen(text)); }

void WriteNumber(int fd, uint64_t value, int base) {
  char digits[32];
  int length = 0;
  do {
    digits[length++] = "0123456789abcdef"[value % static_cast<uint64_t>(base)];
    value /= static_cast<uint64_t>(base);
  } while (value != 0 && length < static_cast<int>(sizeof(digits)));
  char text[34];
  for (int i = 0; i < length; ++i) text[i] = digits[length - 1 - i];
  text[length] = '\0';
  WriteText(fd, text);
}

}  // namespace

void InstallFatalSignalHandler(void (*onFatalSignal)(int signal, const void* address), unsigned reportSeconds) {
  g_onFatalSignal.store(onFatalSignal);
  g_reportSeconds.store(reportSeconds);
  // Lives until the process ends: it is the stack the handler runs on.
  static void* alternateStack = std::malloc(kAlternateStackBytes);
  if (alternateStack != nullptr) {
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = kAlternateStackBytes;
    (void)::sigaltstack(&stack, nullptr);
  }
  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) (void)::sigaction(signal, &action, nullptr);
}

bool WriteCrashDump(const char* path, int signal, const void* address) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  WriteText(fd, "Harlix crash dump\nsignal: ");
  WriteNumber(fd, static_cast<uint64_t>(signal), 10);
  WriteText(fd, "\naddress: 0x");
  WriteNumber(fd, reinterpret_cast<uintptr_t>(address), 16);
  WriteText(fd, "\nprocess: ");
  WriteNumber(fd, static_cast<uint64_t>(::getpid()), 10);
  WriteText(fd, "\nthread: ");
  WriteNumber(fd, static_cast<uint64_t>(::syscall(SYS_gettid)), 10);
  WriteText(fd, "\nbacktrace:\n");
  void* frames[64];
  const int count = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, count, fd);
  ::close(fd);
  return true;
}

std::string SystemVersionText() {
  struct utsname name {};
  if (::uname(&name) != 0) return "";
  return std::string(name.sysname) + " " + name.release + " " + name.version;
}

}  // namespace hlx::os
