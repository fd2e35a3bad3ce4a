// The app module's store-metadata mapping, item-id rule and service messages.
#include "utility/hlx_app_exchange.h"

#include <rapidjson/document.h>

#include <string>

#include <gtest/gtest.h>

#include "unit/device/device_test_support.h"
#include "utility/hlx_json.h"

namespace hlx {
namespace {

class AppExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::BindSimulatedLibrary()); }

  // The JSON text of an app object holding `existing` members, after the mapping of `plistBody`.
  static std::string Mapped(const std::string& plistBody, const char* existing = nullptr) {
    rapidjson::Document app(rapidjson::kObjectType);
    if (existing != nullptr) {
      app.AddMember("CFBundleIdentifier", rapidjson::Value(existing, app.GetAllocator()), app.GetAllocator());
    }
    const std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + plistBody + "</plist>";
    MapItunesMetadata(&app, app.GetAllocator(), plist);
    return JsonValueToString(app);
  }
};

TEST_F(AppExchangeTest, MetadataMappingKeepsPresentMembersAndAddsBothAppleIds) {
  const std::string text = Mapped(
      "<dict><key>softwareVersionBundleId</key><string>com.example.store</string>"
      "<key>releaseDate</key><string>2019-01-02</string><key>appleId</key><string>top@example.com</string>"
      "<key>com.apple.iTunesStore.downloadInfo</key><dict><key>accountInfo</key><dict>"
      "<key>AppleID</key><string>account@example.com</string></dict></dict></dict>",
      "com.example.device");
  EXPECT_EQ(text,
            "{\"CFBundleIdentifier\":\"com.example.device\",\"releaseDate\":\"\","
            "\"AppleID\":\"top@example.com\",\"AppleID\":\"account@example.com\"}");
  const std::string dated = Mapped("<dict><key>releaseDate</key><string>2019-01-02T03:04:05Z</string></dict>");
  EXPECT_EQ(dated.size(), std::string("{\"releaseDate\":\"2019-01-02 03:04:05\"}").size()) << dated;
  EXPECT_EQ(Mapped("<array><string>not a dictionary</string></array>"), "{}");
  EXPECT_EQ(Mapped("<dict><key>itemName</key>"), "{}");
}

TEST_F(AppExchangeTest, ItemIdsThatCouldAddressAnotherPathAreRefused) {
  for (const char* usable : {"com.example.app", "com.example.\"quoted\"", "a.b-c_d", "com.exämple"}) {
    EXPECT_TRUE(IsUsableItemId(usable)) << usable;
  }
  for (const char* refused : {"", ".", "..", "../x", "a/b", "a\\b", "a..b", "tab\tid", "bell\x07", "\xff\xfe"}) {
    EXPECT_FALSE(IsUsableItemId(refused)) << refused;
  }
  EXPECT_FALSE(IsUsableItemId(std::string("com.example\0.x", 14))) << "a NUL";
}

TEST_F(AppExchangeTest, MessagesCarryTextsWithMarkupAsTexts) {
  const std::string id = "com.example.<a>&\"x\"</string>";
  BinaryPlistPtr message = AppMessage({{"ApplicationIdentifier", id}, {"Command", "Uninstall"}}).Serialize();
  ASSERT_TRUE(message);
  std::shared_ptr<const CIOSDictionary> read = FirstDictionary(message->bytes, message->length);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), 2u);
  EXPECT_EQ(*read->Find("ApplicationIdentifier")->GetString(), id);

  BinaryPlistPtr browse = AppMessage({{"Command", "Browse"}}).UserAppOptions({"Path", "CFBundleName"}).Serialize();
  ASSERT_TRUE(browse);
  read = FirstDictionary(browse->bytes, browse->length);
  const CIOSDictionary* options = read->Find("ClientOptions")->GetDictionary();
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(*options->Find("ApplicationType")->GetString(), "User");
  EXPECT_EQ(options->Find("ReturnAttributes")->GetArray()->size(), 2u);

  EXPECT_FALSE(AppMessage({{"bundleId", "\xff"}}).Serialize()) << "a text that is not UTF-8";
}

}  // namespace
}  // namespace hlx
