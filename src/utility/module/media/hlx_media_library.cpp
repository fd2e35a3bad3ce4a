// Requests 1000 and 1010 (see hlx_media_library.h).
#include "utility/module/media/hlx_media_library.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_request_code.h"

namespace hlx {
namespace {

constexpr int kReplyNoLibraryCopy = 18;
constexpr int kReplyStatementFailed = 20;

constexpr char kMediaLibraryItems[] =
    "select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
    "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id, "
    "bl.path || '/' || ie.location,bl.base_location_id from item as i left join item_extra as ie on ie.item_pid = "
    "i.item_pid left join album as a on a.album_pid = i.album_pid left join item_artist as ia on "
    "ia.item_artist_pid = i.item_artist_pid\t left join genre as g on g.genre_id = i.genre_id left join "
    "base_location as bl on bl.base_location_id = i.base_location_id order by title COLLATE NOCASE asc";
constexpr char kLibraryItems[] =
    "SELECT media_kind,pid,0 as file_size,year,date_modified, comment,description_long,copyright,title, "
    "total_time_ms,0 as media_type,album,0 album_pid,artist,0 as artist_pid, gm.genre,genre_id,null as path from "
    "item left join genre_map gm on genre_id = gm.id order by title COLLATE NOCASE asc";
constexpr char kLocations[] =
    "SELECT item_pid,a.path || '/' || b.location as lpath, b.file_size FROM base_location as a,location as b WHERE "
    "a.id = b.base_location_id AND lpath is not null";
constexpr char kMediaPlaylists1[] =
    " SELECT container.container_pid,container.name,container.contained_media_type, container.parent_pid, "
    "container.smart_is_folder FROM container WHERE container.container_pid NOT IN  (SELECT primary_container_pid "
    "FROM db_info) AND container.is_hidden = 0 and name is not null";
constexpr char kMediaPlaylists2[] =
    " SELECT container.container_pid,container.name,container.media_kinds, container.parent_pid, "
    "container.smart_is_folder FROM container  WHERE container.container_pid NOT IN (SELECT primary_container_pid "
    "FROM db_info) AND container.is_hidden = 0";
constexpr char kLibraryPlaylists[] =
    "SELECT container.pid,container.name,container.media_kinds, container.parent_pid,container.smart_is_folder FROM "
    "container  WHERE container.pid NOT IN (SELECT primary_container_pid FROM db_info) AND container.is_hidden = 0";
constexpr char kMediaPlaylistItems[] = "SELECT item_pid FROM container_item where container_pid = ?";
constexpr char kLibraryPlaylistItems[] = "SELECT item_pid FROM item_to_container where container_pid = ?";
constexpr char kPlaylistItemsBlob[] = "SELECT item_pid_data FROM container_items WHERE container_pid = ?";

struct MediaItem {
  int64_t id = 0;
  std::string title;
  double durationMs = 0;
  int64_t mediaKind = 0;
  int64_t mediaType = 0;
  std::string comment;
  std::string description;
  std::string copyright;
  int32_t year = 0;
  int64_t modified = 0;
  std::string album;
  int64_t albumId = 0;
  std::string artist;
  int64_t artistId = 0;
  std::string genre;
  int64_t genreId = 0;
  std::string path;
  int64_t sizeBytes = 0;
};

struct MediaPlaylist {
  int64_t id = 0;
  std::string name;
  int64_t mediaKinds = 0;
  int64_t parentId = 0;
  int32_t smartIsFolder = 0;
  std::vector<int64_t> itemIds;
};

// The flavour of database a request reads.
struct LibraryFamily {
  const char* logName;       // "QueryMediaLibrary" or "QueryLibraryITDB"
  const char* playlists;     // null: the media library's two choices
  const char* playlistItems;
};
constexpr LibraryFamily kMediaLibraryFamily{"QueryMediaLibrary", nullptr, kMediaPlaylistItems};
constexpr LibraryFamily kLibraryFamily{"QueryLibraryITDB", kLibraryPlaylists, kLibraryPlaylistItems};

void LogStatementFailure(bool warning, const std::string& prefix, const char* label, const char* sql, int code) {
  if (warning) {
    HLX_LOG(WARNING) << prefix << " " << label << ": " << sql << " RES: " << code;
  } else {
    HLX_LOG(ERROR) << prefix << " " << label << ": " << sql << " RES: " << code;
  }
}

// Columns 0 to 17 of both item statements.
MediaItem ReadItem(sqlite3_stmt* row) {
  MediaItem item;
  item.mediaKind = sqlite3_column_int64(row, 0);
  item.id = sqlite3_column_int64(row, 1);
  item.sizeBytes = sqlite3_column_int64(row, 2);
  item.year = sqlite3_column_int(row, 3);
  item.modified = sqlite3_column_int64(row, 4);
  item.comment = ColumnText(row, 5);
  item.description = ColumnText(row, 6);
  item.copyright = ColumnText(row, 7);
  item.title = ColumnText(row, 8);
  item.durationMs = sqlite3_column_double(row, 9);
  item.mediaType = sqlite3_column_int64(row, 10);
  item.album = ColumnText(row, 11);
  item.albumId = sqlite3_column_int64(row, 12);
  item.artist = ColumnText(row, 13);
  item.artistId = sqlite3_column_int64(row, 14);
  item.genre = ColumnText(row, 15);
  item.genreId = sqlite3_column_int64(row, 16);
  item.path = ColumnText(row, 17);
  return item;
}

// Runs a handler on each pushed item, in push order, on a thread of its own, so that the pushing
// thread goes on meanwhile; Finish waits until every pushed item has been handled. Items are pushed
// from one thread. Without a thread (none could be made, or after Finish) an item is handled at once
// on the pushing thread.
template <typename T>
class SideQueue {
 public:
  explicit SideQueue(std::function<void(T&)> handle) : m_handle(std::move(handle)) {}
  ~SideQueue() { Finish(); }
  SideQueue(const SideQueue&) = delete;
  SideQueue& operator=(const SideQueue&) = delete;

  void Push(T item) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_thread.joinable() && !m_inline) {
      try {
        m_thread = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        m_inline = true;
      }
    }
    if (m_inline) {
      lock.unlock();
      m_handle(item);
      return;
    }
    m_queue.push_back(std::move(item));
    m_wake.notify_one();
  }

  void Finish() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_inline = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [this] { return m_inline || !m_queue.empty(); });
      if (m_queue.empty()) return;
      T item = std::move(m_queue.front());
      m_queue.pop_front();
      lock.unlock();
      m_handle(item);
      lock.lock();
    }
  }

  const std::function<void(T&)> m_handle;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_inline = false;  // guarded by m_mutex; set for good by Finish
  std::deque<T> m_queue;  // guarded by m_mutex
  std::thread m_thread;
};

// Which item files are on the device. Each folder is listed once per request and its names kept in
// memory, so a library of many thousand items costs one AFC round trip per folder rather than one
// per item; the listings run in the background while the caller reads on. Paths that cannot name a
// media file (no folder, no extension after the last folder, "." or "..") are dropped without
// asking. A folder that cannot be listed, and a name that the listing does not hold but that is not
// plain ASCII (the device's file system may match another Unicode form of it), are asked about one
// by one and must be a regular file. A listed name is taken as the file: media folders hold files
// only. Prefetch is called from one thread, then Has from one thread.
class DeviceFiles {
 public:
  explicit DeviceFiles(AFCConnectionRef afc)
      : m_afc(afc), m_lister([this](std::string& folder) { m_folders[folder] = List(folder); }) {}

  // Queues the folder of `path` for listing in the background, once per folder.
  void Prefetch(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    m_folder.assign(path, 0, FolderLength(slash));  // reuses its buffer: called for every item
    if (m_queued.count(m_folder) != 0) return;
    m_queued.insert(m_folder);
    m_lister.Push(m_folder);
  }

  // Waits for the queued listings first.
  bool Has(std::string_view path) {
    m_lister.Finish();
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) return false;
    const std::string name(path.substr(slash + 1));
    if (name == "." || name == "..") return false;
    m_folder.assign(path, 0, FolderLength(slash));
    auto folder = m_folders.find(m_folder);
    if (folder == m_folders.end()) folder = m_folders.emplace(m_folder, List(m_folder)).first;
    if (folder->second && folder->second->count(name) != 0) return true;
    if (folder->second && IsAscii(name)) return false;
    AfcFileInfo info;
    return AfcGetFileInfo(m_afc, std::string(path), &info) && info.fileKind == "S_IFREG";
  }

 private:
  using Names = std::unordered_set<std::string>;

  // The length of the folder part of a path whose last '/' is at `slash` ("/" for the root).
  static size_t FolderLength(size_t slash) { return slash == 0 ? 1 : slash; }

  static bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  }

  std::optional<Names> List(const std::string& folder) const {
    std::vector<std::string> names;
    if (!AfcListFolder(m_afc, folder, &names)) return std::nullopt;
    return Names(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
  }

  AFCConnectionRef m_afc;
  std::string m_folder;  // scratch for a folder's path, to look it up without an allocation per item
  std::unordered_set<std::string> m_queued;
  // Folder path -> its names, if it could be listed; written by the lister until Has finishes it.
  std::unordered_map<std::string, std::optional<Names>> m_folders;
  SideQueue<std::string> m_lister;  // last: finished before the members it writes go
};

// Appends the item's JSON object to the writer's text, after any objects already there.
void WriteItemJson(const MediaItem& item, JsonTextWriter& json) {
  json.NextValue();
  json->StartObject();
  json.Key("item_pid"), json->Int64(item.id);
  json.Key("title"), json.String(item.title);
  json.Key("total_time_ms"), json.String(DurationText(item.durationMs / 1000));
  const std::string duration = FormatG(item.durationMs);
  json.Key("total_time_ms_int"), json->RawValue(duration.c_str(), duration.size(), rapidjson::kNumberType);
  json.Key("media_kind"), json->Int64(item.mediaKind);
  json.Key("media_type"), json->Int64(item.mediaType);
  json.Key("comment"), json.String(item.comment);
  json.Key("description_long"), json.String(item.description);
  json.Key("copyright"), json.String(item.copyright);
  json.Key("year"), json->Int(item.year);
  json.Key("date_modified"), json.String("");
  json.Key("date_modified_int"), json->Int64(item.modified);
  json.Key("album"), json.String(item.album);
  json.Key("album_pid"), json->Int64(item.albumId);
  json.Key("artist"), json.String(item.artist);
  json.Key("item_artist_pid"), json->Int64(item.artistId);
  json.Key("genre"), json.String(item.genre);
  json.Key("genre_id"), json->Int64(item.genreId);
  json.Key("path"), json.String(item.path);
  json.Key("file_size"), json->Int64(item.sizeBytes);
  json->EndObject();
}

// The four item sections of one answer. The reading thread files each row's item; a writer thread
// appends their JSON objects to one text per section meanwhile and queues their folders for listing.
// Once every row has been read the existence check keeps or drops each object, in row order.
class MediaLists {
 public:
  enum Section { kSongs, kMovies, kMusicVideos, kTvShows, kSectionCount };

  explicit MediaLists(AFCConnectionRef afc) : m_onDevice(afc), m_writer([this](Batch& batch) { Write(batch); }) {}

  void File(Section section, MediaItem item) {
    ++m_filed[section];
    m_batch.emplace_back(section, std::move(item));
    if (m_batch.size() == kBatchItems) PushBatch();
  }
  // How many items the section was given, before the existence check (for the log).
  size_t Filed(Section section) const { return m_filed[section]; }
  // The JSON objects of the section's items whose file is on the device, after the last File; they
  // point into this object.
  std::vector<std::string_view> Objects(Section section) {
    PushBatch();
    m_writer.Finish();
    const Written& written = m_written[section];
    const std::string_view text = written.json.View();
    std::vector<std::string_view> objects;
    for (const WrittenItem& item : written.items) {
      if (m_onDevice.Has(std::string_view(written.paths).substr(item.pathBegin, item.pathSize))) {
        objects.push_back(text.substr(item.jsonBegin, item.jsonSize));
      }
    }
    return objects;
  }

 private:
  using Batch = std::vector<std::pair<Section, MediaItem>>;
  static constexpr size_t kBatchItems = 256;  // rows handed over at once: one lock per batch, not per row

  // Where an item's object lies in its section's JSON text and its device path in the paths text:
  // two long texts instead of two small ones per item.
  struct WrittenItem {
    size_t jsonBegin, jsonSize, pathBegin, pathSize;
  };
  struct Written {
    JsonTextWriter json;
    std::string paths;
    std::vector<WrittenItem> items;
  };

  void PushBatch() {
    if (m_batch.empty()) return;
    m_writer.Push(std::move(m_batch));
    m_batch = Batch();
  }

  void Write(Batch& batch) {
    for (const auto& [section, item] : batch) {
      m_onDevice.Prefetch(item.path);
      Written& written = m_written[section];
      const size_t begin = written.json.Size();
      WriteItemJson(item, written.json);
      written.items.push_back({begin, written.json.Size() - begin, written.paths.size(), item.path.size()});
      written.paths += item.path;
    }
  }

  size_t m_filed[kSectionCount] = {};
  Batch m_batch;
  DeviceFiles m_onDevice;
  Written m_written[kSectionCount];
  SideQueue<Batch> m_writer;  // last: finished before the members it writes go
};

int QueryMediaLibrary(sqlite3* db, MediaLists* lists) {
  StatementPtr statement;
  const int code = PrepareStatement(db, kMediaLibraryItems, &statement);
  if (code != SQLITE_OK) {
    LogStatementFailure(false, "OPEN STMT QueryMediaLibrary: ", "SQL", kMediaLibraryItems, code);
    return kReplyStatementFailed;
  }
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    if (sqlite3_column_double(statement.get(), 9) == 0) continue;
    MediaItem item = ReadItem(statement.get());
    switch (item.mediaKind) {
      case 2: lists->File(MediaLists::kMovies, std::move(item)); break;
      case 33: lists->File(MediaLists::kMusicVideos, std::move(item)); break;
      case 64: lists->File(MediaLists::kTvShows, std::move(item)); break;
      default: lists->File(MediaLists::kSongs, std::move(item)); break;
    }
  }
  return 0;
}

// Item id -> (device path, file size) from the Locations.itdb copy; a later row replaces an earlier.
int LoadLocations(const std::string& path, std::map<int64_t, std::pair<std::string, int64_t>>* locations) {
  SqlitePtr db;
  if (int code = OpenDatabaseCopy(path, &db); code != 0) return code;
  StatementPtr statement;
  const int code = PrepareStatement(db.get(), kLocations, &statement);
  if (code != SQLITE_OK) {
    LogStatementFailure(false, "OPEN STMT QueryMediaLibrary: ", "SQL", kLocations, code);
    return kReplyStatementFailed;
  }
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    (*locations)[sqlite3_column_int64(statement.get(), 0)] = {ColumnText(statement.get(), 1),
                                                              sqlite3_column_int64(statement.get(), 2)};
  }
  return 0;
}

int QueryLibraryItdb(sqlite3* db, const std::string& locationsPath, MediaLists* lists) {
  StatementPtr statement;
  const int code = PrepareStatement(db, kLibraryItems, &statement);
  if (code != SQLITE_OK) {
    LogStatementFailure(false, "OPEN STMT QueryLibraryITDB: ", "SQL", kLibraryItems, code);
    return kReplyStatementFailed;
  }
  std::map<int64_t, std::pair<std::string, int64_t>> locations;
  (void)LoadLocations(locationsPath, &locations);  // a failure leaves the map empty or partial
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    auto location = locations.find(sqlite3_column_int64(statement.get(), 1));
    if (location == locations.end() || sqlite3_column_double(statement.get(), 9) == 0) continue;
    MediaItem item = ReadItem(statement.get());
    item.path = location->second.first;
    item.sizeBytes = location->second.second;
    if (item.mediaKind == 1) {
      lists->File(MediaLists::kSongs, std::move(item));
    } else if (item.mediaKind == 2) {
      lists->File(MediaLists::kMovies, std::move(item));
    } else if (item.mediaKind & 0x40) {
      lists->File(MediaLists::kTvShows, std::move(item));
    } else if (item.mediaKind & 0x20) {
      lists->File(MediaLists::kMusicVideos, std::move(item));
    }
  }
  return 0;
}

int QueryPlaylists(sqlite3* db, const LibraryFamily& family, std::vector<MediaPlaylist>* playlists) {
  StatementPtr statement;
  if (family.playlists != nullptr) {
    if (int code = PrepareStatement(db, family.playlists, &statement); code != SQLITE_OK) {
      LogStatementFailure(false, "OPEN STMT QueryMSongPlaylist: ", "SQL", family.playlists, code);
      return kReplyStatementFailed;
    }
  } else if (int code = PrepareStatement(db, kMediaPlaylists1, &statement); code != SQLITE_OK) {
    LogStatementFailure(true, "OPEN STMT QueryMSongPlaylist: ", "SQL1", kMediaPlaylists1, code);
    if (code = PrepareStatement(db, kMediaPlaylists2, &statement); code != SQLITE_OK) {
      LogStatementFailure(true, "OPEN STMT QueryMSongPlaylist: ", "SQL2", kMediaPlaylists2, code);
      return kReplyStatementFailed;
    }
  }
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    MediaPlaylist playlist;
    playlist.id = sqlite3_column_int64(statement.get(), 0);
    playlist.name = ColumnText(statement.get(), 1);
    playlist.mediaKinds = sqlite3_column_int64(statement.get(), 2);
    playlist.parentId = sqlite3_column_int64(statement.get(), 3);
    playlist.smartIsFolder = sqlite3_column_int(statement.get(), 4);
    playlists->push_back(std::move(playlist));
  }
  return 0;
}

// The item ids of one playlist; the fallback table packs them as 8-byte little-endian ids in a blob.
int LoadPlaylistItems(sqlite3* db, const char* sql, int64_t containerId, std::vector<int64_t>* ids) {
  StatementPtr statement;
  bool packed = false;
  if (int code = PrepareStatement(db, sql, &statement); code != SQLITE_OK) {
    LogStatementFailure(true, "OPEN STMT: ", "SQL", sql, code);
    if (code = PrepareStatement(db, kPlaylistItemsBlob, &statement); code != SQLITE_OK) {
      LogStatementFailure(false, "OPEN STMT: ", "SQL", kPlaylistItemsBlob, code);
      return kReplyStatementFailed;
    }
    packed = true;
  }
  sqlite3_bind_int64(statement.get(), 1, containerId);
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    if (!packed) {
      ids->push_back(sqlite3_column_int64(statement.get(), 0));
      continue;
    }
    const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(statement.get(), 0));
    const size_t count = static_cast<size_t>(sqlite3_column_bytes(statement.get(), 0)) / 8;
    for (size_t i = 0; i < count; ++i) {
      uint64_t id = 0;
      for (int byte = 7; byte >= 0; --byte) id = id << 8 | blob[i * 8 + static_cast<size_t>(byte)];
      ids->push_back(static_cast<int64_t>(id));
    }
  }
  return 0;
}

std::string PlaylistJson(const MediaPlaylist& playlist) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("container_pid"), json->Int64(playlist.id);
  json.Key("name"), json.String(playlist.name);
  json.Key("container_media_type"), json->Int64(playlist.mediaKinds);
  json.Key("parent_pid"), json->Int64(playlist.parentId);
  json.Key("smart_is_folder"), json->Int(playlist.smartIsFolder);
  json->EndObject();
  return json.Text();
}

std::string PlaylistItemsJson(int64_t containerId, const std::vector<int64_t>& ids) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("Playlist"), json->Int64(containerId);
  json.Key("item_pids"), json->StartArray();
  for (int64_t id : ids) json->Int64(id);
  json->EndArray();
  json->EndObject();
  return json.Text();
}

// Reads the copy of one family into the lists and playlists; 0, 19 or 20.
int ReadLibrary(const MediaCopies& copies, bool itdb, MediaLists* lists, std::vector<MediaPlaylist>* playlists) {
  const LibraryFamily& family = itdb ? kLibraryFamily : kMediaLibraryFamily;
  SqlitePtr db;
  if (int code = OpenDatabaseCopy(copies.PathOf(itdb ? kLibraryFile : kMediaLibraryFile), &db); code != 0) {
    return code;
  }
  const int code = itdb ? QueryLibraryItdb(db.get(), copies.PathOf(kLocationsFile), lists)
                        : QueryMediaLibrary(db.get(), lists);
  HLX_LOG(INFO) << family.logName << ": " << code << " songs: " << lists->Filed(MediaLists::kSongs)
                << " movies: " << lists->Filed(MediaLists::kMovies)
                << " music_video: " << lists->Filed(MediaLists::kMusicVideos)
                << " tvshow: " << lists->Filed(MediaLists::kTvShows);
  if (code != 0) return code;
  const int playlistCode = QueryPlaylists(db.get(), family, playlists);
  HLX_LOG(INFO) << "QueryMSongPlaylist: " << playlistCode << " playlists: " << playlists->size();
  for (MediaPlaylist& playlist : *playlists) {
    (void)LoadPlaylistItems(db.get(), family.playlistItems, playlist.id, &playlist.itemIds);
  }
  return 0;
}

// Copies the media library or, failing that, the library pair; which one, or neither.
enum class Copied { kNone, kMediaLibrary, kLibrary };
Copied CopyLibrary(MediaCopies* copies, AFCConnectionRef afc, bool logFailures) {
  std::unique_lock<std::shared_mutex> lock(copies->filesLock);
  if (CopyMediaFiles(copies, afc, MediaCopy::kMediaLibrary)) {
    copies->libraryInUse = MediaCopy::kMediaLibrary;
    return Copied::kMediaLibrary;
  }
  if (logFailures) HLX_LOG(WARNING) << "ReloadMediaLibraryDb fail";
  if (CopyMediaFiles(copies, afc, MediaCopy::kLibrary)) {
    copies->libraryInUse = MediaCopy::kLibrary;
    return Copied::kLibrary;
  }
  if (logFailures) HLX_LOG(ERROR) << "ReloadLibraryITDB fail";
  return Copied::kNone;
}

}  // namespace

int ListMediaLibrary(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc) {
  const Copied copied = CopyLibrary(copies, afc, false);
  MediaLists lists(afc);
  std::vector<MediaPlaylist> playlists;
  {
    std::shared_lock<std::shared_mutex> reading(copies->filesLock);
    if (copied != Copied::kNone) {
      if (int code = ReadLibrary(*copies, copied == Copied::kLibrary, &lists, &playlists); code != 0) return code;
    }
  }
  const std::pair<uint32_t, MediaLists::Section> sections[] = {{kRequestSongs, MediaLists::kSongs},
                                                               {kRequestMovies, MediaLists::kMovies},
                                                               {kRequestMusicVideos, MediaLists::kMusicVideos},
                                                               {kRequestTvShows, MediaLists::kTvShows}};
  for (const auto& [code, section] : sections) SendSection(request, code, lists.Objects(section));
  std::vector<std::string> objects;
  for (const MediaPlaylist& playlist : playlists) objects.push_back(PlaylistJson(playlist));
  SendSection(request, kRequestPlaylists, objects);
  for (const MediaPlaylist& playlist : playlists) {
    const std::string info = "{\"Playlist\":" + std::to_string(playlist.id) +
                             ",\"Exist\":1,\"Count\":" + std::to_string(playlist.itemIds.size()) + "}";
    const std::string data = PlaylistItemsJson(playlist.id, playlist.itemIds);
    request.SendProgress(kRequestPlaylistItems, 0, &info, nullptr);
    request.SendProgress(kRequestPlaylistItems, 1, &info, &data);
  }
  return 0;
}

int ListPlaylistItems(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc, int64_t containerId) {
  if (afc != nullptr && CopyLibrary(copies, afc, true) == Copied::kNone) return kReplyNoLibraryCopy;
  const std::string missing = "{\"Playlist\":" + std::to_string(containerId) + ",\"Count\":-1}";
  std::shared_lock<std::shared_mutex> reading(copies->filesLock);
  // The copy made last (by this request or an earlier one); with none there is nothing to open.
  const bool itdb = copies->libraryInUse == MediaCopy::kLibrary;
  const std::string path = copies->PathOf(itdb ? kLibraryFile : kMediaLibraryFile);
  if (path.empty()) {
    request.SendProgress(kRequestPlaylistItems, 0, &missing, nullptr);
    return 0;
  }
  SqlitePtr db;
  if (int code = OpenDatabaseCopy(path, &db); code != 0) return code;
  const LibraryFamily& family = itdb ? kLibraryFamily : kMediaLibraryFamily;
  std::vector<MediaPlaylist> playlists;
  (void)QueryPlaylists(db.get(), family, &playlists);
  for (const MediaPlaylist& playlist : playlists) {
    if (playlist.id != containerId) continue;
    std::vector<int64_t> ids;
    (void)LoadPlaylistItems(db.get(), family.playlistItems, containerId, &ids);
    const std::string info = "{\"Playlist\":" + std::to_string(containerId) + ",\"Count\":" +
                             std::to_string(ids.size()) + "}";
    const std::string data = PlaylistItemsJson(containerId, ids);
    request.SendProgress(kRequestPlaylistItems, 0, &info, nullptr);
    request.SendProgress(kRequestPlaylistItems, 1, &info, &data);
    return 0;
  }
  request.SendProgress(kRequestPlaylistItems, 0, &missing, nullptr);
  return 0;
}

}  // namespace hlx
