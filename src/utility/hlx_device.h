// One attached device as the service knows it: its library handle, its state, the properties read
// when it became ready, and the task map of the requests that work on it.
//
// Threads: made by the device monitor on the notification thread; read by any worker. The texts are
// written by one request and read by others, so they are guarded and handed out as copies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "utility/hlx_lock_order.h"
#include "utility/hlx_task.h"

struct am_device;

namespace hlx {

// What the device layer reads when a device arrives, and what modules add later.
struct DeviceProperties {
  std::string productVersion;  // lockdown "ProductVersion", e.g. "9.3.5"
  int32_t versionNumber = 0;   // 10 * major + minor of productVersion (9.3.5 gives 93)
  std::string deviceName;      // lockdown "DeviceName", UTF-8
  std::string udid;            // lockdown "UniqueDeviceID": the "uuid" of requests
  std::string serialNumber;    // lockdown "SerialNumber"
  std::string deviceClass;     // lockdown "DeviceClass": "iPhone", "iPod", "iPad"
  std::string uniqueChipId;    // lockdown "UniqueChipID" in decimal
  std::string model;           // AFC device info "Model"
  int64_t totalBytes = 0;      // AFC device info "FSTotalBytes"
  int64_t freeBytes = 0;       // AFC device info "FSFreeBytes"
};

class HLXDevice {
 public:
  enum State : int32_t {
    kStateReady = 1,
    kStateRemoved = 2,
    kStateCreated = 3,
    kStateTrustAnswered = 4,
  };

  explicit HLXDevice(am_device* handle) : m_handle(handle) {}
  HLXDevice(const HLXDevice&) = delete;
  HLXDevice& operator=(const HLXDevice&) = delete;

  am_device* Device() const { return m_handle; }
  // The library's device handle as a number; reports and events carry it as their code.
  uint64_t Handle() const { return reinterpret_cast<uintptr_t>(m_handle); }

  int32_t GetState() const { return m_state.load(); }
  void SetState(int32_t state) { m_state.store(state); }

  DeviceProperties Properties() const;
  void SetProperties(const DeviceProperties& properties);
  std::string Udid() const;

  // Written by the basic-information module: the product version as it read it.
  std::string ProductVersionText() const;
  void SetProductVersionText(const std::string& text);
  // Written by the messages backup: where the fetched message database lies on the PC.
  std::string MessagesDatabasePath() const;
  void SetMessagesDatabasePath(const std::string& path);
  // Written by the photo module: its local copy of the device's photo database ("" before the first).
  std::string PhotoDatabasePath() const;
  void SetPhotoDatabasePath(const std::string& path);

  DeviceTaskMap& TaskMap() { return m_taskMap; }

 private:
  am_device* const m_handle;
  std::atomic<int32_t> m_state{kStateCreated};
  DeviceTaskMap m_taskMap;

  mutable Mutex m_mutex;
  // guards: m_properties, m_productVersionText, m_messagesDatabasePath, m_photoDatabasePath
  DeviceProperties m_properties HLX_GUARDED_BY(m_mutex);
  std::string m_productVersionText HLX_GUARDED_BY(m_mutex);
  std::string m_messagesDatabasePath HLX_GUARDED_BY(m_mutex);
  std::string m_photoDatabasePath HLX_GUARDED_BY(m_mutex);
};

// 10 * major + minor of a dotted version text ("4.2.1" gives 42, "10.3" gives 103, "" gives 0).
int32_t VersionNumberOf(const std::string& version);

}  // namespace hlx
