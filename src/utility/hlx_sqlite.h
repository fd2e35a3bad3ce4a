// The one way the service reads a local copy of a device database (media library, photos, messages,
// the backup tool's messages database): opened read-only and never created, with a busy wait, the
// SQL function "regexp", views and triggers refused and schema functions untrusted, and a watch that
// ends a statement when the request is cancelled, when the connection has run longer than its time
// bound, or when its rows or their text and blob bytes pass their bounds. A hostile copy (an endless
// view, rows without end, values of gigabytes) thus ends with a code within seconds instead of
// holding a worker and memory for good.
//
// Threads: a connection is used by one thread at a time (any worker); the cancel test it is given is
// called on that thread.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "utility/hlx_task.h"

namespace hlx {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// A text column; NULL reads as "".
std::string ColumnText(sqlite3_stmt* statement, int column);

class HLXSqlite {
 public:
  // Every listing reads far less than this; a copy that yields more is hostile or broken.
  static constexpr int64_t kMaxRows = 4'000'000;
  static constexpr int64_t kMaxValueBytes = 256ll << 20;  // text and blob bytes of every row read
  static constexpr int kMaxValueLength = 16 << 20;        // one text or blob (SQLITE_LIMIT_LENGTH)
  // The memory of every SQLite connection of the service together. A sort holds all the rows it
  // sorts (a listing of a large device takes some 100 MB); a statement that needs more than this
  // fails (SQLITE_NOMEM, kReplyStatementFailed) instead of taking the machine's memory. SQLite gives
  // its caches back once the soft bound is passed.
  static constexpr int64_t kMaxHeapBytes = 1ll << 30;
  static constexpr int64_t kSoftHeapBytes = 256ll << 20;
  // Default time bound of one connection (tests shorten it with HLX_SQL_TIME_LIMIT_MS): a listing of
  // a large device takes a second or two.
  static constexpr int kDefaultTimeLimitMs = 20'000;

  HLXSqlite() = default;
  HLXSqlite(const HLXSqlite&) = delete;
  HLXSqlite& operator=(const HLXSqlite&) = delete;

  // Opens the copy at `path` read-only (`cancelled` may be empty) (a missing file fails, never becomes an empty
  // database): kReplySuccess, or kReplyDatabaseNotOpened with the log line "OPEN DB: <path> RES: <code>".
  [[nodiscard]] int Open(const std::string& path, CancelTest cancelled = {});
  sqlite3* Db() const { return m_db.get(); }
  const std::string& Path() const { return m_path; }

  // Prepares a statement; the SQLite code.
  [[nodiscard]] int Prepare(const std::string& sql, StatementPtr* statement) const;
  // sqlite3_step under the row and byte bounds (const: the counts are the connection's, as its
  // statements are): SQLITE_ROW, SQLITE_DONE, or an error code
  // (SQLITE_INTERRUPT once the watch ended the statement).
  [[nodiscard]] int Step(sqlite3_stmt* statement) const;
  // The reply code for a statement whose step gave `stepCode` (not SQLITE_ROW or SQLITE_DONE):
  // kReplyCancelled after a cancel, else kReplyStatementFailed. Logs the reason once.
  [[nodiscard]] int FailureCode(int stepCode) const;
  // Steps through every row, calling `row` for each: kReplySuccess or FailureCode.
  [[nodiscard]] int ForEachRow(sqlite3_stmt* statement, const std::function<void(sqlite3_stmt*)>& row) const;

 private:
  enum class Stop { kNone, kCancelled, kTimeLimit, kRowLimit };
  struct Watch {
    CancelTest cancelled;
    std::chrono::steady_clock::time_point deadline;
    int64_t rows = 0;
    int64_t valueBytes = 0;
    Stop stop = Stop::kNone;
  };
  static int OnProgress(void* watch);

  std::unique_ptr<Watch> m_watch;  // outlives m_db, whose progress handler points at it
  SqlitePtr m_db;
  std::string m_path;
};

}  // namespace hlx
