// VNLEdit; see VNLEdit.h.
#include "VNLEdit.h"

std::wstring VNLEdit::Text() const {
    const int length = GetWindowTextLengthW(m_hWnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(m_hWnd, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool VNLEdit::ShowsPlaceholder() const { return m_placeholderEnabled && m_hWnd != nullptr && Text() == m_placeholder; }

LRESULT VNLEdit::OnColour(WPARAM dc, LPARAM) {
    if (ShowsPlaceholder()) {
        SetTextColor(reinterpret_cast<HDC>(dc), kPlaceholderColour);
    }
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

bool VNLEdit::OnSetFocus(WPARAM, LPARAM, LRESULT&) {
    if (ShowsPlaceholder()) {
        SetWindowTextW(m_hWnd, L"");
    }
    return false;  // the caret still needs the default processing
}

bool VNLEdit::OnKillFocus(WPARAM, LPARAM, LRESULT&) {
    if (m_placeholderEnabled && Text().empty()) {
        SetWindowTextW(m_hWnd, m_placeholder.c_str());
    }
    return false;
}
