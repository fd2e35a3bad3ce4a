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

}  // namespace

int main() {
  Counter counter;
  counter.Bump();
  counter.BumpAgain();
  counter.BumpAndKeep();
  counter.Reset();
  return counter.ReadUnlocked() + counter.Read();
}
