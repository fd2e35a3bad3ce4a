#pragma once
// VNLEdit: the standard edit control taken over so that it can show a grey placeholder ("hint") while it
// is empty and unfocused. The box shows the placeholder as its text, so reading the text of a box that
// shows it returns the placeholder: callers ask ShowsPlaceholder, which is true only while the box itself
// put the placeholder there, so that a user who types exactly the placeholder's text ("Search") has typed
// a text like any other. The box is painted white in every state (its parent reflects WM_CTLCOLOREDIT to
// it). UI thread only.

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
    MESSAGE_HANDLER_DECLINABLE(WM_SETTEXT, OnSetText)
    END_MSG_MAP()

    // A box created with the placeholder as its text shows it.
    void SetPlaceholder(bool enabled, const std::wstring& text);
    // True while the box shows its placeholder.
    bool ShowsPlaceholder() const;

private:
    LRESULT OnColour(WPARAM dc, LPARAM);
    bool OnSetFocus(WPARAM, LPARAM, LRESULT&);
    bool OnKillFocus(WPARAM, LPARAM, LRESULT&);
    // A text set by anyone but the box itself is a real text.
    bool OnSetText(WPARAM, LPARAM, LRESULT&);
    void ShowText(const std::wstring& text, bool placeholder);
    std::wstring Text() const;

    bool m_placeholderEnabled = false;
    bool m_showsPlaceholder = false;
    bool m_settingText = false;
    std::wstring m_placeholder;
};
