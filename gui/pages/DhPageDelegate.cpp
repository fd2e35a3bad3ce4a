// The list pages' shared window part; see DhPageDelegate.h.
#include "DhPageDelegate.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "dropped_paths.h"
#include "list_rules.h"
#include "host_messages.h"
#include "theme_colour.h"

namespace {

constexpr int kToolbarGap = 20;
constexpr int kMenuDropHere = 1;
constexpr COLORREF kToolbarLine = RGB(0xAB, 0xAB, 0xAB);
constexpr COLORREF kPlaceholderGrey = RGB(0x7F, 0x7F, 0x7F);
const wchar_t kSearchPlaceholder[] = L"Search";

void Place(HWND window, int x, int y, int width, int height) {
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetFont(HWND window, HFONT font) { SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE); }

// A page window as the reply routing sees it.
class PageReplyTarget : public pages::ReplyTarget {
public:
    PageReplyTarget(HWND window, int sequence) : m_window(window), m_sequence(sequence) {}
    int Sequence() const override { return m_sequence; }
    TrvWindow Window() const override { return m_window; }
    bool Post(int64_t code, void* payload) const override {
        return PostMessageW(m_window, WM_HOST_REPLY, static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(payload)) !=
               FALSE;
    }

private:
    HWND m_window;
    int m_sequence;
};

}  // namespace

int SystemCompareNoCase(const wchar_t* first, const wchar_t* second) { return StrCmpIW(first, second); }

void DhPageDelegate::DispatchHostReply(const pages::ReplyTable& table, const DhPageDelegate* page,
                                       CommandMessage& message) {
    if (page == nullptr) {
        pages::DispatchReply(table, nullptr, message);
        return;
    }
    const PageReplyTarget target(page->m_page, page->PageSequence());
    pages::DispatchReply(table, &target, message);
}

// ---- Creation --------------------------------------------------------------------------------------------

void DhPageDelegate::CreatePageLook(HWND page) {
    m_page = page;
    m_background = ThemeColour("color:7", m_background);
    m_pressed = ThemeColour("color:task:operator:button:pressed", m_pressed);
    m_brush.Reset(CreateSolidBrush(m_background));
    m_textFont.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_searchFont.Reset(VNLUtilityApp::GetFont(19, false, L"Arial"));
}

bool DhPageDelegate::CreateList(int id, const std::vector<Column>& columns) {
    m_list.SetCheckImages(Image("common\\content-check-yes.png"), Image("common\\content-check-no.png"));
    const RECT none = {0, 0, 10, 10};
    if (m_list.Create(m_page, none, id) == nullptr) return false;
    m_list.RefreshRowHeight();
    SetFont(m_list, m_textFont.get());
    SetFont(m_list.Header(), m_textFont.get());
    m_list.InsertColumn(0, L"", 100);
    int index = 1;
    for (const Column& column : columns) m_list.InsertColumn(index++, column.text, column.width);
    return true;
}

HWND DhPageDelegate::CreateButtonWindow(int id, const wchar_t* text) {
    return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_page,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void DhPageDelegate::MakeToolbarButton(VNLSwitchImageButton& button, int id, const wchar_t* caption, const char* normal,
                                       const char* pressed) {
    m_toolbar.push_back(&button);
    HWND window = CreateButtonWindow(id, caption);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    SetFont(window, m_textFont.get());
    button.SetLayoutMode(2);
    button.SetMargins(2, 1);
    // A toolbar entry is a push button: it returns to normal when the mouse leaves.
    button.SetSwitchMode(false);
    button.SetImagesAt(m_background, m_pressed, caption, Image(normal), Image(pressed), 0);
}

void DhPageDelegate::MakeToolbar(const std::vector<ToolbarEntry>& entries) {
    for (const ToolbarEntry& entry : entries) {
        const std::string stem = entry.imageStem;
        MakeToolbarButton(*entry.button, entry.id, entry.caption, (stem + "-normal.png").c_str(),
                          (stem + "-pressed.png").c_str());
    }
}

void DhPageDelegate::MakeImageButton(VNLImgButton& button, int id, const char* normal, const char* pressed,
                                     const wchar_t* tip) {
    HWND window = CreateButtonWindow(id);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    button.SetAbsoluteY(true);
    button.SetImages(Image(normal), Image(pressed), 0, 0);
    if (tip != nullptr) button.SetToolTip(tip);
}

void DhPageDelegate::CreateSearchBox(int editId, int buttonId) {
    HWND edit =
        CreateWindowExW(0, L"EDIT", kSearchPlaceholder, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 10, 10, m_page,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(editId)), GetModuleHandleW(nullptr), nullptr);
    if (edit != nullptr && m_searchEdit.SubclassWindow(edit)) {
        m_searchEdit.SetPlaceholder(true, kSearchPlaceholder);
        SetFont(edit, m_searchFont.get());
        // Enter in the box searches: the page's own procedure sits in front of the edit's.
        SetWindowLongPtrW(edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_searchPreviousProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DhPageDelegate::SearchEditProc)));
    }
    MakeImageButton(m_searchButton, buttonId, "common\\operate-search.png", "common\\operate-search.png", nullptr);
    for (HWND& line : m_frameLines) {
        line = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED | SS_GRAYRECT, 0, 0, 1, 1, m_page,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }
}

LRESULT CALLBACK DhPageDelegate::SearchEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* page = reinterpret_cast<DhPageDelegate*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
    if (page == nullptr || page->m_searchPreviousProc == nullptr)
        return ::DefWindowProcW(edit, message, wParam, lParam);
    const WNDPROC previous = page->m_searchPreviousProc;
    if (message == WM_GETDLGCODE) {
        return CallWindowProcW(previous, edit, message, wParam, lParam) | DLGC_WANTALLKEYS;
    }
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        try {
            page->RunSearch();
        } catch (...) {
            LOG(ERROR) << "page search failed";
        }
        return 0;
    }
    return CallWindowProcW(previous, edit, message, wParam, lParam);
}

// ---- Layout and painting ---------------------------------------------------------------------------------

void DhPageDelegate::PlaceToolbar(int firstX) {
    int x = firstX;
    for (VNLSwitchImageButton* button : m_toolbar) {
        // The style bit, not IsWindowVisible: the page may be laid out while it is hidden itself.
        if (button->m_hWnd == nullptr || (GetWindowLongW(*button, GWL_STYLE) & WS_VISIBLE) == 0) continue;
        const controls::SwitchImageLayout& layout = button->Layout();
        Place(*button, x, 8 - 1, layout.preferredWidth, layout.preferredHeight);
        x += layout.preferredWidth + kToolbarGap;
    }
}

void DhPageDelegate::PlaceSearchBox(int width) {
    // The search box at the toolbar's right end, framed by four one-pixel lines.
    const RECT edit = {width - 160, 4, width - 40, 25};
    Place(m_searchEdit, edit.left, edit.top, edit.right - edit.left, edit.bottom - edit.top);
    Place(m_searchButton, width - 40, 4, m_searchButton.Width(), m_searchButton.Height());
    Place(m_frameLines[0], edit.left - 1, edit.top - 1, edit.right - edit.left + 2, 1);
    Place(m_frameLines[1], edit.left - 1, edit.bottom, edit.right - edit.left + 2, 1);
    Place(m_frameLines[2], edit.left - 1, edit.top - 1, 1, edit.bottom - edit.top + 2);
    Place(m_frameLines[3], edit.right, edit.top - 1, 1, edit.bottom - edit.top + 2);
}

void DhPageDelegate::SetColumnWidths(const std::vector<int>& percents) {
    // The client width already leaves out a shown vertical scroll bar. Columns that fill exactly that width
    // never need the horizontal bar, whatever the list's width was before.
    RECT client = {};
    GetClientRect(m_list, &client);
    const double hundredth = static_cast<double>(client.right - client.left) / 100.0;
    int total = 0;
    for (size_t column = 0; column < percents.size(); ++column) {
        int width = static_cast<int>(hundredth * percents[column]);
        if (column + 1 == percents.size()) width = std::max(0, static_cast<int>(client.right - client.left) - total);
        total += width;
        SendMessageW(m_list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), static_cast<LPARAM>(width));
    }
}

void DhPageDelegate::PaintToolbarBand(HDC dc, const RECT& client) const {
    FillRect(dc, &client, m_brush.get());
    RECT body = {client.left, kToolbarHeight + 1, client.right, client.bottom};
    FillRect(dc, &body, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    wtl::UniquePen pen(CreatePen(PS_SOLID, 1, kToolbarLine));
    wtl::SelectGuard select(dc, pen.get());
    MoveToEx(dc, client.left, kToolbarHeight, nullptr);
    LineTo(dc, client.right, kToolbarHeight);
}

// ---- Messages --------------------------------------------------------------------------------------------

void DhPageDelegate::ReleaseToolbarButton(HWND control) {
    // The toolbar's entries are image switches, which ignore a press while they are selected.
    for (VNLSwitchImageButton* button : m_toolbar) {
        if (control != nullptr && button->m_hWnd == control) {
            button->SetState(0);
            InvalidateRect(control, nullptr, FALSE);
        }
    }
}

std::vector<std::wstring> DhPageDelegate::TakeDroppedPaths(HDROP drop) const {
    HMENU menu = CreatePopupMenu();
    int choice = 0;
    if (menu != nullptr) {
        AppendMenuW(menu, MF_STRING, kMenuDropHere, L"Drag and drop here");
        POINT cursor = {};
        GetCursorPos(&cursor);
        choice = TrackPopupMenu(menu, TPM_RETURNCMD, cursor.x, cursor.y, 0, m_list, nullptr);
        DestroyMenu(menu);
    }
    std::vector<std::wstring> paths;
    if (choice == kMenuDropHere) {
        const unsigned count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        paths = pages::CollectDroppedPaths(count, [drop](unsigned index, wchar_t* buffer, unsigned size) {
            return DragQueryFileW(drop, index, buffer, size);
        });
    }
    DragFinish(drop);
    return paths;
}

int DhPageDelegate::TrackMenuBelow(HWND anchor, const std::vector<MenuEntry>& entries) const {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return 0;
    for (const MenuEntry& entry : entries) {
        if (entry.id == 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(entry.id), entry.text);
        }
    }
    RECT below = {};
    GetWindowRect(anchor, &below);
    const int choice = TrackPopupMenu(menu, TPM_RETURNCMD, below.left, below.bottom, 0, m_page, nullptr);
    DestroyMenu(menu);
    return choice;
}

bool DhPageDelegate::StepSortArrow(int column, bool& ascending) {
    if (column < 1) return false;
    HWND header = m_list.Header();
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    ascending = false;
    for (int index = 1; index < columns; ++index) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        if (index == column) {
            const controls::SortStep step = controls::NextSort(item.fmt);
            item.fmt = step.format;
            ascending = step.ascending;
        } else {
            item.fmt = controls::WithoutSortArrow(item.fmt);
        }
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    }
    return true;
}

std::vector<int> DhPageDelegate::CheckedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < m_list.ItemCount(); ++row) {
        if (m_list.IsChecked(row)) rows.push_back(row);
    }
    return rows;
}

Gdiplus::Bitmap* DhPageDelegate::Image(const char* key) const { return FindImage(m_images, key); }

bool DhPageDelegate::ProcessPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_ERASEBKGND:
        result = 1;  // WM_PAINT fills everything from an off-screen copy
        return true;
    case WM_CTLCOLOREDIT: {
        if (reinterpret_cast<HWND>(lParam) != m_searchEdit.m_hWnd) return false;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, m_background);
        if (m_searchEdit.ShowsPlaceholder()) SetTextColor(dc, kPlaceholderGrey);
        result = reinterpret_cast<LRESULT>(m_brush.get());
        return true;
    }
    case WM_CTLCOLORSTATIC:
        // The frame lines paint themselves; answered here so that it is not reflected to them.
        result = ::DefWindowProcW(window, message, wParam, lParam);
        return true;
    default: return false;
    }
}
