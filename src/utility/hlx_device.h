// One attached device as the service knows it: its identity, the properties read when it became
// ready, and the task map of the requests that work on it.
//
// Threads: made by the device monitor on the notification thread; read by any worker. The texts are
// written by one request and read by others, so they are guarded and handed out as copies.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "utility/hlx_task.h"

namespace hlx {

// The values that the device-ready event reports.
struct DeviceSummary {
  std::string model;           // "Model"
  std::string productVersion;  // "ProductVersion"
  std::string deviceClass;     // "DeviceClass"
  std::string serialNumber;    // "SerialNumber"
  uint64_t freeBytes = 0;      // "FSFreeBytes"
  uint64_t totalBytes = 0;     // "FSTotalBytes"
};

class HLXDevice {
 public:
  HLXDevice(uint64_t handle, std::string udid) : m_handle(handle), m_udid(std::move(udid)) {}

  // The library's device handle as a number; device events carry it as their code.
  uint64_t Handle() const { return m_handle; }
  const std::string& Udid() const { return m_udid; }

  DeviceSummary Summary() const;
  void SetSummary(const DeviceSummary& summary);

  DeviceTaskMap& TaskMap() { return m_taskMap; }

 private:
  const uint64_t m_handle;
  const std::string m_udid;
  DeviceTaskMap m_taskMap;

  mutable std::mutex m_mutex;
  // guards: m_summary
  DeviceSummary m_summary;
};

}  // namespace hlx
