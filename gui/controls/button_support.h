#pragma once
// Helpers the three owner-drawn buttons share: hover tracking, the press report to the parent, the
// parent's client size for placement, and the window's font. UI thread only.

#include <windows.h>

#include <wtl/GdiObjects.h>

namespace controls {

// Starts hover and leave tracking (10 ms hover time) unless it already runs.
inline void StartHoverTracking(HWND button, bool& tracking) {
    if (tracking) return;
    TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, button, 10};
    tracking = TrackMouseEvent(&track) != FALSE;
}

// A press is reported when the button goes down: WM_COMMAND with the control id and the button window.
inline void PostClick(HWND button) {
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

inline SIZE ParentClientSize(HWND control) {
    RECT client = {};
    GetClientRect(GetParent(control), &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

inline HFONT WindowFont(HWND window) { return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)); }

// The standard answer to a reflected WM_MEASUREITEM: menu items get the menu height, others the text
// height of the control's font.
inline LRESULT MeasureOwnerDrawItem(HWND control, MEASUREITEMSTRUCT* measure) {
    if (measure == nullptr) return FALSE;
    if (measure->CtlType == ODT_MENU) {
        measure->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
        return TRUE;
    }
    wtl::WindowDC dc(control);
    HFONT font = WindowFont(control);
    wtl::SelectGuard select(dc.get(), font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc.get(), &metrics);
    measure->itemHeight = static_cast<UINT>(metrics.tmHeight);
    return TRUE;
}

}  // namespace controls
