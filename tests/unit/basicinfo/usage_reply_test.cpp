// Reading the battery and storage messages into the second document of request 300: the shapes the
// diagnostics reply and the AssetMetrics message may take, the category rules (sub-categories,
// categories without a row of their own, top-level integers) and the storage members' order,
// checked as the JSON text the desktop receives.
#include "utility/module/basicinfo/hlx_device_usage.h"

#include <gtest/gtest.h>

#include <string>

#include "unit/device/device_test_support.h"
#include "utility/hlx_json.h"

namespace hlx {
namespace {

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
}

std::string Metrics(const std::string& params) {
  return Plist("<dict><key>Command</key><string>AssetMetrics</string><key>Params</key>" + params + "</dict>");
}

std::string Category(int64_t count, int64_t size, const std::string& more = "") {
  return "<dict><key>_Count</key><integer>" + std::to_string(count) + "</integer><key>_PhysicalSize</key><integer>" +
         std::to_string(size) + "</integer>" + more + "</dict>";
}

// The storage members in their order, from the figures the test states.
struct Storage {
  int64_t app = 0, appCount = 0, photo = 0, photoCount = 0, roll = 0, rollCount = 0, movie = 0, movieCount = 0;
  int64_t book = 0, bookCount = 0, music = 0, musicCount = 0, tone = 0, toneCount = 0;
  int64_t free = 0, total = 0, others = 0;
  std::string extras;  // ",\"Name_Count\":n,..." as the desktop should see it
};

std::string StorageJson(const Storage& s) {
  auto member = [](const char* name, int64_t value) {
    return std::string("\"") + name + "\":" + std::to_string(value);
  };
  return "{" + member("Application_PhysicalSize", s.app) + "," + member("Application_Count", s.appCount) + "," +
         member("Photo_PhysicalSize", s.photo) + "," + member("Photo_Count", s.photoCount) + "," +
         member("CameraRoll_PhysicalSize", s.roll) + "," + member("CameraRoll_Count", s.rollCount) + "," +
         member("Movie_PhysicalSize", s.movie) + "," + member("Movie_Count", s.movieCount) + "," +
         member("Book_PhysicalSize", s.book) + "," + member("Book_Count", s.bookCount) + "," +
         member("Music_PhysicalSize", s.music) + "," + member("Music_Count", s.musicCount) + "," +
         member("Ringtone_PhysicalSize", s.tone) + "," + member("Ringtone_Count", s.toneCount) + "," +
         member("Data_FreeSize", s.free) + "," + member("Data_PhysicalSize", s.total) + "," +
         member("Data_Others_PhysicalSize", s.others) + s.extras + "}";
}

struct Outcome {
  bool result = false;
  bool more = true;
  bool metricsRead = false;
  std::string json;
};

Outcome Parse(DeviceUsageContext::Mode mode, const std::string& message, bool addStorage) {
  rapidjson::Document target(rapidjson::kObjectType);
  DeviceUsageContext context("udid", &target, &target.GetAllocator());
  context.mode = mode;
  Outcome outcome;
  ParseUsageReply(&context, reinterpret_cast<const uint8_t*>(message.data()), static_cast<int64_t>(message.size()),
                  &outcome.more, &outcome.result);
  if (addStorage) AddStorageMembers(&context);
  outcome.metricsRead = context.metricsRead;
  outcome.json = JsonValueToString(target);
  return outcome;
}

class UsageReplyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::BindSimulatedLibrary()); }
};

TEST_F(UsageReplyTest, AssetMetricsBecomeTheStorageMembers) {
  const std::string int64Min = "-9223372036854775808";
  struct Case {
    const char* name;
    std::string message;
    bool parsed;
    Storage expected;
  } cases[] = {
      {"sub-categories replace their parent; unnamed categories become extra members in name order",
       Metrics("<dict><key>_PhysicalSize</key><integer>1000</integer><key>_FreeSize</key><integer>300</integer>"
               "<key>_PurgeableSize</key><integer>7</integer>"
               "<key>Application</key>" +
               Category(2, 100, "<key>_PurgeableSize</key><integer>50</integer>") + "<key>Photo</key>" +
               Category(9, 90,
                        "<key>CameraRoll</key>" + Category(3, 60, "<key>Deeper</key>" + Category(1, 1)) +
                            "<key>PhotoStream</key>" + Category(4, 25)) +
               "<key>Music</key>" + Category(5, 200) + "<key>Podcast</key>" + Category(1, 10) + "<key>TVShow</key>" +
               Category(2, 0) +
               "<key>Zeta</key><dict><key>_PhysicalSize</key><integer>5"
               "</integer></dict><key>Alpha</key>" +
               Category(1, 2) + "</dict>"),
       true,
       {100, 2, 0, 0, 60, 3, 0, 0, 0, 0, 200, 5, 0, 0, 300, 1000, 1000 - 300 - 200 - 60 - 100,
        ",\"Alpha_Count\":1,\"Alpha_PhysicalSize\":2,\"PhotoStream_Count\":4,\"PhotoStream_PhysicalSize\":25,"
        "\"Podcast_Count\":1,\"Podcast_PhysicalSize\":10"}},
      {"a photo category without sub-categories counts as photos",
       Metrics("<dict><key>_PhysicalSize</key><integer>500</integer><key>Photo</key>" + Category(3, 30) +
               "<key>Book</key>" + Category(7, 70) + "<key>Movie</key>" + Category(1, 40) + "<key>Ringtone</key>" +
               Category(2, 4) + "</dict>"),
       true,
       {0, 0, 30, 3, 0, 0, 40, 1, 70, 7, 0, 0, 4, 2, 0, 500, 500 - 4 - 70 - 40 - 30, ""}},
      {"others is negative when the categories and free space exceed the total",
       Metrics("<dict><key>_PhysicalSize</key><integer>100</integer><key>_FreeSize</key><integer>80</integer>"
               "<key>Application</key>" +
               Category(1, 50) + "</dict>"),
       true,
       {50, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 80, 100, -30, ""}},
      {"mistyped figures count as absent",
       Metrics("<dict><key>Application</key><dict><key>_Count</key><string>3</string><key>_PhysicalSize</key>"
               "<integer>10</integer></dict><key>_FreeSize</key><string>9</string></dict>"),
       true,
       {10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -10, ""}},
      {"figures at the ends of the range saturate instead of overflowing",
       Metrics("<dict><key>_PhysicalSize</key><integer>" + int64Min +
               "</integer><key>_FreeSize</key><integer>1"
               "</integer><key>Music</key>" +
               Category(1, 9223372036854775807) + "</dict>"),
       true,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, INT64_MAX, 1, 0, 0, 1, INT64_MIN, INT64_MIN, ""}},
      {"without Params nothing is read",
       Plist("<dict><key>Command</key><string>AssetMetrics</string></dict>"),
       false,
       {}},
      {"Params that are not a dictionary", Metrics("<array><integer>1</integer></array>"), false, {}},
      {"a list instead of a dictionary", Plist("<array>" + Category(1, 1) + "</array>"), false, {}},
      {"bytes that are no property list", "AssetMetrics and then some", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Parse(DeviceUsageContext::Mode::kStorage, c.message, true);
    EXPECT_FALSE(outcome.more) << "one message is all the handler reads";
    EXPECT_EQ(outcome.result, c.parsed);
    EXPECT_EQ(outcome.metricsRead, c.parsed);
    EXPECT_EQ(outcome.json, StorageJson(c.expected));
  }
}

TEST_F(UsageReplyTest, OnlyAnIntegerCycleCountInItsPlaceIsAdded) {
  auto reply = [](const std::string& diagnostics) {
    return Plist("<dict><key>Diagnostics</key>" + diagnostics + "<key>Status</key><string>Success</string></dict>");
  };
  struct Case {
    const char* name;
    std::string message;
    const char* json;
  } cases[] = {
      {"an integer",
       reply("<dict><key>IORegistry</key><dict><key>CycleCount</key><integer>321</integer>"
             "<key>DesignCapacity</key><integer>2716</integer></dict></dict>"),
       "{\"CycleCount\":321}"},
      {"a string", reply("<dict><key>IORegistry</key><dict><key>CycleCount</key><string>321</string></dict></dict>"),
       "{}"},
      {"a real", reply("<dict><key>IORegistry</key><dict><key>CycleCount</key><real>321.0</real></dict></dict>"), "{}"},
      {"no IORegistry", reply("<dict><key>CycleCount</key><integer>321</integer></dict>"), "{}"},
      {"Diagnostics not a dictionary", reply("<string>none</string>"), "{}"},
      {"the reply inside a list",
       Plist("<array><dict><key>Diagnostics</key><dict><key>IORegistry</key><dict><key>CycleCount</key><integer>3"
             "</integer></dict></dict></dict></array>"),
       "{}"},
      {"not a property list", "\x01\x02\x03", "{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Parse(DeviceUsageContext::Mode::kBattery, c.message, false);
    EXPECT_FALSE(outcome.more);
    EXPECT_EQ(outcome.json, c.json);
    EXPECT_EQ(outcome.result, std::string(c.json) != "{}");
    EXPECT_FALSE(outcome.metricsRead);
  }
}

TEST_F(UsageReplyTest, WithoutMetricsTheStorageMembersAreAllZero) {
  rapidjson::Document target(rapidjson::kObjectType);
  DeviceUsageContext context("udid", &target, &target.GetAllocator());
  AddStorageMembers(&context);
  EXPECT_EQ(JsonValueToString(target), StorageJson(Storage{}));
}

}  // namespace
}  // namespace hlx
