// The backup service conversation (see the header). Messages go out as XML templates converted to
// binary property lists; device messages are read into the value tree, where a top-level real (the
// overall progress) is a kDouble element of the message array. File data passes through the
// thread's transfer buffer (hlx_afc.h) in pieces of at most kStreamPieceBytes, written unbuffered:
// a large file costs a few system calls per MiB, and the memory used does not grow with the files.
// On an unencrypted connection the data of uploaded files skips that buffer: it is spliced from the
// connection's socket into the file through a pipe (SocketSplice), so it is copied once, in the
// kernel, as a file copy would be.
#include "utility/hlx_backup_protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_sync_session.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

constexpr char kBackupService[] = "com.apple.mobilebackup2";
// Names and paths in the file streams are short; a longer length word is a broken stream.
constexpr uint32_t kMaxStreamNameBytes = 4096;
constexpr size_t kFileBlockBytes = 32768;
// The most file data read or sent in one piece (within kAfcTransferBufferBytes, with room for a
// block header).
constexpr size_t kStreamPieceBytes = 1 << 20;
static_assert(kStreamPieceBytes + 5 <= kAfcTransferBufferBytes, "stream pieces fit the transfer buffer");
constexpr int32_t kCodeDeviceGone = kReplyBackupDeviceGone;
constexpr int32_t kCodeNoWantedFile = kReplyBackupNoWantedFile;
constexpr char kIncompleteText[] = "BackupIncompleteError";

// The devices (by UDID) whose backup service a session holds: the device serves one session at a
// time, and two backups of one device would share what they write.
struct RunningSessions {
  std::mutex mutex;
  // guards:
  std::set<std::string> udids;
};

RunningSessions& Running() {
  static RunningSessions* running = new RunningSessions;  // never destroyed: sessions may end at exit
  return *running;
}

// One byte after each block length of the raw file streams.
enum FileStreamCode : uint8_t { kStreamSuccess = 0, kStreamLocalError = 6, kStreamRemoteError = 11, kStreamData = 12 };

#define HLX_PLIST_HEAD "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
#define HLX_DTD                                                      \
  "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" " \
  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
#define HLX_DTD_A \
  "<!DOCTYPEplist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
#define HLX_DTD_B                                                     \
  "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0// EN\" " \
  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"

constexpr char kOptionsTemplate[] =
    HLX_PLIST_HEAD HLX_DTD_A "<plist version=\"1.0\"><dict><key>UnlockEscrowBag</key><true/></dict></plist>";
constexpr char kVersionOkTemplate[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageVersionExchange</string><string>DLVersionsOk</string>"
    "<integer>300</integer></array></plist>";
constexpr char kHelloTemplate[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict><key>MessageName</key>"
    "<string>Hello</string><key>SupportedProtocolVersions</key><array><integer>2</integer>"
    "<real>2.100000000000000</real></array></dict></array></plist>";
constexpr char kBackupTemplateHead[] = HLX_PLIST_HEAD HLX_DTD_A
    "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict><key>MessageName</key>"
    "<string>Backup</string><key>TargetIdentifier</key><string>";
constexpr char kBackupTemplateTail[] = "</string></dict></array></plist>";
constexpr char kStatusMultiHead[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>-13</integer>"
    "<string>Multi status</string><dict><key>";
constexpr char kStatusMultiTail[] =
    "</key><dict><key>DLFileErrorCode</key><integer>-6</integer><key>DLFileErrorString</key>"
    "<string>No such file or directory</string></dict></dict></array></plist>";
#define HLX_STATUS_DICT_BODY                                                                   \
  "<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>0</integer>" \
  "<string>___EmptyParameterString___</string><dict></dict></array></plist>"
constexpr char kStatusDictTemplate[] = HLX_PLIST_HEAD HLX_DTD HLX_STATUS_DICT_BODY;
constexpr char kStatusDictTemplateA[] = HLX_PLIST_HEAD HLX_DTD_A HLX_STATUS_DICT_BODY;
constexpr char kStatusDictTemplateB[] = HLX_PLIST_HEAD HLX_DTD_B HLX_STATUS_DICT_BODY;
constexpr char kStatusFreeSpaceHead[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>0</integer>"
    "<string>___EmptyParameterString___</string><integer>";
constexpr char kStatusFreeSpaceTail[] = "</integer></array></plist>";
constexpr char kStatusTwoStringsTemplate[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>0</integer>"
    "<string>___EmptyParameterString___</string><string>___EmptyParameterString___</string></array></plist>";
// The templates' byte counts are fixed: a stray character would change every message sent.
static_assert(sizeof(kOptionsTemplate) - 1 == 223, "options template");
static_assert(sizeof(kVersionOkTemplate) - 1 == 285, "version template");
static_assert(sizeof(kHelloTemplate) - 1 == 391, "hello template");
static_assert(sizeof(kStatusDictTemplate) - 1 == 309 && sizeof(kStatusDictTemplateA) - 1 == 308 &&
                  sizeof(kStatusDictTemplateB) - 1 == 310,
              "status templates");
static_assert(sizeof(kStatusTwoStringsTemplate) - 1 == 339, "two-strings status template");
// A device order that names a path outside the backup folder is refused with this status.
constexpr char kStatusRefusedTemplate[] = HLX_PLIST_HEAD HLX_DTD
    "<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>-1</integer>"
    "<string>Path outside the backup folder</string><dict></dict></array></plist>";

bool SendXml(AMDServiceConnectionRef connection, const std::string& xml) {
  BinaryPlistPtr message = XmlPlistToBinary(xml);
  return message && SendServiceMessage(connection, *message);
}

void PutBigEndian32(uint32_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

uint32_t GetBigEndian32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | uint32_t{in[3]};
}

bool SendWord(AMDServiceConnectionRef connection, uint32_t value) {
  uint8_t word[4];
  PutBigEndian32(value, word);
  return SendServiceBytes(connection, word, sizeof(word));
}

// One device message: its body, received whole.
void CaptureMessage(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  static_cast<std::string*>(context)->assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  *more = false;
  *result = true;
}

bool ReceiveMessage(AMDServiceConnectionRef connection, PlistVariant::Array* message) {
  std::string body;
  if (!ReceiveServiceMessages(connection, CaptureMessage, &body)) return false;
  PlistVariant document;
  if (!ParsePlistToVariant(reinterpret_cast<const uint8_t*>(body.data()), body.size(), &document)) return false;
  const PlistVariant::Array* top = document.GetArray();
  if (top == nullptr || top->empty() || top->front().GetArray() == nullptr) return false;
  *message = *top->front().GetArray();
  return true;
}

// The device names its progress as a real element of the message array.
bool FindProgress(const PlistVariant::Array& message, double* progress) {
  for (const PlistVariant& element : message) {
    if (const double* value = element.GetDouble()) {
      *progress = *value;
      return true;
    }
  }
  return false;
}

// The first dictionary of a ProcessMessage with an "ErrorCode": its code and description.
bool FindDeviceError(const PlistVariant::Array& message, int64_t* code, std::string* text) {
  for (size_t i = 1; i < message.size(); ++i) {
    const CIOSDictionary* dictionary = message[i].GetDictionary();
    if (dictionary == nullptr) continue;
    const PlistVariant* value = dictionary->Find("ErrorCode");
    if (value == nullptr) continue;
    int64_t number = 0;
    if (const int64_t* integer = value->GetInt64()) {
      number = *integer;
    } else if (const bool* flag = value->GetBool()) {
      number = *flag ? 1 : 0;
    } else {
      continue;
    }
    *code = number;
    const PlistVariant* description = dictionary->Find("ErrorDescription");
    *text = description != nullptr && description->GetString() != nullptr ? *description->GetString() : "";
    return true;
  }
  return false;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Deletes a file or a whole folder; false when something stayed.
bool RemovePath(const std::string& path) {
  if (IsDirectory(path)) {
    std::string folder = path;
    return DeleteDirectoryTree(folder);
  }
  return std::remove(path.c_str()) == 0 || errno == ENOENT;
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(from.c_str(), "rb"), std::fclose);
  if (!in) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(to.c_str(), "wb"), std::fclose);
  if (!out) return false;
  char buffer[kFileBlockBytes];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), in.get())) > 0) {
    if (std::fwrite(buffer, 1, count, out.get()) != count) return false;
  }
  return !std::ferror(in.get()) && std::fclose(out.release()) == 0;
}

// Why a file stream ended.
enum class StreamEnd { kDone, kDeviceGone, kWriteFailed, kWantedFile };

// A device silent this long in the middle of a file's data counts as gone.
constexpr int kSpliceSilenceMs = 60 * 1000;
// The pipe between socket and file; one splice moves at most this much.
constexpr int kSplicePipeBytes = 1 << 20;

// Moves file data from an unencrypted service connection's socket into a file inside the kernel,
// through a pipe: the bytes never enter this process. The device library reads such a connection
// straight from its socket and keeps no bytes back, so its receive calls and these splices take
// turns on one stream. `socket` is the session's own duplicate (see HLXBackupProtocol::Abort).
class SocketSplice {
 public:
  enum class Result { kDone, kStreamEnded, kWriteFailed, kUnsupported };

  explicit SocketSplice(int socket) : m_socket(socket) {
    int ends[2];
    if (m_socket < 0 || ::pipe2(ends, O_CLOEXEC) != 0) return;
    m_pipeOut = ends[0];
    m_pipeIn = ends[1];
    // A larger pipe means fewer splices per block; the default size works too.
    (void)::fcntl(m_pipeIn, F_SETPIPE_SZ, kSplicePipeBytes);
  }
  ~SocketSplice() {
    if (m_pipeIn >= 0) ::close(m_pipeIn);
    if (m_pipeOut >= 0) ::close(m_pipeOut);
  }
  SocketSplice(const SocketSplice&) = delete;
  SocketSplice& operator=(const SocketSplice&) = delete;

  bool Usable() const { return m_pipeIn >= 0 && !m_unsupported; }

  // Exactly `count` bytes of the stream appended to `fileFd`. kUnsupported (nothing moved) when
  // the socket cannot be spliced: the caller receives the bytes instead, from then on.
  Result ToFile(int fileFd, uint64_t count) {
    bool moved = false;
    while (count > 0) {
      struct pollfd ready = {m_socket, POLLIN, 0};
      const int polled = ::poll(&ready, 1, kSpliceSilenceMs);
      if (polled < 0 && errno == EINTR) continue;
      if (polled <= 0) {
        HLX_LOG(WARNING) << "backup stream silent or broken in mid-file";
        return Result::kStreamEnded;
      }
      const size_t wanted = count < kSplicePipeBytes ? static_cast<size_t>(count) : kSplicePipeBytes;
      ssize_t got = ::splice(m_socket, nullptr, m_pipeIn, nullptr, wanted, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got < 0 && !moved && (errno == EINVAL || errno == ENOSYS)) {
        m_unsupported = true;
        return Result::kUnsupported;
      }
      if (got <= 0) return Result::kStreamEnded;
      moved = true;
      count -= static_cast<uint64_t>(got);
      while (got > 0) {
        const ssize_t put = ::splice(m_pipeOut, nullptr, fileFd, nullptr, static_cast<size_t>(got), SPLICE_F_MOVE);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
          HLX_LOG(ERROR) << "backup file write failed: errno " << (put < 0 ? errno : EIO);
          return Result::kWriteFailed;
        }
        got -= put;
      }
    }
    return Result::kDone;
  }

 private:
  const int m_socket;
  int m_pipeIn = -1;
  int m_pipeOut = -1;
  bool m_unsupported = false;
};

// Receives and drops `count` bytes of the stream.
bool Discard(AMDServiceConnectionRef connection, uint64_t count) {
  uint8_t buffer[kFileBlockBytes];
  while (count > 0) {
    const size_t piece = count < sizeof(buffer) ? static_cast<size_t>(count) : sizeof(buffer);
    if (!ReceiveServiceBytes(connection, buffer, piece)) return false;
    count -= piece;
  }
  return true;
}

// A length-prefixed name of the upload stream: 1 read, 0 the stream's end marker, -1 the
// connection closed or the length is beyond any name.
int ReadStreamName(AMDServiceConnectionRef connection, std::string* name) {
  uint8_t word[4];
  if (!ReceiveServiceBytes(connection, word, sizeof(word))) return -1;
  const uint32_t length = GetBigEndian32(word);
  if (length == 0) return 0;
  if (length > kMaxStreamNameBytes) {
    HLX_LOG(WARNING) << "backup stream name of " << length << " bytes refused";
    return -1;
  }
  name->assign(length, '\0');
  return ReceiveServiceBytes(connection, reinterpret_cast<uint8_t*>(&(*name)[0]), length) ? 1 : -1;
}

// The longest wanted name the path holds (a file and its "-wal" companion are told apart), or null.
const std::string* WantedNameOf(const std::vector<std::string>& wantedNames, const std::string& path) {
  const std::string* found = nullptr;
  for (const std::string& name : wantedNames) {
    if (path.find(name) != std::string::npos && (found == nullptr || name.size() > found->size())) found = &name;
  }
  return found;
}

// The device's upload stream: per file its name, its backup path and data blocks, ended by a
// success or error block; the stream ends with a zero length word. A partial backup adds the wanted
// names written to `arrived`; kWantedFile once all of them have (a database that comes without its
// companions in this batch still waits for them).
StreamEnd ReceiveUploadedFiles(AMDServiceConnectionRef connection, SocketSplice* socketSplice, const std::string& udid,
                               const BackupSessionOptions& options, std::set<std::string>* arrived,
                               std::string* wantedPath) {
  const bool partial = !options.wantedNames.empty();
  const auto streamEnd = [&] {
    return partial && arrived->size() == options.wantedNames.size() ? StreamEnd::kWantedFile : StreamEnd::kDone;
  };
  for (;;) {
    std::string deviceName;
    std::string path;
    int read = ReadStreamName(connection, &deviceName);
    if (read == 0) return streamEnd();
    if (read < 0) return StreamEnd::kDeviceGone;
    read = ReadStreamName(connection, &path);
    if (read == 0) return streamEnd();
    if (read < 0) return StreamEnd::kDeviceGone;

    std::string local = HLXBackupProtocol::MapDevicePath(options.backupFolder, udid,
                                                         options.placeUpload ? options.placeUpload(path) : path);
    if (local.empty()) HLX_LOG(WARNING) << "backup upload outside the backup folder refused";
    if (!local.empty()) (void)os::Os().createDirectories(local.substr(0, local.rfind('/')));
    const std::string* wantedName = partial ? WantedNameOf(options.wantedNames, path) : nullptr;
    if (partial && wantedName == nullptr) local.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(nullptr, std::fclose);
    if (!local.empty()) {
      file.reset(std::fopen(local.c_str(), "wb"));
      if (!file) {
        HLX_LOG(ERROR) << "backup file cannot be written: errno " << errno;
        return StreamEnd::kWriteFailed;
      }
      // Pieces are large already: a stdio buffer would only split them.
      (void)std::setvbuf(file.get(), nullptr, _IONBF, 0);
    }
    uint8_t header[5];
    for (;;) {
      if (!ReceiveServiceBytes(connection, header, sizeof(header))) return StreamEnd::kDeviceGone;
      const uint32_t length = GetBigEndian32(header);
      if (length == 0) return StreamEnd::kDeviceGone;  // a block without its code byte
      const uint64_t payload = length - 1;
      const uint8_t code = header[4];
      if (code == kStreamData) {
        if (file && socketSplice->Usable()) {
          const SocketSplice::Result spliced = socketSplice->ToFile(fileno(file.get()), payload);
          if (spliced == SocketSplice::Result::kStreamEnded) return StreamEnd::kDeviceGone;
          if (spliced == SocketSplice::Result::kWriteFailed) return StreamEnd::kWriteFailed;
          if (spliced == SocketSplice::Result::kDone) continue;
        }
        uint8_t* buffer = ThreadTransferBuffer();
        if (buffer == nullptr) return StreamEnd::kWriteFailed;
        uint64_t left = payload;
        while (left > 0) {
          const size_t piece = left < kStreamPieceBytes ? static_cast<size_t>(left) : kStreamPieceBytes;
          if (!ReceiveServiceBytes(connection, buffer, piece)) return StreamEnd::kDeviceGone;
          if (file && std::fwrite(buffer, 1, piece, file.get()) != piece) {
            HLX_LOG(ERROR) << "backup file write failed: errno " << errno;
            return StreamEnd::kWriteFailed;
          }
          left -= piece;
        }
        continue;
      }
      // The end of the file: success, or an error whose text is dropped with the partial file.
      if (!Discard(connection, payload)) return StreamEnd::kDeviceGone;
      if (code != kStreamSuccess) {
        HLX_LOG(WARNING) << "backup file not sent by the device (stream code " << int{code} << ")";
        file.reset();
        if (!local.empty()) std::remove(local.c_str());
        break;
      }
      if (file && std::fclose(file.release()) != 0) {
        HLX_LOG(ERROR) << "backup file close failed: errno " << errno;
        return StreamEnd::kWriteFailed;
      }
      if (partial && !local.empty()) {
        arrived->insert(*wantedName);
        if (wantedPath->empty()) {
          // The local path up to and including the wanted name, as the caller gave it.
          for (const std::string& name : options.wantedNames) {
            const size_t at = local.find(name);
            if (at != std::string::npos) {
              *wantedPath = local.substr(0, at + name.size());
              break;
            }
          }
        }
      }
      break;
    }
  }
}

// One file of a restore: its device path, its data blocks and a success block; or an error block
// when the file `relative` of the backup folder is missing, unreadable or no regular file inside the
// folder (a symbolic link is never followed: it could hand any PC file to the device), and then
// false: the rest of the list is not sent. An empty `relative` is a path the device may not ask for.
bool SendRequestedFile(AMDServiceConnectionRef connection, const std::string& devicePath, const std::string& folder,
                       const std::string& relative) {
  if (!SendWord(connection, static_cast<uint32_t>(devicePath.size())) ||
      !SendServiceBytes(connection, reinterpret_cast<const uint8_t*>(devicePath.data()), devicePath.size())) {
    return false;
  }
  const int fd = relative.empty() ? -1 : OpenRegularFileInside(folder, relative);
  const int error = relative.empty() ? ENOENT : errno;
  std::unique_ptr<FILE, int (*)(FILE*)> file(fd >= 0 ? ::fdopen(fd, "rb") : nullptr, std::fclose);
  if (fd >= 0 && !file) ::close(fd);
  if (!file) {
    const std::string text = std::strerror(error);
    uint8_t header[5];
    PutBigEndian32(static_cast<uint32_t>(text.size() + 1), header);
    header[4] = kStreamLocalError;
    (void)(SendServiceBytes(connection, header, sizeof(header)) &&
           SendServiceBytes(connection, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return false;
  }
  uint8_t* block = ThreadTransferBuffer();
  if (block == nullptr) return false;
  size_t count;
  while ((count = std::fread(block + 5, 1, kStreamPieceBytes, file.get())) > 0) {
    PutBigEndian32(static_cast<uint32_t>(count + 1), block);
    block[4] = kStreamData;
    if (!SendServiceBytes(connection, block, count + 5)) return false;
  }
  if (std::ferror(file.get())) {
    HLX_LOG(WARNING) << "restore file read error";
    return false;
  }
  const uint8_t done[5] = {0, 0, 0, 1, kStreamSuccess};
  return SendServiceBytes(connection, done, sizeof(done));
}

const std::string* ElementText(const PlistVariant::Array& message, size_t index) {
  return index < message.size() ? message[index].GetString() : nullptr;
}

bool Cancelled(const BackupSessionOptions& options) { return options.cancelled && options.cancelled(); }

BackupSessionResult CancelledResult() { return {kReplyCancelled, "Task cancelled.", ""}; }

// ---- The conversation of a backup or a restore -----------------------------------------------
//
// The device drives both: one loop (Converse) reads each of its messages, reports the progress it
// names and hands it to the handler its name routes to in the session's table (a Dialogue). A
// handler answers the device and tells the loop whether the session goes on.

// What a session holds while the device's messages come in.
struct Conversation {
  Conversation(AMDServiceConnectionRef serviceConnection, const BackupSessionOptions& sessionOptions,
               HLXDevice& sessionDevice, BackupSessionResult& sessionResult, SocketSplice* splice = nullptr)
      : connection(serviceConnection),
        options(sessionOptions),
        device(sessionDevice),
        udid(sessionDevice.Udid()),
        result(sessionResult),
        socketSplice(splice) {}

  AMDServiceConnectionRef connection;
  const BackupSessionOptions& options;
  HLXDevice& device;
  const std::string udid;
  BackupSessionResult& result;
  SocketSplice* const socketSplice;  // backup only
  double progress = 0;
  int64_t reported = 0;
  std::set<std::string> arrived;  // partial backup: the wanted names written so far

  bool Partial() const { return !options.wantedNames.empty(); }
  // The local path of a device path of this backup, or "" when it is outside the backup folder.
  std::string Local(const std::string& devicePath) const {
    return HLXBackupProtocol::MapDevicePath(options.backupFolder, udid, devicePath);
  }
};

// How a handler leaves the conversation.
enum class Turn {
  kNext,     // the message is answered (or needs no answer): on to the next one
  kEnd,      // the session ends with the result the handler set
  kNotSent,  // an answer did not go out: the device counts as gone
};

using Handler = Turn (*)(Conversation& conversation, const PlistVariant::Array& message);

struct Route {
  const char* name;
  Handler handler;
};

struct Dialogue {
  const Route* begin;
  const Route* end;
  Handler otherwise;                                                 // a message that no route names
  BackupSessionResult (*silence)(const Conversation& conversation);  // the device's messages stopped
};

Turn Reply(Conversation& conversation, const std::string& xml) {
  return SendXml(conversation.connection, xml) ? Turn::kNext : Turn::kNotSent;
}

void ReportProgress(Conversation& conversation, const PlistVariant::Array& message) {
  FindProgress(message, &conversation.progress);
  const int64_t hundredths = static_cast<int64_t>(conversation.progress * 100);
  if (hundredths > conversation.reported) {
    conversation.reported = hundredths;
    if (conversation.options.progress) conversation.options.progress(hundredths);
  }
}

Handler RouteOf(const Dialogue& dialogue, const std::string& name) {
  for (const Route* route = dialogue.begin; route != dialogue.end; ++route) {
    if (name == route->name) return route->handler;
  }
  return dialogue.otherwise;
}

// Reads the device's messages until a handler, a cancel or the device's silence ends the session;
// a message without a name is only read for its progress.
void Converse(Conversation& conversation, const Dialogue& dialogue) {
  for (;;) {
    if (Cancelled(conversation.options)) {
      conversation.result = CancelledResult();
      return;
    }
    PlistVariant::Array message;
    if (!ReceiveMessage(conversation.connection, &message)) {
      conversation.result = Cancelled(conversation.options) ? CancelledResult() : dialogue.silence(conversation);
      return;
    }
    ReportProgress(conversation, message);
    const std::string* name = ElementText(message, 0);
    if (name == nullptr) continue;
    const Turn turn = RouteOf(dialogue, *name)(conversation, message);
    if (turn == Turn::kNotSent) conversation.result = {kCodeDeviceGone, "", ""};
    if (turn != Turn::kNext) return;
  }
}

Turn Ignore(Conversation&, const PlistVariant::Array&) { return Turn::kNext; }

// ---- Backup: the device's messages ---------------------------------------------------------

// The file stream that names `path` missing.
bool SendMissingFile(AMDServiceConnectionRef connection, const std::string& path) {
  static const char kMissing[] = "No such file or directory";
  uint8_t header[5];
  PutBigEndian32(sizeof(kMissing), header);
  header[4] = kStreamLocalError;
  return SendWord(connection, static_cast<uint32_t>(path.size())) &&
         SendServiceBytes(connection, reinterpret_cast<const uint8_t*>(path.data()), path.size()) &&
         SendServiceBytes(connection, header, sizeof(header)) &&
         SendServiceBytes(connection, reinterpret_cast<const uint8_t*>(kMissing), sizeof(kMissing) - 1) &&
         SendWord(connection, 0);
}

// A backup has nothing to give back: the first path is answered as missing.
Turn AnswerDownloadFiles(Conversation& conversation, const PlistVariant::Array& message) {
  const PlistVariant::Array* paths = message.size() > 1 ? message[1].GetArray() : nullptr;
  std::string path;
  if (paths != nullptr && !paths->empty() && (*paths)[0].GetString() != nullptr) {
    path = *(*paths)[0].GetString();
    if (!SendMissingFile(conversation.connection, path)) return Turn::kNotSent;
  }
  return Reply(conversation, std::string(kStatusMultiHead) + EscapeXmlText(path) + kStatusMultiTail);
}

Turn AnswerContentsOfDirectory(Conversation& conversation, const PlistVariant::Array&) {
  return Reply(conversation, kStatusDictTemplate);
}

// A partial backup writes little: it answers with the largest number rather than ask the disk.
Turn AnswerFreeDiskSpace(Conversation& conversation, const PlistVariant::Array&) {
  int64_t freeBytes = std::numeric_limits<int64_t>::max();
  if (!conversation.Partial()) {
    struct statvfs disk;
    if (statvfs(conversation.options.backupFolder.c_str(), &disk) != 0) {
      HLX_LOG(ERROR) << "backup: free space of the backup folder unknown, errno " << errno;
      conversation.result = {kReplyTaskError, "Task error.", ""};
      return Turn::kEnd;
    }
    freeBytes = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
  }
  return Reply(conversation, kStatusFreeSpaceHead + std::to_string(freeBytes) + kStatusFreeSpaceTail);
}

Turn CreateDirectory(Conversation& conversation, const PlistVariant::Array& message) {
  const std::string* path = ElementText(message, 1);
  const std::string local = path ? conversation.Local(*path) : "";
  if (!local.empty() && os::Os().createDirectories(local)) return Reply(conversation, kStatusTwoStringsTemplate);
  HLX_LOG(WARNING) << "backup: folder outside the backup folder refused";
  return Reply(conversation, kStatusRefusedTemplate);
}

// The answer to an order on the backup's files; `refused` when it named a path outside the folder.
Turn AnswerFileOrder(Conversation& conversation, const PlistVariant::Array& message, bool refused) {
  if (refused) HLX_LOG(WARNING) << "backup: " << *ElementText(message, 0) << " outside the backup folder refused";
  return Reply(conversation, refused ? kStatusRefusedTemplate : kStatusDictTemplateA);
}

// An item whose target exists already stays where it is.
Turn MoveItems(Conversation& conversation, const PlistVariant::Array& message) {
  bool refused = false;
  const CIOSDictionary* moves = message.size() > 1 ? message[1].GetDictionary() : nullptr;
  for (const auto& entry : moves ? moves->entries() : CIOSDictionary::Entries()) {
    if (entry.second.GetString() == nullptr) continue;
    const std::string from = conversation.Local(entry.first);
    const std::string to = conversation.Local(*entry.second.GetString());
    if (from.empty() || to.empty()) {
      refused = true;
    } else if (!Exists(to)) {
      (void)std::rename(from.c_str(), to.c_str());
    }
  }
  return AnswerFileOrder(conversation, message, refused);
}

Turn CopyItem(Conversation& conversation, const PlistVariant::Array& message) {
  const std::string* source = ElementText(message, 1);
  const std::string* target = ElementText(message, 2);
  const std::string from = source ? conversation.Local(*source) : "";
  const std::string to = target ? conversation.Local(*target) : "";
  return AnswerFileOrder(conversation, message, from.empty() || to.empty() || !CopyFileBytes(from, to));
}

// RemoveItems and RemoveFiles.
Turn RemoveItems(Conversation& conversation, const PlistVariant::Array& message) {
  bool refused = false;
  const PlistVariant::Array* items = message.size() > 1 ? message[1].GetArray() : nullptr;
  for (const PlistVariant& item : items ? *items : PlistVariant::Array()) {
    if (item.GetString() == nullptr) continue;
    const std::string local = conversation.Local(*item.GetString());
    // The backup folder itself is never removed by the device.
    if (local.empty() || local == WithoutTrailingSlash(conversation.options.backupFolder)) {
      refused = true;
    } else {
      (void)RemovePath(local);
    }
  }
  return AnswerFileOrder(conversation, message, refused);
}

// A disconnect below 100 percent is a lost device; a partial backup that ran to the end has what
// came of the wanted files.
Turn EndBackup(Conversation& conversation, const PlistVariant::Array&) {
  if (conversation.progress < 100) {
    conversation.result = {kCodeDeviceGone, "", ""};
  } else {
    const bool nothingWanted = conversation.Partial() && conversation.arrived.empty();
    conversation.result.code = nothingWanted ? kCodeNoWantedFile : kReplySuccess;
    conversation.result.text.clear();
  }
  return Turn::kEnd;
}

// The device's error ends the backup; so does its "no error" before 100 percent.
Turn AnswerBackupProcessMessage(Conversation& conversation, const PlistVariant::Array& message) {
  int64_t code = 0;
  std::string text;
  if (FindDeviceError(message, &code, &text) && (code != 0 || conversation.progress < 100)) {
    HLX_LOG(ERROR) << "error: " << code << " description: " << text.size() << " bytes";
    conversation.result = {static_cast<int32_t>(code), text, ""};
    return Turn::kEnd;
  }
  return Reply(conversation, kStatusDictTemplateA);
}

// An upload's message carries a dictionary before its progress, and its file stream follows it.
// Without the dictionary it is an upload out of turn, with no stream behind it: reading one would
// take the device's next message for file names and then wait for bytes that never come, while the
// device waits for the answer to that message. It is passed over like a message of no known order.
Turn ReceiveUploadFiles(Conversation& conversation, const PlistVariant::Array& message) {
  if (message.size() < 2 || message[1].GetDictionary() == nullptr) {
    HLX_LOG(WARNING) << "backup: an upload message without its file list passed over";
    return Turn::kNext;
  }
  BackupSessionResult& result = conversation.result;
  switch (ReceiveUploadedFiles(conversation.connection, conversation.socketSplice, conversation.udid,
                               conversation.options, &conversation.arrived, &result.wantedPath)) {
    case StreamEnd::kDeviceGone:
      result = {conversation.Partial() ? kCodeNoWantedFile : kCodeDeviceGone, "", ""};
      return Turn::kEnd;
    case StreamEnd::kWriteFailed:
      result = {kReplyTaskError, "The backup folder cannot be written.", ""};
      return Turn::kEnd;
    case StreamEnd::kWantedFile: result.code = kReplySuccess; return Turn::kEnd;
    case StreamEnd::kDone: break;
  }
  return Reply(conversation, kStatusDictTemplateA);
}

BackupSessionResult BackupSilence(const Conversation& conversation) {
  if (conversation.device.GetState() == HLXDevice::kStateRemoved) return {kCodeDeviceGone, "", ""};
  return {kReplyTaskError, "Task error.", ""};
}

// A message of another name gets no answer.
const Route kBackupRoutes[] = {
    {"DLMessageDownloadFiles", AnswerDownloadFiles},
    {"DLContentsOfDirectory", AnswerContentsOfDirectory},
    {"DLMessageGetFreeDiskSpace", AnswerFreeDiskSpace},
    {"DLMessageCreateDirectory", CreateDirectory},
    {"DLMessageMoveItems", MoveItems},
    {"DLMessageRemoveItems", RemoveItems},
    {"DLMessageRemoveFiles", RemoveItems},
    {"DLMessageCopyItem", CopyItem},
    {"DLMessageDisconnect", EndBackup},
    {"DLMessageProcessMessage", AnswerBackupProcessMessage},
    {"DLMessageUploadFiles", ReceiveUploadFiles},
};
const Dialogue kBackupDialogue = {std::begin(kBackupRoutes), std::end(kBackupRoutes), Ignore, BackupSilence};

// ---- Restore: the device's messages --------------------------------------------------------

// Every device order gets its answer, so that the device never waits for one: the answers to file
// requests and process messages follow the end of a file stream.
Turn AnswerRestoreOrder(Conversation& conversation, bool afterStream) {
  if (afterStream && !SendWord(conversation.connection, 0)) return Turn::kNotSent;
  return Reply(conversation, kStatusDictTemplateB);
}

// The files asked for, from the backup folder; the first that cannot be sent ends the list.
Turn SendDownloadFiles(Conversation& conversation, const PlistVariant::Array& message) {
  const BackupSessionOptions& options = conversation.options;
  std::vector<std::pair<std::string, std::string>> files;  // device path, path in the backup ("" refused)
  const PlistVariant::Array* paths = message.size() > 1 ? message[1].GetArray() : nullptr;
  for (const PlistVariant& path : paths ? *paths : PlistVariant::Array()) {
    if (path.GetString() == nullptr) continue;
    const std::string relative = HLXBackupProtocol::MapDevicePath("", options.sourceId, *path.GetString());
    if (relative.empty()) HLX_LOG(WARNING) << "restore: a file outside the backup folder refused";
    files.emplace_back(*path.GetString(), relative);
  }
  for (const auto& file : files) {
    if (!SendRequestedFile(conversation.connection, file.first, options.backupFolder, file.second)) break;
  }
  return AnswerRestoreOrder(conversation, true);
}

// The device's "ErrorCode" (0 too) ends the restore.
Turn AnswerRestoreProcessMessage(Conversation& conversation, const PlistVariant::Array& message) {
  int64_t code = 0;
  std::string text;
  if (!FindDeviceError(message, &code, &text)) return AnswerRestoreOrder(conversation, true);
  if (code != 0) HLX_LOG(ERROR) << "error: " << code << " description: " << text.size() << " bytes";
  conversation.result = {static_cast<int32_t>(code), text, ""};
  return Turn::kEnd;
}

Turn EndRestore(Conversation& conversation, const PlistVariant::Array&) {
  conversation.result = {kCodeDeviceGone, "", ""};
  return Turn::kEnd;
}

// Any other device order is answered; what is no order is not.
Turn AnswerOtherRestoreMessage(Conversation& conversation, const PlistVariant::Array& message) {
  if (ElementText(message, 0)->compare(0, 9, "DLMessage") != 0) return Turn::kNext;
  return AnswerRestoreOrder(conversation, false);
}

BackupSessionResult RestoreSilence(const Conversation&) { return {kReplyTaskError, "Task error.", ""}; }

const Route kRestoreRoutes[] = {
    {"DLMessageDisconnect", EndRestore},
    {"DLMessageProcessMessage", AnswerRestoreProcessMessage},
    {"DLMessageDownloadFiles", SendDownloadFiles},
};
const Dialogue kRestoreDialogue = {std::begin(kRestoreRoutes), std::end(kRestoreRoutes), AnswerOtherRestoreMessage,
                                   RestoreSilence};

std::string RestoreRequest(const BackupSessionOptions& options, bool encrypted, const std::string& udid) {
  std::string request = std::string(HLX_PLIST_HEAD HLX_DTD) +
                        "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict>"
                        "<key>MessageName</key><string>Restore</string><key>Options</key><dict>"
                        "<key>RestoreDontCopyBackup</key><true/>";
  if (encrypted) request += "<key>Password</key><string>" + EscapeXmlText(options.password) + "</string>";
  request += "</dict><key>SourceIdentifier</key><string>" + EscapeXmlText(options.sourceId) +
             "</string><key>TargetIdentifier</key><string>" + EscapeXmlText(udid) + "</string></dict></array></plist>";
  return request;
}

}  // namespace

HLXBackupProtocol::HLXBackupProtocol(std::shared_ptr<HLXDevice> device) : m_device(std::move(device)) {}

HLXBackupProtocol::~HLXBackupProtocol() {
  if (!m_claimed) return;
  RunningSessions& running = Running();
  std::lock_guard<std::mutex> lock(running.mutex);
  running.udids.erase(m_device->Udid());
}

bool HLXBackupProtocol::Claim() {
  if (m_claimed) return true;
  RunningSessions& running = Running();
  std::lock_guard<std::mutex> lock(running.mutex);
  m_claimed = running.udids.insert(m_device->Udid()).second;
  if (!m_claimed) HLX_LOG(WARNING) << "backup: a second session of one device refused";
  return m_claimed;
}

void HLXBackupProtocol::Abort() {
  std::shared_ptr<HLXDeviceService> service;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    service = m_service;
    // A splice on the duplicate ends at once, whatever the library does with its own descriptor.
    if (m_plainSocket >= 0) (void)::shutdown(m_plainSocket, SHUT_RDWR);
  }
  if (service) service->Close();
}

void HLXBackupProtocol::EndSession() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_plainSocket >= 0) ::close(m_plainSocket);
  m_plainSocket = -1;
  m_service.reset();
}

std::string HLXBackupProtocol::MapDevicePath(const std::string& folder, const std::string& owner,
                                             const std::string& devicePath) {
  if (owner.empty() || devicePath.compare(0, owner.size(), owner) != 0) return "";
  if (devicePath.size() > owner.size() && devicePath[owner.size()] != '/') return "";
  // "<owner>" and "<owner>/" name the folder itself; the separator after the owner may repeat ("abc//a").
  const size_t restStart = devicePath.find_first_not_of('/', owner.size());
  if (restStart == std::string::npos) return folder.empty() ? "" : WithoutTrailingSlash(folder);
  return JoinInside(folder, devicePath.substr(restStart));
}

bool HLXBackupProtocol::ReadBackupEncryption(const std::string& folder, bool* encrypted) {
  *encrypted = false;
  std::string manifest = folder;
  if (!manifest.empty() && manifest.back() != '/') manifest += '/';
  manifest += "Manifest.plist";
  struct stat info;
  if (stat(manifest.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (info.st_size == 0) return true;
  PlistVariant document;
  const PlistVariant::Array* top = LoadPlistFile(manifest, &document) ? document.GetArray() : nullptr;
  const CIOSDictionary* dictionary = top != nullptr && !top->empty() ? (*top)[0].GetDictionary() : nullptr;
  if (dictionary == nullptr) return false;
  const PlistVariant* flag = dictionary->Find("IsEncrypted");
  *encrypted = flag != nullptr && flag->GetBool() != nullptr && *flag->GetBool();
  return true;
}

BackupSessionResult HLXBackupProtocol::CheckRestorable(const std::string& folder) {
  const BackupSessionResult manifestError{kReplyBackupManifestError, "BackupManifestPlistError", ""};
  const BackupSessionResult incomplete{kReplyBackupIncomplete, kIncompleteText, ""};
  bool encrypted = false;
  if (!ReadBackupEncryption(folder, &encrypted)) return manifestError;
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + '/';
  // The layout: files of a manifest below version 10 lie in the folder itself.
  bool flat = false;
  PlistVariant document;
  if (LoadPlistFile(base + "Manifest.plist", &document) && document.GetArray() != nullptr &&
      !document.GetArray()->empty()) {
    const CIOSDictionary* manifest = (*document.GetArray())[0].GetDictionary();
    const PlistVariant* version = manifest != nullptr ? manifest->Find("Version") : nullptr;
    flat = version != nullptr && version->GetString() != nullptr && std::atoi(version->GetString()->c_str()) < 10;
  }
  const int manifestDb = OpenRegularFileInside(base, "Manifest.db");
  if (manifestDb < 0) {
    HLX_LOG(WARNING) << "restore refused: the backup has no Manifest.db";
    return incomplete;
  }
  ::close(manifestDb);
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2((base + "Manifest.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  // A table, not a view: a view could compute rows without end.
  sqlite3_stmt* raw_statement = nullptr;
  if (opened != SQLITE_OK ||
      sqlite3_prepare_v2(db.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'Files'", -1,
                         &raw_statement, nullptr) != SQLITE_OK) {
    HLX_LOG(WARNING) << "restore refused: Manifest.db unreadable";
    return incomplete;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw_statement, sqlite3_finalize);
  if (sqlite3_step(statement.get()) != SQLITE_ROW ||
      sqlite3_prepare_v2(db.get(), "SELECT fileID, flags FROM Files", -1, &raw_statement, nullptr) != SQLITE_OK) {
    HLX_LOG(WARNING) << "restore refused: Manifest.db has no table of files";
    return incomplete;
  }
  statement.reset(raw_statement);
  int step;
  int64_t files = 0;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
    if (sqlite3_column_type(statement.get(), 0) != SQLITE_TEXT ||
        sqlite3_column_type(statement.get(), 1) != SQLITE_INTEGER) {
      HLX_LOG(WARNING) << "restore refused: a Manifest.db row of a wrong type";
      return incomplete;
    }
    if (sqlite3_column_int64(statement.get(), 1) != 1) continue;  // folders and the like carry no file
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    const std::string id(text, static_cast<size_t>(sqlite3_column_bytes(statement.get(), 0)));
    if (!IsPlainChildName(id) || (!flat && id.size() < 2)) {
      HLX_LOG(WARNING) << "restore refused: a Manifest.db file name that is no plain name";
      return incomplete;
    }
    const int fd = OpenRegularFileInside(base, flat ? id : id.substr(0, 2) + "/" + id);
    if (fd < 0) {
      HLX_LOG(WARNING) << "restore refused: a file of the manifest is missing (errno " << errno << ")";
      return incomplete;
    }
    ::close(fd);
    ++files;
  }
  if (step != SQLITE_DONE) {
    HLX_LOG(WARNING) << "restore refused: Manifest.db unreadable";
    return incomplete;
  }
  HLX_LOG(INFO) << "restore: the backup holds all " << files << " files of its manifest";
  return {};
}

bool HLXBackupProtocol::OpenSession(const BackupSessionOptions& options, BackupSessionResult* result, bool wantSocket) {
  CFPtr<CFPropertyListRef> serviceOptions = CreatePlistFromXml(kOptionsTemplate, sizeof(kOptionsTemplate) - 1);
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service = OpenDeviceService(
      m_device->Device(), &error, kBackupService, static_cast<CFDictionaryRef>(serviceOptions.get()), false);
  if (!service) {
    *result = {kReplyAfcNotOpened, options.openFailureText, ""};
    return false;
  }
  AMDServiceConnectionRef connection = service->ServiceConnection();
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  const int socket = wantSocket && md.AMDServiceConnectionGetSecureIOContext(connection) == nullptr
                         ? md.AMDServiceConnectionGetSocket(connection)
                         : -1;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_service = service;
    if (socket >= 0) m_plainSocket = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
  }
  PlistVariant::Array message;
  bool ready = false;
  // The device's version offer is not inspected; the exchange ends at "DLMessageDeviceReady".
  if (ReceiveMessage(connection, &message) && SendXml(connection, kVersionOkTemplate)) {
    while (!ready && ReceiveMessage(connection, &message)) {
      for (const PlistVariant& element : message) {
        const std::string* text = element.GetString();
        if (text != nullptr && strcasecmp(text->c_str(), "DLMessageDeviceReady") == 0) ready = true;
      }
    }
  }
  if (!ready || !SendXml(connection, kHelloTemplate) || !ReceiveMessage(connection, &message)) {
    *result = {kReplyTaskError, "Task error.", ""};
    return false;
  }
  return true;
}

BackupSessionResult HLXBackupProtocol::Backup(const BackupSessionOptions& options) {
  if (!Claim()) return {kReplyBackupBusy, kBackupBusyText, ""};
  BackupSessionResult result;
  const bool open = OpenSession(options, &result, true);
  SocketSplice socketSplice(m_plainSocket);
  if (open) {
    Conversation conversation(m_service->ServiceConnection(), options, *m_device, result, &socketSplice);
    const std::string request =
        std::string(kBackupTemplateHead) + EscapeXmlText(conversation.udid) + kBackupTemplateTail;
    if (SendXml(conversation.connection, request)) {
      Converse(conversation, kBackupDialogue);
    } else {
      result = {kCodeDeviceGone, "", ""};
    }
  }
  // A cancel closes the device connection, so a send or a stream cut short by it reads as a lost device.
  if (result.code != kReplySuccess && Cancelled(options)) result = CancelledResult();
  if (result.code != kReplySuccess && options.wantedNames.empty()) {
    Abort();
    std::string folder = options.backupFolder;
    if (!DeleteDirectoryTree(folder)) HLX_LOG(ERROR) << "backup: failed backup folder not deleted";
  }
  EndSession();
  return result;
}

BackupSessionResult HLXBackupProtocol::ChangePassword(const std::string& newPassword) {
  if (!Claim()) return {kReplyBackupBusy, kBackupBusyText, ""};
  BackupSessionOptions options;
  BackupSessionResult result;
  if (!OpenSession(options, &result)) return result;
  AMDServiceConnectionRef connection = m_service->ServiceConnection();
  const std::string request = std::string(HLX_PLIST_HEAD HLX_DTD) +
                              "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict>"
                              "<key>MessageName</key><string>ChangePassword</string><key>NewPassword</key><string>" +
                              EscapeXmlText(newPassword) + "</string><key>TargetIdentifier</key><string>" +
                              EscapeXmlText(m_device->Udid()) + "</string></dict></array></plist>";
  result = {kReplyTaskError, "Task error.", ""};
  PlistVariant::Array message;
  if (SendXml(connection, request)) {
    while (ReceiveMessage(connection, &message)) {
      int64_t code = 0;
      std::string text;
      const std::string* name = ElementText(message, 0);
      if (name != nullptr && *name == "DLMessageProcessMessage" && FindDeviceError(message, &code, &text)) {
        result = {static_cast<int32_t>(code), text, ""};
        break;
      }
    }
  }
  Abort();
  EndSession();
  return result;
}

BackupSessionResult HLXBackupProtocol::Restore(const BackupSessionOptions& options) {
  if (!Claim()) return {kReplyBackupBusy, kBackupBusyText, ""};
  BackupSessionResult result = CheckRestorable(options.backupFolder);
  bool encrypted = false;
  if (result.code != kReplySuccess || !ReadBackupEncryption(options.backupFolder, &encrypted)) return result;
  if (!OpenSession(options, &result)) return result;
  Conversation conversation(m_service->ServiceConnection(), options, *m_device, result);
  if (SendXml(conversation.connection, RestoreRequest(options, encrypted, m_device->Udid()))) {
    Converse(conversation, kRestoreDialogue);
  } else {
    result = {kCodeDeviceGone, "", ""};
  }
  if (result.code != kReplySuccess && Cancelled(options)) result = CancelledResult();
  Abort();
  EndSession();
  return result;
}

}  // namespace hlx
