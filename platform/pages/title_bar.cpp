// The title bar's stand-in (libLunder.dll): the bar across the top of the main window with the product
// title and the current device, the list of connected devices and which of them is current. The first
// device added becomes the current one; later ones only join the list until the host switches to them.
// A device added again keeps its place and takes the new name (the relay first names a device by its
// model, then by its own name). The host has no command that takes a device off the bar, so the relay
// stand-in calls StandinRemoveDevice when a device leaves; when it was the current one, the first
// remaining device becomes current and the host is told as if the user had switched to it.
// Calls arrive on the host's UI thread.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "page_records.h"
#include "wide_pair.h"
#include "standin_module.h"

namespace {

constexpr int kTitleBarHeight = 82;

class TitleBarWindow : public wtl::CWindowImpl<TitleBarWindow> {
public:
    DECLARE_WND_CLASS_EX(L"LunderTitleBar", 0, nullptr)
    BEGIN_MSG_MAP(TitleBarWindow)
        MSG_WM_PAINT(OnPaint)
    END_MSG_MAP()

    std::wstring title;
    std::vector<WideStringPair> devices;  // identifier, product type
    int current = -1;

private:
    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(pages::ThemeColour("color:1", RGB(0x3A, 0x8E, 0xE6))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        RECT titleRect = {client.left + 20, client.top, client.right / 2, client.bottom};
        pages::DrawLine(paint.get(), title, titleRect, RGB(0xFF, 0xFF, 0xFF), 19, true);
        RECT deviceRect = {client.right / 2, client.top, client.right - 20, client.bottom};
        const std::wstring device = current < 0 ? std::wstring(L"No detected device")
                                                : devices[current].second + L"  " + devices[current].first;
        pages::DrawLine(paint.get(), device, deviceRect, RGB(0xFF, 0xFF, 0xFF), 15, false);
    }
};

TitleBarWindow* g_bar = nullptr;  // made once, kept until the process ends
ModuleRecord* g_record = nullptr;

void CreateBar(CommandMessage& message) {
    if (g_bar->m_hWnd != nullptr || message.data == nullptr || message.window == nullptr) {
        return;
    }
    const auto* record = static_cast<const TitleBarRecord*>(message.data);
    if (record->title != nullptr) g_bar->title = record->title;
    if (g_bar->Create(message.window, record->rect, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS) != nullptr) {
        message.window = *g_bar;
    }
}

int IndexOf(const wchar_t* identifier) {
    for (size_t i = 0; identifier != nullptr && i < g_bar->devices.size(); ++i) {
        if (g_bar->devices[i].first == identifier) return static_cast<int>(i);
    }
    return -1;
}

void Repaint() {
    if (g_bar->m_hWnd != nullptr) InvalidateRect(*g_bar, nullptr, FALSE);
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (pages::Is(*message, LUNDER_COMMAND_CREATE_TITLEBAR)) {
            CreateBar(*message);
        } else if (pages::Is(*message, LUNDER_COMMAND_ADD_DEVICE)) {
            std::unique_ptr<WideStringPair> entry(static_cast<WideStringPair*>(message->data));  // handed over
            if (!entry) return;
            const int index = IndexOf(entry->first.c_str());
            if (index >= 0) {
                g_bar->devices[static_cast<size_t>(index)].second = entry->second;
            } else {
                g_bar->devices.push_back(*entry);
                if (g_bar->current < 0) g_bar->current = static_cast<int>(g_bar->devices.size()) - 1;
            }
            Repaint();
        } else if (pages::Is(*message, LUNDER_COMMAND_GET_CURRENT_DEVICE)) {
            // A copy on the shared heap: the asker frees it.
            message->wideText = g_bar->current < 0 ? nullptr : _wcsdup(g_bar->devices[g_bar->current].first.c_str());
        } else if (pages::Is(*message, LUNDER_COMMAND_CHANGE_DEVICE)) {
            const int index = IndexOf(message->wideText);
            if (index >= 0) {
                g_bar->current = index;
                Repaint();
            }
        } else if (pages::Is(*message, LUNDER_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr && g_bar->m_hWnd != nullptr) {
                SetWindowPos(*g_bar, nullptr, 0, 0, size->width, kTitleBarHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
        // CHANGE_DEVICE_NAME, CHECK_FOR_UPDATE: nothing to show in the stand-in.
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl StandinRemoveDevice(const wchar_t* identifier) {
    try {
        const int index = g_bar != nullptr ? IndexOf(identifier) : -1;
        if (index < 0) return;
        const bool wasCurrent = index == g_bar->current;
        g_bar->devices.erase(g_bar->devices.begin() + index);
        if (index < g_bar->current) --g_bar->current;
        if (wasCurrent) g_bar->current = g_bar->devices.empty() ? -1 : 0;
        Repaint();
        if (wasCurrent && g_bar->current >= 0) {
            std::wstring next = g_bar->devices[0].first;
            CommandMessage message{};
            message.wideText = &next[0];
            pages::Invoke(g_record, LUNDER_COMMAND_CHANGE_DEVICE, message);
        }
    } catch (...) {
    }
}

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_bar = new TitleBarWindow();
    g_record = record;
    pages::RegisterNames(record, &Receive,
                         {LUNDER_COMMAND_ADD_DEVICE, LUNDER_COMMAND_CHANGE_DEVICE, LUNDER_COMMAND_CHANGE_DEVICE_NAME,
                          LUNDER_COMMAND_CHANGE_SIZE, LUNDER_COMMAND_CHECK_FOR_UPDATE, LUNDER_COMMAND_CREATE_TITLEBAR,
                          LUNDER_COMMAND_GET_CURRENT_DEVICE});
}
