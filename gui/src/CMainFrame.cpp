// The main frame; see CMainFrame.h.
#include "CMainFrame.h"

#include <iostream>
#include <memory>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLTakeText.h>
#include <wtl/GdiObjects.h>

#include "command_names.h"
#include "UiDialog.h"
#include "command_bus.h"
#include "plugin_loader.h"
#include "product_identity.h"

namespace {

constexpr UINT_PTR kResizeTimer = 1;
constexpr int kShadowOffset = 12;
constexpr UINT kResizeTickMs = 100;
constexpr LONG kCaptionStyles = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
// Framework command ids the frame answers.
constexpr int kIdFileNew = 0xE100;
constexpr int kIdAppAbout = 0xE140;
constexpr int kIdAppExit = 0xE141;

LPCWSTR CursorId(trv::ResizeCursor cursor) {
    switch (cursor) {
    case trv::ResizeCursor::SizeWE: return IDC_SIZEWE;
    case trv::ResizeCursor::SizeNS: return IDC_SIZENS;
    case trv::ResizeCursor::SizeNWSE: return IDC_SIZENWSE;
    case trv::ResizeCursor::SizeNESW: return IDC_SIZENESW;
    case trv::ResizeCursor::Arrow: break;
    }
    return IDC_ARROW;
}

}  // namespace

LRESULT CMainFrame::OnCreate(CREATESTRUCTW*) {
    trv::CommandBus& bus = trv::CommandBus::Instance();
    bus.RegisterWindow(1, m_hWnd);
    std::cout << "CMainFrame: " << static_cast<void*>(m_hWnd) << std::endl;

    trv::LoadPlugins(bus, VNLTakeText(VNLUtilityApp::GetProductPluginsDir()), trv::SystemPluginLibraryOps(),
                     &bus.Images());

    SetWindowTextW(m_hWnd, trv::ProductNameW().c_str());
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    SetRoundRegion(client.right - client.left, client.bottom - client.top);

    if (m_view.Create(m_hWnd, client, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) == nullptr) {
        LOG(ERROR) << "main view not created";
        return -1;
    }

    m_shadow.SetOffset(kShadowOffset);
    if (m_shadow.CreateFor(m_hWnd) == nullptr) {
        LOG(WARNING) << "main frame shadow not created";
    }

    if (wtl::CMessageLoop* loop = wtl::CMessageLoop::Current()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    m_sizing = false;
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    m_lastPosition = trv::FramePoint{window.left, window.top};
    return 0;
}

void CMainFrame::SetRoundRegion(int width, int height) {
    wtl::UniqueRegion region(
        CreateRoundRectRgn(0, 0, width, height, trv::kFrameCornerEllipse, trv::kFrameCornerEllipse));
    if (region && SetWindowRgn(m_hWnd, region.get(), FALSE)) {
        region.release();  // the window owns it now
    }
}

void CMainFrame::OnSize(UINT, int width, int height) {
    // A minimised frame reports a zero size; its region stays as it was. The view is laid out by the
    // resize timer, not here.
    if (width != 0 && height != 0) {
        SetRoundRegion(width, height);
    }
}

void CMainFrame::OnSizing(UINT, RECT* proposed) {
    if (proposed != nullptr) {
        m_pendingResize.Note(trv::FrameRect{proposed->left, proposed->top, proposed->right, proposed->bottom});
    }
}

void CMainFrame::OnTimer(UINT_PTR id) {
    if (id != kResizeTimer) {
        return;
    }
    trv::FrameRect last;
    if (m_pendingResize.Take(last)) {
        RECT size = {0, 0, last.right - last.left, last.bottom - last.top};
        AdjustWindowRectEx(&size, static_cast<DWORD>(GetWindowLongW(m_view, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongW(m_view, GWL_EXSTYLE)));
        SetWindowPos(m_view, nullptr, 0, 0, size.right - size.left, size.bottom - size.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
    if (m_sizing) {
        SetTimer(m_hWnd, kResizeTimer, kResizeTickMs, nullptr);
    } else {
        KillTimer(m_hWnd, kResizeTimer);
    }
}

void CMainFrame::OnMove(uint16_t leftBits, uint16_t topBits) {
    const trv::FramePoint delta = trv::MoveDelta(m_lastPosition, leftBits, topBits);
    m_lastPosition = trv::FramePoint{m_lastPosition.x + delta.x, m_lastPosition.y + delta.y};

    int32_t pair[2] = {delta.x, delta.y};
    CommandMessage message{};
    message.data = pair;
    trv::SendToOwner(ZERITH_COMMAND_MOVE_WINDOW, &message);

    // In id order, over a copy of the registry: moving a dialog may make handlers file further dialogs.
    for (const auto& entry : trv::CommandBus::Instance().DialogsSnapshot()) {
        if (entry.second != nullptr) {
            entry.second->MoveBy(delta.x, delta.y);
        }
    }
}

LRESULT CMainFrame::OnRunTask(WPARAM task, LPARAM) {
    std::unique_ptr<HostTask> closure(reinterpret_cast<HostTask*>(task));
    if (closure && *closure) {
        (*closure)();
    }
    return 0;
}

void CMainFrame::OnClose() { DestroyWindow(m_hWnd); }

void CMainFrame::OnDestroy() {
    if (wtl::CMessageLoop* loop = wtl::CMessageLoop::Current()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
    PostQuitMessage(0);
}

void CMainFrame::OnCommand(UINT, int id, HWND) {
    if (id == kIdAppExit) {
        PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    }
    // kIdFileNew and kIdAppAbout are accepted without action.
    (void)kIdFileNew;
    (void)kIdAppAbout;
}

bool CMainFrame::IsFilteredWindow(HWND window) const {
    return window != nullptr && (GetWindowLongW(window, GWL_STYLE) & kCaptionStyles) == 0;
}

BOOL CMainFrame::OnFilteredMouseMove(const MSG& message) {
    POINT point = {static_cast<int16_t>(LOWORD(message.lParam)), static_cast<int16_t>(HIWORD(message.lParam))};
    MapWindowPoints(message.hwnd, m_hWnd, &point, 1);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    m_zone = trv::ClassifyResizeZone(trv::FramePoint{point.x, point.y},
                                     trv::FrameRect{client.left, client.top, client.right, client.bottom});
    if (m_zone == trv::ResizeZone::None) {
        return FALSE;
    }
    SetCursor(LoadCursorW(nullptr, CursorId(trv::CursorForZone(m_zone))));
    return TRUE;
}

BOOL CMainFrame::OnFilteredButtonDown(const MSG&) {
    if (m_zone == trv::ResizeZone::None) {
        m_sizing = false;
        return FALSE;
    }
    m_sizing = true;
    SetCursor(LoadCursorW(nullptr, CursorId(trv::CursorForZone(m_zone))));
    // The tick runs while the system's sizing loop below is active (that loop dispatches timers), so the
    // view follows the drag. The loop swallows the button release, so the sizing flag is cleared here
    // once it returns; the next tick then applies the last size and stops.
    SetTimer(m_hWnd, kResizeTimer, kResizeTickMs, nullptr);
    SendMessageW(m_hWnd, WM_SYSCOMMAND, trv::SizeCommandForZone(m_zone), 0);
    m_sizing = false;
    SetTimer(m_hWnd, kResizeTimer, kResizeTickMs, nullptr);
    return TRUE;
}

BOOL CMainFrame::PreTranslateMessage(MSG* message) {
    if (message == nullptr || m_hWnd == nullptr) {
        return FALSE;
    }
    switch (message->message) {
    case WM_MOUSEMOVE: return IsFilteredWindow(message->hwnd) ? OnFilteredMouseMove(*message) : FALSE;
    case WM_LBUTTONDOWN: return IsFilteredWindow(message->hwnd) ? OnFilteredButtonDown(*message) : FALSE;
    case WM_LBUTTONUP: m_sizing = false; return FALSE;
    default: return FALSE;
    }
}

int RunMainFrame(int showCommand) {
    wtl::CMessageLoop loop;
    CMainFrame frame;
    const trv::FrameRect screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT work = {screen.left, screen.top, screen.right, screen.bottom};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const trv::FrameRect at =
        trv::InitialFrameRect(screen, trv::FrameRect{work.left, work.top, work.right, work.bottom});
    const RECT rect = {at.left, at.top, at.right, at.bottom};
    if (frame.Create(nullptr, rect, trv::ProductNameW().c_str(), WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                     WS_EX_APPWINDOW | WS_EX_WINDOWEDGE) == nullptr) {
        LOG(ERROR) << "main frame not created";
        return 0;
    }
    ShowWindow(frame, showCommand);
    UpdateWindow(frame);
    return loop.Run();
}
