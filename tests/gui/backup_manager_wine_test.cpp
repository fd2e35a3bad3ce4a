// The backup manager plug-in under Wine, driven through its receiver as the host drives it: the list it
// builds from the host's records (code 1), size updates (code 2) and the list's end (code 3), the status
// line read back from its control, the run reports of backups and restores shown there in words, and the
// toolbar's Import and Refresh asking the host. Screenshots are kept when TRV_PAGE_SHOTS names a folder.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup_records.h"
#include "command_names.h"
#include "list_pages_harness.h"
#include "wide_pair.h"

using ardena_test::Column;
using ardena_test::Press;
using ardena_test::RowCount;
using ardena_test::WindowText;
using pages_test::CountCodes;
using pages_test::PluginHost;

namespace {

constexpr int kCloseButton = 5000;
constexpr int kImportButton = 5003;
constexpr int kRefreshButton = 5006;
constexpr int kStatusLine = 5007;
constexpr int64_t kAskList = 0;
constexpr int64_t kAskImport = 4;
constexpr int64_t kRecord = 1;
constexpr int64_t kSize = 2;
constexpr int64_t kComplete = 3;
constexpr int64_t kRunReport = 136;

PluginHost& Brisel() { return pages_test::Plugin(L"Brisel", BRISEL_COMMAND_SHOW_WINDOW, BRISEL_COMMAND_DO_BACKUP); }

// Opens the manager as the toolkit's start-tool does; its window, found by class.
HWND OpenManager() {
    PluginHost& host = Brisel();
    CommandMessage message{};
    message.name = BRISEL_COMMAND_SHOW_WINDOW;
    message.window = ardena_test::Harness::Get().parent;
    host.record.receive(&message);
    ardena_test::Pump();
    HWND manager = FindWindowW(L"DhBackupDialog", nullptr);
    return manager != nullptr && IsWindowVisible(manager) ? manager : nullptr;
}

void CloseManager(HWND manager) {
    SendMessageW(manager, WM_COMMAND, MAKEWPARAM(kCloseButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(manager, kCloseButton)));
    ardena_test::Pump();
}

HWND ManagerList(HWND manager) { return probe::First(probe::Descendants(manager, L"SysListView32")); }

std::wstring StatusLine(HWND manager) { return WindowText(GetDlgItem(manager, kStatusLine)); }

iOSBackup* Record(const wchar_t* key, const wchar_t* name, const wchar_t* time) {
    auto* backup = new iOSBackup();  // the manager's from here on
    backup->key = key;
    backup->name = name;
    backup->time = time;
    backup->productVersion = L"17.2";
    backup->buildVersion = L"21C62";
    backup->model = L"iPhone14,2";
    backup->serialNumber = L"SN-" + std::wstring(key);
    return backup;
}

void Send(int64_t code, void* payload) { pages_test::Reply(Brisel(), L"", code, payload); }

void SendSize(const wchar_t* key, int64_t size) {
    auto* update = new BackupSizeUpdate();
    update->key = key;
    update->size = size;
    Send(kSize, update);
}

// Two backups listed, the newer sent last, one size known: what the list and the status line show.
HWND ManagerWithTwoBackups() {
    HWND manager = OpenManager();
    if (manager == nullptr) return nullptr;
    Send(kRecord, Record(L"older", L"Ada's iPhone", L"2024-03-01 09:30:00"));
    Send(kRecord, Record(L"newer", L"Bo's iPhone", L"2024-05-02 18:00:00"));
    SendSize(L"older", 2048);
    SendSize(L"newer", 3072);
    Send(kComplete, nullptr);
    return manager;
}

}  // namespace

TEST(BackupManager, RegistersItsTwoNamesAndTakesNoOtherPluginsCommands) {
    PluginHost& host = Brisel();
    ASSERT_NE(host.record.receive, nullptr);
    EXPECT_EQ(host.registered, (std::vector<std::string>{BRISEL_COMMAND_SHOW_WINDOW, BRISEL_COMMAND_DO_BACKUP}));
    // Another plug-in's show command (and a nameless one) make no manager.
    CommandMessage stranger{};
    stranger.name = ARDENA_COMMAND_SHOW_WINDOW;
    stranger.window = ardena_test::Harness::Get().parent;
    host.record.receive(&stranger);
    CommandMessage nameless{};
    host.record.receive(&nameless);
    ardena_test::Pump();
    HWND manager = FindWindowW(L"DhBackupDialog", nullptr);
    EXPECT_TRUE(manager == nullptr || !IsWindowVisible(manager));
}

TEST(BackupManager, ListsTheHostsRecordsNewestFirstAndSaysSoInItsStatusLine) {
    PluginHost& host = Brisel();
    const size_t asked = CountCodes(host, kAskList);
    HWND manager = ManagerWithTwoBackups();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(CountCodes(host, kAskList), asked + 1) << "opening asks for the list";
    HWND list = ManagerList(manager);
    ASSERT_EQ(RowCount(list), 2);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Bo's iPhone", L"Ada's iPhone"}));
    EXPECT_EQ(Column(list, 3), (std::vector<std::wstring>{L"3.00 KB", L"2.00 KB"}));
    EXPECT_EQ(StatusLine(manager), L"2 backup(s), 5.00 KB");
    pages_test::SaveShot(manager, "backup-manager-list");
    CloseManager(manager);
}

// Every way of closing the manager hands the host's window back: its close button, Alt+F4 (the system's
// close command) and a plain close request; after each the manager opens again. Its rows have the list's
// own height, which the list answers when its parent forwards the row-height question.
TEST(BackupManager, EveryWayOfClosingEnablesTheHostsWindowAgainAndRowsHaveTheirHeight) {
    HWND top = GetAncestor(ardena_test::Harness::Get().parent, GA_ROOT);
    ASSERT_NE(top, nullptr);
    const struct {
        const char* way;
        void (*close)(HWND manager);
    } kWays[] = {
        {"close button", &CloseManager},
        {"Alt+F4", [](HWND manager) { SendMessageW(manager, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"close request", [](HWND manager) { SendMessageW(manager, WM_CLOSE, 0, 0); }},
    };
    for (const auto& way : kWays) {
        HWND manager = ManagerWithTwoBackups();
        ASSERT_NE(manager, nullptr) << way.way;
        EXPECT_FALSE(IsWindowEnabled(top)) << "the host's window takes no input while the manager shows";
        RECT row = {};
        row.left = LVIR_BOUNDS;
        SendMessageW(ManagerList(manager), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
        EXPECT_EQ(row.bottom - row.top, 60) << "the rows' height";
        way.close(manager);
        ardena_test::Pump();
        EXPECT_TRUE(IsWindow(manager)) << way.way << " keeps the manager for the next opening";
        EXPECT_FALSE(IsWindowVisible(manager)) << way.way;
        EXPECT_TRUE(IsWindowEnabled(top)) << way.way << " leaves the host's window disabled";
    }
}

// A backup that a kill left unfinished says so in its time column, in the manager and in the restore
// dialog, and choosing it for a restore is refused (page code 16, the host's notice) before the host is
// asked to confirm the erase (code 11).
TEST(BackupManager, AnUnfinishedBackupIsMarkedAndItsRestoreRefusedBeforeTheEraseQuestion) {
    constexpr int kRestoreButton = 5005;
    constexpr int kOkButton = 5002;
    constexpr int64_t kConfirmRestore = 11;
    constexpr int64_t kUnfinishedNotice = 16;
    PluginHost& host = Brisel();
    host.onSend = [](CommandMessage& message) {
        if (message.code == 6) message.extra = new std::vector<WideStringPair>{{L"udid-1", L"Ada's iPhone"}};
    };
    HWND manager = OpenManager();
    ASSERT_NE(manager, nullptr);
    iOSBackup* unfinished = Record(L"unfinished", L"Ada's iPhone", L"2024-07-01 10:00:00");
    unfinished->incomplete = true;
    Send(kRecord, unfinished);
    Send(kComplete, nullptr);
    EXPECT_EQ(Column(ManagerList(manager), 2), std::vector<std::wstring>{L"(unfinished) 2024-07-01 10:00:00"});

    Press(GetDlgItem(manager, kRestoreButton));
    HWND restore = FindWindowW(L"DhDeviceDialog", L"Restore");
    ASSERT_NE(restore, nullptr);
    ASSERT_TRUE(IsWindowVisible(restore));
    ardena_test::Pump();
    HWND list = probe::First(probe::Descendants(restore, L"SysListView32"));
    ASSERT_EQ(Column(list, 2), std::vector<std::wstring>{L"(unfinished) 2024-07-01 10:00:00"});
    LVITEMW selected = {};
    selected.stateMask = LVIS_SELECTED;
    selected.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&selected));
    pages_test::SaveShot(restore, "backup-restore-unfinished");
    const size_t notices = CountCodes(host, kUnfinishedNotice);
    const size_t confirms = CountCodes(host, kConfirmRestore);
    Press(GetDlgItem(restore, kOkButton));
    EXPECT_EQ(CountCodes(host, kUnfinishedNotice), notices + 1) << "the refusal is said";
    EXPECT_EQ(CountCodes(host, kConfirmRestore), confirms) << "no erase question for a backup that cannot be restored";
    EXPECT_TRUE(IsWindowVisible(restore)) << "another backup can be chosen";
    SendMessageW(restore, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4 hands the manager back
    ardena_test::Pump();
    EXPECT_FALSE(IsWindowVisible(restore));
    EXPECT_TRUE(IsWindowEnabled(manager));
    host.onSend = nullptr;
    CloseManager(manager);
}

TEST(BackupManager, RefreshListsAnewAndImportAsksTheHost) {
    PluginHost& host = Brisel();
    HWND manager = ManagerWithTwoBackups();
    ASSERT_NE(manager, nullptr);
    const size_t listed = CountCodes(host, kAskList);
    Press(GetDlgItem(manager, kRefreshButton));
    EXPECT_EQ(CountCodes(host, kAskList), listed + 1);
    EXPECT_EQ(RowCount(ManagerList(manager)), 0) << "the old rows go until the host lists again";
    Send(kRecord, Record(L"only", L"Cy's iPhone", L"2024-06-01 08:00:00"));
    SendSize(L"only", 1024);
    Send(kComplete, nullptr);
    EXPECT_EQ(Column(ManagerList(manager), 1), std::vector<std::wstring>{L"Cy's iPhone"});
    EXPECT_EQ(StatusLine(manager), L"1 backup(s), 1.00 KB");

    const size_t imports = CountCodes(host, kAskImport);
    Press(GetDlgItem(manager, kImportButton));
    EXPECT_EQ(CountCodes(host, kAskImport), imports + 1);
    CloseManager(manager);
}

TEST(BackupManager, TheStatusLineShowsEachRunsProgressAndOutcomeInWords) {
    HWND manager = ManagerWithTwoBackups();
    ASSERT_NE(manager, nullptr);
    struct Case {
        sdk::backups::RunKind kind;
        const wchar_t* device;
        int percent;
        bool ended;
        int64_t code;
        const wchar_t* line;  // the status line afterwards, before the list's summary
        const char* shot;
    };
    const Case cases[] = {
        {sdk::backups::RunKind::Backup, L"dev-a", 42, false, 0, L"Backing up \"dev-a\": 42%",
         "backup-manager-progress"},
        {sdk::backups::RunKind::Backup, L"dev-a", 100, true, 45,
         L"Backup of \"dev-a\" failed: the device was disconnected.", "backup-manager-failed"},
        {sdk::backups::RunKind::Restore, L"dev-b", 7, false, 0,
         L"Restoring \"dev-b\": 7%   Backup of \"dev-a\" failed: the device was disconnected.", nullptr},
        {sdk::backups::RunKind::Restore, L"dev-b", 100, true, 207,
         L"Restore of \"dev-b\" failed: the backup password is wrong.   "
         L"Backup of \"dev-a\" failed: the device was disconnected.",
         "backup-manager-wrong-password"},
        {sdk::backups::RunKind::Restore, L"dev-b", 100, true, 0,
         L"Restore of \"dev-b\" failed: the backup password is wrong.   "
         L"Backup of \"dev-a\" failed: the device was disconnected.",
         nullptr},  // an outcome is final
    };
    for (const Case& c : cases) {
        auto* report = new sdk::backups::BackupRunReport();
        report->kind = c.kind;
        report->device = c.device;
        report->percent = c.percent;
        report->ended = c.ended;
        report->resultCode = c.code;
        Send(kRunReport, report);
        EXPECT_EQ(StatusLine(manager), std::wstring(c.line) + L"   2 backup(s), 5.00 KB") << c.line;
        if (c.shot != nullptr) pages_test::SaveShot(manager, c.shot);
    }
    // Closed and opened again, the ended runs are gone; a new restore that finishes says the device restarts.
    CloseManager(manager);
    manager = ManagerWithTwoBackups();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(StatusLine(manager), L"2 backup(s), 5.00 KB");
    auto* report = new sdk::backups::BackupRunReport();
    report->kind = sdk::backups::RunKind::Restore;
    report->device = L"dev-c";
    report->percent = 100;
    report->ended = true;
    Send(kRunReport, report);
    EXPECT_EQ(StatusLine(manager), L"Restore of \"dev-c\" finished; the device restarts now.   2 backup(s), 5.00 KB");
    pages_test::SaveShot(manager, "backup-manager-restored");
    CloseManager(manager);
}
