// The files the host asks the user for, under Wine: the open-file dialog hands back a multiple selection
// far larger than its first buffer whole.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog_harness.h"
#include "host_platform.h"

namespace {

class HostPrograms : public dialog_test::HostWindows {};

// A new empty folder under the temporary folder.
std::wstring NewFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount());
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS) << "folder not made";
    return folder;
}

}  // namespace

TEST_F(HostPrograms, AMultipleSelectionLargerThanTheFirstBufferArrivesWhole) {
    // Sixty books whose quoted names run to about three thousand characters, three times the first buffer.
    const std::wstring folder = NewFolder(L"trv-books");
    std::vector<std::wstring> expected;
    for (int i = 10; i < 70; ++i) {
        const std::wstring name = L"A book with a rather long title, volume " + std::to_wstring(i) + L".epub";
        HANDLE file = CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        expected.push_back(folder + L"\\" + name);
    }
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str());  // where the dialog opens

    dialog_test::WhenDialogShows([](HWND dialog) {
        HWND defaultView = FindWindowExW(dialog, nullptr, L"SHELLDLL_DefView", nullptr);
        HWND list = defaultView != nullptr ? FindWindowExW(defaultView, nullptr, WC_LISTVIEWW, nullptr) : nullptr;
        if (list == nullptr) {
            ADD_FAILURE() << "the dialog's file list is not there";
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        dialog_test::Pump(5000, [list] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 60; });
        EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 60);
        // The user selects every book, as a drag over them or Ctrl+A would.
        LVITEMW all = {};
        all.stateMask = LVIS_SELECTED;
        all.state = LVIS_SELECTED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
        // The dialog writes the quoted names into its file-name box (cmb13) as the selection changes.
        HWND names = GetDlgItem(dialog, 0x047C);
        dialog_test::Pump(5000, [names] { return GetWindowTextLengthW(names) > 1024; });
        EXPECT_GT(GetWindowTextLengthW(names), 1024);
        dialog_test::Screenshot(dialog, L"open-books");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    std::vector<std::wstring> chosen = trv::CurrentHostPlatform().ChooseFiles(
        L"Please select eBook files.", L"eBook Files(*.pdf;*.epub)", L"*.pdf;*.epub", true);
    SetCurrentDirectoryW(previous);
    std::sort(chosen.begin(), chosen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(chosen, expected);
}
