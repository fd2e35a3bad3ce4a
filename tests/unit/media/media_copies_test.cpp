// Local copies of the device's media databases.
#include "utility/module/media/hlx_media_copies.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "unit/utility/utility_test_support.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_sqlite.h"
#include "utility/hlx_startup_state.h"

namespace hlx {
namespace {

// A listing reads one copy on two connections at once, and the first reader of a WAL copy holds a
// lock while it builds the copy's index: a reader that meets a lock waits for it instead of failing.
TEST(DatabaseCopy, AReaderWaitsForALockRatherThanFailing) {
  test::TempFolder folder;
  const std::string path = folder / "copy.sqlitedb";
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "CREATE TABLE item(id); INSERT INTO item VALUES(1); BEGIN EXCLUSIVE;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  std::thread release([writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    (void)sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
  });
  HLXSqlite reader;
  StatementPtr count;
  EXPECT_EQ(reader.Open(path), 0);
  ASSERT_EQ(reader.Prepare("SELECT count(*) FROM item", &count), SQLITE_OK);
  EXPECT_EQ(reader.Step(count.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count.get(), 0), 1);
  release.join();
  count.reset();
  sqlite3_close(writer);
}

// A statement that would run without end (rows of a recursive query) is ended by the connection's time
// bound with kReplyStatementFailed, and by the request's cancel with kReplyCancelled, within moments.
TEST(DatabaseCopy, AnEndlessStatementEndsAtTheTimeBoundOrTheCancel) {
  test::TempFolder folder;
  const std::string path = folder / "copy.sqlitedb";
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "CREATE TABLE item(id)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(writer);
  constexpr char kEndless[] = "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT sum(x) FROM n";
  StartupState& state = GetStartupState();
  const int32_t before = state.sqlTimeLimitMs;
  state.sqlTimeLimitMs = 300;
  for (bool cancel : {false, true}) {
    const auto started = std::chrono::steady_clock::now();
    HLXSqlite reader;
    ASSERT_EQ(reader.Open(path,
                          [cancel, started] {
                            return cancel &&
                                   std::chrono::steady_clock::now() - started > std::chrono::milliseconds(100);
                          }),
              0);
    StatementPtr statement;
    ASSERT_EQ(reader.Prepare(kEndless, &statement), SQLITE_OK);
    EXPECT_EQ(reader.ForEachRow(statement.get(), [](sqlite3_stmt*) {}),
              cancel ? kReplyCancelled : kReplyStatementFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << cancel;
  }
  state.sqlTimeLimitMs = before;
}

}  // namespace
}  // namespace hlx
