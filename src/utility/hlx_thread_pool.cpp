// Worker pool. Lock order: the pool mutex, then a worker's mutex; a worker never holds its own
// mutex while it takes the pool mutex.
#include "utility/hlx_thread_pool.h"

#include <malloc.h>

#include "utility/hlx_log.h"

namespace hlx {

namespace {

constexpr size_t kTrimAfterBytes = size_t{4} << 20;
thread_local size_t t_taskBytes = 0;

}  // namespace

void NoteLargeWork(size_t bytes) { t_taskBytes += bytes; }

VNLThreadPool::VNLThreadPool(int workerCount) : m_workerCount(workerCount > 0 ? workerCount : 1) {}

VNLThreadPool::~VNLThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  for (auto& worker : m_workers) {
    {
      std::lock_guard<std::mutex> lock(worker->mutex);
    }
    worker->assigned.notify_all();
  }
  if (m_dispatcher.joinable()) m_dispatcher.join();
  for (auto& worker : m_workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

VNLThreadPool& VNLThreadPool::GetInstance() {
  static VNLThreadPool* pool = new VNLThreadPool();  // lives until the process ends
  return *pool;
}

void VNLThreadPool::Start() {
  if (!m_workers.empty()) return;  // started already
  for (int i = 0; i < m_workerCount; ++i) {
    m_workers.push_back(std::make_unique<Worker>());
  }
  for (auto& worker : m_workers) {
    worker->thread = std::thread(&VNLThreadPool::WorkerThread, this, worker.get());
  }
  m_dispatcher = std::thread(&VNLThreadPool::ScanTask, this);
}

void VNLThreadPool::AddTask(PoolTask task) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back(std::make_unique<PoolTask>(std::move(task)));
  }
  m_changed.notify_all();
}

void VNLThreadPool::WorkerThread(Worker* worker) {
  while (true) {
    // A new worker joins the idle queue before any task exists.
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stopping) return;
      m_idle.push_back(worker);
    }
    m_changed.notify_all();

    std::unique_ptr<PoolTask> task;
    {
      std::unique_lock<std::mutex> lock(worker->mutex);
      worker->assigned.wait(lock, [&] { return worker->task != nullptr || m_stopping.load(); });
      task = std::move(worker->task);
    }
    if (!task) return;
    try {
      (*task)();
    } catch (const std::exception& error) {
      HLX_LOG(ERROR) << "pool task failed: " << error.what();
    } catch (...) {
      HLX_LOG(ERROR) << "pool task failed with an unknown exception";
    }
    if (t_taskBytes >= kTrimAfterBytes) malloc_trim(0);
    t_taskBytes = 0;
  }
}

void VNLThreadPool::ScanTask() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (true) {
    m_changed.wait(lock, [&] { return m_stopping || (!m_pending.empty() && !m_idle.empty()); });
    if (m_stopping) return;
    Worker* worker = m_idle.front();
    m_idle.pop_front();
    std::unique_ptr<PoolTask> task = std::move(m_pending.front());
    m_pending.pop_front();
    {
      std::lock_guard<std::mutex> workerLock(worker->mutex);
      worker->task = std::move(task);
    }
    worker->assigned.notify_one();
  }
}

}  // namespace hlx
