#pragma once
// VNLImgButton: an owner-drawn push button painted from theme images (normal, hover, and a gray copy for
// the disabled state), optionally with a caption drawn over a three-slice stretch of the image, an icon,
// a background fill, a tooltip and a toggle mode. It is a "BUTTON" window made by its owner and taken
// over with SubclassWindow; it paints through the reflected owner-draw message and reports a press by
// posting WM_COMMAND to its parent when the left button goes down. Images are lent by the owner; the
// gray copy belongs to the button. UI thread only.

#include <windows.h>

#include <memory>
#include <string>

#include "VNLButtonBase.h"

namespace Gdiplus {
class Bitmap;
}

class VNLImgButton : public VNLButtonBase {
public:
    VNLImgButton();
    ~VNLImgButton() override;

    BEGIN_MSG_MAP(VNLImgButton)
    MESSAGE_HANDLER_DECLINABLE(WM_MOUSEMOVE, OnRelayToToolTip)
    MSG_MOUSE_DECLINABLE(WM_LBUTTONUP, OnLButtonUp)
    CHAIN_MSG_MAP(VNLButtonBase)
    END_MSG_MAP()

    // Stores the images, makes the gray copy and places the button at (x, y) at the normal image's size
    // (negative coordinates count from the parent's right and bottom edges). Leaves toggle mode.
    void SetImages(Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover, int x, int y);
    // The pages' placement: only a negative x counts from the parent's edge; y is always taken as given
    // (scrolled content puts buttons above the parent's top).
    void SetAbsoluteY(bool absolute) { m_absoluteY = absolute; }
    void SetToolTip(const wchar_t* text);
    void SetCaption(const std::wstring& caption) { m_caption = caption; }
    void SetTextColor(COLORREF colour) { m_textColour = colour; }
    void SetBackgroundFill(bool fill, COLORREF colour) {
        m_fillBackground = fill;
        m_backgroundColour = colour;
    }
    void SetIcon(Gdiplus::Bitmap* icon, int width, int height) {
        m_icon = icon;
        m_iconWidth = width;
        m_iconHeight = height;
    }
    void SetCaps(int leftWidth, int rightWidth) {
        m_leftCap = leftWidth;
        m_rightCap = rightWidth;
    }
    void SetLeadImage(bool lead) { m_leadImage = lead; }
    // In toggle mode a press flips the checked flag and repaints only `repaint`.
    void SetToggleMode(bool toggle, const RECT& repaint) {
        m_toggleMode = toggle;
        m_toggleRect = repaint;
    }
    bool IsChecked() const { return m_checked; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    bool OnRelayToToolTip(WPARAM wParam, LPARAM lParam, LRESULT&);
    bool OnLButtonDown(UINT, POINT) override;
    bool OnLButtonUp(UINT, POINT);
    void OnMouseHover() override;
    void OnMouseLeave() override;
    LRESULT OnDrawItem(WPARAM, LPARAM lParam) override;

    Gdiplus::Bitmap* ImageForState() const;

    COLORREF m_textColour = 0;
    Gdiplus::Bitmap* m_normal = nullptr;  // lent
    Gdiplus::Bitmap* m_hover = nullptr;   // lent
    std::unique_ptr<Gdiplus::Bitmap> m_gray;
    Gdiplus::Bitmap* m_icon = nullptr;  // lent
    int m_iconWidth = 0;
    int m_iconHeight = 0;
    int m_leftCap = 0;
    int m_rightCap = 0;
    bool m_leadImage = false;
    std::wstring m_caption;
    int m_width = 0;
    int m_height = 0;
    int m_x = 0;
    int m_y = 0;
    bool m_fillBackground = false;
    COLORREF m_backgroundColour = 0;
    bool m_checked = false;
    bool m_toggleMode = false;
    RECT m_toggleRect = {};
    HWND m_toolTip = nullptr;  // a child of the button's ownership; destroyed with it
    bool m_absoluteY = false;
};
