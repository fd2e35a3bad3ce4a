// The backup manager's dialogs apart from their windows (the devices of the drop-down box as devices come
// and go, the default folder, the target folder, the restored row, the time column's width) and the
// relay's backup requests against a fake link: what the service is asked, what the host is answered and
// that every payload handed over is freed (the sanitizer build checks).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "backup_list.h"
#include "command_names.h"
#include "device_choice.h"
#include "feature_codes.h"
#include "relay_backups.h"
#include "relay_test_link.h"

namespace {

using namespace brisel;
using relay::BackupService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeLink;

std::vector<std::wstring> Names(const DeviceChoice& choice) {
    std::vector<std::wstring> names;
    for (const WideStringPair& device : choice.Devices()) names.push_back(device.second);
    return names;
}

TEST(BackupDialogs, TheDeviceBoxFollowsArrivalsAndDepartures) {
    DeviceChoice choice;
    choice.Replace(nullptr);  // the host may answer no list at all
    EXPECT_EQ(choice.SelectedDevice(), nullptr);

    bool selectedFirst = false;
    EXPECT_TRUE(choice.Add(L"a", L"Ada", selectedFirst));
    EXPECT_TRUE(selectedFirst);  // the empty box selects its first arrival
    EXPECT_TRUE(choice.Add(L"b", L"Bo", selectedFirst));
    EXPECT_FALSE(selectedFirst);
    EXPECT_FALSE(choice.Add(L"a", L"Ada again", selectedFirst));
    EXPECT_TRUE(choice.Add(L"c", L"Cy", selectedFirst));
    choice.Select(2);

    // Another device leaves: the selection stays on the same device, the names in step.
    DeviceChoice::Removal removal = choice.Remove(L"a");
    EXPECT_EQ(removal.index, 0);
    EXPECT_FALSE(removal.selectionMoved);
    EXPECT_EQ(choice.SelectedDevice()->first, L"c");
    EXPECT_EQ(Names(choice), (std::vector<std::wstring>{L"Bo", L"Cy"}));
    EXPECT_EQ(choice.Remove(L"C").index, -1);  // keys compare exactly

    // The selected device leaves: the first remaining one is selected; the last one leaves: none.
    removal = choice.Remove(L"c");
    EXPECT_TRUE(removal.selectionMoved);
    EXPECT_EQ(choice.SelectedDevice()->first, L"b");
    removal = choice.Remove(L"b");
    EXPECT_TRUE(removal.nowEmpty);
    EXPECT_EQ(choice.SelectedDevice(), nullptr);
    choice.Select(5);
    EXPECT_EQ(choice.Selected(), -1);
}

TEST(BackupDialogs, FoldersAndTheRestoredRow) {
    EXPECT_EQ(FolderFromAnswer(nullptr), L"");
    const std::vector<std::wstring> none, one{L"Z:\\one"}, two{L"Z:\\one", L"Z:\\two"};
    EXPECT_EQ(FolderFromAnswer(&none), L"");
    EXPECT_EQ(FolderFromAnswer(&one), L"Z:\\one");
    EXPECT_EQ(FolderFromAnswer(&two), L"Z:\\two");

    EXPECT_EQ(TargetFolder(false, L"C:\\Backups"), L"");
    EXPECT_EQ(TargetFolder(true, L"C:\\Backups"), L"C:\\Backups\\");
    EXPECT_EQ(TargetFolder(true, L"C:\\Backups\\"), L"C:\\Backups\\");
    EXPECT_EQ(TargetFolder(true, L""), L"");

    EXPECT_EQ(FirstSelectedRow({}), -1);
    EXPECT_EQ(FirstSelectedRow({4, 1, 3}), 1);
}

TEST(BackupDialogs, ColumnsThatNeedMoreRoomTakeItFromColumnsThatCanSpareIt) {
    const std::vector<int> shares{6, 20, 18, 10, 16, 16, 14};
    const std::vector<int> plain =
        FitColumns(shares, 1000, {0, 100, 100, 50, 100, 100, 100}, {kTimeColumn, kSizeColumn});
    EXPECT_EQ(plain, (std::vector<int>{60, 200, 180, 100, 160, 160, 140}));  // everything fits: the shares
    // The time needs 40 more and the serial 10: taken from the name, size and version, by what they spare.
    const std::vector<int> fitted =
        FitColumns(shares, 1000, {0, 100, 220, 50, 110, 160, 150}, {kTimeColumn, kSizeColumn});
    EXPECT_EQ(fitted[2], 220);
    EXPECT_EQ(fitted[6], 150);
    EXPECT_EQ(fitted[5], 160);
    EXPECT_GE(fitted[1], 100);
    EXPECT_GE(fitted[3], 50);
    EXPECT_GE(fitted[4], 110);
    int total = 0;
    for (int width : fitted) total += width;
    EXPECT_EQ(total, 1000);
    // Too little room for every need: the first columns are served first, from the others' widths in
    // proportion even where those lack room themselves (a size never loses its unit to a long name); the
    // others share what is left, and nothing goes below its need where there is room for it.
    EXPECT_EQ(FitColumns({50, 50}, 100, {80, 40}, {}), (std::vector<int>{60, 40}));
    EXPECT_EQ(FitColumns({40, 30, 30}, 100, {30, 40, 50}, {2}), (std::vector<int>{29, 21, 50}));
    EXPECT_EQ(FitColumns({40, 30, 30}, 100, {20, 40, 50}, {2}), (std::vector<int>{20, 30, 50}));
    // A narrow restore list of a large backup: the time and "120.32 MB" whole, the name and model cut instead.
    const std::vector<int> restore =
        FitColumns({6, 24, 22, 14, 16, 18}, 500, {30, 180, 150, 82, 120, 110}, {kTimeColumn, kSizeColumn});
    EXPECT_EQ(restore[kTimeColumn], 150);
    EXPECT_EQ(restore[kSizeColumn], 82);
    EXPECT_EQ(restore[0] + restore[1] + restore[2] + restore[3] + restore[4] + restore[5], 500);
}

struct Relay {
    FakeLink link;
    trv::test::FakeBackupFiles files;
    BackupService backups{link, files};

    CommandMessage Ask(std::int64_t code, void* data) {
        CommandMessage message{};
        message.name = ZERITH_COMMAND_DO_BACKUP;
        message.code = code;
        message.data = data;
        EXPECT_TRUE(backups.Handle(message));
        EXPECT_EQ(message.data, nullptr);  // taken over and freed
        return message;
    }
    void Reply(std::uint64_t id, bool last, std::int64_t code, const std::string& data, const std::string& info = "") {
        Packet packet;
        packet.header.id = id;
        packet.header.status = last ? 1 : 2;
        ReplyFrame frame;
        frame.code = code;
        frame.hasInfo = !info.empty();
        frame.infoJson = info;
        EXPECT_TRUE(backups.OnReply(packet, frame, data));
    }
};

TEST(BackupRelay, ABackupGoesToTheServiceAndJoinsTheListWhenDone) {
    Relay r;
    r.Ask(138, new WideStringPair(L"udid-1", L"Z:\\tmp\\mine\\"));
    ASSERT_EQ(r.link.requests.size(), 1u);
    EXPECT_EQ(r.link.requests[0].code, 1600u);
    EXPECT_EQ(r.link.requests[0].device, "udid-1");
    EXPECT_EQ(r.link.requests[0].data, R"({"path":"/tmp/mine/"})");
    r.Reply(1, false, 0, R"({"BackupDir":"/tmp/mine/udid-1-20240101/"})");
    r.Reply(1, true, 0, R"({"error":""})");
    ASSERT_EQ(r.link.requests.size(), 2u);
    EXPECT_EQ(r.link.requests[1].code, 1602u);
    EXPECT_EQ(r.link.requests[1].data, R"({"paths":["/tmp/mine/udid-1-20240101/"]})");

    // The default location; a failed backup lists nothing.
    r.Ask(138, new WideStringPair(L"udid-1", L""));
    EXPECT_EQ(r.link.requests.back().data, R"({"path":""})");
    r.Reply(r.link.requests.back().id, true, 2, "");
    EXPECT_EQ(r.link.requests.size(), 3u);

    // A folder the service cannot reach is refused, never replaced by the default one.
    r.Ask(138, new WideStringPair(L"udid-1", L"C:\\Backups\\"));
    EXPECT_EQ(r.link.requests.size(), 3u);
}

TEST(BackupRelay, RestoreImportDeleteAndTheDefaultFolder) {
    Relay r;
    auto* restore = new sdk::backups::RestoreRequest{L"/b/one/", L"udid-1", L"pa\"ss", L"udid-2"};
    r.Ask(140, restore);
    ASSERT_EQ(r.link.requests.size(), 1u);
    EXPECT_EQ(r.link.requests[0].code, 1601u);
    EXPECT_EQ(r.link.requests[0].device, "udid-2");
    EXPECT_EQ(r.link.requests[0].data, R"({"path":"/b/one/","sourceDeviceId":"udid-1","password":"pa\"ss"})");

    r.Ask(136, new std::vector<std::wstring>{L"Z:\\imported", L"D:\\elsewhere"});
    EXPECT_EQ(r.link.requests.back().code, 1602u);
    EXPECT_EQ(r.link.requests.back().data, R"({"paths":["/imported"]})");

    // Only the folders really deleted are answered, each with its key.
    r.link.Clear();  // the restore's report, under way
    r.Ask(137, new std::vector<std::wstring>{L"/b/one/", L"/b/missing/"});
    ASSERT_EQ(r.link.answers.size(), 1u);
    EXPECT_EQ(r.link.answers[0].code, 137);
    EXPECT_STREQ(static_cast<const wchar_t*>(r.link.answers[0].payload), L"/b/one/");
    EXPECT_EQ(r.files.folders.count(L"Z:\\b\\one\\"), 0u);

    CommandMessage folder = r.Ask(139, nullptr);
    std::unique_ptr<std::vector<std::wstring>> folders(static_cast<std::vector<std::wstring>*>(folder.extra));
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(*folders, std::vector<std::wstring>{L"Z:\\cfg\\Backup\\"});

    // The plain list: the default folder. Other features' requests are not taken.
    r.Ask(136, nullptr);
    EXPECT_EQ(r.link.requests.back().code, 1602u);
    EXPECT_EQ(r.link.requests.back().device, "");
    EXPECT_EQ(r.link.requests.back().data, R"({"paths":[""]})");
    CommandMessage plain{};
    plain.name = ZERITH_COMMAND_DO_NOTE;
    plain.code = 137;
    EXPECT_FALSE(r.backups.Handle(plain));
}

TEST(BackupRelay, PayloadsNobodyTookAreFreedAsTheyWereMade) {
    // Each leg's payload once (the sanitizer build reports a wrong delete or a leak).
    sdk::backups::ReleasePayload(PayloadLeg::PageRequest, 8, new WideStringPair(L"a", L"b"));
    sdk::backups::ReleasePayload(PayloadLeg::RelayRequest, 140, new sdk::backups::RestoreRequest());
    sdk::backups::ReleasePayload(PayloadLeg::PageReply, 16, new WideStringPair(L"a", L"b"));
    sdk::backups::ReleasePayload(PayloadLeg::PageReply, 5, std::calloc(4, sizeof(wchar_t)));
    sdk::backups::ReleasePayload(PayloadLeg::RelayRequest, 137, new std::vector<std::wstring>{L"x"});
    sdk::backups::ReleasePayload(PayloadLeg::PageReply, 1, new iOSBackup());
    sdk::backups::ReleasePayload(PayloadLeg::PageReply, 2, new BackupSizeUpdate());
    sdk::backups::ReleasePayload(PayloadLeg::PageReply, 136, new sdk::backups::BackupRunReport());
    sdk::backups::ReleasePayload(PayloadLeg::RelayRequest, 136, new std::vector<std::wstring>{L"x"});
}

// The answers the manager reads: one record per backup, its size, the end; the list after a backup.
TEST(BackupRelay, TheListIsOneRecordPerBackupThenItsSizeThenTheEnd) {
    Relay r;
    r.Ask(136, nullptr);
    const std::uint64_t id = r.link.requests.back().id;
    r.Reply(id, false, 0,
            R"({"Product Version":"17.2","Build Version":"21C62","Serial Number":"SN1",)"
            R"("Device Name":"Ada's iPhone","Unique Identifier":"udid-1","Last Backup Date":"2024-01-02 10:00:00",)"
            R"("Product Type":"iPhone14,2","Path":"/b/one/","IsEncrypted":true,"IsIncomplete":true})");
    r.Reply(id, false, 0, R"({"Device Name":"no folder"})");   // dropped
    r.Reply(id, false, 0, R"({"Path":"/b/one/","Size":-4})");  // no byte count: dropped
    r.Reply(id, false, 0, R"({"Path":"/b/one/","Device Name":"Ada's iPhone","Size":4096})");
    r.Reply(id, true, 0, "");
    ASSERT_EQ(r.link.answers.size(), 3u);
    std::vector<std::int64_t> statuses;
    for (const auto& answer : r.link.answers) {
        EXPECT_EQ(answer.code, 136);
        statuses.push_back(answer.status);
    }
    EXPECT_EQ(statuses, (std::vector<std::int64_t>{0, 1, 2}));
    const auto& backup = *static_cast<const iOSBackup*>(r.link.answers[0].payload);
    EXPECT_EQ(backup.key, L"/b/one/");
    EXPECT_EQ(backup.name, L"Ada's iPhone");
    EXPECT_EQ(backup.productVersion + L" " + backup.buildVersion, L"17.2 21C62");
    EXPECT_EQ(backup.model, L"iPhone 13 Pro");  // the model's name, not its product type
    EXPECT_EQ(backup.serialNumber, L"SN1");
    EXPECT_EQ(backup.deviceIdentifier, L"udid-1");
    EXPECT_EQ(backup.time, L"2024-01-02 10:00:00");
    EXPECT_TRUE(backup.encrypted);
    EXPECT_TRUE(backup.incomplete);
    EXPECT_EQ(TimeText(backup), L"(unfinished) 2024-01-02 10:00:00");
    EXPECT_EQ(backup.size, 0);
    const auto& size = *static_cast<const BackupSizeUpdate*>(r.link.answers[1].payload);
    EXPECT_EQ(size.key, L"/b/one/");
    EXPECT_EQ(size.size, 4096);
    EXPECT_EQ(r.link.answers[2].payload, nullptr);

    // A list the service never answers ends when it goes; one that cannot be sent ends at once.
    r.link.Clear();
    r.Ask(136, nullptr);
    r.backups.OnServiceGone();
    ASSERT_EQ(r.link.answers.size(), 1u);
    EXPECT_EQ(r.link.answers[0].status, 2);
    EXPECT_EQ(r.link.answers[0].resultOrCount, 2);
    r.link.refuse = true;
    r.Ask(136, nullptr);
    EXPECT_EQ(r.link.answers.size(), 2u);
}

// A run's reports: under way, once per whole percent, then its outcome with the service's code and words.
TEST(BackupRelay, RunsReportTheirProgressAndOutcome) {
    Relay r;
    r.Ask(138, new WideStringPair(L"udid-1", L""));
    const std::uint64_t id = r.link.requests.back().id;
    r.Reply(id, false, 0, R"({"BackupDir":"/b/udid-1-20240101/"})");
    for (std::int64_t hundredths : {0, 50, 120, 4250, 4299, 9999}) r.Reply(id, false, hundredths, "");
    r.Reply(id, true, 45, "", R"({"error":""})");
    std::vector<int> percents;
    for (const auto& answer : r.link.answers) {
        ASSERT_EQ(answer.status, sdk::backups::kBackupRunReport);
        const auto& report = *static_cast<const sdk::backups::BackupRunReport*>(answer.payload);
        EXPECT_EQ(report.device, L"udid-1");
        EXPECT_EQ(report.kind, sdk::backups::RunKind::Backup);
        percents.push_back(report.ended ? -1 : report.percent);
    }
    EXPECT_EQ(percents, (std::vector<int>{0, 1, 42, 99, -1}));
    const auto& end = *static_cast<const sdk::backups::BackupRunReport*>(r.link.answers.back().payload);
    EXPECT_EQ(end.resultCode, 45);
    EXPECT_EQ(end.percent, 99);
    EXPECT_EQ(r.link.requests.size(), 1u) << "a failed backup lists nothing";

    // A restore with a wrong password: the device's code and the service's words reach the manager.
    r.link.Clear();
    r.Ask(140, new sdk::backups::RestoreRequest{L"/b/one/", L"udid-1", L"wrong", L"udid-2"});
    r.Reply(r.link.requests.back().id, true, 207, "", R"({"error":"The backup password is not correct."})");
    ASSERT_EQ(r.link.answers.size(), 2u);
    const auto& restore = *static_cast<const sdk::backups::BackupRunReport*>(r.link.answers[1].payload);
    EXPECT_EQ(restore.kind, sdk::backups::RunKind::Restore);
    EXPECT_EQ(restore.device, L"udid-2");
    EXPECT_TRUE(restore.ended);
    EXPECT_EQ(restore.resultCode, 207);
    EXPECT_EQ(restore.reason, L"The backup password is not correct.");

    // The service goes away mid-run: the run ends as failed, with words.
    r.link.Clear();
    r.Ask(140, new sdk::backups::RestoreRequest{L"/b/one/", L"udid-1", L"", L"udid-2"});
    r.backups.OnServiceGone();
    const auto& gone = *static_cast<const sdk::backups::BackupRunReport*>(r.link.answers.back().payload);
    EXPECT_TRUE(gone.ended);
    EXPECT_EQ(gone.resultCode, 2);
    EXPECT_FALSE(gone.reason.empty());
}

}  // namespace
