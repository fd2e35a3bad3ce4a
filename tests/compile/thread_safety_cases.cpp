// Locking that clang's thread-safety analysis must reject, one case per HLX_CASE value, and the same
// counter used correctly (HLX_CASE undefined), which must compile without a diagnostic. The tests
// compile this file with the service's own warning flags (tests/CMakeLists.txt), so they fail when the
// analysis is off: the flag dropped from the service's warnings, or the guard macros of
// utility/hlx_lock_order.h mapping to nothing.
#include "utility/hlx_lock_order.h"

namespace {

class Counter {
 public:
  void Bump() {
    hlx::MutexLock lock(m_mutex);
    BumpLocked();
  }

  int Read() {
    hlx::MutexLock lock(m_mutex);
    return m_value;
  }

  int ReadUnlocked() {
#if HLX_CASE == 1  // a guarded field read without its lock
    return m_value;
#else
    return Read();
#endif
  }

  void Reset() {
#if HLX_CASE == 2  // a guarded field written without its lock
    m_value = 0;
#else
    hlx::MutexLock lock(m_mutex);
    m_value = 0;
#endif
  }

  void BumpAgain() {
#if HLX_CASE == 3  // a function that requires the lock called without it
    BumpLocked();
#else
    Bump();
#endif
  }

  void BumpAndKeep() {
    m_mutex.lock();
    BumpLocked();
#if HLX_CASE != 4  // the lock still held when the function returns
    m_mutex.unlock();
#endif
  }

 private:
  void BumpLocked() HLX_REQUIRES(m_mutex) { ++m_value; }

  hlx::Mutex m_mutex;
  int m_value HLX_GUARDED_BY(m_mutex) = 0;
};

// Two locks of a written order, a shared lock, a condition wait and a lock released early.
class Table {
 public:
  void Fill() HLX_EXCLUDES(m_outer) {
#if HLX_CASE == 5  // two locks taken against their written order
    hlx::WriterMutexLock rows(m_rows);
    hlx::MutexLock outer(m_outer);
#else
    hlx::MutexLock outer(m_outer);
    hlx::WriterMutexLock rows(m_rows);
#endif
    m_count = 1;
    m_ready = true;
    m_changed.NotifyAll();
  }

  int Count() {
    hlx::ReaderMutexLock rows(m_rows);
#if HLX_CASE == 6  // a guarded field written under a lock held shared only
    m_count = 2;
#endif
    return m_count;
  }

  void WaitReady() {
    hlx::MutexLock outer(m_outer);
    while (!m_ready) m_changed.Wait(m_outer);
  }

  bool ReadyThenRelease() {
    hlx::ReleasableMutexLock outer(m_outer);
    const bool ready = m_ready;
    outer.Release();
#if HLX_CASE == 7  // a guarded field read after its lock was released early
    return ready && m_ready;
#else
    return ready;
#endif
  }

  void WaitUnlocked() {
#if HLX_CASE == 8  // a condition waited on without its mutex
    m_changed.Wait(m_outer);
#endif
  }

  void FillTwice() {
    Fill();
#if HLX_CASE == 9  // a function that takes a lock called with it held
    hlx::MutexLock outer(m_outer);
    Fill();
#endif
  }

  int Nested() {
    hlx::RecursiveMutexLock outer(m_recursive);
    return m_nested;
  }

 private:
  hlx::Mutex m_outer;
  hlx::SharedMutex m_rows HLX_ACQUIRED_AFTER(m_outer);
  hlx::CondVar m_changed;
  hlx::RecursiveMutex m_recursive;
  bool m_ready HLX_GUARDED_BY(m_outer) = false;
  int m_count HLX_GUARDED_BY(m_rows) = 0;
  int m_nested HLX_GUARDED_BY(m_recursive) = 0;
};

}  // namespace

int main() {
  Counter counter;
  counter.Bump();
  counter.BumpAgain();
  counter.BumpAndKeep();
  counter.Reset();
  Table table;
  table.FillTwice();
  table.WaitReady();
  table.WaitUnlocked();
  return counter.ReadUnlocked() + counter.Read() + table.Count() + table.Nested() + (table.ReadyThenRelease() ? 1 : 0);
}
