#pragma once
// What the test probes and the page harness share to work a page from inside or outside the program: a
// press as the mouse gives it, the rows and cells of a list view, finding windows by class, and the
// registration of a probe module that runs from the host's message loop. Header-only, so that the probes
// link nothing of the desktop. UI thread of the window's process (or any thread for LVM_GETITEMCOUNT and
// the window lists); the press is sent, so the button's handler has run when it returns.

#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "command_message.h"

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

inline std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

inline BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every top-level window, in EnumWindows order.
inline std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Every descendant of `parent` of the class `className` (all descendants for null), in EnumChildWindows
// order; none for a null parent.
inline std::vector<HWND> Descendants(HWND parent, const wchar_t* className = nullptr) {
    std::vector<HWND> all;
    if (parent != nullptr) EnumChildWindows(parent, &CollectWindow, reinterpret_cast<LPARAM>(&all));
    if (className == nullptr) return all;
    std::vector<HWND> matching;
    for (HWND window : all) {
        if (ClassOf(window) == className) matching.push_back(window);
    }
    return matching;
}

// The main frame's descendants of one class.
inline std::vector<HWND> InFrame(const wchar_t* className) {
    return Descendants(FindWindowW(L"TrevaneMainFrame", nullptr), className);
}

inline HWND First(const std::vector<HWND>& windows) { return windows.empty() ? nullptr : windows.front(); }

// "ok <check>" or "FAIL <check>: <what it saw>", the report line of one check.
inline std::string CheckLine(bool ok, const std::string& check, const std::string& saw) {
    return (ok ? "ok " : "FAIL ") + check + (ok || saw.empty() ? "" : ": " + saw);
}

inline void Invoke(ModuleRecord* record, const char* name, CommandMessage& message) {
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    record->send(&message);
}

inline void __cdecl IgnoreCommand(CommandMessage*) {}

// Registration of a probe module: it takes no commands, and since host commands may not be invoked from
// RegisterModule, it works from a message-only window of the class `className` run by `procedure`; the
// window, or null when it cannot be made.
inline HWND RegisterProbe(ModuleRecord* record, const wchar_t* className, WNDPROC procedure) {
    record->receive = &IgnoreCommand;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    if (RegisterClassW(&windowClass) == 0) return nullptr;
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace probe
