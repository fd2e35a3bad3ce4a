#pragma once
// VNLSwitchImageButton: an owner-drawn switch with an image and a caption (image above or left of the
// caption) and an optional drop-down marker, used for tabs and toolbar entries. A "BUTTON" window taken
// over with SubclassWindow; it paints through the reflected owner-draw message and posts WM_COMMAND to
// its parent when the left button goes down, except for a press on the drop-down marker of a button
// that is already selected, which goes on to the button's default processing. Images are lent by the
// owner; the gray copy belongs to the button. UI thread only.

#include <windows.h>

#include <memory>
#include <string>

#include "VNLButtonBase.h"
#include "control_geometry.h"

namespace Gdiplus {
class Bitmap;
}

class VNLSwitchImageButton : public VNLButtonBase {
public:
    VNLSwitchImageButton();
    ~VNLSwitchImageButton() override;

    // Stores the caption and recomputes the layout and the preferred size.
    void SetText(const std::wstring& caption);
    // Colours (text white in both states), images and caption; sizes the window to the preferred size at
    // (0, 0) and shows it; the owner moves it afterwards.
    void SetImages(COLORREF normalBackground, COLORREF activeBackground, const std::wstring& caption,
                   Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover);
    // The pages' form: black text in both states, the window placed at (x, 8) with the preferred size (a
    // negative x counts from the parent's right edge).
    void SetImagesAt(COLORREF normalBackground, COLORREF activeBackground, const std::wstring& caption,
                     Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover, int x);
    // After a caption change: the new layout, the window kept at its present top-left corner.
    void Relayout(const std::wstring& caption);
    void SetLayoutMode(int mode) { m_layoutMode = mode; }
    void SetDropDownImages(Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover) {
        m_dropDown = normal;
        m_hoverDropDown = hover;
    }
    void SetSwitchMode(bool on) { m_switchMode = on; }
    // Inner margins around the content (10 and 10 unless set); SetText applies them.
    void SetMargins(int horizontal, int vertical) {
        m_marginX = horizontal;
        m_marginY = vertical;
    }
    void SetHoverEnabled(bool on) { m_hoverEnabled = on; }
    void SetRounded(bool on) { m_rounded = on; }
    void SetSeparator(bool on) { m_separator = on; }
    void SetBorderColour(int32_t colourOrMinusOne) { m_borderColour = colourOrMinusOne; }
    const controls::SwitchImageLayout& Layout() const { return m_layout; }
    const std::wstring& Caption() const { return m_caption; }

private:
    bool TracksHover() const override { return m_hoverEnabled; }
    bool OnLButtonDown(UINT, POINT point) override;
    void OnMouseHover() override;
    void OnMouseLeave() override;
    LRESULT OnDrawItem(WPARAM, LPARAM lParam) override;

    int m_x = 0;
    int m_y = 0;
    int m_layoutMode = 1;
    std::wstring m_caption;
    bool m_switchMode = true;
    int32_t m_borderColour = -1;
    bool m_separator = false;
    COLORREF m_normalBackground = 0;
    COLORREF m_normalText = 0;
    Gdiplus::Bitmap* m_normal = nullptr;    // lent
    Gdiplus::Bitmap* m_dropDown = nullptr;  // lent
    COLORREF m_activeBackground = 0;
    COLORREF m_activeText = 0;
    bool m_hoverEnabled = true;
    bool m_rounded = false;
    int m_cornerWidth = 9;
    int m_cornerHeight = 9;
    Gdiplus::Bitmap* m_hover = nullptr;          // lent
    Gdiplus::Bitmap* m_hoverDropDown = nullptr;  // lent
    std::unique_ptr<Gdiplus::Bitmap> m_gray;
    int m_gap = 4;
    COLORREF m_disabledBackground = RGB(0x7F, 0x7F, 0x7F);
    COLORREF m_disabledText = RGB(0x59, 0x59, 0x59);
    int m_marginX = 10;
    int m_marginY = 10;
    controls::SwitchImageLayout m_layout;
    SIZE m_captionExtent = {0, 0};
    bool m_dropDownHit = false;
};
