// The service's worker pool: every request runs as a PoolTask on one of ten worker threads, so a
// slow request never holds up the others and at most ten run at once. Tasks start in the order they
// were queued.
//
// Threads: AddTask is called from any thread (the IPC dispatch threads, device callbacks, tasks);
// an idle worker takes the oldest queued task itself, so a request wakes one thread, not two; each
// worker runs one task at a time.
#pragma once

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

class VNLThreadPool {
 public:
  static constexpr int kWorkerCount = 10;

  explicit VNLThreadPool(int workerCount = kWorkerCount);
  // Stops the workers after their current task; pending tasks are dropped.
  // The service's own pool lives until the process ends and is never destroyed.
  ~VNLThreadPool();
  VNLThreadPool(const VNLThreadPool&) = delete;
  VNLThreadPool& operator=(const VNLThreadPool&) = delete;

  // Starts the workers. Called from one thread; a second call does nothing.
  void Start();
  // Queues a task; the pool owns it from here on and destroys it after it ran.
  void AddTask(PoolTask task);

  // The service's pool, made on first use; StartDeviceService starts it.
  static VNLThreadPool& GetInstance();

 private:
  void WorkerThread();

  const int m_workerCount;
  std::vector<std::thread> m_workers;

  std::mutex m_mutex;
  // Signalled once per queued task (one idle worker wakes) and on stopping (all wake).
  std::condition_variable m_changed;
  // guards: m_pending, m_stopping
  std::deque<PoolTask> m_pending;
  bool m_stopping = false;
};

}  // namespace hlx
