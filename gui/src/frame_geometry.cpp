// Main frame geometry rules; see frame_geometry.h.
#include "frame_geometry.h"

#include <algorithm>

#include <cstdlib>

namespace trv {

FrameRect InitialFrameRect(const FrameRect& screen, const FrameRect& work) {
    const int workWidth = std::max(work.right - work.left, 0);
    const int workHeight = std::max(work.bottom - work.top, 0);
    const int width = std::min(kFrameWidth, workWidth);
    const int height = std::min(kFrameHeight, workHeight);
    const int centredLeft = screen.left + std::abs(screen.right - screen.left - width) / 2;
    const int centredTop = screen.top + std::abs(screen.bottom - screen.top - height) / 2;
    // A task bar beside or above the frame pushes it back into the work area.
    const int left = std::max(work.left, std::min(centredLeft, work.left + workWidth - width));
    const int top = std::max(work.top, std::min(centredTop, work.top + workHeight - height));
    return FrameRect{left, top, left + width, top + height};
}

ResizeZone ClassifyResizeZone(FramePoint p, FrameRect c) {
    if (p.x <= c.left + 3) return ResizeZone::Left;
    if (p.x >= c.right - 3) return ResizeZone::Right;
    if (p.y <= c.top + 3) return ResizeZone::Top;
    if (p.y >= c.bottom - 3) return ResizeZone::Bottom;
    if (p.x <= c.left + 10 && p.y <= c.top + 10) return ResizeZone::TopLeft;
    if (p.x >= c.right - 10 && p.y <= c.top + 10) return ResizeZone::TopRight;
    if (p.x <= c.left + 10 && p.y >= c.bottom - 10) return ResizeZone::BottomLeft;
    if (p.x >= c.right - 10 && p.y >= c.bottom - 10) return ResizeZone::BottomRight;
    return ResizeZone::None;
}

ResizeCursor CursorForZone(ResizeZone zone) {
    switch (zone) {
    case ResizeZone::Left:
    case ResizeZone::Right: return ResizeCursor::SizeWE;
    case ResizeZone::Top:
    case ResizeZone::Bottom: return ResizeCursor::SizeNS;
    case ResizeZone::TopLeft:
    case ResizeZone::BottomRight: return ResizeCursor::SizeNWSE;
    case ResizeZone::TopRight:
    case ResizeZone::BottomLeft: return ResizeCursor::SizeNESW;
    case ResizeZone::None: break;
    }
    return ResizeCursor::Arrow;
}

unsigned SizeCommandForZone(ResizeZone zone) {
    constexpr unsigned kScSize = 0xF000;
    switch (zone) {
    case ResizeZone::Left: return kScSize + 1;
    case ResizeZone::Right: return kScSize + 2;
    case ResizeZone::Top: return kScSize + 3;
    case ResizeZone::TopLeft: return kScSize + 4;
    case ResizeZone::TopRight: return kScSize + 5;
    case ResizeZone::Bottom: return kScSize + 6;
    case ResizeZone::BottomLeft: return kScSize + 7;
    case ResizeZone::BottomRight: return kScSize + 8;
    case ResizeZone::None: break;
    }
    return 0;
}

bool PendingResize::Take(FrameRect& last) {
    if (m_notes.empty()) {
        return false;
    }
    last = m_notes.back();
    m_notes.clear();
    return true;
}

FramePoint MoveDelta(FramePoint last, uint16_t newLeftBits, uint16_t newTopBits) {
    const int left = static_cast<int16_t>(newLeftBits);
    const int top = static_cast<int16_t>(newTopBits);
    return FramePoint{left - last.x, top - last.y};
}

}  // namespace trv
