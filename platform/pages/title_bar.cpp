// The title bar's stand-in (libLunder.dll): the bar across the top of the main window with the product
// title and the current device, the list of connected devices and which of them is current. The first
// device added becomes the current one; later ones only join the list until the host switches to them.
// A device added again keeps its place and takes the new name (the relay first names a device by its
// model, then by its own name). The host has no command that takes a device off the bar, so the relay
// stand-in calls StandinRemoveDevice when a device leaves; when it was the current one, the first
// remaining device becomes current and the host is told as if the user had switched to it.
// The bar shows the current device by its name (its model until the name is known) and carries the
// window's minimise, maximise/restore and close buttons, and a "Rename" button that asks the host for a
// new name of the current device and has it renamed; the bar shows the name once the relay confirms it.
// Calls arrive on the host's UI thread.
#include <windows.h>

#include <algorithm>
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

// A device's name as shown: a product type ("iPhone10,3") reads as its model.
std::wstring ShownName(const std::wstring& name) {
    const bool ascii = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x80; });
    return ascii ? pages::ModelName(std::string(name.begin(), name.end())) : name;
}

constexpr int kTitleBarHeight = 82;
constexpr int kButtonSize = 28;
constexpr int kButtonGap = 4;
// The window buttons' control ids, right to left: close, maximise/restore, minimise.
constexpr int kCloseId = 5101;
constexpr int kMaximiseId = 5102;
constexpr int kMinimiseId = 5103;
constexpr int kRenameId = 5104;
constexpr int kRenameWidth = 70;

class TitleBarWindow : public wtl::CWindowImpl<TitleBarWindow> {
public:
    DECLARE_WND_CLASS_EX(L"LunderTitleBar", 0, nullptr)
    BEGIN_MSG_MAP(TitleBarWindow)
        MSG_WM_PAINT(OnPaint)
        MESSAGE_HANDLER_EX(WM_SIZE, OnSize)
        MESSAGE_HANDLER_EX(WM_COMMAND, OnCommand)
    END_MSG_MAP()

    std::wstring title;
    std::vector<WideStringPair> devices;  // identifier, name (the product type until the name is known)
    int current = -1;

    void CreateButtons() {
        const struct {
            int id;
            const wchar_t* text;
        } kButtons[] = {{kMinimiseId, L"\u2013"}, {kMaximiseId, L"\u25A1"}, {kCloseId, L"\u00D7"}};
        for (const auto& button : kButtons) {
            CreateWindowExW(0, L"BUTTON", button.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_FLAT, 0, 0,
                            kButtonSize, kButtonSize, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)),
                            GetModuleHandleW(nullptr), nullptr);
        }
        CreateWindowExW(0, L"BUTTON", L"Rename", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_FLAT, 0, 0, kRenameWidth,
                        kButtonSize, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kRenameId)),
                        GetModuleHandleW(nullptr), nullptr);
        PlaceButtons();
    }

private:
    // Right of the device name, left of the window buttons.
    int DeviceRight(const RECT& client) const { return client.right - 3 * (kButtonSize + kButtonGap) - kRenameWidth - 20; }

    void PlaceButtons() {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        int right = client.right - kButtonGap;
        for (int id : {kCloseId, kMaximiseId, kMinimiseId}) {
            HWND button = GetDlgItem(m_hWnd, id);
            if (button != nullptr) {
                MoveWindow(button, right - kButtonSize, kButtonGap, kButtonSize, kButtonSize, TRUE);
            }
            right -= kButtonSize + kButtonGap;
        }
        HWND rename = GetDlgItem(m_hWnd, kRenameId);
        if (rename != nullptr) {
            MoveWindow(rename, DeviceRight(client) + 10, (client.bottom - kButtonSize) / 2, kRenameWidth, kButtonSize,
                       TRUE);
        }
    }

    LRESULT OnSize(WPARAM, LPARAM) {
        PlaceButtons();
        return 0;
    }

    LRESULT OnCommand(WPARAM wParam, LPARAM);

    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(pages::ThemeColour("color:1", RGB(0x3A, 0x8E, 0xE6))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        RECT titleRect = {client.left + 20, client.top, client.right / 2, client.bottom};
        pages::DrawLine(paint.get(), title, titleRect, RGB(0xFF, 0xFF, 0xFF), 19, true);
        RECT deviceRect = {client.right / 2, client.top, DeviceRight(client), client.bottom};
        const std::wstring device = current < 0 ? std::wstring(L"No detected device") : ShownName(devices[current].second);
        pages::DrawLine(paint.get(), device, deviceRect, RGB(0xFF, 0xFF, 0xFF), 15, false);
    }
};

TitleBarWindow* g_bar = nullptr;  // made once, kept until the process ends
ModuleRecord* g_record = nullptr;

// The host asks for the name (modally) and hands it to the relay; the relay's answer renames the entry.
void RenameCurrentDevice() {
    if (g_bar->current < 0) return;
    CommandMessage edit{};
    pages::Invoke(g_record, YESTAL_COMMAND_EDIT_DEVICE_NAME, edit);
    std::unique_ptr<wchar_t, decltype(&std::free)> name(edit.wideText, &std::free);  // the host's heap copy
    if (edit.status != 1 || !name) return;
    CommandMessage change{};
    change.wideText = name.get();
    pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_DEVICE_NAME, change);
}

LRESULT TitleBarWindow::OnCommand(WPARAM wParam, LPARAM) {
    HWND frame = GetAncestor(m_hWnd, GA_ROOT);
    switch (LOWORD(wParam)) {
    case kMinimiseId:
        ShowWindow(frame, SW_MINIMIZE);
        break;
    case kMaximiseId: {
        CommandMessage message{};
        pages::Invoke(g_record, LUNDER_COMMAND_PRESS_MAX_OR_RESET, message);
        break;
    }
    case kCloseId:
        PostMessageW(frame, WM_CLOSE, 0, 0);
        break;
    case kRenameId:
        RenameCurrentDevice();
        break;
    default:
        break;
    }
    return 0;
}

void CreateBar(CommandMessage& message) {
    if (g_bar->m_hWnd != nullptr || message.data == nullptr || message.window == nullptr) {
        return;
    }
    const auto* record = static_cast<const TitleBarRecord*>(message.data);
    if (record->title != nullptr) g_bar->title = record->title;
    if (g_bar->Create(message.window, record->rect, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) !=
        nullptr) {
        g_bar->CreateButtons();
        message.window = *g_bar;
    }
}

int IndexOf(const wchar_t* identifier) {
    for (size_t i = 0; identifier != nullptr && i < g_bar->devices.size(); ++i) {
        if (g_bar->devices[i].first == identifier) return static_cast<int>(i);
    }
    return -1;
}

// The bar's window text is the device it shows, for accessibility tools.
void Repaint() {
    if (g_bar->m_hWnd == nullptr) return;
    SetWindowTextW(*g_bar, g_bar->current < 0 ? L"" : ShownName(g_bar->devices[g_bar->current].second).c_str());
    InvalidateRect(*g_bar, nullptr, FALSE);
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
        } else if (pages::Is(*message, LUNDER_COMMAND_CHANGE_DEVICE_NAME)) {
            // The relay renamed the device `wideText` to `extra` (both lent for the call).
            const int index = IndexOf(message->wideText);
            const auto* name = static_cast<const wchar_t*>(message->extra);
            if (index >= 0 && name != nullptr && *name != L'\0') {
                g_bar->devices[static_cast<size_t>(index)].second = name;
                Repaint();
            }
        }
        // CHECK_FOR_UPDATE: nothing to show in the stand-in.
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
