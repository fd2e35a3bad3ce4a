// Device monitor: binding, subscription, arrival, removal, trust and readiness.
#include "utility/ios/hlx_device_monitor.h"

#include <cstdio>
#include <cstdlib>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_log.h"
#include "utility/hlx_process_util.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_startup_state.h"
#include "utility/ios/hlx_client.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

bool InNormalMode() { return GetStartupState().instanceMode == 0; }

}  // namespace

HLXDeviceMonitor& HLXDeviceMonitor::GetInstance() {
  static HLXDeviceMonitor* monitor = new HLXDeviceMonitor();  // lives until the process ends
  return *monitor;
}

int HLXDeviceMonitor::Start() {
  MutexLock lock(m_startMutex);
  if (m_subscription) return kReplySuccess;
  HLX_LOG(INFO) << "CMobileExportFun::GetInstance().Init() Before";
  if (!Md().Init()) return kReplyLibraryNotBound;
  HLX_LOG(INFO) << "CMobileExportFun::GetInstance().Init() Finish";
  if (!IsMobileDeviceServiceRunning()) return kReplyServiceNotRunning;
  HLX_LOG(INFO) << "AppleMobileDeviceService.exe";
  AMDeviceNotificationRef subscription = nullptr;
  if (Md().AMDeviceNotificationSubscribe(&HLXDeviceMonitor::OnNotification, 0, 0, nullptr, &subscription) != 0) {
    return kReplySubscribeFailed;
  }
  m_subscription = subscription;
  return kReplySuccess;
}

int HLXDeviceMonitor::AddCallback(HLXDeviceCallback* callback) {
  RecursiveMutexLock lock(m_mutex);
  m_callbacks[++m_nextCallbackId] = callback;
  return m_nextCallbackId;
}

std::shared_ptr<HLXDevice> HLXDeviceMonitor::FindDeviceByUdid(const std::string& udid) const {
  RecursiveMutexLock lock(m_mutex);
  for (const auto& device : m_devices) {
    if (device->Udid() == udid) return device;
  }
  return nullptr;
}

std::shared_ptr<HLXDevice> HLXDeviceMonitor::FindDeviceByHandle(AMDeviceRef handle) const {
  RecursiveMutexLock lock(m_mutex);
  for (const auto& device : m_devices) {
    if (device->Device() == handle) return device;
  }
  return nullptr;
}

void HLXDeviceMonitor::Deliver(const std::shared_ptr<HLXDevice>& device, int event) {
  for (const auto& [id, callback] : m_callbacks) callback->OnDeviceEvent(device, event);
}

void HLXDeviceMonitor::OnNotification(am_device_notification_callback_info* info, void* /*context*/) {
  try {
    if (!info || !info->dev) return;
    // Devices reached over Wi-Fi are not served.
    if (Md().AMDeviceGetInterfaceType(info->dev) != kAMDInterfaceUSB) return;
    HLXDeviceMonitor& monitor = GetInstance();
    switch (info->msg) {
      case kAMDeviceNotificationConnected: monitor.OnArrived(info->dev); break;
      case kAMDeviceNotificationDisconnected: monitor.OnRemoved(info->dev); break;
      case kAMDeviceNotificationUnknown: monitor.OnUnknown(info->dev); break;
      case kAMDeviceNotificationTrustAnswered: monitor.OnTrustAnswered(info->dev); break;
      default: break;
    }
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "device notification failed: " << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "device notification failed";
  }
}

void HLXDeviceMonitor::OnArrived(AMDeviceRef handle) {
  if (InNormalMode()) ReportDeviceStatus(reinterpret_cast<uintptr_t>(handle), 11);
  auto device = std::make_shared<HLXDevice>(handle);
  {
    RecursiveMutexLock lock(m_mutex);
    m_devices.push_back(device);
  }
  BringUp(device);
}

void HLXDeviceMonitor::BringUp(const std::shared_ptr<HLXDevice>& device) {
  int32_t code = kReplySuccess;
  if (!RenewDeviceSession(device->Device(), &code)) {
    HLX_LOG(WARNING) << "device session failed: " << code << " (" << ReplyCodeName(code) << ")";
    // A device that waits for the user's trust still tells its name and identifier without a
    // session, so the report can say which device asks.
    DeviceProperties properties = device->Properties();
    GetLockdownText(device->Device(), "DeviceName", &properties.deviceName);
    GetLockdownText(device->Device(), "UniqueDeviceID", &properties.udid);
    device->SetProperties(properties);
    if (InNormalMode()) ReportDeviceError(*device, code);
    return;
  }
  if (device->GetState() != HLXDevice::kStateReady) OnDeviceReady(device);
}

void HLXDeviceMonitor::OnRemoved(AMDeviceRef handle) {
  std::printf("Disconnected: %p\n", static_cast<void*>(handle));
  DropDeviceSession(handle);
  DropDeviceConnection(handle);
  {
    RecursiveMutexLock lock(m_mutex);
    std::shared_ptr<HLXDevice> device;
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
      if ((*it)->Device() == handle) {
        device = *it;
        m_devices.erase(it);
        break;
      }
    }
    if (!device) return;
    device->SetState(HLXDevice::kStateRemoved);
    if (!device->Udid().empty()) {
      Deliver(device, kEventRemoved);
      return;
    }
  }
  // A device that never told its UDID was never announced: only its status goes out, unlocked.
  if (InNormalMode()) ReportDeviceStatus(reinterpret_cast<uintptr_t>(handle), 8);
}

void HLXDeviceMonitor::OnUnknown(AMDeviceRef handle) {
  std::printf("kUnknown: %p\n", static_cast<void*>(handle));
  RecursiveMutexLock lock(m_mutex);
  for (const auto& device : m_devices) {
    if (device->Device() == handle) {
      Deliver(device, kEventUnknown);
      return;
    }
  }
}

void HLXDeviceMonitor::OnTrustAnswered(AMDeviceRef handle) {
  std::printf("kTrustAuthorization: %p\n", static_cast<void*>(handle));
  std::shared_ptr<HLXDevice> device = FindDeviceByHandle(handle);
  if (!device) return;
  device->SetState(HLXDevice::kStateTrustAnswered);
  BringUp(device);
}

int HLXDeviceMonitor::OnDeviceReady(const std::shared_ptr<HLXDevice>& device) {
  const int code = ReadDeviceProperties(*device);
  if (code != kReplySuccess) {
    HLX_LOG(WARNING) << "device properties failed: " << code << " (" << ReplyCodeName(code) << ")";
    if (InNormalMode()) ReportDeviceError(*device, code);
    return code;
  }
  device->SetState(HLXDevice::kStateReady);
  RecursiveMutexLock lock(m_mutex);
  Deliver(device, kEventReady);
  return kReplySuccess;
}

int ReadDeviceProperties(HLXDevice& device) {
  int32_t error = kReplySuccess;
  std::shared_ptr<HLXDeviceSession> session = GetDeviceSession(device.Device(), &error);
  if (!session) return error != kReplySuccess ? error : kReplyNoSession;

  DeviceProperties properties = device.Properties();
  AMDeviceRef handle = device.Device();
  // A value that is missing or of another type keeps what the record held.
  GetLockdownText(handle, "ProductVersion", &properties.productVersion);
  properties.versionNumber = VersionNumberOf(properties.productVersion);
  GetLockdownText(handle, "DeviceName", &properties.deviceName);
  GetLockdownText(handle, "UniqueDeviceID", &properties.udid);
  GetLockdownText(handle, "SerialNumber", &properties.serialNumber);
  GetLockdownText(handle, "DeviceClass", &properties.deviceClass);
  int64_t chipId = 0;
  if (GetLockdownInteger(handle, "UniqueChipID", &chipId)) properties.uniqueChipId = std::to_string(chipId);
  device.SetProperties(properties);

  if ((properties.deviceClass == "iPod" || properties.deviceClass == "iPhone") && properties.versionNumber < 42) {
    return kReplyDeviceTooOld;
  }

  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(handle, &error, "com.apple.afc", nullptr, true);
  if (!afc || !afc->AfcConnection()) return error != kReplySuccess ? error : kReplyAfcNotOpened;
  AFCDictionaryRef info = nullptr;
  if (Md().AFCDeviceInfoOpen(afc->AfcConnection(), &info) != 0) return kReplyAfcInfoUnreadable;
  while (true) {
    // Reset each round: a failed read must not hand back the previous pair again.
    char* key = nullptr;
    char* value = nullptr;
    if (Md().AFCKeyValueRead(info, &key, &value) != 0 || !key || !value) break;
    const std::string name = key;
    if (name == "FSTotalBytes") {
      properties.totalBytes = std::strtoll(value, nullptr, 10);
    } else if (name == "FSFreeBytes") {
      properties.freeBytes = std::strtoll(value, nullptr, 10);
    } else if (name == "Model") {
      properties.model = value;
    }
  }
  Md().AFCKeyValueClose(info);
  device.SetProperties(properties);
  return kReplySuccess;
}

}  // namespace hlx
