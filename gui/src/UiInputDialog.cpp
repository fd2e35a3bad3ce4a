// The input dialogs; see UiInputDialog.h.
#include "UiInputDialog.h"

#include <algorithm>
#include <vector>

#include <vornel/VNLUtilityApp.h>

namespace {

constexpr int kEditHeight = 24;
constexpr DWORD kLineEditStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kContentEditStyle =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_WANTRETURN | ES_MULTILINE;

SIZE MeasureText(HWND window, HFONT font, const std::wstring& text) {
    wtl::WindowDC windowDc(window);
    wtl::SelectGuard select(windowDc.get(), font);
    SIZE extent = {};
    GetTextExtentPoint32W(windowDc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent;
}

HWND CreateEdit(HWND parent, DWORD style, int id, const std::wstring& text, int x, int y, int width, int height,
                HFONT font) {
    HWND edit = CreateWindowExW(0, L"EDIT", text.c_str(), style, x, y, width, height, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (edit != nullptr) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return edit;
}

std::wstring EditText(HWND edit) {
    if (edit == nullptr) return std::wstring();
    const int length = GetWindowTextLengthW(edit);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(edit, buffer.data(), length + 1);
    return std::wstring(buffer.data());
}

void DrawLabel(HDC dc, HFONT font, const std::wstring& label, const RECT& where) {
    if (label.empty()) return;
    wtl::SelectGuard select(dc, font);
    ::SetTextColor(dc, RGB(0, 0, 0));
    RECT rect = where;
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &rect, 0);
}

}  // namespace

UiInputDialog::UiInputDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiAlertDialog(closeNormal, closeHover, nullptr, true, true, L"Cancel", L"OK"),
      m_editFont(VNLUtilityApp::GetFont(19, false, L"Arial")) {}

LRESULT UiInputDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiAlertDialog::OnInitDialog(focus, init);
    const SIZE label = MeasureText(m_hWnd, Font(), m_label);
    m_labelRect = RECT{20, (m_height - label.cy) / 2, 20 + label.cx + 20, (m_height - label.cy) / 2 + kEditHeight};
    const DWORD style = kLineEditStyle | (m_masked ? ES_PASSWORD : 0);
    m_edit = CreateEdit(m_hWnd, style, kEditId, L"", label.cx + 40, (m_height - kEditHeight) / 2,
                        m_width - label.cx - 60, kEditHeight, m_editFont.get());
    if (m_edit != nullptr) {
        SendMessageW(m_edit, EM_LIMITTEXT, kMaxLength, 0);
        SetFocus(m_edit);
    }
    return FALSE;  // the focus is set
}

void UiInputDialog::OnAccept(UINT, int, HWND) {
    m_resultText = EditText(m_edit);
    Accept();
}

void UiInputDialog::DrawContent(HDC dc, int left, int top, int right, int bottom) {
    UiAlertDialog::DrawContent(dc, left, top, right, bottom);
    DrawLabel(dc, Font(), m_label, m_labelRect);
}

UiSubjectContentDialog::UiSubjectContentDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiAlertDialog(closeNormal, closeHover, nullptr, true, true, L"Cancel", L"OK"),
      m_editFont(VNLUtilityApp::GetFont(19, false, L"Arial")) {}

LRESULT UiSubjectContentDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiAlertDialog::OnInitDialog(focus, init);
    constexpr int kTop = 40;
    constexpr int kGap = 20;
    constexpr int kContentHeight = 60;
    // Both edit boxes start after the wider label, so that neither label runs under a box.
    const SIZE subject = MeasureText(m_hWnd, Font(), m_subjectLabel);
    const SIZE content = MeasureText(m_hWnd, Font(), m_contentLabel);
    const int labelWidth = std::max(subject.cx, m_contentLabel.empty() ? 0L : content.cx);
    const int editLeft = labelWidth + 40;
    const int editWidth = m_width - labelWidth - 60;
    const auto labelRect = [](const SIZE& label, int boxTop) {
        const int top = boxTop + (kEditHeight - label.cy) / 2;
        return RECT{20, top, 20 + label.cx + 20, top + label.cy};
    };
    m_subjectLabelRect = labelRect(subject, kTop);
    m_subjectEdit = CreateEdit(m_hWnd, kLineEditStyle, kSubjectEditId, m_subject, editLeft, kTop, editWidth,
                               kEditHeight, m_editFont.get());
    if (!m_contentLabel.empty()) {
        const int contentTop = kTop + kEditHeight + kGap;
        m_contentLabelRect = labelRect(content, contentTop);
        m_contentEdit = CreateEdit(m_hWnd, kContentEditStyle, kContentEditId, m_content, editLeft, contentTop,
                                   editWidth, kContentHeight, m_editFont.get());
    }
    if (m_subjectEdit != nullptr) SetFocus(m_subjectEdit);
    return FALSE;
}

void UiSubjectContentDialog::OnAccept(UINT, int, HWND) {
    m_resultSubject = EditText(m_subjectEdit);
    m_resultContent = EditText(m_contentEdit);
    Accept();
}

void UiSubjectContentDialog::DrawContent(HDC dc, int left, int top, int right, int bottom) {
    UiAlertDialog::DrawContent(dc, left, top, right, bottom);
    DrawLabel(dc, Font(), m_subjectLabel, m_subjectLabelRect);
    DrawLabel(dc, Font(), m_contentLabel, m_contentLabelRect);
}
