#include "brisel_window_support.h"

#include <commctrl.h>

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

}  // namespace

Gdiplus::Bitmap* BackupRowIcon(VNLListView* list, int row, void*) {
    const auto* backup = reinterpret_cast<const iOSBackup*>(list->GetItemData(row));
    return Image(backup != nullptr && backup->encrypted ? THEME_BACKUP_ENCRYPTED : THEME_BACKUP_UNENCRYPTED);
}

HWND TopLevelOwnerOf(HWND window) {
    while (window != nullptr) {
        HWND next = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(window) : GetWindow(window, GW_OWNER);
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
