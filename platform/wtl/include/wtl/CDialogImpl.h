#pragma once
// The window-class layer's dialog base: a dialog made from a template of the program's resources, either
// modeless (Create) or modal (DoModal), routed through the same message maps as windows. The object is
// found through the same window property as CWindowImpl's; results of the few messages whose answer is
// the dialog procedure's return value are returned directly, all others through DWLP_MSGRESULT. UI
// thread only.

#include <windows.h>

#include "CWindowImpl.h"

namespace wtl {

template <class T>
class CDialogImpl : public CWindow, public CMessageMap {
public:
    // Creates the dialog from template `templateId` without showing a modal loop; null on failure.
    HWND Create(HWND parent, int templateId) {
        HWND dialog =
            ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), parent,
                                 &CDialogImpl::DialogProc, reinterpret_cast<LPARAM>(static_cast<CDialogImpl*>(this)));
        if (dialog == nullptr) {
            LOG(ERROR) << "CreateDialogParam failed, error " << ::GetLastError();
        }
        return dialog;
    }

    // Runs the dialog modally from a template of the program's resources, or of `instance` (a plug-in's own
    // module); returns the code given to EndDialog, or -1 when it could not be made.
    INT_PTR DoModal(HWND parent, int templateId, HINSTANCE instance = nullptr) {
        return ::DialogBoxParamW(instance != nullptr ? instance : ::GetModuleHandleW(nullptr),
                                 MAKEINTRESOURCEW(templateId), parent, &CDialogImpl::DialogProc,
                                 reinterpret_cast<LPARAM>(static_cast<CDialogImpl*>(this)));
    }

    BOOL EndDialog(int code) { return ::EndDialog(m_hWnd, code); }

private:
    static bool ReturnsDirectly(UINT message) {
        switch (message) {
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC: return true;
        default: return false;
        }
    }

    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        CDialogImpl* self = nullptr;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<CDialogImpl*>(lParam);
            if (self != nullptr) {
                self->m_hWnd = dialog;
                ::SetPropW(dialog, kWindowObjectProperty, self);
            }
        } else {
            self = static_cast<CDialogImpl*>(::GetPropW(dialog, kWindowObjectProperty));
        }
        if (self == nullptr) {
            return FALSE;
        }
        LRESULT result = 0;
        const BOOL handled = RouteMessage(*self, dialog, message, wParam, lParam, result);
        if (message == WM_NCDESTROY) {
            ::RemovePropW(dialog, kWindowObjectProperty);
            self->m_hWnd = nullptr;
            self->OnFinalMessage(dialog);
            return FALSE;
        }
        if (!handled) {
            return FALSE;
        }
        if (ReturnsDirectly(message)) {
            return static_cast<INT_PTR>(result);
        }
        ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
        return TRUE;
    }
};

}  // namespace wtl
