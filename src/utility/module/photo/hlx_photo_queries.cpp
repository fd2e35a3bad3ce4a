// The photo, album and album-contents queries (see hlx_photo_queries.h).
#include "utility/module/photo/hlx_photo_queries.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_regex.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_side_queue.h"
#include "utility/hlx_sqlite.h"
#include "utility/hlx_text.h"
#include "utility/hlx_time.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

constexpr char kAssetsPattern[] = "Z_[0-9]+ASSETS";
// Album contents that cannot be listed (no asset column, an unknown album type): the peer knows this
// as 21, the number the request frame also gives a bad request.
constexpr int kReplyAlbumNotListable = kReplyBadRequest;
constexpr char kAssetSchemaSql[] = " SELECT sql from sqlite_master where  type=\"table\" and name='ZGENERICASSET'";
constexpr char kAlbumSchemaSql[] = " SELECT sql from sqlite_master WHERE  type=\"table\" and name='ZGENERICALBUM'";
constexpr char kJoinTableSql[] =
    "SELECT name FROM sqlite_master WHERE type=\"table\" AND name REGEXP \"Z_[0-9]+ASSETS\"";
constexpr char kAssetBaseSql[] =
    "SELECT a.Z_PK,a.ZSAVEDASSETTYPE,a.ZDIRECTORY || '/'||a.ZFILENAME,a.ZORIENTATION, a.ZADDITIONALATTRIBUTES,"
    "a.ZDATECREATED,a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE FROM ZADDITIONALASSETATTRIBUTES t,ZGENERICASSET a "
    "WHERE t.Z_PK = a.Z_PK and t.zoriginalfilesize != 0";
constexpr char kOldPhotoColumns[] =
    "p.primaryKey,p.type,p.directory || '/' || p.filename,p.orientation, 0 as ZADDITIONALATTRIBUTES,"
    "p.captureTime,p.recordModDate,0 as ZORIGINALFILESIZE ";
constexpr char kOldAlbumSql[] =
    "SELECT count(0),al.primaryKey,al.title,al.kind FROM PhotoAlbum al,PhotoAlbumToPhotoJoin z_16 "
    "WHERE z_16.left = al.primaryKey";
constexpr char kNewAlbumSelect[] = "SELECT count(0),al.z_pk,al.ztitle,al.zkind FROM ZGENERICALBUM al,";

// The optional asset columns of the new schema (a table whose schema cannot be read counts as
// having them all).
struct AssetColumns {
  bool trashed = true;
  bool favorite = true;
  bool subtype = true;
};

// The smart albums of the new schema, in the order the album list sends them: their count query, the
// asset column they need (null: none), and their filter on the asset base query.
struct SmartAlbum {
  PhotoAlbumType type;
  bool AssetColumns::*needs;
  const char* countSql;
  const char* filter;
};
constexpr SmartAlbum kSmartAlbums[] = {
    {kAlbumFavorites, &AssetColumns::favorite, "SELECT count(0),0,'',0 FROM ZGENERICASSET WHERE zfavorite = 1",
     " AND zfavorite = 1"},
    {kAlbumSubtype10, &AssetColumns::subtype, "SELECT count(0),0,'',0 FROM ZGENERICASSET WHERE ZKINDSUBTYPE = 10",
     " AND ZKINDSUBTYPE == 10"},
    {kAlbumSaved, &AssetColumns::subtype, "SELECT count(0),0,'',0 FROM ZGENERICASSET WHERE ZSAVEDASSETTYPE = 256",
     " AND ZSAVEDASSETTYPE = 256"},
    {kAlbumVideos, nullptr, "SELECT count(0),0,'',0 FROM ZGENERICASSET WHERE ZKIND = 1", " AND ZKIND == 1"},
    // The trash's count already selects trashed assets: it gets no live-assets condition.
    {kAlbumTrashed, &AssetColumns::trashed,
     " SELECT count(0),0,'',0 FROM ZADDITIONALASSETATTRIBUTES t,ZGENERICASSET a WHERE t.Z_PK = a.Z_PK and "
     "t.zoriginalfilesize != 0 and a.ZTRASHEDSTATE = 1",
     " and a.ZTRASHEDSTATE = 1"},
};

const SmartAlbum* FindSmartAlbum(int32_t type) {
  for (const SmartAlbum& album : kSmartAlbums) {
    if (album.type == type) return &album;
  }
  return nullptr;
}

// The open copy (its path for log lines); regexp is registered on every copy.
using PhotoDatabase = HLXSqlite;

int OpenPhotoDatabase(const PhotoRequestContext& context, PhotoDatabase* out) {
  return out->Open(context.databasePath, context.cancelled);
}

// The prepared statement, or null after logging why.
StatementPtr Prepare(const PhotoDatabase& database, const std::string& sql) {
  StatementPtr statement;
  const int prepared = database.Prepare(sql, &statement);
  if (prepared != SQLITE_OK || !statement) {
    HLX_LOG(WARNING) << "OPEN STMT: " << database.Path() << " SQL: " << sql << " RES: " << prepared;
    return nullptr;
  }
  return statement;
}

// Names taken from the database go into SQL texts: only plain identifiers are accepted.
bool IsPlainIdentifier(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!plain) return false;
  }
  return true;
}

// The upper-cased CREATE text that a schema statement finds: nullopt when it finds no row. False when
// the statement does not prepare.
bool ReadSchemaText(const PhotoDatabase& database, const std::string& sql, std::optional<std::string>* text) {
  StatementPtr statement = Prepare(database, sql);
  if (!statement) return false;
  text->reset();
  const int step = database.Step(statement.get());
  if (step == SQLITE_ROW) *text = ToUpperAscii(ColumnText(statement.get(), 0));
  return step == SQLITE_ROW || step == SQLITE_DONE;
}

// A table whose schema could not be read counts as having every optional column.
bool HasColumn(const std::optional<std::string>& schema, const char* column) {
  return !schema || schema->find(column) != std::string::npos;
}

int ReadAssetColumns(const PhotoDatabase& database, AssetColumns* columns) {
  std::optional<std::string> schema;
  if (!ReadSchemaText(database, kAssetSchemaSql, &schema)) return kReplyStatementFailed;
  columns->trashed = HasColumn(schema, "ZTRASHEDSTATE");
  columns->favorite = HasColumn(schema, "ZFAVORITE");
  columns->subtype = HasColumn(schema, "ZKINDSUBTYPE");
  return kReplySuccess;
}

// The asset-to-album join table of the new schema and its album column ("z_<N>albums").
struct JoinTable {
  std::string name;
  std::string albumColumn;
  std::string assetColumn;
};

int FindJoinTable(const PhotoDatabase& database, JoinTable* join) {
  StatementPtr statement = Prepare(database, kJoinTableSql);
  if (!statement) return kReplyStatementFailed;
  if (const int step = database.Step(statement.get()); step != SQLITE_ROW) {
    if (step != SQLITE_DONE) return database.FailureCode(step);
    HLX_LOG(WARNING) << "no asset join table in " << database.Path();
    return kReplyDatabaseNotCopied;
  }
  join->name = ColumnText(statement.get(), 0);
  if (!IsPlainIdentifier(join->name)) {
    HLX_LOG(WARNING) << "asset join table with an unusable name in " << database.Path();
    return kReplyDatabaseNotCopied;
  }
  // The name holds "Z_<N>ASSETS" somewhere; N is read where the generated names put it.
  join->albumColumn = "z_" + std::to_string(std::atoi(join->name.c_str() + 2)) + "albums";
  return kReplySuccess;
}

// Album contents: the first column of the join table whose whole upper-cased name is Z_<N>ASSETS.
int FindAssetColumnByName(const PhotoDatabase& database, JoinTable* join) {
  StatementPtr statement = Prepare(database, "select * from " + join->name + " limit 0");
  if (!statement) return kReplyStatementFailed;
  for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
    const char* name = sqlite3_column_name(statement.get(), i);
    if (name != nullptr && RegexMatch(ToUpperAscii(name), kAssetsPattern) && IsPlainIdentifier(name)) {
      join->assetColumn = name;
      return kReplySuccess;
    }
  }
  return kReplyAlbumNotListable;
}

// Album list: the second Z_<N>ASSETS in the join table's CREATE text (the first is its own name);
// empty when there is none, and the queries that need it then fail to prepare.
int FindAssetColumnInSchema(const PhotoDatabase& database, JoinTable* join) {
  std::optional<std::string> schema;
  const std::string sql = " SELECT sql from sqlite_master WHERE  type=\"table\" and name='" + join->name + "'";
  if (!ReadSchemaText(database, sql, &schema)) return kReplyStatementFailed;
  if (schema) {
    const std::vector<std::string> names = FindAssetsTableNames(*schema);
    if (names.size() >= 2) join->assetColumn = names[1];
  }
  return kReplySuccess;
}

// The new schema as the album functions read it: the open copy (with regexp), the join table with
// its columns (the asset column found by `findAssetColumn`) and the asset table's optional columns.
struct NewSchema {
  PhotoDatabase database;
  JoinTable join;
  AssetColumns assets;
};

int OpenNewSchema(const PhotoRequestContext& context, int (*findAssetColumn)(const PhotoDatabase&, JoinTable*),
                  NewSchema* schema) {
  if (int opened = OpenPhotoDatabase(context, &schema->database)) return opened;
  if (int found = FindJoinTable(schema->database, &schema->join)) return found;
  if (int found = findAssetColumn(schema->database, &schema->join)) return found;
  return ReadAssetColumns(schema->database, &schema->assets);
}

// About the size of one photo object's text (most are 220 to 260 bytes), to size a batch's buffer once.
constexpr size_t kPhotoObjectBytes = 256;

uint64_t WholeSeconds(double seconds) {
  if (!(seconds > 0)) return 0;  // NaN and negative
  if (seconds >= 9.2e18) return static_cast<uint64_t>(INT64_MAX);
  return static_cast<uint64_t>(static_cast<int64_t>(seconds));
}

void WriteLocalTime(JsonTextWriter& json, double appleSeconds) {
  std::unique_ptr<char, FreeDeleter> text(AppleTimeToLocalText(WholeSeconds(appleSeconds)));
  json.String(text ? text.get() : "");
}

// One photo row as read from the statement, until a helper writes it into its batch.
struct PhotoRow {
  std::string path;
  int64_t numbers[4] = {};  // Z_PK, ZSAVEDASSETTYPE, ZORIENTATION, ZADDITIONALATTRIBUTES
  double created = 0;
  double modified = 0;
  int64_t sizeBytes = 0;
};

// One batch reply: its rows until a helper wrote them, then its data part compressed, or as text
// when compression failed (the send then tries once more). What the helper threw, if anything, is
// thrown again on the listing's thread, whose request frame answers it as it answers any work's.
struct PhotoBatch {
  std::vector<PhotoRow> rows;
  std::string compressed;
  std::string text;
  std::exception_ptr failure;
};

// Writes the batch's rows as its JSON array and compresses it while the text is still in this
// thread's caches.
void WritePhotoBatch(PhotoBatch* batch) {
  JsonTextWriter json;
  json.Reserve(batch->rows.size() * kPhotoObjectBytes);
  json->StartArray();
  for (const PhotoRow& row : batch->rows) {
    json->StartObject();
    json.Key("PATH");
    json.String(row.path);
    static constexpr const char* kNumberKeys[] = {"Z_PK", "ZSAVEDASSETTYPE", "ZORIENTATION", "ZADDITIONALATTRIBUTES"};
    for (size_t i = 0; i < std::size(kNumberKeys); ++i) {
      json.Key(kNumberKeys[i]);
      json->Int64(row.numbers[i]);
    }
    json.Key("ZDATECREATED");
    WriteLocalTime(json, row.created);
    json.Key("ZMODIFICATIONDATE");
    WriteLocalTime(json, row.modified);
    json.Key("ZORIGINALFILESIZE");
    json->Int64(row.sizeBytes);
    json->EndObject();
  }
  json->EndArray();
  batch->rows = std::vector<PhotoRow>();
  const std::string_view text = json.View();
  if (!ZlibCompress(batch->compressed, text.data(), text.size())) batch->text = json.Text();
}

// A helper's work on one batch: the batch written, or what that threw kept in it.
void MakePhotoBatch(PhotoBatch* batch) {
  try {
    WritePhotoBatch(batch);
  } catch (...) {
    batch->failure = std::current_exception();
  }
}

// Writing and compressing a batch costs about as much as reading its rows: two helpers keep up with
// the reading thread.
constexpr size_t kPhotoBatchThreads = 2;

// Reads the rows on this thread and hands each full batch to the helpers, which write and compress
// it meanwhile; once the statement is done, sends the count and then every batch in order (the
// count, which every batch reply carries too, is known only at the end).
int RunPhotoQuery(const PhotoRequestContext& context, const PhotoDatabase& database, const std::string& sql) {
  StatementPtr statement = Prepare(database, sql);
  if (!statement) return kReplyStatementFailed;
  sqlite3_stmt* row = statement.get();
  std::vector<std::unique_ptr<PhotoBatch>> batches;
  SideQueue<PhotoBatch*> batchMaker(MakePhotoBatch, kPhotoBatchThreads);  // finished before the batches go
  std::unique_ptr<PhotoBatch> open;
  size_t count = 0;
  int step;
  while ((step = database.Step(row)) == SQLITE_ROW) {
    if (sqlite3_column_type(row, 2) == SQLITE_NULL) continue;
    if (!open) {
      open = std::make_unique<PhotoBatch>();
      open->rows.reserve(kPhotoBatchSize);
    }
    PhotoRow& photo = open->rows.emplace_back();
    photo.path = ColumnText(row, 2);
    photo.numbers[0] = sqlite3_column_int64(row, 0);
    photo.numbers[1] = sqlite3_column_int64(row, 1);
    photo.numbers[2] = sqlite3_column_int64(row, 3);
    photo.numbers[3] = sqlite3_column_int64(row, 4);
    photo.created = sqlite3_column_double(row, 5);
    photo.modified = sqlite3_column_double(row, 6);
    photo.sizeBytes = sqlite3_column_int64(row, 7);
    AfcFileInfo info;
    if (photo.sizeBytes < 0 && context.afc != nullptr && AfcGetFileInfo(context.afc, photo.path, &info)) {
      photo.sizeBytes = info.sizeBytes;
    }
    ++count;
    if (open->rows.size() == kPhotoBatchSize) {
      batches.push_back(std::move(open));
      batchMaker.Push(batches.back().get());
    }
  }
  if (step != SQLITE_DONE) return database.FailureCode(step);
  if (open) {
    batches.push_back(std::move(open));
    batchMaker.Push(batches.back().get());
  }
  batchMaker.Finish();
  for (const std::unique_ptr<PhotoBatch>& batch : batches) {
    if (batch->failure) std::rethrow_exception(batch->failure);
  }
  const uint32_t command = context.request.Command();
  const std::string info = CountInfo(static_cast<int64_t>(count));
  context.request.SendProgress(command, 0, &info, nullptr);
  for (const std::unique_ptr<PhotoBatch>& batch : batches) {
    if (batch->text.empty()) {
      context.request.SendCompressedProgress(command, 1, &info, batch->compressed);
    } else {
      context.request.SendProgress(command, 1, &info, &batch->text);
    }
  }
  return kReplySuccess;
}

int RunAlbumQuery(const PhotoRequestContext& context, const PhotoDatabase& database, const std::string& sql,
                  int32_t albumType) {
  StatementPtr statement = Prepare(database, sql);
  if (!statement) return kReplyStatementFailed;
  sqlite3_stmt* row = statement.get();
  std::vector<std::string> objects;
  int step;
  while ((step = database.Step(row)) == SQLITE_ROW) {
    const int64_t count = sqlite3_column_int64(row, 0);
    if (count == 0) return kReplySuccess;  // an empty album (a smart album's count row): nothing to list
    JsonTextWriter json;
    json->StartObject();
    json.Key("COUNT");
    json->Int64(count);
    json.Key("Z_PK");
    json->Int64(sqlite3_column_int64(row, 1));
    json.Key("TITLE");
    json.String(ColumnText(row, 2));
    json.Key("ZKIND");
    json->Int64(sqlite3_column_int64(row, 3));
    json.Key("TYPE");
    json->Int(albumType);
    json->EndObject();
    objects.push_back(json.Text());
  }
  if (step != SQLITE_DONE) return database.FailureCode(step);
  for (size_t first = 0; first < objects.size(); first += kAlbumBatchSize) {
    std::string text = "[";
    for (size_t i = first; i < std::min(objects.size(), first + kAlbumBatchSize); ++i) {
      if (i != first) text += ',';
      text += objects[i];
    }
    text += ']';
    context.request.SendProgress(context.request.Command(), 1, nullptr, &text);
  }
  return kReplySuccess;
}

}  // namespace

int PhotoListOld(const PhotoRequestContext& context) {
  PhotoDatabase database;
  if (int opened = OpenPhotoDatabase(context, &database)) return opened;
  return RunPhotoQuery(context, database,
                       std::string("SELECT ") + kOldPhotoColumns + " FROM Photo p WHERE p.filename is not null");
}

int PhotoListNew(const PhotoRequestContext& context) {
  PhotoDatabase database;
  if (int opened = OpenPhotoDatabase(context, &database)) return opened;
  AssetColumns columns;
  if (int read = ReadAssetColumns(database, &columns)) return read;
  std::string sql = kAssetBaseSql;
  if (columns.trashed) sql += " and a.ZTRASHEDSTATE = 0";
  sql += " ORDER BY ZDATECREATED desc";
  return RunPhotoQuery(context, database, sql);
}

int AlbumListOld(const PhotoRequestContext& context) {
  PhotoDatabase database;
  if (int opened = OpenPhotoDatabase(context, &database)) return opened;
  if (RunAlbumQuery(context, database, std::string(kOldAlbumSql) + " AND al.kind == 1000 GROUP BY al.primaryKey ",
                    kAlbumCameraRoll) == kReplyCancelled) {
    return kReplyCancelled;
  }
  return RunAlbumQuery(
      context, database,
      std::string(kOldAlbumSql) + " AND al.kind != 1000 AND al.title is not null GROUP BY al.primaryKey ", kAlbumUser);
}

int AlbumListNew(const PhotoRequestContext& context) {
  NewSchema schema;
  if (int opened = OpenNewSchema(context, FindAssetColumnInSchema, &schema)) return opened;
  const PhotoDatabase& database = schema.database;
  const JoinTable& join = schema.join;
  AssetColumns& assets = schema.assets;
  std::optional<std::string> albumSchema;
  if (!ReadSchemaText(database, kAlbumSchemaSql, &albumSchema)) return kReplyStatementFailed;

  const std::string from = kNewAlbumSelect + join.name + " z left join zgenericasset zg on z." + join.assetColumn +
                           " = zg.z_pk left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = z." + join.assetColumn +
                           " WHERE";
  std::string tail = " AND z." + join.albumColumn + " = al.z_pk and t.zoriginalfilesize != 0";
  if (HasColumn(albumSchema, "ZTRASHEDSTATE")) tail += " AND  al.ZTRASHEDSTATE = 0";
  if (assets.trashed) tail += " AND  zg.ZTRASHEDSTATE = 0";
  tail += " group by al.z_pk ";

  const std::string cameraRoll = from + " al.zkind ==1000" + tail;
  if (int failed = RunAlbumQuery(context, database, cameraRoll, kAlbumCameraRoll)) {
    if (failed == kReplyCancelled) return failed;
    HLX_LOG(WARNING) << "GetAlbumListFromQueryDb_1 Fail: " << database.Path() << " SQL: " << cameraRoll
                     << " RES: " << failed;
  }
  if (int read = ReadAssetColumns(database, &assets)) return read;
  for (const SmartAlbum& album : kSmartAlbums) {
    if (album.needs != nullptr && !(assets.*album.needs)) continue;
    std::string sql = album.countSql;
    if (album.type != kAlbumTrashed && assets.trashed) sql += " AND ZTRASHEDSTATE = 0";
    if (RunAlbumQuery(context, database, sql, album.type) == kReplyCancelled) return kReplyCancelled;
  }
  return RunAlbumQuery(context, database, from + " al.ztitle is not null AND al.zkind !=1000" + tail, kAlbumUser);
}

int AlbumContentsOld(const PhotoRequestContext& context) {
  PhotoDatabase database;
  if (int opened = OpenPhotoDatabase(context, &database)) return opened;
  return RunPhotoQuery(context, database,
                       std::string("select ") + kOldPhotoColumns +
                           " from Photo p,PhotoAlbumToPhotoJoin pp where p.filename is not null and pp.right = "
                           "p.primaryKey and pp.left =" +
                           std::to_string(context.albumId));
}

int AlbumContentsNew(const PhotoRequestContext& context) {
  NewSchema schema;
  if (int opened = OpenNewSchema(context, FindAssetColumnByName, &schema)) return opened;
  const JoinTable& join = schema.join;
  const AssetColumns& assets = schema.assets;
  if (static_cast<uint32_t>(context.albumType) > kAlbumVideos) return kReplyAlbumNotListable;

  std::string sql;
  if (context.albumType == kAlbumUser || context.albumType == kAlbumCameraRoll) {
    sql =
        " SELECT a.Z_PK,a.ZSAVEDASSETTYPE,a.ZDIRECTORY || '/'||a.ZFILENAME,a.ZORIENTATION, "
        "a.ZADDITIONALATTRIBUTES,a.ZDATECREATED,a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE FROM ZGENERICASSET a "
        "left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = a.Z_PK," +
        join.name + " z WHERE a.Z_pk = z." + join.assetColumn + " AND z." + join.albumColumn + "=" +
        std::to_string(context.albumId) + " AND t.ZORIGINALFILESIZE != 0";
    if (assets.trashed) sql += " and a.ZTRASHEDSTATE = 0";
  } else if (context.albumType == kAlbumTrashed) {
    sql = kAssetBaseSql;
    if (assets.trashed) sql += FindSmartAlbum(kAlbumTrashed)->filter;
  } else {
    sql = std::string(kAssetBaseSql) + FindSmartAlbum(context.albumType)->filter;
    if (assets.trashed) sql += " and a.ZTRASHEDSTATE = 0";
  }
  return RunPhotoQuery(context, schema.database, sql);
}

}  // namespace hlx
