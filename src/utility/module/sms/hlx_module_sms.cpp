// Request 201 (see hlx_module_sms.h).
#include "utility/module/sms/hlx_module_sms.h"

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

#include "utility/hlx_device.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_task.h"
#include "utility/module/sms/hlx_module_backup.h"
#include "utility/module/sms/hlx_sms_query.h"

namespace hlx {
namespace {

enum class SmsSource : int64_t { kPartialBackup = 0, kBackupTool = 1, kFetchedCopy = 2 };

// "info": {"command": n}; absent members mean 0. False when present but not of that shape.
bool ReadCommand(const rapidjson::Value& json, int64_t* command) {
  *command = 0;
  const auto info = json.FindMember("info");
  if (info == json.MemberEnd()) return true;
  if (!info->value.IsObject()) return false;
  const auto member = info->value.FindMember("command");
  if (member == info->value.MemberEnd()) return true;
  if (!member->value.IsInt64()) return false;
  *command = member->value.GetInt64();
  return true;
}

}  // namespace

int HLXModuleSms::Run(FeatureRequest& request) {
  int64_t command = 0;
  if (!ReadCommand(request.Json(), &command)) return kReplyBadData;
  TaskRegistration task(request.Device()->TaskMap(), static_cast<int64_t>(request.Packet().id));
  if (task.Cancelled()) return kReplyCancelled;
  switch (static_cast<SmsSource>(command)) {
    case SmsSource::kPartialBackup: return QueryWithPartialBackup(request);
    case SmsSource::kBackupTool: return QueryWithBackupTool(request);
    case SmsSource::kFetchedCopy: return QuerySmsDb(request, request.Device()->MessagesDatabasePath());
  }
  return kReplySuccess;
}

int HLXModuleSms::QueryWithPartialBackup(const FeatureRequest& request) {
  std::string path;
  const int result = HLXModuleBackup::BackupMessagesDatabase(
      request.Device(), static_cast<int64_t>(request.Packet().id),
      [&request](int64_t hundredths) {
        (void)request.SendProgress(request.Command(), 2, nullptr, nullptr, hundredths);
      },
      &path);
  if (result != kReplySuccess) return result;
  request.Device()->SetMessagesDatabasePath(path);
  return QuerySmsDb(request, path);
}

int HLXModuleSms::QueryWithBackupTool(const FeatureRequest& request) {
  HLXDevice& device = *request.Device();
  std::string path;
  const CancelTest cancelled = CancelTestOf(device.TaskMap(), static_cast<int64_t>(request.Packet().id));
  const int result = HLXModuleBackup().RunBackupForMessages(device, cancelled, &path);
  if (result != kReplySuccess) return result;
  device.SetMessagesDatabasePath(path);
  return QuerySmsDb(request, path);
}

}  // namespace hlx
