// Process functions: captured runs with argument vectors kept whole, elevated and suspended starts,
// and process look-ups over an injected process list.
#include "utility/hlx_process_util.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/hlx_crash_signal.h"
#include "os/hlx_os.h"

namespace hlx {
namespace {

class ProcessUtilTest : public testing::Test {
 protected:
  void TearDown() override { os::ResetOsApi(); }
};

TEST(JoinArguments, EachArgumentAfterOneBlank) {
  EXPECT_EQ(JoinArguments({}), "");
  EXPECT_EQ(JoinArguments({"a"}), " a");
  EXPECT_EQ(JoinArguments({"/package", "\"C:\\x y.msi\"", ""}), " /package \"C:\\x y.msi\" ");
}

TEST(RunProgramCapture, ArgumentsReachTheProgramAsGiven) {
  std::string output;
  int exitCode = -1;
  // Blanks, quotes and an empty argument: no splitting, no quoting.
  RunProgramCapture(output, "printf", {"[%s]", "pass word", "say \"hi\"", "", "a\\b"}, &exitCode);
  EXPECT_EQ(output, "[pass word][say \"hi\"][][a\\b]");
  EXPECT_EQ(exitCode, 0);
}

TEST(RunCommandCapture, WindowsCommandLineQuotesGroupAndDisappear) {
  std::string output = "old";
  int exitCode = -1;
  RunCommandCapture(output, "printf \"[%s]\" \"C:\\Program Files\\x.msi\" /qn", &exitCode);
  EXPECT_EQ(output, "[C:\\Program Files\\x.msi][/qn]");
  EXPECT_EQ(exitCode, 0);

  RunCommandCapture(output, "/bin/sh -c \"exit 5\"", &exitCode);
  EXPECT_EQ(output, "");
  EXPECT_EQ(exitCode, 5);

  RunCommandCapture(output, "no-such-program-here", nullptr);
  EXPECT_EQ(output, "Redirect console error: 2\r\n");
}

TEST_F(ProcessUtilTest, ShellExecuteElevatedPassesTheVectorAndReportsRefusal) {
  static std::vector<std::string> seen;
  os::Os().spawnElevated = [](const std::vector<std::string>& argv) {
    seen = argv;
    os::SpawnResult refused;
    refused.error = EPERM;
    return refused;
  };
  EXPECT_FALSE(ShellExecuteElevated("/usr/bin/helper", {"1234", "\"Product Name\"", "2"}));
  EXPECT_EQ(seen, (std::vector<std::string>{"/usr/bin/helper", "1234", "\"Product Name\"", "2"}));

  os::ResetOsApi();
  EXPECT_TRUE(ShellExecuteElevated("/bin/true", {}));
  EXPECT_FALSE(ShellExecuteElevated("/nonexistent/program", {}));
}

TEST(StartProcessSuspended, RunsOnlyAfterTheResume) {
  std::string markerPath = os::Os().tempPath() + "hlx-suspended-XXXXXX";
  char* marker = markerPath.data();
  int fd = mkstemp(marker);
  ASSERT_GE(fd, 0);
  close(fd);
  unlink(marker);
  SuspendedProcess process = StartProcessSuspended("/bin/sh", {"-c", std::string("touch '") + marker + "'; exit 6"});
  ASSERT_NE(process.processId, 0);
  ASSERT_GE(process.gateFd, 0);
  // Held before exec: the marker cannot exist yet, however long we look.
  EXPECT_NE(access(marker, F_OK), 0);
  ASSERT_TRUE(os::Os().resumeProcess(process.gateFd));
  EXPECT_EQ(os::Os().waitProcess(process.processId), 6);
  EXPECT_EQ(access(marker, F_OK), 0);
  unlink(marker);
}

TEST_F(ProcessUtilTest, StartProcessSuspendedFailureIsAllZero) {
  os::Os().spawnProcess = [](const std::vector<std::string>&, const os::SpawnOptions&) {
    return os::SpawnResult{0, -1, EAGAIN};
  };
  SuspendedProcess process = StartProcessSuspended("/bin/true", {});
  EXPECT_EQ(process.processId, 0);
  EXPECT_EQ(process.gateFd, -1);
}

TEST(FindProcessImagePath, OwnProcessAndMissingOnes) {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(FindProcessImagePath(getpid()), std::string(buffer, static_cast<size_t>(n)));
  EXPECT_EQ(FindProcessImagePath(0), "");
  EXPECT_EQ(FindProcessImagePath(-5), "");
}

bool FakeProcessList(std::vector<os::ProcessEntry>* out) {
  *out = {
      {10, "init", "/sbin/init"},
      {20, "iTunes.exe", "C:\\Program Files\\iTunes\\iTunes.exe"},
      {30, "ITUNES.EXE", "/opt/wine/drive_c/ITUNES.EXE"},
      {40, "iTunesHelper.exe", "C:\\Program Files\\iTunes\\iTunesHelper.exe"},
      {50, "applemobiledeviceservice.EXE", ""},
  };
  return true;
}

TEST_F(ProcessUtilTest, FindItunesProcessTakesTheLastMatchWithoutRegardToCase) {
  os::Os().listProcesses = FakeProcessList;
  EXPECT_EQ(FindItunesProcess(), 30);
  EXPECT_EQ(FindProcessImagePath(20), "C:\\Program Files\\iTunes\\iTunes.exe");

  os::Os().listProcesses = [](std::vector<os::ProcessEntry>* out) {
    *out = {{1, "init", "/sbin/init"}, {2, "iTunesHelper.exe", "/x/iTunesHelper.exe"}};
    return true;
  };
  EXPECT_EQ(FindItunesProcess(), 0);

  os::Os().listProcesses = [](std::vector<os::ProcessEntry>*) { return false; };
  EXPECT_EQ(FindItunesProcess(), 0);
  EXPECT_EQ(FindProcessImagePath(20), "");
}

// Every player process is ended, not only the one that FindItunesProcess names; a refusal of any
// of them is reported.
TEST_F(ProcessUtilTest, StopItunesProcessesEndsEveryMatch) {
  static std::vector<int32_t> ended;
  static int32_t refused = 0;
  os::Os().terminateProcess = [](int32_t pid) {
    ended.push_back(pid);
    return pid != refused;
  };
  struct Case {
    bool (*list)(std::vector<os::ProcessEntry>*);
    int32_t refused;
    int result;
    std::vector<int32_t> ended;
  };
  const Case cases[] = {
      {FakeProcessList, 0, kStopEnded, {20, 30}},
      {FakeProcessList, 20, kStopRefused, {20, 30}},
      // Only the player itself: look-alikes whose paths merely hold its name keep running.
      {[](std::vector<os::ProcessEntry>* out) {
         *out = {{2, "NotiTunes.exe.b", "/home/u/NotiTunes.exe.bak"},
                 {3, "tool", "/x/iTunes.exe/tool"},
                 {4, "iTunes.exe.bak", "C:\\Temp\\iTunes.exe.bak"},
                 {5, "iTunes.exe", ""},
                 {6, "itunes.EXE", "/opt/wine/drive_c/Program Files/iTunes/itunes.EXE"}};
         return true;
       },
       0,
       kStopEnded,
       {5, 6}},
      {[](std::vector<os::ProcessEntry>* out) {
         *out = {{2, "iTunesHelper.exe", "/x/iTunesHelper.exe"}};
         return true;
       },
       0,
       kStopNoneFound,
       {}},
      {[](std::vector<os::ProcessEntry>*) { return false; }, 0, kStopNoneFound, {}},
  };
  for (const Case& c : cases) {
    ended.clear();
    refused = c.refused;
    os::Os().listProcesses = c.list;
    EXPECT_EQ(StopItunesProcesses(), c.result);
    EXPECT_EQ(ended, c.ended);
  }
}

TEST_F(ProcessUtilTest, MobileDeviceServiceMatchesItsNameWithoutRegardToCase) {
  os::Os().listProcesses = FakeProcessList;
  EXPECT_EQ(IsMobileDeviceServiceRunning(), 1);

  os::Os().listProcesses = [](std::vector<os::ProcessEntry>* out) {
    *out = {{1, "AppleMobileDeviceService", "/x/AppleMobileDeviceService"},
            {2, "AppleMobileDeviceService.exe.bak", ""}};
    return true;
  };
  EXPECT_EQ(IsMobileDeviceServiceRunning(), 0);

  os::Os().listProcesses = [](std::vector<os::ProcessEntry>*) { return false; };
  EXPECT_EQ(IsMobileDeviceServiceRunning(), 0);
  os::ResetOsApi();
}

// A crash report that hangs (on a lock the crash left held) must not keep the process alive: the
// fatal signal still ends it once the report's time is up.
TEST(FatalSignalHandler, AHangingReportStillEndsTheProcessWithItsSignal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        os::InstallFatalSignalHandler(
            [](int, const void*) {
              for (;;) ::pause();
            },
            1);
        ::raise(SIGBUS);
      },
      ::testing::KilledBySignal(SIGBUS), "");
}

// A fault on another thread while the report runs waits for it: the report ends whole and the
// process dies of the first signal, not of the second one half way through.
TEST(FatalSignalHandler, AFaultOnAnotherThreadDuringTheReportWaitsForTheReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static std::atomic<bool> reporting{false};
  EXPECT_EXIT(
      {
        std::thread([] {
          while (!reporting.load()) std::this_thread::yield();
          ::raise(SIGBUS);
        }).detach();
        os::InstallFatalSignalHandler(
            [](int, const void*) {
              reporting.store(true);
              struct timespec pause {
                0, 300'000'000
              };
              ::nanosleep(&pause, nullptr);
              const char done[] = "report whole\n";
              (void)!::write(2, done, sizeof(done) - 1);
            },
            10);
        ::raise(SIGSEGV);
      },
      ::testing::KilledBySignal(SIGSEGV), "report whole");
}

}  // namespace
}  // namespace hlx
