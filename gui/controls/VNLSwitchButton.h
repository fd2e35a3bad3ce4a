#pragma once
// VNLSwitchButton: an owner-drawn text button with a coloured, optionally rounded background per visual
// state, used as a two-state switch (switch mode keeps a selected button selected through hover and
// leave) and as the dialogs' text buttons. A "BUTTON" window taken over with SubclassWindow; it paints
// through the reflected owner-draw message and posts WM_COMMAND to its parent when the left button goes
// down. UI thread only.

#include <windows.h>

#include <string>

#include "VNLButtonBase.h"

class VNLSwitchButton : public VNLButtonBase {
public:
    VNLSwitchButton() = default;
    ~VNLSwitchButton() override = default;

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
    int PreferredWidth() const { return m_preferredWidth; }
    int PreferredHeight() const { return m_preferredHeight; }

private:
    bool OnLButtonDown(UINT, POINT) override;
    void OnMouseHover() override;
    void OnMouseLeave() override;
    LRESULT OnDrawItem(WPARAM, LPARAM lParam) override;

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
    bool m_rounded = false;
    int m_cornerWidth = 9;
    int m_cornerHeight = 9;
    int32_t m_borderColour = -1;  // -1: no separate border
    int32_t m_outerColour = -1;   // painted behind rounded corners
};
