// Worker pool: one queue under one mutex; idle workers wait on it and take tasks in queued order.
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

void VNLThreadPool::AddTask(PoolTask task) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back(std::move(task));
  }
  m_changed.notify_one();
}

void VNLThreadPool::WorkerThread() {
  while (true) {
    PoolTask task;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [&] { return m_stopping || !m_pending.empty(); });
      if (m_stopping) return;
      task = std::move(m_pending.front());
      m_pending.pop_front();
    }
    try {
      task();
    } catch (const std::exception& error) {
      HLX_LOG(ERROR) << "pool task failed: " << error.what();
    } catch (...) {
      HLX_LOG(ERROR) << "pool task failed with an unknown exception";
    }
    task = nullptr;  // the task's captures go now, not when the worker takes its next task
  }
}

}  // namespace hlx
