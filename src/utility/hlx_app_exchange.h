// What the app module's listing and its changes share with the erase, which uninstalls the user apps:
// the messages to the installation and springboard services (built as property lists, never pasted into
// text), the app replies that the feature frame's progress reply does not cover (raw icons, an item's
// last reply), the mapping of store metadata into an app object and the rule for item ids.
//
// Threads: any worker; no state.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply.h"

namespace hlx {

class FeatureRequest;

constexpr char kInstallationService[] = "com.apple.mobile.installation_proxy";
constexpr char kSpringboardService[] = "com.apple.springboardservices";

// A message whose top level is a dictionary of texts and arrays of texts:
//   AppMessage({{"Command", "Uninstall"}, {"ApplicationIdentifier", id}}).Serialize()
// Each text goes in as a CoreFoundation string, whatever characters it holds.
class AppMessage {
 public:
  using Texts = std::initializer_list<std::pair<const char*, std::string>>;
  explicit AppMessage(Texts texts);
  // Adds {"ClientOptions": {"ApplicationType": "User", "ReturnAttributes": [...]}}.
  AppMessage& UserAppOptions(std::initializer_list<const char*> attributes);
  // The binary message; null when a text does not convert (not UTF-8).
  BinaryPlistPtr Serialize() const;

 private:
  CFTypeRef Text(const std::string& text);
  // Every object made, kept until the message is serialised: containers made without callbacks do
  // not retain their values under every CoreFoundation.
  std::vector<CFPtr<CFTypeRef>> m_made;
  CFMutableDictionaryRef m_root = nullptr;
  bool m_failed = false;
};

// Whether an item id may be used: a plain child name (not "." either), valid UTF-8, and without
// ".." or a control character (an install id becomes a device path).
bool IsUsableItemId(const std::string& id);

// Packet status of an item's last reply when the device completed it.
constexpr uint16_t kItemCompleteStatus = 7;

// One reply on the request's id and command with the device's UDID: the packet status, stage, code,
// type (0: the data part is compressed; 1: raw), info (raw JSON text or null) and data (or null).
int SendAppReply(const FeatureRequest& request, uint16_t status, int32_t stage, int64_t code, int32_t type,
                 const std::string* info, const std::string* data);

// The top-level dictionary of a property list (a service reply, a metadata file), or null.
std::shared_ptr<const CIOSDictionary> FirstDictionary(const uint8_t* bytes, size_t length);

// The text of a string value, or the decimal text of an integer; false for other values.
bool ValueText(const PlistVariant* value, std::string* text);

// Adds the members that store metadata (the property-list bytes of "iTunesMetadata.plist") give an
// app object: bundle id, versions and display name only when the object lacks them, release and
// purchase dates in local time, artist, item name, icon URL and the Apple ids.
void MapItunesMetadata(rapidjson::Value* app, rapidjson::Document::AllocatorType& allocator,
                       const std::string& metadata);

}  // namespace hlx
