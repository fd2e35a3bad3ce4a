// The list of attached devices and the callbacks that hear of their arrival and removal.
//
// Threads: devices are added and removed on the device-notification thread; workers look devices
// up under the monitor mutex. Events are delivered with the monitor mutex held.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace hlx {

class HLXDevice;

// Hears of devices becoming ready (event 1) and going away (event 2).
class HLXDeviceCallback {
 public:
  virtual ~HLXDeviceCallback() = default;
  virtual void OnDeviceEvent(const std::shared_ptr<HLXDevice>& device, int event) = 0;
};

class HLXDeviceMonitor {
 public:
  static constexpr int kEventReady = 1;
  static constexpr int kEventRemoved = 2;

  static HLXDeviceMonitor& GetInstance();

  // Registers a callback and returns its id (1 for the first).
  int AddCallback(HLXDeviceCallback* callback);

  // The device with this UDID, or null.
  std::shared_ptr<HLXDevice> FindDeviceByUdid(const std::string& udid) const;

  // A device became ready or went away: record or drop it, then tell every callback.
  void AddDevice(const std::shared_ptr<HLXDevice>& device);
  void RemoveDevice(const std::string& udid);

 private:
  mutable std::recursive_mutex m_mutex;
  // guards: m_devices, m_callbacks, m_callbackCounter
  std::map<std::string, std::shared_ptr<HLXDevice>> m_devices;
  std::map<int, HLXDeviceCallback*> m_callbacks;
  int m_callbackCounter = 0;
};

}  // namespace hlx
