#pragma once
// What the test probes and the page harness share to work a page from inside or outside the program: a
// press as the mouse gives it, and the rows and cells of a list view. Header-only, so that the probe
// modules link nothing of the desktop. UI thread of the window's process (or any thread for
// LVM_GETITEMCOUNT); the press is sent, so the button's handler has run when it returns.

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace probe {

// A left press at (2, 2): the owner-drawn buttons act on the button going down.
inline void PressLater(HWND button) {
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

inline int RowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

inline std::wstring CellText(HWND list, int row, int column) {
    wchar_t buffer[512] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

}  // namespace probe
