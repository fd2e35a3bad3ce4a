// The positional command line, the log folder path and the Windows-style command-line split.
#include "utility/hlx_startup_state.h"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "unit/utility/utility_test_support.h"

namespace hlx {
namespace {

TEST(ParseCommandLine, ReadsEveryPositionAndTreatsMissingOnesAsZero) {
  StartupState state;
  ParseCommandLine({"5000", "1234", "1", "0", "1", "2.3.4", "Logs", "Product Name", "1", "x", "-77"}, &state);
  EXPECT_EQ(state.desktopPort, 5000);
  EXPECT_EQ(state.watchedProcessId, 1234);
  EXPECT_TRUE(state.consoleEnabled);
  EXPECT_FALSE(state.selfTest);
  EXPECT_TRUE(state.loggingEnabled);
  EXPECT_EQ(state.productVersion, "2.3.4");
  EXPECT_EQ(state.logSubfolder, "Logs");
  EXPECT_EQ(state.productName, "Product Name");
  EXPECT_EQ(state.instanceMode, 1);
  EXPECT_EQ(state.taskId, -77);

  // Mode 0 and 2 ignore the task id.
  for (const char* mode : {"0", "2"}) {
    StartupState other;
    ParseCommandLine({"1", "2", "0", "0", "0", "", "", "", mode, "", "99"}, &other);
    EXPECT_EQ(other.taskId, 0) << mode;
  }

  StartupState few;
  ParseCommandLine({"12abc"}, &few);
  EXPECT_EQ(few.desktopPort, 12);  // leading digits, as the runtime reads numbers
  EXPECT_EQ(few.watchedProcessId, 0);
  EXPECT_EQ(few.instanceMode, 0);
  EXPECT_TRUE(few.productName.empty());

  StartupState huge;
  ParseCommandLine({"99999999999999999999", "-5", "", "", "", "", "", "", "1", "", "99999999999999999999"}, &huge);
  EXPECT_EQ(huge.desktopPort, INT32_MAX);
  EXPECT_EQ(huge.watchedProcessId, -5);
  EXPECT_EQ(huge.taskId, INT64_MAX);
}

TEST(MakeLogFolderPath, IsTempSubfolderAndLocalDate) {
  // 2024-01-31 23:30 UTC, which is already 1 February in Tokyo.
  const int64_t moment = 1706743800;
  {
    test::PinnedZone zone("UTC");
    EXPECT_EQ(MakeLogFolderPath("/tmp/", "X", moment), "/tmp/X/20240131");
    EXPECT_EQ(MakeLogFolderPath("/var/tmp", "Logs", moment), "/var/tmp/Logs/20240131");
  }
  test::PinnedZone zone("Asia/Tokyo");
  EXPECT_EQ(MakeLogFolderPath("/tmp/", "X", moment), "/tmp/X/20240201");
}

TEST(SplitWindowsCommandLine, FollowsTheWindowsQuotingRules) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"taskkill /f /im iTunes.exe", {"taskkill", "/f", "/im", "iTunes.exe"}},
      {"  a   b  ", {"a", "b"}},
      {"\"C:\\Program Files\\x.exe\" \"arg with blanks\"", {"C:\\Program Files\\x.exe", "arg with blanks"}},
      {"a\\\\\\\"b", {"a\\\"b"}},    // 3 backslashes + quote: one backslash and a literal quote
      {"a\\\\\"b c\"", {"a\\b c"}},  // 2 backslashes + quote: one backslash, the quote opens
      {"a\\b\\\\c", {"a\\b\\\\c"}},  // backslashes not before a quote stay as they are
      {"\"\"", {""}},                // an empty quoted argument
      {"\"a\"\"b\"", {"a\"b"}},      // a doubled quote inside quotes is one quote
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(os::SplitWindowsCommandLine(c.line), c.args) << c.line;
}

}  // namespace
}  // namespace hlx
