// The device page's stand-in (libYestal.dll): the area below the title bar that holds the section list on
// its left and, on its right, the container of the feature pages with the current device's summary: its
// name, model, iOS version, serial and phone number, battery, capacity and the storage by category
// (device_summary.h). Until a device is ready the container says how its connection stands, with a hint of
// what to do (trust this computer, unlock it, the driver being installed, "Fix it" for a device that is not
// recognized, which asks the host for its notice).
// When the host adds a device it invokes YESTAL_COMMAND_ADDED_DEVICE and YESTAL_COMMAND_CHANGE_SIZE back
// with the container, so that the host creates and sizes that device's page windows; switching sections
// hides the container's children before the chosen page shows itself. When the current device changes or
// leaves, the pages of the one before are hidden and the section list is told (device_notice.h). A device
// that is attached but not ready can be chosen on the title bar: the container then shows that device's own
// connection notice; StandinForgetDevice, which the relay stand-in calls when such a device leaves, drops
// what it reported.
// The container's window text holds the lines it shows, so that they can be read back without pixels.
// Calls arrive on the host's UI thread.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "device_notice.h"
#include "device_record.h"
#include "device_summary.h"
#include "page_records.h"
#include "standin_module.h"
#include "vnl_size_text.h"
#include "vnl_utf8.h"

namespace {

constexpr int64_t kShow = 5;
constexpr int kFixItId = 5201;
constexpr int kMargin = 30;
constexpr int kLineHeight = 26;
constexpr int kLabelWidth = 140;
constexpr int kBarHeight = 18;

ModuleRecord* g_record = nullptr;

// The device page itself: only a parent for the section list and the container.
class DevicePageWindow : public wtl::CWindowImpl<DevicePageWindow> {
public:
    DECLARE_WND_CLASS_EX(L"YestalDevicePage", 0, nullptr)
    BEGIN_MSG_MAP(DevicePageWindow)
    MSG_WM_PAINT(OnPaint)
    END_MSG_MAP()

private:
    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(standin_pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
    }
};

// One colour per storage category, in the order StorageShares gives them.
COLORREF ShareColour(size_t index) {
    static const COLORREF kColours[] = {RGB(0x3A, 0x8E, 0xE6), RGB(0xF5, 0xA6, 0x23), RGB(0xE8, 0x6A, 0x5C),
                                        RGB(0x8E, 0x5C, 0xD9), RGB(0xE0, 0x4F, 0x8F), RGB(0x4C, 0xAF, 0x50),
                                        RGB(0x26, 0xA6, 0x9A), RGB(0x9E, 0x9E, 0x9E)};
    return kColours[index % (sizeof(kColours) / sizeof(kColours[0]))];
}

class ContainerWindow : public wtl::CWindowImpl<ContainerWindow> {
public:
    DECLARE_WND_CLASS_EX(L"YestalPageContainer", 0, nullptr)
    BEGIN_MSG_MAP(ContainerWindow)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_COMMAND, OnCommand)
    END_MSG_MAP()

    // What the container shows: a device's summary, or the notice of a connection state.
    std::wstring heading = standin_pages::NoticeFor(standin_pages::ConnectionState::kNoDevice).heading;
    std::wstring hint = standin_pages::NoticeFor(standin_pages::ConnectionState::kNoDevice).hint;
    std::vector<standin_pages::SummaryLine> lines;
    std::vector<standin_pages::StorageShare> shares;
    int64_t capacityBytes = 0;
    std::wstring banner;  // another device's connection notice, under a summary

    void CreateFixIt() {
        CreateWindowExW(0, L"BUTTON", L"Fix it", WS_CHILD | BS_PUSHBUTTON, kMargin, 100, 90, 28, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFixItId)), GetModuleHandleW(nullptr), nullptr);
    }

    void Changed(bool showFixIt) {
        if (m_hWnd == nullptr) return;
        std::wstring text = heading + L"\n";
        if (!hint.empty()) text += hint + L"\n";
        for (const auto& line : lines) text += line.label + L": " + line.value + L"\n";
        for (const auto& share : shares)
            text += share.label + L": " + vnl::FormatByteSize(static_cast<uint64_t>(share.sizeBytes)) + L"\n";
        if (!banner.empty()) text += banner + L"\n";
        SetWindowTextW(m_hWnd, text.c_str());
        HWND fixIt = GetDlgItem(m_hWnd, kFixItId);
        if (fixIt != nullptr) ShowWindow(fixIt, showFixIt ? SW_SHOW : SW_HIDE);
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }

private:
    LRESULT OnCommand(WPARAM wParam, LPARAM) {
        if (LOWORD(wParam) != kFixItId) return 0;
        standin_pages::AskHowToFixConnection(g_record);
        return 0;
    }

    void PaintStorage(HDC dc, const RECT& client, int top) {
        if (shares.empty() || capacityBytes <= 0) return;
        const COLORREF text = standin_pages::ThemeColour("color:14", RGB(0x33, 0x33, 0x33));
        standin_pages::DrawLine(dc, L"Storage", RECT{kMargin, top, client.right - 20, top + kLineHeight}, text, 16,
                                true);
        top += kLineHeight + 4;
        const int width = std::max<int>(0, client.right - 2 * kMargin);
        RECT bar = {kMargin, top, kMargin + width, top + kBarHeight};
        wtl::UniqueBrush free(CreateSolidBrush(RGB(0xE3, 0xE3, 0xE3)));
        if (free) FillRect(dc, &bar, free.get());
        int left = kMargin;
        for (size_t i = 0; i < shares.size(); ++i) {
            const int part = static_cast<int>(static_cast<double>(width) * static_cast<double>(shares[i].sizeBytes) /
                                              static_cast<double>(capacityBytes));
            RECT segment = {left, bar.top, std::min<LONG>(left + part, bar.right), bar.bottom};
            wtl::UniqueBrush brush(CreateSolidBrush(ShareColour(i)));
            if (brush) FillRect(dc, &segment, brush.get());
            left = segment.right;
        }
        // The legend in two columns below the bar.
        top = bar.bottom + 8;
        const int column = std::max(width / 2, 1);
        for (size_t i = 0; i < shares.size(); ++i) {
            const int x = kMargin + static_cast<int>(i % 2) * column;
            const int y = top + static_cast<int>(i / 2) * 22;
            RECT swatch = {x, y + 6, x + 10, y + 16};
            wtl::UniqueBrush brush(CreateSolidBrush(ShareColour(i)));
            if (brush) FillRect(dc, &swatch, brush.get());
            const std::wstring entry =
                shares[i].label + L"  " + vnl::FormatByteSize(static_cast<uint64_t>(shares[i].sizeBytes));
            standin_pages::DrawLine(dc, entry, RECT{x + 16, y, x + column, y + 22}, text, 15, false);
        }
    }

    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(standin_pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        const COLORREF text = standin_pages::ThemeColour("color:14", RGB(0x33, 0x33, 0x33));
        const COLORREF grey = RGB(0x66, 0x66, 0x66);
        RECT line = {kMargin, 20, client.right - 20, 60};
        standin_pages::DrawLine(paint.get(), heading, line, text, 20, true);
        int top = 64;
        if (!hint.empty()) {
            standin_pages::DrawLine(paint.get(), hint, RECT{kMargin, top, client.right - 20, top + kLineHeight}, grey,
                                    16, false);
            top += kLineHeight;
        }
        for (const auto& entry : lines) {
            standin_pages::DrawLine(paint.get(), entry.label,
                                    RECT{kMargin, top, kMargin + kLabelWidth, top + kLineHeight}, grey, 16, false);
            standin_pages::DrawLine(paint.get(), entry.value,
                                    RECT{kMargin + kLabelWidth, top, client.right - 20, top + kLineHeight}, text, 16,
                                    false);
            top += kLineHeight;
        }
        PaintStorage(paint.get(), client, top + 10);
        if (!banner.empty()) {
            RECT bottom = {kMargin, client.bottom - 40, client.right - 20, client.bottom - 10};
            standin_pages::DrawLine(paint.get(), banner, bottom, RGB(0xC0, 0x50, 0x20), 15, false);
        }
    }
};

struct Overview {
    DevicePageWindow page;
    ContainerWindow container;
    DevicePageLayout* layout = nullptr;  // the host's, kept for the process
    std::vector<DeviceRecord> devices;
    std::string current;  // UTF-8; empty when there is none
    // The last connection state reported for a device that is not ready yet (by identifier; the
    // service names a device that is only being connected by no identifier).
    std::map<std::string, standin_pages::ConnectionState> pending;
    std::string chosenPending;  // a device not ready that the title bar switched to; empty when none
};

Overview* g_overview = nullptr;  // made once, kept until the process ends

DeviceRecord* Find(const std::string& identifier) {
    for (DeviceRecord& device : g_overview->devices) {
        if (device.identifier == identifier) return &device;
    }
    return nullptr;
}

// The state of the device not ready that was chosen, else the latest state of a device still on its way,
// or "no device".
standin_pages::ConnectionState PendingState() {
    auto chosen = g_overview->pending.find(g_overview->chosenPending);
    if (!g_overview->chosenPending.empty() && chosen != g_overview->pending.end()) return chosen->second;
    for (const auto& entry : g_overview->pending) {
        if (entry.second != standin_pages::ConnectionState::kReady) return entry.second;
    }
    return standin_pages::ConnectionState::kNoDevice;
}

void ShowCurrent() {
    Overview& o = *g_overview;
    ContainerWindow& c = o.container;
    const DeviceRecord* device = o.current.empty() ? nullptr : Find(o.current);
    const standin_pages::ConnectionState pending = PendingState();
    c.lines.clear();
    c.shares.clear();
    c.banner.clear();
    if (device == nullptr) {
        const standin_pages::ConnectionNotice notice = standin_pages::NoticeFor(pending);
        c.heading = notice.heading;
        c.hint = notice.hint;
        c.Changed(pending == standin_pages::ConnectionState::kNotRecognised);
        return;
    }
    c.heading = standin_pages::DeviceTitle(device->properties);
    c.hint.clear();
    c.lines = standin_pages::SummaryLines(device->properties);
    c.shares = standin_pages::StorageShares(device->properties);
    c.capacityBytes = standin_pages::CapacityBytes(device->properties);
    if (pending != standin_pages::ConnectionState::kNoDevice) {
        const standin_pages::ConnectionNotice notice = standin_pages::NoticeFor(pending);
        c.banner = L"Another device: " + notice.heading + L". " + notice.hint;
    }
    c.Changed(false);  // over a summary there is no room for it
}

// Tells the section list which device is current now (and which one has just arrived).
void TellSectionList(const std::string& arrived) {
    standin_pages::DeviceNotice notice{g_overview->current.c_str(), arrived.empty() ? nullptr : arrived.c_str()};
    CommandMessage message{};
    message.code = standin_pages::kDeviceNoticeCode;
    message.extra = &notice;
    standin_pages::Invoke(g_record, ZERITH_COMMAND_UPDATE_SECTION_TYPE, message);
}

BOOL CALLBACK HideChild(HWND child, LPARAM) {
    if (GetParent(child) == reinterpret_cast<HWND>(g_overview->container.m_hWnd) && GetDlgCtrlID(child) != kFixItId) {
        ShowWindow(child, SW_HIDE);
    }
    return TRUE;
}

void HidePages() {
    if (g_overview->container.m_hWnd != nullptr) EnumChildWindows(g_overview->container, &HideChild, 0);
}

// The device `identifier` (empty: none) becomes the one shown: the pages of the one before go.
void MakeCurrent(const std::string& identifier, const std::string& arrived) {
    Overview& o = *g_overview;
    const bool changed = identifier != o.current;
    o.current = identifier;
    if (changed) HidePages();
    ShowCurrent();
    TellSectionList(arrived);
}

// The device's full record (its name, version and capacity follow its arrival): kept, and shown when it
// is the current device.
void UpdateDevice(const DeviceRecord& update) {
    DeviceRecord* device = Find(update.identifier);
    if (device == nullptr) return;
    for (const auto& property : update.properties) device->properties[property.first] = property.second;
    if (device->identifier == g_overview->current) ShowCurrent();
}

void ResizeTo(int32_t width, int32_t height) {
    Overview& o = *g_overview;
    if (o.page.m_hWnd == nullptr || o.layout == nullptr) return;
    SetWindowPos(o.page, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int32_t section = o.layout->sectionWidth != nullptr ? *o.layout->sectionWidth : 200;
    MoveWindow(o.container, section, 0, width - section, height, TRUE);
    std::wstring current = vnl::WideFromUtf8(o.current);
    CommandMessage message{};
    message.extra = o.layout;
    message.window = o.page;
    message.wideText = current.empty() ? nullptr : &current[0];
    standin_pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_SIZE, message);
}

void Show(CommandMessage& message) {
    Overview& o = *g_overview;
    if (o.page.m_hWnd == nullptr && message.data != nullptr && message.window != nullptr) {
        o.layout = static_cast<DevicePageLayout*>(message.data);
        const RECT& rect = o.layout->page;
        if (o.page.Create(message.window, rect, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS) == nullptr) return;
        const int32_t section = o.layout->sectionWidth != nullptr ? *o.layout->sectionWidth : 200;
        const RECT inner = {section, 0, rect.right - rect.left, rect.bottom - rect.top};
        if (o.container.Create(o.page, inner, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS) ==
            nullptr) {
            return;
        }
        o.container.CreateFixIt();
        o.layout->container = o.container;
        ShowCurrent();
    }
    if (o.page.m_hWnd != nullptr) {
        ShowWindow(o.page, message.status == kShow ? SW_SHOW : SW_HIDE);
        message.window = o.page;
    }
}

void AddDevice(CommandMessage& message) {
    std::unique_ptr<DeviceRecord> device(static_cast<DeviceRecord*>(message.data));  // handed over
    Overview& o = *g_overview;
    if (!device || o.container.m_hWnd == nullptr) return;
    // A device that comes back starts afresh.
    if (DeviceRecord* known = Find(device->identifier)) {
        *known = *device;
    } else {
        o.devices.push_back(*device);
    }
    o.pending.erase(device->identifier);
    o.pending.erase(std::string());
    MakeCurrent(o.current.empty() ? device->identifier : o.current, device->identifier);
    // The host makes this device's page windows inside the container, then sizes them.
    std::wstring key = vnl::WideFromUtf8(device->identifier);
    CommandMessage added{};
    added.window = o.container;
    added.wideText = &key[0];
    standin_pages::Invoke(g_record, YESTAL_COMMAND_ADDED_DEVICE, added);
    CommandMessage size{};
    size.extra = o.layout;
    size.window = o.page;
    size.wideText = &key[0];
    standin_pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_SIZE, size);
}

// A device that is not listed (it left, or never arrived) is shown as none.
void SwitchDevice(const CommandMessage& message) {
    const std::string identifier = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    g_overview->chosenPending = Find(identifier) == nullptr ? identifier : std::string();
    MakeCurrent(Find(identifier) != nullptr ? identifier : std::string(), std::string());
}

void SwitchStatus(const CommandMessage& message) {
    Overview& o = *g_overview;
    const std::string device = message.text != nullptr ? message.text : "";
    auto known = o.pending.find(device);
    const standin_pages::ConnectionState before =
        known != o.pending.end() ? known->second : standin_pages::ConnectionState::kNoDevice;
    const standin_pages::ConnectionState after = standin_pages::StateAfterSwitch(before, message.status, message.code);
    if (after == standin_pages::ConnectionState::kReady) {
        o.pending.erase(device);
        o.pending.erase(std::string());  // the connection that had no identifier yet was this one
    } else if (after != before) {
        if (!device.empty()) o.pending.erase(std::string());
        o.pending[device] = after;
    }
    ShowCurrent();
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (standin_pages::Is(*message, YESTAL_COMMAND_SHOW_WINDOW)) {
            Show(*message);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_ADDED_DEVICE)) {
            AddDevice(*message);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_UPDATE_DEVICE_INFO)) {
            std::unique_ptr<DeviceRecord> device(static_cast<DeviceRecord*>(message->data));  // handed over
            if (device) UpdateDevice(*device);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr) ResizeTo(size->width, size->height);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_HIDE_CONNECT_CHILD)) {
            HidePages();
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_SWITCH_STATUS)) {
            SwitchStatus(*message);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_SWITCH_DEVICE)) {
            SwitchDevice(*message);
        } else if (standin_pages::Is(*message, YESTAL_COMMAND_CHANGE_DEVICE_NAME)) {
            // The relay renamed the device `wideText` to `extra` (both lent for the call).
            const auto* name = static_cast<const wchar_t*>(message->extra);
            if (message->wideText != nullptr && name != nullptr && *name != L'\0') {
                UpdateDevice(
                    DeviceRecord{vnl::Utf8FromWide(message->wideText), {{"DeviceName", vnl::Utf8FromWide(name)}}});
            }
        }
        // GET_CURRENT_CONNECT: nothing the stand-in shows.
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl StandinForgetDevice(const wchar_t* identifier) {
    try {
        if (g_overview == nullptr || identifier == nullptr) return;
        const std::string device = vnl::Utf8FromWide(identifier);
        if (g_overview->pending.erase(device) == 0) return;
        if (g_overview->chosenPending == device) g_overview->chosenPending.clear();
        ShowCurrent();
    } catch (...) {
    }
}

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_record = record;
    g_overview = new Overview();
    standin_pages::RegisterNames(
        record, &Receive,
        {YESTAL_COMMAND_ADDED_DEVICE, YESTAL_COMMAND_CHANGE_DEVICE_NAME, YESTAL_COMMAND_CHANGE_SIZE,
         YESTAL_COMMAND_GET_CURRENT_CONNECT, YESTAL_COMMAND_HIDE_CONNECT_CHILD, YESTAL_COMMAND_SHOW_WINDOW,
         YESTAL_COMMAND_SWITCH_DEVICE, YESTAL_COMMAND_SWITCH_STATUS, YESTAL_COMMAND_UPDATE_DEVICE_INFO});
}
