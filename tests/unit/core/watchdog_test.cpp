// The watchdog follows the process it was pointed at last: the end of an earlier target is not
// reported, the current one's is, once; pointed at a new process after a report, it wakes and
// watches that one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "os/hlx_os.h"
#include "utility/hlx_service.h"

namespace hlx {
namespace {

constexpr int32_t kPollMs = 10;
// Many polls: long enough for a watchdog that follows the wrong process to report it.
constexpr auto kQuiet = std::chrono::milliseconds(300);

int32_t StartSleeper() { return os::Os().spawnProcess({"sleep", "60"}, os::SpawnOptions{}).pid; }

bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Static: the watchdog thread outlives the test, and its callbacks must never point at a gone frame.
std::atomic<int> firstGone{0};
std::atomic<int> secondGone{0};
std::atomic<int> thirdGone{0};

TEST(WatchdogTest, FollowsTheProcessItWasPointedAtLast) {
  const int32_t first = StartSleeper();
  const int32_t second = StartSleeper();
  const int32_t third = StartSleeper();
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  ASSERT_GT(third, 0);

  StartWatchdog(first, kPollMs, [] { ++firstGone; });
  StartWatchdog(second, kPollMs, [] { ++secondGone; });
  ASSERT_TRUE(os::Os().terminateProcess(first));
  std::this_thread::sleep_for(kQuiet);
  EXPECT_EQ(firstGone.load(), 0) << "the earlier target is no longer watched";
  EXPECT_EQ(secondGone.load(), 0);

  ASSERT_TRUE(os::Os().terminateProcess(second));
  EXPECT_TRUE(Eventually([] { return secondGone.load() == 1; }));

  // Re-pointed after it reported: it wakes, and the new process, still running, is not reported.
  StartWatchdog(third, kPollMs, [] { ++thirdGone; });
  std::this_thread::sleep_for(kQuiet);
  EXPECT_EQ(thirdGone.load(), 0);
  EXPECT_EQ(secondGone.load(), 1) << "a gone process is reported once";
  ASSERT_TRUE(os::Os().terminateProcess(third));
  EXPECT_TRUE(Eventually([] { return thirdGone.load() == 1; }));

  StartWatchdog(0, kPollMs, nullptr);  // watches nothing from here on
  EXPECT_EQ(firstGone.load(), 0);
}

}  // namespace
}  // namespace hlx
