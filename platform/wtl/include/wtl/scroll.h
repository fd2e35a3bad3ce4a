#pragma once
// Where a scroll bar request (the low word of WM_VSCROLL's or WM_HSCROLL's wParam) moves the bar: by a line
// of `lineStep`, a page of the bar's own page, to the thumb while it is dragged or dropped, to the start
// or to the end. The caller clamps the position to what it can show and scrolls there.

#include <windows.h>

namespace wtl {

// The bar's state comes from GetScrollInfo with SIF_ALL. False for a request that moves nothing
// (SB_ENDSCROLL and unknown ones); the thumb's position is the bar's full 32-bit track position.
inline bool ScrollRequestTarget(WORD request, const SCROLLINFO& bar, int lineStep, int* position) {
    switch (request) {
    case SB_LINEUP: *position = bar.nPos - lineStep; return true;  // also SB_LINELEFT
    case SB_LINEDOWN: *position = bar.nPos + lineStep; return true;
    case SB_PAGEUP: *position = bar.nPos - static_cast<int>(bar.nPage); return true;
    case SB_PAGEDOWN: *position = bar.nPos + static_cast<int>(bar.nPage); return true;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: *position = bar.nTrackPos; return true;
    case SB_TOP: *position = bar.nMin; return true;
    case SB_BOTTOM: *position = bar.nMax; return true;
    default: return false;
    }
}

// The same for the window's own bar `bar` (SB_VERT or SB_HORZ). A thumb request's position is the
// message's own (its high word) while the bar's range fits those 16 bits, which also serves a request
// sent without a drag, and the bar's track position beyond them.
inline bool ScrollRequestTarget(HWND window, int bar, WPARAM request, int lineStep, int* position) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(window, bar, &info)) return false;
    const WORD code = LOWORD(request);
    if ((code == SB_THUMBTRACK || code == SB_THUMBPOSITION) && info.nMax <= 0xFFFF) info.nTrackPos = HIWORD(request);
    return ScrollRequestTarget(code, info, lineStep, position);
}

}  // namespace wtl
