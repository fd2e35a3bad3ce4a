#pragma once
// VNLSwitchButton: an owner-drawn text button with a coloured, optionally rounded background per visual
// state, used as a two-state switch (switch mode keeps a selected button selected through hover and
// leave) and as the dialogs' text buttons. A "BUTTON" window taken over with SubclassWindow; it paints
// through the reflected owner-draw message and posts WM_COMMAND to its parent when the left button goes
// down. UI thread only.

#include <windows.h>

#include <string>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

class VNLSwitchButton : public wtl::CWindowImpl<VNLSwitchButton> {
public:
    VNLSwitchButton() = default;
    ~VNLSwitchButton() override = default;

    BEGIN_MSG_MAP(VNLSwitchButton)
        MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER_DECLINABLE(BM_CLICK, OnClickMessage)
        MESSAGE_HANDLER_DECLINABLE(WM_MOUSEMOVE, OnMouseMove)
        MSG_MOUSE_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
        MSG_WM_NOARGS(WM_MOUSEHOVER, OnMouseHover)
        MSG_WM_NOARGS(WM_MOUSELEAVE, OnMouseLeave)
        MESSAGE_HANDLER_EX(OCM_DRAWITEM, OnDrawItem)
        MESSAGE_HANDLER_EX(OCM_MEASUREITEM, OnMeasureItem)
        MESSAGE_HANDLER_EX(OCM_COMPAREITEM, OnAcceptItem)
        MESSAGE_HANDLER_EX(OCM_DELETEITEM, OnAcceptItem)
    END_MSG_MAP()

    // Stores the caption and measures it with the window's font: the preferred size is the text's size
    // plus the margins on both sides.
    void SetText(const std::wstring& caption);
    // SetText, then shows the button at the requested position with the preferred size.
    void SetTextAndPlace(const std::wstring& caption);

    void SetPosition(int x, int y) {
        m_x = x;
        m_y = y;
    }
    void SetSwitchMode(bool on) { m_switchMode = on; }
    void SetColours(COLORREF normalBackground, COLORREF normalText, COLORREF activeBackground, COLORREF activeText) {
        m_normalBackground = normalBackground;
        m_normalText = normalText;
        m_activeBackground = activeBackground;
        m_activeText = activeText;
    }
    void SetMargins(int horizontal, int vertical) {
        m_marginX = horizontal;
        m_marginY = vertical;
    }
    void SetRounded(bool rounded, COLORREF outerColour) {
        m_rounded = rounded;
        m_outerColour = static_cast<int32_t>(outerColour);
    }
    void SetBorderColour(int32_t colourOrMinusOne) { m_borderColour = colourOrMinusOne; }
    void SetState(int state) { m_state = state; }
    int State() const { return m_state; }
    int PreferredWidth() const { return m_preferredWidth; }
    int PreferredHeight() const { return m_preferredHeight; }

private:
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    bool OnClickMessage(WPARAM, LPARAM, LRESULT&);
    bool OnMouseMove(WPARAM, LPARAM, LRESULT&);
    bool OnLButtonDown(UINT, POINT);
    void OnMouseHover();
    void OnMouseLeave();
    LRESULT OnDrawItem(WPARAM, LPARAM lParam);
    LRESULT OnMeasureItem(WPARAM, LPARAM lParam);
    LRESULT OnAcceptItem(WPARAM, LPARAM) { return TRUE; }

    int m_x = 0;
    int m_y = 0;
    bool m_switchMode = true;
    std::wstring m_caption;
    COLORREF m_normalBackground = 0;
    COLORREF m_normalText = 0;
    COLORREF m_activeBackground = 0;
    COLORREF m_activeText = 0;
    COLORREF m_disabledBackground = RGB(0x7F, 0x7F, 0x7F);
    COLORREF m_disabledText = RGB(0xFF, 0xFF, 0xFF);
    int m_marginX = 10;
    int m_marginY = 10;
    int m_preferredWidth = 0;
    int m_preferredHeight = 0;
    int m_state = 0;
    bool m_tracking = false;
    bool m_rounded = false;
    int m_cornerWidth = 9;
    int m_cornerHeight = 9;
    int32_t m_borderColour = -1;  // -1: no separate border
    int32_t m_outerColour = -1;   // painted behind rounded corners
};
