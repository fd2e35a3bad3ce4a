// Requests 10, 16, 17 and 18, and the helper channel's replies.
#include "utility/module/connect/hlx_module_connect.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_download.h"
#include "utility/hlx_encoding.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_process_util.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_startup_state.h"
#include "utility/hlx_task.h"
#include "utility/hlx_text.h"
#include "utility/ios/hlx_client.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {
namespace {

constexpr const char* kDriverPackages[] = {"x64/AppleApplicationSupport.msi", "x64/AppleApplicationSupport64.msi",
                                           "x64/AppleMobileDeviceSupport64.msi"};
constexpr int32_t kPackageCount = 3;
// A side file holds one MD5 in hexadecimal; more than this is not a side file.
constexpr size_t kMaxSideFileBytes = 4096;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

size_t AppendSideFile(char* data, size_t size, size_t count, void* argument) {
  auto* text = static_cast<std::string*>(argument);
  const size_t total = size * count;
  if (text->size() + total > kMaxSideFileBytes) return total + 1;  // aborts the transfer
  text->append(data, total);
  return total;
}

// The MD5 text of a side file as a digest: ASCII blanks around it trimmed, hexadecimal lower-cased;
// "" unless 32 hexadecimal digits remain.
std::string SideFileDigest(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string::npos) return "";
  std::string digest = text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
  for (char& c : digest) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return IsMd5Text(digest) ? digest : "";
}

std::string ProgressInfo(const DownloadData& download, int32_t index) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("total");
  json->Uint64(download.expectedBytes);
  json.Key("step");
  json->Uint64(download.receivedBytes);
  json.Key("index");
  json->Int(index);
  json.Key("count");
  json->Int(kPackageCount);
  json->EndObject();
  return json.Text();
}

std::string ErrorInfo(int32_t result) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("error");
  json->Int(result);
  json->EndObject();
  return json.Text();
}

// 0, or 1641 and 3010: installed, a restart is due. An exit status here carries only its low 8
// bits, so 1641 and 3010 arrive as 105 and 194.
bool IsInstallerSuccess(int exitCode) {
  for (int success : {0, 1641, 3010}) {
    if (exitCode == success || exitCode == (success & 0xFF)) return true;
  }
  return false;
}

// The packet status of a helper's last reply: the result travels in "info", not in "code".
uint16_t FinalStatus(int32_t result) {
  return static_cast<uint16_t>(result == kReplySuccess ? PacketStatus::kDone : PacketStatus::kFailed);
}

// The token of a desktop connection (its number, not its address: replies carry it to the desktop),
// mapped back only to a connection still open.
int64_t ConnectionToken(const std::shared_ptr<IPCConnection>& connection) { return connection ? connection->token : 0; }

int64_t RequestToken(const FeatureRequest& request) {
  const auto code = request.Json().FindMember("code");
  return code != request.Json().MemberEnd() && code->value.IsInt64() ? code->value.GetInt64() : 0;
}

// Downloads the packages into the driver folder; *verified gets each package that is present and
// matches its side file.
int FetchPackages(const FeatureRequest& request, DeviceTaskMap& tasks, int64_t taskId,
                  std::vector<std::string>* verified) {
  const auto info = request.Json().FindMember("info");
  if (info == request.Json().MemberEnd() || !info->value.IsObject()) return kReplyBadData;
  const rapidjson::Value* url = FindStringMember(info->value, "url");
  if (url == nullptr) return kReplyBadData;
  std::string base = StringOf(*url);
  if (base.empty() || base.back() != '/') base += '/';
  const std::string folder = GetDriverDownloadFolder();

  for (int32_t index = 1; index <= kPackageCount; ++index) {
    if (tasks.IsCancelled(taskId)) return kReplyCancelled;
    const std::string packageUrl = base + kDriverPackages[index - 1];
    std::string sideText;
    if (DownloadUrl(packageUrl + ".txt", AppendSideFile, &sideText) != 0) {
      HLX_LOG(ERROR) << "Url Error: " << packageUrl << ".txt";
      return kReplyDriverDownloadFailed;
    }
    const std::string expected = SideFileDigest(sideText);
    if (expected.empty()) {
      HLX_LOG(ERROR) << "Url Error: " << packageUrl << ".txt holds no MD5";
      return kReplyDriverDownloadFailed;
    }
    const std::string localPath = folder + packageUrl.substr(packageUrl.rfind('/') + 1);
    if (GetFileMd5(localPath) == expected) {
      verified->push_back(localPath);
      continue;
    }
    DownloadData download;
    download.taskMap = &tasks;
    download.taskId = taskId;
    download.expectedBytes = GetRemoteFileSize(packageUrl);
    if (download.expectedBytes == 0) HLX_LOG(WARNING) << "Query Url File Size 0: " << packageUrl;
    download.sendProgress = [&request, index](const DownloadData& progress) {
      const std::string text = ProgressInfo(progress, index);
      request.SendProgress(request.Command(), 2, &text, nullptr);
    };
    int transfer = 0;
    {
      std::unique_ptr<std::FILE, FileCloser> file(std::fopen(localPath.c_str(), "wb"));
      if (!file) {
        HLX_LOG(ERROR) << "Write File Error: " << localPath;
        return kReplyDriverDownloadFailed;
      }
      download.file = file.get();
      transfer = DownloadUrl(packageUrl, DownloadWriteCallback, &download);
      if (std::fclose(file.release()) != 0 && transfer == 0) transfer = -1;
    }
    if (tasks.IsCancelled(taskId)) return kReplyCancelled;
    if (transfer != 0) {
      HLX_LOG(ERROR) << "Url Error: " << packageUrl << " (" << transfer << ")";
      return kReplyDriverDownloadFailed;
    }
    download.sendProgress(download);
    // A digest that cannot be computed (the file is gone or unreadable) is a failure too.
    if (GetFileMd5(localPath) != expected) {
      HLX_LOG(ERROR) << "Download Driver UnComplete: " << localPath;
      return kReplyDriverDownloadFailed;
    }
    verified->push_back(localPath);
  }
  return kReplySuccess;
}

}  // namespace

std::string SystemProgramPath(const std::string& relativePath) {
  const char* folder = std::getenv("HLX_SYSTEM_FOLDER");
  const std::string base = folder != nullptr && *folder != '\0' ? folder : "/opt/Windows/System32";
  return base + "/" + relativePath;
}

int HLXModuleConnect::Run(FeatureRequest& request) {
  const uint32_t command = request.Command();
  const bool helperRequest = command == kRequestInstallDrivers || command == kRequestCheckStoreITunes;
  if (request.SubCommand() != 1) {
    if (helperRequest) request.EndWithoutFinalReply();
    return kReplySuccess;
  }
  if (command == kRequestStartDeviceLibrary) {
    HLX_LOG(INFO) << "DoStartLoadiTunesDll Begin: ";
    const int result = HLXDeviceMonitor::GetInstance().Start();
    HLX_LOG(INFO) << "DoStartLoadiTunesDll: " << result;
    return result;
  }
  if (command == kRequestDownloadDrivers) return DownloadDrivers(request);
  if (!helperRequest) return kReplyTaskError;

  if (GetStartupState().instanceMode == static_cast<int32_t>(InstanceMode::kElevatedHelper)) {
    // The helper answers through its own replies, which carry the desktop connection's token.
    request.EndWithoutFinalReply();
    return command == kRequestInstallDrivers ? InstallDrivers(request) : CheckStoreITunes(request);
  }
  HLXClient& client = HLXClient::GetInstance();
  int result = kReplySuccess;
  if (client.IsHelperChannelIdle()) {
    result = client.ListenForHelper() ? LaunchHelper(request) : kReplyHelperListenFailed;
  } else {
    result = ForwardToHelper(request);
  }
  if (result == kReplySuccess) request.EndWithoutFinalReply();  // the helper answers
  return result;
}

int HLXModuleConnect::DownloadDrivers(FeatureRequest& request) {
  DeviceTaskMap& tasks = GetServiceTaskMap();
  const auto taskId = static_cast<int64_t>(request.Packet().id);
  if (!tasks.Register(taskId)) return kReplyCancelled;
  std::vector<std::string> verified;
  const int result = FetchPackages(request, tasks, taskId, &verified);
  tasks.Remove(taskId);
  JsonTextWriter list;
  list->StartArray();
  for (const std::string& path : verified) list.String(path);
  list->EndArray();
  const std::string text = list.Text();
  request.SendProgress(request.Command(), 3, &text, nullptr);
  return result;
}

void HLXModuleConnect::RunSelfTest() {
  // The ids of the service's own requests; they share the task map with the desktop's ids.
  static std::atomic<uint64_t> s_lastId{0};
  JsonTextWriter info;
  info->StartObject();
  info.Key("url");
  info.String(kSelfTestDriverUrl);
  info->EndObject();
  const std::string infoText = info.Text();
  ReplyRecord record;
  record.stage = 1;
  record.uuid = "";
  record.info = infoText.c_str();
  IPCPacket1 packet;
  packet.id = ++s_lastId;
  packet.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  packet.command = static_cast<uint32_t>(kRequestDownloadDrivers);
  packet.body = ReplyRecord::Serialize(record);
  (void)HandleRequest(packet);
}

int HLXModuleConnect::InstallDrivers(FeatureRequest& request) {
  const int64_t token = RequestToken(request);
  const uint16_t inProgress = static_cast<uint16_t>(PacketStatus::kInProgress);
  int32_t result = kReplySuccess;
  const auto info = request.Json().FindMember("info");
  std::vector<std::string> packages;
  if (info == request.Json().MemberEnd() || !info->value.IsArray()) {
    result = kReplyBadData;
  } else {
    for (const auto& path : info->value.GetArray()) {
      if (!path.IsString()) {
        result = kReplyBadData;
        break;
      }
      packages.push_back(StringOf(path));
    }
  }
  const std::string installer = SystemProgramPath("msiexec.exe");
  for (size_t i = 0; result == kReplySuccess && i < packages.size(); ++i) {
    const std::string& package = packages[i];
    std::string output;
    int exitCode = -1;
    RunProgramCapture(output, installer,
                      {"/package", package, "/passive", "/norestart", "/qn", "/l*", package + ".log"}, &exitCode);
    HLX_LOG(INFO) << package << ": exit " << exitCode << ": " << output;
    const bool exitOk = IsInstallerSuccess(exitCode);
    if (!exitOk || output.find("error") != std::string::npos) {
      result = kReplyInstallFailed;
      break;
    }
    JsonTextWriter progress;
    progress->StartObject();
    progress.Key("index");
    progress->Uint64(i + 1);
    progress.Key("count");
    progress->Uint64(packages.size());
    progress->EndObject();
    const std::string text = progress.Text();
    request.SendReplyRecord(request.Command(), inProgress, 2, token, 0, &text, nullptr, 0);
  }
  HLX_LOG(INFO) << "FailedBlacklist Before: " << result;
  if (result == kReplySuccess && !IsMobileDeviceServiceRunning()) result = kReplyInstallFailed;
  HLX_LOG(INFO) << "FailedBlacklist After: " << result;
  const std::string text = ErrorInfo(result);
  HLX_LOG(INFO) << "Install Driver: " << text;
  request.SendReplyRecord(request.Command(), FinalStatus(result), 2, token, 0, &text, nullptr, 0);
  return result;
}

int HLXModuleConnect::CheckStoreITunes(FeatureRequest& request) {
  std::string output;
  int exitCode = -1;
  RunProgramCapture(output, SystemProgramPath("wbem/WMIC.exe"), {"path", "Win32_InstalledStoreProgram", "get", "name"},
                    &exitCode);
  // A query that did not run tells nothing: not "not installed".
  int32_t result = exitCode == 0 ? kReplySuccess : kReplyTaskError;
  if (output.find("AppleInc.iTunes") != std::string::npos) result = kReplyStoreEditionInstalled;
  const std::string text = ErrorInfo(result);
  HLX_LOG(INFO) << "store edition check: exit " << exitCode << ", " << text;
  request.SendReplyRecord(request.Command(), FinalStatus(result), 2, RequestToken(request), 0, &text, nullptr, 0);
  return result;
}

int HLXModuleConnect::ForwardToHelper(FeatureRequest& request) {
  const rapidjson::Value& json = request.Json();
  const int64_t token = ConnectionToken(request.Packet().connection);
  HLX_LOG(INFO) << "code: " << token;
  const auto stage = json.FindMember("stage");
  const auto type = json.FindMember("type");
  const auto info = json.FindMember("info");
  const std::string infoText = info != json.MemberEnd() ? JsonValueToString(info->value) : std::string();
  ReplyRecord record;
  record.stage = stage != json.MemberEnd() && stage->value.IsInt() ? stage->value.GetInt() : 0;
  record.code = token;
  record.uuid = "";
  record.type = type != json.MemberEnd() && type->value.IsInt() ? type->value.GetInt() : 0;
  record.info = infoText.empty() ? nullptr : infoText.c_str();
  IPCPacket1 packet;
  packet.id = request.Packet().id;
  packet.status = request.Packet().status;
  packet.command = request.Packet().command;
  packet.body = ReplyRecord::Serialize(record);
  if (packet.body.empty()) return kReplyInstallFailed;
  HLXClient::GetInstance().SendToHelper(packet);
  return kReplySuccess;
}

int HLXModuleConnect::LaunchHelper(FeatureRequest& request) {
  HLXClient& client = HLXClient::GetInstance();
  const StartupState& state = GetStartupState();
  // The helper's command line: the helper port as its peer, this process to watch, no console, no
  // self-test, logging, this instance's version, log folder and product, mode 2. Arguments travel
  // as a vector, so the product name needs no quotes.
  const std::vector<std::string> arguments = {std::to_string(client.HelperPort()),
                                              std::to_string(os::Os().currentProcessId()),
                                              "0",
                                              "0",
                                              "1",
                                              state.productVersion,
                                              state.logSubfolder,
                                              state.productName,
                                              std::to_string(static_cast<int32_t>(InstanceMode::kElevatedHelper))};
  const std::string program = GetModuleFilePath();
  auto pending = std::make_unique<IPCPacket1>(request.Packet());
  const bool queued = client.QueueForHelper(
      [&] {
        HLX_LOG(INFO) << "starting the helper:" << JoinArguments(arguments);
        return ShellExecuteElevated(program, arguments);
      },
      std::move(pending));
  return queued ? kReplySuccess : kReplyHelperNotStarted;
}

int HLXModuleConnect::HandleHelperRequest(const IPCPacket1& packet) {
  if (packet.command != static_cast<uint32_t>(kRequestInstallDrivers) &&
      packet.command != static_cast<uint32_t>(kRequestCheckStoreITunes)) {
    return 0;
  }
  const RequestPayload payload = RequestPayload::Parse(packet.body);
  rapidjson::Document json;
  if (!ParseJsonText(&json, payload.json) || !json.IsObject()) {
    HLX_LOG(ERROR) << "Error Data: " << payload.json.size() << " bytes";
    return kReplyBadData;
  }
  const auto code = json.FindMember("code");
  const int64_t token = code != json.MemberEnd() && code->value.IsInt64() ? code->value.GetInt64() : 0;
  HLX_LOG(INFO) << "commandType: " << packet.command << " :" << packet.status << " :" << token;
  if (token == 0) return 0;
  for (const auto& connection : HLXClient::GetInstance().DesktopChannel().Connections()) {
    if (ConnectionToken(connection) != token) continue;
    IPCPacket1 relayed;
    relayed.id = packet.id;
    relayed.status = packet.status;
    relayed.command = packet.command;
    relayed.body = packet.body;
    relayed.connection = connection;
    if (!relayed.Send()) HLX_LOG(WARNING) << "helper reply " << packet.id << " could not be relayed";
  }
  return 0;
}

}  // namespace hlx
