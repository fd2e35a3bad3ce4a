// Messages, replies, metadata and item ids of the app exchange (see hlx_app_exchange.h).
#include "utility/hlx_app_exchange.h"

#include <algorithm>
#include <memory>

#include "utility/hlx_device.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_reply_sink.h"
#include "utility/hlx_text.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

// A UTC text of the metadata as local time; "" for a text too short or out of range.
std::string LocalTime(const std::string& utcText) {
  std::unique_ptr<char, FreeDeleter> local(UtcTextToLocalText(utcText.c_str()));
  return local ? std::string(local.get()) : std::string();
}

void AddText(rapidjson::Value* app, rapidjson::Document::AllocatorType& allocator, const char* name,
             const std::string& text) {
  app->AddMember(rapidjson::Value(name, allocator),
                 rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator), allocator);
}

}  // namespace

AppMessage::AppMessage(Texts texts) {
  m_root = Md().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
  if (m_root == nullptr) {
    m_failed = true;
    return;
  }
  m_made.emplace_back(m_root);
  for (const auto& [key, value] : texts) {
    CFTypeRef keyText = Text(key);
    CFTypeRef valueText = Text(value);
    if (keyText != nullptr && valueText != nullptr) Md().CFDictionaryAddValue(m_root, keyText, valueText);
  }
}

CFTypeRef AppMessage::Text(const std::string& text) {
  CFTypeRef string = Md().CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
  if (string == nullptr || text.find('\0') != std::string::npos) {
    m_failed = true;
    return nullptr;
  }
  m_made.emplace_back(string);
  return string;
}

AppMessage& AppMessage::UserAppOptions(std::initializer_list<const char*> attributes) {
  CFMutableDictionaryRef options = Md().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
  CFMutableArrayRef list = Md().CFArrayCreateMutable(nullptr, 0, nullptr);
  if (options == nullptr || list == nullptr || m_failed) {
    m_failed = true;
    return *this;
  }
  m_made.emplace_back(options);
  m_made.emplace_back(list);
  for (const char* attribute : attributes) Md().CFArrayAppendValue(list, Text(attribute));
  Md().CFDictionaryAddValue(options, Text("ApplicationType"), Text("User"));
  Md().CFDictionaryAddValue(options, Text("ReturnAttributes"), list);
  Md().CFDictionaryAddValue(m_root, Text("ClientOptions"), options);
  return *this;
}

BinaryPlistPtr AppMessage::Serialize() const {
  if (m_failed) return nullptr;
  return SerializePlist(m_root, kCFPropertyListBinaryFormat_v1_0);
}

bool IsUsableItemId(const std::string& id) {
  // On top of a plain name: no ".." anywhere and no control character, as an id is no file name.
  if (!IsPlainChildName(id) || !IsValidUtf8(id) || id.find("..") != std::string::npos) return false;
  return std::none_of(id.begin(), id.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

int SendAppReply(const FeatureRequest& request, uint16_t status, int32_t stage, int64_t code, int32_t type,
                 const std::string* info, const std::string* data) {
  return request.SendReplyRecord(request.Command(), status, stage, code, type, info,
                                 data != nullptr ? data->data() : nullptr, data != nullptr ? data->size() : 0);
}

std::shared_ptr<const CIOSDictionary> FirstDictionary(const uint8_t* bytes, size_t length) {
  PlistVariant tree;
  if (length == 0 || !ParsePlistToVariant(bytes, length, &tree)) return nullptr;
  const PlistVariant::Array* top = tree.GetArray();
  return top != nullptr && !top->empty() ? top->front().ShareDictionary() : nullptr;
}

bool ValueText(const PlistVariant* value, std::string* text) {
  if (value == nullptr) return false;
  if (const std::string* string = value->GetString()) {
    *text = *string;
    return true;
  }
  if (const int64_t* number = value->GetInt64()) {
    *text = std::to_string(*number);
    return true;
  }
  return false;
}

void MapItunesMetadata(rapidjson::Value* app, rapidjson::Document::AllocatorType& allocator,
                       const std::string& metadata) {
  const std::shared_ptr<const CIOSDictionary> store =
      FirstDictionary(reinterpret_cast<const uint8_t*>(metadata.data()), metadata.size());
  if (!store) return;
  std::string text;
  const std::pair<const char*, const char*> unlessPresent[] = {
      {"CFBundleIdentifier", "softwareVersionBundleId"},
      {"CFBundleShortVersionString", "bundleShortVersionString"},
      {"CFBundleVersion", "bundleVersion"},
      {"CFBundleDisplayName", "bundleDisplayName"}};
  for (const auto& [member, key] : unlessPresent) {
    if (!app->HasMember(member) && ValueText(store->Find(key), &text)) AddText(app, allocator, member, text);
  }
  if (ValueText(store->Find("releaseDate"), &text)) AddText(app, allocator, "releaseDate", LocalTime(text));
  const std::pair<const char*, const char*> copied[] = {{"artistName", "artistName"},
                                                        {"itemName", "itemName"},
                                                        {"softwareIcon57x57URL", "softwareIcon57x57URL"},
                                                        {"AppleID", "appleId"}};
  for (const auto& [member, key] : copied) {
    if (ValueText(store->Find(key), &text)) AddText(app, allocator, member, text);
  }
  const PlistVariant* download = store->Find("com.apple.iTunesStore.downloadInfo");
  const CIOSDictionary* downloadInfo = download != nullptr ? download->GetDictionary() : nullptr;
  if (downloadInfo == nullptr) return;
  if (ValueText(downloadInfo->Find("purchaseDate"), &text)) AddText(app, allocator, "purchaseDate", LocalTime(text));
  const PlistVariant* account = downloadInfo->Find("accountInfo");
  const CIOSDictionary* accountInfo = account != nullptr ? account->GetDictionary() : nullptr;
  // A second "AppleID" member, after the one "appleId" gave: the desktop reads both.
  if (accountInfo != nullptr && ValueText(accountInfo->Find("AppleID"), &text)) {
    AddText(app, allocator, "AppleID", text);
  }
}

}  // namespace hlx
