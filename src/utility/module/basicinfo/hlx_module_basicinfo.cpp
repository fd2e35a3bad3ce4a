// Requests 15, 300 and 303.
#include "utility/module/basicinfo/hlx_module_basicinfo.h"

#include <exception>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_properties.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_log.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply_code.h"
#include "utility/ios/hlx_device_monitor.h"
#include "utility/module/basicinfo/hlx_device_usage.h"

namespace hlx {
namespace {

constexpr char kAfcService[] = "com.apple.afc";
// Whether the device is still attached: a record the monitor removed, or a device that no longer
// answers even the values it gives without a session, is gone.
bool IsDeviceThere(const HLXDevice& device) {
  if (device.GetState() == HLXDevice::kStateRemoved) return false;
  return static_cast<bool>(CopyLockdownValueByKey(device.Device(), "UniqueDeviceID"));
}

// An intermediate reply of request 300: the JSON text as zlib data.
void SendDocument(const FeatureRequest& request, const rapidjson::Value& document) {
  const std::string json = JsonValueToString(document);
  request.SendProgress(request.Command(), 0, nullptr, &json);
}

}  // namespace

std::shared_ptr<HLXDevice> HLXModuleBasicInfo::FindDevice(const FeatureRequest& request) const {
  // A device whose UDID could not be read yet is found by its handle, the "code" of the device's
  // reports. The handle is only compared, never used, unless a listed device has it.
  HLXDeviceMonitor& monitor = HLXDeviceMonitor::GetInstance();
  std::shared_ptr<HLXDevice> device = monitor.FindDeviceByUdid(request.Uuid());
  if (device) return device;
  uint64_t handle = 0;
  auto code = request.Json().FindMember("code");
  if (code != request.Json().MemberEnd() && code->value.IsUint64()) {
    handle = code->value.GetUint64();
  } else if (code != request.Json().MemberEnd() && code->value.IsInt64()) {
    handle = static_cast<uint64_t>(code->value.GetInt64());
  }
  return handle != 0 ? monitor.FindDeviceByHandle(reinterpret_cast<AMDeviceRef>(handle)) : nullptr;
}

int HLXModuleBasicInfo::Run(FeatureRequest& request) {
  const std::shared_ptr<HLXDevice>& device = request.Device();
  switch (static_cast<int32_t>(request.Command())) {
    case kRequestBringReady:
      if (device->GetState() == HLXDevice::kStateReady) return kReplySuccess;
      return HLXDeviceMonitor::GetInstance().OnDeviceReady(device);
    case kRequestDeviceInfo: return HandleDeviceInfo(request);
    case kRequestRenameDevice: {
      // Data without a string "name" is answered like data that is not JSON. Invalid UTF-8 and a
      // NUL are refused with it: the device takes the name as a UTF-8 C string.
      rapidjson::Document data;
      if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
      auto name = data.FindMember("name");
      if (name == data.MemberEnd() || !name->value.IsString()) return kReplyBadData;
      return SetDeviceName(device, std::string(name->value.GetString(), name->value.GetStringLength()));
    }
    default: return kReplySuccess;
  }
}

int HLXModuleBasicInfo::HandleDeviceInfo(const FeatureRequest& request) {
  const std::shared_ptr<HLXDevice>& device = request.Device();
  AMDeviceRef handle = device->Device();
  int32_t error = kReplySuccess;
  // Held to the end of the request: it keeps the session that the lockdown reads need.
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(handle, &error, kAfcService, nullptr, true);
  if (!afc) return kReplyAfcNotOpened;

  rapidjson::Document properties(rapidjson::kObjectType);
  AddDeviceProperties(*device, &properties, properties.GetAllocator());
  properties.AddMember("IsJailbreak", rapidjson::Value(IsJailbroken(handle) ? 1 : 0), properties.GetAllocator());
  // A device that went away while it was being read would show the desktop a document with most
  // values missing (and then all-zero storage) as if the device had said so: the request ends with
  // "no connection" instead.
  if (!IsDeviceThere(*device)) return kReplyNoConnection;
  const std::string udid = device->Udid();
  SendDocument(request, properties);

  rapidjson::Document usage(rapidjson::kObjectType);
  DeviceUsageContext context(udid, &usage, &usage.GetAllocator());
  context.mode = DeviceUsageContext::Mode::kBattery;
  (void)ReadBatteryCycleCount(handle, &context);
  context.mode = DeviceUsageContext::Mode::kStorage;
  (void)ReadStorageUsage(handle, &context);
  if (!IsDeviceThere(*device)) return kReplyNoConnection;
  SendDocument(request, usage);
  return kReplySuccess;
}

int HLXModuleBasicInfo::SetDeviceName(const std::shared_ptr<HLXDevice>& device, const std::string& name) {
  AMDeviceRef handle = device->Device();
  int32_t error = kReplySuccess;
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(handle, &error, kAfcService, nullptr, true);
  if (!afc) return kReplyAfcNotOpened;
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  CFPtr<CFStringRef> value(md.CFStringCreateWithCString(nullptr, name.c_str(), kCFStringEncodingUTF8));
  if (!value) return static_cast<int32_t>(kReplyBadData);
  CFStringRef key = md.__CFStringMakeConstantString("DeviceName");
  const int refused = md.AMDeviceSetValue(handle, nullptr, key, value.get());
  if (refused == 0) return kReplySuccess;
  HLX_LOG(WARNING) << "device name refused: " << std::hex << refused;
  return IsDeviceThere(*device) ? kReplyRenameRefused : kReplyNoConnection;
}

void HLXModuleBasicInfo::RunSelfTest(const std::shared_ptr<HLXDevice>& device) {
  if (!device) return;
  JsonTextWriter json;
  const std::string udid = device->Udid();
  json->StartObject();
  json.Key("uuid");
  json.String(udid);
  json->EndObject();
  IPCPacket1 request;
  request.command = static_cast<uint32_t>(kRequestDeviceInfo);
  request.body = std::string("1") + '\0' + json.Text() + '\0';
  HandleRequest(request);
}

}  // namespace hlx
