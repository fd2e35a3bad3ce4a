// The host's own commands that build and size the main window's content out of the outside pages, and
// the title bar's maximise and view-switch commands. Runs on the UI thread: the main view invokes the two
// MAIN_ names, the title bar its buttons' names.
#include <algorithm>
#include <cstring>
#include <string>

#include <glog/logging.h>

#include "command_names.h"
#include "command_bus.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "page_order.h"
#include "product_identity.h"

namespace trv {
namespace {

constexpr int32_t kTitleBarHeight = 82;
constexpr int32_t kSectionWidth = 200;
// What the view's size loses to the title bar and the frame's rules before the device page gets it.
constexpr int32_t kDevicePageWidthLoss = 2;
constexpr int32_t kDevicePageHeightLoss = 83;
// The feature pages' toolbar band and the rule under it (the page base's toolbar height and one line).
constexpr int32_t kPageToolbarBand = 31;
constexpr int64_t kShow = 5;
constexpr int64_t kHide = 0;

int32_t g_sectionWidth = kSectionWidth;
DevicePageLayout g_devicePageLayout = {};
bool g_maximised = false;
TrvRect g_restoreRect = {};

// A page answers the window it created or shows in `window`; a page that is not there leaves the parent
// that was sent, which must not be taken for an answer.
TrvWindow AnsweredWindow(const CommandMessage& message, TrvWindow parent) {
    return message.window == parent ? nullptr : message.window;
}

const std::wstring& WindowTitle() {
    // The title bar keeps the pointer, so the text lives as long as the process.
    static const std::wstring* title = new std::wstring(ProductNameW() + L" (" + VersionW() + L")");
    return *title;
}

void SendShow(const char* name, int64_t show) {
    CommandMessage message{};
    message.status = show;
    SendToOwner(name, &message);
}

}  // namespace

int32_t* SharedSectionWidth() { return &g_sectionWidth; }

DevicePageLayout* TheDevicePageLayout() { return &g_devicePageLayout; }

TrvRect NoticeSheetPlace(const TrvRect& view, int32_t height) {
    // The pages' area as OnCreateWindow lays it out: the device page below the title bar, inside the view's
    // one-pixel rules, and the pages' container right of the section list.
    const int32_t left = static_cast<int32_t>(view.left) + 1 + g_sectionWidth;
    const int32_t right = std::max(left, static_cast<int32_t>(view.right) - 1);
    const int32_t areaTop = static_cast<int32_t>(view.top) + kTitleBarHeight;
    const int32_t areaBottom = std::max(areaTop, static_cast<int32_t>(view.bottom) - 2);
    int32_t top = areaTop + kPageToolbarBand;
    if (top + height > areaBottom) top = std::max(areaTop, areaBottom - height);
    return TrvRect{left, top, right, top + height};
}

void ResetMaximiseState() {
    g_maximised = false;
    g_restoreRect = TrvRect{};
}

extern "C" void TRV_CALL OnCreateWindow(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    CommandBus& bus = CommandBus::Instance();
    HostPlatform& platform = CurrentHostPlatform();
    TrvWindow view = message->window;

    TitleBarRecord titleBar = {};
    titleBar.rect = platform.ClientRect(view);
    titleBar.rect.bottom = titleBar.rect.top + kTitleBarHeight;
    titleBar.logo = bus.GetImage("LOGO_ICON");
    titleBar.title = WindowTitle().c_str();
    titleBar.sectionWidth = &g_sectionWidth;
    CommandMessage titleMessage{};
    titleMessage.data = &titleBar;
    titleMessage.window = view;
    SendToOwner(LUNDER_COMMAND_CREATE_TITLEBAR, &titleMessage);
    bus.RegisterWindow(3, AnsweredWindow(titleMessage, view));

    TrvWindow mainView = bus.GetWindowById(2);
    TrvRect page = platform.ClientRect(mainView);
    page.left += 1;
    page.right -= 1;
    page.top = 2 * page.top + kTitleBarHeight;
    page.bottom -= 2;

    g_devicePageLayout = DevicePageLayout{};
    g_devicePageLayout.page = page;
    g_devicePageLayout.sectionWidth = &g_sectionWidth;
    CommandMessage deviceMessage{};
    deviceMessage.window = mainView;
    deviceMessage.status = kShow;
    deviceMessage.data = &g_devicePageLayout;
    SendToOwner(YESTAL_COMMAND_SHOW_WINDOW, &deviceMessage);
    TrvWindow devicePage = AnsweredWindow(deviceMessage, mainView);
    bus.RegisterWindow(6, devicePage);
    BuildSectionList(devicePage);

    TrvRect toolkitRect = page;
    CommandMessage toolkitMessage{};
    toolkitMessage.data = &toolkitRect;
    toolkitMessage.window = mainView;
    toolkitMessage.status = kHide;
    SendToOwner(KESTOR_COMMAND_SHOW_WINDOW, &toolkitMessage);
    bus.RegisterWindow(4, AnsweredWindow(toolkitMessage, mainView));

    platform.CreateHostDialogs(mainView);
    LOG(INFO) << "main window content created";
}

extern "C" void TRV_CALL OnMainChangeSize(CommandMessage* message) {
    if (message == nullptr || message->data == nullptr) {
        return;
    }
    CommandBus& bus = CommandBus::Instance();
    message->window = bus.GetWindowById(3);
    SendToOwner(LUNDER_COMMAND_CHANGE_SIZE, message);

    // The device page and the toolkit get the size less the title bar and the rules. The view's own record
    // stays as it is (the view keeps its real size), so the reduced size lives here for the call.
    PageSize reduced = *static_cast<const PageSize*>(message->data);
    reduced.width -= kDevicePageWidthLoss;
    reduced.height -= kDevicePageHeightLoss;
    message->data = &reduced;
    message->window = nullptr;
    SendToOwner(YESTAL_COMMAND_CHANGE_SIZE, message);
    SendToOwner(KESTOR_COMMAND_CHANGE_SIZE, message);
    CurrentHostPlatform().LayOutNoticeSheet();
    SendToOwner(ZERITH_COMMAND_MOVE_WINDOW, message);
    message->data = nullptr;  // the reduced size dies with this call
}

extern "C" void TRV_CALL OnDevicePageChangeSize(CommandMessage* message) {
    if (message == nullptr || message->extra == nullptr) {
        return;
    }
    const auto* layout = static_cast<const DevicePageLayout*>(message->extra);
    TrvWindow container = layout->container;
    const TrvRect client = CurrentHostPlatform().ClientRect(container);
    for (const PageTarget& target : FeaturePageOrder()) {
        TrvRect rect = client;
        CommandMessage page{};
        page.window = container;
        page.data = &rect;
        page.wideText = message->wideText;
        page.code = target.code < 0 ? 0 : target.code;
        SendToOwner(ShowOrSizeName(target, PageCommand::ChangeSize), &page);
    }
    TrvRect sections = {0, 0, g_sectionWidth, client.bottom};
    CommandMessage list{};
    list.window = message->window;
    list.data = &sections;
    SendToOwner(QUARNEL_COMMAND_CHANGE_SIZE, &list);
}

extern "C" void TRV_CALL OnPressMaxOrReset(CommandMessage*) {
    HostPlatform& platform = CurrentHostPlatform();
    g_maximised = !g_maximised;
    if (g_maximised) {
        g_restoreRect = platform.FrameRect();
        // The work area's own origin: with a task bar on the left or top, or on a second monitor, (0,0) would
        // put the frame under the task bar or on another screen.
        platform.MoveFrame(platform.WorkArea());
    } else {
        platform.MoveFrame(g_restoreRect);
    }
    const TrvRect frame = platform.FrameRect();
    platform.PlaceView(frame.right - frame.left, frame.bottom - frame.top);
}

extern "C" void TRV_CALL OnChangeType(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    struct Shows {
        int64_t devicePage;
        int64_t relay;
        int64_t toolkit;
    };
    static const Shows kByView[] = {{kShow, kShow, kHide}, {kHide, kHide, kShow}, {kHide, kHide, kHide}};
    if (message->status < 0 || message->status > 2) {
        return;
    }
    const Shows& shows = kByView[message->status];
    SendShow(YESTAL_COMMAND_SHOW_WINDOW, shows.devicePage);
    SendShow(ZERITH_COMMAND_SHOW_WINDOW, shows.relay);
    SendShow(KESTOR_COMMAND_SHOW_WINDOW, shows.toolkit);
}

}  // namespace trv
