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
//   winprobe cells <class> <childClass>        prints the items of the first visible descendant list view
//                                              (a row's column texts separated by tabs,
//                                              line breaks as blanks) or tree view
//                                              (each item's text, indented by two blanks a level)
//   winprobe columns <class> <childClass>      prints each column of the first visible descendant list
//                                              view as its header text, a tab and its width in pixels
//   winprobe scroll-end <class> <childClass>   scrolls that list view to its last row and prints
//                                              "<top row> <rows a page> <rows>"
//   winprobe click <class> <childClass> <x> <y>
//                                              clicks the first descendant of that class at (x, y) of
//                                              its client area
//   winprobe press-in <class> <buttonText>     clicks that button inside the visible window of the class
//   winprobe type <text> <timeoutMs> [<n>]     puts the text into the first dialog's first (or n-th) edit box
//   winprobe check-rows <class> <row>...       clicks the check box of each row of the first visible
//                                              descendant list view
//   winprobe open-row <class> <row>            double-clicks the row of the first visible descendant list
//                                              view, as a user opens it
//   winprobe icons <class>                     prints each row of the first visible descendant list view as
//                                              its image's index in the list's image list and its icon's
//                                              "left top right bottom" on the screen
//   winprobe choose-folder <path> <timeoutMs>  opens the first dialog's folder tree down to the path
//                                              ("X:\\dir\\sub"), selects it and presses OK
//   winprobe menu <item> <timeoutMs>           chooses the item (1 the first) of the open popup menu
//   winprobe link <n> <timeoutMs>              follows the n-th link (1 the first) of the first dialog's link
//                                              control with the keyboard: focus, Tab to it, Enter
//   winprobe select <class> <name>             selects the item of the visible tree view whose first
//                                              column (the text before a tab) is the name and prints
//                                              its label's "left top right bottom" in the tree
//   winprobe text-width <pixels> <bold> <text> prints the width in pixels of the text in Arial of that
//                                              size (bold 1 or 0), as the desktop's pages draw their texts
// Exit code 0 on success, 1 when the window was not found in time, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <wtl/window_text.h>

#include "probe_support.h"
#include "vnl_utf8.h"

namespace {

struct Search {
    HWND found;
    int count;
};

// The visible top-level windows of one class: the first and how many.
Search FindVisible(const wchar_t* className) {
    Search search{nullptr, 0};
    for (HWND window : probe::TopLevelWindows()) {
        if (!IsWindowVisible(window) || probe::ClassOf(window) != className) continue;
        if (search.found == nullptr) search.found = window;
        ++search.count;
    }
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

void PrintText(HWND window) {
    const std::wstring text = wtl::WindowText(window);
    if (!text.empty()) std::printf("%s\n", Utf8(text).c_str());
}

// The visible child whose text, without its '&' marks, is `text`.
HWND FindButton(HWND dialog, const std::wstring& text) {
    for (HWND child : probe::Descendants(dialog)) {
        if (!IsWindowVisible(child)) continue;
        // As the button shows it: a single "&" marks the next letter as the mnemonic, "&&" is one "&".
        const std::wstring raw = wtl::WindowText(child);
        std::wstring plain;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == L'&' && ++i == raw.size()) break;
            plain += raw[i];
        }
        if (plain == text) return child;
    }
    return nullptr;
}

// One line per descendant of the class: visible flag, screen rectangle and the parent's class.
void PrintChildrenOfClass(HWND window, const wchar_t* className) {
    for (HWND child : probe::Descendants(window, className)) {
        RECT rect = {};
        GetWindowRect(child, &rect);
        std::printf("%d %ld %ld %ld %ld %s\n", IsWindowVisible(child) ? 1 : 0, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, Utf8(probe::ClassOf(GetParent(child))).c_str());
    }
}

// A buffer in the process of `window`: list and tree views write item texts only into their own memory.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t bytes) : m_bytes(bytes) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process != nullptr) m_address = VirtualAllocEx(m_process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (m_address != nullptr) VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
        if (m_process != nullptr) CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    bool Valid() const { return m_address != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(m_address) + offset; }
    bool Write(size_t offset, const void* data, size_t bytes) const {
        return WriteProcessMemory(m_process, At(offset), data, bytes, nullptr) != FALSE;
    }
    bool Read(size_t offset, void* data, size_t bytes) const {
        return ReadProcessMemory(m_process, At(offset), data, bytes, nullptr) != FALSE;
    }
    std::wstring ReadText(size_t offset) const {
        std::wstring text((m_bytes - offset) / sizeof(wchar_t), L'\0');
        if (!ReadProcessMemory(m_process, At(offset), &text[0], text.size() * sizeof(wchar_t), nullptr)) return L"";
        text.resize(std::wcslen(text.c_str()));
        return text;
    }

private:
    size_t m_bytes;
    HANDLE m_process = nullptr;
    void* m_address = nullptr;
};

constexpr size_t kTextOffset = 256;  // the item record first, its text after it
constexpr int kTextChars = 1024;

void PrintListCells(HWND list, const RemoteBuffer& buffer) {
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = std::max(1, static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)));
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::wstring line;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(buffer.At(kTextOffset));
            item.cchTextMax = kTextChars;
            const wchar_t none = 0;
            buffer.Write(kTextOffset, &none, sizeof none);
            buffer.Write(0, &item, sizeof item);
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buffer.At(0)));
            std::wstring cell = buffer.ReadText(kTextOffset);
            std::replace(cell.begin(), cell.end(), L'\n', L' ');  // one line per row
            line += (column == 0 ? L"" : L"\t") + cell;
        }
        std::printf("%s\n", Utf8(line).c_str());
    }
}

void PrintListColumns(HWND list, const RemoteBuffer& buffer) {
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int column = 0; column < columns; ++column) {
        HDITEMW item = {};
        item.mask = HDI_TEXT | HDI_WIDTH;
        item.pszText = reinterpret_cast<wchar_t*>(buffer.At(kTextOffset));
        item.cchTextMax = kTextChars;
        const wchar_t none = 0;
        buffer.Write(kTextOffset, &none, sizeof none);
        buffer.Write(0, &item, sizeof item);
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(buffer.At(0)));
        buffer.Read(0, &item, sizeof item);
        std::printf("%s\t%d\n", Utf8(buffer.ReadText(kTextOffset)).c_str(), item.cxy);
    }
}

std::wstring TreeItemText(HWND tree, const RemoteBuffer& buffer, HTREEITEM node) {
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = reinterpret_cast<wchar_t*>(buffer.At(kTextOffset));
    item.cchTextMax = kTextChars;
    buffer.Write(0, &item, sizeof item);
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.At(0)));
    return buffer.ReadText(kTextOffset);
}

void PrintTreeItems(HWND tree, const RemoteBuffer& buffer, HTREEITEM first, int depth) {
    for (HTREEITEM node = first; node != nullptr; node = TreeView_GetNextSibling(tree, node)) {
        std::printf("%s%s\n", std::string(static_cast<size_t>(depth) * 2, ' ').c_str(),
                    Utf8(TreeItemText(tree, buffer, node)).c_str());
        PrintTreeItems(tree, buffer, TreeView_GetChild(tree, node), depth + 1);
    }
}

// The item under `first` (depth first) whose text before a tab is `name`; null when none.
HTREEITEM FindTreeItem(HWND tree, const RemoteBuffer& buffer, HTREEITEM first, const std::wstring& name) {
    for (HTREEITEM node = first; node != nullptr; node = TreeView_GetNextSibling(tree, node)) {
        const std::wstring text = TreeItemText(tree, buffer, node);
        if (text.substr(0, text.find(L'\t')) == name) return node;
        if (HTREEITEM found = FindTreeItem(tree, buffer, TreeView_GetChild(tree, node), name)) return found;
    }
    return nullptr;
}

HWND FindVisibleDescendant(const wchar_t* className, const wchar_t* childClass) {
    for (HWND child : probe::Descendants(FindVisible(className).found, childClass)) {
        if (IsWindowVisible(child)) return child;
    }
    return nullptr;
}

// The first visible descendant of that class, else the first one.
HWND FindDescendant(const wchar_t* className, const wchar_t* childClass) {
    if (HWND visible = FindVisibleDescendant(className, childClass)) return visible;
    return probe::First(probe::Descendants(FindVisible(className).found, childClass));
}

// A click in the check column (its left 8 pixels) of each row, as a user checks rows.
bool CheckRows(HWND list, int rowCount, wchar_t** rows) {
    RemoteBuffer buffer(list, sizeof(RECT));
    if (list == nullptr || !buffer.Valid()) return false;
    for (int i = 0; i < rowCount; ++i) {
        RECT rect = {LVIR_BOUNDS, 0, 0, 0};
        if (!buffer.Write(0, &rect, sizeof rect) ||
            !SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(_wtoi(rows[i])),
                          reinterpret_cast<LPARAM>(buffer.At(0)))) {
            return false;
        }
        if (!buffer.Read(0, &rect, sizeof rect)) return false;
        const LPARAM at = MAKELPARAM(8, (rect.top + rect.bottom) / 2);
        PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(list, WM_LBUTTONUP, 0, at);
    }
    return true;
}

// A double-click on the row's first cell, as the system delivers one: down, up, double-click, up.
bool OpenRow(HWND list, int row) {
    RemoteBuffer buffer(list, sizeof(RECT));
    RECT rect = {LVIR_LABEL, 0, 0, 0};
    if (list == nullptr || !buffer.Valid() || !buffer.Write(0, &rect, sizeof rect) ||
        !SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buffer.At(0))) ||
        !buffer.Read(0, &rect, sizeof rect)) {
        return false;
    }
    const LPARAM at = MAKELPARAM(rect.left + 8, (rect.top + rect.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    return true;
}

// Each row's image index and icon rectangle (screen coordinates), one line a row.
bool PrintRowIcons(HWND list) {
    RemoteBuffer buffer(list, sizeof(LVITEMW) + sizeof(RECT));
    if (list == nullptr || !buffer.Valid()) return false;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        RECT rect = {LVIR_ICON, 0, 0, 0};
        if (!buffer.Write(0, &item, sizeof item) || !buffer.Write(sizeof item, &rect, sizeof rect) ||
            !SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.At(0))) ||
            !SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                          reinterpret_cast<LPARAM>(buffer.At(sizeof item))) ||
            !buffer.Read(0, &item, sizeof item) || !buffer.Read(sizeof item, &rect, sizeof rect)) {
            return false;
        }
        MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        std::printf("%d %ld %ld %ld %ld\n", item.iImage, rect.left, rect.top, rect.right, rect.bottom);
    }
    return true;
}

// The child of `parent` (expanded first, which fills a folder chooser's children) whose text `matches`.
template <typename Match>
HTREEITEM FindChildItem(HWND tree, const RemoteBuffer& buffer, HTREEITEM parent, Match matches) {
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    for (HTREEITEM node = TreeView_GetChild(tree, parent); node != nullptr;
         node = TreeView_GetNextSibling(tree, node)) {
        if (matches(TreeItemText(tree, buffer, node))) return node;
    }
    return nullptr;
}

// Selects the folder `path` ("X:\dir\sub") in the folder chooser `dialog` as a user would, opening the
// tree from the drive (found under the desktop or one level below it, by its "(X:)") down, and presses OK.
bool ChooseFolder(HWND dialog, const std::wstring& path) {
    HWND tree = probe::First(probe::Descendants(dialog, WC_TREEVIEWW));
    RemoteBuffer buffer(tree, kTextOffset + kTextChars * sizeof(wchar_t));
    if (tree == nullptr || !buffer.Valid() || path.size() < 2 || path[1] != L':') return false;
    const std::wstring drive = L"(" + path.substr(0, 2) + L")";
    auto isDrive = [&drive](const std::wstring& text) { return text.find(drive) != std::wstring::npos; };
    const HTREEITEM root = TreeView_GetRoot(tree);
    HTREEITEM node = FindChildItem(tree, buffer, root, isDrive);
    for (HTREEITEM top = TreeView_GetChild(tree, root); node == nullptr && top != nullptr;
         top = TreeView_GetNextSibling(tree, top)) {
        node = FindChildItem(tree, buffer, top, isDrive);
    }
    size_t at = 2;
    while (node != nullptr && at < path.size()) {
        const size_t next = std::min(path.find(L'\\', at + 1), path.size());
        const std::wstring name = path.substr(at + 1, next - at - 1);
        at = next;
        if (name.empty()) continue;
        node = FindChildItem(tree, buffer, node,
                             [&name](const std::wstring& text) { return _wcsicmp(text.c_str(), name.c_str()) == 0; });
    }
    if (node == nullptr) return false;
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return true;
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
    if (command == L"text-width" && argc == 5) {
        HDC dc = GetDC(nullptr);
        HFONT font = CreateFontW(-_wtoi(argv[2]), 0, 0, 0, _wtoi(argv[3]) != 0 ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                                 FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH | FF_DONTCARE, L"Arial");
        HGDIOBJ old = SelectObject(dc, font);
        SIZE extent = {};
        GetTextExtentPoint32W(dc, argv[4], static_cast<int>(wcslen(argv[4])), &extent);
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
        std::printf("%ld\n", extent.cx);
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
        PrintText(dialog);  // the dialog's own text first
        for (HWND child : probe::Descendants(dialog)) PrintText(child);
        return 0;
    }
    if (command == L"press" && argc == 4) {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[3])));
        if (dialog == nullptr) return 1;
        HWND button = FindButton(dialog, argv[2]);
        if (button == nullptr) return 1;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        return 0;
    }
    if (command == L"press-in" && argc == 4) {
        HWND button = FindButton(FindVisible(argv[2]).found, argv[3]);
        if (button == nullptr) return 1;
        PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        return 0;
    }
    if (command == L"type" && (argc == 4 || argc == 5)) {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[3])));
        const std::vector<HWND> edits = probe::Descendants(dialog, L"Edit");
        const size_t index = argc == 5 ? static_cast<size_t>(std::max(1, _wtoi(argv[4]))) - 1 : 0;
        if (dialog == nullptr || edits.size() <= index) return 1;
        SendMessageW(edits[index], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
        return 0;
    }
    if (command == L"menu" && argc == 4) {
        // The menu's own loop reads the keys from its thread's queue: down to the item, then Enter.
        HWND menu = WaitFor(L"#32768", static_cast<DWORD>(_wtoi(argv[3])));
        if (menu == nullptr) return 1;
        for (int i = 0; i < _wtoi(argv[2]); ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
        return 0;
    }
    if (command == L"link" && argc == 4) {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[3])));
        HWND link = probe::First(probe::Descendants(dialog, L"SysLink"));
        if (link == nullptr) return 1;
        PostMessageW(link, WM_SETFOCUS, 0, 0);  // the control's first link takes the focus
        for (int i = 1; i < _wtoi(argv[2]); ++i) PostMessageW(link, WM_KEYDOWN, VK_TAB, 0);
        PostMessageW(link, WM_KEYDOWN, VK_RETURN, 0);
        return 0;
    }
    if (command == L"children" && argc == 4) {
        HWND window = FindVisible(argv[2]).found;
        if (window == nullptr) return 1;
        PrintChildrenOfClass(window, argv[3]);
        return 0;
    }
    if (command == L"text" && argc == 4) {
        HWND child = FindDescendant(argv[2], argv[3]);
        if (child == nullptr) return 1;
        std::printf("%s\n", Utf8(wtl::WindowText(child)).c_str());
        return 0;
    }
    if (command == L"shown" && argc == 4) {
        // The texts of the visible descendants of the class (the page that is showing).
        for (HWND child : probe::Descendants(FindVisible(argv[2]).found, argv[3])) {
            if (IsWindowVisible(child)) std::printf("%s\n", Utf8(wtl::WindowText(child)).c_str());
        }
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
    if (command == L"cells" && argc == 4) {
        HWND view = nullptr;
        for (HWND child : probe::Descendants(FindVisible(argv[2]).found, argv[3])) {
            if (IsWindowVisible(child)) {
                view = child;
                break;
            }
        }
        if (view == nullptr) return 1;
        RemoteBuffer buffer(view, kTextOffset + kTextChars * sizeof(wchar_t));
        if (!buffer.Valid()) return 1;
        if (probe::ClassOf(view) == WC_TREEVIEWW) {
            PrintTreeItems(view, buffer, TreeView_GetRoot(view), 0);
        } else {
            PrintListCells(view, buffer);
        }
        return 0;
    }
    if ((command == L"columns" || command == L"scroll-end") && argc == 4) {
        HWND view = FindVisibleDescendant(argv[2], argv[3]);
        if (view == nullptr) return 1;
        RemoteBuffer buffer(view, kTextOffset + kTextChars * sizeof(wchar_t));
        if (!buffer.Valid()) return 1;
        if (command == L"columns") {
            PrintListColumns(view, buffer);
            return 0;
        }
        const int rows = static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
        SendMessageW(view, LVM_ENSUREVISIBLE, static_cast<WPARAM>(std::max(0, rows - 1)), FALSE);
        UpdateWindow(view);
        std::printf("%ld %ld %d\n", static_cast<long>(SendMessageW(view, LVM_GETTOPINDEX, 0, 0)),
                    static_cast<long>(SendMessageW(view, LVM_GETCOUNTPERPAGE, 0, 0)), rows);
        return 0;
    }
    if (command == L"check-rows" && argc >= 4) {
        return CheckRows(FindVisibleDescendant(argv[2], WC_LISTVIEWW), argc - 3, argv + 3) ? 0 : 1;
    }
    if (command == L"open-row" && argc == 4) {
        return OpenRow(FindVisibleDescendant(argv[2], WC_LISTVIEWW), _wtoi(argv[3])) ? 0 : 1;
    }
    if (command == L"icons" && argc == 3) {
        return PrintRowIcons(FindVisibleDescendant(argv[2], WC_LISTVIEWW)) ? 0 : 1;
    }
    if (command == L"choose-folder" && argc == 4) {
        HWND dialog = WaitFor(L"#32770", static_cast<DWORD>(_wtoi(argv[3])));
        return dialog != nullptr && ChooseFolder(dialog, argv[2]) ? 0 : 1;
    }
    if (command == L"select" && argc == 4) {
        HWND tree = FindDescendant(argv[2], WC_TREEVIEWW);
        if (tree == nullptr) return 1;
        RemoteBuffer buffer(tree, kTextOffset + kTextChars * sizeof(wchar_t));
        HTREEITEM item = buffer.Valid() ? FindTreeItem(tree, buffer, TreeView_GetRoot(tree), argv[3]) : nullptr;
        if (item == nullptr) return 1;
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        // TVM_GETITEMRECT reads the item from the rectangle it fills in.
        buffer.Write(0, &item, sizeof item);
        SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(buffer.At(0)));
        RECT label = {};
        if (!buffer.Read(0, &label, sizeof label)) return 1;
        std::printf("%ld %ld %ld %ld\n", label.left, label.top, label.right, label.bottom);
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
