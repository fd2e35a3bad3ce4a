#pragma once
// CMainFrame: the host's one top-level window, a borderless popup with rounded corners and a drop
// shadow. It loads the plug-ins while it is created, owns the main view, draws its own sizing edges through a message
// filter (a popup has no system border to grab), applies interactive resizes to the view at most every 100 ms, reports
// its moves to the relay module and the host dialogs, and runs the closures posted with WM_RUN_TASK. UI thread only.

#include <windows.h>

#include <wtl/CMessageLoop.h>
#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "host_messages.h"
#include "CThemedShadowWnd.h"
#include "MainFrameView.h"
#include "frame_geometry.h"

class CMainFrame : public wtl::CWindowImpl<CMainFrame>, public wtl::CMessageFilter, public wtl::CIdleHandler {
public:
    DECLARE_WND_CLASS_EX(L"TrevaneMainFrame", CS_DBLCLKS, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1))

    BEGIN_MSG_MAP(CMainFrame)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_SIZE(OnSize)
    MSG_WM_SIZING(OnSizing)
    MSG_WM_TIMER(OnTimer)
    MSG_WM_MOVE(OnMove)
    MESSAGE_HANDLER_EX(WM_RUN_TASK, OnRunTask)
    MSG_WM_CLOSE(OnClose)
    MSG_WM_DESTROY(OnDestroy)
    MSG_WM_COMMAND(OnCommand)
    END_MSG_MAP()

    BOOL PreTranslateMessage(MSG* message) override;
    BOOL OnIdle() override { return FALSE; }

private:
    LRESULT OnCreate(CREATESTRUCTW* create);
    void OnSize(UINT type, int width, int height);
    void OnSizing(UINT edge, RECT* proposed);
    void OnTimer(UINT_PTR id);
    void OnMove(uint16_t leftBits, uint16_t topBits);
    LRESULT OnRunTask(WPARAM task, LPARAM);
    void OnClose();
    void OnDestroy();
    void OnCommand(UINT notifyCode, int id, HWND control);

    bool IsFilteredWindow(HWND window) const;
    BOOL OnFilteredMouseMove(const MSG& message);
    BOOL OnFilteredButtonDown(const MSG& message);
    void SetRoundRegion(int width, int height);

    MainFrameView m_view;
    CThemedShadowWnd m_shadow;
    trv::PendingResize m_pendingResize;
    trv::ResizeZone m_zone = trv::ResizeZone::None;
    bool m_sizing = false;
    trv::FramePoint m_lastPosition;
};

// Creates the frame, shows it with `showCommand` and runs the message loop; the loop's exit code, or 0
// when the frame could not be created.
int RunMainFrame(int showCommand);
