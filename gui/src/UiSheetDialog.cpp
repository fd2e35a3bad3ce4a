// UiSheetDialog; see UiSheetDialog.h.
#include "UiSheetDialog.h"

#include <algorithm>
#include <iostream>

#include <vornel/VNLUtilityApp.h>

namespace {
constexpr int kBelowTitleBar = 68;
constexpr UINT kSlideStepMs = 50;
constexpr UINT kOpenTimeMs = 5000;
}  // namespace

UiSheetDialog::UiSheetDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiDialog(closeNormal, closeHover), m_linkFont(VNLUtilityApp::GetFont(16, false, L"Arial")) {}

UiSheetDialog::~UiSheetDialog() = default;

int UiSheetDialog::Create(HWND parent, int width, int) {
    return UiDialog::Create(parent, width, kSheetHeight);
}

LRESULT UiSheetDialog::OnInitDialog(HWND, LPARAM) {
    // Starts one fifth open, just below the parent's title bar, and grows to full height when shown.
    POINT origin = {0, 0};
    if (m_parent != nullptr) ClientToScreen(m_parent, &origin);
    SetWindowPos(m_hWnd, nullptr, origin.x, origin.y + kBelowTitleBar, m_width, m_height / 5,
                 SWP_NOZORDER | SWP_HIDEWINDOW);
    m_shadow->SetOffset(2);
    m_shadow->CreateFor(m_hWnd);

    HWND close = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 0, 0, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDialogCloseButtonId)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (close != nullptr && m_sheetClose.SubclassWindow(close)) {
        m_sheetClose.SetImages(m_closeNormal, m_closeHover, -8, 8);
        m_sheetClose.SetBackgroundFill(true, kSheetColour);
        ShowWindow(close, SW_HIDE);
    }
    m_link = CreateWindowExW(0, WC_LINK, L"", WS_CHILD, 0, 0, 0, 0, m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSheetLinkId)), GetModuleHandleW(nullptr),
                             nullptr);
    if (m_link != nullptr) {
        SendMessageW(m_link, WM_SETFONT, reinterpret_cast<WPARAM>(m_linkFont.get()), FALSE);
        SetClassLongPtrW(m_link, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(GetStockObject(NULL_BRUSH)));
    }
    if (m_parent != nullptr) {
        RECT parent = {};
        GetWindowRect(m_parent, &parent);
        RECT self = {};
        GetWindowRect(m_hWnd, &self);
        const int x = parent.left + ((parent.right - parent.left) - m_width) / 2;
        SetWindowPos(m_hWnd, nullptr, x, self.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return TRUE;
}

void UiSheetDialog::SetText(const std::wstring& text) {
    std::cout << "UiSheetDialog thread id: " << GetCurrentThreadId() << std::endl;
    if (m_link != nullptr) {
        const std::wstring markup = L"<A HREF=\"\">" + text + L"</A>";
        SetWindowTextW(m_link, markup.c_str());
    }
    if (m_hWnd != nullptr) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void UiSheetDialog::FollowParent() {
    if (m_hWnd == nullptr || m_parent == nullptr) return;
    RECT parent = {};
    RECT self = {};
    GetWindowRect(m_parent, &parent);
    GetWindowRect(m_hWnd, &self);
    const int width = parent.right - parent.left;
    SetWindowPos(m_hWnd, nullptr, parent.left, parent.top + kBelowTitleBar, width, self.bottom - self.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_sheetClose.m_hWnd != nullptr) {
        SetWindowPos(m_sheetClose.m_hWnd, nullptr, width - 8 - m_sheetClose.Width(), 8, 0, 0,
                     SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void UiSheetDialog::Show(int command) {
    if (command == SW_SHOW && m_hWnd != nullptr) SetTimer(m_hWnd, kSlideTimer, kSlideStepMs, nullptr);
    if (m_hWnd != nullptr) ShowWindow(m_hWnd, command);
}

void UiSheetDialog::OnTimer(UINT_PTR id) {
    if (id == kSlideTimer) {
        RECT self = {};
        GetWindowRect(m_hWnd, &self);
        const int height = self.bottom - self.top;
        if (height < m_height) {
            SetWindowPos(m_hWnd, nullptr, 0, 0, m_width, std::min(m_height, height + m_height / 5),
                         SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
            return;
        }
        KillTimer(m_hWnd, kSlideTimer);
        SetTimer(m_hWnd, kHideTimer, kOpenTimeMs, nullptr);
        if (m_link != nullptr) {
            SetWindowPos(m_link, nullptr, 16, 8, m_width - 20, m_height - 20, SWP_NOZORDER | SWP_SHOWWINDOW);
        }
        if (m_sheetClose.m_hWnd != nullptr) ShowWindow(m_sheetClose.m_hWnd, SW_SHOW);
    } else if (id == kHideTimer) {
        KillTimer(m_hWnd, kHideTimer);
        Show(SW_HIDE);
    }
}

void UiSheetDialog::OnCloseButton(UINT, int, HWND) {
    MarkDone();
    Show(SW_HIDE);
}

LRESULT UiSheetDialog::OnLinkClick(NMHDR*) {
    if (m_clickAction) m_clickAction(*this);
    MarkDone();
    Show(SW_HIDE);
    return 0;
}

LRESULT UiSheetDialog::OnSheetControlColour(WPARAM wParam, LPARAM) {
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void UiSheetDialog::Paint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::UniquePen frame(CreatePen(PS_SOLID, 1, kDialogGrey));
    wtl::UniqueBrush fill(CreateSolidBrush(kSheetColour));
    wtl::SelectGuard pen(paint.get(), frame.get());
    wtl::SelectGuard brush(paint.get(), fill.get());
    Rectangle(paint.get(), client.left, client.top, client.right, client.bottom);
}
