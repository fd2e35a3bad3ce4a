// The backup manager's list: duplicates, sizes and deletions, the
// order by time, the status line and the keys of checked rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup_list.h"
#include "backup_runs.h"
#include "vnl_size_text.h"

using namespace brisel;

namespace {

BackupPtr Backup(const std::wstring& folder, const std::wstring& time) {
    auto backup = std::make_shared<iOSBackup>();
    backup->key = folder;
    backup->time = time;
    return backup;
}

std::vector<std::wstring> Keys(const BackupList& list) {
    std::vector<std::wstring> keys;
    for (const BackupPtr& b : list.Items()) keys.push_back(b->key);
    return keys;
}

}  // namespace

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

// What the status line says of the runs started from the dialogs, as the relay reports them.
TEST(BackupRuns, ProgressThenTheOutcomeInWords) {
    using sdk::backups::BackupRunReport;
    using sdk::backups::RunKind;
    BackupRuns runs;
    EXPECT_EQ(runs.Text(), L"");
    EXPECT_EQ(runs.RunningPercent(), -1);
    runs.Start(RunKind::Backup, L"udid-a", L"Ada");
    EXPECT_EQ(runs.Text(), L"Backing up \"Ada\": 0%");
    EXPECT_TRUE(runs.Apply(BackupRunReport{RunKind::Backup, L"udid-a", 42, false, 0, L""}));
    EXPECT_FALSE(runs.Apply(BackupRunReport{RunKind::Backup, L"udid-a", 42, false, 0, L""}));
    EXPECT_EQ(runs.Text(), L"Backing up \"Ada\": 42%");
    EXPECT_EQ(runs.RunningPercent(), 42);

    const struct {
        RunKind kind;
        int64_t code;
        const wchar_t* serviceText;
        const wchar_t* line;
    } kEnds[] = {
        {RunKind::Backup, 0, L"", L"Backup of \"Ada\" finished."},
        {RunKind::Restore, 0, L"", L"Restore of \"Ada\" finished; the device restarts now."},
        {RunKind::Backup, 45, L"", L"Backup of \"Ada\" failed: the device was disconnected."},
        {RunKind::Restore, 207, L"The backup password is not correct.",
         L"Restore of \"Ada\" failed: the backup password is wrong."},
        {RunKind::Backup, 105, L"",
         L"Backup of \"Ada\" failed: the disk is full: there is not enough free space on this computer."},
        {RunKind::Backup, 6, L"Task cancelled.", L"Backup of \"Ada\" failed: it was cancelled."},
        {RunKind::Backup, 60, L"", L"Backup of \"Ada\" failed: another backup or restore of this device is running."},
        {RunKind::Restore, 61, L"BackupIncompleteError",
         L"Restore of \"Ada\" failed: the backup is incomplete (files it lists are missing); the device was not "
         L"changed."},
        {RunKind::Backup, 2, L"The backup folder cannot be written.",
         L"Backup of \"Ada\" failed: the device service reported error 2 (The backup folder cannot be written.)."},
    };
    for (const auto& end : kEnds) {
        runs.Start(end.kind, L"udid-a", L"Ada");
        EXPECT_TRUE(runs.Apply(BackupRunReport{end.kind, L"udid-a", 50, true, end.code, end.serviceText}));
        EXPECT_EQ(runs.Text(), end.line);
        EXPECT_EQ(runs.HasFailure(), end.code != 0) << end.code;
        EXPECT_EQ(runs.RunningPercent(), -1);
        // An outcome stays: a late progress report does not bring the run back.
        EXPECT_FALSE(runs.Apply(BackupRunReport{end.kind, L"udid-a", 60, false, 0, L""}));
    }

    // Two devices: the newest first; the ended one goes once it has been shown, a running one stays.
    runs.Start(RunKind::Restore, L"udid-b", L"Bo");
    EXPECT_EQ(runs.Text(),
              L"Restoring \"Bo\": 0%   Backup of \"Ada\" failed: the device service reported error 2 "
              L"(The backup folder cannot be written.).");
    const std::vector<BackupRuns::Line> lines = runs.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, L"Restoring \"Bo\": 0%");
    EXPECT_FALSE(lines[0].failed) << "a run in progress is not shown as a failure";
    EXPECT_TRUE(lines[1].failed);
    runs.ForgetEnded();
    EXPECT_EQ(runs.Text(), L"Restoring \"Bo\": 0%");
    // A report on a run started nowhere here is still shown, under the device's key.
    EXPECT_TRUE(runs.Apply(BackupRunReport{RunKind::Backup, L"udid-c", 0, true, 45, L""}));
    EXPECT_EQ(runs.Text().substr(0, 18), L"Backup of \"udid-c\"");
}
