#pragma once
// MainFrameView: the child window that fills the main frame. It joins the host to the command bus (the
// host record and handler table), preloads the theme images, is the parent of the title bar and the
// pages, paints the white background with its grey rule, fans its size out through
// MAIN_COMMAND_CHANGE_SIZE, and runs the work that the bus posts to the UI thread (WM_POSTED_COMMAND).
// UI thread only.

#include <windows.h>

#include <cstdint>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "host_messages.h"
#include "page_records.h"

class MainFrameView : public wtl::CWindowImpl<MainFrameView> {
public:
    DECLARE_WND_CLASS_EX(L"TrevaneMainFrameView", CS_DBLCLKS, nullptr)

    // The view's client size as MAIN_COMMAND_CHANGE_SIZE carries it in `data`: width then height.
    using ViewSize = PageSize;

    MainFrameView() = default;
    ~MainFrameView() override;

    BEGIN_MSG_MAP(MainFrameView)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_SIZE(OnSize)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_TIMER(OnTimer)
    MESSAGE_HANDLER_EX(WM_POSTED_COMMAND, OnPostedCommandMessage)
    END_MSG_MAP()

private:
    LRESULT OnCreate(CREATESTRUCTW* create);
    void OnSize(UINT type, int width, int height);
    void OnPaint();
    void OnTimer(UINT_PTR id);
    LRESULT OnPostedCommandMessage(WPARAM nameCopy, LPARAM parameter);

    ViewSize m_size{0, 0};
    HICON m_icon = nullptr;  // owned; filed in the icon table as "LOGO_ICON"
};
