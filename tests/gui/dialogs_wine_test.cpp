// The host's dialogs under Wine, each opened by its command through the host's bus, read back from its
// windows, answered as a user would, and photographed.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "UiInputDialog.h"
#include "UiSheetDialog.h"
#include "command_names.h"
#include "dialog_harness.h"
#include "host_input.h"
#include "host_platform.h"
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

TEST_F(Dialogs, DisconnectSheetIsPostedInOrderSlidesOpenBelowTheTitleBarAndHidesItself) {
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
    EXPECT_EQ(placed.top, origin.y + 68);
    EXPECT_EQ(placed.right - placed.left, 900);
    dialog_test::Pump(100);
    EXPECT_TRUE(IsWindowVisible(sheet->LinkWindow()));
    dialog_test::Screenshot(sheet->m_hWnd, L"sheet-disconnect");
    // The markup became a link: a plain text would show its tags.
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    EXPECT_TRUE(SendMessageW(sheet->LinkWindow(), LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)));

    const DWORD open = GetTickCount();
    dialog_test::Pump(3000, [&] { return !IsWindowVisible(sheet->m_hWnd); });
    EXPECT_FALSE(IsWindowVisible(sheet->m_hWnd));
    EXPECT_GE(GetTickCount() - open, 400u);  // it stayed open for its time first

    // Shown again, it opens from its narrow start once more.
    sheet->SetText(L"again");
    sheet->Show(SW_SHOW);
    EXPECT_LT(dialog_test::SizeOf(sheet->m_hWnd).cy, 40);
    sheet->Show(SW_HIDE);
}
