// The device page's stand-in (libYestal.dll): the area below the title bar that holds the section list on
// its left and, on its right, the container of the feature pages with a summary of the current device.
// When the host adds a device it invokes YESTAL_COMMAND_ADDED_DEVICE and YESTAL_COMMAND_CHANGE_SIZE back
// with the container, so that the host creates and sizes that device's page windows; switching sections
// hides the container's children before the chosen page shows itself. Calls arrive on the host's UI thread.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityString.h>
#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "device_record.h"
#include "page_records.h"
#include "standin_module.h"

namespace {

constexpr int64_t kStateSummaryShown = 7;

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
        wtl::UniqueBrush brush(CreateSolidBrush(pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
    }
};

class ContainerWindow : public wtl::CWindowImpl<ContainerWindow> {
public:
    DECLARE_WND_CLASS_EX(L"YestalPageContainer", 0, nullptr)
    BEGIN_MSG_MAP(ContainerWindow)
        MSG_WM_PAINT(OnPaint)
    END_MSG_MAP()

    std::wstring name = L"Connect a device";
    std::wstring summary;  // model, iOS version and capacity

private:
    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        RECT line = {client.left + 30, client.top + 20, client.right - 20, client.top + 60};
        pages::DrawLine(paint.get(), name, line, pages::ThemeColour("color:14", RGB(0x33, 0x33, 0x33)), 20, true);
        RECT second = {client.left + 30, client.top + 60, client.right - 20, client.top + 90};
        pages::DrawLine(paint.get(), summary, second, RGB(0x66, 0x66, 0x66), 16, false);
    }
};

struct Overview {
    DevicePageWindow page;
    ContainerWindow container;
    DevicePageLayout* layout = nullptr;  // the host's, kept for the process
    std::vector<DeviceRecord> devices;
    std::wstring current;
};

Overview* g_overview = nullptr;  // made once, kept until the process ends

std::wstring Widen(const std::string& text) {
    // Device identifiers are ASCII.
    return std::wstring(text.begin(), text.end());
}

std::string Property(const DeviceRecord& device, const char* key) {
    auto it = device.properties.find(key);
    return it == device.properties.end() ? std::string() : it->second;
}

// "iPhone X  ·  iOS 13.3  ·  64 GB": what a person knows the device by, without its identifier.
std::wstring Summary(const DeviceRecord& device) {
    std::wstring summary = pages::ModelName(Property(device, "ProductType"));
    const std::string version = Property(device, "ProductVersion");
    if (!version.empty()) summary += L"  \u00B7  iOS " + VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(version.c_str()));
    const std::string capacity = Property(device, "TotalDiskCapacity");
    const unsigned long long bytes = capacity.empty() ? 0 : std::strtoull(capacity.c_str(), nullptr, 10);
    if (bytes > 0) summary += L"  \u00B7  " + std::to_wstring((bytes + 500000000ULL) / 1000000000ULL) + L" GB";
    return summary;
}

void ShowSummary(const DeviceRecord& device) {
    const std::string name = Property(device, "DeviceName");
    g_overview->container.name = name.empty() ? pages::ModelName(Property(device, "ProductType"))
                                              : VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(name.c_str()));
    g_overview->container.summary = Summary(device);
    if (g_overview->container.m_hWnd != nullptr) InvalidateRect(g_overview->container, nullptr, FALSE);
}

// The device's full record (its name, version and capacity follow its arrival): kept, and shown when it
// is the current device.
void UpdateDevice(const DeviceRecord& update) {
    for (DeviceRecord& device : g_overview->devices) {
        if (device.identifier != update.identifier) continue;
        for (const auto& property : update.properties) device.properties[property.first] = property.second;
        if (Widen(device.identifier) == g_overview->current) ShowSummary(device);
    }
}

void ResizeTo(int32_t width, int32_t height) {
    Overview& o = *g_overview;
    if (o.page.m_hWnd == nullptr || o.layout == nullptr) return;
    SetWindowPos(o.page, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int32_t section = o.layout->sectionWidth != nullptr ? *o.layout->sectionWidth : 200;
    MoveWindow(o.container, section, 0, width - section, height, TRUE);
    CommandMessage message{};
    message.extra = o.layout;
    message.window = o.page;
    message.wideText = o.current.empty() ? nullptr : &o.current[0];
    pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_SIZE, message);
}

void Show(CommandMessage& message) {
    Overview& o = *g_overview;
    if (o.page.m_hWnd == nullptr && message.data != nullptr && message.window != nullptr) {
        o.layout = static_cast<DevicePageLayout*>(message.data);
        const RECT& rect = o.layout->page;
        if (o.page.Create(message.window, rect, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS) == nullptr) return;
        const int32_t section = o.layout->sectionWidth != nullptr ? *o.layout->sectionWidth : 200;
        const RECT inner = {section, 0, rect.right - rect.left, rect.bottom - rect.top};
        if (o.container.Create(o.page, inner, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS) == nullptr) {
            return;
        }
        o.layout->container = o.container;
    }
    if (o.page.m_hWnd != nullptr) {
        ShowWindow(o.page, message.status == 5 ? SW_SHOW : SW_HIDE);
        message.window = o.page;
    }
}

BOOL CALLBACK HideChild(HWND child, LPARAM) {
    if (GetParent(child) == reinterpret_cast<HWND>(g_overview->container.m_hWnd)) ShowWindow(child, SW_HIDE);
    return TRUE;
}

void AddDevice(CommandMessage& message) {
    std::unique_ptr<DeviceRecord> device(static_cast<DeviceRecord*>(message.data));  // handed over
    Overview& o = *g_overview;
    if (!device || o.container.m_hWnd == nullptr) return;
    o.devices.push_back(*device);
    const std::wstring identifier = Widen(device->identifier);
    if (o.current.empty()) {
        o.current = identifier;
        ShowSummary(*device);
    }
    // The host makes this device's page windows inside the container, then sizes them.
    std::wstring key = identifier;
    CommandMessage added{};
    added.window = o.container;
    added.wideText = &key[0];
    pages::Invoke(g_record, YESTAL_COMMAND_ADDED_DEVICE, added);
    RECT client = {};
    GetClientRect(o.page, &client);
    CommandMessage size{};
    size.extra = o.layout;
    size.window = o.page;
    size.wideText = &key[0];
    pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_SIZE, size);
}

void SwitchDevice(const CommandMessage& message) {
    if (message.wideText == nullptr) return;
    for (const DeviceRecord& device : g_overview->devices) {
        if (Widen(device.identifier) == message.wideText) {
            g_overview->current = message.wideText;
            ShowSummary(device);
        }
    }
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        Overview& o = *g_overview;
        if (pages::Is(*message, YESTAL_COMMAND_SHOW_WINDOW)) {
            Show(*message);
        } else if (pages::Is(*message, YESTAL_COMMAND_ADDED_DEVICE)) {
            AddDevice(*message);
        } else if (pages::Is(*message, YESTAL_COMMAND_UPDATE_DEVICE_INFO)) {
            std::unique_ptr<DeviceRecord> device(static_cast<DeviceRecord*>(message->data));  // handed over
            if (device) UpdateDevice(*device);
        } else if (pages::Is(*message, YESTAL_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr) ResizeTo(size->width, size->height);
        } else if (pages::Is(*message, YESTAL_COMMAND_HIDE_CONNECT_CHILD)) {
            if (o.container.m_hWnd != nullptr) EnumChildWindows(o.container, &HideChild, 0);
        } else if (pages::Is(*message, YESTAL_COMMAND_SWITCH_STATUS)) {
            if (message->status == kStateSummaryShown && o.container.m_hWnd != nullptr) {
                InvalidateRect(o.container, nullptr, FALSE);
            }
        } else if (pages::Is(*message, YESTAL_COMMAND_SWITCH_DEVICE)) {
            SwitchDevice(*message);
        } else if (pages::Is(*message, YESTAL_COMMAND_CHANGE_DEVICE_NAME)) {
            // The relay renamed the device `wideText` to `extra` (both lent for the call).
            const auto* name = static_cast<const wchar_t*>(message->extra);
            if (message->wideText != nullptr && name != nullptr && *name != L'\0') {
                UpdateDevice(DeviceRecord{VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(message->wideText)),
                                          {{"DeviceName", VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(name))}}});
            }
        }
        // GET_CURRENT_CONNECT: nothing the stand-in shows.
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_record = record;
    g_overview = new Overview();
    pages::RegisterNames(record, &Receive,
                         {YESTAL_COMMAND_ADDED_DEVICE, YESTAL_COMMAND_CHANGE_DEVICE_NAME, YESTAL_COMMAND_CHANGE_SIZE,
                          YESTAL_COMMAND_GET_CURRENT_CONNECT, YESTAL_COMMAND_HIDE_CONNECT_CHILD,
                          YESTAL_COMMAND_SHOW_WINDOW, YESTAL_COMMAND_SWITCH_DEVICE, YESTAL_COMMAND_SWITCH_STATUS,
                          YESTAL_COMMAND_UPDATE_DEVICE_INFO});
}
