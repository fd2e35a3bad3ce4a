// "com.apple.mobilebackup2": the device side of the backup service. Device-link framing (a 4-byte
// big-endian length, then a property list); every message is an array whose first element is its
// name, and the device's overall progress travels as a real element of that array.
//
//   on connect                 -> ["DLMessageVersionExchange", 300, 0]
//   DLMessageVersionExchange   -> ["DLMessageDeviceReady"]
//   Hello                      -> ["DLMessageProcessMessage", {"ErrorCode": 0, ...}]
//   Backup                     -> the device drives: GetFreeDiskSpace, CreateDirectory, UploadFiles
//                                 (raw file stream), MoveItems / RemoveItems (Snapshot layout), each
//                                 waiting for the computer's status response; then Disconnect at 100
//   Restore                    -> DownloadFiles of Manifest.plist and Manifest.db, then of the data
//                                 files; once all have arrived they replace the image's (see
//                                 Restore below), then ["DLMessageProcessMessage", {"ErrorCode": 0}]
//                                 at 100; a missing file fails it with 206 and changes nothing
//
// What a backup holds: the image's fs/ (MediaDomain "Media/...") and the data files the other
// services keep (HomeDomain, see kDataFiles), each named in the backup by the SHA-1 of
// "<domain>-<relativePath>", with Manifest.db (Files table), Manifest.plist and Status.plist.
// The image's backup.json scripts the device: "layout" ("3d" [default], "flat" or "snapshot"),
// "failAtPercent" with "errorCode"/"errorText", "disconnectAtPercent", "stallAtPercent", "needBytes" (the space the
// device asks for), "password" (the backup password when lockdown's com.apple.mobile.backup
// WillEncrypt is set; "ChangePassword" sets both), "extraRemoveItems" (paths sent in a RemoveItems
// before the upload), "copyItems" ([from, to] pairs, each sent in a CopyItem after the manifests),
// "removeFiles" (paths sent in a RemoveFiles after those) and "strayMessages" (names of messages
// of no known order, each sent alone before the session's first order: a backup waits for no answer
// to them, a restore for the status of those named "DLMessage..."). A "failAtPercent" of 100 fails
// the session after the manifests. "killRestoreAt" kills the process at a step of a restore's swap
// (a test of what a kill leaves).
//
// Threads: the connection's device thread.
#include <dirent.h>
#include <fcntl.h>
#include <openssl/sha.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "md/md_base.h"
#include "md/md_lockdown_store.h"
#include "md/md_service.h"
#include "md/md_service_message.h"

namespace {

constexpr size_t kMaxComputerMessageBytes = 10u << 20;
constexpr size_t kBlockBytes = 65536;
// Data blocks of the backup's upload stream: large, so that a big file costs few block headers.
constexpr int64_t kUploadBlockBytes = 1 << 20;
// The send buffer asked for a backup's stream: a few blocks in flight, so that the computer's side
// takes them in large pieces instead of waking for every fifth of a block.
constexpr int kUploadSendBufferBytes = 4 << 20;
constexpr uint32_t kMaxNameBytes = 4096;
constexpr size_t kFilesPerBatch = 16;
constexpr uint8_t kStreamData = 12;
constexpr uint8_t kStreamSuccess = 0;

// The image's data files in a backup, beside fs/ (MediaDomain "Media/...") and icons/.
struct DataFile {
  const char* imageName;
  const char* relativePath;  // in HomeDomain
};
constexpr DataFile kDataFiles[] = {
    {"addressbook.plist", "Library/AddressBook/addressbook.plist"},
    {"notes.plist", "Library/Notes/notes.plist"},
    {"bookmarks.plist", "Library/Safari/bookmarks.plist"},
    {"calendars.plist", "Library/Calendar/calendars.plist"},
    {"apps.plist", "Library/MobileInstallation/apps.plist"},
    {"sms.db", "Library/SMS/sms.db"},
    {"sms.db-wal", "Library/SMS/sms.db-wal"},
    {"sms.db-shm", "Library/SMS/sms.db-shm"},
};
constexpr char kIconsPrefix[] = "Library/MobileInstallation/icons";

struct Entry {
  std::string domain;
  std::string relativePath;
  std::string imagePath;  // the file or folder in the image
  bool folder = false;
  int64_t size = 0;
  std::string FileId() const;
};

std::string Sha1Hex(const std::string& text) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : digest) {
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

// A database's "-wal" and "-shm" companions are stored under the database's own name with that
// suffix, so that a computer asking for the database's files finds them by its name.
std::string Entry::FileId() const {
  for (const char* suffix : {"-wal", "-shm"}) {
    const size_t length = std::char_traits<char>::length(suffix);
    if (relativePath.size() > length && relativePath.compare(relativePath.size() - length, length, suffix) == 0) {
      return Sha1Hex(domain + "-" + relativePath.substr(0, relativePath.size() - length)) + suffix;
    }
  }
  return Sha1Hex(domain + "-" + relativePath);
}

struct Script {
  std::string layout = "3d";
  double failAtPercent = -1;
  int64_t errorCode = 104;
  std::string errorText = "The backup failed on the device.";
  double disconnectAtPercent = -1;
  double stallAtPercent = -1;
  int64_t needBytes = -1;
  std::string password;
  std::vector<std::string> extraRemoveItems;
  std::vector<std::pair<std::string, std::string>> copyItems;
  std::vector<std::string> removeFiles;
  std::vector<std::string> strayMessages;
  int64_t killRestoreAt = -1;
};

Script LoadScript(const std::string& imageFolder) {
  Script script;
  std::ifstream in(imageFolder + "/backup.json");
  if (!in) return script;
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document json;
  if (json.Parse(text.str().c_str()).HasParseError() || !json.IsObject()) {
    MDLog("mobilebackup2: backup.json is not a JSON object");
    return script;
  }
  if (json.HasMember("layout") && json["layout"].IsString()) script.layout = json["layout"].GetString();
  if (json.HasMember("failAtPercent") && json["failAtPercent"].IsNumber())
    script.failAtPercent = json["failAtPercent"].GetDouble();
  if (json.HasMember("errorCode") && json["errorCode"].IsInt64()) script.errorCode = json["errorCode"].GetInt64();
  if (json.HasMember("errorText") && json["errorText"].IsString()) script.errorText = json["errorText"].GetString();
  if (json.HasMember("disconnectAtPercent") && json["disconnectAtPercent"].IsNumber()) {
    script.disconnectAtPercent = json["disconnectAtPercent"].GetDouble();
  }
  if (json.HasMember("stallAtPercent") && json["stallAtPercent"].IsNumber()) {
    script.stallAtPercent = json["stallAtPercent"].GetDouble();
  }
  if (json.HasMember("needBytes") && json["needBytes"].IsInt64()) script.needBytes = json["needBytes"].GetInt64();
  if (json.HasMember("password") && json["password"].IsString()) script.password = json["password"].GetString();
  const auto names = [&json](const char* key, std::vector<std::string>* out) {
    if (!json.HasMember(key) || !json[key].IsArray()) return;
    for (const auto& item : json[key].GetArray()) {
      if (item.IsString()) out->emplace_back(item.GetString());
    }
  };
  names("extraRemoveItems", &script.extraRemoveItems);
  names("removeFiles", &script.removeFiles);
  names("strayMessages", &script.strayMessages);
  if (json.HasMember("copyItems") && json["copyItems"].IsArray()) {
    for (const auto& pair : json["copyItems"].GetArray()) {
      if (pair.IsArray() && pair.Size() == 2 && pair[0].IsString() && pair[1].IsString()) {
        script.copyItems.emplace_back(pair[0].GetString(), pair[1].GetString());
      }
    }
  }
  if (json.HasMember("killRestoreAt") && json["killRestoreAt"].IsInt64()) {
    script.killRestoreAt = json["killRestoreAt"].GetInt64();
  }
  return script;
}

// ---- Messages -------------------------------------------------------------------------------

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    // clang-format off
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
    // clang-format on
  }
  return out;
}

std::string XmlString(const std::string& text) { return "<string>" + Xml(text) + "</string>"; }

std::string XmlReal(double value) {
  char text[64];
  std::snprintf(text, sizeof(text), "<real>%.6f</real>", value);
  return text;
}

// Sends an array message whose elements are given as XML.
bool SendMessage(MDDeviceStream* stream, const std::string& elements) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>" + elements + "</array></plist>";
  MDCFPtr list = MDParseMessage(xml);
  std::string body;
  if (!list || !MDSerializeSortedBinary(list.get(), &body)) {
    MDLog("mobilebackup2: a message of its own did not convert");
    return false;
  }
  return MDWriteFrame(stream, MDFrameOrder::kBigEndian, body);
}

// A message from the computer (an array), or null at the end of the stream.
MDCFPtr ReadMessage(MDDeviceStream* stream) {
  std::string body;
  for (;;) {
    if (!MDReadFrame(stream, MDFrameOrder::kBigEndian, kMaxComputerMessageBytes, &body)) return nullptr;
    if (body.empty()) continue;
    MDCFPtr message = MDParseMessage(body);
    if (message && CFGetTypeID(message.get()) == kHLXCFArrayTypeID) return message;
    MDLog("mobilebackup2: a message that is not an array");
  }
}

CFTypeRef ElementAt(CFTypeRef array, CFIndex index) {
  if (array == nullptr || CFGetTypeID(array) != kHLXCFArrayTypeID) return nullptr;
  if (index >= CFArrayGetCount(static_cast<CFArrayRef>(array))) return nullptr;
  return CFArrayGetValueAtIndex(static_cast<CFArrayRef>(array), index);
}

std::string TextAt(CFTypeRef array, CFIndex index) {
  std::string text;
  (void)MDCFStringToUtf8(ElementAt(array, index), &text);
  return text;
}

// Waits for the computer's status response; false when the stream ended.
bool AwaitStatus(MDDeviceStream* stream, int64_t* number = nullptr) {
  MDCFPtr status = ReadMessage(stream);
  if (!status) return false;
  if (number != nullptr) {
    CFTypeRef value = ElementAt(status.get(), 3);
    if (value == nullptr || CFGetTypeID(value) != kHLXCFNumberTypeID ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, number)) {
      *number = -1;
    }
  }
  return true;
}

void Word(uint32_t value, unsigned char* out) {
  out[0] = static_cast<unsigned char>(value >> 24);
  out[1] = static_cast<unsigned char>(value >> 16);
  out[2] = static_cast<unsigned char>(value >> 8);
  out[3] = static_cast<unsigned char>(value);
}

bool WriteWord(MDDeviceStream* stream, uint32_t value) {
  unsigned char word[4];
  Word(value, word);
  return stream->WriteAll(word, sizeof(word));
}

bool WriteName(MDDeviceStream* stream, const std::string& name) {
  return WriteWord(stream, static_cast<uint32_t>(name.size())) && stream->WriteAll(name.data(), name.size());
}

bool ReadWord(MDDeviceStream* stream, uint32_t* value) {
  unsigned char word[4];
  if (!stream->ReadExact(word, sizeof(word))) return false;
  *value = (uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) | (uint32_t{word[2]} << 8) | word[3];
  return true;
}

// ---- What the device holds ------------------------------------------------------------------

bool StatPath(const std::string& path, struct stat* info) { return lstat(path.c_str(), info) == 0; }

void CollectTree(const std::string& folder, const std::string& domain, const std::string& prefix,
                 std::vector<Entry>* out) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return;
  std::vector<std::string> names;
  while (struct dirent* item = readdir(dir.get())) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat info;
    if (!StatPath(path, &info)) continue;
    Entry entry{domain, prefix + "/" + name, path, S_ISDIR(info.st_mode), 0};
    if (S_ISDIR(info.st_mode)) {
      out->push_back(entry);
      CollectTree(path, domain, entry.relativePath, out);
    } else if (S_ISREG(info.st_mode)) {
      entry.size = info.st_size;
      out->push_back(entry);
    }
  }
}

std::vector<Entry> CollectEntries(const std::string& image) {
  std::vector<Entry> entries;
  CollectTree(image + "/fs", "MediaDomain", "Media", &entries);
  CollectTree(image + "/icons", "HomeDomain", kIconsPrefix, &entries);
  for (const DataFile& file : kDataFiles) {
    struct stat info;
    const std::string path = image + "/" + file.imageName;
    if (StatPath(path, &info) && S_ISREG(info.st_mode)) {
      entries.push_back(Entry{"HomeDomain", file.relativePath, path, false, info.st_size});
    }
  }
  return entries;
}

// The image path of a backed-up domain path, or "" for one the device does not keep or that would
// leave the image (a backup is not trusted more than any other input).
std::string ImagePathOf(const std::string& image, const std::string& domain, const std::string& relativePath) {
  if (relativePath.find("..") != std::string::npos || relativePath.find('\\') != std::string::npos) return "";
  auto under = [&](const std::string& prefix, const std::string& folder) -> std::string {
    if (relativePath.compare(0, prefix.size() + 1, prefix + "/") != 0) return "";
    return image + "/" + folder + relativePath.substr(prefix.size());
  };
  if (domain == "MediaDomain") return under("Media", "fs");
  if (domain != "HomeDomain") return "";
  for (const DataFile& file : kDataFiles) {
    if (relativePath == file.relativePath) return image + "/" + file.imageName;
  }
  return under(kIconsPrefix, "icons");
}

CFTypeRef LockdownValue(CFTypeRef lockdown, const char* domain, const char* key) {
  return MDDictionaryValue(MDDictionaryValue(lockdown, domain), key);
}

std::string LockdownText(CFTypeRef lockdown, const char* key) {
  std::string text;
  (void)MDCFStringToUtf8(LockdownValue(lockdown, "", key), &text);
  return text;
}

bool WillEncrypt(CFTypeRef lockdown) {
  CFTypeRef value = LockdownValue(lockdown, "com.apple.mobile.backup", "WillEncrypt");
  if (value == nullptr) return false;
  if (CFGetTypeID(value) == kHLXCFBooleanTypeID) return CFBooleanGetValue(static_cast<CFBooleanRef>(value));
  int64_t number = 0;
  return CFGetTypeID(value) == kHLXCFNumberTypeID &&
         CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number) && number != 0;
}

// The backup's date in whole seconds of the wall clock other processes read: std::time may still show
// the previous second just after it turned, which would date a backup before the request that made it.
std::string IsoNow() {
  timespec wall{};
  clock_gettime(CLOCK_REALTIME, &wall);
  std::time_t now = wall.tv_sec;
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A property list file of its own, binary, from dictionary contents given as XML.
bool WritePlistFile(const std::string& path, const std::string& dictionaryXml) {
  MDCFPtr list = MDParseMessage("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" +
                                dictionaryXml + "</dict></plist>");
  std::string bytes;
  if (!list || !MDSerializeSortedBinary(list.get(), &bytes)) return false;
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n =
        (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < bytes.size()) {
    const uint32_t n =
        (uint32_t(uint8_t(bytes[i])) << 16) | (i + 1 < bytes.size() ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string PasswordKey(const std::string& password) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  const std::string salted = "backup-password:" + password;
  SHA1(reinterpret_cast<const unsigned char*>(salted.data()), salted.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

using SqlitePtr = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

bool WriteManifestDb(const std::string& path, const std::vector<Entry>& entries) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(path.c_str(), &raw);
  SqlitePtr db(raw, sqlite3_close);
  if (opened != SQLITE_OK) return false;
  // A scratch file that is sent and then deleted: no journal and no syncs, and the tables are made
  // in the same transaction as the rows, so that writing it costs no disk flush at all.
  if (sqlite3_exec(db.get(),
                   "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN; "
                   "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
                   "file BLOB); CREATE INDEX FilesDomainIdx ON Files(domain); CREATE INDEX FilesRelativePathIdx ON "
                   "Files(relativePath); CREATE INDEX FilesFlagsIdx ON Files(flags); CREATE TABLE Properties "
                   "(key TEXT PRIMARY KEY, value BLOB);",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_stmt* raw_statement = nullptr;
  if (sqlite3_prepare_v2(db.get(), "INSERT OR REPLACE INTO Files VALUES (?, ?, ?, ?, NULL)", -1, &raw_statement,
                         nullptr) != SQLITE_OK) {
    return false;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> insert(raw_statement, sqlite3_finalize);
  for (const Entry& entry : entries) {
    const std::string id = entry.FileId();
    sqlite3_bind_text(insert.get(), 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 2, entry.domain.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 3, entry.relativePath.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert.get(), 4, entry.folder ? 2 : 1);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return false;
    sqlite3_reset(insert.get());
  }
  insert.reset();
  return sqlite3_exec(db.get(), "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A private scratch folder, deleted with its files when the session ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/md-backup-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) m_path = pattern;
  }
  ~ScratchFolder() {
    if (m_path.empty()) return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(m_path.c_str()), closedir);
    while (dir) {
      struct dirent* item = readdir(dir.get());
      if (item == nullptr) break;
      const std::string name = item->d_name;
      if (name != "." && name != "..") unlink((m_path + "/" + name).c_str());
    }
    rmdir(m_path.c_str());
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// ---- Backup ---------------------------------------------------------------------------------

struct UploadFile {
  std::string deviceName;
  std::string backupPath;  // "<udid>/..."
  std::string source;      // the local file to send
  int64_t size = 0;
};

// One file of the upload stream: its names, its data in blocks handed over from the page cache, and
// the success block. A file that shrinks while it is sent leaves a block short: the stream is then
// hung up rather than left out of step, so the computer sees a broken backup, never a wrong file.
bool SendFileStream(MDDeviceStream* stream, const UploadFile& file) {
  if (!WriteName(stream, file.deviceName) || !WriteName(stream, file.backupPath)) return false;
  MDUniqueFd in(::open(file.source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  const int64_t size = in.IsValid() && fstat(in.Get(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
  for (int64_t offset = 0; offset < size;) {
    const size_t count = static_cast<size_t>(std::min<int64_t>(kUploadBlockBytes, size - offset));
    unsigned char header[5];
    Word(static_cast<uint32_t>(count + 1), header);
    header[4] = kStreamData;
    if (!stream->WriteAll(header, sizeof(header))) return false;
    if (!stream->SendFile(in.Get(), offset, count)) {
      stream->HangUp();
      return false;
    }
    offset += static_cast<int64_t>(count);
  }
  const unsigned char done[5] = {0, 0, 0, 1, kStreamSuccess};
  return stream->WriteAll(done, sizeof(done));
}

// Sends one UploadFiles message with its files; false when the computer is gone.
bool Upload(MDDeviceStream* stream, const std::vector<UploadFile>& files, double progress) {
  if (!SendMessage(stream, XmlString("DLMessageUploadFiles") + "<dict/>" + XmlReal(progress))) return false;
  for (const UploadFile& file : files) {
    if (!SendFileStream(stream, file)) return false;
  }
  return WriteWord(stream, 0) && AwaitStatus(stream);
}

bool Order(MDDeviceStream* stream, const std::string& elements) {
  return SendMessage(stream, elements) && AwaitStatus(stream);
}

// Ends a failed session: the computer closes the connection when it has the message.
void FailSession(MDDeviceStream* stream, int64_t code, const std::string& text, double progress) {
  if (SendMessage(stream, XmlString("DLMessageProcessMessage") + "<dict><key>ErrorCode</key><integer>" +
                              std::to_string(code) + "</integer><key>ErrorDescription</key>" + XmlString(text) +
                              "</dict>" + XmlReal(progress))) {
    while (ReadMessage(stream)) {
    }
  }
}

// The scripted failures: once the progress passes their percent, an error message or a disconnect
// that names exactly that percent. True when the session ended.
bool ScriptedEnd(MDDeviceStream* stream, const Script& script, double progress) {
  if (script.failAtPercent >= 0 && progress >= script.failAtPercent) {
    FailSession(stream, script.errorCode, script.errorText, script.failAtPercent);
    return true;
  }
  if (script.disconnectAtPercent >= 0 && progress >= script.disconnectAtPercent) {
    (void)SendMessage(stream, XmlString("DLMessageDisconnect") + XmlString("___EmptyParameterString___") +
                                  XmlReal(script.disconnectAtPercent));
    return true;
  }
  if (script.stallAtPercent >= 0 && progress >= script.stallAtPercent) {
    // A hung device: one last message with the percent, then silence until the computer hangs up.
    if (SendMessage(stream, XmlString("DLContentsOfDirectory") + XmlString("") + XmlReal(script.stallAtPercent))) {
      while (ReadMessage(stream)) {
      }
    }
    return true;
  }
  return false;
}

// A request of the computer, with what the device brings to it.
struct Request {
  MDServiceContext& context;
  CFTypeRef message;  // the request's dictionary
  const Script& script;
  CFTypeRef lockdown;
};

// What a backup has sent so far.
struct BackupRun {
  explicit BackupRun(const Request& request)
      : stream(request.context.stream),
        script(request.script),
        lockdown(request.lockdown),
        udid(request.context.udid),
        entries(CollectEntries(request.context.imageFolder)),
        snapshot(script.layout == "snapshot"),
        flat(script.layout == "flat"),
        root(snapshot ? udid + "/Snapshot" : udid) {
    for (const Entry& entry : entries) total += entry.size;
  }

  MDDeviceStream* stream;
  const Script& script;
  CFTypeRef lockdown;
  const std::string& udid;
  const std::vector<Entry> entries;
  int64_t total = 0;
  const bool snapshot;
  const bool flat;
  const std::string root;
  std::set<std::string> madeFolders;
  double progress = 0;
  std::optional<ScratchFolder> scratch;  // the manifests, until the session ends
};

// One step of the device's side of a backup: what it sends, and what it waits for. False when the
// session ended.
using BackupStep = bool (*)(BackupRun& run);

// The script's "strayMessages"; with `awaitOrderStatus`, a status after each one named "DLMessage...".
bool SendStrayMessages(MDDeviceStream* stream, const Script& script, bool awaitOrderStatus) {
  for (const std::string& name : script.strayMessages) {
    if (!SendMessage(stream, XmlString(name) + XmlReal(0))) return false;
    if (awaitOrderStatus && name.compare(0, 9, "DLMessage") == 0 && !AwaitStatus(stream)) return false;
  }
  return true;
}

bool SendStrayMessages(BackupRun& run) { return SendStrayMessages(run.stream, run.script, false); }

bool RemoveExtraItems(BackupRun& run) {
  if (run.script.extraRemoveItems.empty()) return true;
  std::string items;
  for (const std::string& item : run.script.extraRemoveItems) items += XmlString(item);
  return Order(run.stream, XmlString("DLMessageRemoveItems") + "<array>" + items + "</array>" + XmlReal(0));
}

bool AskFreeDiskSpace(BackupRun& run) {
  int64_t freeBytes = -1;
  if (!SendMessage(run.stream, XmlString("DLMessageGetFreeDiskSpace") + XmlReal(0)) ||
      !AwaitStatus(run.stream, &freeBytes)) {
    return false;
  }
  const int64_t need = run.script.needBytes >= 0 ? run.script.needBytes : run.total;
  if (freeBytes >= need) return true;
  FailSession(run.stream, 105, "Not enough free space on the computer for the backup.", 0);
  return false;
}

bool CreateSnapshotFolder(BackupRun& run) {
  return !run.snapshot || Order(run.stream, XmlString("DLMessageCreateDirectory") + XmlString(run.root) + XmlReal(0));
}

// The files in batches, each folder made before its first file; the scripted ends may come after
// each batch.
bool UploadEntries(BackupRun& run) {
  std::vector<UploadFile> batch;
  int64_t sent = 0;
  size_t index = 0;
  for (const Entry& entry : run.entries) {
    ++index;
    if (entry.folder) continue;
    const std::string id = entry.FileId();
    std::string folder = run.flat ? run.root : run.root + "/" + id.substr(0, 2);
    if (!run.flat && run.madeFolders.insert(folder).second &&
        !Order(run.stream, XmlString("DLMessageCreateDirectory") + XmlString(folder) + XmlReal(run.progress))) {
      return false;
    }
    batch.push_back(
        UploadFile{entry.domain + "-" + entry.relativePath, folder + "/" + id, entry.imagePath, entry.size});
    sent += entry.size;
    if (batch.size() < kFilesPerBatch && index < run.entries.size()) continue;
    if (!Upload(run.stream, batch, run.progress)) return false;
    batch.clear();
    run.progress = run.total > 0 ? 99.0 * static_cast<double>(sent) / static_cast<double>(run.total) : 99.0;
    if (ScriptedEnd(run.stream, run.script, run.progress)) return false;
  }
  if (!batch.empty() && !Upload(run.stream, batch, run.progress)) return false;
  return !ScriptedEnd(run.stream, run.script, 99.0);
}

// The manifests describe the finished backup; they come last, as a device writes them.
bool UploadManifests(BackupRun& run) {
  const std::string& scratch = run.scratch.emplace().Path();
  if (scratch.empty()) return false;
  const bool encrypted = WillEncrypt(run.lockdown);
  std::string lockdownXml;
  for (const char* key :
       {"BuildVersion", "DeviceName", "ProductType", "ProductVersion", "SerialNumber", "UniqueDeviceID"}) {
    lockdownXml += std::string("<key>") + key + "</key>" + XmlString(LockdownText(run.lockdown, key));
  }
  std::string manifest = "<key>Date</key><date>" + IsoNow() + "</date><key>IsEncrypted</key>" +
                         (encrypted ? "<true/>" : "<false/>") + "<key>Lockdown</key><dict>" + lockdownXml +
                         "</dict><key>SystemDomainsVersion</key><string>24.0</string><key>Version</key>" +
                         XmlString(run.flat ? "9.1" : "10.0") + "<key>WasPasscodeSet</key><false/>";
  if (encrypted) manifest += "<key>BackupKeyBag</key><data>" + Base64(PasswordKey(run.script.password)) + "</data>";
  const std::string status = "<key>BackupState</key><string>new</string><key>Date</key><date>" + IsoNow() +
                             "</date><key>IsFullBackup</key><true/><key>SnapshotState</key><string>finished"
                             "</string><key>UUID</key>" +
                             XmlString(Sha1Hex(run.udid + IsoNow())) + "<key>Version</key><string>3.3</string>";
  if (!WriteManifestDb(scratch + "/Manifest.db", run.entries) ||
      !WritePlistFile(scratch + "/Manifest.plist", manifest) || !WritePlistFile(scratch + "/Status.plist", status)) {
    FailSession(run.stream, 104, "The device could not write its manifest.", run.progress);
    return false;
  }
  std::vector<UploadFile> manifests;
  for (const char* name : {"Manifest.db", "Manifest.plist", "Status.plist"}) {
    manifests.push_back(UploadFile{name, run.root + "/" + name, scratch + "/" + name, 0});
  }
  return Upload(run.stream, manifests, 100.0);
}

bool CopyItems(BackupRun& run) {
  for (const auto& [from, to] : run.script.copyItems) {
    if (!Order(run.stream, XmlString("DLMessageCopyItem") + XmlString(from) + XmlString(to) + XmlReal(100))) {
      return false;
    }
  }
  return true;
}

bool RemoveFiles(BackupRun& run) {
  if (run.script.removeFiles.empty()) return true;
  std::string items;
  for (const std::string& item : run.script.removeFiles) items += XmlString(item);
  return Order(run.stream, XmlString("DLMessageRemoveFiles") + "<array>" + items + "</array>" + XmlReal(100));
}

bool EndAfterManifests(BackupRun& run) { return !ScriptedEnd(run.stream, run.script, 100.0); }

// The Snapshot layout: the manifests and folders move up into the backup, then the snapshot goes.
bool MoveSnapshot(BackupRun& run) {
  if (!run.snapshot) return true;
  std::string moves;
  for (const char* name : {"Manifest.db", "Manifest.plist", "Status.plist"}) {
    moves += "<key>" + Xml(run.root + "/" + name) + "</key>" + XmlString(run.udid + "/" + name);
  }
  for (const std::string& folder : run.madeFolders) {
    moves += "<key>" + Xml(folder) + "</key>" + XmlString(run.udid + folder.substr(run.root.size()));
  }
  return Order(run.stream, XmlString("DLMessageMoveItems") + "<dict>" + moves + "</dict>" + XmlReal(100)) &&
         Order(run.stream,
               XmlString("DLMessageRemoveItems") + "<array>" + XmlString(run.root) + "</array>" + XmlReal(100));
}

bool Disconnect(BackupRun& run) {
  (void)SendMessage(run.stream, XmlString("DLMessageDisconnect") + XmlString("___EmptyParameterString___"));
  return true;
}

// clang-format off
constexpr BackupStep kBackupSteps[] = {
    SendStrayMessages, RemoveExtraItems, AskFreeDiskSpace,  CreateSnapshotFolder, UploadEntries,
    UploadManifests,   CopyItems,        RemoveFiles,       EndAfterManifests,    MoveSnapshot,
    Disconnect,
};
// clang-format on

void ServeBackup(const Request& request) {
  request.context.stream->WidenSendBuffer(kUploadSendBufferBytes);
  BackupRun run(request);
  for (BackupStep step : kBackupSteps) {
    if (!step(run)) return;
  }
}

// ---- Restore --------------------------------------------------------------------------------
//
// A restore replaces the device's data only once every file of the backup has arrived, and a kill
// at any moment leaves the old data or the new, whole. The new tree is built beside the old one in
// the image, then swapped in by renames, each step marked by the name of the staging folder:
//   .restore-new    being received and built; a kill drops it (the old data stays);
//   .restore-ready  complete: the old items move into .restore-old ...
//   .restore-in     ... all of them are out: the new items move in; then both folders go.
// FinishRestoreSwap redoes whatever a kill left of the last two steps, at the next arrival of the
// device and before the next backup session.

constexpr char kRestoreNew[] = ".restore-new";
constexpr char kRestoreReady[] = ".restore-ready";
constexpr char kRestoreIn[] = ".restore-in";
constexpr char kRestoreOld[] = ".restore-old";
// Inside kRestoreNew: the files as they arrive, by the last component of their backup path.
constexpr char kReceivedFolder[] = "received";
constexpr uint32_t kRestoreFileMode = 0755;

bool RemoveTree(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return true;
  if (!S_ISDIR(info.st_mode)) return unlink(path.c_str()) == 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
  std::vector<std::string> names;
  while (dir) {
    struct dirent* item = readdir(dir.get());
    if (item == nullptr) break;
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  dir.reset();
  bool ok = true;
  for (const std::string& name : names) ok = RemoveTree(path + "/" + name) && ok;
  return rmdir(path.c_str()) == 0 && ok;
}

void MakeFolders(const std::string& path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), kRestoreFileMode);
  }
  mkdir(path.c_str(), kRestoreFileMode);
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// What a restore replaces: the top-level names of the image that hold backed-up data.
std::vector<std::string> RestoredItems() {
  std::vector<std::string> items = {"fs", "icons"};
  for (const DataFile& file : kDataFiles) items.emplace_back(file.imageName);
  return items;
}

// The test switch "killRestoreAt" of backup.json: the device process dies as by a kill right before
// the step with this number (1 the commit of a complete staging, 2 on each rename of the swap).
class RestoreSteps {
 public:
  explicit RestoreSteps(int64_t killAt) : m_killAt(killAt) {}
  void Next() {
    if (++m_step == m_killAt) {
      MDLog("mobilebackup2: killed at restore step %lld as the image asks", static_cast<long long>(m_step));
      raise(SIGKILL);
    }
  }

 private:
  const int64_t m_killAt;
  int64_t m_step = 0;
};

void FinishRestoreSwap(const std::string& image, RestoreSteps* steps) {
  const auto at = [&](const char* name) { return image + "/" + name; };
  RemoveTree(at(kRestoreNew));
  const std::vector<std::string> items = RestoredItems();
  if (Exists(at(kRestoreReady))) {
    MakeFolders(at(kRestoreOld));
    for (const std::string& item : items) {
      if (!Exists(image + "/" + item)) continue;
      if (steps != nullptr) steps->Next();
      if (rename((image + "/" + item).c_str(), (at(kRestoreOld) + "/" + item).c_str()) != 0) {
        MDLog("mobilebackup2: an old item did not move out (errno %d)", errno);
        return;  // tried again at the next arrival; the new data waits complete
      }
    }
    if (steps != nullptr) steps->Next();
    if (rename(at(kRestoreReady).c_str(), at(kRestoreIn).c_str()) != 0) return;
  }
  if (Exists(at(kRestoreIn))) {
    for (const std::string& item : items) {
      const std::string staged = at(kRestoreIn) + "/" + item;
      if (!Exists(staged)) continue;
      if (steps != nullptr) steps->Next();
      if (rename(staged.c_str(), (image + "/" + item).c_str()) != 0) {
        MDLog("mobilebackup2: a new item did not move in (errno %d)", errno);
        return;
      }
    }
    RemoveTree(at(kRestoreIn));
  }
  RemoveTree(at(kRestoreOld));
}

// Receives the computer's file stream after a DownloadFiles: each file lands in `folder` under the
// last component of its path and, when it came whole, its name goes into `arrived`. False when the
// stream broke.
bool ReceiveFiles(MDDeviceStream* stream, const std::string& folder, std::set<std::string>* arrived) {
  for (;;) {
    uint32_t length = 0;
    if (!ReadWord(stream, &length)) return false;
    if (length == 0) return true;
    if (length > kMaxNameBytes) return false;
    std::string path(length, '\0');
    if (!stream->ReadExact(&path[0], length)) return false;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const bool usable = !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos;
    const std::string target = folder + "/" + name;
    std::ofstream out;
    if (usable) out.open(target, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(kBlockBytes);
    for (;;) {
      uint32_t blockLength = 0;
      unsigned char code = 0;
      if (!ReadWord(stream, &blockLength) || blockLength == 0 || !stream->ReadExact(&code, 1)) return false;
      uint64_t left = blockLength - 1;
      while (left > 0) {
        const size_t piece = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
        if (!stream->ReadExact(buffer.data(), piece)) return false;
        if (code == kStreamData && out) out.write(buffer.data(), static_cast<std::streamsize>(piece));
        left -= piece;
      }
      if (code == kStreamData) continue;
      out.close();
      if (code == kStreamSuccess && usable && out) {
        arrived->insert(name);
      } else if (usable) {
        arrived->erase(name);
        unlink(target.c_str());
      }
      break;
    }
  }
}

bool Download(MDDeviceStream* stream, const std::vector<std::string>& paths, double progress, const std::string& folder,
              std::set<std::string>* arrived) {
  std::string list;
  for (const std::string& path : paths) list += XmlString(path);
  return SendMessage(stream, XmlString("DLMessageDownloadFiles") + "<array>" + list + "</array>" + XmlReal(progress)) &&
         ReceiveFiles(stream, folder, arrived) && AwaitStatus(stream);
}

struct ManifestRow {
  std::string id, domain, path;
  int64_t flags = 0;
};

// The rows of a backup's Manifest.db; false when it is unreadable or a row has a field of a wrong
// type (the device restores all or nothing).
bool ReadManifestRows(const std::string& path, std::vector<ManifestRow>* rows) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  SqlitePtr db(raw, sqlite3_close);
  sqlite3_stmt* select = nullptr;
  if (opened != SQLITE_OK || sqlite3_prepare_v2(db.get(),
                                                "SELECT fileID, domain, relativePath, flags FROM Files "
                                                "ORDER BY rowid",
                                                -1, &select, nullptr) != SQLITE_OK) {
    return false;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(select, sqlite3_finalize);
  int step;
  while ((step = sqlite3_step(select)) == SQLITE_ROW) {
    for (int column = 0; column < 3; ++column) {
      if (sqlite3_column_type(select, column) != SQLITE_TEXT) return false;
    }
    if (sqlite3_column_type(select, 3) != SQLITE_INTEGER) return false;
    auto text = [&](int column) {
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, column)),
                         static_cast<size_t>(sqlite3_column_bytes(select, column)));
    };
    rows->push_back(ManifestRow{text(0), text(1), text(2), sqlite3_column_int64(select, 3)});
  }
  return step == SQLITE_DONE;
}

// A file id the device asks for: 40 hexadecimal digits, with "-wal" or "-shm" for a database's companions.
bool IsFileId(const std::string& id) {
  const std::string suffix = id.size() > 40 ? id.substr(40) : "";
  return id.size() >= 40 && (suffix.empty() || suffix == "-wal" || suffix == "-shm") &&
         id.find_first_not_of("0123456789abcdef") >= 40;
}

// What a restore has received so far.
struct RestoreRun {
  explicit RestoreRun(const Request& request)
      : stream(request.context.stream),
        image(request.context.imageFolder),
        script(request.script),
        staging(image + "/" + kRestoreNew),
        received(staging + "/" + kReceivedFolder) {
    (void)MDDictionaryText(request.message, "SourceIdentifier", &source);
    hasPassword = MDDictionaryText(MDDictionaryValue(request.message, "Options"), "Password", &password);
  }
  // The staging goes with the session unless it was committed.
  ~RestoreRun() { RemoveTree(staging); }
  RestoreRun(const RestoreRun&) = delete;
  RestoreRun& operator=(const RestoreRun&) = delete;

  MDDeviceStream* stream;
  const std::string& image;
  const Script& script;
  const std::string staging;
  const std::string received;
  std::string source;
  std::string password;
  bool hasPassword = false;
  std::set<std::string> arrived;
  MDCFPtr manifest;
  bool flat = false;
  std::vector<ManifestRow> rows;
};

// One step of the device's side of a restore; false when the session ended.
using RestoreStep = bool (*)(RestoreRun& run);

bool SendStrayMessages(RestoreRun& run) { return SendStrayMessages(run.stream, run.script, true); }

bool StartStaging(RestoreRun& run) {
  RemoveTree(run.staging);
  MakeFolders(run.received);
  if (Exists(run.received) && !run.source.empty()) return true;
  FailSession(run.stream, 205, "The restore cannot start.", 0);
  return false;
}

bool DownloadManifests(RestoreRun& run) {
  if (!Download(run.stream, {run.source + "/Manifest.plist", run.source + "/Manifest.db"}, 0, run.received,
                &run.arrived)) {
    return false;
  }
  run.manifest = MDLoadImagePlist(run.received, "Manifest.plist");
  if (run.manifest) return true;
  FailSession(run.stream, 205, "The backup has no manifest.", 0);
  return false;
}

bool CheckPassword(RestoreRun& run) {
  CFTypeRef encrypted = MDDictionaryValue(run.manifest.get(), "IsEncrypted");
  if (encrypted == nullptr || CFGetTypeID(encrypted) != kHLXCFBooleanTypeID ||
      !CFBooleanGetValue(static_cast<CFBooleanRef>(encrypted))) {
    return true;
  }
  CFTypeRef bag = MDDictionaryValue(run.manifest.get(), "BackupKeyBag");
  const std::string key = PasswordKey(run.password);
  if (run.hasPassword && bag != nullptr && CFGetTypeID(bag) == kHLXCFDataTypeID &&
      static_cast<size_t>(CFDataGetLength(static_cast<CFDataRef>(bag))) == key.size() &&
      key.compare(0, key.size(), reinterpret_cast<const char*>(CFDataGetBytePtr(static_cast<CFDataRef>(bag))),
                  key.size()) == 0) {
    return true;
  }
  FailSession(run.stream, 207, "The backup password is not correct.", 0);
  return false;
}

bool ReadManifest(RestoreRun& run) {
  std::string version;
  (void)MDDictionaryText(run.manifest.get(), "Version", &version);
  run.flat = version.compare(0, 2, "9.") == 0;
  if (ReadManifestRows(run.received + "/Manifest.db", &run.rows)) return true;
  FailSession(run.stream, 205, "The backup's Manifest.db is unreadable.", 0);
  return false;
}

bool DownloadDataFiles(RestoreRun& run) {
  std::vector<std::string> wanted;
  size_t asked = 0;
  for (const ManifestRow& row : run.rows) {
    if (row.flags != 1 || !IsFileId(row.id)) continue;
    wanted.push_back(run.source + "/" + (run.flat ? row.id : row.id.substr(0, 2) + "/" + row.id));
    if (wanted.size() == kFilesPerBatch) {
      asked += wanted.size();
      const double progress = 90.0 * static_cast<double>(asked) / static_cast<double>(run.rows.size());
      if (!Download(run.stream, wanted, progress, run.received, &run.arrived)) return false;
      wanted.clear();
    }
  }
  return wanted.empty() || Download(run.stream, wanted, 90.0, run.received, &run.arrived);
}

// The new tree, beside the old one; every file that the device keeps must have come.
bool BuildStaging(RestoreRun& run) {
  MakeFolders(run.staging + "/fs");
  for (const ManifestRow& row : run.rows) {
    const std::string target = ImagePathOf(run.staging, row.domain, row.path);
    if (target.empty() || (row.flags != 1 && row.flags != 2)) continue;
    if (row.flags == 2) {
      MakeFolders(target);
      continue;
    }
    MakeFolders(target.substr(0, target.rfind('/')));
    if (run.arrived.count(row.id) == 0 || rename((run.received + "/" + row.id).c_str(), target.c_str()) != 0) {
      MDLog("mobilebackup2: a file of the backup did not arrive; the device keeps its data");
      FailSession(run.stream, 206, "The backup's files did not all arrive.", 90);
      return false;
    }
  }
  return true;
}

bool CommitRestore(RestoreRun& run) {
  RemoveTree(run.received);
  RestoreSteps steps(run.script.killRestoreAt);
  steps.Next();
  if (rename(run.staging.c_str(), (run.image + "/" + kRestoreReady).c_str()) != 0) {
    FailSession(run.stream, 205, "The restore cannot be stored.", 90);
    return false;
  }
  FinishRestoreSwap(run.image, &steps);
  FailSession(run.stream, 0, "", 100);
  return true;
}

// clang-format off
constexpr RestoreStep kRestoreSteps[] = {
    StartStaging, SendStrayMessages, DownloadManifests, CheckPassword, ReadManifest, DownloadDataFiles,
    BuildStaging, CommitRestore,
};
// clang-format on

void ServeRestore(const Request& request) {
  RestoreRun run(request);
  for (RestoreStep step : kRestoreSteps) {
    if (!step(run)) return;
  }
}

// A new backup password: kept in backup.json (its other keys stay), and lockdown's WillEncrypt
// follows whether there is one.
void ServeChangePassword(const Request& request) {
  MDServiceContext& context = request.context;
  std::string password;
  (void)MDDictionaryText(request.message, "NewPassword", &password);
  const std::string path = context.imageFolder + "/backup.json";
  rapidjson::Document json;
  {
    std::ifstream in(path);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (json.Parse(text.str().c_str()).HasParseError() || !json.IsObject()) json.SetObject();
  }
  json.RemoveMember("password");
  json.AddMember("password", rapidjson::Value(password.c_str(), json.GetAllocator()), json.GetAllocator());
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  json.Accept(writer);
  std::ofstream out(path, std::ios::trunc);
  out << buffer.GetString();
  MDLockdownStore store(context.imageFolder);
  const std::string domain = "com.apple.mobile.backup";
  MDCFPtr flag = MDParseMessage(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">") +
                                (password.empty() ? "<false/>" : "<true/>") + "</plist>");
  const bool stored = static_cast<bool>(out) && flag && store.SetValue(&domain, "WillEncrypt", flag.get()) == 0;
  FailSession(context.stream, stored ? 0 : 1, stored ? "" : "The password could not be stored.", 100);
}

struct RequestRoute {
  const char* name;
  void (*serve)(const Request& request);
};
// A request of another name fails the session.
constexpr RequestRoute kRequestRoutes[] = {
    {"Backup", ServeBackup},
    {"Restore", ServeRestore},
    {"ChangePassword", ServeChangePassword},
};

void ServeBackupService(MDServiceContext& context) {
  MDDeviceStream* stream = context.stream;
  FinishRestoreSwap(context.imageFolder, nullptr);
  if (!SendMessage(stream, XmlString("DLMessageVersionExchange") + "<integer>300</integer><integer>0</integer>"))
    return;
  MDCFPtr message = ReadMessage(stream);
  if (!message || TextAt(message.get(), 0) != "DLMessageVersionExchange") return;
  if (!SendMessage(stream, XmlString("DLMessageDeviceReady"))) return;
  message = ReadMessage(stream);
  if (!message) return;
  const std::string hello =
      "<dict><key>ErrorCode</key><integer>0</integer><key>MessageName</key><string>Response"
      "</string><key>ProtocolVersion</key><real>2.1</real></dict>";
  if (!SendMessage(stream, XmlString("DLMessageProcessMessage") + hello)) return;
  message = ReadMessage(stream);
  if (!message) return;
  CFTypeRef request = ElementAt(message.get(), 1);
  std::string name;
  (void)MDDictionaryText(request, "MessageName", &name);
  const Script script = LoadScript(context.imageFolder);
  MDCFPtr lockdown = MDLoadImagePlist(context.imageFolder, "lockdown.plist");
  for (const RequestRoute& route : kRequestRoutes) {
    if (name == route.name) {
      route.serve(Request{context, request, script, lockdown.get()});
      return;
    }
  }
  FailSession(stream, 1, "Unknown request.", 0);
}

}  // namespace

void MDFinishInterruptedRestore(const std::string& imageFolder) { FinishRestoreSwap(imageFolder, nullptr); }

void MDRegisterMobileBackup2Service() { MDRegisterService("com.apple.mobilebackup2", ServeBackupService); }
