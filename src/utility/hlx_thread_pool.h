// The service's worker pool: every request runs as a PoolTask on one of ten worker threads, so a
// slow request never holds up the others and at most ten run at once. Tasks start in the order they
// were queued, except that tasks of one kind (a request code) hold at most kMaxWorkersPerKind
// workers: the next task of a kind that is at its bound waits while later tasks of other kinds
// start, so that a dozen requests stuck on one hostile device file cannot silence the service.
//
// Threads: AddTask is called from any thread (the IPC dispatch threads, device callbacks, tasks);
// an idle worker takes the oldest queued task itself, so a request wakes one thread, not two; each
// worker runs one task at a time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace hlx {

using PoolTask = std::function<void()>;
// What a task is, for the bound above; kNoKind is never bounded.
using PoolTaskKind = int64_t;
inline constexpr PoolTaskKind kNoKind = -1;

class VNLThreadPool {
 public:
  static constexpr int kWorkerCount = 10;
  static constexpr int kMaxWorkersPerKind = kWorkerCount / 2;

  explicit VNLThreadPool(int workerCount = kWorkerCount);
  // Stops the workers after their current task; pending tasks are dropped.
  // The service's own pool lives until the process ends and is never destroyed.
  ~VNLThreadPool();
  VNLThreadPool(const VNLThreadPool&) = delete;
  VNLThreadPool& operator=(const VNLThreadPool&) = delete;

  // Starts the workers. Called from one thread; a second call does nothing.
  void Start();
  // Queues a task; the pool owns it from here on and destroys it after it ran.
  void AddTask(PoolTask task, PoolTaskKind kind = kNoKind);

  // The service's pool, made on first use; StartDeviceService starts it.
  static VNLThreadPool& GetInstance();

 private:
  struct Pending {
    PoolTask task;
    PoolTaskKind kind;
  };
  void WorkerThread();
  // The oldest pending task that may start now, or m_pending.end(). Caller holds m_mutex.
  std::deque<Pending>::iterator NextStartable();

  const int m_workerCount;
  std::vector<std::thread> m_workers;

  std::mutex m_mutex;
  // Signalled once per queued task (one idle worker wakes) and on stopping (all wake).
  std::condition_variable m_changed;
  // guards: m_pending, m_running, m_stopping
  std::deque<Pending> m_pending;
  std::map<PoolTaskKind, int> m_running;  // bounded kinds only; a kind leaves at 0
  bool m_stopping = false;
};

}  // namespace hlx
