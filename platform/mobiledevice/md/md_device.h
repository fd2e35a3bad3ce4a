// One attached device as the library's callers see it: the object behind an AMDeviceRef. A new
// MDDevice is made for every arrival and its handle is never reused within the process, so a caller
// that still holds the handle after removal gets kAMDNotConnectedError, never a dangling object.
// It holds the per-arrival state (connection and session reference counts, per-function call counts
// for fault injection, the parsed state and lockdown values) and the objects that must end when the
// device goes (service connections). Removal frees all of that; what stays for the handle is its
// identity (UDID, folder, connection id, last interface type).
//
// Threads: any caller thread and the notification thread. m_mutex is a leaf; m_quotaMutex is lock
// order place 4 (see md_lock_order.h).
#pragma once

#include "mobiledevice.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "md/md_base.h"
#include "md/md_device_image.h"
#include "md/md_lockdown_store.h"

// Something that must stop its pending I/O when its device goes away (a service connection).
class MDDetachListener {
 public:
  virtual ~MDDetachListener() = default;
  // Called once, on the thread that noticed the removal, with no library lock held.
  virtual void OnDeviceDetached() = 0;
};

// What an exported function does after MDDevice::EnterCall.
enum class MDCallGate {
  kProceed,
  kDetached,  // the device is gone (maybe because this very call's fault detached it)
  kFailed,    // the fault table makes this call fail
};

class MDDevice {
 public:
  // folderDevice/folderInode identify the image folder that arrived, so that a folder replaced under
  // the same name later is not mistaken for this device.
  MDDevice(uintptr_t handle, std::string udid, std::string folder, uint32_t connectionId, dev_t folderDevice,
           ino_t folderInode);
  MDDevice(const MDDevice&) = delete;
  MDDevice& operator=(const MDDevice&) = delete;

  uintptr_t Handle() const { return m_handle; }
  AMDeviceRef Ref() const { return MDHandleCast<AMDeviceRef>(m_handle); }
  const std::string& Udid() const { return m_udid; }
  uint32_t ConnectionId() const { return m_connectionId; }
  MDDeviceImage& Image() { return m_image; }
  MDLockdownStore& Lockdown() { return m_lockdown; }

  bool IsAttached() const { return m_attached.load(); }
  // The interface the device was reached through, remembered from the last successful read: the
  // notification of a removal asks for it after the image is gone.
  int LastInterfaceType() const { return m_interfaceType.load(); }
  void RememberInterfaceType(int type) { m_interfaceType.store(type); }
  // Looks at the image folder itself: false once it is gone or replaced, and then marks the device
  // detached at once instead of waiting for the notification thread's next scan. Calls that failed
  // on a missing file use it to tell a vanished device from a missing path.
  bool CheckImagePresent();
  // Marks the device gone, ends every registered listener's I/O and frees the per-arrival state.
  // Idempotent.
  void MarkDetached();
  // The fault "detach during a call": moves the image folder out of the device root into
  // <root>/.detached/ (as if the cable were pulled; the folder is kept for inspection), marks the
  // device gone and wakes the notification thread so that message 2 follows at once.
  void DetachByFault();

  // Every exported function that acts on this device calls this first with its own name: it counts
  // the call and applies the image's fault table.
  MDCallGate EnterCall(const char* function);

  // Connections and sessions are reference counts, so that a stop from an older session (or a
  // disconnect from an older connection) does not end a newer one.
  void Connect();
  void Disconnect();
  bool IsConnected() const;
  void StartSession();
  // False when no session was active.
  bool StopSession();
  bool HasSession() const;

  // Registers a listener; when the device is already gone the listener is told at once.
  void AddDetachListener(const std::shared_ptr<MDDetachListener>& listener);

  // Held across one size-changing file operation and the booking of its space (lock order 4).
  std::mutex& QuotaMutex() { return m_quotaMutex; }
  // Used bytes that AFC added (negative: removed) and that are not yet written into the image's
  // "freeBytes". Only under QuotaMutex().
  int64_t& UnbookedUsedBytesLocked() { return m_unbookedUsedBytes; }

 private:
  const uintptr_t m_handle;
  const std::string m_udid;
  const uint32_t m_connectionId;
  const dev_t m_folderDevice;
  const ino_t m_folderInode;
  MDDeviceImage m_image;
  MDLockdownStore m_lockdown;
  std::atomic<bool> m_attached{true};
  std::atomic<int> m_interfaceType{0};

  mutable std::mutex m_mutex;  // guards: m_connectCount, m_sessionCount, m_callCounts, m_listeners (leaf)
  int m_connectCount = 0;
  int m_sessionCount = 0;
  std::map<std::string, uint64_t> m_callCounts;
  std::vector<std::weak_ptr<MDDetachListener>> m_listeners;

  std::mutex m_quotaMutex;  // lock order 4; guards: m_unbookedUsedBytes
  int64_t m_unbookedUsedBytes = 0;
};

// Every device the process has seen, by handle; removed devices stay (detached).
MDHandleTable<MDDevice>& MDDeviceTable();
std::shared_ptr<MDDevice> MDFindDevice(AMDeviceRef device);
