// A command-line probe that the Trevane scenarios run under Wine beside the program: it finds windows by
// class (or a dialog by its text), reports their geometry, moves and closes them, and presses dialog
// buttons. Every wait polls a condition until a deadline; nothing waits a fixed time.
//
//   winprobe wait <class> <timeoutMs>          prints "x y width height" of the first visible window
//   winprobe count <class>                     prints how many visible top-level windows have the class
//   winprobe region <class>                    prints the window region's box "l t r b"
//   winprobe move <class> <dx> <dy>            moves the window by the offsets
//   winprobe close <class>                     posts WM_CLOSE
//   winprobe dialog-text <timeoutMs>           prints the first dialog's text, then its children's
//   winprobe press <buttonText> <timeoutMs>    clicks that button of the first dialog
//   winprobe children <class> <childClass>     prints "visible x y width height parentClass" (screen
//                                              coordinates) of every descendant window of that class
//   winprobe text <class> <childClass>         prints the text of the first descendant of that class
//   winprobe rows <class> <childClass>         prints the item count of the first descendant list view
//                                              of that class, then repaints the window and its children
//   winprobe click <class> <childClass> <x> <y>
//                                              clicks the first descendant of that class at (x, y) of
//                                              its client area
// Exit code 0 on success, 1 when the window was not found in time, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <wtl/window_text.h>

#include "vnl_utf8.h"

namespace {

struct Search {
    const wchar_t* className;
    HWND found;
    int count;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    if (IsWindowVisible(window) && wcscmp(name, search->className) == 0) {
        if (search->found == nullptr) search->found = window;
        ++search->count;
    }
    return TRUE;
}

Search FindVisible(const wchar_t* className) {
    Search search{className, nullptr, 0};
    EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search;
}

HWND WaitFor(const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const Search search = FindVisible(className);
        if (search.found != nullptr) return search.found;
        if (GetTickCount64() >= deadline) return nullptr;
        Sleep(50);  // polling interval of the deadline wait
    }
}

std::string Utf8(const std::wstring& text) { return vnl::Utf8FromWide(text); }

BOOL CALLBACK PrintChildText(HWND child, LPARAM) {
    wchar_t text[2048] = {};
    GetWindowTextW(child, text, 2048);
    if (text[0] != L'\0') std::printf("%s\n", Utf8(text).c_str());
    return TRUE;
}

struct ButtonSearch {
    const wchar_t* text;
    HWND found;
};

BOOL CALLBACK FindButton(HWND child, LPARAM parameter) {
    auto* search = reinterpret_cast<ButtonSearch*>(parameter);
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    std::wstring plain;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p != L'&') plain.push_back(*p);
    }
    if (plain == search->text) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

struct ChildSearch {
    const wchar_t* className;
    int count;
};

BOOL CALLBACK PrintChildOfClass(HWND child, LPARAM parameter) {
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    wchar_t name[256] = {};
    GetClassNameW(child, name, 256);
    if (wcscmp(name, search->className) != 0) return TRUE;
    wchar_t parentName[256] = {};
    GetClassNameW(GetParent(child), parentName, 256);
    RECT rect = {};
    GetWindowRect(child, &rect);
    std::printf("%d %ld %ld %ld %ld %s\n", IsWindowVisible(child) ? 1 : 0, rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top, Utf8(parentName).c_str());
    ++search->count;
    return TRUE;
}

BOOL CALLBACK FindChildOfClass(HWND child, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t name[256] = {};
    GetClassNameW(child, name, 256);
    if (wcscmp(name, search->className) != 0) return TRUE;
    search->found = child;
    return FALSE;
}

HWND FindDescendant(const wchar_t* className, const wchar_t* childClass) {
    HWND window = FindVisible(className).found;
    if (window == nullptr) return nullptr;
    Search search{childClass, nullptr, 0};
    EnumChildWindows(window, &FindChildOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring command = argv[1];
    if (command == L"wait" && argc == 4) {
        HWND window = WaitFor(argv[2], static_cast<DWORD>(_wtoi(argv[3])));
        if (window == nullptr) return 1;
        RECT rect = {};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        return 0;
    }
    if (command == L"count") {
        std::printf("%d\n", FindVisible(argv[2]).count);
        return 0;
    }
    if (command == L"region") {
        HWND window = FindVisible(argv[2]).found;
        if (window == nullptr) return 1;
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        const int kind = GetWindowRgn(window, region);
        RECT box = {};
        GetRgnBox(region, &box);
        DeleteObject(region);
        if (kind == ERROR) return 1;
        std::printf("%ld %ld %ld %ld\n", box.left, box.top, box.right, box.bottom);
        return 0;
    }
    if (command == L"move" && argc == 5) {
        HWND window = FindVisible(argv[2]).found;
        if (window == nullptr) return 1;
        RECT rect = {};
        GetWindowRect(window, &rect);
        SetWindowPos(window, nullptr, rect.left + _wtoi(argv[3]), rect.top + _wtoi(argv[4]), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if (command == L"close") {
        HWND window = FindVisible(argv[2]).found;
        if (window == nullptr) return 1;
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == L"dialog-text") {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[2])));
        if (dialog == nullptr) return 1;
        // Paints the dialog and its controls before answering, so that a screenshot taken next shows them.
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PrintChildText(dialog, 0);  // the dialog's own text first
        EnumChildWindows(dialog, &PrintChildText, 0);
        return 0;
    }
    if (command == L"press" && argc == 4) {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[3])));
        if (dialog == nullptr) return 1;
        ButtonSearch search{argv[2], nullptr};
        EnumChildWindows(dialog, &FindButton, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return 1;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(search.found), BN_CLICKED),
                     reinterpret_cast<LPARAM>(search.found));
        return 0;
    }
    if (command == L"children" && argc == 4) {
        HWND window = FindVisible(argv[2]).found;
        if (window == nullptr) return 1;
        ChildSearch search{argv[3], 0};
        EnumChildWindows(window, &PrintChildOfClass, reinterpret_cast<LPARAM>(&search));
        return 0;
    }
    if (command == L"text" && argc == 4) {
        HWND child = FindDescendant(argv[2], argv[3]);
        if (child == nullptr) return 1;
        std::printf("%s\n", Utf8(wtl::WindowText(child)).c_str());
        return 0;
    }
    if (command == L"rows" && argc == 4) {
        HWND child = FindDescendant(argv[2], argv[3]);
        if (child == nullptr) return 1;
        std::printf("%ld\n", static_cast<long>(SendMessageW(child, LVM_GETITEMCOUNT, 0, 0)));
        // The owner has taken every row it counts: paint it now, so that a screenshot taken next shows them.
        RedrawWindow(FindVisible(argv[2]).found, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        return 0;
    }
    if (command == L"click" && argc == 6) {
        HWND child = FindDescendant(argv[2], argv[3]);
        if (child == nullptr) return 1;
        const LPARAM at = MAKELPARAM(_wtoi(argv[4]), _wtoi(argv[5]));
        PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(child, WM_LBUTTONUP, 0, at);
        return 0;
    }
    return 2;
}
