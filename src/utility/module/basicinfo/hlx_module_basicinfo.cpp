// Requests 15, 300 and 303, and the property document shared with the backup module.
#include "utility/module/basicinfo/hlx_module_basicinfo.h"

#include <glog/logging.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <exception>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_device.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_json.h"
#include "utility/hlx_zlib.h"
#include "utility/ios/hlx_client.h"
#include "utility/ios/hlx_device_monitor.h"
#include "utility/module/basicinfo/hlx_device_usage.h"

namespace hlx {
namespace {

constexpr char kAfcService[] = "com.apple.afc";
constexpr char kBatteryDomain[] = "com.apple.mobile.battery";
constexpr char kInternationalDomain[] = "com.apple.international";
constexpr char kDiskUsageDomain[] = "com.apple.disk_usage";

enum class PropertyKind { kString, kBoolean, kInteger, kFamilies };

struct PropertyRow {
  const char* key;     // the lockdown key, also the JSON member's name
  const char* domain;  // "" for the values without a domain
  PropertyKind kind;
  bool logged;         // the value goes to the log as "<key>: <value>" (identity of the model, never user data)
};

// The property document, in the order the desktop side expects.
constexpr PropertyRow kProperties[] = {
    {"RegionInfo", "", PropertyKind::kString, false},
    {"DeviceName", "", PropertyKind::kString, false},
    {"DeviceClass", "", PropertyKind::kString, false},
    {"ProductType", "", PropertyKind::kString, true},
    {"ProductVersion", "", PropertyKind::kString, true},
    {"SerialNumber", "", PropertyKind::kString, false},
    {"UniqueDeviceID", "", PropertyKind::kString, false},
    {"ModelNumber", "", PropertyKind::kString, true},
    {"BuildVersion", "", PropertyKind::kString, false},
    {"HardwareModel", "", PropertyKind::kString, false},
    {"DeviceEnclosureColor", "", PropertyKind::kString, false},
    {"CPUArchitecture", "", PropertyKind::kString, false},
    {"WiFiAddress", "", PropertyKind::kString, false},
    {"BluetoothAddress", "", PropertyKind::kString, false},
    {"PartitionType", "", PropertyKind::kString, false},
    {"FirmwareVersion", "", PropertyKind::kString, false},
    {"ActivationState", "", PropertyKind::kString, false},
    {"ActivationStateAcknowledged", "", PropertyKind::kBoolean, false},
    {"BasebandVersion", "", PropertyKind::kString, false},
    {"BasebandBootloaderVersion", "", PropertyKind::kString, false},
    {"BasebandChipId", "", PropertyKind::kInteger, false},
    {"BasebandGoldCertId", "", PropertyKind::kInteger, false},
    {"IntegratedCircuitCardIdentity", "", PropertyKind::kString, false},
    {"InternationalMobileEquipmentIdentity", "", PropertyKind::kString, false},
    {"InternationalMobileSubscriberIdentity", "", PropertyKind::kString, false},
    {"MLBSerialNumber", "", PropertyKind::kString, false},
    {"MobileSubscriberCountryCode", "", PropertyKind::kString, false},
    {"MobileSubscriberNetworkCode", "", PropertyKind::kString, false},
    {"MobileEquipmentIdentifier", "", PropertyKind::kString, false},
    {"PasswordProtected", "", PropertyKind::kBoolean, false},
    {"PhoneNumber", "", PropertyKind::kString, false},
    {"ProductionSOC", "", PropertyKind::kBoolean, false},
    {"ProtocolVersion", "", PropertyKind::kString, false},
    {"SIMStatus", "", PropertyKind::kString, false},
    {"SupportedDeviceFamilies", "", PropertyKind::kFamilies, false},
    {"TimeIntervalSince1970", "", PropertyKind::kInteger, false},
    {"TimeZone", "", PropertyKind::kString, false},
    {"TimeZoneOffsetFromUTC", "", PropertyKind::kInteger, false},
    {"UniqueChipID", "", PropertyKind::kInteger, false},
    {"Uses24HourClock", "", PropertyKind::kBoolean, false},
    {"BatteryIsCharging", kBatteryDomain, PropertyKind::kBoolean, false},
    {"Keyboard", kInternationalDomain, PropertyKind::kString, false},
    {"BatteryCurrentCapacity", kBatteryDomain, PropertyKind::kInteger, false},
    {"TotalDiskCapacity", kDiskUsageDomain, PropertyKind::kInteger, false},
    {"TotalSystemAvailable", kDiskUsageDomain, PropertyKind::kInteger, false},
    {"TotalSystemCapacity", kDiskUsageDomain, PropertyKind::kInteger, false},
};
static_assert(sizeof(kProperties) / sizeof(kProperties[0]) == 46, "the property document has 46 lockdown members");

void AddProperty(HLXDevice& device, const PropertyRow& row, rapidjson::Value* object,
                 rapidjson::Document::AllocatorType& allocator) {
  AMDeviceRef handle = device.Device();
  rapidjson::Value name(rapidjson::StringRef(row.key));
  switch (row.kind) {
    case PropertyKind::kString: {
      std::string text;
      if (!GetLockdownText(handle, row.key, &text, row.domain)) return;
      if (row.logged) LOG(INFO) << row.key << ": " << text;
      if (std::string(row.key) == "ProductVersion") device.SetProductVersionText(text);
      object->AddMember(name, rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator),
                        allocator);
      return;
    }
    case PropertyKind::kBoolean: {
      PlistVariant value;
      if (!GetLockdownValueAsVariant(handle, row.key, row.domain, &value) || !value.GetBool()) return;
      object->AddMember(name, rapidjson::Value(*value.GetBool() ? 1 : 0), allocator);
      return;
    }
    case PropertyKind::kInteger: {
      int64_t number = 0;
      if (!GetLockdownInteger(handle, row.key, &number, row.domain)) return;
      object->AddMember(name, rapidjson::Value(number), allocator);
      return;
    }
    case PropertyKind::kFamilies: {
      std::vector<int64_t> families;
      if (!GetSupportedDeviceFamilies(handle, &families)) return;
      rapidjson::Value list(rapidjson::kArrayType);
      for (int64_t family : families) list.PushBack(rapidjson::Value(family), allocator);
      object->AddMember(name, list, allocator);
      return;
    }
  }
}

// Whether the device is still attached: a record the monitor removed, or a device that no longer
// answers even the values it gives without a session, is gone.
bool IsDeviceThere(const HLXDevice& device) {
  if (device.GetState() == HLXDevice::kStateRemoved) return false;
  return static_cast<bool>(CopyLockdownValueByKey(device.Device(), "UniqueDeviceID"));
}

// An intermediate reply of request 300: status 2, the device's UDID, the JSON text as zlib data.
void SendDocument(const IPCPacket1& request, const std::string& udid, const rapidjson::Value& document) {
  const std::string json = JsonValueToString(document);
  ReplyRecord record;
  record.uuid = udid.c_str();
  record.data = reinterpret_cast<const uint8_t*>(json.data());
  record.dataLength = static_cast<int64_t>(json.size());
  IPCPacket1 packet;
  packet.id = request.id;
  packet.command = request.command;
  packet.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  HLXClient::GetInstance().SendReply(record, packet);
}

// Reads the new name from the inflated data part of 303; false when it is not a JSON object with
// a string "name" that holds no NUL (a NUL would cut the name short on its way to the device).
bool ReadNewName(const std::string& data, std::string* name) {
  std::string text;
  if (ZlibInflate(text, data.data(), data.size(), kMaxRequestDataBytes) != InflateResult::kOk) return false;
  rapidjson::Document json;
  // Invalid UTF-8 is refused here: the device takes the name as UTF-8.
  json.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  if (json.HasParseError() || !json.IsObject()) return false;
  auto member = json.FindMember("name");
  if (member == json.MemberEnd() || !member->value.IsString()) return false;
  name->assign(member->value.GetString(), member->value.GetStringLength());
  return name->find('\0') == std::string::npos;
}

}  // namespace

void HLXModuleBasicInfo::ReadDeviceProperties(HLXDevice& device, rapidjson::Value* object,
                                              rapidjson::Document::AllocatorType& allocator) {
  for (const PropertyRow& row : kProperties) AddProperty(device, row, object, allocator);
}

int HLXModuleBasicInfo::HandleRequest(const IPCPacket1& request) {
  std::string uuid;
  try {
    const RequestPayload payload = RequestPayload::Parse(request.body);
    rapidjson::Document json;
    json.Parse(payload.json.c_str());
    if (json.HasParseError() || !json.IsObject()) {
      SendReply(request, "", static_cast<int32_t>(kReplyBadRequest), nullptr);
      return 0;
    }
    auto uuidMember = json.FindMember("uuid");
    if (uuidMember != json.MemberEnd() && uuidMember->value.IsString()) {
      uuid.assign(uuidMember->value.GetString(), uuidMember->value.GetStringLength());
    }
    uint64_t handle = 0;
    auto codeMember = json.FindMember("code");
    if (codeMember != json.MemberEnd() && codeMember->value.IsUint64()) {
      handle = codeMember->value.GetUint64();
    } else if (codeMember != json.MemberEnd() && codeMember->value.IsInt64()) {
      handle = static_cast<uint64_t>(codeMember->value.GetInt64());
    }

    // A device whose UDID could not be read yet is found by its handle, the "code" of the
    // device's reports. The handle is only compared, never used, unless a listed device has it.
    HLXDeviceMonitor& monitor = HLXDeviceMonitor::GetInstance();
    std::shared_ptr<HLXDevice> device = monitor.FindDeviceByUdid(uuid);
    if (!device && handle != 0) device = monitor.FindDeviceByHandle(reinterpret_cast<AMDeviceRef>(handle));
    if (!device) {
      SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyNoDevice), nullptr);
      return 0;
    }

    int32_t result = static_cast<int32_t>(kReplySuccess);
    if (payload.subCommand == 1) {
      switch (static_cast<int32_t>(request.command)) {
        case kRequestBringReady:
          if (device->GetState() != HLXDevice::kStateReady) result = monitor.OnDeviceReady(device);
          break;
        case kRequestDeviceInfo:
          result = HandleDeviceInfo(request, device);
          break;
        case kRequestRenameDevice: {
          // Left open by the protocol: data without a string "name" is answered like data that is
          // not JSON.
          std::string name;
          result = ReadNewName(payload.data, &name) ? SetDeviceName(device, name)
                                                    : static_cast<int32_t>(kReplyBadData);
          break;
        }
        default:
          break;
      }
    }
    SendReply(request, uuid.c_str(), result, nullptr);
  } catch (const std::exception& error) {
    // Out of memory, most likely: the request still gets its one final reply.
    LOG(ERROR) << "request " << request.id << " code " << request.command << " failed: " << error.what();
    SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyTaskError), nullptr);
  }
  return 0;
}

int HLXModuleBasicInfo::HandleDeviceInfo(const IPCPacket1& request, const std::shared_ptr<HLXDevice>& device) {
  AMDeviceRef handle = device->Device();
  int32_t error = kReplySuccess;
  // Held to the end of the request: it keeps the session that the lockdown reads need.
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(handle, &error, kAfcService, nullptr, true);
  if (!afc) return kReplyAfcNotOpened;

  rapidjson::Document properties(rapidjson::kObjectType);
  ReadDeviceProperties(*device, &properties, properties.GetAllocator());
  properties.AddMember("IsJailbreak", rapidjson::Value(IsJailbroken(handle) ? 1 : 0), properties.GetAllocator());
  // Departure from the Windows build, which answered 0 whatever happened: a device that went away
  // while it was being read would show the desktop a document with most values missing (and then
  // all-zero storage) as if the device had said so. It ends with "no connection" instead.
  if (!IsDeviceThere(*device)) return kReplyNoConnection;
  const std::string udid = device->Udid();
  SendDocument(request, udid, properties);

  rapidjson::Document usage(rapidjson::kObjectType);
  DeviceUsageContext context(udid, &usage, &usage.GetAllocator());
  context.mode = DeviceUsageContext::Mode::kBattery;
  (void)ReadBatteryCycleCount(handle, &context);
  context.mode = DeviceUsageContext::Mode::kStorage;
  (void)ReadStorageUsage(handle, &context);
  if (!IsDeviceThere(*device)) return kReplyNoConnection;
  SendDocument(request, udid, usage);
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
  LOG(WARNING) << "device name refused: " << std::hex << refused;
  return IsDeviceThere(*device) ? kReplyRenameRefused : kReplyNoConnection;
}

void HLXModuleBasicInfo::RunSelfTest(const std::shared_ptr<HLXDevice>& device) {
  if (!device) return;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  const std::string udid = device->Udid();
  writer.StartObject();
  writer.Key("uuid");
  writer.String(udid.c_str(), static_cast<rapidjson::SizeType>(udid.size()));
  writer.EndObject();
  IPCPacket1 request;
  request.command = static_cast<uint32_t>(kRequestDeviceInfo);
  request.body = std::string("1") + '\0' + std::string(buffer.GetString(), buffer.GetSize()) + '\0';
  HandleRequest(request);
}

}  // namespace hlx
