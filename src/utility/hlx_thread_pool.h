// The service's worker pool: every request runs as a PoolTask on one of ten worker threads, so a
// slow request never holds up the others and at most ten run at once. Tasks start in the order they
// were queued, except that tasks of one kind (a request code of one device, hlx_client.cpp) hold at
// most kMaxWorkersPerKind workers: the next task of a kind that is at its bound waits while later
// tasks of other kinds start, so that a dozen requests stuck on one hostile device file cannot
// silence the service.
//
// Threads: AddTask is called from any thread (the IPC dispatch threads, device callbacks, tasks);
// an idle worker takes the oldest queued task itself, so a request wakes one thread, not two; each
// worker runs one task at a time. A queued task wakes the worker that went idle last, not the one
// idle longest: one request after another then runs on the same worker, whose stack and data are
// still in the caches and which the scheduler keeps where it ran, instead of each request waking
// the next of ten threads wherever that one last ran (a wake-up onto an idle CPU of another thread
// costs several microseconds on a virtual machine).
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
  // One worker's wake-up. Owned by the pool, so that a notify that comes late still finds it.
  struct Idle {
    std::condition_variable wake;
    bool woken = false;  // guarded by m_mutex; set by whoever takes the worker off m_idle
  };
  void WorkerThread(Idle* self);
  // The oldest pending task that may start now, or m_pending.end(). Caller holds m_mutex.
  std::deque<Pending>::iterator NextStartable();

  const int m_workerCount;
  std::vector<std::thread> m_workers;
  std::vector<std::unique_ptr<Idle>> m_wakes;  // one per worker, made by Start

  std::mutex m_mutex;
  // guards: m_pending, m_running, m_stopping, m_idle and each listed worker's woken flag
  std::deque<Pending> m_pending;
  // The workers waiting for a task, the one that went idle last at the back. A queued task takes the
  // back one off and wakes it; stopping wakes them all.
  std::vector<Idle*> m_idle;
  std::map<PoolTaskKind, int> m_running;  // bounded kinds only; a kind leaves at 0
  bool m_stopping = false;
};

}  // namespace hlx
