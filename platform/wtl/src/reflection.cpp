// Reflection of control notifications to the controls that sent them; see message_map.h. UI thread.
#include <cstdint>

#include "wtl/message_map.h"

namespace wtl {

bool ReflectNotification(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    HWND child = nullptr;
    switch (message) {
    case WM_COMMAND: child = reinterpret_cast<HWND>(lParam); break;
    case WM_NOTIFY: child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom; break;
    case WM_DRAWITEM:
        if (wParam != 0) child = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;
        break;
    case WM_MEASUREITEM: {
        // Named by id only: the owner-drawn list asks its parent for its row height this way, and only the
        // list knows it. A menu's item has no window to ask.
        const auto* measure = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
        if (measure != nullptr && measure->CtlType != ODT_MENU) {
            child = ::GetDlgItem(hWnd, static_cast<int>(measure->CtlID));
        }
        break;
    }
    case WM_COMPAREITEM:
    case WM_DELETEITEM:
        // These name the control only by id; the control set's owners never rely on them.
        return false;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR: child = reinterpret_cast<HWND>(lParam); break;
    default: return false;
    }
    if (child == nullptr || !::IsWindow(child)) {
        return false;
    }
    result = ::SendMessageW(child, OCM__BASE + message, wParam, lParam);
    return true;
}

}  // namespace wtl
