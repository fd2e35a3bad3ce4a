// Requests 1700 and 1701 (see the header).
#include "utility/module/erase/hlx_module_erase.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_app_exchange.h"
#include "utility/hlx_backup_protocol.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_task.h"

namespace hlx {
namespace {

constexpr const char* kScratchFolder = "/iostemp";
constexpr uint32_t kFillBlockBytes = 8 * 1024 * 1024;
constexpr int kBlocksPerPassFile = 64;  // pass p writes files of p * 64 blocks: 512 MiB, then 1 GiB
constexpr const char* kCancelledMessage = "Task cancelled.";
// The folders a content erase empties, in order; each keeps its own folder.
constexpr const char* kErasedFolders[] = {"/PhotoData/Thumbnails",
                                          "/PhotoData/MISC",
                                          "/PhotoData/Metadata",
                                          "/PhotoData/Videos",
                                          "/PhotoData/AlbumsMetadata",
                                          "/PhotoData/Logs",
                                          "/PhotoData/Caches",
                                          "/PhotoData/PhotoCloudSharingData",
                                          "/Photos",
                                          "/PhotoStreamsData",
                                          "/DCIM",
                                          "/iTunes_Control/Music",
                                          "/iTunes_Control/Artwork",
                                          "/iTunes_Control/iTunes/Artwork",
                                          "/iTunes_Control/Sync",
                                          "/iTunes_Control",
                                          "/Books",
                                          "/Podcasts",
                                          "/Purchases",
                                          "/Radio",
                                          "/Recordings",
                                          "/Downloads"};
constexpr int64_t kErasedFolderSteps = 23;  // the folders and the step after the last

// "/iostemp/<local time %Y%m%d%H%M%S>-<n>".
std::string ScratchFileName(int64_t n) {
  int64_t now = os::Os().currentTime();
  if (now < 0 || now > 32535194399LL) now = 0;
  std::tm local{};
  char stamp[32] = "19700101000000";
  if (os::Os().localTime(now, &local)) std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);
  return std::string(kScratchFolder) + "/" + stamp + "-" + std::to_string(n);
}

void SendPercent(const FeatureRequest& request, int64_t percent, int32_t stage = 0) {
  (void)request.SendReplyRecord(request.Command(), static_cast<uint16_t>(PacketStatus::kInProgress), stage, percent, 0,
                                nullptr, nullptr, 0);
}

// The user apps of a Browse: the bundle ids in the device's order, and how many apps were listed
// (those without an id count too).
struct UserApps {
  std::vector<std::string> bundleIds;
  int64_t listed = 0;
  bool complete = false;
};

void OnUserAppsReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* apps = static_cast<UserApps*>(context);
  *result = true;
  const std::shared_ptr<const CIOSDictionary> reply = FirstDictionary(bytes, static_cast<size_t>(length));
  std::string status;
  *more = reply && ValueText(reply->Find("Status"), &status) && status != "Complete";
  apps->complete = status == "Complete";
  const PlistVariant* current = reply ? reply->Find("CurrentList") : nullptr;
  for (const PlistVariant& item : current && current->GetArray() ? *current->GetArray() : PlistVariant::Array()) {
    ++apps->listed;
    std::string bundleId;
    if (item.GetDictionary() != nullptr && ValueText(item.GetDictionary()->Find("CFBundleIdentifier"), &bundleId)) {
      apps->bundleIds.push_back(bundleId);
    }
  }
}

// An uninstall's answers are read until "Complete" or an answer without a status (an error), so
// that the next uninstall is never sent while one still runs.
void OnUninstallReply(void* /*context*/, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  const std::shared_ptr<const CIOSDictionary> reply = FirstDictionary(bytes, static_cast<size_t>(length));
  std::string status;
  *more = reply && reply->Find("Error") == nullptr && ValueText(reply->Find("Status"), &status) && status != "Complete";
  *result = status == "Complete";
}

// The restore arguments of a content erase, checked before anything on the device is touched:
// 21 "ParameterError" when one is missing or not a text; 42 or 61 when the folder cannot be
// restored whole (HLXBackupProtocol::CheckRestorable).
int ReadRestoreOptions(const rapidjson::Document& data, BackupSessionOptions* options, std::string* message) {
  const rapidjson::Value* path = FindStringMember(data, "path");
  const rapidjson::Value* source = FindStringMember(data, "sourceDeviceId");
  const rapidjson::Value* password = FindStringMember(data, "password");
  if (path == nullptr || source == nullptr || password == nullptr || path->GetStringLength() == 0 ||
      source->GetStringLength() == 0) {
    *message = "ParameterError";
    return kReplyBadRequest;
  }
  options->backupFolder = StringOf(*path);
  if (options->backupFolder.back() != '/') options->backupFolder += '/';
  options->sourceId = StringOf(*source);
  options->password = StringOf(*password);
  options->openFailureText = "MonitorDeviceOpenAFCServiceFail";
  const BackupSessionResult checked = HLXBackupProtocol::CheckRestorable(options->backupFolder);
  *message = checked.text;
  return checked.code;
}

}  // namespace

int HLXModuleErase::Run(FeatureRequest& request) {
  if (request.SubCommand() != 1) return kReplySuccess;
  std::string message;
  const int code = request.Command() == static_cast<uint32_t>(kRequestEraseContent) ? EraseContent(request, &message)
                                                                                    : FillFreeSpace(request, &message);
  JsonTextWriter info;
  info->StartObject();
  info.Key("error");
  info.String(message);
  info->EndObject();
  const std::string text = info.Text();
  request.SendReplyRecord(request.Command(), static_cast<uint16_t>(ReplyStatus(code)), 0, code, 0, &text, nullptr, 0);
  request.EndWithoutFinalReply();  // the final reply above carries the message
  return code;
}

int HLXModuleErase::FillFreeSpace(FeatureRequest& request, std::string* message) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  const auto levelMember = data.FindMember("level");
  int64_t level = 0;
  if (levelMember != data.MemberEnd()) {
    if (!levelMember->value.IsInt64()) return kReplyBadData;
    level = levelMember->value.GetInt64();
  }
  HLXDevice& device = *request.Device();
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(device.Device(), &error, "com.apple.afc", nullptr, true);
  if (!service) {
    *message = "open afc error";
    return kReplyAfcInfoUnreadable;
  }
  AFCConnectionRef afc = service->AfcConnection();
  if (!AfcMakeDirectory(afc, kScratchFolder)) {
    *message = "mkdir /iostemp fail.";
    return kReplyScratchFolderFailed;
  }
  DeviceTaskMap& tasks = device.TaskMap();
  const auto taskId = static_cast<int64_t>(request.Packet().id);
  if (!tasks.Register(taskId)) {
    (void)AfcRemoveTree(afc, kScratchFolder, true, false);
    *message = kCancelledMessage;
    return kReplyCancelled;
  }
  const std::vector<uint8_t> zeros(kFillBlockBytes, 0);
  const int64_t freeBytes = device.Properties().freeBytes;
  CMobileExportFun& md = CMobileExportFun::GetInstance();

  int code = kReplySuccess;
  bool cancelled = false;
  bool openFailed = false;
  int64_t lastPassBytes = 0;
  const int64_t passes = std::min<int64_t>(level, 2);
  for (int64_t pass = 1; pass <= passes && !cancelled; ++pass) {
    const int64_t fileBytes = pass * kBlocksPerPassFile * static_cast<int64_t>(kFillBlockBytes);
    int64_t counted = 0;
    int64_t highestPercent = 0;
    for (int64_t n = 1; counted < freeBytes; ++n) {
      if (tasks.IsCancelled(taskId)) {
        cancelled = true;
        break;
      }
      AFCFileRef file = 0;
      if (md.AFCFileRefOpen(afc, ScratchFileName(n).c_str(), kAFCFileModeReadWrite, &file) != kAFCSuccess) {
        openFailed = true;
        break;
      }
      for (int64_t block = 0; block < pass * kBlocksPerPassFile; ++block) {
        if (tasks.IsCancelled(taskId)) {
          cancelled = true;
          break;
        }
        // A failed write means the device is full: this file ends here.
        if (md.AFCFileRefWrite(afc, file, zeros.data(), kFillBlockBytes) != kAFCSuccess) break;
      }
      (void)md.AFCFileRefClose(afc, file);
      if (cancelled) break;
      // Counted whole, whatever was written: a full device still ends the pass.
      counted += fileBytes;
      const int64_t percent = std::min<int64_t>(counted * 100 / freeBytes, 100);
      if (percent > highestPercent) {
        highestPercent = percent;
        // The pass's share rounded up: ceil(percent / level), plus 50 in the second pass.
        SendPercent(request, percent / level + (percent % level != 0 ? 1 : 0) + 50 * (pass - 1));
      }
    }
    (void)AfcRemoveTree(afc, kScratchFolder, false, false);
    lastPassBytes = counted;
    if (openFailed) break;
  }
  (void)AfcRemoveTree(afc, kScratchFolder, true, false);
  tasks.Remove(taskId);
  if (cancelled) {
    *message = kCancelledMessage;
    code = kReplyCancelled;
  } else if (openFailed) {
    code = kReplyAfcInfoUnreadable;
  } else if (lastPassBytes < freeBytes) {
    code = kReplyTaskError;
  }
  return code;
}

int HLXModuleErase::EraseContent(FeatureRequest& request, std::string* message) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  BackupSessionOptions options;
  const int checked = ReadRestoreOptions(data, &options, message);
  if (checked != kReplySuccess) return checked;

  HLXDevice& device = *request.Device();
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(device.Device(), &error, "com.apple.afc", nullptr, true);
  if (!afc) {
    *message = "open afc error";
    return kReplyAfcInfoUnreadable;
  }
  std::shared_ptr<HLXDeviceService> installer =
      OpenDeviceService(device.Device(), &error, kInstallationService, nullptr, false);
  if (!installer) {
    *message = "open app uninstall service error";
    return kReplyServiceNotRunning;
  }
  HLXBackupProtocol protocol(request.Device());
  // Claimed before the wipe: a restore refused after it would leave the device empty.
  if (!protocol.Claim()) {
    *message = kBackupBusyText;
    return kReplyBackupBusy;
  }
  DeviceTaskMap& tasks = device.TaskMap();
  const auto taskId = static_cast<int64_t>(request.Packet().id);
  if (!tasks.Register(taskId)) {
    *message = kCancelledMessage;
    return kReplyCancelled;
  }
  tasks.SetCancelHook(taskId, [&protocol] { protocol.Abort(); });
  // Removed (with its hook) before the protocol object that the hook aborts ends.
  struct TaskEnd {
    DeviceTaskMap& tasks;
    int64_t taskId;
    ~TaskEnd() { tasks.Remove(taskId); }
  } taskEnd{tasks, taskId};
  const auto cancelled = [&] {
    if (!tasks.IsCancelled(taskId)) return false;
    *message = kCancelledMessage;
    return true;
  };

  // Failed removals and uninstalls are not fatal: what is left is overwritten by the restore or stays.
  int64_t step = 0;
  for (const char* folder : kErasedFolders) {
    if (cancelled()) return kReplyCancelled;
    SendPercent(request, 100 * ++step / kErasedFolderSteps);
    (void)AfcRemoveTree(afc->AfcConnection(), folder, false, false);
  }
  SendPercent(request, 100);

  UserApps apps;
  BinaryPlistPtr browse = AppMessage({{"Command", "Browse"}}).UserAppOptions({"CFBundleIdentifier"}).Serialize();
  if (browse) (void)ExchangeServiceMessages(installer->ServiceConnection(), *browse, OnUserAppsReply, &apps);
  if (!apps.complete) HLX_LOG(WARNING) << "erase: the app list broke off; " << apps.listed << " apps listed";
  int64_t uninstalled = 0;
  for (const std::string& bundleId : apps.bundleIds) {
    if (cancelled()) return kReplyCancelled;
    BinaryPlistPtr uninstall = AppMessage({{"ApplicationIdentifier", bundleId}, {"Command", "Uninstall"}}).Serialize();
    if (!uninstall || !ExchangeServiceMessages(installer->ServiceConnection(), *uninstall, OnUninstallReply, nullptr)) {
      HLX_LOG(WARNING) << "erase: an app was not uninstalled";
    }
    SendPercent(request, 100 * ++uninstalled / apps.listed, 2);
  }
  if (uninstalled == 0) SendPercent(request, 100, 2);
  if (cancelled()) return kReplyCancelled;

  options.progress = [&request](int64_t hundredths) { SendPercent(request, hundredths, 1); };
  options.cancelled = [&tasks, taskId] { return tasks.IsCancelled(taskId); };
  const BackupSessionResult result = protocol.Restore(options);
  *message = result.text;
  return result.code;
}

}  // namespace hlx
