// A started device service: the object behind an AMDServiceConnectionRef. It is a socket pair; the
// host end is what AMDServiceConnectionSend/Receive use and what AMDServiceConnectionGetSocket hands
// out, the device end is served by the service's handler on a thread of its own.
//
// Ending: Invalidate (the caller is done) or the device's detach stops the device thread and makes
// every pending and later Send/Receive fail at once; a Receive also fails after the receive time-out
// (md_settings.h) so that no caller thread hangs on a silent device. The descriptors are closed
// only when the last holder lets go, so a thread still inside Receive never sees its descriptor
// closed (and reused) under it.
//
// Threads: Send/Receive from any caller thread (one sender and one receiver at a time is what a
// stream allows); the device thread runs the handler; OnDeviceDetached comes from whichever thread
// saw the removal. m_mutex is a leaf.
#pragma once

#include "mobiledevice.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "md/md_base.h"
#include "md/md_device.h"
#include "md/md_service.h"

class MDServiceConnection : public MDDetachListener {
 public:
  // Makes the socket pair and starts the handler. Returns 0 or a kAMD code.
  [[nodiscard]] static int Start(const std::shared_ptr<MDDevice>& device, const std::string& name,
                                 const MDServiceHandler& handler, const MDDeviceState& state,
                                 std::shared_ptr<MDServiceConnection>* connection);
  ~MDServiceConnection() override;

  uintptr_t Handle() const { return m_handle; }
  const std::string& Name() const { return m_name; }
  const std::shared_ptr<MDDevice>& Device() const { return m_device; }
  // The host end, or -1 once invalidated.
  int HostSocket() const;
  bool IsSecure() const { return m_secure; }
  // Neither invalidated nor cut off by a detach.
  bool IsUsable() const;

  // The count sent (all of `length`), or -1.
  int Send(const void* bytes, size_t length);
  // The count received, 0 at end of stream, -1 on failure, detach, invalidation or time-out.
  int Receive(void* bytes, size_t length);
  // Idempotent.
  void Invalidate();

  void OnDeviceDetached() override;

 private:
  struct DeviceEnd;
  MDServiceConnection(uintptr_t handle, std::shared_ptr<MDDevice> device, std::string name, bool secure);
  // Waits for `events` on the host end until the deadline; false on cancel, time-out or error.
  bool WaitHost(short events, int timeoutMs);
  void Stop();

  const uintptr_t m_handle;
  const std::shared_ptr<MDDevice> m_device;
  const std::string m_name;
  const bool m_secure;
  MDUniqueFd m_hostFd;
  MDUniqueFd m_cancelFd;  // eventfd: readable once invalidated or detached
  std::shared_ptr<DeviceEnd> m_deviceEnd;
  std::atomic<bool> m_invalidated{false};
  std::atomic<bool> m_detached{false};

  std::mutex m_mutex;  // guards: m_thread (joining it) (leaf)
  std::thread m_thread;
};

// Live service connections by handle (invalidated ones are removed).
MDHandleTable<MDServiceConnection>& MDServiceConnectionTable();
// The live connection whose host end is `socket`, or null.
std::shared_ptr<MDServiceConnection> MDFindServiceConnectionBySocket(int socket);
