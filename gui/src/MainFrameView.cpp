// The main view; see MainFrameView.h.
#include "MainFrameView.h"

#include <cstdlib>
#include <memory>
#include <string>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLTakeText.h>
#include <wtl/GdiObjects.h>

#include "command_names.h"
#include "backup_listeners.h"
#include "command_bus.h"
#include "host_commands.h"
#include "host_handlers.h"
#include "plugin_loader.h"
#include "posted_commands.h"
#include "resource.h"
#include "theme_images.h"

namespace {

constexpr UINT_PTR kUpdateCheckTimer = 1;
constexpr UINT kFirstTimerDelayMs = 2000;
constexpr int kLogoIconSize = 128;
constexpr COLORREF kRuleColour = RGB(0x7F, 0x7F, 0x7F);

void InvokeHostCommand(const char* name, CommandMessage& message) {
    ModuleRecord* host = trv::HostRecord();
    if (host == nullptr) {
        return;
    }
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    host->send(&message);
}

}  // namespace

MainFrameView::~MainFrameView() {
    if (m_icon != nullptr) {
        DestroyIcon(m_icon);
    }
}

LRESULT MainFrameView::OnCreate(CREATESTRUCTW* create) {
    trv::CommandBus& bus = trv::CommandBus::Instance();
    HMODULE program = GetModuleHandleW(nullptr);
    trv::RegisterHostModule(bus, program);
    trv::RegisterHostCommands(bus);
    bus.RegisterWindow(2, m_hWnd);

    const int loaded =
        trv::LoadThemeImages(bus, VNLTakeText(VNLUtilityApp::GetProductThemesDir()), trv::PreloadedImagePaths());
    LOG(INFO) << "theme images loaded: " << loaded << " of " << trv::PreloadedImagePaths().size();

    m_size = ViewSize{create->cx, create->cy};
    RECT client = {};
    if (GetClientRect(m_hWnd, &client)) {
        m_size = ViewSize{client.right - client.left, client.bottom - client.top};
    }

    m_icon = static_cast<HICON>(LoadImageW(program, MAKEINTRESOURCEW(IDI_TREVANE_LOGO), IMAGE_ICON, kLogoIconSize,
                                           kLogoIconSize, LR_DEFAULTCOLOR));
    if (m_icon == nullptr) {
        LOG(WARNING) << "program icon not loaded, error " << GetLastError();
    }
    bus.SetNamedIcon("LOGO_ICON", m_icon);

    bus.Subscribe(ZERITH_COMMAND_DEVICE_CONNECTED, &trv::OnDeviceConnectedListener);
    bus.Subscribe(ZERITH_COMMAND_GET_DEVICE_INFO, &trv::OnBackupDeviceInfo);
    bus.Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &trv::OnBackupDeviceRemoved);
    bus.Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &trv::OnDeviceRemovedRelayListener);

    CommandMessage createWindow{};
    createWindow.window = m_hWnd;
    InvokeHostCommand(MAIN_COMMAND_CREATE_WINDOW, createWindow);

    trv::PostCommandToView(m_hWnd, ZERITH_COMMAND_START_SERVER, 0);
    SetTimer(m_hWnd, kUpdateCheckTimer, kFirstTimerDelayMs, nullptr);
    return 0;
}

void MainFrameView::OnSize(UINT, int width, int height) {
    InvalidateRect(m_hWnd, nullptr, FALSE);
    m_size = ViewSize{width, height};
    CommandMessage message{};
    message.data = &m_size;
    InvokeHostCommand(MAIN_COMMAND_CHANGE_SIZE, message);
}

void MainFrameView::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    FillRect(paint.get(), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    wtl::UniquePen pen(CreatePen(PS_SOLID, 1, kRuleColour));
    if (!pen) {
        return;
    }
    wtl::SelectGuard selectPen(paint.get(), pen.get());
    wtl::SelectGuard selectBrush(paint.get(), GetStockObject(NULL_BRUSH));
    Rectangle(paint.get(), client.left, client.top, client.right, client.bottom);
}

void MainFrameView::OnTimer(UINT_PTR id) {
    // One-shot: the check runs once per start of the timer, which the server start restarts.
    KillTimer(m_hWnd, id);
    CommandMessage message{};
    trv::SendToOwner(ZERITH_COMMAND_CHECK_FOR_UPDATE, &message);
}

LRESULT MainFrameView::OnPostedCommandMessage(WPARAM nameCopy, LPARAM parameter) {
    std::unique_ptr<char, decltype(&std::free)> name(reinterpret_cast<char*>(nameCopy), &std::free);
    trv::OnPostedCommand(m_hWnd, parameter, name.get());
    return 0;
}
