// Requests 1000 and 1010 (see hlx_media_library.h).
#include "utility/module/media/hlx_media_library.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
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
#include "utility/hlx_reply_code.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_side_queue.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

constexpr char kMediaLibraryItems[] =
    "select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
    "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id, "
    "bl.path || '/' || ie.location,bl.base_location_id from item as i left join item_extra as ie on ie.item_pid = "
    "i.item_pid left join album as a on a.album_pid = i.album_pid left join item_artist as ia on "
    "ia.item_artist_pid = i.item_artist_pid\t left join genre as g on g.genre_id = i.genre_id left join "
    "base_location as bl on bl.base_location_id = i.base_location_id order by title COLLATE NOCASE asc";
// The device paths of kMediaLibraryItems' rows, unsorted: known long before the sorted rows come.
constexpr char kMediaLibraryItemPaths[] =
    "select bl.path || '/' || ie.location from item as i left join item_extra as ie on ie.item_pid = i.item_pid "
    "left join base_location as bl on bl.base_location_id = i.base_location_id";
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
  const char* logName;    // "QueryMediaLibrary" or "QueryLibraryITDB"
  const char* playlists;  // null: the media library's two choices
  const char* playlistItems;
};
constexpr LibraryFamily kMediaLibraryFamily{"QueryMediaLibrary", nullptr, kMediaPlaylistItems};
constexpr LibraryFamily kLibraryFamily{"QueryLibraryITDB", kLibraryPlaylists, kLibraryPlaylistItems};

// Prepares `sql` into *statement: whether it prepared. A failure is logged as
// "<prefix> <label>: <sql> RES: <code>", a warning when a fallback statement follows.
bool PrepareLogged(const HLXSqlite& db, const char* sql, StatementPtr* statement, bool warning, const char* prefix,
                   const char* label = "SQL") {
  const int code = db.Prepare(sql, statement);
  if (code == SQLITE_OK) return true;
  if (warning) {
    HLX_LOG(WARNING) << prefix << " " << label << ": " << sql << " RES: " << code;
  } else {
    HLX_LOG(ERROR) << prefix << " " << label << ": " << sql << " RES: " << code;
  }
  return false;
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

// Which item files are on the device. Each folder is listed once per request, ahead on another
// thread (ListFolders) or when its first item is asked about, and its names kept in memory, so a
// library of many thousand items costs one AFC listing per folder rather than one call per item.
// Paths that cannot name a media file (no folder, no extension after the last folder, "." or "..")
// are dropped without asking. A folder that cannot be listed, and a name that the listing does not
// hold but that is not plain ASCII (the device's file system may match another Unicode form of it),
// are asked about one by one and must be a regular file. A listed name is taken as the file: media
// folders hold files only. Has is called from one thread.
class DeviceFiles {
 public:
  using Names = std::unordered_set<std::string>;
  // Folder path -> its names, if it could be listed.
  using Listings = std::unordered_map<std::string, std::optional<Names>>;

  explicit DeviceFiles(AFCConnectionRef afc) : m_afc(afc) {}

  // Lists the folders of the given paths; any thread may call it while Has is used on another.
  Listings ListFolders(const std::vector<std::string>& paths) const {
    Listings listings;
    for (const std::string& path : paths) {
      const std::optional<size_t> folderLength = FolderLength(path);
      if (!folderLength) continue;
      const std::string folder = path.substr(0, *folderLength);
      if (listings.count(folder) == 0) listings.emplace(folder, List(folder));
    }
    return listings;
  }
  // Listings made ahead on another thread (ListFolders), which the first Has waits for and keeps.
  void TakeListingsAhead(std::future<Listings> ahead) { m_ahead = std::move(ahead); }

  bool Has(std::string_view path) {
    if (m_ahead.valid()) {
      try {
        m_folders = m_ahead.get();
      } catch (const std::future_error&) {
        // none made: each folder is listed on its first item
      }
    }
    const std::optional<size_t> folderLength = FolderLength(path);
    if (!folderLength) return false;
    const std::string_view name = path.substr(path.rfind('/') + 1);
    m_folder.assign(path, 0, *folderLength);  // reuses its buffer: called for every item
    auto folder = m_folders.find(m_folder);
    if (folder == m_folders.end()) folder = m_folders.emplace(m_folder, List(m_folder)).first;
    if (folder->second) {
      m_name.assign(name);
      if (folder->second->count(m_name) != 0) return true;
      if (IsAscii(name)) return false;
    }
    AfcFileInfo info;
    return AfcGetFileInfo(m_afc, std::string(path), &info) && info.fileKind == "S_IFREG";
  }

 private:
  // The length of the folder part of a path that can name a media file ("/" for the root); none
  // for a path without a folder, without an extension after its last folder, or ending in "." or "..".
  static std::optional<size_t> FolderLength(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) return std::nullopt;
    const std::string_view name = path.substr(slash + 1);
    if (name == "." || name == "..") return std::nullopt;
    return slash == 0 ? 1 : slash;
  }

  static bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  }

  std::optional<Names> List(const std::string& folder) const {
    std::vector<std::string> names;
    if (!AfcListFolder(m_afc, folder, &names)) return std::nullopt;
    return Names(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
  }

  const AFCConnectionRef m_afc;
  std::string m_folder;  // scratch for a folder's path, reused for every item
  std::string m_name;    // scratch for a file's name, likewise
  std::future<Listings> m_ahead;
  Listings m_folders;
};

// Writes the item's JSON object as the writer's next value.
void WriteItemJson(const MediaItem& item, JsonTextWriter& json) {
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

// One stage-1 packet of a section: its items until a helper has written them as a JSON array and
// compressed that into the array's zlib stream. A batch whose compression failed keeps the text,
// which goes out like any data part and is compressed (or fails) on the way.
struct SectionBatch {
  std::vector<MediaItem> items;
  std::string compressed;
  std::string text;  // only when compression failed
};

// The four item sections of one answer, made while the rows are read. The reading thread files
// each row's item; a filing thread keeps the items whose file is on the device, in row order, in
// the section's batches of kSectionBatchItems, and hands each full batch to helpers that write and
// compress it; so once the last row has been read the sections are nearly ready to go out. The
// counts go first, so the compressed batches are held until the end: their size is bounded by what
// the connection may read (hlx_sqlite.h); the rows and batches not yet handled wait in queues of a
// few entries each.
class MediaLists {
 public:
  enum Section { kSongs, kMovies, kMusicVideos, kTvShows, kSectionCount };

  explicit MediaLists(AFCConnectionRef afc)
      : m_onDevice(afc),
        m_batchMaker([](SectionBatch*& batch) { MakeBatch(batch); }, kBatchThreads),
        m_filer([this](Rows& rows) { FileRows(rows); }) {
    m_rows.reserve(kRowsHandedOver);
  }

  void File(Section section, MediaItem item) {
    ++m_filed[section];
    m_rows.emplace_back(section, std::move(item));
    if (m_rows.size() == kRowsHandedOver) PushRows();
  }
  // How many items the section was given, before the existence check (for the log).
  size_t Filed(Section section) const { return m_filed[section]; }
  // Before the first File: the filing thread waits for these listings on its first item rather
  // than listing each folder when the rows come; ListFolders makes them on another thread.
  void TakeListingsAhead(std::future<DeviceFiles::Listings> ahead) { m_onDevice.TakeListingsAhead(std::move(ahead)); }
  DeviceFiles::Listings ListFolders(const std::vector<std::string>& paths) const {
    return m_onDevice.ListFolders(paths);
  }

  // After the last File: each section in turn, its count (stage 0) and then its batches (stage 1),
  // the replies of SendSection.
  void Send(const FeatureRequest& request, const uint32_t (&codes)[kSectionCount]) {
    PushRows();
    m_filer.Finish();
    for (Listed& listed : m_listed) CloseBatch(&listed);
    m_batchMaker.Finish();
    for (size_t section = 0; section < kSectionCount; ++section) {
      const Listed& listed = m_listed[section];
      const std::string info = CountInfo(static_cast<int64_t>(listed.count));
      request.SendProgress(codes[section], 0, &info, nullptr);
      for (const std::unique_ptr<SectionBatch>& batch : listed.batches) {
        if (batch->text.empty()) {
          request.SendCompressedProgress(codes[section], 1, &info, batch->compressed);
        } else {
          request.SendProgress(codes[section], 1, &info, &batch->text);
        }
      }
    }
  }

 private:
  using Rows = std::vector<std::pair<Section, MediaItem>>;
  static constexpr size_t kRowsHandedOver = 256;  // rows handed to the filing thread at once: one lock per 256
  static constexpr size_t kSectionBatchItems = 100;
  static constexpr size_t kBatchThreads = 4;  // writing and compressing cost more than reading the rows

  // A section as filed so far: its items on the device, its full batches, and the batch taking items.
  struct Listed {
    size_t count = 0;
    std::vector<std::unique_ptr<SectionBatch>> batches;
    std::unique_ptr<SectionBatch> open;
  };

  static void MakeBatch(SectionBatch* batch) {
    JsonTextWriter json;
    json.Reserve(batch->items.size() * 512);
    json->StartArray();
    for (const MediaItem& item : batch->items) WriteItemJson(item, json);
    json->EndArray();
    batch->items = std::vector<MediaItem>();
    const std::string_view text = json.View();
    if (!ZlibCompress(batch->compressed, text.data(), text.size())) batch->text = json.Text();
  }

  void PushRows() {
    if (m_rows.empty()) return;
    m_filer.Push(std::move(m_rows));
    m_rows = Rows();
    m_rows.reserve(kRowsHandedOver);
  }

  void FileRows(Rows& rows) {
    for (auto& [section, item] : rows) {
      if (!m_onDevice.Has(item.path)) continue;
      Listed& listed = m_listed[section];
      if (!listed.open) {
        listed.open = std::make_unique<SectionBatch>();
        listed.open->items.reserve(kSectionBatchItems);
      }
      listed.open->items.push_back(std::move(item));
      ++listed.count;
      if (listed.open->items.size() == kSectionBatchItems) CloseBatch(&listed);
    }
  }

  // Hands the batch taking items, if any, to the helpers.
  void CloseBatch(Listed* listed) {
    if (!listed->open) return;
    SectionBatch* batch = listed->open.get();
    listed->batches.push_back(std::move(listed->open));
    m_batchMaker.Push(batch);
  }

  size_t m_filed[kSectionCount] = {};
  Rows m_rows;
  DeviceFiles m_onDevice;
  Listed m_listed[kSectionCount];
  SideQueue<SectionBatch*> m_batchMaker;  // finished before the batches it makes go
  SideQueue<Rows> m_filer;                // last: finished before the members it writes go
};

int QueryMediaLibrary(HLXSqlite& db, MediaLists* lists) {
  StatementPtr statement;
  if (!PrepareLogged(db, kMediaLibraryItems, &statement, false, "OPEN STMT QueryMediaLibrary: "))
    return kReplyStatementFailed;
  return db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    if (sqlite3_column_double(row, 9) == 0) return;
    MediaItem item = ReadItem(row);
    switch (item.mediaKind) {
      case 2: lists->File(MediaLists::kMovies, std::move(item)); break;
      case 33: lists->File(MediaLists::kMusicVideos, std::move(item)); break;
      case 64: lists->File(MediaLists::kTvShows, std::move(item)); break;
      default: lists->File(MediaLists::kSongs, std::move(item)); break;
    }
  });
}

// Item id -> (device path, file size) from the Locations.itdb copy; a later row replaces an earlier.
int LoadLocations(const std::string& path, const CancelTest& cancelled,
                  std::map<int64_t, std::pair<std::string, int64_t>>* locations) {
  HLXSqlite db;
  if (int code = db.Open(path, cancelled); code != 0) return code;
  StatementPtr statement;
  if (!PrepareLogged(db, kLocations, &statement, false, "OPEN STMT QueryMediaLibrary: ")) return kReplyStatementFailed;
  return db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    (*locations)[sqlite3_column_int64(row, 0)] = {ColumnText(row, 1), sqlite3_column_int64(row, 2)};
  });
}

int QueryLibraryItdb(HLXSqlite& db, const std::string& locationsPath, const CancelTest& cancelled, MediaLists* lists) {
  StatementPtr statement;
  if (!PrepareLogged(db, kLibraryItems, &statement, false, "OPEN STMT QueryLibraryITDB: "))
    return kReplyStatementFailed;
  std::map<int64_t, std::pair<std::string, int64_t>> locations;
  // A failure leaves the map empty or partial; a cancel ends the request.
  if (LoadLocations(locationsPath, cancelled, &locations) == kReplyCancelled) return kReplyCancelled;
  return db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    auto location = locations.find(sqlite3_column_int64(row, 1));
    if (location == locations.end() || sqlite3_column_double(row, 9) == 0) return;
    MediaItem item = ReadItem(row);
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
  });
}

int QueryPlaylists(HLXSqlite& db, const LibraryFamily& family, std::vector<MediaPlaylist>* playlists) {
  StatementPtr statement;
  constexpr char kPrefix[] = "OPEN STMT QueryMSongPlaylist: ";
  if (family.playlists != nullptr) {
    if (!PrepareLogged(db, family.playlists, &statement, false, kPrefix)) return kReplyStatementFailed;
  } else if (!PrepareLogged(db, kMediaPlaylists1, &statement, true, kPrefix, "SQL1") &&
             !PrepareLogged(db, kMediaPlaylists2, &statement, true, kPrefix, "SQL2")) {
    return kReplyStatementFailed;
  }
  const int read = db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    MediaPlaylist playlist;
    playlist.id = sqlite3_column_int64(row, 0);
    playlist.name = ColumnText(row, 1);
    playlist.mediaKinds = sqlite3_column_int64(row, 2);
    playlist.parentId = sqlite3_column_int64(row, 3);
    playlist.smartIsFolder = sqlite3_column_int(row, 4);
    playlists->push_back(std::move(playlist));
  });
  if (read != kReplySuccess) playlists->clear();
  return read;
}

// The item ids of one playlist; the fallback table packs them as 8-byte little-endian ids in a blob.
int LoadPlaylistItems(HLXSqlite& db, const char* sql, int64_t containerId, std::vector<int64_t>* ids) {
  StatementPtr statement;
  bool packed = false;
  if (!PrepareLogged(db, sql, &statement, true, "OPEN STMT: ")) {
    if (!PrepareLogged(db, kPlaylistItemsBlob, &statement, false, "OPEN STMT: ")) return kReplyStatementFailed;
    packed = true;
  }
  sqlite3_bind_int64(statement.get(), 1, containerId);
  const int read = db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) {
    if (!packed) {
      ids->push_back(sqlite3_column_int64(row, 0));
      return;
    }
    const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(row, 0));
    const size_t count = static_cast<size_t>(sqlite3_column_bytes(row, 0)) / 8;
    for (size_t i = 0; i < count; ++i) {
      uint64_t id = 0;
      for (int byte = 7; byte >= 0; --byte) id = id << 8 | blob[i * 8 + static_cast<size_t>(byte)];
      ids->push_back(static_cast<int64_t>(id));
    }
  });
  if (read != kReplySuccess) ids->clear();
  return read;
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

// The item paths of a media library copy; none when the statement cannot be made.
std::vector<std::string> LoadItemPaths(HLXSqlite& db) {
  std::vector<std::string> paths;
  StatementPtr statement;
  if (db.Prepare(kMediaLibraryItemPaths, &statement) != SQLITE_OK) return paths;
  if (db.ForEachRow(statement.get(), [&](sqlite3_stmt* row) { paths.push_back(ColumnText(row, 0)); }) != 0) {
    paths.clear();
  }
  return paths;
}

// Reads the copy of one family into the lists and playlists; 0, 19 or 20. A second connection, on a
// thread of its own, reads the playlists while this one reads the items; for a media library it
// first lists the item folders on the device while the item statement sorts.
int ReadLibrary(const MediaCopies& copies, bool itdb, const CancelTest& cancelled, MediaLists* lists,
                std::vector<MediaPlaylist>* playlists) {
  const LibraryFamily& family = itdb ? kLibraryFamily : kMediaLibraryFamily;
  const std::string path = copies.PathOf(itdb ? kLibraryFile : kMediaLibraryFile);
  HLXSqlite db;
  if (int code = db.Open(path, cancelled); code != 0) return code;
  HLXSqlite sideDb;
  if (int code = sideDb.Open(path, cancelled); code != 0) return code;
  int playlistCode = 0;
  std::promise<DeviceFiles::Listings> listings;
  if (!itdb) lists->TakeListingsAhead(listings.get_future());
  SideQueue<HLXSqlite*> sideReader([&](HLXSqlite*& connection) {
    if (!itdb) listings.set_value(lists->ListFolders(LoadItemPaths(*connection)));
    playlistCode = QueryPlaylists(*connection, family, playlists);
    for (MediaPlaylist& playlist : *playlists) {
      if (LoadPlaylistItems(*connection, family.playlistItems, playlist.id, &playlist.itemIds) == kReplyCancelled) {
        playlistCode = kReplyCancelled;
        break;
      }
    }
  });
  sideReader.Push(&sideDb);
  int code =
      itdb ? QueryLibraryItdb(db, copies.PathOf(kLocationsFile), cancelled, lists) : QueryMediaLibrary(db, lists);
  sideReader.Finish();
  // A failed playlist query only empties the playlists; a cancelled one ends the request.
  if (code == 0 && playlistCode == kReplyCancelled) code = kReplyCancelled;
  HLX_LOG(INFO) << family.logName << ": " << code << " songs: " << lists->Filed(MediaLists::kSongs)
                << " movies: " << lists->Filed(MediaLists::kMovies)
                << " music_video: " << lists->Filed(MediaLists::kMusicVideos)
                << " tvshow: " << lists->Filed(MediaLists::kTvShows);
  if (code != 0) return code;
  HLX_LOG(INFO) << "QueryMSongPlaylist: " << playlistCode << " playlists: " << playlists->size();
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

// The info of a playlist's items reply: {"Playlist":id,"Exist":1,"Count":n} for a listed playlist,
// without "Exist" for one asked for by id (a count of -1: no such playlist).
std::string PlaylistCountInfo(int64_t playlist, int64_t count, bool listed) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("Playlist");
  json->Int64(playlist);
  if (listed) {
    json.Key("Exist");
    json->Int(1);
  }
  json.Key("Count");
  json->Int64(count);
  json->EndObject();
  return json.Text();
}

}  // namespace

int ListMediaLibrary(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc,
                     const CancelTest& cancelled) {
  const Copied copied = CopyLibrary(copies, afc, false);
  MediaLists lists(afc);
  std::vector<MediaPlaylist> playlists;
  {
    std::shared_lock<std::shared_mutex> reading(copies->filesLock);
    if (copied != Copied::kNone) {
      if (int code = ReadLibrary(*copies, copied == Copied::kLibrary, cancelled, &lists, &playlists); code != 0)
        return code;
    }
  }
  lists.Send(request, {kRequestSongs, kRequestMovies, kRequestMusicVideos, kRequestTvShows});
  std::vector<std::string> objects;
  for (const MediaPlaylist& playlist : playlists) objects.push_back(PlaylistJson(playlist));
  SendSection(request, kRequestPlaylists, objects);
  for (const MediaPlaylist& playlist : playlists) {
    const std::string info = PlaylistCountInfo(playlist.id, static_cast<int64_t>(playlist.itemIds.size()), true);
    const std::string data = PlaylistItemsJson(playlist.id, playlist.itemIds);
    request.SendProgress(kRequestPlaylistItems, 0, &info, nullptr);
    request.SendProgress(kRequestPlaylistItems, 1, &info, &data);
  }
  return 0;
}

int ListPlaylistItems(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc, int64_t containerId,
                      const CancelTest& cancelled) {
  if (afc != nullptr && CopyLibrary(copies, afc, true) == Copied::kNone) return kReplyDatabaseNotCopied;
  const std::string missing = PlaylistCountInfo(containerId, -1, false);
  std::shared_lock<std::shared_mutex> reading(copies->filesLock);
  // The copy made last (by this request or an earlier one); with none there is nothing to open.
  const bool itdb = copies->libraryInUse == MediaCopy::kLibrary;
  const std::string path = copies->PathOf(itdb ? kLibraryFile : kMediaLibraryFile);
  if (path.empty()) {
    request.SendProgress(kRequestPlaylistItems, 0, &missing, nullptr);
    return 0;
  }
  HLXSqlite db;
  if (int code = db.Open(path, cancelled); code != 0) return code;
  const LibraryFamily& family = itdb ? kLibraryFamily : kMediaLibraryFamily;
  std::vector<MediaPlaylist> playlists;
  if (QueryPlaylists(db, family, &playlists) == kReplyCancelled) return kReplyCancelled;
  for (const MediaPlaylist& playlist : playlists) {
    if (playlist.id != containerId) continue;
    std::vector<int64_t> ids;
    if (LoadPlaylistItems(db, family.playlistItems, containerId, &ids) == kReplyCancelled) return kReplyCancelled;
    const std::string info = PlaylistCountInfo(containerId, static_cast<int64_t>(ids.size()), false);
    const std::string data = PlaylistItemsJson(containerId, ids);
    request.SendProgress(kRequestPlaylistItems, 0, &info, nullptr);
    request.SendProgress(kRequestPlaylistItems, 1, &info, &data);
    return 0;
  }
  request.SendProgress(kRequestPlaylistItems, 0, &missing, nullptr);
  return 0;
}

}  // namespace hlx
