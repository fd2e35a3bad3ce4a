// Requests 1600 to 1607: the backup and restore runs, the backup list, and the small device and
// desktop queries (see the header).
#include "utility/module/itunes/hlx_module_itunes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>

#include "os/hlx_os.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_app_source.h"
#include "utility/hlx_backup_protocol.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_properties.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_encoding.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_process_util.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_reply_sink.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_sync_session.h"
#include "utility/hlx_task.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

constexpr char kBackupDomain[] = "com.apple.mobile.backup";
// The desktop player's files that a backup's Info.plist carries when the device has them.
constexpr const char* kITunesFiles[] = {"ApertureAlbumPrefs", "IC-Info.sidb",     "IC-Info.sidv",
                                        "PhotosFolderAlbums", "PhotosFolderName", "PhotosFolderPrefs",
                                        "VoiceMemos.plist",   "iPhotoAlbumPrefs", "iTunesApplicationIDs",
                                        "iTunesPrefs",        "iTunesPrefs.plist"};

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// A progress reply: the value travels as the record's code, in hundredths of a percent.
void SendProgressReply(const FeatureRequest& request, int64_t value, int32_t stage) {
  const std::string uuid = request.Device() ? request.Device()->Udid() : request.Uuid();
  ReplyRecord record;
  record.stage = stage;
  record.code = value;
  record.uuid = uuid.c_str();
  IPCPacket1 packet;
  packet.id = request.Packet().id;
  packet.command = request.Command();
  packet.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  SendThroughSink(record, packet);
}

void SendJsonDataReply(const FeatureRequest& request, const rapidjson::Value& value, int32_t stage) {
  const std::string text = JsonValueToString(value);
  ReplyRecord record;
  record.stage = stage;
  record.uuid = "";
  record.data = reinterpret_cast<const uint8_t*>(text.data());
  record.dataLength = static_cast<int64_t>(text.size());
  IPCPacket1 packet;
  packet.id = request.Packet().id;
  packet.command = request.Command();
  packet.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  SendThroughSink(record, packet);
}

std::string LocalStartSuffix() {
  int64_t now = os::Os().currentTime();
  if (now < 0 || now > 32535194399) now = 0;
  std::tm local{};
  if (!os::Os().localTime(now, &local)) return "-19700101000000";
  char text[32];
  std::strftime(text, sizeof(text), "-%Y%m%d%H%M%S", &local);
  return text;
}

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

const void* ValueOf(CFDictionaryRef dictionary, const char* key) {
  return Md().CFDictionaryGetValue(dictionary, Md().__CFStringMakeConstantString(key));
}

// The bytes of a data value in base64; false for a value of another kind.
bool DataAsBase64(const void* value, std::string* text) {
  if (value == nullptr || Md().CFGetTypeID(value) != kHLXCFDataTypeID) return false;
  const auto data = static_cast<CFDataRef>(value);
  const CFIndex length = Md().CFDataGetLength(data);
  const UInt8* bytes = Md().CFDataGetBytePtr(data);
  if (length < 0 || (bytes == nullptr && length != 0)) return false;
  *text = Base64Encode(bytes, static_cast<size_t>(length));
  return true;
}

// A bundle id that Info.plist can carry as a key: a text, not empty, without NUL or any other
// control character (XML cannot hold most of them, and the whole file would not convert).
bool ReadBundleId(const void* value, std::string* bundleId) {
  if (value == nullptr || Md().CFGetTypeID(value) != kHLXCFStringTypeID || HoldsNulText(value)) return false;
  *bundleId = CFStringToUtf8(value);
  for (unsigned char c : *bundleId) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return !bundleId->empty();
}

// "Applications" and "Installed Applications" of Info.plist, as XML: every user app the device lists
// with a bundle id, a SINF and store metadata (each id once), with its icon when the device has one.
// Both are empty when the installation service does not answer.
std::string ApplicationsXml(HLXDevice& device) {
  std::string applications = "<key>Applications</key><dict>";
  std::string installed = "<key>Installed Applications</key><array>";
  AppSource* source = FindAppSource();
  std::vector<CFPtr<CFDictionaryRef>> answers;
  if (source != nullptr && !source->BrowseUserApps(device, &answers)) {
    HLX_LOG(WARNING) << "backup: the device's app list is not whole (" << answers.size() << " answers)";
  }
  std::set<std::string> listed;
  for (const CFPtr<CFDictionaryRef>& answer : answers) {
    const void* current = ValueOf(answer.get(), "CurrentList");
    if (current == nullptr || Md().CFGetTypeID(current) != kHLXCFArrayTypeID) continue;
    const auto apps = static_cast<CFArrayRef>(current);
    for (CFIndex i = 0; i < Md().CFArrayGetCount(apps); ++i) {
      const void* entry = Md().CFArrayGetValueAtIndex(apps, i);
      if (entry == nullptr || Md().CFGetTypeID(entry) != kHLXCFDictionaryTypeID) continue;
      const auto app = static_cast<CFDictionaryRef>(entry);
      std::string bundleId;
      std::string sinf;
      std::string metadata;
      if (!ReadBundleId(ValueOf(app, "CFBundleIdentifier"), &bundleId) ||
          !DataAsBase64(ValueOf(app, "ApplicationSINF"), &sinf) ||
          !DataAsBase64(ValueOf(app, "iTunesMetadata"), &metadata) || !listed.insert(bundleId).second) {
        continue;
      }
      const std::string key = EscapeXmlText(bundleId);
      applications += "<key>" + key + "</key><dict><key>ApplicationSINF</key><data>" + sinf + "</data>";
      CFPtr<CFDictionaryRef> icon = source->CopyAppIconReply(device, bundleId);
      std::string png;
      if (icon && DataAsBase64(ValueOf(icon.get(), "pngData"), &png)) {
        applications += "<key>PlaceholderIcon</key><data>" + png + "</data>";
      }
      applications += "<key>iTunesMetadata</key><data>" + metadata + "</data></dict>";
      installed += "<string>" + key + "</string>";
    }
  }
  return applications + "</dict>" + installed + "</array>";
}

// Info.plist of a new backup, as XML, from the device's apps, its lockdown values and its AFC files.
std::string MakeInfoPlistXml(HLXDevice& device) {
  rapidjson::Document properties(rapidjson::kObjectType);
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(device.Device(), &error, "com.apple.afc", nullptr, true);
  AddDeviceProperties(device, &properties, properties.GetAllocator());
  auto text = [&](const char* key) -> std::string {
    const rapidjson::Value* value = FindStringMember(properties, key);
    return value != nullptr ? StringOf(*value) : std::string();
  };
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + ApplicationsXml(device);
  auto add = [&](const char* key, const std::string& value) {
    xml += std::string("<key>") + key + "</key><string>" + EscapeXmlText(value) + "</string>";
  };
  const struct {
    const char* plistKey;
    const char* lockdownKey;
  } kFromLockdown[] = {{"Build Version", "BuildVersion"},
                       {"Device Name", "DeviceName"},
                       {"Display Name", "DeviceName"},
                       {"ICCID", "IntegratedCircuitCardIdentity"},
                       {"IMEI", "InternationalMobileEquipmentIdentity"},
                       {"MEID", "MobileEquipmentIdentifier"},
                       {"Phone Number", "PhoneNumber"},
                       {"Product Type", "ProductType"},
                       {"Product Version", "ProductVersion"},
                       {"Serial Number", "SerialNumber"}};
  for (const auto& row : kFromLockdown) {
    if (FindStringMember(properties, row.lockdownKey) != nullptr) add(row.plistKey, text(row.lockdownKey));
  }
  std::srand(static_cast<unsigned>(os::Os().currentTime()));
  std::string guid;
  for (int i = 0; i < 32; ++i) guid += "ABCDEF0123456789"[std::rand() % 16];
  add("GUID", guid);
  std::time_t now = static_cast<std::time_t>(os::Os().currentTime());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char date[32];
  std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%SZ", &utc);
  xml += std::string("<key>Last Backup Date</key><date>") + date + "</date>";
  const std::string udid = text("UniqueDeviceID");
  std::string upper = udid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  add("Target Identifier", udid);
  add("Target Type", "Device");
  add("Unique Identifier", upper);
  if (afc && afc->AfcConnection() != nullptr) {
    std::string books;
    if (AfcDownloadFile(afc->AfcConnection(), "/Books/iBooksData2.plist", nullptr, &books) && !books.empty()) {
      xml += "<key>iBooks Data 2</key><data>" + Base64Encode(books.data(), books.size()) + "</data>";
    }
  }
  xml += "<key>iTunes Files</key><dict>";
  for (const char* name : kITunesFiles) {
    std::string content;
    if (afc && afc->AfcConnection() != nullptr &&
        AfcDownloadFile(afc->AfcConnection(), std::string("/iTunes_Control/iTunes/") + name, nullptr, &content) &&
        !content.empty()) {
      xml += std::string("<key>") + name + "</key><data>" + Base64Encode(content.data(), content.size()) + "</data>";
    }
  }
  xml += "</dict><key>iTunes Settings</key><dict/><key>iTunes Version</key><string>11.2.2.3</string></dict></plist>";
  return xml;
}

// Makes a backup folder that no other backup uses: `stem`, or when that is taken (a backup started
// in the same second, or a folder left by an earlier run), `stem`-1, -2 ... Made by one mkdir, so
// that two runs never share one; `folder` gets it with a trailing '/'.
bool MakeNewFolder(const std::string& stem, std::string* folder) {
  constexpr int kMaxTwins = 100;
  for (int n = 0; n < kMaxTwins; ++n) {
    const std::string candidate = n == 0 ? stem : stem + "-" + std::to_string(n);
    if (::mkdir(candidate.c_str(), 0777) == 0) {
      *folder = candidate + "/";
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool WriteWholeFile(const std::string& path, const BinaryPlist& bytes) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file || std::fwrite(bytes.bytes, 1, bytes.length, file.get()) != bytes.length) return false;
  return std::fclose(file.release()) == 0;
}

// The cancellation of a running session: request 600 marks the task and closes the service so that
// a receive that waits on the device returns at once.
struct SessionTask {
  SessionTask(const FeatureRequest& request, HLXBackupProtocol* protocol)
      : tasks(request.Device()->TaskMap()), taskId(static_cast<int64_t>(request.Packet().id)) {
    registered = static_cast<bool>(tasks.Register(taskId));
    if (registered) tasks.SetCancelHook(taskId, [protocol] { protocol->Abort(); });
  }
  ~SessionTask() {
    if (registered) tasks.Remove(taskId);
  }
  bool IsCancelled() { return !registered || tasks.IsCancelled(taskId); }
  DeviceTaskMap& tasks;
  const int64_t taskId;
  bool registered = false;
};

void SetErrorInfo(FeatureRequest& request, const std::string& text) {
  rapidjson::Document info(rapidjson::kObjectType);
  info.AddMember("error",
                 rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), info.GetAllocator()),
                 info.GetAllocator());
  request.SetFinalInfo(JsonValueToString(info));
}

// Runs a backup or restore session of `protocol` as the request's task: progress replies of stage 1,
// request 600 cancelling it, and the result's text as the final reply's error; the result's code.
int RunSession(FeatureRequest& request, HLXBackupProtocol& protocol, BackupSessionOptions options,
               BackupSessionResult (HLXBackupProtocol::*session)(const BackupSessionOptions&)) {
  SessionTask task(request, &protocol);
  options.progress = [&request](int64_t value) { SendProgressReply(request, value, 1); };
  options.cancelled = [&task] { return task.IsCancelled(); };
  const BackupSessionResult result = (protocol.*session)(options);
  SetErrorInfo(request, result.text);
  return result.code;
}

bool WillEncryptBackups(HLXDevice& device) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceSession> session = GetDeviceSession(device.Device(), &error);
  PlistVariant value;
  // Devices answer a number; some answer a boolean.
  if (!GetLockdownValueAsVariant(device.Device(), "WillEncrypt", kBackupDomain, &value)) return false;
  if (const bool* flag = value.GetBool()) return *flag;
  if (const int64_t* number = value.GetInt64()) return *number != 0;
  if (const double* real = value.GetDouble()) return *real != 0;
  return false;
}

bool IsFindMyAssociated(HLXDevice& device) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceSession> session = GetDeviceSession(device.Device(), &error);
  PlistVariant value;
  return GetLockdownValueAsVariant(device.Device(), "IsAssociated", "com.apple.fmip", &value) &&
         value.GetBool() != nullptr && *value.GetBool();
}

// ---- The backup list ------------------------------------------------------------------------

std::string InfoText(const CIOSDictionary& info, const char* key) {
  const PlistVariant* value = info.Find(key);
  return value != nullptr && value->GetString() != nullptr ? *value->GetString() : "";
}

void AddText(rapidjson::Value* object, const char* name, const std::string& text,
             rapidjson::Document::AllocatorType& allocator) {
  object->AddMember(rapidjson::StringRef(name),
                    rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator),
                    allocator);
}

class BackupLister {
 public:
  explicit BackupLister(const FeatureRequest& request) : m_request(request), m_found(rapidjson::kArrayType) {}

  // The folder itself, and unless it is a finished backup, each of its sub-folders.
  void Scan(const std::string& folder) {
    if (ReadSummary(folder)) return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return;
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir.get())) {
      if (!IsDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
    }
    for (const std::string& name : names) {
      if (IsFolder(folder + name)) ReadSummary(folder + name + "/");
    }
  }

  // The second report of every backup found, with its size.
  void SendSizes() {
    for (auto& summary : m_found.GetArray()) {
      const std::string path = StringOf(summary["Path"]);
      summary.AddMember("Size", rapidjson::Value(static_cast<int64_t>(GetFolderSize(path, 0))), m_found.GetAllocator());
      SendJsonDataReply(m_request, summary, 1);
    }
  }

 private:
  // The top-level dictionary of a property-list file, or null.
  static std::shared_ptr<const CIOSDictionary> LoadDictionary(const std::string& path) {
    PlistVariant document;
    if (!LoadPlistFile(path, &document) || document.GetArray() == nullptr || document.GetArray()->empty()) {
      return nullptr;
    }
    return (*document.GetArray())[0].ShareDictionary();
  }

  // Whether the device finished the backup: its manifest and its status are there, and the status
  // is readable and, when it names the snapshot's state, says "finished".
  static bool IsFinished(const std::string& folder) {
    if (!IsFile(folder + "Manifest.plist") || !IsFile(folder + "Status.plist")) return false;
    const std::shared_ptr<const CIOSDictionary> status = LoadDictionary(folder + "Status.plist");
    const PlistVariant* state = status ? status->Find("SnapshotState") : nullptr;
    return status && (state == nullptr || (state->GetString() != nullptr && *state->GetString() == "finished"));
  }

  // A folder with a readable Info.plist is a backup when the device finished it. One that the
  // device did not finish (a backup killed mid-way, or one still running) is listed as incomplete
  // when its Info.plist names the device, as the one a backup writes first does; it is never
  // removed here: it may be a folder this service did not make. True only for a finished backup:
  // a folder that is none is no backup, so the scan searches its sub-folders, where a finished
  // backup may lie.
  bool ReadSummary(const std::string& folder) {
    if (!IsFile(folder + "Info.plist")) return false;
    const bool finished = IsFinished(folder);
    const std::shared_ptr<const CIOSDictionary> read = LoadDictionary(folder + "Info.plist");
    const bool namesDevice =
        read && (read->Find("Target Identifier") != nullptr || read->Find("Unique Identifier") != nullptr);
    if (!finished && !namesDevice) return false;
    if (!m_seen.insert(folder).second || !read) return finished;
    const CIOSDictionary& info = *read;
    auto& allocator = m_found.GetAllocator();
    rapidjson::Value summary(rapidjson::kObjectType);
    AddText(&summary, "Product Version", InfoText(info, "Product Version"), allocator);
    AddText(&summary, "Build Version", InfoText(info, "Build Version"), allocator);
    AddText(&summary, "Serial Number", InfoText(info, "Serial Number"), allocator);
    AddText(&summary, "Device Name",
            info.Find("Device Name") ? InfoText(info, "Device Name") : InfoText(info, "Display Name"), allocator);
    std::string identifier =
        info.Find("Target Identifier") ? InfoText(info, "Target Identifier") : InfoText(info, "Unique Identifier");
    for (char& c : identifier) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    AddText(&summary, "Unique Identifier", identifier, allocator);
    const std::string date = InfoText(info, "Last Backup Date");
    std::unique_ptr<char, void (*)(void*)> local(UtcTextToLocalText(date.c_str()), std::free);
    AddText(&summary, "Last Backup Date", local ? local.get() : "", allocator);
    AddText(&summary, "Product Type", InfoText(info, "Product Type"), allocator);
    AddText(&summary, "Path", folder, allocator);
    bool encrypted = false;
    (void)HLXBackupProtocol::ReadBackupEncryption(folder, &encrypted);
    summary.AddMember("IsEncrypted", encrypted, allocator);
    summary.AddMember("IsIncomplete", !finished, allocator);
    SendJsonDataReply(m_request, summary, 0);
    m_found.PushBack(summary, allocator);
    return finished;
  }

  const FeatureRequest& m_request;
  std::set<std::string> m_seen;
  rapidjson::Document m_found;
};

}  // namespace

bool HLXModuleiTunes::NeedsDevice(const FeatureRequest& request) const {
  const uint32_t code = request.Command();
  return code != kRequestListBackups && code != kRequestITunesRunning && code != kRequestStopITunes;
}

int HLXModuleiTunes::Run(FeatureRequest& request) {
  switch (request.Command()) {
    case kRequestBackup: return RunFullBackup(request);
    case kRequestRestore: return RunRestore(request);
    case kRequestListBackups: return ListBackups(request);
    case kRequestFindMyAssociation: return IsFindMyAssociated(*request.Device()) ? 0 : 1;
    case kRequestBackupEncryption: return WillEncryptBackups(*request.Device()) ? 0 : 1;
    case kRequestChangeBackupPassword: return ChangeBackupPassword(request);
    case kRequestITunesRunning: return FindItunesProcess() != 0 ? 0 : 1;
    case kRequestStopITunes: return StopItunesProcesses();
    default: return kReplySuccess;
  }
}

int HLXModuleiTunes::RunFullBackup(FeatureRequest& request) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  std::string base;
  const auto path = data.FindMember("path");
  if (path != data.MemberEnd()) {
    // A path of another type is refused: backing up elsewhere than asked would hide the backup.
    if (!path->value.IsString()) {
      SetErrorInfo(request, "ParameterError");
      return kReplyBadData;
    }
    base = StringOf(path->value);
  }
  if (base.empty()) base = GetBackupRootFolder();
  base = WithSeparator(base);
  HLXDevice& device = *request.Device();
  HLXBackupProtocol protocol(request.Device());
  // Claimed before the folder is made: a refused twin makes and deletes nothing.
  if (!protocol.Claim()) {
    SetErrorInfo(request, kBackupBusyText);
    return kReplyBackupBusy;
  }
  std::string folder;
  const bool made = base.size() >= 2 && os::Os().createDirectories(base) &&
                    MakeNewFolder(base + device.Udid() + LocalStartSuffix(), &folder);
  rapidjson::Document announce(rapidjson::kObjectType);
  AddText(&announce, "BackupDir", made ? folder : base + device.Udid() + LocalStartSuffix() + "/",
          announce.GetAllocator());
  SendJsonDataReply(request, announce, 0);
  if (!made) {
    HLX_LOG(ERROR) << "backup: the backup folder cannot be made";
    SetErrorInfo(request, "The backup folder cannot be written.");
    return kReplyTaskError;
  }
  BinaryPlistPtr info = XmlPlistToBinary(MakeInfoPlistXml(device));
  if (!info || !WriteWholeFile(folder + "Info.plist", *info)) {
    // A backup without its Info.plist would not be listed or restorable: it is not kept.
    std::string doomed = folder;
    (void)DeleteDirectoryTree(doomed);
    SetErrorInfo(request, "The backup folder cannot be written.");
    return kReplyTaskError;
  }
  BackupSessionOptions options;
  options.backupFolder = folder;
  return RunSession(request, protocol, std::move(options), &HLXBackupProtocol::Backup);
}

int HLXModuleiTunes::RunRestore(FeatureRequest& request) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  const rapidjson::Value* path = FindStringMember(data, "path");
  const rapidjson::Value* source = FindStringMember(data, "sourceDeviceId");
  const rapidjson::Value* password = FindStringMember(data, "password");
  if (path == nullptr || source == nullptr || password == nullptr) {
    SetErrorInfo(request, "ParameterError");
    return kReplyBadRequest;
  }
  BackupSessionOptions options;
  options.backupFolder = WithSeparator(StringOf(*path));
  options.sourceId = StringOf(*source);
  options.password = StringOf(*password);
  options.openFailureText = "MonitorDeviceOpenAFCServiceFail";
  HLXBackupProtocol protocol(request.Device());
  return RunSession(request, protocol, std::move(options), &HLXBackupProtocol::Restore);
}

int HLXModuleiTunes::ListBackups(FeatureRequest& request) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  if (!data.HasMember("paths") || !data["paths"].IsArray()) return kReplyBadRequest;
  BackupLister lister(request);
  for (const rapidjson::Value& entry : data["paths"].GetArray()) {
    if (!entry.IsString()) continue;
    const std::string folder = StringOf(entry);
    if (folder.empty()) {
      const std::string root = GetBackupRootFolder();
      if (!root.empty()) lister.Scan(WithSeparator(root));
    } else if (IsFolder(folder)) {
      lister.Scan(WithSeparator(folder));
    }
  }
  lister.SendSizes();
  return kReplySuccess;
}

int HLXModuleiTunes::ChangeBackupPassword(FeatureRequest& request) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  const rapidjson::Value* password = FindStringMember(data, "password");
  // The password goes to the tool as one argument of its vector: never through a shell line.
  std::string output;
  int exitCode = -1;
  RunProgramCapture(output, GetAppleMobileBackupPath(),
                    {"--change", password != nullptr ? StringOf(*password) : "", "--target", request.Device()->Udid()},
                    &exitCode);
  return WillEncryptBackups(*request.Device()) ? 0 : 1;
}

}  // namespace hlx
