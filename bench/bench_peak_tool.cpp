// Runs one program and prints its wall-clock seconds and its peak resident memory, for the Python
// benchmarks. Linux carries a process's peak resident size over exec, so a program started straight
// from Python reports Python's peak when its own is smaller; started from this small program, it
// carries only this program's (printed by running `true` through it).
//
//   bench_peak_tool <seconds of time-out> <program> [arguments...]
//
// The program's output goes to /dev/null. Prints "<seconds> <peak KiB> <exit code>" on one line: the
// peak is the largest of the program and of the children it waited for (a pipeline's largest
// process). A program still running after the time-out is killed and reported with exit code 124.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

pid_t g_child = 0;
bool g_timedOut = false;

void OnAlarm(int) {
  g_timedOut = true;
  if (g_child > 0) kill(g_child, SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::atoi(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: bench_peak_tool <seconds of time-out> <program> [arguments...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  g_child = fork();
  if (g_child < 0) return 2;
  if (g_child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  struct sigaction action {};
  action.sa_handler = OnAlarm;
  sigaction(SIGALRM, &action, nullptr);
  alarm(static_cast<unsigned>(std::atoi(argv[1])));
  int status = 0;
  rusage usage{};
  pid_t done;
  do {
    done = wait4(g_child, &status, 0, &usage);
  } while (done < 0 && errno == EINTR);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (done != g_child) return 2;
  const int code = g_timedOut ? 124 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
  return 0;
}
