// VNLSwitchImageButton; see VNLSwitchImageButton.h.
#include "VNLSwitchImageButton.h"

#include <objidl.h>
#include <gdiplus.h>

#include <vornel/VNLUtilityImage.h>
#include <wtl/GdiObjects.h>

#include "button_support.h"

VNLSwitchImageButton::VNLSwitchImageButton() = default;
VNLSwitchImageButton::~VNLSwitchImageButton() = default;

void VNLSwitchImageButton::SetText(const std::wstring& caption) {
    m_caption = caption;
    m_captionExtent = SIZE{0, 0};
    if (m_hWnd != nullptr && !caption.empty()) {
        wtl::WindowDC dc(m_hWnd);
        HFONT font = controls::WindowFont(m_hWnd);
        wtl::SelectGuard select(dc.get(),
                                font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
        GetTextExtentPoint32W(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &m_captionExtent);
    }
    controls::SwitchImageLayoutInput in;
    in.mode = m_layoutMode;
    in.imageWidth = m_normal != nullptr ? static_cast<int>(m_normal->GetWidth()) : 0;
    in.imageHeight = m_normal != nullptr ? static_cast<int>(m_normal->GetHeight()) : 0;
    in.captionWidth = m_captionExtent.cx;
    in.captionHeight = m_captionExtent.cy;
    in.gap = m_gap;
    in.marginX = m_marginX;
    in.marginY = m_marginY;
    if (m_dropDown != nullptr) {
        in.dropDownWidth = static_cast<int>(m_dropDown->GetWidth());
        in.dropDownHeight = static_cast<int>(m_dropDown->GetHeight());
    }
    in.previousCaption = m_layout.caption;
    m_layout = controls::LayoutSwitchImageButton(in);
}

void VNLSwitchImageButton::SetImages(COLORREF normalBackground, COLORREF activeBackground, const std::wstring& caption,
                                     Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover) {
    m_normalBackground = normalBackground;
    m_activeBackground = activeBackground;
    m_normalText = RGB(0xFF, 0xFF, 0xFF);
    m_activeText = RGB(0xFF, 0xFF, 0xFF);
    m_normal = normal;
    m_hover = hover;
    m_gray.reset(VNLUtilityImage::ConvertToGray(normal));
    m_x = 0;
    m_y = 0;
    SetText(caption);
    if (m_hWnd != nullptr) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, m_layout.preferredWidth, m_layout.preferredHeight,
                     SWP_NOZORDER | SWP_SHOWWINDOW);
    }
}

void VNLSwitchImageButton::SetImagesAt(COLORREF normalBackground, COLORREF activeBackground,
                                       const std::wstring& caption, Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover,
                                       int x) {
    m_normalBackground = normalBackground;
    m_activeBackground = activeBackground;
    m_normalText = RGB(0, 0, 0);
    m_activeText = RGB(0, 0, 0);
    m_normal = normal;
    m_hover = hover;
    m_gray.reset(VNLUtilityImage::ConvertToGray(normal));
    m_x = x;
    m_y = 8;
    SetText(caption);
    if (m_hWnd == nullptr) return;
    const SIZE parent = controls::ParentClientSize(m_hWnd);
    const controls::Point at =
        controls::PlaceInParent(x, m_y, m_layout.preferredWidth, m_layout.preferredHeight, parent.cx, parent.cy, false);
    SetWindowPos(m_hWnd, nullptr, at.x, at.y, m_layout.preferredWidth, m_layout.preferredHeight,
                 SWP_NOZORDER | SWP_SHOWWINDOW);
}

void VNLSwitchImageButton::Relayout(const std::wstring& caption) {
    SetText(caption);
    if (m_hWnd == nullptr) return;
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    MapWindowPoints(nullptr, GetParent(m_hWnd), reinterpret_cast<POINT*>(&window), 2);
    SetWindowPos(m_hWnd, nullptr, window.left, window.top, m_layout.preferredWidth, m_layout.preferredHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

bool VNLSwitchImageButton::OnLButtonDown(UINT, POINT point) {
    const bool inDropDown = m_layout.hasDropDown && point.x >= m_layout.dropDownLeft &&
                            point.x < m_layout.dropDownRight && point.y >= m_layout.dropDownTop &&
                            point.y < m_layout.dropDownBottom;
    m_dropDownHit = m_dropDown != nullptr && inDropDown;
    if (m_state == controls::kStatePressed) {
        // Already selected: a press on the marker goes on to the button's own processing (the owner opens
        // its menu); elsewhere nothing changes.
        return !m_dropDownHit;
    }
    m_state = controls::kStatePressed;
    controls::PostClick(m_hWnd);
    InvalidateRect(m_hWnd, nullptr, FALSE);
    return true;
}

void VNLSwitchImageButton::OnMouseHover() {
    if (!m_hoverEnabled) return;
    m_state = controls::SwitchStateOnHover(m_state, m_switchMode);
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void VNLSwitchImageButton::OnMouseLeave() {
    if (!m_hoverEnabled || !m_tracking) return;
    m_state = controls::SwitchStateOnLeave(m_state, m_switchMode, true);
    InvalidateRect(m_hWnd, nullptr, TRUE);
    m_tracking = false;
}

LRESULT VNLSwitchImageButton::OnDrawItem(WPARAM, LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr) return FALSE;
    HDC dc = item->hDC;
    const RECT rect = item->rcItem;
    SetBkMode(dc, TRANSPARENT);
    HFONT font = controls::WindowFont(m_hWnd);
    wtl::SelectGuard selectFont(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));

    COLORREF background = m_normalBackground;
    COLORREF text = m_normalText;
    Gdiplus::Bitmap* image = m_normal;
    Gdiplus::Bitmap* dropDown = m_dropDown;
    if (m_state == controls::kStateDisabled) {
        background = m_disabledBackground;
        text = m_disabledText;
        image = m_gray.get();
    } else if (m_state == controls::kStatePressed || m_state == controls::kStateHover) {
        background = m_activeBackground;
        text = m_activeText;
        image = m_hover;
        dropDown = m_hoverDropDown;
    }
    wtl::UniqueBrush fill(CreateSolidBrush(background));
    wtl::UniquePen border(
        CreatePen(PS_SOLID, 1, m_borderColour != -1 ? static_cast<COLORREF>(m_borderColour) : background));
    {
        wtl::SelectGuard pen(dc, border.get());
        wtl::SelectGuard brush(dc, fill.get());
        if (m_rounded) {
            RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, m_cornerWidth, m_cornerHeight);
        } else {
            Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
        }
    }
    Gdiplus::Graphics graphics(dc);
    if (image != nullptr) {
        graphics.DrawImage(image, m_layout.image.x, m_layout.image.y, static_cast<INT>(image->GetWidth()),
                           static_cast<INT>(image->GetHeight()));
    }
    if (!m_caption.empty()) {
        ::SetTextColor(dc, text);
        RECT captionRect = {m_layout.caption.x, m_layout.caption.y, m_layout.caption.x + m_captionExtent.cx,
                            m_layout.caption.y + m_captionExtent.cy};
        DrawTextW(dc, m_caption.c_str(), -1, &captionRect, DT_SINGLELINE);
    }
    if (dropDown != nullptr && m_layout.hasDropDown) {
        graphics.DrawImage(dropDown, m_layout.dropDownLeft, m_layout.dropDownTop,
                           m_layout.dropDownRight - m_layout.dropDownLeft,
                           m_layout.dropDownBottom - m_layout.dropDownTop);
    }
    if (m_separator) {
        wtl::UniquePen dotted(CreatePen(PS_DOT, 1, RGB(0, 0, 0)));
        wtl::SelectGuard pen(dc, dotted.get());
        MoveToEx(dc, m_layout.preferredWidth - 2, 12, nullptr);
        LineTo(dc, m_layout.preferredWidth - 2, m_layout.preferredHeight - 8);
    }
    return TRUE;
}
