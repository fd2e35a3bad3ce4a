#include "brisel_window_support.h"

#include <commctrl.h>

#include <algorithm>

#include <wtl/GdiObjects.h>

#include "backup_list.h"
#include "brisel_module.h"
#include "theme_keys.h"

namespace brisel {
namespace {

TTTOOLINFOW ListTool(HWND owner, HWND list, const wchar_t* text) {
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = const_cast<wchar_t*>(text);
    return tool;
}

// A cell's text starts 10 pixels into the cell and ends 2 before its edge; the name column's row icon
// (at most 20 pixels wide) and its gap take 12 more.
constexpr int kCellPadding = 12;
constexpr int kIconRoom = 24;
// Digits are equally wide in the list's font: the widest time text there is.
constexpr wchar_t kTimeSample[] = L"0000-00-00 00:00:00";

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size = {};
    return GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size) ? size.cx : 0;
}

std::wstring HeaderText(HWND header, int column) {
    wchar_t text[128] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    return text;
}

}  // namespace

void FitListColumns(VNLListView& list, HFONT font, const std::vector<int>& shares, int checkWidth) {
    // The client width is already less the vertical scroll bar when the list shows one; the widths are
    // fitted again whenever the rows change, so no room is kept for a scroll bar that is not there.
    RECT client;
    GetClientRect(list, &client);
    const int width = client.right;
    const int columns = std::min(list.ColumnCount(), static_cast<int>(shares.size()));
    std::vector<int> needed(shares.size(), 0);
    HDC dc = GetDC(list);
    if (dc == nullptr) return;
    {
        wtl::SelectGuard selectFont(dc, font);
        // The row number starts 15 pixels after the check box image.
        if (columns > 0) needed[0] = checkWidth + 15 + TextWidth(dc, std::to_wstring(list.ItemCount())) + 2;
        for (int column = 1; column < columns; ++column) {
            int need = TextWidth(dc, HeaderText(list.Header(), column));
            if (column == kTimeColumn) need = std::max(need, TextWidth(dc, kTimeSample));
            for (int row = 0; row < list.ItemCount(); ++row)
                need = std::max(need, TextWidth(dc, list.GetItemText(row, column)));
            needed[static_cast<size_t>(column)] = need + kCellPadding + (column == 1 ? kIconRoom : 0);
        }
    }
    ReleaseDC(list, dc);
    const std::vector<int> widths = FitColumns(shares, width, needed, {kTimeColumn, kSizeColumn});
    for (int column = 0; column < columns; ++column) {
        SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                     MAKELPARAM(widths[static_cast<size_t>(column)], 0));
    }
}

Gdiplus::Bitmap* BackupRowIcon(VNLListView* list, int row, void*) {
    const auto* backup = reinterpret_cast<const iOSBackup*>(list->GetItemData(row));
    return Image(backup != nullptr && backup->encrypted ? THEME_BACKUP_ENCRYPTED : THEME_BACKUP_UNENCRYPTED);
}

HWND TopLevelOwnerOf(HWND window) {
    while (window != nullptr) {
        HWND next =
            (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(window) : GetWindow(window, GW_OWNER);
        if (next == nullptr) break;
        window = next;
    }
    return window;
}

HWND MakeKeyTooltip(HWND owner, HWND list) {
    HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, Module(), nullptr);
    if (tooltip != nullptr) {
        TTTOOLINFOW tool = ListTool(owner, list, L"");
        tool.uFlags |= TTF_SUBCLASS;
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    return tooltip;
}

void ShowKeyTooltip(HWND tooltip, HWND owner, HWND list, const std::wstring& key) {
    if (tooltip == nullptr) return;
    TTTOOLINFOW tool = ListTool(owner, list, key.c_str());
    SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, 10000);
    SendMessageW(tooltip, TTM_POPUP, 0, 0);
}

void StartDrag(HWND window) {
    ReleaseCapture();
    PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    wtl::UniqueBrush brush(CreateSolidBrush(colour));
    ::FillRect(dc, &rect, brush.get());
}

void FrameRectangle(HDC dc, const RECT& rect, COLORREF colour, int penWidth) {
    wtl::UniquePen pen(CreatePen(PS_SOLID, penWidth, colour));
    wtl::SelectGuard selectPen(dc, pen.get());
    wtl::SelectGuard selectBrush(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void PaintTitleFrame(HDC dc, const RECT& client, int titleBottom, COLORREF titleColour, HFONT font,
                     const wchar_t* title) {
    FillSolid(dc, {1, 1, client.right - 1, titleBottom}, titleColour);
    FrameRectangle(dc, client, RGB(0x7F, 0x7F, 0x7F), 1);
    wtl::SelectGuard selectFont(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
    RECT text = {12, 1, client.right - 40, titleBottom};
    DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace brisel
