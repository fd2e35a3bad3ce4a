// CThemedShadowWnd; see CThemedShadowWnd.h.
#include "CThemedShadowWnd.h"

#include <objidl.h>
#include <gdiplus.h>

#include <map>

namespace {

// Owners and their shadows; UI thread only, so unlocked.
std::map<HWND, CThemedShadowWnd*>& ShadowsByOwner() {
    static auto* shadows = new std::map<HWND, CThemedShadowWnd*>();
    return *shadows;
}

constexpr int kCornerDiameter = 20;
constexpr BYTE kShadowAlpha = 128;

std::unique_ptr<Gdiplus::GraphicsPath> CreateRoundRectPath(int x, int y, int width, int height) {
    auto path = std::make_unique<Gdiplus::GraphicsPath>();
    const int d = kCornerDiameter;
    path->AddArc(x, y, d, d, 180, 90);
    path->AddLine(x + d / 2, y, x + width - d / 2, y);
    path->AddArc(x + width - d, y, d, d, 270, 90);
    path->AddLine(x + width, y + d / 2, x + width, y + height - d / 2);
    path->AddArc(x + width - d, y + height - d, d, d, 0, 90);
    path->AddLine(x + width - d / 2, y + height, x + d / 2, y + height);
    path->AddArc(x, y + height - d, d, d, 90, 90);
    path->CloseFigure();
    return path;
}

}  // namespace

CThemedShadowWnd::CThemedShadowWnd() = default;

CThemedShadowWnd::~CThemedShadowWnd() {
    // An owner that outlives this object gets its own procedure back, so that it never calls into a
    // deleted shadow.
    auto& shadows = ShadowsByOwner();
    auto it = shadows.find(m_owner);
    if (it != shadows.end() && it->second == this) {
        shadows.erase(it);
        if (m_owner != nullptr && ::IsWindow(m_owner) && m_ownerPreviousProc != nullptr &&
            GetWindowLongPtrW(m_owner, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CThemedShadowWnd::OwnerProc)) {
            SetWindowLongPtrW(m_owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_ownerPreviousProc));
        }
    }
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
    }
}

HWND CThemedShadowWnd::CreateFor(HWND owner) {
    m_owner = owner;
    const RECT empty = {0, 0, 0, 0};
    return Create(nullptr, empty, nullptr, WS_VISIBLE);
}

LRESULT CThemedShadowWnd::OnCreate(CREATESTRUCTW*) {
    if (m_owner == nullptr) {
        return -1;
    }
    ShadowsByOwner()[m_owner] = this;
    const LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
    SetWindowLongW(m_hWnd, GWL_STYLE, style & static_cast<LONG>(0xFF3AFFFF));  // no caption, frame or maximise box
    LONG exStyle = GetWindowLongW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TRANSPARENT;
    exStyle = (exStyle & ~WS_EX_TOPMOST) | WS_EX_NOACTIVATE;
    SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle);
    m_ownerPreviousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CThemedShadowWnd::OwnerProc)));
    return DefWindowProc(WM_CREATE, 0, 0);
}

bool CThemedShadowWnd::OnSize(WPARAM, LPARAM, LRESULT&) {
    m_redraw = true;
    return false;
}

void CThemedShadowWnd::UpdatePosition() {
    if (m_hWnd == nullptr || m_owner == nullptr) return;
    RECT owner = {};
    GetWindowRect(m_owner, &owner);
    const int s = m_offset;
    SetWindowPos(m_hWnd, m_owner, owner.left + s, owner.top + s, owner.right - owner.left, owner.bottom - owner.top,
                 SWP_NOACTIVATE);
    GetClientRect(m_hWnd, &m_client);
    if (m_redraw) {
        m_redraw = false;
        DrawShadow();
    }
}

void CThemedShadowWnd::DrawShadow() {
    m_imageBitmap.Reset();
    m_image.reset();
    m_path.reset();
    const int x = m_client.left;
    const int y = m_client.top;
    const int width = m_client.right - m_client.left;
    const int height = m_client.bottom - m_client.top;
    if (width <= 0 || height <= 0) return;

    m_path = CreateRoundRectPath(x, y, width, height);
    m_image = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(m_image.get());
        Gdiplus::PathGradientBrush brush(m_path.get());
        Gdiplus::Color colours[] = {Gdiplus::Color(0x00FFFFFF), Gdiplus::Color(0xFF000000), Gdiplus::Color(0xFF000000)};
        Gdiplus::REAL positions[] = {0.0f, 0.05f, 1.0f};
        brush.SetInterpolationColors(colours, positions, 3);
        // Only the right and bottom margins show: the part the owner covers is left out.
        graphics.ExcludeClip(Gdiplus::Rect(x, y, width - m_offset - m_inset, height - m_offset - m_inset));
        graphics.FillPath(&brush, m_path.get());
    }
    HBITMAP bitmap = nullptr;
    if (m_image->GetHBITMAP(Gdiplus::Color(0xFF000000), &bitmap) != Gdiplus::Ok) return;
    m_imageBitmap.Reset(bitmap);

    wtl::WindowDC screen(nullptr);
    wtl::CompatibleDC memory(screen.get());
    if (memory.get() == nullptr) return;
    wtl::SelectGuard select(memory.get(), m_imageBitmap.get());
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    POINT position = {window.left, window.top};
    SIZE size = {width, height};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, kShadowAlpha, AC_SRC_ALPHA};
    UpdateLayeredWindow(m_hWnd, screen.get(), &position, &size, memory.get(), &source, 0, &blend, ULW_ALPHA);
}

LRESULT CALLBACK CThemedShadowWnd::OwnerProc(HWND owner, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& shadows = ShadowsByOwner();
    auto it = shadows.find(owner);
    if (it == shadows.end()) {
        return ::DefWindowProcW(owner, message, wParam, lParam);
    }
    CThemedShadowWnd* shadow = it->second;
    const WNDPROC previous = shadow->m_ownerPreviousProc;
    try {
        switch (message) {
        case WM_DESTROY:
            if (shadow->m_hWnd != nullptr) DestroyWindow(shadow->m_hWnd);
            break;
        case WM_MOVE:
        case WM_SIZE:
        case WM_ACTIVATE:
        case WM_ERASEBKGND:
        case WM_NCACTIVATE:
            if (IsWindowVisible(owner)) shadow->UpdatePosition();
            break;
        case WM_SHOWWINDOW:
            if (shadow->m_hWnd != nullptr) ShowWindow(shadow->m_hWnd, wParam ? SW_SHOW : SW_HIDE);
            break;
        case WM_NCDESTROY: shadows.erase(it); break;
        default: break;
        }
    } catch (...) {
        // The owner's own processing below must run whatever happened to its shadow.
    }
    return previous != nullptr ? CallWindowProcW(previous, owner, message, wParam, lParam)
                               : ::DefWindowProcW(owner, message, wParam, lParam);
}
