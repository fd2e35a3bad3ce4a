// The host's dialogs under Wine, each opened by its command through the host's bus, read back from its
// windows, answered as a user would, and photographed.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <vornel/VNLUtilityApp.h>
#include <wtl/GdiObjects.h>

#include "UiAboutDialog.h"
#include "UiInputDialog.h"
#include "UiProgressDialog.h"
#include "UiUpdateListDialog.h"
#include "UiSheetDialog.h"
#include "command_names.h"
#include "dialog_harness.h"
#include "host_input.h"
#include "host_platform.h"
#include "update_records.h"
#include "wide_pair.h"

using dialog_test::HostWindows;

namespace {

class Dialogs : public HostWindows {};

}  // namespace

TEST_F(Dialogs, RenameAsksOneLineAndAcceptsAtMostFiftyCharacters) {
    dialog_test::WhenDialogShows([](HWND dialog) {
        EXPECT_EQ(dialog_test::SizeOf(dialog).cx, 300);
        EXPECT_EQ(dialog_test::SizeOf(dialog).cy, 120);
        EXPECT_EQ(dialog_test::TextOf(GetDlgItem(dialog, 5051)), L"OK");
        EXPECT_EQ(dialog_test::TextOf(GetDlgItem(dialog, 5052)), L"Cancel");
        HWND edit = GetDlgItem(dialog, UiInputDialog::kEditId);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(GetFocus(), edit);
        const RECT box = dialog_test::ClientRectIn(edit, dialog);
        EXPECT_EQ(box.top, (120 - 24) / 2);
        EXPECT_EQ(box.bottom - box.top, 24);
        EXPECT_LE(box.right, 300 - 20);
        dialog_test::Type(edit, L"  Kitchen Phone ");
        dialog_test::Screenshot(dialog, L"input-rename");
        dialog_test::Type(edit, std::wstring(60, L'x'));
        EXPECT_EQ(GetWindowTextLengthW(edit), 50);
        SetWindowTextW(edit, L"  Kitchen Phone ");
        dialog_test::Press(dialog, 5051);
    });
    CommandMessage message{};
    Invoke(YESTAL_COMMAND_EDIT_DEVICE_NAME, message);
    EXPECT_EQ(message.status, 1);
    ASSERT_NE(message.wideText, nullptr);
    EXPECT_STREQ(message.wideText, L"Kitchen Phone");
    std::free(message.wideText);
    // The view was disabled by the modal run and is enabled again.
    EXPECT_TRUE(IsWindowEnabled(m_frame));
}

TEST_F(Dialogs, InputCancelledOrClosedLeavesTheAnswerAlone) {
    for (const int id : {5052, 5050}) {
        dialog_test::WhenDialogShows([id](HWND dialog) {
            dialog_test::Type(GetDlgItem(dialog, UiInputDialog::kEditId), L"typed");
            dialog_test::Press(dialog, id);
        });
        std::wstring typed = L"before";
        EXPECT_FALSE(trv::AskLine(trv::LineQuestion{}, typed)) << id;
        EXPECT_EQ(typed, L"before") << id;
    }
}

TEST_F(Dialogs, SubjectContentHandsBackBothTextsAsTyped) {
    dialog_test::WhenDialogShows([](HWND dialog) {
        EXPECT_EQ(dialog_test::SizeOf(dialog).cx, 400);
        EXPECT_EQ(dialog_test::SizeOf(dialog).cy, 200);
        HWND subject = GetDlgItem(dialog, UiSubjectContentDialog::kSubjectEditId);
        HWND content = GetDlgItem(dialog, UiSubjectContentDialog::kContentEditId);
        ASSERT_NE(subject, nullptr);
        ASSERT_NE(content, nullptr);
        EXPECT_EQ(dialog_test::TextOf(subject), L"Groceries");
        const RECT subjectBox = dialog_test::ClientRectIn(subject, dialog);
        const RECT contentBox = dialog_test::ClientRectIn(content, dialog);
        EXPECT_EQ(subjectBox.top, 40);
        EXPECT_EQ(contentBox.top, subjectBox.bottom + 20);
        EXPECT_EQ(contentBox.left, subjectBox.left);
        EXPECT_EQ(contentBox.bottom - contentBox.top, 60);
        // The buttons stay clear of the content box.
        EXPECT_GE(dialog_test::ClientRectIn(GetDlgItem(dialog, 5051), dialog).top, contentBox.bottom);
        SetWindowTextW(content, L"milk\r\n eggs ");
        dialog_test::Screenshot(dialog, L"input-subject-content");
        dialog_test::Press(dialog, 5051);
    });
    trv::SubjectContentQuestion question;
    question.subjectLabel = L"Title:";
    question.contentLabel = L"Content:";
    question.subject = L"Groceries";
    trv::SubjectContent answer;
    ASSERT_TRUE(trv::AskSubjectContent(question, answer));
    EXPECT_EQ(answer.subject, L"Groceries");
    EXPECT_EQ(answer.content, L"milk\r\n eggs ");
}

TEST_F(Dialogs, DisconnectSheetIsPostedInOrderSlidesOpenOverThePagesAndHidesItself) {
    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    auto* sheet = static_cast<UiSheetDialog*>(m_bus.GetDialogById(2));
    ASSERT_NE(sheet, nullptr);
    sheet->SetTiming(trv::SheetTiming{20, 700});

    // Two devices leave, reported on the relay module's thread.
    std::thread relay([] {
        for (const wchar_t* name : {L"Old Phone", L"Kitchen Phone"}) {
            WideStringPair pair{L"udid", name};
            CommandMessage message{};
            message.extra = &pair;
            Invoke(ZERITH_COMMAND_DEVICE_DISCONNECT, message);
        }
    });
    relay.join();
    EXPECT_FALSE(IsWindowVisible(sheet->m_hWnd));  // nothing happened on the relay's thread

    std::vector<LONG> heights;
    dialog_test::Pump(3000, [&] {
        if (!IsWindowVisible(sheet->m_hWnd)) return false;
        const LONG height = dialog_test::SizeOf(sheet->m_hWnd).cy;
        if (heights.empty() || heights.back() != height) heights.push_back(height);
        return height == 40;
    });
    ASSERT_FALSE(heights.empty());
    EXPECT_LT(heights.front(), 40);  // it slid open
    EXPECT_EQ(heights.back(), 40);
    // The later notice is the one shown.
    EXPECT_EQ(dialog_test::TextOf(sheet->LinkWindow()), L"<A HREF=\"notice\">Kitchen Phone  is disconnected.</A>");
    POINT origin = {0, 0};
    ClientToScreen(m_view, &origin);
    RECT placed = {};
    GetWindowRect(sheet->m_hWnd, &placed);
    // Over the pages alone: right of the 200-pixel section list and the view's rule, below the 82-pixel
    // title bar and the pages' 31-pixel toolbar band, across the pages to the rule on the right.
    EXPECT_EQ(placed.left, origin.x + 201);
    EXPECT_EQ(placed.top, origin.y + 82 + 31);
    EXPECT_EQ(placed.right, origin.x + 900 - 1);
    // A taller view keeps it there; a view too low for it puts it at the bottom of the pages, above the rule.
    SetWindowPos(m_view, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    trv::CurrentHostPlatform().LayOutNoticeSheet();
    GetWindowRect(sheet->m_hWnd, &placed);
    EXPECT_EQ(placed.top, origin.y + 82 + 31);
    SetWindowPos(m_view, nullptr, 0, 0, 700, 140, SWP_NOMOVE | SWP_NOZORDER);
    trv::CurrentHostPlatform().LayOutNoticeSheet();
    GetWindowRect(sheet->m_hWnd, &placed);
    EXPECT_EQ(placed.left, origin.x + 201);
    EXPECT_EQ(placed.right, origin.x + 700 - 1);
    EXPECT_EQ(placed.top, origin.y + 140 - 2 - 40);
    SetWindowPos(m_view, nullptr, 0, 0, 900, 566, SWP_NOMOVE | SWP_NOZORDER);
    trv::CurrentHostPlatform().LayOutNoticeSheet();
    dialog_test::Pump(100);
    EXPECT_TRUE(IsWindowVisible(sheet->LinkWindow()));
    dialog_test::Screenshot(sheet->m_hWnd, L"sheet-disconnect");
    // The markup became a link: a plain text would show its tags.
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    EXPECT_TRUE(SendMessageW(sheet->LinkWindow(), LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)));
    // Each notice made a new link control; the font the last one draws with is still alive.
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(sheet->LinkWindow(), WM_GETFONT, 0, 0));
    EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));

    const DWORD open = GetTickCount();
    dialog_test::Pump(3000, [&] { return !IsWindowVisible(sheet->m_hWnd); });
    EXPECT_FALSE(IsWindowVisible(sheet->m_hWnd));
    EXPECT_GE(GetTickCount() - open, 400u);  // it stayed open for its time first

    // Shown again, it opens from its narrow start once more; shown while fully open, it slides in again.
    sheet->SetText(L"again");
    sheet->Show(SW_SHOW);
    EXPECT_LT(dialog_test::SizeOf(sheet->m_hWnd).cy, 40);
    dialog_test::Pump(3000, [&] { return dialog_test::SizeOf(sheet->m_hWnd).cy == 40; });
    ASSERT_EQ(dialog_test::SizeOf(sheet->m_hWnd).cy, 40);
    sheet->SetText(L"and again");
    sheet->Show(SW_SHOW);
    EXPECT_LT(dialog_test::SizeOf(sheet->m_hWnd).cy, 40);
    EXPECT_FALSE(IsWindowVisible(sheet->LinkWindow())) << "the text shows once the sheet is open";
    dialog_test::Pump(3000, [&] { return IsWindowVisible(sheet->LinkWindow()) != FALSE; });
    EXPECT_EQ(dialog_test::SizeOf(sheet->m_hWnd).cy, 40);
    sheet->Show(SW_HIDE);
}

namespace {

void Report(const char* name, int64_t done, int64_t total, int64_t failed, const wchar_t* status) {
    CommandMessage message{};
    message.code = 1;  // the window filed as 7
    message.value4 = done;
    message.value3 = total;
    message.status = failed;
    message.data = const_cast<wchar_t*>(status);
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    trv::SendCommand(&message);
}

}  // namespace

// A notice longer than the sheet's line (the server-crash notice) wraps: the sheet opens as tall as the
// wrapped text, and its link covers every line, so that no word is cut.
TEST_F(Dialogs, ALongNoticeWrapsOntoASheetTallEnoughForIt) {
    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    auto* sheet = static_cast<UiSheetDialog*>(m_bus.GetDialogById(2));
    ASSERT_NE(sheet, nullptr);
    sheet->SetTiming(trv::SheetTiming{20, 5000});
    trv::CurrentHostPlatform().LayOutNoticeSheet();
    const std::wstring notice =
        L"Application have errors due to some unknown reasons,please email the zip crashing report file to us,"
        L"click me show in folder.";
    sheet->SetText(notice);
    sheet->Show(SW_SHOW);
    dialog_test::Pump(3000, [&] { return IsWindowVisible(sheet->LinkWindow()) != FALSE; });
    ASSERT_TRUE(IsWindowVisible(sheet->LinkWindow()));
    wtl::UniqueFont font(VNLUtilityApp::GetFont(16, false, L"Arial"));
    const SIZE oneLine = dialog_test::TextSize(font.get(), notice);
    const SIZE sheetSize = dialog_test::SizeOf(sheet->m_hWnd);
    ASSERT_GT(oneLine.cx, sheetSize.cx - 40) << "the notice is longer than the line";
    const RECT link = dialog_test::ClientRectIn(sheet->LinkWindow(), sheet->m_hWnd);
    EXPECT_GE(link.bottom - link.top, 2 * oneLine.cy) << "two lines at least";
    EXPECT_GE(sheetSize.cy, link.bottom + 8) << "the sheet holds them";
    EXPECT_LE(link.right, sheetSize.cx - 8);
    // Broken at blanks only: the lines joined again are the notice, every word whole.
    std::wstring shown = dialog_test::TextOf(sheet->LinkWindow());
    EXPECT_NE(shown.find(L'\n'), std::wstring::npos);
    std::replace(shown.begin(), shown.end(), L'\n', L' ');
    EXPECT_EQ(shown, L"<A HREF=\"notice\">" + notice + L"</A>");
    dialog_test::Screenshot(sheet->m_hWnd, L"sheet-long-notice");
    sheet->Show(SW_HIDE);
}

TEST_F(Dialogs, ProgressCountsFromReportsSummarizesAndAutoCloses) {
    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    m_bus.RegisterWindow(7, m_view);
    UiProgressDialog* dialog = ProgressDialogFiledUnder(m_view);
    ASSERT_NE(dialog, nullptr);
    dialog->SetTickInterval(30);
    dialog->ResetState();
    dialog->Start();
    EXPECT_FALSE(IsWindowEnabled(m_view));  // showing it disables its parent
    EXPECT_EQ(dialog_test::SizeOf(dialog->m_hWnd).cx, 500);
    const int64_t total = 6LL << 30;
    std::thread([total] { Report(ZERITH_COMMAND_NOTIFY_PROGRESS, total / 4 * 3, total, 0, L"Copying photos"); }).join();
    dialog_test::Pump(2000, [&] { return dialog->ShownDone() == total / 4 * 3; });
    EXPECT_EQ(dialog->ShownStatus(), L"Copying photos");
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(dialog->m_hWnd, UiProgressDialog::kActionButtonId)), L"Cancel");
    dialog_test::Screenshot(dialog->m_hWnd, L"progress-running");

    Report(ZERITH_COMMAND_NOTIFY_PROGRESS, 0, 0, 2, nullptr);
    Report(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, total, 0, 0, nullptr);
    dialog_test::Pump(2000, [&] { return dialog->ShownStatus() != L"Copying photos"; });
    EXPECT_EQ(dialog->ShownStatus(), L"Failed(2) Copying photos");
    EXPECT_EQ(dialog->ShownDone(), total - 2);
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(dialog->m_hWnd, UiProgressDialog::kActionButtonId)), L"OK");
    dialog_test::Screenshot(dialog->m_hWnd, L"progress-finished");
    // A finished run's button only closes: the completion is not called.
    int completions = 0;
    dialog->SetCompletion([&] { ++completions; });
    dialog_test::Press(dialog->m_hWnd, UiProgressDialog::kActionButtonId);
    EXPECT_FALSE(IsWindowVisible(dialog->m_hWnd));
    EXPECT_TRUE(IsWindowEnabled(m_view));
    EXPECT_EQ(completions, 0);

    // An auto-closing run hides itself once finished; a cancelled one calls its completion once.
    dialog->ResetState();
    dialog->SetAutoClose(true);
    dialog->Start();
    Report(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, 5, 5, 0, nullptr);
    dialog_test::Pump(2000, [&] { return !IsWindowVisible(dialog->m_hWnd); });
    EXPECT_FALSE(IsWindowVisible(dialog->m_hWnd));
    EXPECT_EQ(dialog->ShownStatus(), L"Finish");
    dialog->ResetState();
    dialog->SetAutoClose(false);
    dialog->Start();
    dialog_test::Press(dialog->m_hWnd, UiProgressDialog::kActionButtonId);
    dialog_test::Press(dialog->m_hWnd, kDialogCloseButtonId);
    EXPECT_EQ(completions, 1);
}

TEST_F(Dialogs, UpdateResultsShowTheNoticeTheListTheDownloadAndTheLatestAlert) {
    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    auto* sheet = static_cast<UiSheetDialog*>(m_bus.GetDialogById(2));
    auto* list = static_cast<UiUpdateListDialog*>(m_bus.GetDialogById(3));
    auto* download = static_cast<UiUpdateDownloadDialog*>(m_bus.GetDialogById(1));
    ASSERT_NE(sheet, nullptr);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(download, nullptr);
    const auto result = [](int64_t status, int64_t count) {
        auto* versions = new UpdateVersionList{{L"2.7.0", L"", L"", {}}, {L"2.6.30", L"", L"", {}}};
        for (int i = 1; i <= 10; ++i) (*versions)[0].notes.push_back(L"Improvement " + std::to_wstring(i));
        CommandMessage message{};
        message.status = status;
        message.value2 = count;
        message.extra = count > 0 ? versions : nullptr;
        if (count == 0) delete versions;
        Invoke(ZERITH_COMMAND_CHECK_FOR_UPDATE, message);
    };
    // An automatic check: the notice on the sheet, from the UI thread.
    std::thread([&] { result(1, 2); }).join();
    dialog_test::Pump(2000, [&] { return IsWindowVisible(sheet->m_hWnd) != FALSE; });
    EXPECT_EQ(dialog_test::TextOf(sheet->LinkWindow()),
              L"<A HREF=\"notice\">A new version of (2.7.0) is available.</A>");
    sheet->Show(SW_HIDE);

    // The user asks: the list shows both versions, with a scroll bar for its twelve lines.
    CommandMessage ask{};
    Invoke(LUNDER_COMMAND_CHECK_FOR_UPDATE, ask);
    result(1, 2);
    dialog_test::Pump(2000, [&] { return IsWindowVisible(list->m_hWnd) != FALSE; });
    ASSERT_TRUE(IsWindowVisible(list->m_hWnd));
    const std::wstring notes = dialog_test::TextOf(list->NotesWindow());
    EXPECT_EQ(notes.rfind(L"Version: 2.7.0\r\nImprovement 1\r\n", 0), 0u);
    EXPECT_NE(notes.find(L"Improvement 10\r\nVersion: 2.6.30\r\n"), std::wstring::npos);
    EXPECT_NE(GetWindowLongW(list->NotesWindow(), GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(list->m_hWnd, UiUpdateListDialog::kUpdateButtonId)), L"Update Now");
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(list->m_hWnd, UiUpdateListDialog::kLaterButtonId)), L"Remind Me Later");
    EXPECT_EQ(dialog_test::SizeOf(list->m_hWnd).cy, 360);
    dialog_test::Screenshot(list->m_hWnd, L"update-list");

    // "Update Now": the download dialog counts bytes beyond 4 GiB, then reports a failure.
    dialog_test::Press(list->m_hWnd, UiUpdateListDialog::kUpdateButtonId);
    EXPECT_FALSE(IsWindowVisible(list->m_hWnd));
    ASSERT_TRUE(IsWindowVisible(download->m_hWnd));
    download->SetTickInterval(30);
    std::thread([] {
        CommandMessage running{};
        running.status = 2;
        running.value3 = 5LL << 30;
        running.value4 = 3LL << 30;
        Invoke(ZERITH_COMMAND_DOWNLOAD_UPDATE, running);
    }).join();
    dialog_test::Pump(2000, [&] { return download->ShownDone() == (3LL << 30); });
    EXPECT_EQ(download->ShownStatus(), L"Downloading updated files, please wait...");
    dialog_test::Screenshot(download->m_hWnd, L"update-download");
    CommandMessage failed{};
    failed.status = 3;
    Invoke(ZERITH_COMMAND_DOWNLOAD_UPDATE, failed);
    dialog_test::Pump(2000, [&] { return download->ShownStatus() != L"Downloading updated files, please wait..."; });
    EXPECT_EQ(download->ShownStatus(), L"Download failed! Please check if the network is available.");
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(download->m_hWnd, UiProgressDialog::kActionButtonId)), L"OK");
    dialog_test::Screenshot(download->m_hWnd, L"update-download-failed");
    dialog_test::Press(download->m_hWnd, UiProgressDialog::kActionButtonId);

    // Nothing new, asked by the user: the alert names this version.
    dialog_test::WhenDialogShows([](HWND alert) {
        EXPECT_EQ(dialog_test::SizeOf(alert).cx, 440);
        EXPECT_EQ(dialog_test::SizeOf(alert).cy, 100);
        EXPECT_EQ(dialog_test::TextOf(alert), L"This version of (2.6.21) is the latest version.");
        dialog_test::Screenshot(alert, L"update-latest");
        dialog_test::Press(alert, 5051);
    });
    result(1, 0);
    dialog_test::Pump(3000, [] { return !dialog_test::AnswerPending(); });
}

// A masked question (the backup password) shows dots for what is typed and hands back the text as typed.
TEST_F(Dialogs, APasswordIsTypedMasked) {
    dialog_test::WhenDialogShows([](HWND dialog) {
        HWND edit = GetDlgItem(dialog, UiInputDialog::kEditId);
        ASSERT_NE(edit, nullptr);
        EXPECT_NE(GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD, 0) << "the password shows as it is typed";
        EXPECT_NE(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), 0);
        dialog_test::Type(edit, L" secret ");
        dialog_test::Screenshot(dialog, L"input-password");
        dialog_test::Press(dialog, 5051);
    });
    trv::LineQuestion question;
    question.label = L"Password:";
    question.masked = true;
    std::wstring typed;
    ASSERT_TRUE(trv::AskLine(question, typed));
    EXPECT_EQ(typed, L" secret ");
}

// Alt+F4 (the system's close command) ends every host dialog as its close button does: a modal question
// ends unanswered with the window it disabled enabled again, and a modeless dialog that disables the view
// while it shows hides and enables it.
TEST_F(Dialogs, AltF4ClosesEachDialogAndGivesBackWhatItDisabled) {
    dialog_test::WhenDialogShows([](HWND dialog) { SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    CommandMessage rename{};
    Invoke(YESTAL_COMMAND_EDIT_DEVICE_NAME, rename);
    EXPECT_EQ(rename.status, 0) << "closed, not confirmed";
    EXPECT_TRUE(IsWindowEnabled(m_frame));

    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    for (const int id : {1, 3}) {  // the update's download dialog and its list
        auto* dialog = static_cast<UiDialog*>(m_bus.GetDialogById(id));
        ASSERT_NE(dialog, nullptr) << id;
        dialog->ResetState();
        dialog->Show(SW_SHOW);
        HWND owner = dialog->Parent();
        ASSERT_NE(owner, nullptr) << id;
        EXPECT_FALSE(IsWindowEnabled(owner)) << id << " disables its owner while it shows";
        SendMessageW(dialog->m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        dialog_test::Pump(200);
        EXPECT_FALSE(IsWindowVisible(dialog->m_hWnd)) << id;
        EXPECT_TRUE(IsWindowEnabled(owner)) << id << " leaves its owner disabled";
    }
}

namespace {

// What the about box draws, read from the screen: each line is as wide as its text in its font (so the
// version line says "(Preview)" only for a preview product), centred, in its colour.
void ExpectAboutLines(HWND about, const std::wstring& versionLine) {
    EXPECT_EQ(dialog_test::SizeOf(about).cx, 500);
    EXPECT_EQ(dialog_test::SizeOf(about).cy, 360);
    EXPECT_EQ(dialog_test::TextOf(GetDlgItem(about, 5051)), L"OK");
    wtl::UniqueFont nameFont(VNLUtilityApp::GetFont(18, true, L"Arial"));
    wtl::UniqueFont versionFont(VNLUtilityApp::GetFont(16, false, L"Arial"));
    wtl::UniqueFont rightsFont(VNLUtilityApp::GetFont(17, false, L"Arial"));
    const SIZE name = dialog_test::TextSize(nameFont.get(), L"Solvak Trevane");
    const SIZE version = dialog_test::TextSize(versionFont.get(), versionLine);
    const SIZE rights = dialog_test::TextSize(rightsFont.get(), L"Copyright \u00A9 2020 Solvak. All rights reserved.");
    const int versionTop = 136 + name.cy + 16;
    RECT client = {};
    GetClientRect(about, &client);
    const struct {
        const char* line;
        int top, height, width;
        COLORREF ink;
    } lines[] = {{"name", 136, name.cy, name.cx, RGB(0xFF, 0xFF, 0xFF)},
                 {"version", versionTop, version.cy, version.cx, RGB(0xFF, 0xFF, 0xFF)},
                 {"rights", 196 + 16 + 24 + 4 + 40, rights.cy, rights.cx, RGB(0x7F, 0x7F, 0x7F)}};
    for (const auto& line : lines) {
        const dialog_test::InkSpan drawn = dialog_test::InkIn(about, line.top, line.top + line.height, line.ink);
        // Centred: it starts where a line of its width starts, and ends where it ends (the smoothed last
        // glyphs, a full stop, may fall short of the ink) and no further.
        const int left = (client.right - line.width) / 2;
        EXPECT_NEAR(drawn.left, left, 3) << line.line;
        EXPECT_LE(drawn.right, left + line.width + 1) << line.line;
        EXPECT_GE(drawn.right, left + line.width - 16) << line.line;
    }
}

}  // namespace

TEST_F(Dialogs, AboutShowsTheProductVersionAndOk) {
    m_bus.SetNamedIcon("LOGO_ICON", LoadIconW(nullptr, IDI_APPLICATION));
    dialog_test::WhenDialogShows([](HWND about) {
        ExpectAboutLines(about, L"Version 2.6.21");
        dialog_test::Screenshot(about, L"about");
        dialog_test::Press(about, 5051);
    });
    CommandMessage message{};
    Invoke(LUNDER_COMMAND_OPEN_ABOUT, message);
    EXPECT_FALSE(dialog_test::AnswerPending());
}

TEST_F(Dialogs, AboutMarksAPreviewProductOnly) {
    const struct {
        int64_t productType;
        const wchar_t* versionLine;
    } cases[] = {{0, L"Version 2.6.21"}, {1, L"Version 2.6.21 (Preview)"}};
    for (const auto& c : cases) {
        UiAboutDialog about(nullptr, nullptr, nullptr, L"http://127.0.0.1/solvak/", c.productType);
        about.SetContent(L"", nullptr, m_view, 500, 360);
        dialog_test::WhenDialogShows([&c](HWND shown) {
            ExpectAboutLines(shown, c.versionLine);
            dialog_test::Press(shown, 5051);
        });
        about.Run();
        EXPECT_FALSE(dialog_test::AnswerPending());
    }
}

TEST_F(Dialogs, DriverDownloadShowsItsProgressAndTheNoticesAnswerTheUser) {
    trv::CurrentHostPlatform().CreateHostDialogs(m_view);
    auto* driver = static_cast<UiProgressDialog*>(m_bus.GetDialogById(4));
    ASSERT_NE(driver, nullptr);
    driver->SetTickInterval(30);
    std::thread([] {
        for (const char* name : {ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER, ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER}) {
            CommandMessage message{};
            message.value4 = 40;
            message.value3 = 100;
            Invoke(name, message);
        }
    }).join();
    dialog_test::Pump(2000, [&] { return driver->ShownDone() == 40; });
    EXPECT_EQ(driver->ShownDone(), 40);  // the run's reset did not undo the report that followed it
    EXPECT_TRUE(IsWindowVisible(driver->m_hWnd));
    EXPECT_EQ(driver->ShownStatus(), L"Downloading the Apple Mobile Device USB driver...");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(driver->m_hWnd, UiProgressDialog::kFolderButtonId)));
    dialog_test::Screenshot(driver->m_hWnd, L"driver-download");
    dialog_test::Press(driver->m_hWnd, UiProgressDialog::kActionButtonId);

    dialog_test::WhenDialogShows([](HWND notice) {
        const std::wstring text = dialog_test::TextOf(notice);
        EXPECT_EQ(text.rfind(L"Connected device is not recognized? Fix it as follows:\nWay 1. Update the Apple", 0),
                  0u);
        EXPECT_NE(text.find(L"Way 3. Click here for more solutions."), std::wstring::npos);
        dialog_test::Screenshot(notice, L"driver-not-recognized");
        dialog_test::Press(notice, 5051);
    });
    CommandMessage detect{};
    detect.wideText = const_cast<wchar_t*>(L"https://help.test/device");
    Invoke(YESTAL_COMMAND_DEVICE_DETECT_SUPPORT, detect);
    dialog_test::Pump(3000, [] { return !dialog_test::AnswerPending(); });

    dialog_test::WhenDialogShows([](HWND alert) {
        // 500 x 160 asked; the long notice grows the dialog so that it stays above the buttons.
        EXPECT_EQ(dialog_test::SizeOf(alert).cx, 500);
        EXPECT_GE(dialog_test::SizeOf(alert).cy, 160);
        const RECT button = dialog_test::ClientRectIn(GetDlgItem(alert, 5051), alert);
        const RECT link = dialog_test::ClientRectIn(GetDlgItem(alert, UiAlertDialog::kAlertLinkId), alert);
        EXPECT_LE(link.bottom, button.top);
        EXPECT_NE(dialog_test::TextOf(alert).find(L"reinstall the iTunes from Apple after the uninstallation.)"),
                  std::wstring::npos);
        dialog_test::Screenshot(alert, L"driver-store-edition");
        dialog_test::Press(alert, 5052);
    });
    CommandMessage store{};
    store.status = 2;
    Invoke(ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, store);
    dialog_test::Pump(3000, [] { return !dialog_test::AnswerPending(); });
}
