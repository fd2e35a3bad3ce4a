#pragma once
// DhContactsDelegate: the contacts page window of one device, a child of the host's page container. For
// now an empty page in the page background colour: it keeps the page sequence that the receiver's
// sequence query and batch check read, takes the host's replies (WM_HOST_REPLY) and releases their
// payloads. Created with new by the receiver and kept until the process ends. UI thread, except that the
// receiver reads the sequence from the thread that delivers commands (one aligned int).

#include <windows.h>

#include <atomic>
#include <cstdint>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "../../gui/sdk/host_messages.h"

class DhContactsDelegate : public wtl::CWindowImpl<DhContactsDelegate> {
public:
    DECLARE_WND_CLASS_EX(L"DhContactsDelegate", CS_DBLCLKS, nullptr)

    BEGIN_MSG_MAP(DhContactsDelegate)
        MSG_WM_CREATE(OnCreate)
        MSG_WM_PAINT(OnPaint)
        MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReply)
    END_MSG_MAP()

    int PageSequence() const { return m_pageSequence.load(std::memory_order_relaxed); }
    // Lays the page out for its current size.
    void LayOut();

private:
    LRESULT OnCreate(CREATESTRUCTW* create);
    void OnPaint();
    LRESULT OnHostReply(WPARAM code, LPARAM payload);

    std::atomic<int> m_pageSequence{0};
    COLORREF m_background = RGB(0xFF, 0xFF, 0xFF);
};
