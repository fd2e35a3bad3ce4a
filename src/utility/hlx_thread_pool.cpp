// Worker pool: one queue under one mutex; idle workers wait on it and take the oldest task whose kind
// is under its bound.
#include "utility/hlx_thread_pool.h"

#include "utility/hlx_log.h"

namespace hlx {

VNLThreadPool::VNLThreadPool(int workerCount) : m_workerCount(workerCount > 0 ? workerCount : 1) {}

VNLThreadPool::~VNLThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
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
  for (int i = 0; i < m_workerCount; ++i) m_workers.emplace_back(&VNLThreadPool::WorkerThread, this);
}

void VNLThreadPool::AddTask(PoolTask task, PoolTaskKind kind) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back({std::move(task), kind});
  }
  m_changed.notify_one();
}

std::deque<VNLThreadPool::Pending>::iterator VNLThreadPool::NextStartable() {
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->kind == kNoKind) return it;
    auto running = m_running.find(it->kind);
    if (running == m_running.end() || running->second < kMaxWorkersPerKind) return it;
  }
  return m_pending.end();
}

void VNLThreadPool::WorkerThread() {
  while (true) {
    PoolTask task;
    PoolTaskKind kind = kNoKind;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      // A worker that ends a bounded task loops back here itself, so the task it unblocks needs no
      // wake-up of another worker.
      m_changed.wait(lock, [&] { return m_stopping || NextStartable() != m_pending.end(); });
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
      std::lock_guard<std::mutex> lock(m_mutex);
      if (--m_running[kind] == 0) m_running.erase(kind);
    }
  }
}

}  // namespace hlx
