// Window geometry helpers; see VNLUtilityWindow.h. UI thread.
#include "vornel/VNLUtilityWindow.h"

RECT VNLUtilityWindow::GetWindowRelativeRect(HWND window) {
    RECT rect = {};
    if (window == nullptr || !GetWindowRect(window, &rect)) return RECT{};
    HWND parent = GetParent(window);
    if (parent != nullptr && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0) {
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}
