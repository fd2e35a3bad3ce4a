// The update's texts and choices: the check's result, the notices, the add-in version order, the command
// line, and the installer run with a fake host UI.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host_ui.h"
#include "update_flow.h"

TEST(UpdateCheck, ListsTheVersionsInOrderAndNamesTheFirst) {
    const UpdateVersionList versions = {{L"2.7.0", L"", L"", {L"Faster contacts", L"Fixes"}},
                                        {L"2.6.30", L"", L"", {}},
                                        {L"2.6.25", L"", L"", {L"Notes"}}};
    const trv::UpdateCheckResult three = trv::ReadUpdateCheck(1, 3, &versions);
    EXPECT_EQ(three.kind, trv::UpdateCheckResult::Kind::NewVersions);
    EXPECT_EQ(three.listText,
              L"Version: 2.7.0\r\nFaster contacts\r\nFixes\r\nVersion: 2.6.30\r\nVersion: 2.6.25\r\nNotes\r\n");
    EXPECT_EQ(three.firstVersion, L"2.7.0");
    EXPECT_EQ(trv::NewVersionNotice(three.firstVersion), L"A new version of (2.7.0) is available.");
    // A count beyond the list reads only what is there; a smaller count stops early.
    EXPECT_EQ(trv::ReadUpdateCheck(1, 9, &versions).listText, three.listText);
    EXPECT_EQ(trv::ReadUpdateCheck(1, 1, &versions).listText, L"Version: 2.7.0\r\nFaster contacts\r\nFixes\r\n");
}

TEST(UpdateCheck, FailureLatestAndCountsWithoutVersionTexts) {
    EXPECT_EQ(trv::ReadUpdateCheck(0, 2, nullptr).kind, trv::UpdateCheckResult::Kind::Failed);
    EXPECT_EQ(trv::ReadUpdateCheck(1, 0, nullptr).kind, trv::UpdateCheckResult::Kind::Latest);
    // A count without any version record, or with an empty version text, is no new version.
    const UpdateVersionList empty;
    const UpdateVersionList blank = {{L"", L"", L"", {L"?"}}};
    for (const UpdateVersionList* list : {static_cast<const UpdateVersionList*>(nullptr), &empty, &blank}) {
        const trv::UpdateCheckResult result = trv::ReadUpdateCheck(1, 2, list);
        EXPECT_EQ(result.kind, trv::UpdateCheckResult::Kind::Latest);
        EXPECT_TRUE(result.listText.empty());
    }
    EXPECT_EQ(trv::LatestVersionNotice(), L"This version of (2.6.21) is the latest version.");
}

// A check that could not be made for want of an address says so, not that the network is down; a driver
// step that failed says why in words.
TEST(UpdateTexts, FailuresSayWhyInWords) {
    EXPECT_EQ(trv::UpdateCheckFailedText("http://127.0.0.1:8/feed.json"), trv::kUpdateCheckFailedText);
    const std::wstring none = trv::UpdateCheckFailedText("");
    EXPECT_NE(none.find(L"No update address is set"), std::wstring::npos) << none;
    EXPECT_EQ(none.find(L"network"), std::wstring::npos) << none;

    const struct {
        bool installing;
        int64_t code;
        const wchar_t* text;
    } kCases[] = {
        {false, 50, L"The driver download failed: a driver package could not be downloaded"},
        {false, 8, L"The driver download failed: no download address is set"},
        {false, -1, L"The driver download failed: the device service did not answer."},
        {true, 51, L"The driver installation failed: the driver's installer failed."},
        {true, 54, L"The driver installation failed: the store edition of iTunes is installed"},
        {true, 99, L"The driver installation failed: the device service reported error 99."},
    };
    for (const auto& c : kCases) {
        const std::wstring text = trv::DriverFailureText(c.installing, c.code);
        EXPECT_EQ(text.rfind(c.text, 0), 0u) << c.code << ": " << std::string(text.begin(), text.end());
    }
}

TEST(UpdateTexts, StoreNoticeKeepsAnAddressOfAnyLength) {
    const std::wstring address = L"https://example.test/" + std::wstring(400, L'a');
    const std::wstring notice = trv::StoreEditionNotice(address);
    EXPECT_NE(notice.find(L"<A HREF=\"" + address + L"\">iTunes</A> from Apple after the uninstallation.)"),
              std::wstring::npos);
    EXPECT_EQ(notice.rfind(L"iTunes from the Microsoft Store must be removed", 0), 0u);
}

TEST(AddinFolders, NewestExactVersionWithItsProgramWins) {
    EXPECT_EQ(trv::VersionFromFolderName(L"beta-2.7.0"), L"2.7.0");
    EXPECT_EQ(trv::VersionFromFolderName(L"latest"), L"latest");
    EXPECT_EQ(trv::VersionFromFolderName(L"v1.2.3.4"), L"1.2.3");
    EXPECT_EQ(trv::VersionFromFolderName(L"1.2.x 10.20.30"), L"10.20.30");
    EXPECT_EQ(trv::VersionFromFolderName(L"2.6."), L"2.6.");
    const auto all = [](const std::wstring&) { return true; };
    EXPECT_EQ(trv::NewestVersionFolder({L"2.6.21", L"2.10.1", L"beta-2.7.0", L"2.9.9"}, all), L"2.10.1");
    // The newest folder without its program is passed over.
    EXPECT_EQ(trv::NewestVersionFolder({L"2.6.21", L"2.10.1"}, [](const std::wstring& v) { return v != L"2.10.1"; }),
              L"2.6.21");
    EXPECT_EQ(trv::NewestVersionFolder({}, all), L"");
}

TEST(InstallerCommandLine, QuotesTheProgramAndFindsTheAlias) {
    EXPECT_EQ(trv::CommandLine(L"C:\\Program Files\\Up date.exe", L"/S /PRODUCT_ALIAS=\"Solvak\""),
              L"\"C:\\Program Files\\Up date.exe\" /S /PRODUCT_ALIAS=\"Solvak\"");
    EXPECT_EQ(trv::CommandLine(L"C:\\a.exe", L""), L"\"C:\\a.exe\"");
    EXPECT_EQ(trv::ProductAlias(L"C:\\Users\\u\\AppData\\Solvak Pro\\Option.json"), L"Solvak Pro");
    EXPECT_EQ(trv::ProductAlias(L"Option.json"), L"");
}

namespace {

class InstallerUi : public trv::HostUi {
public:
    uint32_t RunHiddenAndWait(const std::wstring& commandLine) override {
        runs.push_back(L"hidden " + commandLine);
        return hiddenStarts ? 77 : 0;
    }
    bool RunElevated(const std::wstring& program, const std::wstring&, bool elevate) override {
        runs.push_back((elevate ? L"elevated " : L"shell ") + program);
        return elevatedStarts;
    }
    bool FileExists(const std::wstring& path) override { return files.count(path) != 0; }
    void DeleteFile(const std::wstring& path) override { deleted.push_back(path); }
    std::vector<std::wstring> SubFolders(const std::wstring& folder) override { return folders[folder]; }
    void CloseMainFrame() override { ++closes; }

    bool hiddenStarts = true;
    bool elevatedStarts = true;
    std::map<std::wstring, int> files;
    std::map<std::wstring, std::vector<std::wstring>> folders;
    std::vector<std::wstring> runs;
    std::vector<std::wstring> deleted;
    int closes = 0;
};

const wchar_t kPrefs[] = L"C:\\Data\\Solvak\\Option.json";
const wchar_t kBase[] = L"C:\\Data\\Solvak\\Addins\\Solvak Trevane\\";

}  // namespace

TEST(InstallerRun, ProductTypeOneRunsSilentlyStartsTheNewestAddinAndCloses) {
    InstallerUi ui;
    trv::ScopedHostUi scope(ui);
    ui.folders[kBase] = {L"2.6.21", L"2.10.1"};
    ui.files[std::wstring(kBase) + L"2.10.1\\Bin\\Solvak Trevane.exe"] = 1;
    EXPECT_TRUE(trv::RunDownloadedInstaller(L"C:\\Temp\\up.exe", 1, kPrefs, L"Solvak Trevane"));
    EXPECT_EQ(ui.runs,
              (std::vector<std::wstring>{L"hidden \"C:\\Temp\\up.exe\" /S /PRODUCT_ALIAS=\"Solvak\"",
                                         L"shell " + std::wstring(kBase) + L"2.10.1\\Bin\\Solvak Trevane.exe"}));
    EXPECT_EQ(ui.deleted, (std::vector<std::wstring>{L"C:\\Temp\\up.exe"}));
    EXPECT_EQ(ui.closes, 1);
}

TEST(InstallerRun, WithoutAnAddinFolderTheProgramGoesOn) {
    InstallerUi ui;
    trv::ScopedHostUi scope(ui);
    ui.folders[kBase] = {L"2.10.1"};  // a version folder without its program counts for nothing
    EXPECT_TRUE(trv::RunDownloadedInstaller(L"C:\\Temp\\up.exe", 1, kPrefs, L"Solvak Trevane"));
    EXPECT_EQ(ui.runs.size(), 1u);
    EXPECT_EQ(ui.deleted, (std::vector<std::wstring>{L"C:\\Temp\\up.exe"}));
    EXPECT_EQ(ui.closes, 0);
}

TEST(InstallerRun, ASilentInstallerThatDoesNotStartIsKeptAndOthersRunElevated) {
    InstallerUi ui;
    trv::ScopedHostUi scope(ui);
    ui.hiddenStarts = false;
    EXPECT_FALSE(trv::RunDownloadedInstaller(L"C:\\Temp\\up.exe", 1, kPrefs, L"Solvak Trevane"));
    EXPECT_TRUE(ui.deleted.empty());
    EXPECT_EQ(ui.closes, 0);
    // Other products start the installer itself with raised rights, and it takes over; a failed start has
    // been reported by the run itself.
    for (const bool starts : {true, false}) {
        InstallerUi other;
        trv::ScopedHostUi otherScope(other);
        other.elevatedStarts = starts;
        EXPECT_TRUE(trv::RunDownloadedInstaller(L"C:\\Temp\\up.exe", 0, kPrefs, L"Solvak Trevane"));
        EXPECT_EQ(other.runs, (std::vector<std::wstring>{L"elevated C:\\Temp\\up.exe"}));
        EXPECT_TRUE(other.deleted.empty());
        EXPECT_EQ(other.closes, 1);
    }
}
