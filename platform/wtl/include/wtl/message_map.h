#pragma once
// Message-map macros of the window-class layer. A map only routes: each entry unpacks the parameters and
// calls an On... handler of the class; the handler's work lives in the handler. Entries are tested in
// order and the first match ends the walk. UI thread only.

#include <windows.h>

#include <cstdint>

#define BEGIN_MSG_MAP(theClass)                                                                                       \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD dwMsgMapID) \
        override {                                                                                                    \
        (void)hWnd;                                                                                                   \
        (void)wParam;                                                                                                 \
        (void)lParam;                                                                                                 \
        (void)dwMsgMapID;

#define END_MSG_MAP() \
    return FALSE;     \
    }

// LRESULT OnX(CREATESTRUCTW*): 0 to go on, -1 to refuse creation.
#define MSG_WM_CREATE(func)                                       \
    if (uMsg == WM_CREATE) {                                      \
        lResult = func(reinterpret_cast<CREATESTRUCTW*>(lParam)); \
        return TRUE;                                              \
    }

// void OnX()
#define MSG_WM_NOARGS(message, func) \
    if (uMsg == (message)) {         \
        func();                      \
        lResult = 0;                 \
        return TRUE;                 \
    }
#define MSG_WM_DESTROY(func) MSG_WM_NOARGS(WM_DESTROY, func)
#define MSG_WM_CLOSE(func) MSG_WM_NOARGS(WM_CLOSE, func)
#define MSG_WM_PAINT(func) MSG_WM_NOARGS(WM_PAINT, func)

// void OnSize(UINT type, int width, int height)
#define MSG_WM_SIZE(func)                                                \
    if (uMsg == WM_SIZE) {                                               \
        func(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
        lResult = 0;                                                     \
        return TRUE;                                                     \
    }

// void OnSizing(UINT edge, RECT* proposed)
#define MSG_WM_SIZING(func)                                               \
    if (uMsg == WM_SIZING) {                                              \
        func(static_cast<UINT>(wParam), reinterpret_cast<RECT*>(lParam)); \
        lResult = TRUE;                                                   \
        return TRUE;                                                      \
    }

// void OnMove(uint16_t leftBits, uint16_t topBits): the raw 16-bit coordinates, signed by the handler.
#define MSG_WM_MOVE(func)                     \
    if (uMsg == WM_MOVE) {                    \
        func(LOWORD(lParam), HIWORD(lParam)); \
        lResult = 0;                          \
        return TRUE;                          \
    }

// void OnTimer(UINT_PTR id)
#define MSG_WM_TIMER(func)                   \
    if (uMsg == WM_TIMER) {                  \
        func(static_cast<UINT_PTR>(wParam)); \
        lResult = 0;                         \
        return TRUE;                         \
    }

// void OnCommand(UINT notifyCode, int id, HWND control)
#define MSG_WM_COMMAND(func)                                                  \
    if (uMsg == WM_COMMAND) {                                                 \
        func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam)); \
        lResult = 0;                                                          \
        return TRUE;                                                          \
    }

// LRESULT OnX(WPARAM, LPARAM) for the program's own messages.
#define MESSAGE_HANDLER_EX(message, func) \
    if (uMsg == (message)) {              \
        lResult = func(wParam, lParam);   \
        return TRUE;                      \
    }

// ---- Entries used by the control set and the dialogs ----------------------------------------------

// Notifications that a parent sends back to the child control they came from, so that owner-drawn
// controls paint themselves ("reflection"). The reflected message is OCM__BASE + the original message.
#define OCM__BASE (WM_USER + 0x1c00)
#define OCM_COMMAND (OCM__BASE + WM_COMMAND)
#define OCM_CTLCOLORBTN (OCM__BASE + WM_CTLCOLORBTN)
#define OCM_CTLCOLOREDIT (OCM__BASE + WM_CTLCOLOREDIT)
#define OCM_CTLCOLORSTATIC (OCM__BASE + WM_CTLCOLORSTATIC)
#define OCM_DRAWITEM (OCM__BASE + WM_DRAWITEM)
#define OCM_MEASUREITEM (OCM__BASE + WM_MEASUREITEM)
#define OCM_COMPAREITEM (OCM__BASE + WM_COMPAREITEM)
#define OCM_DELETEITEM (OCM__BASE + WM_DELETEITEM)
#define OCM_NOTIFY (OCM__BASE + WM_NOTIFY)

namespace wtl {
// Sends a control notification back to its control; true when the message was one and was reflected.
bool ReflectNotification(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
}  // namespace wtl

#define REFLECT_NOTIFICATIONS()                                            \
    if (::wtl::ReflectNotification(hWnd, uMsg, wParam, lParam, lResult)) { \
        return TRUE;                                                       \
    }

// bool OnX(WPARAM, LPARAM, LRESULT& result): false lets the message go on to the default procedure.
#define MESSAGE_HANDLER_DECLINABLE(message, func)             \
    if (uMsg == (message) && func(wParam, lParam, lResult)) { \
        return TRUE;                                          \
    }

// bool OnX(UINT keyFlags, POINT point): false lets the message go on.
#define MSG_MOUSE_DECLINABLE(message, func)                                                                  \
    if (uMsg == (message) && func(static_cast<UINT>(wParam), POINT{static_cast<int16_t>(LOWORD(lParam)),     \
                                                                   static_cast<int16_t>(HIWORD(lParam))})) { \
        lResult = 0;                                                                                         \
        return TRUE;                                                                                         \
    }

// void OnX(UINT notifyCode, int id, HWND control) for WM_COMMAND from one control id.
#define COMMAND_ID_HANDLER_EX(id, func)                                       \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                       \
        func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam)); \
        lResult = 0;                                                          \
        return TRUE;                                                          \
    }

// LRESULT OnX(NMHDR*) for WM_NOTIFY with one control id and one code.
#define NOTIFY_HANDLER_EX(controlId, notifyCode, func)                                                       \
    if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->idFrom == static_cast<UINT_PTR>(controlId) && \
        reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(notifyCode)) {                           \
        lResult = func(reinterpret_cast<NMHDR*>(lParam));                                                    \
        return TRUE;                                                                                         \
    }

// LRESULT OnInitDialog(HWND focus, LPARAM initParam)
#define MSG_WM_INITDIALOG(func)                                 \
    if (uMsg == WM_INITDIALOG) {                                \
        lResult = func(reinterpret_cast<HWND>(wParam), lParam); \
        return TRUE;                                            \
    }

// Hands the message to the base class's map.
#define CHAIN_MSG_MAP(theBase)                                                            \
    if (theBase::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, dwMsgMapID)) { \
        return TRUE;                                                                      \
    }
