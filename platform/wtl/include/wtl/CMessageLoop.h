#pragma once
// The UI thread's message loop with message filters (run on every message before it is dispatched; a
// filter that returns TRUE consumes it) and idle handlers (run when the queue runs empty). One loop per
// thread; CMessageLoop::Current() finds it while it exists. UI thread only.

#include <windows.h>

#include <vector>

namespace wtl {

class CMessageFilter {
public:
    virtual BOOL PreTranslateMessage(MSG* message) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    virtual BOOL OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop {
public:
    CMessageLoop();
    ~CMessageLoop();
    CMessageLoop(const CMessageLoop&) = delete;
    CMessageLoop& operator=(const CMessageLoop&) = delete;

    // The loop of the calling thread, null when none exists.
    static CMessageLoop* Current();

    void AddMessageFilter(CMessageFilter* filter);
    void RemoveMessageFilter(CMessageFilter* filter);
    void AddIdleHandler(CIdleHandler* handler);
    void RemoveIdleHandler(CIdleHandler* handler);

    // Runs until WM_QUIT; returns its exit code.
    int Run();

private:
    bool PreTranslate(MSG* message);
    void RunIdleHandlers();

    CMessageLoop* m_previous;
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};

}  // namespace wtl
