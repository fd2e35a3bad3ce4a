// The device's property document (see hlx_device_properties.h).
#include "utility/hlx_device_properties.h"

#include <string>
#include <vector>

#include "utility/hlx_device.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_log.h"
#include "utility/hlx_plist.h"

namespace hlx {
namespace {

constexpr char kBatteryDomain[] = "com.apple.mobile.battery";
constexpr char kInternationalDomain[] = "com.apple.international";
constexpr char kDiskUsageDomain[] = "com.apple.disk_usage";

enum class PropertyKind { kString, kBoolean, kInteger, kFamilies };

struct PropertyRow {
  const char* key;     // the lockdown key, also the JSON member's name
  const char* domain;  // "" for the values without a domain
  PropertyKind kind;
  bool logged;  // the value goes to the log as "<key>: <value>" (identity of the model, never user data)
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
      if (row.logged) HLX_LOG(INFO) << row.key << ": " << text;
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

}  // namespace

void AddDeviceProperties(HLXDevice& device, rapidjson::Value* object, rapidjson::Document::AllocatorType& allocator) {
  for (const PropertyRow& row : kProperties) AddProperty(device, row, object, allocator);
}

}  // namespace hlx
