// Battery cycle count and storage use (see hlx_device_usage.h).
#include "utility/module/basicinfo/hlx_device_usage.h"

#include <limits>
#include <map>
#include <memory>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_log.h"
#include "utility/hlx_plist.h"

namespace hlx {
namespace {

constexpr char kDiagnosticsService[] = "com.apple.mobile.diagnostics_relay";
constexpr char kAtcService[] = "com.apple.atc";

// The two messages, as XML (converted to binary lists before sending).
constexpr char kBatteryRequest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\"><dict><key>EntryClass</key><string>IOPMPowerSource</string>"
    "<key>Request</key><string>IORegistry</string></dict></plist>";
constexpr char kPowerAssertion[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\"><dict><key>Command</key><string>PowerAssertion</string>"
    "<key>Params</key><dict><key>Enabled</key><true/></dict>"
    "<key>Session</key><integer>0</integer></dict></plist>";

constexpr size_t kLengthWordBytes = 4;

// The device's figures are untrusted: sums and differences saturate instead of overflowing.
int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int64_t SaturatingSubtract(int64_t a, int64_t b) {
  int64_t difference = 0;
  if (!__builtin_sub_overflow(a, b, &difference)) return difference;
  return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// The first element of a parsed list when it is a dictionary, else null.
const CIOSDictionary* FirstDictionary(const PlistVariant& list) {
  const PlistVariant::Array* elements = list.GetArray();
  if (!elements || elements->empty()) return nullptr;
  return elements->front().GetDictionary();
}

const CIOSDictionary* FindDictionary(const CIOSDictionary* dictionary, const char* key) {
  if (!dictionary) return nullptr;
  const PlistVariant* value = dictionary->Find(key);
  return value ? value->GetDictionary() : nullptr;
}

bool ParseBatteryReply(DeviceUsageContext* context, const PlistVariant& list) {
  const CIOSDictionary* registry = FindDictionary(FindDictionary(FirstDictionary(list), "Diagnostics"), "IORegistry");
  const PlistVariant* cycles = registry ? registry->Find("CycleCount") : nullptr;
  const int64_t* count = cycles ? cycles->GetInt64() : nullptr;
  if (!count) return false;
  context->target->AddMember("CycleCount", rapidjson::Value(*count), *context->allocator);
  return true;
}

// The own "_Count" and "_PhysicalSize" of a category dictionary, added up.
UsageFigure OwnFigure(const CIOSDictionary& category) {
  UsageFigure figure;
  for (const auto& [name, value] : category.entries()) {
    const int64_t* number = value.GetInt64();
    if (!number) continue;
    if (name == "_PhysicalSize") figure.sizeBytes = SaturatingAdd(figure.sizeBytes, *number);
    if (name == "_Count") figure.count = SaturatingAdd(figure.count, *number);
  }
  return figure;
}

bool ParseAssetMetrics(DeviceUsageContext* context, const PlistVariant& list) {
  const CIOSDictionary* params = FindDictionary(FirstDictionary(list), "Params");
  if (!params) return false;
  // By name in byte order: the order the extra members are written in.
  std::map<std::string, UsageFigure> categories;
  for (const auto& [name, value] : params->entries()) {
    if (const int64_t* size = value.GetInt64()) {
      categories[name] = UsageFigure{0, *size};
      continue;
    }
    const CIOSDictionary* category = value.GetDictionary();
    if (!category) continue;
    bool hasSubcategories = false;
    for (const auto& [subName, subValue] : category->entries()) {
      // Only one level down: a sub-category's own dictionaries are not visited.
      if (const CIOSDictionary* sub = subValue.GetDictionary()) {
        categories[subName] = OwnFigure(*sub);
        hasSubcategories = true;
      }
    }
    if (!hasSubcategories) categories[name] = OwnFigure(*category);
  }

  auto take = [&categories](const char* name) {
    UsageFigure figure;
    auto found = categories.find(name);
    if (found != categories.end()) {
      figure = found->second;
      categories.erase(found);
    }
    return figure;
  };
  context->totalBytes = take("_PhysicalSize").sizeBytes;
  context->freeBytes = take("_FreeSize").sizeBytes;
  context->application = take("Application");
  context->photo = take("Photo");
  context->cameraRoll = take("CameraRoll");
  context->movie = take("Movie");
  context->book = take("Book");
  context->music = take("Music");
  context->ringtone = take("Ringtone");

  int64_t others = SaturatingSubtract(context->totalBytes, context->freeBytes);
  for (const UsageFigure* figure : {&context->ringtone, &context->music, &context->book, &context->movie,
                                    &context->cameraRoll, &context->photo, &context->application}) {
    others = SaturatingSubtract(others, figure->sizeBytes);
  }
  context->othersBytes = others;

  context->extras.clear();
  for (const auto& [name, figure] : categories) {
    if (figure.count == 0 || figure.sizeBytes == 0) continue;
    context->extras.emplace_back(name + "_Count", figure.count);
    context->extras.emplace_back(name + "_PhysicalSize", figure.sizeBytes);
  }
  context->metricsRead = true;
  return true;
}

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

}  // namespace

void ParseUsageReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  *more = false;
  auto* usage = static_cast<DeviceUsageContext*>(context);
  PlistVariant list;
  if (!usage || length < 0 || !ParsePlistToVariant(bytes, static_cast<size_t>(length), &list)) return;
  try {
    *result = usage->mode == DeviceUsageContext::Mode::kBattery ? ParseBatteryReply(usage, list)
                                                                : ParseAssetMetrics(usage, list);
  } catch (const std::bad_alloc&) {
    *result = false;  // called back from the receive loop: nothing may leave it
  }
}

const char* AtcOutcomeName(AtcOutcome outcome) {
  switch (outcome) {
    case AtcOutcome::kMetrics: return "metrics";
    case AtcOutcome::kEndedByDevice: return "ended by the device";
    case AtcOutcome::kRefusedLength: return "length refused";
    case AtcOutcome::kConnectionEnded: return "connection ended";
    case AtcOutcome::kNoBuffer: return "no buffer";
  }
  return "unknown";
}

AtcOutcome ExchangeAtcMessages(AMDServiceConnectionRef connection, const BinaryPlist& message,
                               DeviceUsageContext* context) {
  const uint32_t length = message.length;
  const uint8_t word[kLengthWordBytes] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                          static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  if (!SendServiceBytes(connection, word, sizeof(word)) || !SendServiceBytes(connection, message.bytes, length)) {
    return AtcOutcome::kConnectionEnded;
  }
  uint8_t* buffer = ThreadTransferBuffer();
  if (!buffer) return AtcOutcome::kNoBuffer;
  for (;;) {
    uint8_t received[kLengthWordBytes];
    if (!ReceiveServiceBytes(connection, received, sizeof(received))) return AtcOutcome::kConnectionEnded;
    const uint32_t bodyLength = ReadLittleEndian32(received);
    if (bodyLength == 0) return AtcOutcome::kEndedByDevice;
    if (bodyLength > kAfcTransferBufferBytes) {
      HLX_LOG(WARNING) << "ATC message of " << bodyLength << " bytes refused (limit " << kAfcTransferBufferBytes << ")";
      return AtcOutcome::kRefusedLength;
    }
    if (!ReceiveServiceBytes(connection, buffer, bodyLength)) return AtcOutcome::kConnectionEnded;
    const std::string command = GetFirstPlistValue(buffer, bodyLength);
    if (command == "IdleExit" || command == "Ping") return AtcOutcome::kEndedByDevice;
    if (command == "AssetMetrics") {
      context->mode = DeviceUsageContext::Mode::kStorage;
      bool more = false;
      bool parsed = false;
      ParseUsageReply(context, buffer, bodyLength, &more, &parsed);
      return AtcOutcome::kMetrics;
    }
    VLOG(1) << "ATC message " << command << " dropped";
  }
}

bool ReadBatteryCycleCount(AMDeviceRef device, DeviceUsageContext* context) {
  std::shared_ptr<HLXDeviceService> service = StartServiceWithRenewal(device, kDiagnosticsService);
  if (!service) return false;
  BinaryPlistPtr request = XmlPlistToBinary(kBatteryRequest);
  if (request) {
    context->mode = DeviceUsageContext::Mode::kBattery;
    (void)ExchangeServiceMessages(service->ServiceConnection(), *request, &ParseUsageReply, context);
  }
  service->Close();
  return true;
}

bool ReadStorageUsage(AMDeviceRef device, DeviceUsageContext* context) {
  std::shared_ptr<HLXDeviceService> service = StartServiceWithRenewal(device, kAtcService);
  if (!service) return false;
  BinaryPlistPtr assertion = XmlPlistToBinary(kPowerAssertion);
  if (assertion) {
    const AtcOutcome outcome = ExchangeAtcMessages(service->ServiceConnection(), *assertion, context);
    VLOG(1) << "ATC exchange: " << AtcOutcomeName(outcome);
  }
  service->Close();
  AddStorageMembers(context);
  return true;
}

void AddStorageMembers(DeviceUsageContext* context) {
  rapidjson::Value& target = *context->target;
  rapidjson::Document::AllocatorType& allocator = *context->allocator;
  auto add = [&](const char* name, int64_t value) {
    target.AddMember(rapidjson::StringRef(name), rapidjson::Value(value), allocator);
  };
  add("Application_PhysicalSize", context->application.sizeBytes);
  add("Application_Count", context->application.count);
  add("Photo_PhysicalSize", context->photo.sizeBytes);
  add("Photo_Count", context->photo.count);
  add("CameraRoll_PhysicalSize", context->cameraRoll.sizeBytes);
  add("CameraRoll_Count", context->cameraRoll.count);
  add("Movie_PhysicalSize", context->movie.sizeBytes);
  add("Movie_Count", context->movie.count);
  add("Book_PhysicalSize", context->book.sizeBytes);
  add("Book_Count", context->book.count);
  add("Music_PhysicalSize", context->music.sizeBytes);
  add("Music_Count", context->music.count);
  add("Ringtone_PhysicalSize", context->ringtone.sizeBytes);
  add("Ringtone_Count", context->ringtone.count);
  add("Data_FreeSize", context->freeBytes);
  add("Data_PhysicalSize", context->totalBytes);
  add("Data_Others_PhysicalSize", context->othersBytes);
  for (const auto& [name, value] : context->extras) {
    target.AddMember(rapidjson::Value(name.c_str(), static_cast<rapidjson::SizeType>(name.size()), allocator),
                     rapidjson::Value(value), allocator);
  }
}

}  // namespace hlx
