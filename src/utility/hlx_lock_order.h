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
//   3. HLXDeviceMonitor::m_mutex         (recursive) the device list and the callbacks; held while
//                                        device events are delivered, so everything below may be
//                                        taken under it (a callback sends through the client).
//   4. DeviceTaskMap::m_mutex            a task map's tasks; held while a cancel hook runs, and the
//                                        hooks abort a protocol (HLXBackupProtocol::m_mutex) or a
//                                        transfer (the file module's transfer state).
//   5. The device caches of hlx_device_session.cpp: the service cache's mutex, then the session
//      cache's, then the connection cache's; never the reverse, and none is held while the device
//      monitor's mutex is taken.
//   6. MediaCopies::bookMutex, then MediaCopies::filesLock (one device's media copies); apart from
//      them, a device's photo list mutex (HLXModulePhoto::ListMutexOf), then the photo module's
//      m_rememberedMutex.
//   7. HLXClient::m_mutex                the queued requests and the sends through the client; a
//                                        send under it takes the connection's send mutex (8).
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
// library's std::mutex carries no capability annotation in libstdc++, so state checked this way is
// guarded by hlx::Mutex and locked through hlx::MutexLock.
#pragma once

#include <mutex>

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
#define HLX_EXCLUDES(...) HLX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define HLX_ACQUIRE(...) HLX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define HLX_RELEASE(...) HLX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace hlx {

// A std::mutex that clang's analysis knows as a lock.
class HLX_CAPABILITY("mutex") Mutex {
 public:
  void lock() HLX_ACQUIRE() { m_mutex.lock(); }
  void unlock() HLX_RELEASE() { m_mutex.unlock(); }

 private:
  std::mutex m_mutex;
};

// Holds a Mutex for its scope; the only way the service locks one.
class HLX_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) HLX_ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~MutexLock() HLX_RELEASE() { m_mutex.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_mutex;
};

}  // namespace hlx
