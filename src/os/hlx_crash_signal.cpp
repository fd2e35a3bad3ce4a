// Fatal signals, dump and description files, the packing helper's start, the naming of a dump's
// frames (in the packing process) and the system version.
#include "os/hlx_crash_signal.h"

#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace hlx::os {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAlternateStackBytes = 256 * 1024;
constexpr int kHelperFd = 3;  // where the helper finds the descriptor it inherits
constexpr long kHelperPollNanoseconds = 5'000'000;

std::atomic<void (*)(int, const void*)> g_onFatalSignal{nullptr};
std::atomic<unsigned> g_reportSeconds{30};
std::atomic<pid_t> g_reportingThread{0};  // the thread making the report; 0 before the first signal
std::atomic<int> g_fatalSignal{0};

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// The report did not end in time: the faulting thread may wait for something that never comes. The
// fatal signal's default action ends the process now.
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
  // One report per process. A fault on another thread meanwhile waits here: its default action
  // would end the process before the report is whole. A fault inside the report only ends it.
  const pid_t self = CurrentThreadId();
  pid_t reporter = 0;
  if (g_reportingThread.compare_exchange_strong(reporter, self)) {
    g_fatalSignal.store(signal);
    struct sigaction overdue {};
    overdue.sa_handler = OnReportOverdue;
    sigemptyset(&overdue.sa_mask);
    (void)::sigaction(SIGALRM, &overdue, nullptr);
    ::alarm(g_reportSeconds.load());
    if (auto callback = g_onFatalSignal.load()) callback(signal, info != nullptr ? info->si_addr : nullptr);
  } else if (reporter != self) {
    for (;;) ::pause();  // the reporting thread, or its time bound, ends the process
  }
  // The signal stays blocked until the handler returns; then its default action ends the process.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Writes every byte, going on after a short write or an interruption; false on an error.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Writes a NUL-terminated text; the result is not checked, a dump is best effort.
void WriteText(int fd, const char* text) { (void)WriteAll(fd, text, ::strlen(text)); }

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

int64_t MonotonicNanoseconds() {
  struct timespec now {};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// In the helper's process, between _Fork and exec: only system calls.
[[noreturn]] void ExecHelper(char* const argv[], int inheritedFd) {
  int firstClosed = kHelperFd;
  if (inheritedFd >= 0) {
    if (inheritedFd != kHelperFd && ::dup2(inheritedFd, kHelperFd) < 0) ::_exit(127);
    firstClosed = kHelperFd + 1;
  }
  // Nothing of the service stays open in the helper: above all not the peer's connection.
  if (::close_range(static_cast<unsigned>(firstClosed), ~0U, 0) != 0) {
    for (int fd = firstClosed; fd < 65536; ++fd) (void)::close(fd);
  }
  sigset_t none;
  sigemptyset(&none);
  (void)::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve("/proc/self/exe", argv, environ);
  ::_exit(127);
}

// One file in a memory map: its path and the lowest address it is mapped at, the base that
// offsets within it are counted from.
struct MappedFile {
  std::string path;
  uintptr_t base = 0;
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;  // [start, end) of each of its mappings
};

// The files of a map in /proc/<pid>/maps form: "start-end perms offset dev inode path".
std::vector<MappedFile> ReadMappedFiles(const std::string& maps) {
  std::vector<MappedFile> files;
  size_t at = 0;
  while (at < maps.size()) {
    size_t end = maps.find('\n', at);
    if (end == std::string::npos) end = maps.size();
    const std::string line = maps.substr(at, end - at);
    at = end + 1;
    const size_t slash = line.find('/');
    char* rest = nullptr;
    const uintptr_t start = static_cast<uintptr_t>(std::strtoull(line.c_str(), &rest, 16));
    if (slash == std::string::npos || rest == nullptr || *rest != '-') continue;
    const uintptr_t stop = static_cast<uintptr_t>(std::strtoull(rest + 1, nullptr, 16));
    const std::string path = line.substr(slash);
    auto found = std::find_if(files.begin(), files.end(), [&](const MappedFile& f) { return f.path == path; });
    if (found == files.end()) {
      files.push_back(MappedFile{path, start, {}});
      found = files.end() - 1;
    }
    found->base = std::min(found->base, start);
    found->ranges.emplace_back(start, stop);
  }
  return files;
}

// One frame named from the crashed process's map and this process's own: the same file mapped here
// lets dladdr name the symbol at the same offset.
std::string NameFrame(uintptr_t address, const std::vector<MappedFile>& crashed, const std::vector<MappedFile>& own) {
  char hex[32];
  std::snprintf(hex, sizeof(hex), "0x%" PRIxPTR, address);
  const std::string where = std::string(" [") + hex + "]";
  auto inFile = [address](const MappedFile& file) {
    return std::any_of(file.ranges.begin(), file.ranges.end(),
                       [address](const auto& range) { return address >= range.first && address < range.second; });
  };
  const auto file = std::find_if(crashed.begin(), crashed.end(), inFile);
  if (file == crashed.end()) return where.substr(1);
  const uintptr_t offset = address - file->base;
  const auto mine = std::find_if(own.begin(), own.end(), [&](const MappedFile& f) { return f.path == file->path; });
  Dl_info info{};
  if (mine != own.end() && ::dladdr(reinterpret_cast<void*>(mine->base + offset), &info) != 0 &&
      info.dli_sname != nullptr) {
    const uintptr_t symbolOffset = mine->base + offset - reinterpret_cast<uintptr_t>(info.dli_saddr);
    std::snprintf(hex, sizeof(hex), "0x%" PRIxPTR, symbolOffset);
    return file->path + "(" + info.dli_sname + "+" + hex + ")" + where;
  }
  std::snprintf(hex, sizeof(hex), "0x%" PRIxPTR, offset);
  return file->path + "(+" + hex + ")" + where;
}

}  // namespace

void InstallFatalSignalHandler(void (*onFatalSignal)(int signal, const void* address), unsigned reportSeconds) {
  g_onFatalSignal.store(onFatalSignal);
  g_reportSeconds.store(reportSeconds);
  // The first backtrace loads the unwinder, which allocates: done here, never in the handler.
  void* frame = nullptr;
  (void)::backtrace(&frame, 1);
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

int CreateCrashDump(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);  // inherited by the helper
  if (fd < 0) return -1;
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  return fd;
}

void WriteCrashDump(int fd, int signal, const void* address) {
  if (fd < 0) return;
  WriteText(fd, "Harlix crash dump\nsignal: ");
  WriteNumber(fd, static_cast<uint64_t>(signal), 10);
  WriteText(fd, "\naddress: 0x");
  WriteNumber(fd, reinterpret_cast<uintptr_t>(address), 16);
  WriteText(fd, "\nprocess: ");
  WriteNumber(fd, static_cast<uint64_t>(::getpid()), 10);
  WriteText(fd, "\nthread: ");
  WriteNumber(fd, static_cast<uint64_t>(CurrentThreadId()), 10);
  // backtrace() unwinds without the loader's lock; naming the frames (dladdr) would wait for it, and
  // a thread inside dlopen holds it as long as a library's initialisers run.
  WriteText(fd, "\nframes:\n");
  void* frames[64];
  const int count = ::backtrace(frames, 64);
  for (int i = 0; i < count; ++i) {
    WriteText(fd, "0x");
    WriteNumber(fd, reinterpret_cast<uintptr_t>(frames[i]), 16);
    WriteText(fd, "\n");
  }
  WriteText(fd, "maps:\n");
  const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps < 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(maps, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || !WriteAll(fd, chunk, static_cast<size_t>(got))) break;
  }
  (void)::close(maps);
}

std::string NameCrashFrames(const std::string& dumpText) {
  static const std::string kFrames = "\nframes:\n";
  static const std::string kMaps = "maps:\n";
  const size_t framesAt = dumpText.find(kFrames);
  if (framesAt == std::string::npos) return dumpText;
  const size_t listAt = framesAt + kFrames.size();
  size_t mapsAt = dumpText.find("\n" + kMaps, framesAt);
  mapsAt = mapsAt == std::string::npos ? dumpText.size() : mapsAt + 1;
  const std::vector<MappedFile> crashed = ReadMappedFiles(dumpText.substr(std::min(mapsAt + kMaps.size(), dumpText.size())));
  std::string ownMaps;
  if (FILE* file = std::fopen("/proc/self/maps", "re")) {
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) ownMaps.append(chunk, got);
    std::fclose(file);
  }
  const std::vector<MappedFile> own = ReadMappedFiles(ownMaps);

  std::string named = dumpText.substr(0, framesAt) + "\nbacktrace:\n";
  size_t lineAt = listAt;
  while (lineAt < mapsAt) {
    size_t end = dumpText.find('\n', lineAt);
    if (end == std::string::npos || end > mapsAt) end = mapsAt;
    const std::string line = dumpText.substr(lineAt, end - lineAt);
    lineAt = end + 1;
    if (line.empty()) continue;
    const uintptr_t address = static_cast<uintptr_t>(std::strtoull(line.c_str(), nullptr, 16));
    named += NameFrame(address, crashed, own) + "\n";
  }
  return named + dumpText.substr(std::min(mapsAt, dumpText.size()));
}

bool WriteCrashFile(const char* path, const char* data, size_t size) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool whole = WriteAll(fd, data, size);
  return ::close(fd) == 0 && whole;
}

void CloseCrashFile(int fd) {
  if (fd >= 0) (void)::close(fd);
}

bool RunCrashHelper(char* const argv[], int inheritedFd, unsigned waitSeconds) {
  // _Fork, unlike fork, runs no fork handlers and takes none of the allocator's locks, which the
  // crash may have left held.
  const pid_t child = ::_Fork();
  if (child < 0) return false;
  if (child == 0) ExecHelper(argv, inheritedFd);
  const int64_t deadline = MonotonicNanoseconds() + static_cast<int64_t>(waitSeconds) * 1'000'000'000;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ended < 0 && errno != EINTR) return false;
    if (MonotonicNanoseconds() >= deadline) {
      (void)::kill(child, SIGKILL);
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    struct timespec step {
      0, kHelperPollNanoseconds
    };
    (void)::nanosleep(&step, nullptr);
  }
}

int LockIdleCrashDump(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    (void)::close(fd);
    return -1;
  }
  return fd;
}

std::string SystemVersionText() {
  struct utsname name {};
  if (::uname(&name) != 0) return "";
  return std::string(name.sysname) + " " + name.release + " " + name.version;
}

}  // namespace hlx::os
