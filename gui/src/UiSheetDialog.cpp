// UiSheetDialog; see UiSheetDialog.h.
#include "UiSheetDialog.h"

#include <algorithm>
#include <iostream>

#include <vornel/VNLUtilityApp.h>

#include "link_runs.h"

UiSheetDialog::UiSheetDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiDialog(closeNormal, closeHover),
      m_linkFont(VNLUtilityApp::GetFont(16, false, L"Arial")),
      m_sheetBrush(CreateSolidBrush(kSheetColour)) {}

UiSheetDialog::~UiSheetDialog() = default;

int UiSheetDialog::Create(HWND parent, int width, int) { return UiDialog::Create(parent, width, kSheetHeight); }

LRESULT UiSheetDialog::OnInitDialog(HWND, LPARAM) {
    // Starts one fifth open and hidden; its owner places it (PlaceAt) and grows it to full height when shown.
    POINT origin = {0, 0};
    if (m_parent != nullptr) ClientToScreen(m_parent, &origin);
    SetWindowPos(m_hWnd, nullptr, origin.x, origin.y, m_width, trv::SheetStartHeight(m_height),
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
    MakeLink(L"");
    return TRUE;
}

void UiSheetDialog::MakeLink(const std::wstring& markup) {
    // A link control is made for each text: some parse their markup only when they are created with it
    // and keep a later text as plain text once they hold a font.
    RECT place = {};
    bool visible = false;
    if (m_link != nullptr) {
        GetWindowRect(m_link, &place);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&place), 2);
        visible = IsWindowVisible(m_link) != FALSE;
        SendMessageW(m_link, WM_SETFONT, 0, FALSE);  // the font stays the sheet's (see ReleaseLinkFonts)
        DestroyWindow(m_link);
    }
    m_link = CreateWindowExW(0, WC_LINK, markup.c_str(), WS_CHILD | (visible ? WS_VISIBLE : 0), place.left, place.top,
                             place.right - place.left, place.bottom - place.top, m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSheetLinkId)), GetModuleHandleW(nullptr),
                             nullptr);
    if (m_link != nullptr) {
        SendMessageW(m_link, WM_SETFONT, reinterpret_cast<WPARAM>(m_linkFont.get()), FALSE);
        SetClassLongPtrW(m_link, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(GetStockObject(NULL_BRUSH)));
    }
}

void UiSheetDialog::SetText(const std::wstring& text) {
    std::cout << "UiSheetDialog thread id: " << GetCurrentThreadId() << std::endl;
    // The whole line is one link; its address is never opened (the click runs the owner's action), and a
    // non-empty one is what every link control parses.
    m_text = text;
    if (m_hWnd != nullptr) {
        WrapToWidth();
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

SIZE UiSheetDialog::OneLineSize() {
    wtl::WindowDC windowDc(m_hWnd);
    wtl::SelectGuard font(windowDc.get(), m_linkFont.get());
    SIZE text = {};
    GetTextExtentPoint32W(windowDc.get(), m_text.c_str(), static_cast<int>(m_text.size()), &text);
    return text;
}

void UiSheetDialog::WrapToWidth() {
    // The link control's own wrapping cuts words apart: a text wider than the line is broken here, at
    // blanks, a little narrower than the line (the control keeps margins of its own), and the sheet grows
    // to hold its lines.
    constexpr int kWrapSlackPixels = 8;
    const RECT line = trv::SheetLinkRect(m_width, kSheetHeight, m_sheetClose.Width());
    std::wstring wrapped;
    int lineHeight = 0;
    {
        wtl::WindowDC windowDc(m_hWnd);
        wtl::SelectGuard font(windowDc.get(), m_linkFont.get());
        const auto measure = [dc = windowDc.get()](const std::wstring& run) {
            SIZE extent = {};
            GetTextExtentPoint32W(dc, run.c_str(), static_cast<int>(run.size()), &extent);
            return static_cast<int32_t>(extent.cx);
        };
        wrapped = trv::WrapAtBlanks(m_text, std::max(1L, line.right - line.left - kWrapSlackPixels), measure);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(windowDc.get(), &metrics);
        lineHeight = static_cast<int>(metrics.tmHeight + metrics.tmExternalLeading);
    }
    const int lines = 1 + static_cast<int>(std::count(wrapped.begin(), wrapped.end(), L'\n'));
    m_height = trv::SheetHeightFor(lines > 1 ? lines * lineHeight : 0, kSheetHeight);
    MakeLink(L"<A HREF=\"notice\">" + wrapped + L"</A>");
}

void UiSheetDialog::PlaceAt(const RECT& place) {
    if (m_hWnd == nullptr) return;
    // The width is the sheet's from here on: the slide-in and the open sheet keep it.
    m_width = std::max(0L, place.right - place.left);
    RECT self = {};
    GetWindowRect(m_hWnd, &self);
    SetWindowPos(m_hWnd, nullptr, place.left, place.top, m_width, self.bottom - self.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (!m_text.empty()) WrapToWidth();
    if (m_sheetClose.m_hWnd != nullptr) {
        SetWindowPos(m_sheetClose.m_hWnd, nullptr, m_width - 8 - m_sheetClose.Width(), 8, 0, 0,
                     SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void UiSheetDialog::KeepAboveFrame() {
    // Right above the main window, which a maximised frame may have been stacked over, so that the notice is
    // seen whole; a dialog above the main window (a question the program asks meanwhile) stays above it.
    HWND frame = m_parent != nullptr ? GetAncestor(m_parent, GA_ROOT) : nullptr;
    if (frame == nullptr || m_hWnd == nullptr) return;
    HWND above = GetWindow(frame, GW_HWNDPREV);
    if (above == m_hWnd) return;
    SetWindowPos(m_hWnd, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void UiSheetDialog::Show(int command) {
    if (m_hWnd == nullptr) return;
    if (command == SW_SHOW) {
        // Every notice slides in from the narrow start, an open sheet's too, so that a new text is seen to
        // arrive; the five seconds count from the new text.
        KillTimer(m_hWnd, kHideTimer);
        SetWindowPos(m_hWnd, nullptr, 0, 0, m_width, trv::SheetStartHeight(m_height),
                     SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
        if (m_link != nullptr) ShowWindow(m_link, SW_HIDE);
        if (m_sheetClose.m_hWnd != nullptr) ShowWindow(m_sheetClose.m_hWnd, SW_HIDE);
        SetTimer(m_hWnd, kSlideTimer, m_timing.slideStepMs, nullptr);
        ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
        KeepAboveFrame();
        return;
    }
    KillTimer(m_hWnd, kSlideTimer);
    KillTimer(m_hWnd, kHideTimer);
    ShowWindow(m_hWnd, command);
}

void UiSheetDialog::OnTimer(UINT_PTR id) {
    if (id == kSlideTimer) {
        RECT self = {};
        GetWindowRect(m_hWnd, &self);
        const int height = self.bottom - self.top;
        if (height < m_height) {
            // Repainted whole: the frame drawn at the old bottom edge would otherwise stay as a stripe.
            SetWindowPos(m_hWnd, nullptr, 0, 0, m_width, trv::NextSheetHeight(height, m_height),
                         SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOCOPYBITS);
            KeepAboveFrame();
            InvalidateRect(m_hWnd, nullptr, TRUE);
            return;
        }
        KillTimer(m_hWnd, kSlideTimer);
        SetTimer(m_hWnd, kHideTimer, m_timing.openTimeMs, nullptr);
        if (m_link != nullptr) {
            // The control covers only its text: some link controls fill the rest in the window colour.
            // A text longer than the line wraps over the whole (taller) line area.
            RECT line = trv::SheetLinkRect(m_width, m_height, m_sheetClose.Width());
            const SIZE text = OneLineSize();
            if (m_height <= kSheetHeight) {
                line.right = std::min(line.right, line.left + text.cx + 2);
                line.top += std::max(0L, (line.bottom - line.top - text.cy) / 2);
                line.bottom = std::min(line.bottom, line.top + text.cy);
            }
            SetWindowPos(m_link, nullptr, line.left, line.top, line.right - line.left, line.bottom - line.top,
                         SWP_NOZORDER | SWP_SHOWWINDOW);
        }
        if (m_sheetClose.m_hWnd != nullptr) ShowWindow(m_sheetClose.m_hWnd, SW_SHOW);
    } else if (id == kHideTimer) {
        KillTimer(m_hWnd, kHideTimer);
        // A notice under the pointer is being read: it stays until the pointer leaves it (or it is closed).
        POINT pointer = {};
        RECT self = {};
        if (GetCursorPos(&pointer) && GetWindowRect(m_hWnd, &self) && PtInRect(&self, pointer)) {
            SetTimer(m_hWnd, kHideTimer, kHoverRecheckMs, nullptr);
            return;
        }
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

LRESULT UiSheetDialog::OnSheetControlColour(WPARAM wParam, LPARAM lParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (reinterpret_cast<HWND>(lParam) == m_link && m_link != nullptr) {
        // The link control fills its own background with what it is given: the sheet's colour, so that the
        // line does not stand out as a white band.
        SetBkColor(dc, kSheetColour);
        return reinterpret_cast<LRESULT>(m_sheetBrush.get());
    }
    SetBkMode(dc, TRANSPARENT);
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
