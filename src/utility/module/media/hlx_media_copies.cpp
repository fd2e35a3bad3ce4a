// Local copies of the device's media files, the SQLite connection to them and section packets
// (see hlx_media_copies.h).
#include "utility/module/media/hlx_media_copies.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_log.h"
#include "utility/hlx_regex.h"
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

constexpr int kCopyBusyTimeoutMs = 10 * 1000;

int OpenDatabaseCopy(const std::string& path, SqlitePtr* db) {
  sqlite3* opened = nullptr;
  // An empty name would open a private temporary database, as if the copy were empty.
  if (path.empty()) {
    HLX_LOG(ERROR) << "OPEN DB: " << path << " RES: " << SQLITE_CANTOPEN;
    return 19;
  }
  // Read-write without create: a copy in WAL mode needs its -shm written to be read, and a missing
  // copy must fail rather than become an empty database.
  const int code = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  db->reset(opened);
  if (code != SQLITE_OK) {
    HLX_LOG(ERROR) << "OPEN DB: " << path << " RES: " << code;
    db->reset();
    return 19;
  }
  // A listing reads one copy on two connections at once; in WAL mode the first to read builds the
  // copy's index (-shm) under a lock, and the other must wait for it rather than fail its statement.
  (void)sqlite3_busy_timeout(opened, kCopyBusyTimeoutMs);
  (void)RegisterSqlRegexp(opened);
  return 0;
}

int PrepareStatement(sqlite3* db, const std::string& sql, StatementPtr* statement) {
  sqlite3_stmt* prepared = nullptr;
  const int code = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &prepared, nullptr);
  statement->reset(prepared);
  return code;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::string();
  return std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
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

std::string CountInfo(int64_t count) { return "{\"Count\":" + std::to_string(count) + "}"; }

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
