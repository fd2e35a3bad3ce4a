// The media module's dispatch and the voice memo list (see hlx_module_media.h).
#include "utility/module/media/hlx_module_media.h"

#include <rapidjson/document.h>

#include <cstdlib>
#include <limits>
#include <vector>

#include "utility/hlx_afc.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_task.h"
#include "utility/hlx_time.h"
#include "utility/module/media/hlx_media_books.h"
#include "utility/module/media/hlx_media_copies.h"
#include "utility/module/media/hlx_media_library.h"

namespace hlx {
namespace {

constexpr char kMemoStatement[] =
    "select ZDURATION,ZPATH,ZCUSTOMLABEL,ZDATE from ZRECORDING WHERE ZDURATION >= 0 and ZPATH is not null order by "
    "ZDATE asc";
constexpr char kRecordingsFolder[] = "/Recordings/";

int64_t MemberInt64(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return 0;
  auto member = object.FindMember(name);
  return member != object.MemberEnd() && member->value.IsInt64() ? member->value.GetInt64() : 0;
}

// 1002: every memo whose path lies in the recordings folder, oldest first, in one batch.
int ListVoiceMemos(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc,
                   const CancelTest& cancelled) {
  {
    WriterMutexLock copying(copies->filesLock);
    if (!CopyMediaFiles(copies, afc, MediaCopy::kRecordings)) return 0;  // a device without recordings
  }
  ReaderMutexLock reading(copies->filesLock);
  const std::string path = copies->PathOf(kRecordingsFile);
  HLXSqlite db;
  if (int code = db.Open(path, cancelled); code != 0) return code;
  StatementPtr statement;
  if (int code = db.Prepare(kMemoStatement, &statement); code != SQLITE_OK) {
    HLX_LOG(ERROR) << "OPEN STMT: " << path << " SQL: " << kMemoStatement << " RES: " << code;
    return kReplyStatementFailed;
  }
  std::vector<std::string> memos;
  const int read = db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    const std::string full = ColumnText(row, 1);
    const size_t folder = full.find(kRecordingsFolder);
    if (folder == std::string::npos) return;
    const std::string memoPath = full.substr(folder);
    AfcFileInfo info;
    const int64_t size = AfcGetFileInfo(afc, memoPath, &info) ? info.sizeBytes : 0;
    const double duration = sqlite3_column_double(row, 0);
    const double date = sqlite3_column_double(row, 3);
    std::unique_ptr<char, decltype(&std::free)> dateText(
        AppleTimeToLocalText(static_cast<uint64_t>(static_cast<int64_t>(date))), &std::free);
    JsonTextWriter json;
    json->StartObject();
    json.Key("path"), json.String(memoPath);
    json.Key("size"), json->Int64(size);
    json.Key("label"), json.String(ColumnText(row, 2));
    const std::string durationNumber = FormatG(duration);
    json.Key("duration_int"), json->RawValue(durationNumber.c_str(), durationNumber.size(), rapidjson::kNumberType);
    json.Key("duration"), json.String(DurationText(duration));
    const std::string dateNumber = FormatG(date);
    json.Key("date_int"), json->RawValue(dateNumber.c_str(), dateNumber.size(), rapidjson::kNumberType);
    json.Key("date"), json.String(dateText ? dateText.get() : "");
    json->EndObject();
    memos.push_back(json.Text());
  });
  if (read != kReplySuccess) return read;
  SendSection(request, kRequestVoiceMemos, memos, std::numeric_limits<size_t>::max());
  return 0;
}

}  // namespace

std::shared_ptr<MediaCopies> HLXModuleMedia::CopiesOf(const std::string& udid) {
  MutexLock lock(m_copiesMutex);
  std::shared_ptr<MediaCopies>& copies = m_copies[udid];
  if (!copies) {
    copies = std::make_shared<MediaCopies>();
    copies->cacheFolder = CreateTempSubfolder(udid);
  }
  return copies;
}

int HLXModuleMedia::Run(FeatureRequest& request) {
  const std::shared_ptr<HLXDevice>& device = request.Device();
  const int64_t taskId = request.Packet().id;
  const TaskRegistration task(device->TaskMap(), taskId);
  if (task.Cancelled()) return kReplyCancelled;
  const CancelTest cancelled = task.Test();

  const std::string udid = device->Udid();
  if (!IsPlainChildName(udid)) return kReplyBadData;  // the UDID names the device's cache folder
  const std::shared_ptr<MediaCopies> copies = CopiesOf(udid);
  std::shared_ptr<HLXDeviceService> service;
  const AfcOpener openAfc = [&]() -> AFCConnectionRef {
    int32_t error = 0;
    if (!service) service = OpenDeviceService(device->Device(), &error, "com.apple.afc", nullptr, true);
    return service ? service->AfcConnection() : nullptr;
  };

  switch (request.Command()) {
    case kRequestMediaLibrary:
    case kRequestBooksAndRingtones:
    case kRequestVoiceMemos: {
      AFCConnectionRef afc = openAfc();
      if (afc == nullptr) return kReplyAfcNotOpened;
      if (request.Command() == kRequestMediaLibrary) return ListMediaLibrary(request, copies.get(), afc, cancelled);
      if (request.Command() == kRequestBooksAndRingtones) return ListBooksAndRingtones(request, copies.get(), afc);
      return ListVoiceMemos(request, copies.get(), afc, cancelled);
    }
    case kRequestPlaylistItems: {
      auto info = request.Json().FindMember("info");
      const rapidjson::Value empty(rapidjson::kObjectType);
      const rapidjson::Value& options = info != request.Json().MemberEnd() ? info->value : empty;
      const bool refresh = static_cast<int32_t>(MemberInt64(options, "refresh")) != 0;
      AFCConnectionRef afc = nullptr;
      if (refresh && (afc = openAfc()) == nullptr) return kReplyAfcNotOpened;
      return ListPlaylistItems(request, copies.get(), afc, MemberInt64(options, "container_pid"), cancelled);
    }
    case kRequestMediaItemIds: {
      auto ids = request.Json().FindMember("item_pids");
      return ids != request.Json().MemberEnd() && ids->value.IsArray() ? kReplySuccess : kReplyBadData;
    }
    case kRequestImportBooks:
    case kRequestDeleteBooks: {
      rapidjson::Document data;
      if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
      return request.Command() == kRequestImportBooks ? ImportBook(request, copies.get(), openAfc, data)
                                                      : DeleteBook(copies.get(), openAfc, data);
    }
    default: return kReplySuccess;
  }
}

}  // namespace hlx
