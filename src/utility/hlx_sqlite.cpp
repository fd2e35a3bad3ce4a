// Read-only, watched connections to local copies of device databases (see hlx_sqlite.h).
#include "utility/hlx_sqlite.h"

#include <mutex>

#include "utility/hlx_log.h"
#include "utility/hlx_regex.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_startup_state.h"

namespace hlx {
namespace {

// Two requests may read one copy at once; in WAL mode the first reader builds the copy's index
// (-shm) under a lock, and the other must wait for it rather than fail its statement.
constexpr int kBusyTimeoutMs = 10 * 1000;
// The watch runs every this many virtual-machine steps: often enough to stop within milliseconds,
// rarely enough to cost nothing measurable.
constexpr int kProgressSteps = 10000;

const char* StopName(int stop) {
  switch (stop) {
    case 1: return "cancelled";
    case 2: return "time limit";
    case 3: return "row limit";
    default: return "error";
  }
}

}  // namespace

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::string();
  return std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

int HLXSqlite::Open(const std::string& path, CancelTest cancelled) {
  m_db.reset();
  m_path = path;
  m_watch = std::make_unique<Watch>();
  m_watch->cancelled = std::move(cancelled);
  const int32_t limitMs = GetStartupState().sqlTimeLimitMs;
  m_watch->deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs > 0 ? limitMs : kDefaultTimeLimitMs);
  // An empty name would open a private temporary database, as if the copy were empty.
  if (path.empty()) {
    HLX_LOG(ERROR) << "OPEN DB: " << path << " RES: " << SQLITE_CANTOPEN;
    return kReplyDatabaseNotOpened;
  }
  static std::once_flag heapBounded;
  std::call_once(heapBounded, [] {
    (void)sqlite3_soft_heap_limit64(kSoftHeapBytes);
    (void)sqlite3_hard_heap_limit64(kMaxHeapBytes);
  });
  sqlite3* opened = nullptr;
  // Read-only: nothing in the copy can make this connection write. A copy in WAL mode still reads
  // its -wal: SQLite creates the -shm beside it, in the service's own cache folder.
  const int code = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  m_db.reset(opened);
  if (code != SQLITE_OK) {
    HLX_LOG(ERROR) << "OPEN DB: " << path << " RES: " << code;
    m_db.reset();
    return kReplyDatabaseNotOpened;
  }
  // Views can hide endless recursive queries behind a table's name, and the schema's own
  // expressions (generated columns, views) may not call this service's functions; triggers never
  // fire on reads, but a copy has no business running any.
  int unused = 0;
  const bool hardened = sqlite3_db_config(opened, SQLITE_DBCONFIG_ENABLE_VIEW, 0, &unused) == SQLITE_OK &&
                        sqlite3_db_config(opened, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &unused) == SQLITE_OK &&
                        sqlite3_db_config(opened, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &unused) == SQLITE_OK &&
                        sqlite3_db_config(opened, SQLITE_DBCONFIG_DEFENSIVE, 1, &unused) == SQLITE_OK &&
                        RegisterSqlRegexp(opened) == SQLITE_OK;
  if (!hardened) {
    HLX_LOG(ERROR) << "OPEN DB: " << path << " RES: connection not configured";
    m_db.reset();
    return kReplyDatabaseNotOpened;
  }
  (void)sqlite3_limit(opened, SQLITE_LIMIT_LENGTH, kMaxValueLength);
  (void)sqlite3_busy_timeout(opened, kBusyTimeoutMs);
  sqlite3_progress_handler(opened, kProgressSteps, &HLXSqlite::OnProgress, m_watch.get());
  return kReplySuccess;
}

int HLXSqlite::OnProgress(void* context) {
  auto* watch = static_cast<Watch*>(context);
  // A callback from C: nothing may escape it.
  try {
    if (watch->cancelled && watch->cancelled()) {
      watch->stop = Stop::kCancelled;
    } else if (std::chrono::steady_clock::now() >= watch->deadline) {
      watch->stop = Stop::kTimeLimit;
    }
  } catch (...) {
    watch->stop = Stop::kCancelled;
  }
  return watch->stop == Stop::kNone ? 0 : 1;
}

int HLXSqlite::Prepare(const std::string& sql, StatementPtr* statement) const {
  sqlite3_stmt* prepared = nullptr;
  const int code = sqlite3_prepare_v2(m_db.get(), sql.c_str(), static_cast<int>(sql.size()), &prepared, nullptr);
  statement->reset(prepared);
  return code;
}

int HLXSqlite::Step(sqlite3_stmt* statement) const {
  if (m_watch->stop != Stop::kNone) return SQLITE_INTERRUPT;
  const int code = sqlite3_step(statement);
  if (code != SQLITE_ROW) return code;
  ++m_watch->rows;
  const int columns = sqlite3_column_count(statement);
  for (int column = 0; column < columns; ++column) {
    const int type = sqlite3_column_type(statement, column);
    if (type == SQLITE_TEXT || type == SQLITE_BLOB) m_watch->valueBytes += sqlite3_column_bytes(statement, column);
  }
  if (m_watch->rows > kMaxRows || m_watch->valueBytes > kMaxValueBytes) {
    m_watch->stop = Stop::kRowLimit;
    return SQLITE_INTERRUPT;
  }
  return code;
}

int HLXSqlite::FailureCode(int stepCode) const {
  HLX_LOG(ERROR) << "READ DB: " << m_path << " RES: " << stepCode << " ("
                 << StopName(static_cast<int>(m_watch ? m_watch->stop : Stop::kNone)) << ")";
  return m_watch && m_watch->stop == Stop::kCancelled ? kReplyCancelled : kReplyStatementFailed;
}

int HLXSqlite::ForEachRow(sqlite3_stmt* statement, const std::function<void(sqlite3_stmt*)>& row) const {
  int code;
  while ((code = Step(statement)) == SQLITE_ROW) row(statement);
  return code == SQLITE_DONE ? kReplySuccess : FailureCode(code);
}

}  // namespace hlx
