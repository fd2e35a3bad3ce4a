// VNLSwitchButton; see VNLSwitchButton.h.
#include "VNLSwitchButton.h"

#include <wtl/GdiObjects.h>

#include "button_support.h"
#include "control_geometry.h"

void VNLSwitchButton::SetText(const std::wstring& caption) {
    m_caption = caption;
    SIZE extent = {0, 0};
    if (m_hWnd != nullptr) {
        wtl::WindowDC dc(m_hWnd);
        HFONT font = controls::WindowFont(m_hWnd);
        wtl::SelectGuard select(dc.get(),
                                font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
        GetTextExtentPoint32W(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &extent);
    }
    m_preferredWidth = extent.cx + 2 * m_marginX;
    m_preferredHeight = extent.cy + 2 * m_marginY;
}

void VNLSwitchButton::SetTextAndPlace(const std::wstring& caption) {
    SetText(caption);
    if (m_hWnd == nullptr) return;
    const SIZE parent = controls::ParentClientSize(m_hWnd);
    const controls::Point at =
        controls::PlaceInParent(m_x, m_y, m_preferredWidth, m_preferredHeight, parent.cx, parent.cy);
    SetWindowPos(m_hWnd, nullptr, at.x, at.y, m_preferredWidth, m_preferredHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
}

bool VNLSwitchButton::OnLButtonDown(UINT, POINT) {
    m_state = controls::kStatePressed;
    controls::PostClick(m_hWnd);
    InvalidateRect(m_hWnd, nullptr, FALSE);
    return true;
}

void VNLSwitchButton::OnMouseHover() {
    m_state = controls::SwitchStateOnHover(m_state, m_switchMode);
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void VNLSwitchButton::OnMouseLeave() {
    if (!m_tracking) return;
    m_state = controls::SwitchStateOnLeave(m_state, m_switchMode, false);
    InvalidateRect(m_hWnd, nullptr, TRUE);
    m_tracking = false;
}

LRESULT VNLSwitchButton::OnDrawItem(WPARAM, LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr) return FALSE;
    HDC dc = item->hDC;
    RECT rect = item->rcItem;
    SetBkMode(dc, TRANSPARENT);
    HFONT font = controls::WindowFont(m_hWnd);
    wtl::SelectGuard selectFont(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));

    COLORREF background = m_normalBackground;
    COLORREF text = m_normalText;
    if (m_state == controls::kStatePressed || m_state == controls::kStateHover) {
        background = m_activeBackground;
        text = m_activeText;
    } else if (m_state == controls::kStateDisabled) {
        background = m_disabledBackground;
        text = m_disabledText;
    }

    wtl::UniqueBrush fill(CreateSolidBrush(background));
    if (m_rounded) {
        const COLORREF outer = static_cast<COLORREF>(m_outerColour);
        wtl::UniquePen outerPen(CreatePen(PS_SOLID, 1, outer));
        wtl::UniqueBrush outerBrush(CreateSolidBrush(outer));
        {
            wtl::SelectGuard pen(dc, outerPen.get());
            wtl::SelectGuard brush(dc, outerBrush.get());
            Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
        }
        wtl::UniquePen border(
            CreatePen(PS_SOLID, 1, m_borderColour != -1 ? static_cast<COLORREF>(m_borderColour) : outer));
        wtl::SelectGuard pen(dc, border.get());
        wtl::SelectGuard brush(dc, fill.get());
        RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, m_cornerWidth, m_cornerHeight);
    } else {
        wtl::UniquePen border(
            CreatePen(PS_SOLID, 1, m_borderColour != -1 ? static_cast<COLORREF>(m_borderColour) : background));
        wtl::SelectGuard pen(dc, border.get());
        wtl::SelectGuard brush(dc, fill.get());
        Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    }
    ::SetTextColor(dc, text);
    DrawTextW(dc, m_caption.c_str(), -1, &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    return TRUE;
}
