#pragma once
// VNLEdit: the standard edit control taken over so that it can show a grey placeholder ("hint") while it
// is empty and unfocused. The placeholder is not a separate state: the box shows it as its text, so
// reading the text of a box that shows its placeholder returns the placeholder (callers compare against
// it), and a user who types exactly the placeholder sees it in grey. The box is painted white in every
// state (its parent reflects WM_CTLCOLOREDIT to it). UI thread only.

#include <windows.h>

#include <string>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

class VNLEdit : public wtl::CWindowImpl<VNLEdit> {
public:
    static constexpr COLORREF kPlaceholderColour = RGB(0x7F, 0x7F, 0x7F);

    BEGIN_MSG_MAP(VNLEdit)
    MESSAGE_HANDLER_EX(OCM_CTLCOLOREDIT, OnColour)
    MESSAGE_HANDLER_DECLINABLE(WM_SETFOCUS, OnSetFocus)
    MESSAGE_HANDLER_DECLINABLE(WM_KILLFOCUS, OnKillFocus)
    END_MSG_MAP()

    void SetPlaceholder(bool enabled, const std::wstring& text) {
        m_placeholderEnabled = enabled;
        m_placeholder = text;
    }
    // True while the box shows its placeholder.
    bool ShowsPlaceholder() const;

private:
    LRESULT OnColour(WPARAM dc, LPARAM);
    bool OnSetFocus(WPARAM, LPARAM, LRESULT&);
    bool OnKillFocus(WPARAM, LPARAM, LRESULT&);
    std::wstring Text() const;

    bool m_placeholderEnabled = false;
    std::wstring m_placeholder;
};
