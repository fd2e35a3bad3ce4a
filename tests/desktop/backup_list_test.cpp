// The backup manager's list: records read from the relay's members, duplicates, sizes and deletions, the
// order by time, the status line and the keys of checked rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup_list.h"
#include "vnl_size_text.h"

using namespace brisel;

namespace {

std::vector<Member> Members(const std::wstring& folder, const std::wstring& time, const wchar_t* size = nullptr) {
    std::vector<Member> members{{L"Product Version", L"17.2"}, {L"Build Version", L"21C62"},
                                {L"Serial Number", L"SN1"},     {L"Device Name", L"Phone"},
                                {L"Unique Identifier", L"00008101-abc"}, {L"Last Backup Date", time},
                                {L"Product Type", L"iPhone14,2"}, {L"Path", folder}, {L"IsEncrypted", L"false"}};
    if (size != nullptr) members.emplace_back(L"Size", size);
    return members;
}

BackupPtr Backup(const std::wstring& folder, const std::wstring& time) {
    bool hasSize = true;
    BackupPtr backup = BackupFromMembers(Members(folder, time), hasSize);
    EXPECT_FALSE(hasSize);
    return backup;
}

std::vector<std::wstring> Keys(const BackupList& list) {
    std::vector<std::wstring> keys;
    for (const BackupPtr& b : list.Items()) keys.push_back(b->key);
    return keys;
}

}  // namespace

TEST(BackupList, ReadsRelayRecordsAndRefusesBrokenOnes) {
    bool hasSize = false;
    std::vector<Member> members = Members(L"C:\\B\\one\\", L"2024-01-02 10:00:00", L"4096");
    members[8].second = L"true";
    BackupPtr backup = BackupFromMembers(members, hasSize);
    ASSERT_NE(backup, nullptr);
    EXPECT_TRUE(hasSize);
    EXPECT_EQ(backup->key, L"C:\\B\\one\\");
    EXPECT_EQ(backup->name, L"Phone");
    EXPECT_EQ(backup->model, L"iPhone 13 Pro");
    EXPECT_EQ(backup->serialNumber, L"SN1");
    EXPECT_EQ(backup->deviceIdentifier, L"00008101-abc");
    EXPECT_EQ(backup->size, 4096);
    EXPECT_TRUE(backup->encrypted);
    EXPECT_EQ(VersionText(*backup), L"17.2 (21C62)");

    EXPECT_EQ(BackupFromMembers(Members(L"", L"t"), hasSize), nullptr);  // no folder
    EXPECT_EQ(BackupFromMembers({{L"Device Name", L"Phone"}}, hasSize), nullptr);
    EXPECT_EQ(BackupFromMembers(Members(L"C:\\x\\", L"t", L"-5"), hasSize), nullptr);  // no byte count
    EXPECT_EQ(BackupFromMembers(Members(L"C:\\x\\", L"t", L"12.5"), hasSize), nullptr);
}

TEST(BackupList, DropsDuplicatesSortsNewestFirstAndRemoves) {
    BackupList list;
    EXPECT_TRUE(list.Add(Backup(L"a", L"2023-12-31 23:59:59")));
    EXPECT_TRUE(list.Add(Backup(L"b", L"2024-02-01 08:00:00")));
    EXPECT_TRUE(list.Add(Backup(L"c", L"2024-01-15 12:00:00")));
    EXPECT_FALSE(list.Add(Backup(L"b", L"2025-01-01 00:00:00")));
    EXPECT_FALSE(list.Add(nullptr));
    list.SortByTime();
    EXPECT_EQ(Keys(list), (std::vector<std::wstring>{L"b", L"c", L"a"}));
    EXPECT_EQ(list.Items()[0]->time, L"2024-02-01 08:00:00");  // the first record of a key stays

    EXPECT_EQ(list.At(1)->key, L"c");  // the row's tooltip
    EXPECT_EQ(list.At(3), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);

    EXPECT_EQ(list.Remove(L"c"), 1);
    EXPECT_EQ(list.Remove(L"c"), -1);
    EXPECT_EQ(Keys(list), (std::vector<std::wstring>{L"b", L"a"}));
    EXPECT_TRUE(list.Add(Backup(L"c", L"x")));  // the key is free again
}

TEST(BackupList, StatusLineCountsAndSumsKnownSizes) {
    BackupList list;
    const int64_t gb = int64_t{1} << 30;
    for (int i = 1; i <= 3; ++i) list.Add(Backup(std::to_wstring(i), L"t"));
    EXPECT_EQ(list.SummaryText(), L"3 backup(s), " + vnl::FormatByteSize(0));
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(list.SetSize(std::to_wstring(i), i * gb));
    EXPECT_FALSE(list.SetSize(L"unknown", gb));
    EXPECT_EQ(list.SummaryText(), L"3 backup(s), " + vnl::FormatByteSize(6 * static_cast<uint64_t>(gb)));
    list.Remove(L"3");
    EXPECT_EQ(list.SummaryText(), L"2 backup(s), " + vnl::FormatByteSize(3 * static_cast<uint64_t>(gb)));
    list.Clear();
    EXPECT_EQ(list.SummaryText(), L"0 backup(s), " + vnl::FormatByteSize(0));
}

TEST(BackupList, CheckedKeysAndDeviceBackups) {
    BackupList list;
    BackupPtr mine = Backup(L"m", L"t");
    mine->deviceIdentifier = L"00008101-aaaa";
    BackupPtr other = Backup(L"o", L"t");
    other->deviceIdentifier = L"00008101-bbbb";
    list.Add(mine);
    list.Add(other);
    EXPECT_EQ(list.KeysOf({false, true}), (std::vector<std::wstring>{L"o"}));
    EXPECT_TRUE(list.KeysOf({false, false}).empty());
    EXPECT_EQ(list.KeysOf({true, true, true}).size(), 2u);  // more flags than rows

    std::vector<BackupPtr> found;
    list.AppendForDevice(L"aaaa", found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], mine);
}
