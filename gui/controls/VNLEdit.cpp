// VNLEdit; see VNLEdit.h.
#include "VNLEdit.h"

#include <wtl/window_text.h>

std::wstring VNLEdit::Text() const { return wtl::WindowText(m_hWnd); }

void VNLEdit::SetPlaceholder(bool enabled, const std::wstring& text) {
    m_placeholderEnabled = enabled;
    m_placeholder = text;
    m_showsPlaceholder = enabled && m_hWnd != nullptr && Text() == text;
}

bool VNLEdit::ShowsPlaceholder() const { return m_placeholderEnabled && m_hWnd != nullptr && m_showsPlaceholder; }

void VNLEdit::ShowText(const std::wstring& text, bool placeholder) {
    m_settingText = true;
    SetWindowTextW(m_hWnd, text.c_str());
    m_settingText = false;
    m_showsPlaceholder = placeholder;
}

bool VNLEdit::OnSetText(WPARAM, LPARAM, LRESULT&) {
    if (!m_settingText) m_showsPlaceholder = false;
    return false;  // the control keeps the text
}

LRESULT VNLEdit::OnColour(WPARAM dc, LPARAM) {
    if (ShowsPlaceholder()) {
        SetTextColor(reinterpret_cast<HDC>(dc), kPlaceholderColour);
    }
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

bool VNLEdit::OnSetFocus(WPARAM, LPARAM, LRESULT&) {
    if (ShowsPlaceholder()) {
        ShowText(L"", false);
    }
    return false;  // the caret still needs the default processing
}

bool VNLEdit::OnKillFocus(WPARAM, LPARAM, LRESULT&) {
    if (m_placeholderEnabled && Text().empty()) {
        ShowText(m_placeholder, true);
    }
    return false;
}
