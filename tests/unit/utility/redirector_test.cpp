// The child-process runner: output and error collected whole, NUL bytes cutting their piece, a
// program that cannot start, output larger than a pipe holds, output still in the pipe at the end,
// exit codes, and a reader that stops when asked.
#include "utility/hlx_redirector.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/hlx_os.h"

namespace hlx {
namespace {

std::vector<std::string> Shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

TEST(SyncRedirector, CollectsOutputAndErrorAndTheExitCode) {
  SyncRedirector redirector;
  int exitCode = -99;
  std::string output = redirector.Run(Shell("echo out; echo err 1>&2; exit 7"), &exitCode);
  EXPECT_EQ(output, "out\nerr\n");
  EXPECT_EQ(exitCode, 7);

  output = redirector.Run(Shell("printf done"), &exitCode);  // the redirector runs again
  EXPECT_EQ(output, "done");
  EXPECT_EQ(exitCode, 0);
}

TEST(SyncRedirector, ProgramKilledBySignalReportsItInTheExitCode) {
  SyncRedirector redirector;
  int exitCode = 0;
  redirector.Run(Shell("kill -9 $$"), &exitCode);
  EXPECT_EQ(exitCode, 128 + 9);
}

TEST(SyncRedirector, NulByteCutsItsPieceOnly) {
  SyncRedirector redirector;
  int exitCode = -1;
  // 300 bytes in one write (below the pipe's atomic size): read as 255 + 45. The NUL at byte 10
  // cuts the first piece; the second arrives whole.
  std::string script = "printf 'xxxxxxxxxx\\000";
  for (int i = 0; i < 289; ++i) script += (i < 244 ? 'y' : 'z');
  script += "'";
  std::string output = redirector.Run(Shell(script), &exitCode);
  EXPECT_EQ(output, std::string(10, 'x') + std::string(45, 'z'));
  EXPECT_EQ(exitCode, 0);
}

TEST(SyncRedirector, ProgramThatCannotStartGivesTheConsoleErrorText) {
  SyncRedirector redirector;
  int exitCode = 0;
  std::string output = redirector.Run(std::vector<std::string>{"/nonexistent/program"}, &exitCode);
  EXPECT_EQ(output, "Redirect console error: 2\r\n");  // ENOENT
  EXPECT_EQ(exitCode, -1);

  output = redirector.Run(std::vector<std::string>{}, &exitCode);
  EXPECT_EQ(output, "Redirect console error: 16\r\n");  // EINVAL (22) in hexadecimal
}

TEST(SyncRedirector, OutputLargerThanThePipeArrivesWhole) {
  SyncRedirector redirector;
  int exitCode = -1;
  std::string output = redirector.Run(Shell("yes 0123456789abcdef | head -c 300000"), &exitCode);
  ASSERT_EQ(output.size(), 300000u);
  std::string expected;
  while (expected.size() < 300000) expected += "0123456789abcdef\n";
  expected.resize(300000);
  EXPECT_TRUE(output == expected);
  EXPECT_EQ(exitCode, 0);
}

TEST(SyncRedirector, OutputStillInThePipeWhenTheChildEndsIsDelivered) {
  // A long wait interval: the child has long ended, and its output still sits in the pipe, when
  // the reader first looks at it.
  SyncRedirector redirector(2000);
  int exitCode = -1;
  std::string output = redirector.Run(Shell("printf 'last words'; exit 3"), &exitCode);
  EXPECT_EQ(output, "last words");
  EXPECT_EQ(exitCode, 3);
}

TEST(SyncRedirector, ChildThatLeavesAProgramHoldingThePipeStillEnds) {
  SyncRedirector redirector(50);
  int exitCode = -1;
  // The background sleep keeps the output pipe open after the shell has exited.
  std::string output = redirector.Run(Shell("sleep 5 & echo started; exit 4"), &exitCode);
  EXPECT_EQ(output, "started\n");
  EXPECT_EQ(exitCode, 4);
}

TEST(SyncRedirector, ChildInputIsClosedSoReadersSeeItsEnd) {
  SyncRedirector redirector;
  int exitCode = -1;
  EXPECT_EQ(redirector.Run(std::vector<std::string>{"cat"}, &exitCode), "");
  EXPECT_EQ(exitCode, 0);
}

TEST(SyncRedirector, CommandLineIsSplitByWindowsRules) {
  SyncRedirector redirector;
  int exitCode = -1;
  std::string output = redirector.Run(std::string("printf \"%s|\" \"a b\" c\\\"d \"\""), &exitCode);
  EXPECT_EQ(output, "a b|c\"d||");
  EXPECT_EQ(exitCode, 0);
}

// A sink that records pieces and can be held inside WriteStdOut.
class RecordingRedirector : public CRedirector {
 public:
  ~RecordingRedirector() override { Close(); }

  void WriteStdOut(const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_output += text;
    m_changed.notify_all();
  }
  void WriteStdError(const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors += text;
  }

  bool WaitForOutput(const std::string& text) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_output.find(text) != std::string::npos; });
  }
  std::string errors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::string m_output;
  std::string m_errors;
};

TEST(CRedirector, CloseStopsTheReaderWhileTheChildRuns) {
  RecordingRedirector redirector;
  ASSERT_TRUE(redirector.Open(std::vector<std::string>{"/bin/sh", "-c", "echo ready; exec cat"}));
  ASSERT_TRUE(redirector.WaitForOutput("ready\n"));
  // cat waits on its input for ever; Close must not wait for the child.
  redirector.Close();
  EXPECT_EQ(redirector.ExitCode(), -1);
  EXPECT_EQ(redirector.errors(), "");
  // Open again after Close.
  ASSERT_TRUE(redirector.Open(std::string("/bin/echo second")));
  ASSERT_TRUE(redirector.WaitForOutput("second\n"));
}

TEST(CRedirector, OpenFailureSetsErrnoAndReportsThroughWriteStdError) {
  RecordingRedirector redirector;
  errno = 0;
  EXPECT_FALSE(redirector.Open(std::vector<std::string>{"/nonexistent/program"}));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(redirector.errors(), "Redirect console error: 2\r\n");
}

TEST(CRedirector, InjectedStartFailureIsReported) {
  os::Os().spawnProcess = [](const std::vector<std::string>&, const os::SpawnOptions&) {
    os::SpawnResult failed;
    failed.error = EACCES;
    return failed;
  };
  SyncRedirector redirector;
  int exitCode = 0;
  std::string output = redirector.Run(std::vector<std::string>{"anything"}, &exitCode);
  os::ResetOsApi();
  EXPECT_EQ(output, "Redirect console error: d\r\n");
  EXPECT_EQ(exitCode, -1);
}

}  // namespace
}  // namespace hlx
