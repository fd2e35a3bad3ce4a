#pragma once
// The main frame's geometry rules: where the frame opens, which edge zone a mouse position falls in (the
// frame is a borderless popup, so it draws its own sizing edges), the cursor and sizing command of each
// zone, and the coalescing of interactive resize steps. Pure functions and one small value class, tested
// natively; the frame (UI thread) applies them.

#include <cstdint>
#include <vector>

namespace trv {

constexpr int kFrameWidth = 900;
constexpr int kFrameHeight = 566;
constexpr int kFrameCornerEllipse = 12;

struct FrameRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct FramePoint {
    int x = 0;
    int y = 0;
};

// Where the frame opens: 900 by 566, centred on the screen `screen`. A work area `work` smaller than that
// shrinks the frame to it and holds it inside, so no edge opens out of reach.
FrameRect InitialFrameRect(const FrameRect& screen, const FrameRect& work);

// Edge zones of the frame's client area. Values are those of the frame's state and of no wire.
enum class ResizeZone : int {
    None = 0,
    Left = 10,
    Right = 11,
    Top = 12,
    TopLeft = 13,
    TopRight = 14,
    Bottom = 15,
    BottomLeft = 16,
    BottomRight = 17,
};

enum class ResizeCursor { Arrow, SizeWE, SizeNS, SizeNWSE, SizeNESW };

// Tests the straight edges (3 pixels) before the corners (10 pixels), in the frame's order, so a point
// 2 pixels from the left edge is "left" even inside a corner square.
ResizeZone ClassifyResizeZone(FramePoint point, FrameRect client);
ResizeCursor CursorForZone(ResizeZone zone);
// SC_SIZE (0xF000) plus the edge code of the zone, 0 for ResizeZone::None.
unsigned SizeCommandForZone(ResizeZone zone);

// The proposed rectangles of an interactive resize since the last timer tick; the tick applies only the
// last one, so pages are laid out at most once per tick.
class PendingResize {
public:
    void Note(const FrameRect& proposed) { m_notes.push_back(proposed); }
    bool HasNotes() const { return !m_notes.empty(); }
    // The last proposed rectangle, dropping every note; false when none was pending.
    bool Take(FrameRect& last);

private:
    std::vector<FrameRect> m_notes;
};

// The signed move since the last known position, from the 16-bit coordinates a move message carries.
FramePoint MoveDelta(FramePoint last, uint16_t newLeftBits, uint16_t newTopBits);

}  // namespace trv
