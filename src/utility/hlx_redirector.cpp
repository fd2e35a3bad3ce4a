// CRedirector and SyncRedirector: pipes, one reader thread per open redirector, and the child's
// exit code from waitpid (through the OS layer). The reader never blocks anywhere but in poll() on
// the output pipe and the stop pipe, so it always ends cooperatively.
#include "utility/hlx_redirector.h"

#include "os/hlx_os.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <system_error>

namespace hlx {
namespace {

// How long Close waits for the reader before it says so (the reader still ends cooperatively).
constexpr std::chrono::milliseconds kReaderStopWait{5000};
// Pieces of output handed to WriteStdOut: at most this many bytes, plus the terminating NUL.
constexpr size_t kPieceBytes = 255;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// True once the process that started with `startTicks` is no longer running (ended, or its id
// taken by another process). A zombie counts as ended: waitpid then returns at once.
bool HasEnded(int32_t pid, uint64_t startTicks) {
  return startTicks == 0 || os::Os().processStartTicks(pid) != startTicks;
}

}  // namespace

void ReapChildWhenItEnds(int32_t pid) {
  if (pid <= 0) return;
  // The entry is read here, not on the new thread, which may outlive a test's change of the table.
  int (*waitProcess)(int32_t) = os::Os().waitProcess;
  try {
    std::thread([pid, waitProcess] { waitProcess(pid); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until the service ends.
  }
}

// ---- CRedirector -----------------------------------------------------------------------------

CRedirector::~CRedirector() { CRedirector::Close(); }

bool CRedirector::Open(const std::string& commandLine) { return Open(os::SplitWindowsCommandLine(commandLine)); }

bool CRedirector::Open(const std::vector<std::string>& argv) {
  Close();
  // Close-on-exec everywhere: only the three descriptors that the start puts in place as the
  // child's 0, 1 and 2 reach it, and no other child started meanwhile holds our pipes open.
  int output[2] = {-1, -1};
  int input[2] = {-1, -1};
  int stop[2] = {-1, -1};
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(input, O_CLOEXEC) != 0 || pipe2(stop, O_CLOEXEC) != 0) {
    int fds[] = {output[0], output[1], input[0], input[1], stop[0], stop[1]};
    return FailOpen(errno, fds, 6);
  }
  // The reader takes what is there and goes back to poll().
  fcntl(output[0], F_SETFL, fcntl(output[0], F_GETFL) | O_NONBLOCK);

  os::SpawnOptions options;
  options.stdinFd = input[0];
  options.stdoutFd = output[1];
  options.stderrFd = output[1];
  os::SpawnResult child = os::Os().spawnProcess(argv, options);
  // The child has its copies; ours would keep the output pipe open after the child ended.
  CloseFd(&input[0]);
  CloseFd(&output[1]);
  if (child.pid == 0) {
    int fds[] = {output[0], input[1], stop[0], stop[1]};
    return FailOpen(child.error != 0 ? child.error : EINVAL, fds, 4);
  }
  uint64_t startTicks = os::Os().processStartTicks(child.pid);
  {
    MutexLock lock(m_mutex);
    m_childStdout = output[0];
    m_childStdin = input[1];
    m_stopRead = stop[0];
    m_stopWrite = stop[1];
    m_childPid = child.pid;
    m_exitCode = -1;
    m_readerRunning = true;
  }
  try {
    m_thread = std::thread(&CRedirector::ReaderMain, this, output[0], stop[0], child.pid, startTicks);
  } catch (const std::system_error& error) {
    {
      MutexLock lock(m_mutex);
      m_readerRunning = false;
    }
    return FailOpen(error.code().value(), nullptr,
                    0);  // Close() there leaves the child to the reaper
  }
  return true;
}

bool CRedirector::FailOpen(int error, int ownFds[], size_t ownFdCount) {
  char text[64];
  std::snprintf(text, sizeof(text), "Redirect console error: %x\r\n", static_cast<unsigned>(error));
  WriteStdError(text);
  for (size_t i = 0; i < ownFdCount; ++i) CloseFd(&ownFds[i]);
  Close();
  errno = error;
  return false;
}

void CRedirector::WriteStdOut(const char* text) { std::printf("%s", text); }

void CRedirector::WriteStdError(const char* text) { std::printf("%s", text); }

void CRedirector::Close() {
  bool fromReader;
  {
    MutexLock lock(m_mutex);
    fromReader = m_readerRunning && m_readerId == std::this_thread::get_id();
  }
  // The reader closes at its own end; only another thread stops it and joins it.
  if (!fromReader && m_thread.joinable()) {
    bool ended = false;
    {
      MutexLock lock(m_mutex);
      if (m_stopWrite >= 0) {
        char stopByte = 1;
        ssize_t written = write(m_stopWrite, &stopByte, 1);
        (void)written;  // the pipe is empty and ours: one byte always fits
      }
      const auto deadline = std::chrono::steady_clock::now() + kReaderStopWait;
      while (m_readerRunning && m_readerEnded.WaitUntil(m_mutex, deadline)) {
      }
      ended = !m_readerRunning;
    }
    // The reader is busy in a sink that does not return. It is never killed (that would leave its
    // locks and memory in any state); say so, and wait for it.
    if (!ended) WriteStdError("The redir thread is dead\r\n");
    m_thread.join();
  }
  CloseDescriptors();
}

void CRedirector::CloseDescriptors() {
  MutexLock lock(m_mutex);
  CloseFd(&m_stopRead);
  CloseFd(&m_stopWrite);
  CloseFd(&m_childStdin);
  CloseFd(&m_childStdout);
  if (m_childPid != 0) {
    ReapChildWhenItEnds(m_childPid);
    m_childPid = 0;
  }
}

int CRedirector::ExitCode() const {
  MutexLock lock(m_mutex);
  return m_exitCode;
}

void CRedirector::WaitForReader() {
  if (!m_thread.joinable()) return;
  {
    MutexLock lock(m_mutex);
    while (m_readerRunning) m_readerEnded.Wait(m_mutex);
  }
  m_thread.join();
}

void CRedirector::CloseChildInput() {
  MutexLock lock(m_mutex);
  CloseFd(&m_childStdin);
}

CRedirector::DrainResult CRedirector::Drain(int outputFd) {
  char piece[kPieceBytes + 1];
  for (;;) {
    ssize_t n = read(outputFd, piece, kPieceBytes);
    if (n > 0) {
      piece[n] = '\0';  // a NUL inside the output ends the text of this piece there
      WriteStdOut(piece);
      continue;
    }
    if (n == 0) return DrainResult::kEnded;  // every writer has closed the pipe
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return DrainResult::kMore;
    WriteStdError("Read stdout pipe error\r\n");
    return DrainResult::kEnded;
  }
}

void CRedirector::ReaderMain(int outputFd, int stopFd, int32_t pid, uint64_t startTicks) {
  {
    MutexLock lock(m_mutex);
    m_readerId = std::this_thread::get_id();
  }
  const std::chrono::milliseconds interval(m_waitIntervalMs);
  const int pollTimeoutMs = static_cast<int>(std::min<uint32_t>(m_waitIntervalMs, INT32_MAX));
  auto nextLook = std::chrono::steady_clock::now() + interval;
  bool outputEnded = false;
  bool childEnded = false;
  bool stopped = false;
  while (!outputEnded && !childEnded && !stopped) {
    if (Drain(outputFd) == DrainResult::kEnded) {
      outputEnded = true;
      break;
    }
    pollfd waits[2] = {{outputFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int ready = poll(waits, 2, pollTimeoutMs);
    if (ready < 0 && errno != EINTR) {
      WriteStdError("Read stdout pipe error\r\n");
      outputEnded = true;
      break;
    }
    if (ready > 0 && waits[1].revents != 0) {
      stopped = true;
      break;
    }
    // The child is looked at after each quiet interval, and at least once an interval while output
    // keeps coming (a program it left behind may hold the pipe open after it ended).
    auto now = std::chrono::steady_clock::now();
    if (ready == 0 || now >= nextLook) {
      nextLook = now + interval;
      if (HasEnded(pid, startTicks)) {
        childEnded = true;
        Drain(outputFd);  // what is still in the pipe is delivered
      }
    }
  }
  // Output ends when the child closes it, normally as it exits: wait for its end to read its exit
  // code. A stop request ends this wait too.
  while (outputEnded && !stopped && !childEnded) {
    if (HasEnded(pid, startTicks)) {
      childEnded = true;
      break;
    }
    pollfd stopWait = {stopFd, POLLIN, 0};
    if (poll(&stopWait, 1, pollTimeoutMs) > 0) stopped = true;
  }
  if (childEnded) {
    int exitCode = os::Os().waitProcess(pid);
    MutexLock lock(m_mutex);
    m_exitCode = exitCode;
    m_childPid = 0;
  }
  Close();
  {
    MutexLock lock(m_mutex);
    m_readerRunning = false;
  }
  m_readerEnded.NotifyAll();
}

// ---- SyncRedirector --------------------------------------------------------------------------

SyncRedirector::SyncRedirector(uint32_t waitIntervalMs) { SetWaitIntervalMs(waitIntervalMs); }

SyncRedirector::~SyncRedirector() { Close(); }

std::string SyncRedirector::Run(const std::vector<std::string>& argv, int* exitCode) {
  m_output.clear();
  int code = -1;
  if (Open(argv)) {
    CloseChildInput();
    WaitForReader();
    code = ExitCode();
  }
  if (exitCode != nullptr) *exitCode = code;
  return m_output;
}

std::string SyncRedirector::Run(const std::string& commandLine, int* exitCode) {
  return Run(os::SplitWindowsCommandLine(commandLine), exitCode);
}

void SyncRedirector::WriteStdOut(const char* text) { m_output += text; }

void SyncRedirector::WriteStdError(const char* text) { m_output += text; }

}  // namespace hlx
