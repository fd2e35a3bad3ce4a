// Child processes with redirected output. CRedirector starts a program whose standard input, output
// and error are pipes (output and error share one pipe), and a reader thread that passes the
// child's output, piece by piece, to the virtual text sinks. SyncRedirector is the blocking form
// used by the command runner: it collects all output into one string and returns when the child has
// finished.
//
// Threads: one owner thread calls Open, Close and Run; the reader thread calls WriteStdOut,
// WriteStdError and, at its end, Close. The reader stops cooperatively: it waits in poll() on the
// output pipe and a stop pipe, so Close from the owner ends it promptly (nothing is ever killed).
// A derived class whose sinks use its own members calls Close() in its destructor, so that the
// reader has ended before those members go away (SyncRedirector does).
//
// The child is started with an argument vector through the OS layer, never through a shell.
// Programs that are still running when the redirector closes keep running; they are reaped when
// they end, so no zombie stays behind.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "utility/hlx_lock_order.h"

namespace hlx {

// Reaps a child of this process once it has ended, on a detached thread, so that a program that was
// started and left running does not stay behind as a zombie.
void ReapChildWhenItEnds(int32_t pid);

class CRedirector {
 public:
  CRedirector() = default;
  CRedirector(const CRedirector&) = delete;
  CRedirector& operator=(const CRedirector&) = delete;
  virtual ~CRedirector();

  // Starts the program with argv (argv[0] is searched on PATH when it holds no '/') and the reader
  // thread; Close() runs first. True when both run. On failure "Redirect console error: %x\r\n"
  // with the errno in hexadecimal goes to WriteStdError, everything made so far is closed and errno
  // is left holding the error.
  bool Open(const std::vector<std::string>& argv);
  // The same for a Windows-style command line: it is split by the rules of CommandLineToArgvW, so
  // quotes group arguments and never reach the program as characters.
  bool Open(const std::string& commandLine);

  // A piece of the child's output, at most 255 bytes, NUL-terminated (a NUL byte in the output cuts
  // the piece there). Prints it to standard output.
  virtual void WriteStdOut(const char* text);
  // The redirector's own error texts. Prints them to standard output.
  virtual void WriteStdError(const char* text);
  // Stops the reader thread (when called from another thread: asks it to stop and waits for it) and
  // closes every descriptor. A child still running is left running and reaped when it ends.
  virtual void Close();

  // The child's exit code once the reader has seen it end (a signal gives 128 + its number); -1
  // while it runs, when it could not be started, or when it was left running at Close.
  int ExitCode() const;

  // How long the reader waits between looks at the child, in milliseconds.
  void SetWaitIntervalMs(uint32_t waitIntervalMs) { m_waitIntervalMs = waitIntervalMs; }

 protected:
  // Blocks until the reader thread has ended on its own (the child's output ended and the child
  // finished, or a read failed) and joins it. Returns at once when no reader runs.
  void WaitForReader();
  // Closes the write end of the child's input, so a child that reads its input sees its end.
  void CloseChildInput();

 private:
  enum class DrainResult { kMore, kEnded };

  void ReaderMain(int outputFd, int stopFd, int32_t pid, uint64_t startTicks);
  DrainResult Drain(int outputFd);
  void CloseDescriptors();
  bool FailOpen(int error, int ownFds[], size_t ownFdCount);

  uint32_t m_waitIntervalMs = 100;

  // The thread object is touched only by the owner thread.
  std::thread m_thread;

  mutable Mutex m_mutex;
  // guards: everything below
  CondVar m_readerEnded;
  bool m_readerRunning HLX_GUARDED_BY(m_mutex) = false;
  std::thread::id m_readerId HLX_GUARDED_BY(m_mutex);
  // the stop "event": a pipe the reader polls; a byte in it means stop
  int m_stopRead HLX_GUARDED_BY(m_mutex) = -1;
  int m_stopWrite HLX_GUARDED_BY(m_mutex) = -1;
  int m_childStdin HLX_GUARDED_BY(m_mutex) = -1;   // our write end of the child's input (close-on-exec)
  int m_childStdout HLX_GUARDED_BY(m_mutex) = -1;  // our read end of the child's output and error (close-on-exec)
  int32_t m_childPid HLX_GUARDED_BY(m_mutex) = 0;  // 0 when there is no child, or it has been reaped
  int m_exitCode HLX_GUARDED_BY(m_mutex) = -1;
};

// Runs one command to its end and returns everything it printed.
class SyncRedirector : public CRedirector {
 public:
  explicit SyncRedirector(uint32_t waitIntervalMs = 100);
  ~SyncRedirector() override;

  // Starts the program, waits without limit until its output has ended and it has finished, stores
  // its exit code (-1 when it could not be started) and returns the collected output. The child's
  // input is closed at once (the runner never writes to it), so a program that reads its input sees
  // its end instead of waiting forever. When the start fails, the output is the
  // "Redirect console error: %x\r\n" text.
  std::string Run(const std::vector<std::string>& argv, int* exitCode);
  // The same for a Windows-style command line (split as Open does).
  std::string Run(const std::string& commandLine, int* exitCode);

  void WriteStdOut(const char* text) override;
  void WriteStdError(const char* text) override;

 private:
  std::string m_output;  // written by the reader thread while Run waits for it
};

}  // namespace hlx
