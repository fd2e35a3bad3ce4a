// The relay's update feed: which versions are news for the running one, and the installer's file name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay_update.h"

using relay::ReadUpdateFeed;
using relay::UpdateFeed;

TEST(RelayUpdate, OnlyVersionsAboveTheRunningOneAreNews) {
    const std::string json = R"({"installer":"http://h/setup.exe","versions":[
        {"version":"2.10.1","notes":["Faster backups.",7,"Fixes."]},
        {"version":"2.6.21","notes":["the running one"]},
        {"version":"2.7","notes":[]},
        {"notes":["no version"]}, "not an object", {"version":""},
        {"version":"2.6.3"}]})";
    UpdateFeed feed;
    ASSERT_TRUE(ReadUpdateFeed(json, L"2.6.21", feed));
    EXPECT_EQ(feed.installerUrl, "http://h/setup.exe");
    ASSERT_EQ(feed.newer.size(), 2u);
    EXPECT_EQ(feed.newer[0].version, L"2.10.1");  // numerically, not as text
    EXPECT_EQ(feed.newer[0].notes, (std::vector<std::wstring>{L"Faster backups.", L"Fixes."}));
    EXPECT_EQ(feed.newer[1].version, L"2.7");

    ASSERT_TRUE(ReadUpdateFeed(R"({"installer":"x"})", L"2.6.21", feed));
    EXPECT_TRUE(feed.newer.empty());
    for (const char* broken : {"", "[]", "{\"versions\":", "null"}) {
        EXPECT_FALSE(ReadUpdateFeed(broken, L"2.6.21", feed)) << broken;
    }
}

TEST(RelayUpdate, TheInstallerKeepsAPlainFileNameOnly) {
    const std::vector<std::pair<std::string, std::wstring>> cases = {
        {"http://h/dl/Setup-2.7.exe?session=1", L"Setup-2.7.exe"},
        {"http://h/dl/", L"update-setup.exe"},
        {"http://h/dl/..", L"update-setup.exe"},
        {"http://h/a%2F..%2Fb.exe", L"update-setup.exe"},
        {"setup.exe", L"update-setup.exe"},
    };
    for (const auto& [url, name] : cases) EXPECT_EQ(relay::InstallerFileName(url), name) << url;
}
