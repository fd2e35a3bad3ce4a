// Task registration, checkpoints and cancel hooks, and the worker pool's ordering, limits and wake-ups.
#include "utility/hlx_task.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "utility/hlx_thread_pool.h"

namespace hlx {
namespace {

TEST(DeviceTaskMap, CancelMarksOnceAndRunsTheHookOnce) {
  DeviceTaskMap map;
  ASSERT_NE(map.Register(7), nullptr);
  int hookRuns = 0;
  map.SetCancelHook(7, [&hookRuns] { ++hookRuns; });
  EXPECT_FALSE(map.IsCancelled(7));
  map.Cancel(7);
  map.Cancel(7);
  EXPECT_TRUE(map.IsCancelled(7));
  EXPECT_EQ(hookRuns, 1);
  // A request that registers again under a cancelled id must not run.
  EXPECT_EQ(map.Register(7), nullptr);
  map.Remove(7);
  EXPECT_FALSE(map.Contains(7));
}

TEST(DeviceTaskMap, ACancelBeforeTheStartKeepsTheRequestFromRunningAndEndedTasksAreLeftAlone) {
  DeviceTaskMap map;
  map.Cancel(1);  // the request still waits for a worker
  EXPECT_EQ(map.Register(1), nullptr) << "a request cancelled while it waited must not run";
  auto task = map.Register(1);  // the cancel was taken by that start
  ASSERT_NE(task, nullptr);
  EXPECT_FALSE(map.IsCancelled(1));
  EXPECT_EQ(map.Register(1), task);  // a running task is found again
  map.Remove(1);
  map.Cancel(1);  // after the end: nothing running is marked
  EXPECT_FALSE(map.IsCancelled(1));
  EXPECT_FALSE(map.Contains(1));
  // Only the latest cancels of requests that have not started are kept.
  for (int64_t id = 100; id < 400; ++id) map.Cancel(id);
  EXPECT_NE(map.Register(100), nullptr) << "the oldest are forgotten";
  EXPECT_EQ(map.Register(399), nullptr);
}

TEST(DeviceTaskMap, CheckpointRunsAHookSetAfterTheCancel) {
  DeviceTaskMap map;
  ASSERT_NE(map.Register(3), nullptr);
  map.Cancel(3);
  int hookRuns = 0;
  map.SetCancelHook(3, [&hookRuns] { ++hookRuns; });
  EXPECT_TRUE(map.IsCancelled(3));
  EXPECT_TRUE(map.IsCancelled(3));
  EXPECT_EQ(hookRuns, 1);
}

TEST(DownloadWriteCallback, WritesCountsAndAbortsOnceCancelled) {
  DeviceTaskMap map;
  ASSERT_NE(map.Register(9), nullptr);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  DownloadData download;
  download.taskMap = &map;
  download.taskId = 9;
  download.file = file;
  int progressCalls = 0;
  download.sendProgress = [&progressCalls](const DownloadData&) { ++progressCalls; };

  char block[100] = {1, 2, 3};
  EXPECT_EQ(DownloadWriteCallback(block, 1, sizeof(block), &download), sizeof(block));
  EXPECT_EQ(DownloadWriteCallback(block, 10, 10, &download), 100u);
  EXPECT_EQ(download.receivedBytes, 200u);
  EXPECT_EQ(std::ftell(file), 200);
  EXPECT_EQ(progressCalls, 1);  // the first block reports, the next within three seconds does not

  map.Cancel(9);
  EXPECT_NE(DownloadWriteCallback(block, 1, sizeof(block), &download), sizeof(block));
  EXPECT_EQ(download.receivedBytes, 200u);
  std::fclose(file);

  DownloadData noFile;
  EXPECT_NE(DownloadWriteCallback(block, 1, 1, &noFile), 1u);
}

// A latch the tests' tasks wait on, so that "running" is a state the test controls.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_open = true;
    }
    m_changed.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_open; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_open = false;
};

TEST(VNLThreadPool, RunsTenAtOnceAndTheEleventhWhenOneEnds) {
  VNLThreadPool pool;
  pool.Start();
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
  int maxRunning = 0;
  std::vector<int> started;
  Gate gates[11];
  for (int i = 0; i < 11; ++i) {
    pool.AddTask([&, i] {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++running;
        maxRunning = std::max(maxRunning, running);
        started.push_back(i);
      }
      changed.notify_all();
      gates[i].Wait();
      {
        std::lock_guard<std::mutex> lock(mutex);
        --running;
      }
      changed.notify_all();
    });
  }
  auto waitFor = [&](auto predicate) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), predicate);
  };
  ASSERT_TRUE(waitFor([&] { return started.size() == 10; }));
  {
    // Ten workers start in any order, but they are the first ten tasks queued.
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<int> firstTen = started;
    std::sort(firstTen.begin(), firstTen.end());
    EXPECT_EQ(firstTen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
  gates[4].Open();
  ASSERT_TRUE(waitFor([&] { return started.size() == 11; }));
  for (Gate& gate : gates) gate.Open();
  ASSERT_TRUE(waitFor([&] { return running == 0; }));
  EXPECT_EQ(maxRunning, 10);
  EXPECT_EQ(started.back(), 10);
}

TEST(VNLThreadPool, KeepsArrivalOrderWithOneWorkerAndSurvivesAThrowingTask) {
  VNLThreadPool pool(1);
  pool.Start();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> order;
  pool.AddTask([] { throw std::runtime_error("task failure"); });
  for (int i = 0; i < 50; ++i) {
    pool.AddTask([&, i] {
      {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(i);
      }
      changed.notify_all();
    });
  }
  std::unique_lock<std::mutex> lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return order.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(VNLThreadPool, BoundsAKindWhileOtherTasksStartAndStartsItsNextWhenOneEnds) {
  VNLThreadPool pool;
  pool.Start();
  constexpr PoolTaskKind kKind = 7;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> started;
  Gate gates[VNLThreadPool::kMaxWorkersPerKind + 1];
  auto record = [&](int i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      started.push_back(i);
    }
    changed.notify_all();
  };
  auto waitFor = [&](auto predicate) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), predicate);
  };
  for (int i = 0; i <= VNLThreadPool::kMaxWorkersPerKind; ++i) {
    pool.AddTask([&, i] {
      record(i);
      gates[i].Wait();
    }, kKind);
  }
  constexpr int kOther = 100;
  pool.AddTask([&] { record(kOther); });
  ASSERT_TRUE(waitFor([&] {
    return started.size() == VNLThreadPool::kMaxWorkersPerKind + 1 &&
           std::count(started.begin(), started.end(), kOther) == 1;
  }));
  {
    // Workers are idle, yet the last task of the kind waits: the kind holds its bound.
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::count(started.begin(), started.end(), VNLThreadPool::kMaxWorkersPerKind), 0);
  }
  gates[0].Open();
  ASSERT_TRUE(waitFor([&] {
    return std::count(started.begin(), started.end(), VNLThreadPool::kMaxWorkersPerKind) == 1;
  }));
  for (Gate& gate : gates) gate.Open();
}

TEST(VNLThreadPool, TasksOneAfterAnotherRunOnTheWorkerThatWentIdleLast) {
  constexpr int kWorkers = 4;
  constexpr int kTasks = 20;
  VNLThreadPool pool(kWorkers);
  pool.Start();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::thread::id> ranOn;
  for (int i = 0; i < kTasks; ++i) {
    pool.AddTask([&] {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ranOn.push_back(std::this_thread::get_id());
      }
      changed.notify_all();
    });
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return ranOn.size() == size_t(i + 1); }));
    }
    // Time for the worker to go back to waiting before the next task comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::map<std::thread::id, int> perWorker;
  for (const std::thread::id& id : ranOn) ++perWorker[id];
  int most = 0;
  for (const auto& [id, count] : perWorker) most = std::max(most, count);
  // Waking the worker idle longest would hand them round all four, five each.
  EXPECT_GE(most, kTasks - 3) << perWorker.size() << " workers took the " << kTasks << " tasks";
}

}  // namespace
}  // namespace hlx
