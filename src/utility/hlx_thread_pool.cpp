// Worker pool: one queue under one mutex; idle workers wait in a stack, each on its own condition
// variable, and the one woken takes the oldest task whose kind is under its bound.
#include "utility/hlx_thread_pool.h"

#include "utility/hlx_log.h"

namespace hlx {

VNLThreadPool::VNLThreadPool(int workerCount) : m_workerCount(workerCount > 0 ? workerCount : 1) {}

VNLThreadPool::~VNLThreadPool() {
  {
    MutexLock lock(m_mutex);
    m_stopping = true;
    for (Idle* idle : m_idle) {
      idle->woken = true;
      idle->wake.NotifyOne();
    }
    m_idle.clear();
  }
  for (auto& worker : m_workers) {
    if (worker.joinable()) worker.join();
  }
}

VNLThreadPool& VNLThreadPool::GetInstance() {
  static VNLThreadPool* pool = new VNLThreadPool();  // lives until the process ends
  return *pool;
}

void VNLThreadPool::Start() {
  if (!m_workers.empty()) return;  // started already
  for (int i = 0; i < m_workerCount; ++i) m_wakes.push_back(std::make_unique<Idle>());
  for (int i = 0; i < m_workerCount; ++i) m_workers.emplace_back(&VNLThreadPool::WorkerThread, this, m_wakes[i].get());
}

void VNLThreadPool::AddTask(PoolTask task, PoolTaskKind kind) {
  Idle* idle = nullptr;
  {
    MutexLock lock(m_mutex);
    m_pending.push_back({std::move(task), kind});
    if (!m_idle.empty()) {
      idle = m_idle.back();
      m_idle.pop_back();
      idle->woken = true;
    }
  }
  // Notified after the lock is released, so that the worker does not wake only to wait for the
  // mutex. Should it have taken a task and gone idle again meanwhile, this wakes it early and it
  // waits on.
  if (idle) idle->wake.NotifyOne();
}

std::deque<VNLThreadPool::Pending>::iterator VNLThreadPool::NextStartable() {
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->kind == kNoKind) return it;
    auto running = m_running.find(it->kind);
    if (running == m_running.end() || running->second < kMaxWorkersPerKind) return it;
  }
  return m_pending.end();
}

void VNLThreadPool::WorkerThread(Idle* self) {
  while (true) {
    PoolTask task;
    PoolTaskKind kind = kNoKind;
    {
      MutexLock lock(m_mutex);
      // A worker that ends a bounded task loops back here itself, so the task it unblocks needs no
      // wake-up of another worker. One woken for a task that another worker took meanwhile, or
      // whose kind is at its bound, goes back on the stack.
      while (!m_stopping && NextStartable() == m_pending.end()) {
        self->woken = false;
        m_idle.push_back(self);
        while (!self->woken) self->wake.Wait(m_mutex);
      }
      if (m_stopping) return;
      auto next = NextStartable();
      task = std::move(next->task);
      kind = next->kind;
      m_pending.erase(next);
      if (kind != kNoKind) ++m_running[kind];
    }
    try {
      task();
    } catch (const std::exception& error) {
      HLX_LOG(ERROR) << "pool task failed: " << error.what();
    } catch (...) {
      HLX_LOG(ERROR) << "pool task failed with an unknown exception";
    }
    task = nullptr;  // the task's captures go now, not when the worker takes its next task
    if (kind != kNoKind) {
      MutexLock lock(m_mutex);
      if (--m_running[kind] == 0) m_running.erase(kind);
    }
  }
}

}  // namespace hlx
