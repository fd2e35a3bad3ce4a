// Requests 501 and 502 and the request dispatch of the app module (see hlx_module_app.h); the
// changes (504 to 506) are in hlx_app_changes.cpp.
#include "utility/module/app/hlx_module_app.h"

#include <rapidjson/document.h>

#include <memory>

#include "utility/hlx_app_exchange.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_encoding.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

constexpr size_t kAppBatch = 10;
// What one Browse for another module may hold: far above any device's apps with their store
// records, and a bound on a device that never ends its listing.
constexpr size_t kMaxBrowseBytes = 128u << 20;
// The attributes of an app object, in the order the object lists them.
constexpr const char* kAttributeMembers[] = {"CFBundleDisplayName", "CFBundleName", "CFBundleShortVersionString",
                                             "CFBundleVersion", "Path"};

// The data part of 502 to 506: a JSON array of strings, else kReplyBadData.
int ReadItemArray(const FeatureRequest& request, std::vector<std::string>* items) {
  const RequestPayload payload = RequestPayload::Parse(request.Packet().body);
  std::string inflated;
  rapidjson::Document data;
  if (ZlibInflate(inflated, payload.data.data(), payload.data.size(), kMaxRequestDataBytes) != InflateResult::kOk ||
      !ParseJsonText(&data, inflated) || !data.IsArray() || !IsCleanPeerJson(data)) {
    return kReplyBadData;
  }
  for (const rapidjson::Value& item : data.GetArray()) {
    if (!item.IsString()) return kReplyBadData;
    items->emplace_back(item.GetString(), item.GetStringLength());
  }
  return kReplySuccess;
}

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

// The first Browse of a listing: the user apps with their attributes and store metadata.
BinaryPlistPtr AttributesBrowse() {
  return AppMessage({{"Command", "Browse"}})
      .UserAppOptions({"CFBundleIdentifier", "ApplicationType", "iTunesMetadata", "ApplicationSINF", "CFBundleVersion",
                       "CFBundleShortVersionString", "Path", "CFBundleDisplayName", "CFBundleName"})
      .Serialize();
}

// The springboard's icon request (its "command" is in lower case).
BinaryPlistPtr IconRequest(const std::string& bundleId) {
  return AppMessage({{"bundleId", bundleId}, {"command", "getIconPNGData"}}).Serialize();
}

// A device answer as a CoreFoundation dictionary, or null.
CFPtr<CFDictionaryRef> AnswerDictionary(const uint8_t* bytes, int64_t length) {
  CFPtr<CFPropertyListRef> answer = CreatePlistFromBytes(bytes, static_cast<size_t>(length));
  if (!answer || Md().CFGetTypeID(answer.get()) != kHLXCFDictionaryTypeID) return nullptr;
  return CFPtr<CFDictionaryRef>(static_cast<CFDictionaryRef>(answer.release()));
}

// The answers of one Browse for another module.
struct BrowseAnswers {
  std::vector<CFPtr<CFDictionaryRef>>* kept = nullptr;
  size_t bytes = 0;
  bool complete = false;
};

void OnBrowseAnswer(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* browse = static_cast<BrowseAnswers*>(context);
  *more = true;
  *result = true;
  CFPtr<CFDictionaryRef> answer = AnswerDictionary(bytes, length);
  if (!answer) return;  // skipped; the exchange goes on
  const std::string status =
      CFStringToUtf8(Md().CFDictionaryGetValue(answer.get(), Md().__CFStringMakeConstantString("Status")));
  // No status is the device's error answer: nothing more comes for this Browse.
  if (status.empty() || status == "Complete") {
    browse->complete = status == "Complete";
    *more = false;
    return;
  }
  browse->bytes += static_cast<size_t>(length);
  if (browse->bytes > kMaxBrowseBytes) {
    *more = false;
    return;
  }
  browse->kept->push_back(std::move(answer));
}

void OnIconAnswer(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  *more = false;  // one answer per icon request
  *result = true;
  *static_cast<CFPtr<CFDictionaryRef>*>(context) = AnswerDictionary(bytes, length);
}

// The app table of a listing: one object per bundle id, in the order the device listed them.
struct ListContext {
  rapidjson::Document table{rapidjson::kObjectType};
  bool diskUsagePass = false;
  bool complete = false;  // the device ended the Browse with "Complete"
};

void AddAttributes(ListContext* list, const CIOSDictionary& entry) {
  auto& allocator = list->table.GetAllocator();
  std::string bundleId;
  if (!ValueText(entry.Find("CFBundleIdentifier"), &bundleId)) return;  // an app without id is left out
  rapidjson::Value app(rapidjson::kObjectType);
  std::string text;
  auto add = [&](const char* name) {
    if (ValueText(entry.Find(name), &text)) {
      app.AddMember(rapidjson::Value(name, allocator),
                    rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator),
                    allocator);
    }
  };
  add("ApplicationType");
  add("CFBundleIdentifier");
  for (const char* name : kAttributeMembers) add(name);
  std::string metadata;
  const PlistVariant* data = entry.Find("iTunesMetadata");
  if (data != nullptr && data->GetString() != nullptr && Base64Decode(*data->GetString(), metadata)) {
    MapItunesMetadata(&app, allocator, metadata);
  }
  auto existing = list->table.FindMember(bundleId.c_str());
  if (existing != list->table.MemberEnd()) {
    existing->value = app;  // listed twice: the later entry, in the first place
    return;
  }
  list->table.AddMember(
      rapidjson::Value(bundleId.c_str(), static_cast<rapidjson::SizeType>(bundleId.size()), allocator), app, allocator);
}

void AddDiskUsage(ListContext* list, const CIOSDictionary& entry) {
  std::string bundleId;
  if (!ValueText(entry.Find("CFBundleIdentifier"), &bundleId)) return;
  auto app = list->table.FindMember(bundleId.c_str());
  if (app == list->table.MemberEnd()) return;  // not in the first listing: not added
  auto& allocator = list->table.GetAllocator();
  const std::pair<const char*, const char*> sizes[] = {{"DynamicDiskUsage", "data-size"},
                                                       {"StaticDiskUsage", "app-size"}};
  for (const auto& [key, member] : sizes) {
    const PlistVariant* value = entry.Find(key);
    if (value == nullptr || value->GetInt64() == nullptr) continue;
    auto present = app->value.FindMember(member);
    if (present != app->value.MemberEnd()) {
      present->value.SetInt64(*value->GetInt64());
    } else {
      app->value.AddMember(rapidjson::Value(member, allocator), rapidjson::Value(*value->GetInt64()), allocator);
    }
  }
}

void OnBrowseReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* list = static_cast<ListContext*>(context);
  *more = true;
  *result = true;
  const std::shared_ptr<const CIOSDictionary> reply = FirstDictionary(bytes, static_cast<size_t>(length));
  if (!reply) return;
  std::string status;
  if (!ValueText(reply->Find("Status"), &status) || status == "Complete") {
    // No status is the device's error answer: nothing more comes for this Browse.
    list->complete = status == "Complete";
    *more = false;
    return;
  }
  const PlistVariant* current = reply->Find("CurrentList");
  const PlistVariant::Array* entries = current != nullptr ? current->GetArray() : nullptr;
  if (entries == nullptr) return;
  for (const PlistVariant& item : *entries) {
    const CIOSDictionary* entry = item.GetDictionary();
    if (entry == nullptr) continue;
    if (list->diskUsagePass) {
      AddDiskUsage(list, *entry);
    } else {
      AddAttributes(list, *entry);
    }
  }
}

struct IconContext {
  const FeatureRequest* request = nullptr;
  std::string bundleId;
};

void OnIconReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* icon = static_cast<IconContext*>(context);
  *more = false;  // one answer per icon request
  *result = true;
  const std::shared_ptr<const CIOSDictionary> reply = FirstDictionary(bytes, static_cast<size_t>(length));
  const PlistVariant* data = reply ? reply->Find("pngData") : nullptr;
  std::string png;
  if (data == nullptr || data->GetString() == nullptr || !Base64Decode(*data->GetString(), png)) return;
  JsonTextWriter info;
  info->StartObject();
  info.Key("bundle_id");
  info.String(icon->bundleId);
  info->EndObject();
  const std::string infoText = info.Text();
  SendAppReply(*icon->request, static_cast<uint16_t>(PacketStatus::kInProgress), 0, 0, 1, &infoText, &png);
}

}  // namespace

int HLXModuleApp::Run(FeatureRequest& request) {
  const uint32_t command = request.Command();
  if (command == kRequestListApps) return ListApps(request);
  if (command != kRequestAppIcons && command != kRequestInstallApp && command != kRequestUninstallApp &&
      command != kRequestArchiveApp) {
    return kReplySuccess;
  }
  std::vector<std::string> items;
  if (ReadItemArray(request, &items) != kReplySuccess) return kReplyBadData;
  if (command == kRequestAppIcons) return SendAppIcons(request, items);
  if (command == kRequestInstallApp) return InstallPackages(request, items);
  return ChangeApps(request, items, command == kRequestArchiveApp);
}

int HLXModuleApp::ListApps(const FeatureRequest& request) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(request.Device()->Device(), &error, kInstallationService, nullptr, false);
  if (!service) return kReplyServiceNotRunning;
  BinaryPlistPtr attributes = AttributesBrowse();
  BinaryPlistPtr diskUsage = AppMessage({{"Command", "Browse"}})
                                 .UserAppOptions({"CFBundleIdentifier", "DynamicDiskUsage", "StaticDiskUsage"})
                                 .Serialize();
  if (!attributes || !diskUsage) return kReplyTaskError;
  ListContext list;
  (void)ExchangeServiceMessages(service->ServiceConnection(), *attributes, OnBrowseReply, &list);
  if (!list.complete) return kReplyNoConnection;  // a listing cut short is not reported as the list
  list.diskUsagePass = true;
  list.complete = false;
  (void)ExchangeServiceMessages(service->ServiceConnection(), *diskUsage, OnBrowseReply, &list);
  if (!list.complete) return kReplyNoConnection;

  const std::string info = CountInfo(list.table.MemberCount());
  request.SendProgress(kRequestListApps, 0, &info, nullptr);
  for (auto member = list.table.MemberBegin(); member != list.table.MemberEnd();) {
    JsonTextWriter batch;
    batch->StartObject();
    for (size_t i = 0; i < kAppBatch && member != list.table.MemberEnd(); ++i, ++member) {
      batch->Key(member->name.GetString(), member->name.GetStringLength());
      member->value.Accept(*batch.operator->());
    }
    batch->EndObject();
    const std::string text = batch.Text();
    request.SendProgress(kRequestListApps, 1, &info, &text);
  }
  return kReplySuccess;
}

int HLXModuleApp::SendAppIcons(const FeatureRequest& request, const std::vector<std::string>& bundleIds) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(request.Device()->Device(), &error, kSpringboardService, nullptr, false);
  if (!service) return kReplyServiceNotRunning;
  IconContext icon;
  icon.request = &request;
  for (const std::string& bundleId : bundleIds) {
    if (!IsUsableItemId(bundleId)) continue;
    BinaryPlistPtr message = IconRequest(bundleId);
    if (!message) continue;
    icon.bundleId = bundleId;
    (void)ExchangeServiceMessages(service->ServiceConnection(), *message, OnIconReply, &icon);
  }
  return kReplySuccess;
}

bool HLXModuleApp::BrowseUserApps(HLXDevice& device, std::vector<CFPtr<CFDictionaryRef>>* replies) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(device.Device(), &error, kInstallationService, nullptr, false);
  BinaryPlistPtr browse = AttributesBrowse();
  if (!service || !browse) return false;
  BrowseAnswers answers;
  answers.kept = replies;
  (void)ExchangeServiceMessages(service->ServiceConnection(), *browse, OnBrowseAnswer, &answers);
  return answers.complete;
}

CFPtr<CFDictionaryRef> HLXModuleApp::CopyAppIconReply(HLXDevice& device, const std::string& bundleId) {
  if (!IsUsableItemId(bundleId)) return nullptr;
  BinaryPlistPtr message = IconRequest(bundleId);
  if (!message) return nullptr;
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(device.Device(), &error, kSpringboardService, nullptr, false);
  if (!service) return nullptr;
  CFPtr<CFDictionaryRef> answer;
  (void)ExchangeServiceMessages(service->ServiceConnection(), *message, OnIconAnswer, &answer);
  return answer;
}

}  // namespace hlx
