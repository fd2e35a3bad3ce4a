// The list of attached devices. The monitor binds the device library, checks that the device
// support service runs, subscribes to device notifications, brings arriving devices to ready
// (session, properties) and tells every registered callback of devices becoming ready and going
// away. Every module finds its device here by UDID.
//
// Threads: notifications arrive on the library's notification thread; workers look devices up and
// retry a device (request 15). The monitor mutex guards the list and the callbacks and is held while
// events are delivered, so a callback must not wait for another thread that needs it. Sessions and
// properties are read without it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mobiledevice.h"
#include "utility/hlx_lock_order.h"

namespace hlx {

class HLXDevice;

// Hears of devices becoming ready (event 1), going away (event 2) and unknown notifications for a
// listed device (event 3).
class HLXDeviceCallback {
 public:
  virtual ~HLXDeviceCallback() = default;
  virtual void OnDeviceEvent(const std::shared_ptr<HLXDevice>& device, int event) = 0;
};

class HLXDeviceMonitor {
 public:
  static constexpr int kEventReady = 1;
  static constexpr int kEventRemoved = 2;
  static constexpr int kEventUnknown = 3;

  static HLXDeviceMonitor& GetInstance();

  // Binds the library (9), checks the device support service (14) and subscribes (11); 0 on
  // success. Serialised and idempotent: once subscribed, later calls return 0 without subscribing
  // again, so no device is ever recorded or announced twice.
  int Start();

  // Registers a callback and returns its id (1 for the first).
  int AddCallback(HLXDeviceCallback* callback);

  // The first listed device with this UDID (case-sensitive), or null.
  std::shared_ptr<HLXDevice> FindDeviceByUdid(const std::string& udid) const;
  std::shared_ptr<HLXDevice> FindDeviceByHandle(AMDeviceRef device) const;

  // Reads the device's properties and, on success, marks it ready and announces it. Returns 0 or
  // the device code that stopped it (reported to the desktop in mode 0).
  int OnDeviceReady(const std::shared_ptr<HLXDevice>& device);

  // The library's notification callback.
  static void OnNotification(am_device_notification_callback_info* info, void* context);

 private:
  HLXDeviceMonitor() = default;
  void OnArrived(AMDeviceRef handle);
  void OnRemoved(AMDeviceRef handle);
  void OnTrustAnswered(AMDeviceRef handle);
  void OnUnknown(AMDeviceRef handle);
  // Session renewal and readiness after an arrival or a trust answer.
  void BringUp(const std::shared_ptr<HLXDevice>& device);
  void Deliver(const std::shared_ptr<HLXDevice>& device, int event) HLX_REQUIRES(m_mutex);

  Mutex m_startMutex;
  // guards: m_subscription
  AMDeviceNotificationRef m_subscription HLX_GUARDED_BY(m_startMutex) = nullptr;

  mutable RecursiveMutex m_mutex HLX_ACQUIRED_AFTER(m_startMutex);
  // guards: m_devices, m_callbacks, m_nextCallbackId
  std::vector<std::shared_ptr<HLXDevice>> m_devices HLX_GUARDED_BY(m_mutex);  // arrival order
  std::map<int, HLXDeviceCallback*> m_callbacks HLX_GUARDED_BY(m_mutex);
  int m_nextCallbackId HLX_GUARDED_BY(m_mutex) = 0;
};

// Reads a device's identity and storage figures into its record; 0 or a device code.
int ReadDeviceProperties(HLXDevice& device);

}  // namespace hlx
