// VNLEdit; see VNLEdit.h.
#include "VNLEdit.h"

#include <wtl/window_text.h>

std::wstring VNLEdit::Text() const { return wtl::WindowText(m_hWnd); }

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
