// A queue whose items are handled on threads of its own, so that the thread that pushes them goes on
// meanwhile: a listing reads its rows while helpers write and compress the batches already read.
//
// Threads: Push and Finish on the thread that owns the queue; the handler runs on the helpers (or
// on that thread when it has none).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "utility/hlx_lock_order.h"

namespace hlx {

// Runs a handler on each pushed item on threads of its own (up to `threads`), so that the pushing
// thread goes on meanwhile; with one thread the items are handled in push order. At most `maxQueued`
// items wait: a Push beyond waits for room, so a fast pusher never piles up what the handlers have
// not taken yet. Finish waits until every pushed item has been handled. Without a thread (none could
// be made, or after Finish) an item is handled at once on the pushing thread.
template <typename T>
class SideQueue {
 public:
  explicit SideQueue(std::function<void(T&)> handle, size_t threads = 1, size_t maxQueued = 4)
      : m_handle(std::move(handle)), m_threadCount(threads), m_maxQueued(maxQueued) {}
  ~SideQueue() { Finish(); }
  SideQueue(const SideQueue&) = delete;
  SideQueue& operator=(const SideQueue&) = delete;

  void Push(T item) HLX_EXCLUDES(m_mutex) {
    ReleasableMutexLock lock(m_mutex);
    if (m_threads.empty() && !m_inline) {
      try {
        while (m_threads.size() < m_threadCount) m_threads.emplace_back([this] { Run(); });
      } catch (const std::system_error&) {
        m_inline = m_threads.empty();
      }
    }
    while (!m_inline && m_queue.size() >= m_maxQueued) m_room.Wait(m_mutex);
    if (m_inline) {
      lock.Release();
      m_handle(item);
      return;
    }
    m_queue.push_back(std::move(item));
    m_wake.NotifyOne();
  }

  void Finish() HLX_EXCLUDES(m_mutex) {
    {
      MutexLock lock(m_mutex);
      m_inline = true;
    }
    m_wake.NotifyAll();
    m_room.NotifyAll();
    for (std::thread& thread : m_threads) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  void Run() HLX_EXCLUDES(m_mutex) {
    for (;;) {
      std::optional<T> item;
      {
        MutexLock lock(m_mutex);
        while (!m_inline && m_queue.empty()) m_wake.Wait(m_mutex);
        if (m_queue.empty()) return;
        item.emplace(std::move(m_queue.front()));
        m_queue.pop_front();
        m_room.NotifyAll();
      }
      m_handle(*item);
    }
  }

  const std::function<void(T&)> m_handle;
  const size_t m_threadCount;
  const size_t m_maxQueued;
  Mutex m_mutex;
  CondVar m_wake;
  CondVar m_room;  // a queued item was taken, or Finish
  bool m_inline HLX_GUARDED_BY(m_mutex) = false;  // set for good by Finish
  std::deque<T> m_queue HLX_GUARDED_BY(m_mutex);
  std::vector<std::thread> m_threads;  // made by the first Push, under m_mutex
};

}  // namespace hlx
