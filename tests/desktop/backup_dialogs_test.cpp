// The backup manager's dialogs apart from their windows (the devices of the drop-down box as devices come
// and go, the default folder, the target folder, the restored row, the time column's width) and the
// relay's backup requests against a fake link: what the service is asked, what the host is answered and
// that every payload handed over is freed (the sanitizer build checks).
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
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
using trv::relay::BackupService;
using trv::relay::ListsService;
using trv::relay::Packet;
using trv::relay::ReplyFrame;
using trv_test::FakeLink;

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
    const std::vector<int> plain = FitColumns(shares, 1000, {0, 100, 100, 50, 100, 100, 100}, kTimeColumn);
    EXPECT_EQ(plain, (std::vector<int>{60, 200, 180, 100, 160, 160, 140}));  // everything fits: the shares
    // The time needs 40 more and the serial 10: taken from the name, size and version, by what they spare.
    const std::vector<int> fitted = FitColumns(shares, 1000, {0, 100, 220, 50, 110, 160, 150}, kTimeColumn);
    EXPECT_EQ(fitted[2], 220);
    EXPECT_EQ(fitted[6], 150);
    EXPECT_EQ(fitted[5], 160);
    EXPECT_GE(fitted[1], 100);
    EXPECT_GE(fitted[3], 50);
    EXPECT_GE(fitted[4], 110);
    int total = 0;
    for (int width : fitted) total += width;
    EXPECT_EQ(total, 1000);
    // Too little room for every need: the first column is served first, the others share what is left,
    // and nothing goes below its need.
    EXPECT_EQ(FitColumns({50, 50}, 100, {80, 40}, -1), (std::vector<int>{60, 40}));
    EXPECT_EQ(FitColumns({40, 30, 30}, 100, {30, 40, 50}, 2), (std::vector<int>{30, 30, 40}));
    EXPECT_EQ(FitColumns({40, 30, 30}, 100, {20, 40, 50}, 2), (std::vector<int>{20, 30, 50}));
}

struct Files : trv::relay::BackupFiles {
    bool DeleteBackupFolder(const std::wstring& path) override { return folders.erase(path) == 1; }
    std::wstring DefaultBackupFolder() override { return L"Z:\\cfg\\Backup\\"; }
    std::set<std::wstring> folders{L"Z:\\b\\one\\", L"Z:\\b\\two\\"};
};

struct Relay {
    FakeLink link;
    ListsService lists{link};
    Files files;
    BackupService backups{link, lists, files};

    CommandMessage Ask(std::int64_t code, void* data) {
        CommandMessage message{};
        message.name = ZERITH_COMMAND_DO_BACKUP;
        message.code = code;
        message.data = data;
        EXPECT_TRUE(backups.Handle(message));
        EXPECT_EQ(message.data, nullptr);  // taken over and freed
        return message;
    }
    void Reply(std::uint64_t id, bool last, std::int64_t code, const std::string& data) {
        Packet packet;
        packet.header.id = id;
        packet.header.status = last ? 1 : 2;
        ReplyFrame frame;
        frame.code = code;
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
    auto* restore = new backups::RestoreRequest{L"/b/one/", L"udid-1", L"pa\"ss", L"udid-2"};
    r.Ask(140, restore);
    ASSERT_EQ(r.link.requests.size(), 1u);
    EXPECT_EQ(r.link.requests[0].code, 1601u);
    EXPECT_EQ(r.link.requests[0].device, "udid-2");
    EXPECT_EQ(r.link.requests[0].data, R"({"path":"/b/one/","sourceDeviceId":"udid-1","password":"pa\"ss"})");

    r.Ask(136, new std::vector<std::wstring>{L"Z:\\imported", L"D:\\elsewhere"});
    EXPECT_EQ(r.link.requests.back().code, 1602u);
    EXPECT_EQ(r.link.requests.back().data, R"({"paths":["/imported"]})");

    // Only the folders really deleted are answered, each with its key.
    r.Ask(137, new std::vector<std::wstring>{L"/b/one/", L"/b/missing/"});
    ASSERT_EQ(r.link.answers.size(), 1u);
    EXPECT_EQ(r.link.answers[0].code, 137);
    EXPECT_STREQ(static_cast<const wchar_t*>(r.link.answers[0].extra), L"/b/one/");
    EXPECT_EQ(r.files.folders.count(L"Z:\\b\\one\\"), 0u);

    CommandMessage folder = r.Ask(139, nullptr);
    std::unique_ptr<std::vector<std::wstring>> folders(static_cast<std::vector<std::wstring>*>(folder.extra));
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(*folders, std::vector<std::wstring>{L"Z:\\cfg\\Backup\\"});

    // The plain list stays with the listing service; other features' requests are not taken.
    CommandMessage plain{};
    plain.name = ZERITH_COMMAND_DO_BACKUP;
    plain.code = 136;
    EXPECT_FALSE(r.backups.Handle(plain));
    plain.name = ZERITH_COMMAND_DO_NOTE;
    plain.code = 137;
    EXPECT_FALSE(r.backups.Handle(plain));
}

TEST(BackupRelay, PayloadsNobodyTookAreFreedAsTheyWereMade) {
    // Each leg's payload once (the sanitizer build reports a wrong delete or a leak).
    backups::ReleasePayload(PayloadLeg::PageRequest, 8, new WideStringPair(L"a", L"b"));
    backups::ReleasePayload(PayloadLeg::RelayRequest, 140, new backups::RestoreRequest());
    backups::ReleasePayload(PayloadLeg::PageReply, 16, new WideStringPair(L"a", L"b"));
    backups::ReleasePayload(PayloadLeg::PageReply, 5, std::calloc(4, sizeof(wchar_t)));
    backups::ReleasePayload(PayloadLeg::RelayRequest, 137, new std::vector<std::wstring>{L"x"});
    // A batch goes with its items; a code that carries no payload on its leg frees nothing.
    int released = 0;
    const auto counted = [&released] {
        auto* batch = new ItemBatch<TextItem>();
        batch->items.emplace_back(new TextItem(), [&released](TextItem* item) {
            ++released;
            delete item;
        });
        return batch;
    };
    backups::ReleasePayload(PayloadLeg::PageReply, 1, counted());
    EXPECT_EQ(released, 1);
    ItemBatch<TextItem>* lent = counted();
    backups::ReleasePayload(PayloadLeg::PageRequest, 1, lent);
    EXPECT_EQ(released, 1);
    delete lent;
    EXPECT_EQ(released, 2);
}

}  // namespace
