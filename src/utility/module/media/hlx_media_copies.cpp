// Local copies of the device's media files and section packets
// (see hlx_media_copies.h).
#include "utility/module/media/hlx_media_copies.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

struct CopyStep {
  std::vector<const char*> mainFiles;  // device paths, exactly as sent
  std::vector<const char*> sideFiles;
  bool recordPathFirst;  // the book lists: the path is recorded whatever the download gives
};

const CopyStep& StepOf(MediaCopy step) {
  static const std::map<MediaCopy, CopyStep> kSteps = {
      {MediaCopy::kMediaLibrary,
       {{"//iTunes_Control//iTunes//MediaLibrary.sqlitedb"},
        {"//iTunes_Control//iTunes//MediaLibrary.sqlitedb-shm", "//iTunes_Control//iTunes//MediaLibrary.sqlitedb-wal"},
        false}},
      {MediaCopy::kLibrary,
       {{"//iTunes_Control//iTunes//iTunes Library.itlp//Library.itdb",
         "//iTunes_Control//iTunes//iTunes Library.itlp//Locations.itdb"},
        {"//iTunes_Control//iTunes//iTunes Library.itlp//Library.itdb-journal",
         "//iTunes_Control//iTunes//iTunes Library.itlp//Library.itdb-shm",
         "//iTunes_Control//iTunes//iTunes Library.itlp//Library.itdb-wal",
         "//iTunes_Control//iTunes//iTunes Library.itlp//Locations.itdb.cbk"},
        false}},
      {MediaCopy::kITunesCdb, {{"//iTunes_Control//iTunes//iTunesCDB"}, {}, false}},
      {MediaCopy::kRecordings,
       {{"//Recordings//Recordings.db"},
        {"//Recordings//Recordings.db-shm", "//Recordings//Recordings.db-wal"},
        false}},
      {MediaCopy::kBooksList, {{"//Books//Books.plist"}, {}, true}},
      {MediaCopy::kPurchases, {{"//Books//Purchases//Purchases.plist"}, {}, true}},
  };
  return kSteps.at(step);
}

std::string BaseName(const char* devicePath) {
  const std::string path(devicePath);
  return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

std::string MediaCopies::PathOf(const char* name) const {
  auto found = paths.find(name);
  return found == paths.end() ? std::string() : found->second;
}

bool CopyMediaFiles(MediaCopies* copies, AFCConnectionRef afc, MediaCopy step) {
  const CopyStep& files = StepOf(step);
  // A side file left from an earlier copy belongs to the old main file; SQLite would apply an old
  // write-ahead log to the new database.
  for (const char* side : files.sideFiles) unlink((copies->cacheFolder + BaseName(side)).c_str());
  bool copied = true;
  for (const char* device : files.mainFiles) {
    const std::string name = BaseName(device);
    const std::string local = copies->cacheFolder + name;
    if (files.recordPathFirst) copies->paths[name] = local;
    if (!copied || !AfcDownloadFile(afc, device, &local, nullptr)) copied = false;
  }
  for (const char* device : files.mainFiles) {
    const std::string name = BaseName(device);
    if (copied) {
      copies->paths[name] = copies->cacheFolder + name;
    } else {
      unlink((copies->cacheFolder + name).c_str());
      if (!files.recordPathFirst) copies->paths.erase(name);
    }
  }
  if (!copied) return false;
  for (const char* side : files.sideFiles) {
    const std::string local = copies->cacheFolder + BaseName(side);
    (void)AfcDownloadFile(afc, side, &local, nullptr);
  }
  return true;
}

std::string FormatG(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::isfinite(value) ? value : 0.0);
  return text;
}

std::string DurationText(double seconds) {
  std::unique_ptr<char, decltype(&std::free)> text(FormatDuration(seconds), &std::free);
  return text ? std::string(text.get()) : std::string();
}

void SendSection(const FeatureRequest& request, uint32_t code, const std::vector<std::string_view>& objects,
                 size_t batch) {
  const std::string info = CountInfo(static_cast<int64_t>(objects.size()));
  request.SendProgress(code, 0, &info, nullptr);
  std::string data;
  for (size_t begin = 0; begin < objects.size(); begin += batch) {
    const size_t end = objects.size() - begin > batch ? begin + batch : objects.size();
    size_t bytes = 2;
    for (size_t i = begin; i < end; ++i) bytes += objects[i].size() + 1;
    data.clear();
    data.reserve(bytes);
    data += '[';
    for (size_t i = begin; i < end; ++i) {
      if (i != begin) data += ',';
      data += objects[i];
    }
    data += ']';
    request.SendProgress(code, 1, &info, &data);
  }
}

void SendSection(const FeatureRequest& request, uint32_t code, const std::vector<std::string>& objects, size_t batch) {
  SendSection(request, code, std::vector<std::string_view>(objects.begin(), objects.end()), batch);
}

}  // namespace hlx
