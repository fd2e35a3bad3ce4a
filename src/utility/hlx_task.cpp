// Task registration, checkpoints and cancellation.
#include "utility/hlx_task.h"

#include <algorithm>

#include "os/hlx_os.h"
#include "utility/hlx_log.h"

namespace hlx {

std::shared_ptr<DhTask> DeviceTaskMap::Register(int64_t taskId) {
  MutexLock lock(m_mutex);
  auto ahead = std::find(m_cancelledAhead.begin(), m_cancelledAhead.end(), taskId);
  if (ahead != m_cancelledAhead.end()) {
    m_cancelledAhead.erase(ahead);
    return nullptr;  // cancelled while it waited to start
  }
  auto found = m_tasks.find(taskId);
  if (found == m_tasks.end()) {
    auto task = std::make_shared<DhTask>(taskId);
    m_tasks.emplace(taskId, task);
    return task;
  }
  if (found->second->m_state == DhTask::kStateCancelled) return nullptr;
  return found->second;
}

void DeviceTaskMap::SetCancelHook(int64_t taskId, std::function<void()> hook) {
  MutexLock lock(m_mutex);
  auto found = m_tasks.find(taskId);
  if (found != m_tasks.end()) found->second->m_cancelHook = std::move(hook);
}

void DeviceTaskMap::RunCancelHook(DhTask* task) {
  // Taken out before the call, so that a second cancel or checkpoint never runs it again.
  std::function<void()> hook = std::move(task->m_cancelHook);
  task->m_cancelHook = nullptr;
  if (!hook) return;
  try {
    hook();
  } catch (...) {
    HLX_LOG(ERROR) << "cancel hook of task " << task->TaskId() << " failed";
  }
}

bool DeviceTaskMap::IsCancelled(int64_t taskId) {
  MutexLock lock(m_mutex);
  auto found = m_tasks.find(taskId);
  if (found == m_tasks.end() || found->second->m_state != DhTask::kStateCancelled) return false;
  RunCancelHook(found->second.get());
  return true;
}

void DeviceTaskMap::Remove(int64_t taskId) {
  MutexLock lock(m_mutex);
  m_tasks.erase(taskId);
}

void DeviceTaskMap::Cancel(int64_t taskId) {
  MutexLock lock(m_mutex);
  auto found = m_tasks.find(taskId);
  if (found == m_tasks.end() || !found->second) {
    if (std::find(m_cancelledAhead.begin(), m_cancelledAhead.end(), taskId) != m_cancelledAhead.end()) return;
    m_cancelledAhead.push_back(taskId);
    if (m_cancelledAhead.size() > kRememberedCancels) m_cancelledAhead.pop_front();
    return;
  }
  found->second->m_state = DhTask::kStateCancelled;
  RunCancelHook(found->second.get());
}

bool DeviceTaskMap::Contains(int64_t taskId) const {
  MutexLock lock(m_mutex);
  return m_tasks.count(taskId) != 0;
}

DeviceTaskMap& GetServiceTaskMap() {
  static DeviceTaskMap* map = new DeviceTaskMap();  // lives until the process ends
  return *map;
}

CancelTest CancelTestOf(DeviceTaskMap& tasks, int64_t taskId) {
  return [&tasks, taskId] { return tasks.IsCancelled(taskId); };
}

size_t DownloadWriteCallback(char* bytes, size_t size, size_t count, void* argument) {
  auto* download = static_cast<DownloadData*>(argument);
  // Any count other than size * count makes libcurl abort; 0 is refused even for an empty block.
  constexpr size_t kAbort = static_cast<size_t>(-2);
  if (!download) return kAbort;
  if (download->taskMap && download->taskMap->IsCancelled(download->taskId)) return kAbort;
  const size_t total = size * count;
  if (total > 0 && (!download->file || std::fwrite(bytes, 1, total, download->file) != total)) {
    return kAbort;
  }
  download->receivedBytes += total;
  const int64_t now = os::Os().currentTime();
  if (now - download->lastProgressSeconds > 2) {
    download->lastProgressSeconds = now;
    if (download->sendProgress) download->sendProgress(*download);
  }
  return total;
}

}  // namespace hlx
