// POSIX bodies of the OS layer. Child processes are started with fork and exec (never a shell);
// a suspended start holds the child before exec on a gate pipe until the caller resumes it.
#include "os/hlx_os.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hlx::os {
namespace {

std::string DefaultTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string ReadLink(const std::string& link) {
  char buffer[PATH_MAX];
  ssize_t n = readlink(link.c_str(), buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

std::string DefaultProgramPath() { return ReadLink("/proc/self/exe"); }

int32_t DefaultCurrentProcessId() { return static_cast<int32_t>(getpid()); }

uint64_t DefaultProcessStartTicks(int32_t pid) {
  if (pid <= 0) return 0;
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return 0;
  // The command name may hold blanks and parentheses: the fields that follow start after the last ')'.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string state;
  fields >> state;
  // A zombie has ended; only its parent has not reaped it yet.
  if (state == "Z" || state == "X") return 0;
  std::string skip;
  for (int field = 4; field < 22; ++field) fields >> skip;  // fields 4..21
  uint64_t startTicks = 0;
  fields >> startTicks;
  return startTicks == 0 ? 1 : startTicks;
}

bool DefaultListProcesses(std::vector<ProcessEntry>* out) {
  out->clear();
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    ProcessEntry process;
    process.pid = static_cast<int32_t>(pid);
    std::string base = std::string("/proc/") + entry->d_name;
    process.imagePath = ReadLink(base + "/exe");
    if (!process.imagePath.empty()) {
      process.name = process.imagePath.substr(process.imagePath.rfind('/') + 1);
    } else {
      std::ifstream comm(base + "/comm");
      std::getline(comm, process.name);
    }
    out->push_back(std::move(process));
  }
  closedir(proc);
  return true;
}

SpawnResult DefaultSpawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options) {
  SpawnResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = EINVAL;
    return result;
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  int gate[2] = {-1, -1};
  if (options.suspended && pipe2(gate, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  // The child writes its exec errno here; a successful exec closes the pipe (O_CLOEXEC).
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = errno;
    if (gate[0] >= 0) {
      close(gate[0]);
      close(gate[1]);
    }
    return result;
  }

  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    if (options.stdinFd >= 0) dup2(options.stdinFd, 0);
    if (options.stdoutFd >= 0) dup2(options.stdoutFd, 1);
    if (options.stderrFd >= 0) dup2(options.stderrFd, 2);
    if (options.suspended) {
      char byte;
      while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
      }
    }
    execvp(args[0], args.data());
    int error = errno;
    ssize_t ignored = write(report[1], &error, sizeof(error));
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  if (gate[0] >= 0) close(gate[0]);
  if (pid < 0) {
    result.error = errno;
    close(report[0]);
    if (gate[1] >= 0) close(gate[1]);
    return result;
  }
  if (options.suspended) {
    // The exec has not happened yet; its failure shows as exit code 127 later.
    close(report[0]);
    result.pid = pid;
    result.gateFd = gate[1];
    return result;
  }
  int error = 0;
  ssize_t n;
  while ((n = read(report[0], &error, sizeof(error))) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof(error))) {
    waitpid(pid, nullptr, 0);
    result.error = error;
    return result;
  }
  result.pid = pid;
  return result;
}

bool DefaultResumeProcess(int gateFd) {
  if (gateFd < 0) return false;
  char go = 1;
  bool written = write(gateFd, &go, 1) == 1;
  close(gateFd);
  return written;
}

SpawnResult DefaultSpawnElevated(const std::vector<std::string>& argv) {
  return Os().spawnProcess(argv, SpawnOptions{});
}

bool DefaultTerminateProcess(int32_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, SIGKILL) != 0 && errno != ESRCH) return false;
  // Reap our own child; a process that is not ours is gone once kill succeeded.
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return true;
}

int DefaultWaitProcess(int32_t pid) {
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (done != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DefaultCreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string level = path.substr(0, slash);
    if (!level.empty() && mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return IsDirectory(path);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

bool DefaultDeleteTree(const std::string& path) {
  // Refuse what could only be a caller's mistake: nothing, the root, or a path relative to wherever
  // the process happens to stand.
  if (path.empty() || path[0] != '/' || path.find_first_not_of('/') == std::string::npos) {
    return false;
  }
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return nftw(path.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}

// The wall clock read as gettimeofday and clock_gettime read it, never by time(): glibc serves
// time() from the coarse clock, which still shows the previous second for up to a scheduler tick
// after the second has turned. Moments this process stamps must not lie before moments that other
// processes read just before asking for them.
int64_t DefaultCurrentTime() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return static_cast<int64_t>(std::time(nullptr));
  return static_cast<int64_t>(now.tv_sec);
}

bool DefaultLocalTime(int64_t secondsSinceEpoch, std::tm* out) {
  std::time_t moment = static_cast<std::time_t>(secondsSinceEpoch);
  if (static_cast<int64_t>(moment) != secondsSinceEpoch) return false;
  return localtime_r(&moment, out) != nullptr;
}

// ASCII case folding only: registry names in use are ASCII, and UTF-8 bytes above 0x7F compare
// as they are.
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

constexpr std::streamoff kMaxRegistryFileBytes = 1 << 20;

bool DefaultReadRegistryValue(const std::string& key, const std::string& name, std::string* value) {
  const char* file = std::getenv("HLX_REGISTRY_FILE");
  if (file == nullptr || file[0] == '\0') return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxRegistryFileBytes) return false;
  in.seekg(0, std::ios::beg);
  bool inKey = false;
  bool found = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      inKey = line.size() >= 2 && line.back() == ']' && EqualsIgnoringAsciiCase(line.substr(1, line.size() - 2), key);
      continue;
    }
    size_t equals = line.find('=');
    if (!inKey || equals == std::string::npos) continue;
    if (EqualsIgnoringAsciiCase(line.substr(0, equals), name)) {
      *value = line.substr(equals + 1);
      found = true;
    }
  }
  return found;
}

bool DefaultHasProcessEnded(int32_t pid) {
  if (pid <= 0) return true;
  siginfo_t info{};
  int result;
  while ((result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT)) < 0 && errno == EINTR) {
  }
  if (result < 0) return true;  // ECHILD: reaped already, or not ours
  return info.si_pid == pid;
}

bool DefaultLimitToLowerHalfOfProcessors(int32_t pid) {
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  const long half = std::max(1L, std::min<long>(processors / 2, CPU_SETSIZE));
  cpu_set_t set;
  CPU_ZERO(&set);
  for (long cpu = 0; cpu < half; ++cpu) CPU_SET(static_cast<int>(cpu), &set);
  return sched_setaffinity(pid, sizeof set, &set) == 0;
}

constexpr OsApi kDefaultOsApi = {
    DefaultTempPath,
    DefaultProgramPath,
    DefaultCurrentProcessId,
    DefaultProcessStartTicks,
    DefaultListProcesses,
    DefaultSpawnProcess,
    DefaultResumeProcess,
    DefaultSpawnElevated,
    DefaultTerminateProcess,
    DefaultWaitProcess,
    DefaultCreateDirectories,
    DefaultDeleteTree,
    DefaultCurrentTime,
    DefaultLocalTime,
    DefaultReadRegistryValue,
    DefaultHasProcessEnded,
    DefaultLimitToLowerHalfOfProcessors,
};

OsApi g_osApi = kDefaultOsApi;

}  // namespace

OsApi& Os() { return g_osApi; }

void ResetOsApi() { g_osApi = kDefaultOsApi; }

std::vector<std::string> SplitWindowsCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = commandLine.size();
  while (true) {
    while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = commandLine[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && commandLine[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && commandLine[i] == '"') {
          // 2n backslashes before a quote are n backslashes and the quote delimits;
          // 2n+1 are n backslashes and a literal quote.
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
          arg += '"';  // "" inside quotes is one literal quote
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace hlx::os
