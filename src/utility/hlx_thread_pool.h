// The service's worker pool: every request runs as a PoolTask on one of ten worker threads, so a
// slow request never holds up the others and at most ten run at once. Tasks start in the order they
// were queued.
//
// Threads: AddTask is called from any thread (the IPC dispatch threads, device callbacks, tasks);
// the pool's dispatcher thread hands tasks to idle workers; each worker runs one task at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace hlx {

using PoolTask = std::function<void()>;

// Notes that the running task moved `bytes` of reply data. A worker whose task moved a few MiB gives
// the memory freed by then back to the system when the task ends: the allocator would otherwise keep
// the peak of every worker's large requests (a listing of 10,000 contacts) resident for good.
void NoteLargeWork(size_t bytes);

class VNLThreadPool {
 public:
  static constexpr int kWorkerCount = 10;

  explicit VNLThreadPool(int workerCount = kWorkerCount);
  // Stops the dispatcher and the workers after their current task; pending tasks are dropped.
  // The service's own pool lives until the process ends and is never destroyed.
  ~VNLThreadPool();
  VNLThreadPool(const VNLThreadPool&) = delete;
  VNLThreadPool& operator=(const VNLThreadPool&) = delete;

  // Starts the workers, then the dispatcher. Called from one thread; a second call does nothing.
  void Start();
  // Queues a task; the pool owns it from here on and destroys it after it ran.
  void AddTask(PoolTask task);

  // The service's pool, made on first use; StartDeviceService starts it.
  static VNLThreadPool& GetInstance();

 private:
  struct Worker {
    std::mutex mutex;
    std::condition_variable assigned;
    // guards: task
    std::unique_ptr<PoolTask> task;
    std::thread thread;
  };

  void WorkerThread(Worker* worker);
  void ScanTask();

  const int m_workerCount;
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::thread m_dispatcher;

  // One mutex for both queues: the dispatcher waits for "a task and an idle worker" as one
  // condition, so a worker that becomes idle wakes it at once.
  std::mutex m_mutex;
  std::condition_variable m_changed;
  // guards: m_idle, m_pending
  std::deque<Worker*> m_idle;
  std::deque<std::unique_ptr<PoolTask>> m_pending;
  // Written under m_mutex; atomic so a worker can read it under its own mutex alone.
  std::atomic<bool> m_stopping{false};
};

}  // namespace hlx
