// The host's derived names and geometry rules: preferences file, log and dump paths, crash-folder
// cleaning, identity texts, frame placement, edge zones and resize coalescing.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "frame_geometry.h"
#include "host_paths.h"
#include "product_identity.h"

TEST(HostPaths, PreferencesFileFollowsTheInstallFolder) {
    const std::wstring appData = L"C:\\Users\\u\\AppData\\Roaming\\";
    struct Case {
        const wchar_t* install;
        std::set<std::wstring> existing;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\bin\\",
         {},
         L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\Preferences.json"},
        {L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\bin\\",
         {L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\Preferences-Recommend.json",
          L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\Preferences.json"},
         L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\Preferences-Recommend.json"},
        {L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\",
         {},
         L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\X\\Preferences.json"},
        {L"C:\\Program Files\\Solvak\\X\\", {}, L""},
        {L"C:\\Users\\u\\AppData\\Roaming\\Solvak\\", {}, L""},
        {L"C:\\Users\\u\\AppData\\Roaming\\SolvakOther\\X\\", {}, L""},
    };
    for (const Case& c : cases) {
        const std::wstring got = trv::PreferencesPathFor(
            appData, L"Solvak", c.install, [&](const std::wstring& p) { return c.existing.count(p) != 0; });
        EXPECT_EQ(got, c.expected) << std::string(c.install, c.install + wcslen(c.install));
    }
}

TEST(HostPaths, LogFolderDumpPathAndFolderOf) {
    const std::wstring log = trv::LogFolderPath(L"C:\\Temp\\", L"Solvak", L"20200108");
    EXPECT_EQ(log, L"C:\\Temp\\Solvak\\20200108");
    const std::wstring dump = trv::DumpPathIn(log, L"20200108093005");
    EXPECT_EQ(dump, L"C:\\Temp\\Solvak\\20200108\\20200108093005.dmp");
    EXPECT_EQ(trv::FolderOfPath(dump), log);
    EXPECT_EQ(trv::FolderOfPath(L"nofolder"), L"nofolder");
}

TEST(HostPaths, CrashAndLogFolderEntryRules) {
    struct Case {
        const wchar_t* name;
        bool archive;
        bool ignoredInLogFolder;
    };
    // clang-format off
    const Case cases[] = {
        {L"20200108093005.zip", true, false},   {L"REPORT.ZIP", true, false},
        {L"report.Zip.part", true, false},      {L"20200108093005.dmp", false, false},
        {L"Crash.json", false, false},          {L"Trevane.exe.log", false, false},
        {L"zip", false, false},                 {L".", false, true},
        {L"..", false, true},                   {L".hidden", false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(trv::IsCrashReportArchive(c.name), c.archive);
        EXPECT_EQ(trv::IsIgnoredLogEntry(c.name), c.ignoredInLogFolder);
    }
}

TEST(ProductIdentity, TextsAndPersonalFolder) {
    EXPECT_EQ(trv::ProductNameA(), "Solvak Trevane");
    EXPECT_EQ(trv::ProductNameW(), L"Solvak Trevane");
    EXPECT_EQ(trv::BrandWordW(), L"Solvak");
    EXPECT_EQ(trv::VersionA(), "2.6.21");
    EXPECT_EQ(trv::BuildYearW(), L"2020");
    EXPECT_EQ(trv::PersonalProductFolderIn(L""), L"\\Solvak Trevane\\");
    EXPECT_EQ(trv::PersonalProductFolderIn(L"C:\\Users\\u\\Documents"), L"C:\\Users\\u\\Documents\\Solvak Trevane\\");
    EXPECT_EQ(trv::SingleInstanceMutexName(), L"Global_Solvak Trevane_2.6.21");
}

TEST(FrameGeometry, InitialFrameIsCentredAndNeverExceedsTheWorkArea) {
    struct Case {
        trv::FrameRect screen, work, expected;
    };
    // clang-format off
    const Case cases[] = {
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {510, 257, 1410, 823}},  // centred on the screen
        {{0, 0, 1024, 768}, {0, 0, 1024, 738}, {62, 101, 962, 667}},
        {{0, 0, 800, 600}, {0, 0, 800, 560}, {0, 0, 800, 560}},  // smaller: the whole work area, no more
        {{0, 0, 900, 566}, {200, 0, 900, 566}, {200, 0, 900, 566}},  // a task bar on the left
        {{0, 0, 1000, 600}, {0, 40, 1000, 600}, {50, 40, 950, 600}},  // a task bar on top pushes it down
    };
    // clang-format on
    for (const Case& c : cases) {
        const trv::FrameRect r = trv::InitialFrameRect(c.screen, c.work);
        EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
                  (std::vector<int>{c.expected.left, c.expected.top, c.expected.right, c.expected.bottom}))
            << c.work.left << "," << c.work.top << " " << c.work.right << "x" << c.work.bottom;
    }
}

TEST(FrameGeometry, EdgeZonesCursorsAndSizeCommands) {
    const trv::FrameRect client{0, 0, 900, 566};
    struct Case {
        int x, y;
        trv::ResizeZone zone;
        trv::ResizeCursor cursor;
        unsigned command;
    };
    using Z = trv::ResizeZone;
    using C = trv::ResizeCursor;
    // clang-format off
    const Case cases[] = {
        {2, 300, Z::Left, C::SizeWE, 0xF001},         {3, 300, Z::Left, C::SizeWE, 0xF001},
        {4, 300, Z::None, C::Arrow, 0},               {897, 300, Z::Right, C::SizeWE, 0xF002},
        {400, 1, Z::Top, C::SizeNS, 0xF003},          {5, 5, Z::TopLeft, C::SizeNWSE, 0xF004},
        {895, 5, Z::TopRight, C::SizeNESW, 0xF005},   {400, 565, Z::Bottom, C::SizeNS, 0xF006},
        {5, 560, Z::BottomLeft, C::SizeNESW, 0xF007}, {895, 560, Z::BottomRight, C::SizeNWSE, 0xF008},
        {2, 2, Z::Left, C::SizeWE, 0xF001},  // straight edges are tested before corners
        {20, 20, Z::None, C::Arrow, 0},      {10, 10, Z::TopLeft, C::SizeNWSE, 0xF004},
        {11, 10, Z::None, C::Arrow, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        const Z zone = trv::ClassifyResizeZone(trv::FramePoint{c.x, c.y}, client);
        EXPECT_EQ(zone, c.zone) << c.x << "," << c.y;
        EXPECT_EQ(trv::CursorForZone(zone), c.cursor) << c.x << "," << c.y;
        EXPECT_EQ(trv::SizeCommandForZone(zone), c.command) << c.x << "," << c.y;
    }
}

TEST(FrameGeometry, PendingResizeAppliesOnlyTheLastProposal) {
    trv::PendingResize pending;
    trv::FrameRect last;
    EXPECT_FALSE(pending.Take(last));
    pending.Note({0, 0, 950, 600});
    pending.Note({0, 0, 960, 610});
    pending.Note({10, 20, 1010, 720});
    ASSERT_TRUE(pending.Take(last));
    EXPECT_EQ(last.right - last.left, 1000);
    EXPECT_EQ(last.bottom - last.top, 700);
    EXPECT_FALSE(pending.HasNotes());
    EXPECT_FALSE(pending.Take(last));
}

TEST(FrameGeometry, MoveDeltaSignExtendsSixteenBitCoordinates) {
    const trv::FramePoint last{510, 257};
    trv::FramePoint d = trv::MoveDelta(last, 525, 253);
    EXPECT_EQ(d.x, 15);
    EXPECT_EQ(d.y, -4);
    // A frame moved onto a left-hand monitor reports negative coordinates as 16-bit values.
    d = trv::MoveDelta(trv::FramePoint{5, 5}, static_cast<uint16_t>(-20), 5);
    EXPECT_EQ(d.x, -25);
    EXPECT_EQ(d.y, 0);
}

TEST(HostPaths, FolderLevelsListEveryLevelBelowTheRoot) {
    struct Case {
        std::wstring folder;
        std::vector<std::wstring> levels;
    };
    const Case cases[] = {
        {L"C:\\users\\u\\Temp\\Solvak\\20240102",
         {L"C:\\users", L"C:\\users\\u", L"C:\\users\\u\\Temp", L"C:\\users\\u\\Temp\\Solvak",
          L"C:\\users\\u\\Temp\\Solvak\\20240102"}},
        {L"C:\\a\\\\b\\", {L"C:\\a", L"C:\\a\\\\b"}},
        {L"\\\\server\\share\\logs\\x", {L"\\\\server\\share\\logs", L"\\\\server\\share\\logs\\x"}},
        {L"C:\\", {}},
        {L"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trv::FolderLevels(c.folder), c.levels);
    }
}
