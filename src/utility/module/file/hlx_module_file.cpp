// Requests 701, 702 and 703.
#include "utility/module/file/hlx_module_file.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string_view>

#include "utility/hlx_afc.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_packet.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_zip_util.h"
#include "utility/module/file/hlx_file_transfer.h"

namespace hlx {

// What a transfer keeps between its requests. Releasing drops the reader or writer (closing the
// file, or finishing or discarding the upload) and then the AFC service.
struct FileTransfer {
  std::mutex mutex;
  // guards: service, reader, writer
  std::shared_ptr<HLXDeviceService> service;
  std::shared_ptr<FilePacketReader> reader;
  std::shared_ptr<FilePacketWriter> writer;

  void Release() {
    std::shared_ptr<FilePacketReader> oldReader;
    std::shared_ptr<FilePacketWriter> oldWriter;
    std::shared_ptr<HLXDeviceService> oldService;
    {
      std::lock_guard<std::mutex> lock(mutex);
      oldReader.swap(reader);
      oldWriter.swap(writer);
      oldService.swap(service);
    }
    // Outside the lock: a writer's finish does AFC work. It is finished here, not by its last
    // holder, so that a stage still running with it cannot delay the clean-up past the release.
    if (oldWriter) (void)oldWriter->Finish();
  }
};

namespace {

constexpr int64_t kSegmentBytes = 2 * 1024 * 1024;
// A segment of the AFC transfer unit with its request framing is received in one reservation.
static_assert(kAfcTransferBufferBytes + 64 * 1024 <= kMaxReservedBodyBytes);
constexpr uint16_t kStatusDone = static_cast<uint16_t>(PacketStatus::kDone);

// A progress reply (packet status 2) of a transfer stage or an export item.
void SendStageReply(const FeatureRequest& request, int32_t stage, int32_t code, int32_t type, const std::string* info,
                    const void* data, size_t length) {
  (void)request.SendReplyRecord(request.Command(), static_cast<uint16_t>(PacketStatus::kInProgress), stage, code, type,
                                info, data, length);
}

// A transfer stage that succeeded is answered by its stage reply alone.
int AnswerStage(FeatureRequest& request, int32_t stage, int32_t type, const std::string* info, const void* data,
                size_t length) {
  SendStageReply(request, stage, kReplySuccess, type, info, data, length);
  request.EndWithoutFinalReply();
  return kReplySuccess;
}

int AnswerStageText(FeatureRequest& request, int32_t stage, const std::string& text) {
  return AnswerStage(request, stage, 0, nullptr, text.data(), text.size());
}

// Stages 2 and 3 of a transfer that is closed already, and late duplicates: nothing to answer.
int EndQuietly(FeatureRequest& request, int code) {
  request.EndWithoutFinalReply();
  return code;
}

// An item's name with every character a PC file name may not hold (control characters and
// "*/:<?\|; '>' stays) replaced by '_', and a name of dots alone made underscores, so that the
// name never leaves its folder.
std::string ReplaceForbiddenNameCharacters(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || std::string_view("\"*/:<?\\|").find(c) != std::string_view::npos) c = '_';
  }
  if (!safe.empty() && safe.find_first_not_of('.') == std::string::npos) safe.assign(safe.size(), '_');
  return safe;
}

// The extension of the device path's file name (from its last '.'), or "".
std::string DeviceExtension(const std::string& devicePath) {
  const size_t slash = devicePath.rfind('/');
  const size_t dot = devicePath.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return devicePath.substr(dot);
}

bool EndsWithEpub(const std::string& path) {
  if (path.size() < 5) return false;
  std::string tail = path.substr(path.size() - 5);
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return tail == ".EPUB";
}

// Copies a book bundle as one zip archive at a unique path beside `destination`; *written gets it.
// The scratch copy is a folder of its own, never one that existed: it is deleted afterwards.
bool ExportBookBundle(AFCConnectionRef afc, const std::string& devicePath, const std::string& destination,
                      std::string* written) {
  std::string copy =
      MakeUniqueLocalPath(destination.substr(0, destination.size() - DeviceExtension(devicePath).size()));
  *written = MakeUniqueLocalPath(destination);
  if (copy.empty() || written->empty()) return false;
  bool ok = AfcDownloadTree(afc, devicePath, copy);
  ZipFileList files;
  ZipUtil::ListFilesRecursive(copy, nullptr, &files);
  ok = CreateZipFromFolder(files, *written, nullptr) && ok;
  (void)DeleteDirectoryTree(copy);
  return ok;
}

std::shared_ptr<HLXDeviceService> TransferService(const FeatureRequest& request, FileTransfer& transfer) {
  std::lock_guard<std::mutex> lock(transfer.mutex);
  if (!transfer.service) {
    int32_t error = 0;
    transfer.service = OpenDeviceService(request.Device()->Device(), &error, "com.apple.afc", nullptr, true);
  }
  return transfer.service;
}

}  // namespace

int HLXModuleFile::Run(FeatureRequest& request) {
  if (request.Command() == kRequestExportFiles) {
    return request.SubCommand() == 1 ? Export(request) : kReplySuccess;
  }
  // 702 and 703 answer through their stage replies; a failed stage ends with the frame's final
  // reply carrying its code.
  if (request.SubCommand() != 1) return EndQuietly(request, kReplySuccess);
  std::shared_ptr<DhTask> task = request.Device()->TaskMap().Register(static_cast<int64_t>(request.Packet().id));
  if (!task) return EndQuietly(request, kReplyCancelled);
  std::shared_ptr<FileTransfer> transfer = TransferOf(request, *task);
  if (request.Packet().status == kStatusDone) {
    transfer->Release();
    return EndQuietly(request, kReplySuccess);
  }
  const rapidjson::Value& json = request.Json();
  const auto stage = json.FindMember("stage");
  if (stage == json.MemberEnd() || !stage->value.IsInt64()) return kReplyBadData;
  return request.Command() == kRequestDownloadFile ? Download(request, *transfer, stage->value.GetInt64())
                                                   : Upload(request, *transfer, stage->value.GetInt64());
}

std::shared_ptr<FileTransfer> HLXModuleFile::TransferOf(FeatureRequest& request, DhTask& task) {
  std::shared_ptr<FileTransfer> transfer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (task.firstObject) return std::static_pointer_cast<FileTransfer>(task.firstObject);
    transfer = std::make_shared<FileTransfer>();
    task.firstObject = transfer;
  }
  std::weak_ptr<FileTransfer> weak = transfer;
  request.Device()->TaskMap().SetCancelHook(task.TaskId(), [weak] {
    if (auto held = weak.lock()) held->Release();
  });
  return transfer;
}

int HLXModuleFile::Export(FeatureRequest& request) {
  std::string text;
  rapidjson::Document items;
  if (request.ReadDataText(&text) != kReplySuccess || !ParseJsonText(&items, text) || !items.IsArray() ||
      !IsCleanPeerJson(items)) {
    return kReplyBadData;
  }
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service =
      OpenDeviceService(request.Device()->Device(), &error, "com.apple.afc", nullptr, true);
  if (!service) return kReplyAfcNotOpened;
  AFCConnectionRef afc = service->AfcConnection();
  bool allArrived = true;
  for (const auto& item : items.GetArray()) {
    // An item without a device path or a PC folder names nothing to copy, or no place to put it.
    if (!item.IsArray() || item.Size() != 3 || !item[0].IsString() || !item[1].IsString() || !item[2].IsString() ||
        item[1].GetStringLength() == 0 || item[2].GetStringLength() == 0) {
      allArrived = false;
      continue;
    }
    const std::string name = StringOf(item[0]);
    const std::string devicePath = StringOf(item[1]);
    const std::string folder = StringOf(item[2]);
    AfcFileInfo info;
    if (!AfcGetFileInfo(afc, devicePath, &info) || (info.fileKind != "S_IFREG" && info.fileKind != "S_IFDIR")) {
      // Nothing to copy: no reply of its own, but the export is not complete.
      allArrived = false;
      continue;
    }
    std::string destination = folder;
    if (destination.empty() || (destination.back() != '/' && destination.back() != '\\')) destination += '/';
    destination += ReplaceForbiddenNameCharacters(name) + DeviceExtension(devicePath);

    // A copy goes to a name that is free: a PC file or folder of that name is never written into.
    std::string written;
    bool arrived = false;
    if (info.fileKind == "S_IFDIR" && EndsWithEpub(devicePath)) {
      arrived = ExportBookBundle(afc, devicePath, destination, &written);
    } else {
      written = MakeUniqueLocalPath(destination);
      if (!written.empty()) {
        arrived = info.fileKind == "S_IFREG" ? AfcDownloadFile(afc, devicePath, &written, nullptr)
                                             : AfcDownloadTree(afc, devicePath, written);
      }
    }
    if (!arrived) allArrived = false;
    SendStageReply(request, 2, arrived ? kReplySuccess : kReplyTaskError, 0, nullptr, written.data(), written.size());
  }
  return allArrived ? kReplySuccess : kReplyTaskError;
}

int HLXModuleFile::Download(FeatureRequest& request, FileTransfer& transfer, int64_t stage) {
  if (stage == 1) {
    rapidjson::Document data;
    if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
    const rapidjson::Value* path = FindStringMember(data, "path");
    if (path == nullptr) return kReplyBadData;
    std::shared_ptr<HLXDeviceService> service = TransferService(request, transfer);
    if (!service) return kReplyAfcNotOpened;
    FileHeader header;
    header.path = StringOf(*path);
    header.segmentSize = kSegmentBytes;
    header.service = service;
    const size_t slash = header.path.rfind('/');
    header.fileName = slash == std::string::npos ? std::string() : header.path.substr(slash + 1);
    auto reader = std::make_shared<FilePacketReader>();
    if (!reader->Open(header)) {
      // A file that cannot be read (missing, empty or a folder).
      transfer.Release();
      return kReplyTaskError;
    }
    {
      std::lock_guard<std::mutex> lock(transfer.mutex);
      transfer.reader = reader;
    }
    return AnswerStageText(request, 1, reader->Header().ToJson());
  }
  std::shared_ptr<FilePacketReader> reader;
  {
    std::lock_guard<std::mutex> lock(transfer.mutex);
    reader = stage == 3 ? std::move(transfer.reader) : transfer.reader;
  }
  if (!reader) return EndQuietly(request, kReplyTaskError);
  if (stage == 3) {
    reader.reset();
    transfer.Release();
    return AnswerStage(request, 3, 0, nullptr, nullptr, 0);
  }
  if (stage != 2) return kReplyBadData;
  std::string text;
  rapidjson::Document json;
  SegmentRequest segment;
  if (request.ReadDataText(&text) != kReplySuccess || !ParseJsonText(&json, text) || !IsCleanPeerJson(json) ||
      !segment.FromJson(json)) {
    return kReplyBadData;
  }
  uint8_t* buffer = ThreadTransferBuffer();
  const int64_t count = buffer != nullptr ? reader->Read(segment, buffer, kAfcTransferBufferBytes) : -1;
  // A segment past the end of the file, or a failed read. Fewer bytes than the file held at stage 1
  // within the asked range (the file was cut short on the device since) is a failed read too, not a
  // shorter segment the peer would take as whole.
  const int64_t held = std::max<int64_t>(0, reader->Header().size - segment.offset);
  const int64_t expected = std::min<int64_t>({segment.offsetLength, held, kAfcTransferBufferBytes});
  if (count <= 0 || count < expected) return kReplyTaskError;
  return AnswerStage(request, 2, 1, &text, buffer, static_cast<size_t>(count));
}

int HLXModuleFile::Upload(FeatureRequest& request, FileTransfer& transfer, int64_t stage) {
  const rapidjson::Value& json = request.Json();
  const auto info = json.FindMember("info");
  if (info == json.MemberEnd() || !info->value.IsObject()) return kReplyBadData;
  if (stage == 1) {
    const rapidjson::Value* name = FindStringMember(info->value, "name");
    const std::string fileName = name != nullptr ? StringOf(*name) : std::string();
    // The name becomes a device path below the folder: it must stay one name.
    if (!IsPlainChildName(fileName, PathSide::kDevice)) return kReplyBadData;
    std::string folder;
    const auto media = info->value.FindMember("media");
    if (media != info->value.MemberEnd()) {
      if (!media->value.IsNumber()) return kReplyBadData;
      if (media->value.IsInt64() && media->value.GetInt64() == 0) folder = "/Books/";
    } else if (const rapidjson::Value* dir = FindStringMember(info->value, "dir")) {
      folder = StringOf(*dir);
    }
    const std::string finalPath = folder + fileName;
    rapidjson::Document data;
    FileHeader header;
    if (request.ReadData(&data) != kReplySuccess || !header.FromJson(data)) return kReplyBadData;
    std::shared_ptr<HLXDeviceService> service = TransferService(request, transfer);
    if (!service) return kReplyAfcNotOpened;
    header.pathSource = finalPath;
    header.path = finalPath + ".bak";
    header.pathProject = finalPath + ".json";
    header.fileName = fileName;
    header.service = service;
    {
      // A repeated stage 1 starts over: the earlier writer is finished first, so that its clean-up
      // cannot remove the temporary and resume files that the new one opens.
      std::shared_ptr<FilePacketWriter> earlier;
      {
        std::lock_guard<std::mutex> lock(transfer.mutex);
        earlier.swap(transfer.writer);
      }
      // Finished here, not by its last holder: a segment still in flight may hold it.
      if (earlier) (void)earlier->Finish();
    }
    auto writer = std::make_shared<FilePacketWriter>();
    if (writer->Open(header) != FilePacketWriter::kReady) {
      transfer.Release();
      return kReplyTaskError;
    }
    {
      std::lock_guard<std::mutex> lock(transfer.mutex);
      transfer.writer = writer;
    }
    FileSegment missing;
    if (!writer->NextMissingSegment(&missing)) return FinishUpload(request, transfer);
    return AnswerStageText(request, 2, SegmentReplyJson(missing));
  }
  if (stage != 2) return kReplyBadData;
  std::shared_ptr<FilePacketWriter> writer;
  {
    std::lock_guard<std::mutex> lock(transfer.mutex);
    writer = transfer.writer;
  }
  if (!writer) return EndQuietly(request, kReplyTaskError);
  SegmentRequest segment;
  if (!segment.FromJson(info->value)) return kReplyBadData;
  const std::string_view bytes = request.RawData();
  std::optional<FileSegment> missing;
  switch (writer->Write(segment, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &missing)) {
    case FilePacketWriter::kWritten: break;
    case FilePacketWriter::kSegmentMismatch:
    case FilePacketWriter::kSegmentChanged: return kReplyBadData;
    case FilePacketWriter::kClosed:
      return EndQuietly(request, kReplyTaskError);  // a late duplicate after the upload finished
    default: return kReplyTaskError;
  }
  // Every segment is answered: with the next one missing, or by the one write that completed the file
  // with the final path (a duplicate of a written segment after that ends without a reply).
  if (missing) return AnswerStageText(request, 2, SegmentReplyJson(*missing));
  return FinishUpload(request, transfer);
}

int HLXModuleFile::FinishUpload(FeatureRequest& request, FileTransfer& transfer) {
  std::shared_ptr<FilePacketWriter> writer;
  {
    // Only the request that takes the writer out finishes it: when the last two segments arrive
    // at once, both see nothing missing, and one stage 3 must be sent.
    std::lock_guard<std::mutex> lock(transfer.mutex);
    writer.swap(transfer.writer);
  }
  if (!writer) return EndQuietly(request, kReplySuccess);
  const FilePacketWriter::FinishResult finished = writer->Finish();
  const std::string finalPath = writer->FinalPath();
  writer.reset();
  transfer.Release();
  // Bytes that are not the file the header names are the peer's data gone wrong, as a bad segment is.
  if (finished == FilePacketWriter::kDigestMismatch) return kReplyBadData;
  if (finished != FilePacketWriter::kPlaced) return kReplyTaskError;
  return AnswerStageText(request, 3, finalPath);
}

}  // namespace hlx
