// Device list and event delivery.
#include "utility/ios/hlx_device_monitor.h"

#include "utility/hlx_device.h"

namespace hlx {

HLXDeviceMonitor& HLXDeviceMonitor::GetInstance() {
  static HLXDeviceMonitor* monitor = new HLXDeviceMonitor();  // lives until the process ends
  return *monitor;
}

int HLXDeviceMonitor::AddCallback(HLXDeviceCallback* callback) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  m_callbacks[++m_callbackCounter] = callback;
  return m_callbackCounter;
}

std::shared_ptr<HLXDevice> HLXDeviceMonitor::FindDeviceByUdid(const std::string& udid) const {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  auto found = m_devices.find(udid);
  return found == m_devices.end() ? nullptr : found->second;
}

void HLXDeviceMonitor::AddDevice(const std::shared_ptr<HLXDevice>& device) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  m_devices[device->Udid()] = device;
  for (const auto& [id, callback] : m_callbacks) callback->OnDeviceEvent(device, kEventReady);
}

void HLXDeviceMonitor::RemoveDevice(const std::string& udid) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  auto found = m_devices.find(udid);
  if (found == m_devices.end()) return;
  std::shared_ptr<HLXDevice> device = found->second;
  m_devices.erase(found);
  for (const auto& [id, callback] : m_callbacks) callback->OnDeviceEvent(device, kEventRemoved);
}

}  // namespace hlx
