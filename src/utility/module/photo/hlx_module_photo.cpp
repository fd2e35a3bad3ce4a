// Requests 400 to 404 (see hlx_module_photo.h).
#include "utility/module/photo/hlx_module_photo.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <set>

#include "utility/hlx_afc.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_portable_device.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_task.h"
#include "utility/hlx_version.h"
#include "utility/module/photo/hlx_photo_thumbnails.h"

namespace hlx {
namespace {

constexpr char kAfcService[] = "com.apple.afc";
constexpr char kDeviceDatabase[] = "//PhotoData//Photos.sqlite";
constexpr char kLocalDatabase[] = "Photos.sqlite";
constexpr const char* kSideFiles[] = {"-shm", "-wal"};

// A member of "info" read as a 32-bit integer; missing or of another type reads as 0.
int32_t InfoInt(const rapidjson::Value& json, const char* name) {
  const auto info = json.FindMember("info");
  if (info == json.MemberEnd() || !info->value.IsObject()) return 0;
  const auto member = info->value.FindMember(name);
  return member != info->value.MemberEnd() && member->value.IsInt() ? member->value.GetInt() : 0;
}

// Copies the device's photo database and its -shm and -wal into the device's temporary folder and
// stores the copy's path in the device. The database goes to a side name first and replaces the
// previous copy only when it arrived whole, so a failed copy keeps the previous one usable; the
// previous -shm and -wal are deleted before the new database takes their place, as a stale log
// beside a fresh database would be replayed into it.
bool CopyPhotoDatabase(AFCConnectionRef afc, HLXDevice& device, std::string* localPath) {
  const std::string udid = device.Udid();
  if (!IsPlainChildName(udid)) return false;  // the UDID names the local folder: never another one
  const std::string database = CreateTempSubfolder(udid) + kLocalDatabase;
  const std::string partial = database + ".part";
  if (!AfcDownloadFile(afc, kDeviceDatabase, &partial, nullptr)) {
    std::remove(partial.c_str());
    HLX_LOG(WARNING) << "photo database not copied";
    return false;
  }
  for (const char* side : kSideFiles) std::remove((database + side).c_str());
  if (std::rename(partial.c_str(), database.c_str()) != 0) {
    std::remove(partial.c_str());
    return false;
  }
  device.SetPhotoDatabasePath(database);
  *localPath = database;
  for (const char* side : kSideFiles) {
    const std::string local = database + side;
    (void)AfcDownloadFile(afc, std::string(kDeviceDatabase) + side, &local, nullptr);  // best effort
  }
  return true;
}

}  // namespace

HLXModulePhoto::HLXModulePhoto() {
  const std::pair<PhotoQueryFunction, PhotoQueryFunction> families[kListKinds] = {
      {PhotoListOld, PhotoListNew}, {AlbumListOld, AlbumListNew}, {AlbumContentsOld, AlbumContentsNew}};
  for (int kind = 0; kind < kListKinds; ++kind) {
    for (int major = 4; major <= 10; ++major) {
      m_queryTables[kind][major] = major <= 5 ? families[kind].first : families[kind].second;
    }
  }
}

int HLXModulePhoto::Run(FeatureRequest& request) {
  switch (request.Command()) {
    case kRequestListPhotos: return RunList(request, kPhotoList);
    case kRequestListAlbums: return RunList(request, kAlbumList);
    case kRequestListAlbumContents: return RunList(request, kAlbumContents);
    case kRequestPhotoThumbnails: {
      rapidjson::Document files;
      if (int read = request.ReadData(&files)) return read;
      int32_t error = kReplySuccess;
      std::shared_ptr<HLXDeviceService> afc =
          OpenDeviceService(request.Device()->Device(), &error, kAfcService, nullptr, true);
      if (!afc) return kReplyAfcNotOpened;
      return SendPhotoThumbnails(request, afc->AfcConnection(), files);
    }
    case kRequestPortableDeviceCheck: {
      rapidjson::Document data;
      if (int read = request.ReadData(&data)) return read;
      const rapidjson::Value* name = FindStringMember(data, "name");
      return name != nullptr && FindPortableDevice(StringOf(*name)) == 1 ? 0 : 1;
    }
    default: return kReplySuccess;
  }
}

int HLXModulePhoto::RunList(const FeatureRequest& request, ListKind kind) {
  const std::shared_ptr<HLXDevice>& device = request.Device();
  const TaskRegistration task(device->TaskMap(), request.Packet().id);
  if (task.Cancelled()) return kReplyCancelled;
  const int32_t refresh = InfoInt(request.Json(), "refresh");
  int32_t error = kReplySuccess;
  std::shared_ptr<HLXDeviceService> afc = OpenDeviceService(device->Device(), &error, kAfcService, nullptr, true);
  if (!afc) return kReplyAfcNotOpened;

  const std::shared_ptr<Mutex> listMutex = ListMutexOf(device->Udid());
  MutexLock lock(*listMutex);
  std::string path = device->PhotoDatabasePath();
  if ((path.empty() || refresh != 0) && !CopyPhotoDatabase(afc->AfcConnection(), *device, &path)) {
    return kReplyDatabaseNotCopied;
  }
  PhotoRequestContext context{request, path, afc->AfcConnection(), 0, 0, task.Test()};
  if (kind == kAlbumContents) {
    context.albumId = InfoInt(request.Json(), "album_id");
    context.albumType = InfoInt(request.Json(), "album_type");
  }
  return WalkQueries(kind, device->Properties().productVersion, context);
}

std::shared_ptr<Mutex> HLXModulePhoto::ListMutexOf(const std::string& udid) {
  MutexLock lock(m_listMutexesMutex);
  std::shared_ptr<Mutex>& mutex = m_listMutexes[udid];
  if (!mutex) mutex = std::make_shared<Mutex>();
  return mutex;
}

PhotoQueryFunction HLXModulePhoto::RememberedQuery(ListKind kind, const std::string& version) {
  MutexLock lock(m_rememberedMutex);
  const auto known = m_rememberedQueries[kind].find(version);
  return known != m_rememberedQueries[kind].end() ? known->second : nullptr;
}

void HLXModulePhoto::RememberQuery(ListKind kind, const std::string& version, PhotoQueryFunction query) {
  MutexLock lock(m_rememberedMutex);
  m_rememberedQueries[kind][version] = query;
}

int HLXModulePhoto::WalkQueries(ListKind kind, const std::string& version, const PhotoRequestContext& context) {
  if (const PhotoQueryFunction known = RememberedQuery(kind, version)) return known(context);
  // Several majors share one function: a function that failed once is not run again in this walk.
  // When every family fails, the listing fails with the code of the first one tried, the family of
  // the device's own version: an empty answer would show a phone without photos.
  std::set<PhotoQueryFunction> tried;
  int firstFailure = kReplySuccess;
  for (int major : OrderMajorVersionsFor(version.c_str())) {
    const auto entry = m_queryTables[kind].find(major);
    if (entry == m_queryTables[kind].end() || !tried.insert(entry->second).second) continue;
    const int result = entry->second(context);
    if (result == kReplyCancelled) return result;
    if (result == kReplySuccess) {
      RememberQuery(kind, version, entry->second);
      return kReplySuccess;
    }
    if (firstFailure == kReplySuccess) firstFailure = result;
  }
  return firstFailure;
}

}  // namespace hlx
