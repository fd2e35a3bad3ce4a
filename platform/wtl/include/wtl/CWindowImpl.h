#pragma once
// The window-class layer's window base: the part of the ATL/WTL pattern that the desktop uses. A class
// derives from CWindowImpl<T> and either creates a window of its own class (named with
// DECLARE_WND_CLASS_EX) or subclasses an existing window (a "BUTTON" made by its owner) with
// SubclassWindow; either way the message map of message_map.h routes the messages and unhandled ones go
// to the class's default procedure. The object is found through a window property set when the window
// is attached and removed at WM_NCDESTROY before OnFinalMessage, so messages that arrive later find no
// object. No exception leaves the window procedure. UI thread only: the thread that owns the window.

#include <windows.h>

#include <exception>

#include <glog/logging.h>

namespace wtl {

// Window class facts of a CWindowImpl subclass that makes its own windows.
struct WindowClassInfo {
    const wchar_t* name;
    UINT style;
    HBRUSH background;  // a stock or system-colour brush; never deleted
};

#define DECLARE_WND_CLASS_EX(className, classStyle, backgroundBrush)           \
    static ::wtl::WindowClassInfo GetWndClassInfo() {                          \
        return ::wtl::WindowClassInfo{className, classStyle, backgroundBrush}; \
    }

// The property under which a window keeps its object.
constexpr wchar_t kWindowObjectProperty[] = L"TrvWindowObject";

class CWindow {
public:
    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    bool IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd) != FALSE; }
};

// The routing shared by windows and dialogs: a map entry point and the final-message hook.
class CMessageMap {
public:
    virtual ~CMessageMap() = default;
    virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD mapId) = 0;
    // Called once the window is gone; the object may delete itself here.
    virtual void OnFinalMessage(HWND) {}
};

// Runs the map and turns an escaping exception into a logged, handled message.
inline BOOL RouteMessage(CMessageMap& map, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    try {
        return map.ProcessWindowMessage(window, message, wParam, lParam, result, 0);
    } catch (const std::exception& e) {
        LOG(ERROR) << "window message " << message << " failed: " << e.what();
    } catch (...) {
        LOG(ERROR) << "window message " << message << " failed";
    }
    result = 0;
    return TRUE;
}

template <class T>
class CWindowImpl : public CWindow, public CMessageMap {
public:
    // Creates a window of T's own class; null when the class cannot be registered or the window not
    // created (the cause is logged). WM_CREATE may refuse creation by returning -1.
    HWND Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle = 0,
                HMENU menuOrId = nullptr) {
        if (!RegisterWindowClass()) {
            return nullptr;
        }
        HWND window = ::CreateWindowExW(exStyle, T::GetWndClassInfo().name, title, style, rect.left, rect.top,
                                        rect.right - rect.left, rect.bottom - rect.top, parent, menuOrId,
                                        ::GetModuleHandleW(nullptr), static_cast<CWindowImpl*>(this));
        if (window == nullptr) {
            LOG(ERROR) << "CreateWindowEx failed, error " << ::GetLastError();
        }
        return window;
    }

    // Takes over an existing window (of any class); false when it is already taken or not a window.
    bool SubclassWindow(HWND window) {
        if (window == nullptr || m_hWnd != nullptr || ::GetPropW(window, kWindowObjectProperty) != nullptr) {
            return false;
        }
        m_hWnd = window;
        ::SetPropW(window, kWindowObjectProperty, static_cast<CWindowImpl*>(this));
        m_previousProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWindowImpl::WindowProc)));
        return true;
    }

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return m_previousProc != nullptr ? ::CallWindowProcW(m_previousProc, m_hWnd, message, wParam, lParam)
                                         : ::DefWindowProcW(m_hWnd, message, wParam, lParam);
    }

private:
    static bool RegisterWindowClass() {
        const WindowClassInfo info = T::GetWndClassInfo();
        WNDCLASSEXW existing = {};
        existing.cbSize = sizeof(existing);
        if (::GetClassInfoExW(::GetModuleHandleW(nullptr), info.name, &existing)) {
            return true;
        }
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = info.style;
        wc.lpfnWndProc = &CWindowImpl::WindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = info.background;
        wc.lpszClassName = info.name;
        if (::RegisterClassExW(&wc) == 0) {
            LOG(ERROR) << "RegisterClassEx failed, error " << ::GetLastError();
            return false;
        }
        return true;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        CWindowImpl* self = nullptr;
        if (message == WM_NCCREATE && ::GetPropW(window, kWindowObjectProperty) == nullptr) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            self = static_cast<CWindowImpl*>(create->lpCreateParams);
            if (self != nullptr) {
                self->m_hWnd = window;
                ::SetPropW(window, kWindowObjectProperty, self);
            }
        } else {
            self = static_cast<CWindowImpl*>(::GetPropW(window, kWindowObjectProperty));
        }
        if (self == nullptr) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        LRESULT result = 0;
        if (!RouteMessage(*self, window, message, wParam, lParam, result)) {
            result = self->DefWindowProc(message, wParam, lParam);
        }
        if (message == WM_NCDESTROY) {
            ::RemovePropW(window, kWindowObjectProperty);
            if (self->m_previousProc != nullptr) {
                ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_previousProc));
                self->m_previousProc = nullptr;
            }
            self->m_hWnd = nullptr;
            self->OnFinalMessage(window);
        }
        return result;
    }

    WNDPROC m_previousProc = nullptr;
};

}  // namespace wtl
