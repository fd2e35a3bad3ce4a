// Size, duration and time texts (time zones pinned through TZ, checked against Python's zoneinfo),
// version order, regular expressions, the SQL regexp function on an in-memory database, and JSON
// text.
#include "utility/hlx_json.h"
#include "utility/hlx_regex.h"
#include "utility/hlx_time.h"
#include "utility/hlx_version.h"

#include <rapidjson/document.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <time.h>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "utility/hlx_text.h"
#include "utility_test_support.h"

namespace hlx {
namespace {

using CharPtr = std::unique_ptr<char, FreeDeleter>;

std::string Take(char* text) {
  CharPtr owned(text);
  EXPECT_NE(owned, nullptr);
  return owned ? std::string(owned.get()) : std::string("<null>");
}

TEST(FormatByteSize, UnitsAndRounding) {
  struct Case {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0.00 B"},
      {1023, "1023.00 B"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {1073741823, "1024.00 MB"},
      {1073741824, "1.00 GB"},
      {5ULL << 40, "5120.00 GB"},
      {UINT64_MAX, "17179869184.00 GB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(FormatByteSize(c.bytes), c.text);
  }
}

TEST(FormatDuration, RoundsHalfUpAndShowsHoursFromOneHourOn) {
  struct Case {
    double seconds;
    const char* text;
  } cases[] = {
      {0, "00:00"},
      {0.49, "00:00"},
      {0.5, "00:01"},
      {59.5, "01:00"},
      {61, "01:01"},
      {3599.4, "59:59"},
      {3599.5, "01:00:00"},
      {3600, "01:00:00"},
      {86399.5, "24:00:00"},
      {360000, "100:00:00"},
      {-5, "00:00"},
      {-0.4, "00:00"},
      {-std::numeric_limits<double>::infinity(), "00:00"},
      {std::nan(""), "00:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(Take(FormatDuration(c.seconds)), c.text);
  }
}

TEST(FormatDuration, HugeValuesAreCutToTheSixteenByteBuffer) {
  std::string text = Take(FormatDuration(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(text.size(), 15u);
  EXPECT_EQ(Take(FormatDuration(1e300)).size(), 15u);
  // 999,999,999 hours and 59:59 is exactly 15 characters.
  EXPECT_EQ(Take(FormatDuration(999999999.0 * 3600 + 3599)), "999999999:59:59");
}

// ---- Local-time texts
// ----------------------------------------------------------------------------

// Pins the process time zone for one test.
class TimeZoneTest : public testing::Test {
 protected:
  void Pin(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  void TearDown() override {
    if (m_hadTz) {
      setenv("TZ", m_oldTz.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    os::ResetOsApi();
  }

 private:
  const char* m_initial = std::getenv("TZ");
  bool m_hadTz = m_initial != nullptr;
  std::string m_oldTz = m_initial ? m_initial : "";
};

struct ZoneCase {
  const char* zone;
  const char* appleZero;     // 2001-01-01 00:00:00 UTC
  const char* independence;  // 2024-07-04 12:00:00 UTC
};

const ZoneCase kZones[] = {
    {"UTC", "2001-01-01 00:00:00", "2024-07-04 12:00:00"},
    {"America/New_York", "2000-12-31 19:00:00", "2024-07-04 08:00:00"},
    {"Asia/Kolkata", "2001-01-01 05:30:00", "2024-07-04 17:30:00"},
};

constexpr uint64_t kIndependenceApple = 1720094400 - 978307200;

TEST_F(TimeZoneTest, AppleTimeInPinnedZones) {
  for (const ZoneCase& zone : kZones) {
    SCOPED_TRACE(zone.zone);
    Pin(zone.zone);
    EXPECT_EQ(Take(AppleTimeToLocalText(0)), zone.appleZero);
    EXPECT_EQ(Take(AppleTimeToLocalText(static_cast<uint64_t>(-5))), zone.appleZero);
    EXPECT_EQ(Take(AppleTimeToLocalText(UINT64_MAX)), zone.appleZero);  // -1 as signed
    EXPECT_EQ(Take(AppleTimeToLocalText(kIndependenceApple)), zone.independence);
    // The same moment as nanoseconds: beyond the accepted range as seconds.
    EXPECT_EQ(Take(AppleTimeToLocalText(kIndependenceApple * 1000000000ULL)), zone.independence);
  }
}

TEST_F(TimeZoneTest, AppleTimeFallsBackToNanosecondsJustPastTheYear3000) {
  Pin("UTC");
  const uint64_t lastSecond = kMaxLocalTimeSeconds - kAppleEpochUnixSeconds;
  EXPECT_EQ(Take(AppleTimeToLocalText(lastSecond)), "3000-12-31 23:59:59");
  // One second later the count is read as nanoseconds: 31,556,908,800 ns are 31 s.
  EXPECT_EQ(Take(AppleTimeToLocalText(lastSecond + 1)), "2001-01-01 00:00:31");
  EXPECT_EQ(Take(AppleTimeToLocalText(INT64_MAX)), "2293-04-11 23:47:16");
}

TEST_F(TimeZoneTest, AppleTimeIsEmptyWhenTheConversionFails) {
  os::Os().localTime = [](int64_t, std::tm*) { return false; };
  EXPECT_EQ(Take(AppleTimeToLocalText(0)), "");
  EXPECT_EQ(Take(UtcTextToLocalText("2024-07-04T12:00:00Z")), "");
}

TEST_F(TimeZoneTest, UtcTextInPinnedZones) {
  for (const ZoneCase& zone : kZones) {
    SCOPED_TRACE(zone.zone);
    Pin(zone.zone);
    EXPECT_EQ(Take(UtcTextToLocalText("2001-01-01T00:00:00Z")), zone.appleZero);
    EXPECT_EQ(Take(UtcTextToLocalText("2024-07-04T12:00:00")), zone.independence);
    EXPECT_EQ(Take(UtcTextToLocalText("2024-07-04 12:00:00.123+00:00")), zone.independence);
  }
}

TEST_F(TimeZoneTest, UtcTextEdgeCases) {
  Pin("UTC");
  EXPECT_EQ(Take(UtcTextToLocalText(nullptr)), "");
  EXPECT_EQ(Take(UtcTextToLocalText("2024-07-04T12:00:0")), "");  // 18 characters
  EXPECT_EQ(Take(UtcTextToLocalText("")), "");
  EXPECT_EQ(Take(UtcTextToLocalText("1969-12-31T23:59:59")), "");
  EXPECT_EQ(Take(UtcTextToLocalText("1970-01-01T00:00:00")), "1970-01-01 00:00:00");
  EXPECT_EQ(Take(UtcTextToLocalText("3000-12-31T23:59:59")), "3000-12-31 23:59:59");
  EXPECT_EQ(Take(UtcTextToLocalText("3001-01-01T00:00:00")), "");
  // Fields out of range carry over.
  EXPECT_EQ(Take(UtcTextToLocalText("2024-13-01T00:00:00")), "2025-01-01 00:00:00");
  EXPECT_EQ(Take(UtcTextToLocalText("2024-02-30T00:00:00")), "2024-03-01 00:00:00");
  EXPECT_EQ(Take(UtcTextToLocalText("2024-03-01T24:00:60")), "2024-03-02 00:01:00");
  EXPECT_EQ(Take(UtcTextToLocalText("2024-00-00T00:00:00")), "2023-11-30 00:00:00");
  // atoi-like reading: what is not a number counts as 0.
  EXPECT_EQ(Take(UtcTextToLocalText("2024-xx-01T00:00:00")), "2023-12-01 00:00:00");
}

// Seeded moments across the whole range, against Python's datetime and zoneinfo.
// The service's clock stamps notes and names folders by the second, and peers compare those stamps
// with the moment they read just before their request. Just after a second turns is where a coarse
// clock still shows the previous one: the OS layer's clock must already show the new second there.
TEST(CurrentTime, IsNeverBehindTheWallClockOfOtherProcesses) {
  for (int turn = 0; turn < 3; ++turn) {
    timespec before{};
    ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &before), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    timespec turned = before;
    while (turned.tv_sec == before.tv_sec) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the wall clock did not move on";
      ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &turned), 0);
    }
    EXPECT_GE(os::Os().currentTime(), static_cast<int64_t>(turned.tv_sec)) << "turn " << turn;
  }
}

TEST_F(TimeZoneTest, AgreesWithPythonZoneinfo) {
  std::mt19937_64 random(2001);
  std::vector<int64_t> counts = {0, 1, 86399, 86400};
  for (int i = 0; i < 60; ++i) {
    counts.push_back(static_cast<int64_t>(random() % (kMaxLocalTimeSeconds - kAppleEpochUnixSeconds)));
  }
  for (int i = 0; i < 40; ++i) {  // the 2000s to 2030s, where daylight-saving rules change
    counts.push_back(static_cast<int64_t>(random() % 1100000000));
  }
  std::ostringstream list;
  for (int64_t count : counts) list << count << " ";
  for (const ZoneCase& zone : kZones) {
    SCOPED_TRACE(zone.zone);
    std::string script =
        "import sys, datetime, zoneinfo\n"
        "zone = zoneinfo.ZoneInfo(sys.argv[1])\n"
        "epoch = datetime.datetime(2001, 1, 1, tzinfo=datetime.timezone.utc)\n"
        "for n in sys.argv[2].split():\n"
        "    print((epoch + datetime.timedelta(seconds=int(n))).astimezone(zone)"
        ".strftime('%Y-%m-%d %H:%M:%S'))\n";
    int status = -1;
    std::string expected = test::ShellOutput(test::Python() + " -c " + test::ShellQuote(script) + " " +
                                                 test::ShellQuote(zone.zone) + " " + test::ShellQuote(list.str()),
                                             &status);
    ASSERT_EQ(status, 0);
    Pin(zone.zone);
    std::istringstream lines(expected);
    for (int64_t count : counts) {
      std::string line;
      ASSERT_TRUE(std::getline(lines, line));
      // Python's %Y has no leading zeros below 1000; none of these years is.
      EXPECT_EQ(Take(AppleTimeToLocalText(static_cast<uint64_t>(count))), line) << count;
    }
  }
}

// The C library's own conversion of a moment, as the service writes it.
std::string LibraryLocalText(int64_t unixSeconds) {
  const std::time_t moment = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  char text[32] = "";
  if (localtime_r(&moment, &local) != nullptr) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string ServiceLocalText(int64_t unixSeconds) {
  return Take(AppleTimeToLocalText(static_cast<uint64_t>(unixSeconds - kAppleEpochUnixSeconds)));
}

// Every second around each change of the UTC offset from 2001 to 2040 (found by the C library
// itself, hour by hour), in zones whose changes are an hour, half an hour, negative in winter, or
// leap seconds; and moments spread over the weeks in between, in the order a listing meets them.
TEST_F(TimeZoneTest, LocalTextsAgreeWithTheLibraryAcrossEveryOffsetChange) {
  const char* zones[] = {"America/New_York", "Australia/Lord_Howe", "Europe/Dublin", "Asia/Kolkata", "right/UTC"};
  const int64_t first = kAppleEpochUnixSeconds, last = 2208988800;  // 2001 to 2040
  for (const char* zone : zones) {
    SCOPED_TRACE(zone);
    if (std::string(zone).rfind("right/", 0) == 0 && !test::PathExists(std::string("/usr/share/zoneinfo/") + zone)) {
      continue;  // the leap-second zones are not installed everywhere
    }
    Pin(zone);
    std::vector<int64_t> changes;
    long previous = 0;
    for (int64_t moment = first; moment < last; moment += 3600) {
      const std::time_t at = static_cast<std::time_t>(moment);
      std::tm local{};
      ASSERT_NE(localtime_r(&at, &local), nullptr);
      if (moment != first && local.tm_gmtoff != previous) changes.push_back(moment);
      previous = local.tm_gmtoff;
    }
    if (std::string(zone) != "Asia/Kolkata" && std::string(zone) != "right/UTC") {
      EXPECT_GT(changes.size(), 60u);
    }
    int mismatches = 0;
    for (int64_t change : changes) {
      for (int64_t moment = change - 3600 - 600; moment <= change + 600; ++moment) {
        if (ServiceLocalText(moment) != LibraryLocalText(moment) && ++mismatches <= 5) {
          ADD_FAILURE() << moment << ": " << ServiceLocalText(moment) << " vs " << LibraryLocalText(moment);
        }
      }
    }
    std::mt19937_64 random(7);
    for (int64_t moment = last; moment > first; moment -= static_cast<int64_t>(random() % 200000)) {
      if (ServiceLocalText(moment) != LibraryLocalText(moment) && ++mismatches <= 5) {
        ADD_FAILURE() << moment << ": " << ServiceLocalText(moment) << " vs " << LibraryLocalText(moment);
      }
    }
    // Around the new years of 2006 and 2017, where right/UTC, which counts leap seconds, shows 23:59:60.
    for (int64_t newYear : {int64_t{1136073600}, int64_t{1483228800}}) {
      for (int64_t moment = newYear - 40; moment <= newYear + 40; ++moment) {
        EXPECT_EQ(ServiceLocalText(moment), LibraryLocalText(moment)) << moment;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// ---- Versions
// ------------------------------------------------------------------------------------

TEST(CompareVersionStrings, NumericDottedComparison) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {
      {"9.3", "9.3", 0},    {"9.3.1", "9.3", 1}, {"9.3", "9.3.1", -1},  {"10.0", "9.3", 1}, {"9.10", "9.9", 1},
      {"4.2", "4.2.0", -1}, {"12", "12", 0},     {"1.0", "1", 1},       {"2", "10", -1},    {"", "", 0},
      {nullptr, "1", -1},   {"1", nullptr, 1},   {nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "null") + " vs " + (c.b ? c.b : "null"));
    EXPECT_EQ(CompareVersionStrings(c.a, c.b), c.result);
  }
}

TEST(OrderMajorVersionsFor, OwnSchemaFirstThenNewerThenOlder) {
  struct Case {
    const char* version;
    std::vector<int> order;
  } cases[] = {
      {"9.3", {9, 10, 8, 7, 6, 5, 4}},   {"3.1", {4, 5, 6, 7, 8, 9, 10}},  {nullptr, {4, 5, 6, 7, 8, 9, 10}},
      {"", {4, 5, 6, 7, 8, 9, 10}},      {"4.3", {4, 5, 6, 7, 8, 9, 10}},  {"4", {4, 5, 6, 7, 8, 9, 10}},
      {"7.1.2", {7, 8, 9, 10, 6, 5, 4}}, {"10.2", {10, 9, 8, 7, 6, 5, 4}}, {"12.0", {10, 9, 8, 7, 6, 5, 4}},
      {"5.0", {5, 6, 7, 8, 9, 10, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version ? c.version : "null");
    EXPECT_EQ(OrderMajorVersionsFor(c.version), c.order);
  }
}

// ---- Regular expressions
// -------------------------------------------------------------------------

TEST(Regex, WholeMatchReplaceAndBadPatterns) {
  EXPECT_TRUE(RegexMatch("abc", "a.c"));
  EXPECT_FALSE(RegexMatch("abcd", "a.c"));  // the whole text must match
  EXPECT_TRUE(RegexMatch("IMG_0001.JPG", "IMG_[0-9]{4}\\.(JPG|PNG)"));
  EXPECT_EQ(RegexReplaceAll("a1b22c333", "[0-9]+", "#"), "a#b#c#");
  EXPECT_EQ(RegexReplaceAll("John Smith", "(\\w+) (\\w+)", "$2, $1"), "Smith, John");
  for (const char* bad : {"(", "[a-", "a{2,1}", "*a", "(?<x)"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(RegexMatch("(", bad));
    EXPECT_EQ(RegexReplaceAll("text (", bad, "x"), "text (");
  }
}

TEST(Regex, FindAssetsTableNamesInOrder) {
  EXPECT_EQ(FindAssetsTableNames("SELECT * FROM Z_12ASSETS JOIN Z_3ASSETS ON Z_ASSETS.x, Z_7ALBUMS"),
            (std::vector<std::string>{"Z_12ASSETS", "Z_3ASSETS"}));
  EXPECT_TRUE(FindAssetsTableNames("no tables").empty());
}

class SqlRegexpTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &m_db), SQLITE_OK);
    ASSERT_EQ(RegisterSqlRegexp(m_db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(m_db); }

  // Runs a one-value query: its integer, or the error text in *error.
  int Query(const std::string& sql, std::string* error) {
    sqlite3_stmt* statement = nullptr;
    error->clear();
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(m_db);
      return -1;
    }
    int value = -1;
    int code = sqlite3_step(statement);
    if (code == SQLITE_ROW) {
      value = sqlite3_column_int(statement, 0);
    } else if (code != SQLITE_DONE) {
      *error = sqlite3_errmsg(m_db);
    }
    sqlite3_finalize(statement);
    return value;
  }

  sqlite3* m_db = nullptr;
};

TEST_F(SqlRegexpTest, XRegexpYSearchesXForPatternYWithoutRegardToCase) {
  std::string error;
  EXPECT_EQ(Query("SELECT 'Hello World' REGEXP 'w.r'", &error), 1);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Query("SELECT 'abc' REGEXP 'x'", &error), 0);
  EXPECT_EQ(Query("SELECT 'abc' REGEXP '^B'", &error), 0);
  EXPECT_EQ(Query("SELECT regexp('B', 'abc')", &error), 1);
}

TEST_F(SqlRegexpTest, CountsRowsOfATable) {
  std::string error;
  ASSERT_EQ(sqlite3_exec(m_db,
                         "CREATE TABLE t(name TEXT);"
                         "INSERT INTO t VALUES ('Z_12ASSETS'),('z_3assets'),('Z_ASSETS'),('ZASSETS_1'),"
                         "('Z_9ASSETSX');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE name REGEXP '^Z_[0-9]+ASSETS$'", &error), 2);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE name REGEXP 'ASSETS'", &error), 5);
}

TEST_F(SqlRegexpTest, BadPatternAndInvalidArgumentsAreSqlErrors) {
  std::string error;
  EXPECT_EQ(Query("SELECT 'abc' REGEXP '('", &error), -1);
  EXPECT_NE(error.find("regexp()"), std::string::npos) << error;
  EXPECT_EQ(Query("SELECT NULL REGEXP 'a'", &error), -1);
  EXPECT_EQ(error, "SQL function regexp() called with invalid arguments.\n");
  EXPECT_EQ(Query("SELECT '' REGEXP 'a'", &error), -1);
  EXPECT_EQ(error, "SQL function regexp() called with invalid arguments.\n");
  EXPECT_EQ(Query("SELECT 'a' REGEXP ''", &error), -1);
  EXPECT_EQ(error, "SQL function regexp() called with invalid arguments.\n");
  // The connection is still usable afterwards.
  EXPECT_EQ(Query("SELECT 'a' REGEXP 'A'", &error), 1);
}

TEST_F(SqlRegexpTest, ArgumentCountOtherThanTwoGivesTheInvalidArgumentsError) {
  ASSERT_EQ(
      sqlite3_create_function_v2(m_db, "regexp_any", -1, SQLITE_UTF8, nullptr, SqlRegexp, nullptr, nullptr, nullptr),
      SQLITE_OK);
  std::string error;
  EXPECT_EQ(Query("SELECT regexp_any('a')", &error), -1);
  EXPECT_EQ(error, "SQL function regexp() called with invalid arguments.\n");
  EXPECT_EQ(Query("SELECT regexp_any('a', 'a', 'a')", &error), -1);
  EXPECT_EQ(error, "SQL function regexp() called with invalid arguments.\n");
}

// ---- JSON
// ----------------------------------------------------------------------------------------

TEST(JsonValueToString, CompactText) {
  rapidjson::Document document;
  document.Parse(R"({ "a" : [1, 2.5, "x\"y", true], "b": null, "c": {"d": "\u00e9"} })");
  ASSERT_FALSE(document.HasParseError());
  EXPECT_EQ(JsonValueToString(document), "{\"a\":[1,2.5,\"x\\\"y\",true],\"b\":null,\"c\":{\"d\":\"\xC3\xA9\"}}");
  rapidjson::Value number(std::nan(""));
  EXPECT_EQ(JsonValueToString(number), "");
  rapidjson::Value empty(rapidjson::kArrayType);
  EXPECT_EQ(JsonValueToString(empty), "[]");
}

}  // namespace
}  // namespace hlx
