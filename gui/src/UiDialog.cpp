// UiDialog; see UiDialog.h.
#include "UiDialog.h"

#include <commctrl.h>

#include <cstdlib>

#include <vornel/VNLUtilityApp.h>

UiDialog::UiDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : m_closeNormal(closeNormal),
      m_closeHover(closeHover),
      m_shadow(std::make_unique<CThemedShadowWnd>()),
      m_font(VNLUtilityApp::GetFont(16, false, L"Arial")) {}

UiDialog::~UiDialog() {
    // The shadow goes first (it restores this window's procedure), then the window itself.
    m_shadow.reset();
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

namespace {

// Takes the dialog's font back from a link control (EnumChildWindows callback).
BOOL CALLBACK ReleaseLinkFont(HWND child, LPARAM) {
    wchar_t name[16] = {};
    if (GetClassNameW(child, name, 16) > 0 && _wcsicmp(name, WC_LINK) == 0) {
        SendMessageW(child, WM_SETFONT, 0, FALSE);
    }
    return TRUE;
}

}  // namespace

void UiDialog::ReleaseLinkFonts() { EnumChildWindows(m_hWnd, &ReleaseLinkFont, 0); }

int UiDialog::Create(HWND parent, int width, int height) {
    SetGeometry(parent, width, height);
    wtl::CDialogImpl<UiDialog>::Create(parent, kDialogTemplateId);
    return 1;
}

void UiDialog::Show(int command) {
    if (m_shadow && m_shadow->m_hWnd != nullptr) ShowWindow(m_shadow->m_hWnd, command);
    if (m_parent != nullptr) EnableWindow(m_parent, command != SW_SHOW);
    if (m_hWnd != nullptr) ShowWindow(m_hWnd, command);
}

void UiDialog::ResetState() {
    m_done = false;
    m_closed = false;
}

void UiDialog::MoveBy(int dx, int dy) {
    RECT rect = {};
    if (m_hWnd == nullptr || !GetWindowRect(m_hWnd, &rect)) return;
    SetWindowPos(m_hWnd, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOSIZE);
}

LRESULT UiDialog::OnInitDialog(HWND, LPARAM) {
    if (m_parent == nullptr) {
        // The top-level window above the dialog: up through parents while the window is a child, then
        // through owners.
        HWND window = m_hWnd;
        HWND found = nullptr;
        for (;;) {
            HWND next =
                (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(window) : GetWindow(window, GW_OWNER);
            if (next == nullptr) break;
            found = next;
            window = next;
        }
        m_parent = found;
    }
    RECT area = {};
    if (m_parent == nullptr || !GetWindowRect(m_parent, &area)) {
        // No window to centre on: centre on the work area instead.
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int x = area.left + ((area.right - area.left) - m_width) / 2;
    const int y = area.top + ((area.bottom - area.top) - m_height) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, m_width, m_height, SWP_NOZORDER | SWP_HIDEWINDOW);

    m_shadow->SetOffset(4);
    m_shadow->CreateFor(m_hWnd);
    m_captionColour = ThemeColour("color:1", kDialogGrey);

    HWND close = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 0, 0, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDialogCloseButtonId)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (close != nullptr && m_closeButton.SubclassWindow(close)) {
        m_closeButton.SetImages(m_closeNormal, m_closeHover, -8, 4);
        m_closeButton.SetBackgroundFill(true, m_captionColour);
    }
    return TRUE;
}

void UiDialog::OnCloseButton(UINT, int, HWND) {
    if (m_parent != nullptr) EnableWindow(m_parent, TRUE);
    Show(SW_HIDE);
    m_closed = true;
}

LRESULT UiDialog::OnBodyButtonDown(WPARAM, LPARAM lParam) {
    // Dragging by any point of the body: the system moves the dialog as if its caption were held.
    PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return 0;
}

void UiDialog::Paint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    wtl::MemoryDC memory(paint.get(), width, height);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    SetBkMode(dc, TRANSPARENT);
    {
        wtl::UniquePen frame(CreatePen(PS_SOLID, 1, kDialogGrey));
        wtl::SelectGuard pen(dc, frame.get());
        wtl::SelectGuard brush(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, 0, 0, width, height);
    }
    {
        wtl::UniqueBrush caption(CreateSolidBrush(m_captionColour));
        RECT bar = {0, 0, width, kDialogCaptionHeight};
        FillRect(dc, &bar, caption.get());
    }
    if (!m_caption.empty()) {
        wtl::SelectGuard font(dc, m_font ? static_cast<HGDIOBJ>(m_font.get()) : GetStockObject(DEFAULT_GUI_FONT));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, m_caption.c_str(), static_cast<int>(m_caption.size()), &extent);
        ::SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
        const int top = std::abs(kDialogCaptionHeight - extent.cy) / 2;
        RECT text = {8, top, 8 + extent.cx, top + extent.cy};
        DrawTextW(dc, m_caption.c_str(), static_cast<int>(m_caption.size()), &text, 0);
    }
    DrawContent(dc, 1, kDialogCaptionHeight, width - 1, height - 1);
    memory.CopyTo(paint.get(), 0, 0, width, height);
}

void UiDialog::DrawContent(HDC, int, int, int, int) {}

void UiDialog::CreateTextButton(VNLSwitchButton& button, int id, const std::wstring& caption, HFONT font,
                                COLORREF normal, COLORREF hover, int marginX, int marginY, bool visible) {
    HWND window =
        CreateWindowExW(0, L"BUTTON", caption.c_str(), WS_CHILD | (visible ? WS_VISIBLE : 0) | BS_OWNERDRAW, 0, 0, 0, 0,
                        m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const COLORREF white = RGB(0xFF, 0xFF, 0xFF);
    button.SetColours(normal, white, hover, white);
    button.SetSwitchMode(false);
    button.SetMargins(marginX, marginY);
    button.SetText(caption);
}

void UiDialog::DrawFrame(HDC dc, const RECT& client, COLORREF colour) {
    wtl::UniquePen frame(CreatePen(PS_SOLID, 1, colour));
    wtl::SelectGuard pen(dc, frame.get());
    wtl::SelectGuard brush(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, client.left, client.top, client.right, client.bottom);
}
