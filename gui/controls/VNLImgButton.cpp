// VNLImgButton; see VNLImgButton.h.
#include "VNLImgButton.h"

#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>

#include <vornel/VNLUtilityImage.h>
#include <wtl/GdiObjects.h>

#include "button_support.h"
#include "control_geometry.h"

VNLImgButton::VNLImgButton() = default;

VNLImgButton::~VNLImgButton() = default;

void VNLImgButton::SetImages(Gdiplus::Bitmap* normal, Gdiplus::Bitmap* hover, int x, int y) {
    m_toggleMode = false;
    m_tracking = false;
    m_normal = normal;
    m_hover = hover;
    m_gray.reset(VNLUtilityImage::ConvertToGray(normal));
    m_toolTip = nullptr;
    m_width = normal != nullptr ? static_cast<int>(normal->GetWidth()) : 0;
    m_height = normal != nullptr ? static_cast<int>(normal->GetHeight()) : 0;
    m_x = x;
    m_y = y;
    if (m_hWnd == nullptr) return;
    const SIZE parent = controls::ParentClientSize(m_hWnd);
    const controls::Point at = controls::PlaceInParent(x, y, m_width, m_height, parent.cx, parent.cy, !m_absoluteY);
    SetWindowPos(m_hWnd, nullptr, at.x, at.y, m_width, m_height, SWP_NOZORDER | SWP_SHOWWINDOW);
}

void VNLImgButton::SetToolTip(const wchar_t* text) {
    if (m_hWnd == nullptr) return;
    if (m_toolTip == nullptr) {
        m_toolTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (m_toolTip == nullptr) return;
    }
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    TOOLINFOW tool = {};
    // Older common controls reject the larger record; the size follows the system version.
    tool.cbSize = version.dwMajorVersion > 5 ? 48 : 44;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = GetParent(m_hWnd);
    tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    tool.hinst = GetModuleHandleW(nullptr);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool VNLImgButton::OnRelayToToolTip(WPARAM wParam, LPARAM lParam, LRESULT&) {
    if (m_toolTip != nullptr) {
        MSG relay = {m_hWnd, WM_MOUSEMOVE, wParam, lParam, 0, {}};
        SendMessageW(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
    }
    return false;  // the base starts hover tracking
}

bool VNLImgButton::OnLButtonDown(UINT, POINT) {
    m_state = controls::kStatePressed;
    controls::PostClick(m_hWnd);
    if (m_toggleMode) {
        m_checked = !m_checked;
        InvalidateRect(m_hWnd, &m_toggleRect, FALSE);
    } else {
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    return true;
}

bool VNLImgButton::OnLButtonUp(UINT, POINT) {
    m_state = controls::kStateNormal;
    if (!m_toggleMode) InvalidateRect(m_hWnd, nullptr, TRUE);
    return true;
}

void VNLImgButton::OnMouseHover() {
    m_state = controls::kStatePressed;
    if (!m_toggleMode) InvalidateRect(m_hWnd, nullptr, FALSE);
}

void VNLImgButton::OnMouseLeave() {
    m_state = controls::kStateNormal;
    if (!m_toggleMode) InvalidateRect(m_hWnd, nullptr, TRUE);
    m_tracking = false;
}

Gdiplus::Bitmap* VNLImgButton::ImageForState() const {
    if (m_toggleMode) return m_checked ? m_hover : m_normal;
    switch (m_state) {
    case controls::kStateNormal: return m_normal;
    case controls::kStatePressed:
    case controls::kStateHover: return m_hover;
    case controls::kStateDisabled: return m_gray.get();
    default: return nullptr;
    }
}

LRESULT VNLImgButton::OnDrawItem(WPARAM, LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr) return FALSE;
    HDC dc = item->hDC;
    RECT client = item->rcItem;
    if (m_fillBackground) {
        wtl::UniqueBrush brush(CreateSolidBrush(m_backgroundColour));
        if (brush) FillRect(dc, &client, brush.get());
    }
    SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_textColour);
    HFONT font = controls::WindowFont(m_hWnd);
    wtl::SelectGuard selectFont(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));

    Gdiplus::Bitmap* image = ImageForState();
    if (image == nullptr) return TRUE;
    const int imageWidth = static_cast<int>(image->GetWidth());
    const int imageHeight = static_cast<int>(image->GetHeight());
    Gdiplus::Graphics graphics(dc);
    if (m_caption.empty()) {
        graphics.DrawImage(image, 0, 0, imageWidth, imageHeight);
        return TRUE;
    }
    if (m_leadImage) {
        graphics.DrawImage(image, 0, (m_height - imageHeight) / 2, imageWidth, imageHeight);
        int textLeft = m_leftCap + imageWidth;
        if (m_icon != nullptr) {
            graphics.DrawImage(m_icon, textLeft, (m_height - m_iconHeight) / 2, m_iconWidth, m_iconHeight);
            textLeft += m_iconWidth;
        }
        RECT text = {textLeft, client.top, client.right, client.bottom};
        DrawTextW(dc, m_caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        return TRUE;
    }
    // Three slices: the caps keep their size, the middle stretches to the button's width.
    const int width = client.right - client.left;
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    graphics.DrawImage(image, Gdiplus::Rect(0, 0, m_leftCap, m_height), 0, 0, m_leftCap, imageHeight,
                       Gdiplus::UnitPixel);
    graphics.DrawImage(image, Gdiplus::Rect(m_leftCap, 0, width - m_leftCap - m_rightCap, m_height), m_leftCap, 0,
                       imageWidth - m_leftCap - m_rightCap, imageHeight, Gdiplus::UnitPixel);
    graphics.DrawImage(image, Gdiplus::Rect(width - m_rightCap, 0, m_rightCap, m_height), imageWidth - m_rightCap, 0,
                       m_rightCap, imageHeight, Gdiplus::UnitPixel);
    RECT text = {m_leftCap, client.top, width - m_rightCap, client.bottom};
    DrawTextW(dc, m_caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    return TRUE;
}
