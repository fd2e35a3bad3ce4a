// Requests 504 (install), 505 (uninstall) and 506 (archive) of the app module (see
// hlx_module_app.h). Items are worked through one after the other: the next item's command goes out
// only after the device's last reply to the previous one.
#include <rapidjson/document.h>

#include <chrono>
#include <memory>

#include "utility/hlx_afc.h"
#include "utility/hlx_app_exchange.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_download.h"
#include "utility/hlx_json.h"
#include "utility/hlx_text.h"
#include "utility/hlx_zip_util.h"
#include "utility/module/app/hlx_module_app.h"

namespace hlx {
namespace {

constexpr char kStagingFolder[] = "general_storage";
// An icon is a few kilobytes; the download of one is abandoned after this long or this size, so a
// slow or endless server cannot hold the install.
constexpr std::chrono::seconds kIconDownloadLimit{30};
constexpr size_t kMaxIconBytes = 4u << 20;

// The device's progress for one item: each "PercentComplete" becomes a progress reply with that
// code; the first reply without one ends the item with status 7 ("Complete") or 6 (an error).
struct ProgressContext {
  const FeatureRequest* request = nullptr;
  int32_t stage = 0;
  const std::string* info = nullptr;  // the item's info text, or null
  bool ended = false;
  bool complete = false;
};

void OnProgressReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* progress = static_cast<ProgressContext*>(context);
  *more = true;
  *result = true;
  const std::shared_ptr<const CIOSDictionary> reply = FirstDictionary(bytes, static_cast<size_t>(length));
  if (!reply) return;
  const PlistVariant* percent = reply->Find("PercentComplete");
  if (percent != nullptr && percent->GetInt64() != nullptr) {
    SendAppReply(*progress->request, static_cast<uint16_t>(PacketStatus::kInProgress), progress->stage,
                 *percent->GetInt64(), 0, progress->info, nullptr);
    return;
  }
  const PlistVariant* status = reply->Find("Status");
  const bool complete = status != nullptr && status->GetString() != nullptr && *status->GetString() == "Complete";
  SendAppReply(*progress->request, complete ? kItemCompleteStatus : static_cast<uint16_t>(PacketStatus::kFailed),
               progress->stage, 0, 0, progress->info, nullptr);
  progress->ended = true;
  progress->complete = complete;
  *more = false;
}

// Sends one command and relays the device's progress until the item's last reply. An exchange that
// ends without one (the connection broke) still ends the item, as failed. True when the device
// completed the item.
bool RunItemCommand(const FeatureRequest& request, AMDServiceConnectionRef connection, const BinaryPlist& message,
                    int32_t stage, const std::string* info) {
  ProgressContext progress;
  progress.request = &request;
  progress.stage = stage;
  progress.info = info;
  (void)ExchangeServiceMessages(connection, message, OnProgressReply, &progress);
  if (!progress.ended) {
    SendAppReply(request, static_cast<uint16_t>(PacketStatus::kFailed), stage, 0, 0, info, nullptr);
  }
  return progress.complete;
}

struct IconDownload {
  std::string bytes;
  std::chrono::steady_clock::time_point deadline;
};

size_t AppendIconBytes(char* data, size_t size, size_t count, void* argument) {
  auto* download = static_cast<IconDownload*>(argument);
  const size_t bytes = size * count;
  if (std::chrono::steady_clock::now() > download->deadline || download->bytes.size() + bytes > kMaxIconBytes) {
    return 0;  // abandons the transfer
  }
  download->bytes.append(data, bytes);
  return bytes;
}

// The icon at the URL; false when the transfer failed, the server answered 400 or more, or the
// limits above were passed.
bool FetchIcon(const std::string& url, std::string* png) {
  IconDownload download;
  download.deadline = std::chrono::steady_clock::now() + kIconDownloadLimit;
  if (DownloadUrl(url, AppendIconBytes, &download) != 0) return false;
  *png = std::move(download.bytes);
  return true;
}

std::string MemberText(const rapidjson::Value& object, const char* name) {
  auto member = object.FindMember(name);
  if (member == object.MemberEnd() || !member->value.IsString()) return "";
  return std::string(member->value.GetString(), member->value.GetStringLength());
}

}  // namespace

int HLXModuleApp::InstallPackages(const FeatureRequest& request, const std::vector<std::string>& packagePaths) {
  AMDeviceRef device = request.Device()->Device();
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(device, &error, "com.apple.afc", nullptr, true);
  if (!afc) return kReplyAfcNotOpened;
  std::shared_ptr<HLXDeviceService> installer = OpenDeviceService(device, &error, kInstallationService, nullptr, false);
  if (!installer) return kReplyServiceNotRunning;
  for (const std::string& path : packagePaths) {
    rapidjson::Document metadata(rapidjson::kObjectType);
    MapItunesMetadata(&metadata, metadata.GetAllocator(), ReadIpaMetadata(Utf8ToWide(path)));
    const std::string bundleId = MemberText(metadata, "CFBundleIdentifier");
    // No metadata, or an id that would not stay one file name in the staging folder: skipped.
    if (!IsUsableItemId(bundleId)) continue;
    const std::string devicePath = std::string(kStagingFolder) + "/" + bundleId + ".ipa";
    BinaryPlistPtr upgrade = AppMessage({{"PackagePath", devicePath}, {"Command", "Upgrade"}}).Serialize();
    if (!upgrade) continue;

    const std::string metadataText = JsonValueToString(metadata);
    request.SendProgress(kRequestInstallApp, 0, nullptr, &metadataText);
    const std::string iconUrl = MemberText(metadata, "softwareIcon57x57URL");
    std::string icon;
    if (iconUrl.empty() || FetchIcon(iconUrl, &icon)) {
      SendAppReply(request, static_cast<uint16_t>(PacketStatus::kInProgress), 1, 0, 1, nullptr, &icon);
    }
    (void)AfcMakeDirectory(afc->AfcConnection(), kStagingFolder);
    // A package the device did not install (refused, or cut off on the way) is not left taking
    // space in the staging folder.
    if (!AfcUploadFile(afc->AfcConnection(), path, devicePath) ||
        !RunItemCommand(request, installer->ServiceConnection(), *upgrade, 2, nullptr)) {
      (void)AfcRemovePath(afc->AfcConnection(), devicePath);
    }
  }
  return kReplySuccess;
}

int HLXModuleApp::ChangeApps(const FeatureRequest& request, const std::vector<std::string>& bundleIds, bool archive) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> installer =
      OpenDeviceService(request.Device()->Device(), &error, kInstallationService, nullptr, false);
  if (!installer) return kReplyServiceNotRunning;
  for (const std::string& bundleId : bundleIds) {
    if (!IsUsableItemId(bundleId)) continue;
    BinaryPlistPtr message =
        AppMessage({{"ApplicationIdentifier", bundleId}, {"Command", archive ? "Archive" : "Uninstall"}}).Serialize();
    if (!message) continue;
    // Uninstall progress names its app; archive progress carries no info.
    JsonTextWriter info;
    info.String(bundleId);
    const std::string infoText = info.Text();
    (void)RunItemCommand(request, installer->ServiceConnection(), *message, 0, archive ? nullptr : &infoText);
  }
  return kReplySuccess;
}

}  // namespace hlx
