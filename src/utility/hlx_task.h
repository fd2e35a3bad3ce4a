// Running long requests and their cancellation: a DhTask per long request, kept by request id in a
// DeviceTaskMap (one per device and one service-wide), marked by request 600 and polled by the
// request's own loop at its checkpoints.
//
// Threads: the request's worker registers, polls and removes its task; request 600 cancels from the
// desktop channel's receive thread. The map's mutex guards every task's state and cancel hook.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "utility/hlx_lock_order.h"

namespace hlx {

class DhTask {
 public:
  static constexpr int16_t kStateRunning = 0;
  static constexpr int16_t kStateCancelled = 5;

  explicit DhTask(int64_t taskId) : m_taskId(taskId) {}
  virtual ~DhTask() = default;

  int64_t TaskId() const { return m_taskId; }

  // Objects a module keeps alive for the task's duration (the file module's transfer objects).
  std::shared_ptr<void> firstObject;
  std::shared_ptr<void> secondObject;

 private:
  friend class DeviceTaskMap;
  const int64_t m_taskId;
  // Both guarded by the owning map's mutex.
  int16_t m_state = kStateRunning;
  std::function<void()> m_cancelHook;  // run once, on the cancelling thread, under the map's mutex
};

class DeviceTaskMap {
 public:
  // The task for a request about to start: a new one, or the one already registered under the id.
  // Null when that one was cancelled already: the request must not run.
  std::shared_ptr<DhTask> Register(int64_t taskId);
  // Sets the hook that a cancel runs once. The hook runs under this map's mutex: it must not call
  // back into the map.
  void SetCancelHook(int64_t taskId, std::function<void()> hook);
  // A request's checkpoint: true when its task was cancelled (a hook still set is taken and run).
  bool IsCancelled(int64_t taskId);
  // The request ended.
  void Remove(int64_t taskId);
  // Request 600: marks the task cancelled and runs its hook once. An id not registered yet is
  // remembered (the last kRememberedCancels of them), so that a request cancelled while it waits for a
  // worker does not run when it gets one: its Register answers null.
  void Cancel(int64_t taskId);
  bool Contains(int64_t taskId) const;

 private:
  void RunCancelHook(DhTask* task) HLX_REQUIRES(m_mutex);

  static constexpr size_t kRememberedCancels = 256;

  mutable Mutex m_mutex;
  // guards: m_tasks and every listed task's state and hook, and the cancels of requests not started
  std::map<int64_t, std::shared_ptr<DhTask>> m_tasks HLX_GUARDED_BY(m_mutex);
  std::deque<int64_t> m_cancelledAhead HLX_GUARDED_BY(m_mutex);  // oldest first
};

// The map for requests that belong to no device.
DeviceTaskMap& GetServiceTaskMap();

// A long step's view of its request's cancel: true once the step should stop with kReplyCancelled.
using CancelTest = std::function<bool()>;
// The cancel test of the task `taskId` in `tasks` (IsCancelled); `tasks` must outlive it.
CancelTest CancelTestOf(DeviceTaskMap& tasks, int64_t taskId);

// A request's task, registered for the request's duration and removed when it ends.
class TaskRegistration {
 public:
  TaskRegistration(DeviceTaskMap& tasks, int64_t taskId)
      : m_tasks(tasks), m_taskId(taskId), m_task(tasks.Register(taskId)) {}
  ~TaskRegistration() {
    if (m_task) m_tasks.Remove(m_taskId);
  }
  TaskRegistration(const TaskRegistration&) = delete;
  TaskRegistration& operator=(const TaskRegistration&) = delete;

  // Cancelled before the request started: the request must not run.
  bool Cancelled() const { return !m_task; }
  CancelTest Test() const { return CancelTestOf(m_tasks, m_taskId); }

 private:
  DeviceTaskMap& m_tasks;
  const int64_t m_taskId;
  const std::shared_ptr<DhTask> m_task;
};

// A download in progress, handed to DownloadWriteCallback as its argument.
struct DownloadData {
  DeviceTaskMap* taskMap = nullptr;  // where the download's task is registered
  int64_t taskId = 0;
  std::FILE* file = nullptr;  // the open destination, owned by the caller
  uint64_t expectedBytes = 0;
  uint64_t receivedBytes = 0;
  int64_t lastProgressSeconds = 0;
  // Called at most once every three seconds with the download itself.
  std::function<void(const DownloadData&)> sendProgress;
};

// libcurl write callback of cancellable downloads: aborts the transfer (returns a count libcurl
// refuses) once the task is cancelled, or when the file cannot take the bytes; otherwise writes them,
// counts them and reports progress.
size_t DownloadWriteCallback(char* bytes, size_t size, size_t count, void* download);

}  // namespace hlx
