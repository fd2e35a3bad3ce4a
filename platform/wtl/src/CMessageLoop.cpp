// The UI thread's message loop; see CMessageLoop.h.
#include "wtl/CMessageLoop.h"

#include <algorithm>

namespace wtl {
namespace {
thread_local CMessageLoop* t_current = nullptr;

template <typename T>
void Remove(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
}  // namespace

CMessageLoop::CMessageLoop() : m_previous(t_current) { t_current = this; }
CMessageLoop::~CMessageLoop() { t_current = m_previous; }
CMessageLoop* CMessageLoop::Current() { return t_current; }

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { m_filters.push_back(filter); }
void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { Remove(m_filters, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { m_idleHandlers.push_back(handler); }
void CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { Remove(m_idleHandlers, handler); }

bool CMessageLoop::PreTranslate(MSG* message) {
    // A copy: a filter may remove itself (the frame does so while it is destroyed).
    const std::vector<CMessageFilter*> filters = m_filters;
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        if ((*it)->PreTranslateMessage(message)) {
            return true;
        }
    }
    return false;
}

void CMessageLoop::RunIdleHandlers() {
    const std::vector<CIdleHandler*> handlers = m_idleHandlers;
    for (CIdleHandler* handler : handlers) {
        handler->OnIdle();
    }
}

int CMessageLoop::Run() {
    MSG message = {};
    bool idle = true;
    for (;;) {
        if (idle && !::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            RunIdleHandlers();
            idle = false;
        }
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) {
            continue;
        }
        if (!got) {
            break;
        }
        if (!PreTranslate(&message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        // Mouse moves and the caret's blink do not make the program busy; everything else does.
        if (message.message != WM_MOUSEMOVE && message.message != WM_NCMOUSEMOVE && message.message != 0x0118) {
            idle = true;
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace wtl
