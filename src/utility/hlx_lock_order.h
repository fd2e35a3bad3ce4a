// The lock order of the service, written down in one place, and the guard macros that let clang check
// it. Each mutex's "guards:" comment says what it guards; this list says which may be taken under
// which.
//
// Outer to inner; a thread holding a lock may take only locks further down the list:
//
//   1. HLXDeviceMonitor::m_startMutex    held across binding the device library and subscribing to
//                                        device notifications (Start).
//   2. CMobileExportFun::m_initMutex     serialises binding the device library; taken before
//                                        m_foldersMutex (the search folders), never held while a
//                                        caller uses the bound entry points.
//   3. HLXDeviceMonitor::m_mutex         (RecursiveMutex) the device list and the callbacks; held while
//                                        device events are delivered, so everything below may be
//                                        taken under it (a callback sends through the client).
//   4. DeviceTaskMap::m_mutex            a task map's tasks; held while a cancel hook runs, and the
//                                        hooks abort a protocol (HLXBackupProtocol::m_mutex) or a
//                                        transfer (the file module's transfer state).
//      Under it, a file transfer's FileTransfer::mutex (hlx_module_file.cpp), held while the transfer's
//      file service is opened, so the device caches (5) are taken under it; released before the
//      transfer's reader or writer is finished, whose own mutex (FilePacketWriter::m_mutex,
//      FilePacketReader::m_mutex) is held across its AFC calls; under a writer's, only the
//      process's held upload names (UploadNames::mutex, hlx_file_transfer.cpp) are taken.
//   5. The device caches of hlx_device_session.cpp: the service cache's mutex, then the session
//      cache's, then the connection cache's; never the reverse, and none is held while the device
//      monitor's mutex is taken.
//   6. MediaCopies::bookMutex, then MediaCopies::filesLock (one device's media copies); apart from
//      them, a device's photo list mutex (HLXModulePhoto::ListMutexOf), then the photo module's
//      m_rememberedMutex.
//   7. HLXClient::m_mutex                the queued requests and the sends through the client; a
//                                        send under it takes the channel mutex and the connection's
//                                        send mutex (8), and the helper channel's callbacks are set
//                                        and its listener opened under it.
//   8. The IPC channel's locks (hlx_ipc_channel.h): each taken alone, none held while another is
//      taken or while a callback runs: the channel mutex, a connection's send mutex, the queue mutex,
//      the callback mutexes.
//   Leaves (no other lock of this list is taken while one of these is held): HLXDevice::m_mutex,
//   VNLThreadPool::m_mutex (tasks run after it is released) and the upload names' mutex of
//   hlx_file_transfer.cpp (taken under an upload writer's mutex). Every other mutex of src/ guards its
//   own object's fields and is taken alone; a lock taken under another gets its place in this list.
//
// The macros below map to clang's thread-safety attributes, so that a clang build with
// -Wthread-safety checks the annotated state, and to nothing under other compilers. The standard
// library's mutexes carry no capability annotation in libstdc++, so state checked this way is guarded
// by hlx::Mutex, RecursiveMutex or SharedMutex, locked through the scoped types below, and waited on
// through hlx::CondVar. Where two locks of this list meet in one function, the inner one names the
// outer with HLX_ACQUIRED_AFTER and -Wthread-safety-beta rejects the reverse order; a function that
// takes a lock itself says HLX_EXCLUDES, so that calling it with the lock held is rejected, and one
// that needs its caller's lock says HLX_REQUIRES.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define HLX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HLX_THREAD_ANNOTATION(x)
#endif

#define HLX_CAPABILITY(name) HLX_THREAD_ANNOTATION(capability(name))
#define HLX_SCOPED_CAPABILITY HLX_THREAD_ANNOTATION(scoped_lockable)
#define HLX_GUARDED_BY(mutex) HLX_THREAD_ANNOTATION(guarded_by(mutex))
#define HLX_PT_GUARDED_BY(mutex) HLX_THREAD_ANNOTATION(pt_guarded_by(mutex))
#define HLX_ACQUIRED_BEFORE(...) HLX_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define HLX_ACQUIRED_AFTER(...) HLX_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define HLX_REQUIRES(...) HLX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define HLX_REQUIRES_SHARED(...) HLX_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define HLX_EXCLUDES(...) HLX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define HLX_ACQUIRE(...) HLX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define HLX_ACQUIRE_SHARED(...) HLX_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define HLX_RELEASE(...) HLX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define HLX_RELEASE_SHARED(...) HLX_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define HLX_RETURN_CAPABILITY(x) HLX_THREAD_ANNOTATION(lock_returned(x))

namespace hlx {

class CondVar;

// A std::mutex that clang's analysis knows as a lock.
class HLX_CAPABILITY("mutex") Mutex {
 public:
  void lock() HLX_ACQUIRE() { m_mutex.lock(); }
  void unlock() HLX_RELEASE() { m_mutex.unlock(); }

 private:
  friend class CondVar;
  std::mutex m_mutex;
};

// A std::recursive_mutex that clang's analysis knows as a lock. The analysis does not follow
// re-entry: a function that may run with the lock already held (a callback delivered under it)
// takes it again through its own RecursiveMutexLock.
class HLX_CAPABILITY("mutex") RecursiveMutex {
 public:
  void lock() HLX_ACQUIRE() { m_mutex.lock(); }
  void unlock() HLX_RELEASE() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

// A std::shared_mutex that clang's analysis knows as a lock: readers share it, a writer holds it alone.
class HLX_CAPABILITY("mutex") SharedMutex {
 public:
  void lock() HLX_ACQUIRE() { m_mutex.lock(); }
  void unlock() HLX_RELEASE() { m_mutex.unlock(); }
  void lock_shared() HLX_ACQUIRE_SHARED() { m_mutex.lock_shared(); }
  void unlock_shared() HLX_RELEASE_SHARED() { m_mutex.unlock_shared(); }

 private:
  std::shared_mutex m_mutex;
};

// Holds one of the mutexes above exclusively for its scope; the way the service locks them.
template <typename M>
class HLX_SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(M& mutex) HLX_ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~ScopedLock() HLX_RELEASE() { m_mutex.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  M& m_mutex;
};

using MutexLock = ScopedLock<Mutex>;
using RecursiveMutexLock = ScopedLock<RecursiveMutex>;
using WriterMutexLock = ScopedLock<SharedMutex>;

// Holds a SharedMutex shared for its scope.
class HLX_SCOPED_CAPABILITY ReaderMutexLock {
 public:
  explicit ReaderMutexLock(SharedMutex& mutex) HLX_ACQUIRE_SHARED(mutex) : m_mutex(mutex) { m_mutex.lock_shared(); }
  ~ReaderMutexLock() HLX_RELEASE() { m_mutex.unlock_shared(); }
  ReaderMutexLock(const ReaderMutexLock&) = delete;
  ReaderMutexLock& operator=(const ReaderMutexLock&) = delete;

 private:
  SharedMutex& m_mutex;
};

// A MutexLock that its holder may release before the scope ends (work that must not run under the
// lock follows the guarded part).
class HLX_SCOPED_CAPABILITY ReleasableMutexLock {
 public:
  explicit ReleasableMutexLock(Mutex& mutex) HLX_ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~ReleasableMutexLock() HLX_RELEASE() {
    if (m_held) m_mutex.unlock();
  }
  void Release() HLX_RELEASE() {
    m_held = false;
    m_mutex.unlock();
  }
  ReleasableMutexLock(const ReleasableMutexLock&) = delete;
  ReleasableMutexLock& operator=(const ReleasableMutexLock&) = delete;

 private:
  Mutex& m_mutex;
  bool m_held = true;
};

// A condition variable waited on with a Mutex held. The waits take the mutex itself, so the analysis
// checks that it is held; a caller loops on its condition, which it reads under the lock:
//   while (!ready) changed.Wait(m_mutex);
class CondVar {
 public:
  void Wait(Mutex& mutex) HLX_REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.m_mutex, std::adopt_lock);
    m_condition.wait(lock);
    lock.release();
  }
  // False once the deadline passed.
  bool WaitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) HLX_REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.m_mutex, std::adopt_lock);
    const bool woken = m_condition.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void NotifyOne() { m_condition.notify_one(); }
  void NotifyAll() { m_condition.notify_all(); }

 private:
  std::condition_variable m_condition;
};

}  // namespace hlx
