// Request 1701 (and the stand-in answer of 1700).
#include "utility/module/erase/hlx_module_erase.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_device.h"
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

// "/iostemp/<local time %Y%m%d%H%M%S>-<n>".
std::string ScratchFileName(int64_t n) {
  int64_t now = os::Os().currentTime();
  if (now < 0 || now > 32535194399LL) now = 0;
  std::tm local{};
  char stamp[32] = "19700101000000";
  if (os::Os().localTime(now, &local)) std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);
  return std::string(kScratchFolder) + "/" + stamp + "-" + std::to_string(n);
}

void SendPercent(const FeatureRequest& request, int64_t percent) {
  (void)request.SendReplyRecord(request.Command(), static_cast<uint16_t>(PacketStatus::kInProgress), 0, percent, 0,
                                nullptr, nullptr, 0);
}

}  // namespace

int HLXModuleErase::Run(FeatureRequest& request) {
  if (request.Command() != static_cast<uint32_t>(kRequestFillFreeSpace)) return kReplyTaskError;
  if (request.SubCommand() != 1) return kReplySuccess;
  std::string message;
  const int code = FillFreeSpace(request, &message);
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
  std::shared_ptr<HLXDeviceService> service = OpenDeviceService(device.Device(), &error, "com.apple.afc", nullptr, true);
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

}  // namespace hlx
