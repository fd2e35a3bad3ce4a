// The progress dialogs; see UiProgressDialog.h.
#include "UiProgressDialog.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

#include <vornel/VNLUtilityApp.h>

#include "dialog_layout.h"
#include "vnl_size_text.h"

namespace {

constexpr int kStatusTop = 50;
constexpr int kBarTop = 70;
constexpr int kBarBottom = 82;
constexpr COLORREF kBarFrame = RGB(0xDD, 0xDD, 0xDD);

}  // namespace

UiProgressDialog::UiProgressDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiDialog(closeNormal, closeHover),
      m_statusFont(VNLUtilityApp::GetFont(16, false, L"Arial")),
      m_percentFont(VNLUtilityApp::GetFont(16, true, L"Arial")),
      m_buttonFont(VNLUtilityApp::GetFont(16, true, L"Arial")) {}

UiProgressDialog::~UiProgressDialog() = default;

LRESULT UiProgressDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiDialog::OnInitDialog(focus, init);
    m_barColour = ThemeColour("color:1", kDialogGrey);
    const COLORREF normal = ThemeColour("color:1", kDialogGrey);
    const COLORREF hover = ThemeColour("color:12", RGB(0xC3, 0xC3, 0xC3));
    CreateTextButton(m_folderButton, kFolderButtonId, L"Show in folder", m_buttonFont.get(), normal, hover, 20, 8,
                     false);
    CreateTextButton(m_actionButton, kActionButtonId, L"Cancel", m_buttonFont.get(), normal, hover, 20, 8);
    Layout();
    return TRUE;
}

void UiProgressDialog::Layout() {
    if (m_hWnd == nullptr) return;
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int actionWidth = m_actionButton.PreferredWidth();
    const int actionHeight = m_actionButton.PreferredHeight();
    const int actionX = client.right - 20 - actionWidth;
    const int actionY = client.bottom - 16 - actionHeight;
    if (m_actionButton.m_hWnd != nullptr) {
        SetWindowPos(m_actionButton.m_hWnd, nullptr, actionX, actionY, actionWidth, actionHeight, SWP_NOZORDER);
    }
    if (m_folderButton.m_hWnd != nullptr) {
        const int width = m_folderButton.PreferredWidth();
        SetWindowPos(m_folderButton.m_hWnd, nullptr, actionX - 20 - width, actionY, width,
                     m_folderButton.PreferredHeight(), SWP_NOZORDER);
    }
    const int left = m_icon != nullptr ? static_cast<int>(m_icon->GetWidth()) + 24 : 20;
    m_progressRect = RECT{left, kBarTop, actionX + actionWidth / 2, kBarBottom};
    wtl::WindowDC windowDc(m_hWnd);
    wtl::SelectGuard font(windowDc.get(), m_statusFont.get());
    SIZE line = {};
    GetTextExtentPoint32W(windowDc.get(), L"g", 1, &line);
    m_statusRect = RECT{left, kStatusTop, client.right - 2, kStatusTop + line.cy};
}

void UiProgressDialog::ResetState() {
    m_state.Reset();
    ResetView();
}

void UiProgressDialog::ResetView() {
    UiDialog::ResetState();
    m_state.finished = false;
    m_shownTotal = m_shownDone = 0;
    m_shownStatus.clear();
    m_summaryShown = false;
    m_showFolder = true;
    if (m_actionButton.m_hWnd != nullptr) {
        SetActionCaption(L"Cancel");
        EnableWindow(m_actionButton.m_hWnd, TRUE);
    }
    Layout();
}

void UiProgressDialog::SetActionCaption(const std::wstring& caption) {
    if (m_actionButton.m_hWnd == nullptr) return;
    m_actionButton.SetText(caption);
    SetWindowTextW(m_actionButton.m_hWnd, caption.c_str());  // what accessibility tools read
}

void UiProgressDialog::Start() {
    if (m_hWnd == nullptr) return;
    if (m_folderButton.m_hWnd != nullptr) ShowWindow(m_folderButton.m_hWnd, m_showFolder ? SW_SHOW : SW_HIDE);
    SetTimer(m_hWnd, kTickTimer, m_tickMs, nullptr);
    Show(SW_SHOW);
}

void UiProgressDialog::Repaint() {
    // The window text is the status line shown, so that it can be read back like any other window's.
    SetWindowTextW(m_hWnd, m_shownStatus.c_str());
    // The status line, the bar with its percentage and the size line below it.
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    RECT area = {1, m_statusRect.top, client.right - 1, m_progressRect.bottom + 6 + 20};
    InvalidateRect(m_hWnd, &area, FALSE);
}

void UiProgressDialog::OnTimer(UINT_PTR id) {
    if (id == kAutoCloseTimer) {
        KillTimer(m_hWnd, kAutoCloseTimer);
        if (m_parent != nullptr) EnableWindow(m_parent, TRUE);
        Show(SW_HIDE);
        m_closed = true;
        return;
    }
    if (id != kTickTimer) return;
    const int64_t total = m_state.total;
    const int64_t done = m_state.done;
    const std::wstring status = m_state.StatusText();
    if (total != m_shownTotal || done != m_shownDone || status != m_shownStatus) {
        m_shownTotal = total;
        m_shownDone = done;
        m_shownStatus = status;
        Repaint();
    }
    if (!m_state.finished) return;
    KillTimer(m_hWnd, kTickTimer);
    const trv::ProgressSummary summary = trv::SummarizeProgress(total, done, m_state.failed, status);
    m_shownStatus = summary.status;
    m_shownDone = summary.done;
    m_summaryShown = true;
    if (m_autoClose) {
        Repaint();
        UpdateWindow(m_hWnd);
        SetTimer(m_hWnd, kAutoCloseTimer, m_tickMs, nullptr);
        return;
    }
    SetActionCaption(L"OK");
    Layout();
    Repaint();
}

void UiProgressDialog::FinishWithText(const std::wstring& text) {
    if (m_hWnd != nullptr) KillTimer(m_hWnd, kTickTimer);
    m_state.finished = true;
    if (!text.empty()) m_state.SetStatusText(text);
    // The counters as they are now: the timer that would have painted them has stopped, and a run that
    // ends with its total cleared shows no bar.
    m_shownTotal = m_state.total;
    m_shownDone = m_state.done;
    m_shownStatus = m_state.StatusText();
    m_summaryShown = true;
    if (m_actionButton.m_hWnd != nullptr) {
        SetActionCaption(L"OK");
        ShowWindow(m_actionButton.m_hWnd, SW_SHOW);
    }
    Layout();
    if (m_hWnd != nullptr) {
        SetWindowTextW(m_hWnd, m_shownStatus.c_str());
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void UiProgressDialog::Close() {
    if (m_closed) return;
    if (m_hWnd != nullptr) KillTimer(m_hWnd, kTickTimer);
    Show(SW_HIDE);
    m_state.SetStatusText(L"");
    m_shownStatus.clear();
    m_closed = true;
}

void UiProgressDialog::OnCancel() {
    if (m_hWnd != nullptr) {
        KillTimer(m_hWnd, kTickTimer);
        KillTimer(m_hWnd, kAutoCloseTimer);
    }
    if (!m_state.finished.exchange(true) && m_completion) m_completion();
    if (m_parent != nullptr) EnableWindow(m_parent, TRUE);
    Show(SW_HIDE);
    m_closed = true;
}

void UiProgressDialog::OnFolderButton(UINT, int, HWND) {
    if (!m_folder.empty()) VNLUtilityApp::OpenFolder(m_folder.c_str());
}

void UiProgressDialog::DrawContent(HDC dc, int, int, int right, int) {
    {
        // Without a bar (a run that ended with why) the status takes the bar's lines too, broken at blanks,
        // so that a long reason is read whole.
        RECT status = m_statusRect;
        if (m_shownTotal <= 0) status.bottom = std::max<LONG>(status.bottom, m_progressRect.bottom + 20);
        if (m_shownTotal <= 0) status.right = std::max<LONG>(status.left, right - 16);
        FillRect(dc, &status, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        wtl::SelectGuard font(dc, m_statusFont.get());
        ::SetTextColor(dc, RGB(0, 0, 0));
        DrawTextW(dc, m_shownStatus.c_str(), static_cast<int>(m_shownStatus.size()), &status,
                  m_shownTotal <= 0 ? DT_WORDBREAK | DT_NOPREFIX : 0);
    }
    if (m_shownTotal > 0) {
        const RECT bar = m_progressRect;
        {
            wtl::UniquePen framePen(CreatePen(PS_SOLID, 1, kBarFrame));
            wtl::SelectGuard pen(dc, framePen.get());
            wtl::SelectGuard brush(dc, GetStockObject(WHITE_BRUSH));
            RoundRect(dc, bar.left, bar.top, bar.right, bar.bottom, 8, 8);
        }
        const int fill = trv::ProgressFillWidth(m_shownDone, m_shownTotal, bar.right - bar.left);
        if (fill > 0) {
            wtl::UniqueBrush barBrush(CreateSolidBrush(m_barColour));
            RECT filled = {bar.left + 4, bar.top + 2, bar.left + 4 + fill, bar.bottom - 2};
            FillRect(dc, &filled, barBrush.get());
        }
        const std::wstring percent = std::to_wstring(trv::ProgressPercent(m_shownDone, m_shownTotal)) + L"%";
        wtl::SelectGuard font(dc, m_percentFont.get());
        ::SetTextColor(dc, m_barColour);
        RECT text = {bar.right + 4, bar.top - 6, right - 4, bar.bottom + 6};
        DrawTextW(dc, percent.c_str(), static_cast<int>(percent.size()), &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    if (m_icon != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_icon, 12, 44, static_cast<INT>(m_icon->GetWidth()), static_cast<INT>(m_icon->GetHeight()));
    }
}

UiUpdateDownloadDialog::UiUpdateDownloadDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiProgressDialog(closeNormal, closeHover) {
    m_showFolder = false;
}

void UiUpdateDownloadDialog::ResetState() {
    UiProgressDialog::ResetState();
    m_showFolder = false;
    m_closing = false;
    m_downloadedFile.clear();
}

void UiUpdateDownloadDialog::SetClosing() {
    m_closing = true;
    m_state.SetStatusText(L"Closing application,wait a moment...");
    m_shownStatus = m_state.StatusText();
    if (m_actionButton.m_hWnd != nullptr) EnableWindow(m_actionButton.m_hWnd, FALSE);
    if (m_hWnd != nullptr) InvalidateRect(m_hWnd, nullptr, FALSE);
}

void UiUpdateDownloadDialog::Fail(const std::wstring& text) {
    m_cancel = nullptr;
    m_closing = false;
    if (m_actionButton.m_hWnd != nullptr) EnableWindow(m_actionButton.m_hWnd, TRUE);
    FinishWithText(text);
}

void UiUpdateDownloadDialog::OnCancel() {
    const bool finished = m_state.finished;
    UiProgressDialog::OnCancel();
    if (m_cancel) m_cancel(finished);
}

void UiUpdateDownloadDialog::DrawContent(HDC dc, int left, int top, int right, int bottom) {
    UiProgressDialog::DrawContent(dc, left, top, right, bottom);
    if (m_closing || m_summaryShown) return;
    const std::wstring sizes =
        L"(downloaded " + vnl::FormatByteSize(static_cast<uint64_t>(std::max<int64_t>(0, m_shownDone))) + L", total " +
        vnl::FormatByteSize(static_cast<uint64_t>(std::max<int64_t>(0, m_shownTotal))) + L")";
    wtl::SelectGuard font(dc, m_statusFont.get());
    ::SetTextColor(dc, RGB(0x7F, 0x7F, 0x7F));
    // Below the bar, left of the buttons: on the status line it would run into the status text.
    const RECT bar = ProgressRect();
    RECT line = {bar.left, bar.bottom + 6, right - 4, bar.bottom + 6 + (m_statusRect.bottom - m_statusRect.top)};
    DrawTextW(dc, sizes.c_str(), static_cast<int>(sizes.size()), &line, DT_LEFT | DT_SINGLELINE);
}
