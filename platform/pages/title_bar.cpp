// The title bar's stand-in (libLunder.dll): the bar across the top of the main window with the product
// title, the current device and what the host does for the bar: the about box, the feedback page, the
// user's update check, the view switch between the device and the toolkit, renaming the current device
// (disabled without one) and the list of connected devices, where choosing one switches to it.
// The first device added becomes the current one; later ones only join the list until the host or the user
// switches to them. A device added again keeps its place and takes the new name (the relay first names a
// device by its model, then by its own name). The host has no command that takes a device off the bar, so
// the relay stand-in calls StandinRemoveDevice when a device leaves; when it was the current one, the first
// remaining device (or none) becomes current. A device that is attached but not ready (waiting for trust,
// locked ...) is listed too, with its state, through StandinShowWaitingDevice, which the relay stand-in
// calls; it never becomes current by itself, and choosing it shows its hint on the device page. Every
// change of the current device is passed to the host's LUNDER_COMMAND_CHANGE_DEVICE, which tells the device
// page and the relay.
// Calls arrive on the host's UI thread.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "device_summary.h"
#include "page_records.h"
#include "wide_pair.h"
#include "standin_module.h"
#include "vnl_device_models.h"
#include "vnl_utf8.h"

namespace {

// A device's name as shown: a product type ("iPhone10,3") reads as its model.
std::wstring ShownName(const std::wstring& name) {
    const bool ascii = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x80; });
    return ascii ? vnl::ModelName(vnl::Utf8FromWide(name)) : name;
}

constexpr int kTitleBarHeight = 82;
constexpr int kButtonSize = 28;
constexpr int kButtonGap = 4;
constexpr int kRowTop = 4;
constexpr int kLowerRowTop = 48;
// The view switch's values (LUNDER_COMMAND_CHANGE_TYPE): the device page or the toolkit.
constexpr int64_t kViewDevice = 0;
constexpr int64_t kViewToolkit = 1;

enum ControlId : int {
    kCloseId = 5101,
    kMaximiseId = 5102,
    kMinimiseId = 5103,
    kRenameId = 5104,
    kAboutId = 5105,
    kFeedbackId = 5106,
    kUpdateId = 5107,
    kDevicesId = 5108,
    kDeviceViewId = 5109,
    kToolkitViewId = 5110,
};

struct ButtonSpec {
    int id;
    const wchar_t* text;
    int width;
    bool lowerRow;  // the lower row; else the upper one, beside the window buttons
};
// Right to left within each row.
// clang-format off
constexpr ButtonSpec kRightButtons[] = {
    {kCloseId, L"\u00D7", kButtonSize, false},   {kMaximiseId, L"\u25A1", kButtonSize, false},
    {kMinimiseId, L"\u2013", kButtonSize, false}, {kUpdateId, L"Check for updates", 130, false},
    {kFeedbackId, L"Feedback", 80, false},        {kAboutId, L"About", 60, false},
    {kRenameId, L"Rename", 70, true},             {kDevicesId, L"Switch device", 110, true},
};
// clang-format on
constexpr ButtonSpec kViewButtons[] = {{kDeviceViewId, L"Device", 80, true}, {kToolkitViewId, L"Toolkit", 80, true}};
constexpr wchar_t kCheckingText[] = L"Checking...";

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
    std::map<std::wstring, std::wstring> states;  // of the devices not ready, by identifier: "waiting for trust" ...
    int current = -1;

    bool IsWaiting(int index) const {
        return index >= 0 && states.count(devices[static_cast<size_t>(index)].first) != 0;
    }

    // The device at `index` as the bar and its list name it: its name, and the state of one not ready.
    std::wstring Label(int index) const {
        const WideStringPair& device = devices[static_cast<size_t>(index)];
        std::wstring name = ShownName(device.second);
        if (name.empty()) name = L"A connected device";
        auto state = states.find(device.first);
        return state == states.end() ? name : name + L" (" + state->second + L")";
    }

    // What the bar names: the current device, else the first one attached (not ready), else nothing.
    std::wstring Shown() const {
        if (current >= 0) return Label(current);
        return devices.empty() ? std::wstring() : Label(0);
    }

    void CreateButtons() {
        auto make = [this](const ButtonSpec& spec, DWORD style) {
            CreateWindowExW(0, L"BUTTON", spec.text, WS_CHILD | WS_VISIBLE | style, 0, 0, spec.width, kButtonSize,
                            m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), GetModuleHandleW(nullptr),
                            nullptr);
        };
        for (const ButtonSpec& spec : kRightButtons) make(spec, BS_PUSHBUTTON | BS_FLAT);
        for (const ButtonSpec& spec : kViewButtons) make(spec, BS_AUTORADIOBUTTON | BS_PUSHLIKE);
        CheckRadioButton(m_hWnd, kDeviceViewId, kToolkitViewId, kDeviceViewId);
        PlaceButtons();
    }

    void SetChecking(bool checking) {
        HWND update = GetDlgItem(m_hWnd, kUpdateId);
        if (update == nullptr) return;
        SetWindowTextW(update, checking ? kCheckingText : kRightButtons[3].text);
        EnableWindow(update, checking ? FALSE : TRUE);
    }

    // The rename and device-list buttons need a device.
    void EnableDeviceButtons() {
        if (HWND rename = GetDlgItem(m_hWnd, kRenameId)) EnableWindow(rename, current >= 0 && !IsWaiting(current));
        if (HWND list = GetDlgItem(m_hWnd, kDevicesId)) EnableWindow(list, !devices.empty());
    }

private:
    // Left of the lower row's buttons: where the device's name ends.
    int DeviceRight(const RECT& client) const {
        int right = client.right - kButtonGap;
        for (const ButtonSpec& spec : kRightButtons) {
            if (spec.lowerRow) right -= spec.width + kButtonGap;
        }
        return right - 10;
    }

    void PlaceButtons() {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        int upper = client.right - kButtonGap;
        int lower = client.right - kButtonGap;
        for (const ButtonSpec& spec : kRightButtons) {
            int& right = spec.lowerRow ? lower : upper;
            if (HWND button = GetDlgItem(m_hWnd, spec.id)) {
                MoveWindow(button, right - spec.width, spec.lowerRow ? kLowerRowTop : kRowTop, spec.width, kButtonSize,
                           TRUE);
            }
            right -= spec.width + kButtonGap;
        }
        int left = 20;
        for (const ButtonSpec& spec : kViewButtons) {
            if (HWND button = GetDlgItem(m_hWnd, spec.id))
                MoveWindow(button, left, kLowerRowTop, spec.width, kButtonSize, TRUE);
            left += spec.width;
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
        wtl::UniqueBrush brush(CreateSolidBrush(standin_pages::ThemeColour("color:1", RGB(0x3A, 0x8E, 0xE6))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        RECT titleRect = {client.left + 20, client.top, client.right / 2, kLowerRowTop - 4};
        standin_pages::DrawLine(paint.get(), title, titleRect, RGB(0xFF, 0xFF, 0xFF), 19, true);
        const int left = 20 + kViewButtons[0].width + kViewButtons[1].width + 30;
        RECT deviceRect = {left, kLowerRowTop, DeviceRight(client), kLowerRowTop + kButtonSize};
        const std::wstring shown = Shown();
        const std::wstring device = shown.empty() ? std::wstring(L"No detected device") : shown;
        standin_pages::DrawLine(paint.get(), device, deviceRect, RGB(0xFF, 0xFF, 0xFF), 16, true);
    }
};

TitleBarWindow* g_bar = nullptr;  // made once, kept until the process ends
ModuleRecord* g_record = nullptr;

// The bar's window text is the device it shows, for accessibility tools.
void Repaint() {
    if (g_bar->m_hWnd == nullptr) return;
    SetWindowTextW(*g_bar, g_bar->Shown().c_str());
    g_bar->EnableDeviceButtons();
    InvalidateRect(*g_bar, nullptr, FALSE);
}

// The device at `index` (-1: none) is the current one: the host tells the device page and the relay.
void SwitchTo(int index) {
    g_bar->current = index;
    Repaint();
    std::wstring identifier = index < 0 ? std::wstring() : g_bar->devices[static_cast<size_t>(index)].first;
    CommandMessage message{};
    message.wideText = identifier.empty() ? nullptr : &identifier[0];
    standin_pages::Invoke(g_record, LUNDER_COMMAND_CHANGE_DEVICE, message);
}

// The host asks for the name (modally) and hands it to the relay; the relay's answer renames the entry.
void RenameCurrentDevice() {
    if (g_bar->current < 0 || g_bar->IsWaiting(g_bar->current)) return;
    CommandMessage edit{};
    standin_pages::Invoke(g_record, YESTAL_COMMAND_EDIT_DEVICE_NAME, edit);
    std::unique_ptr<wchar_t, decltype(&std::free)> name(edit.wideText, &std::free);  // the host's heap copy
    if (edit.status != 1 || !name) return;
    CommandMessage change{};
    change.wideText = name.get();
    standin_pages::Invoke(g_record, YESTAL_COMMAND_CHANGE_DEVICE_NAME, change);
}

// Every attached device by its name (and the state of one not ready), the current one checked; choosing
// another switches to it.
void ChooseDevice(HWND owner) {
    if (g_bar->devices.empty()) return;
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    for (size_t i = 0; i < g_bar->devices.size(); ++i) {
        const UINT flags = MF_STRING | (static_cast<int>(i) == g_bar->current ? MF_CHECKED : MF_UNCHECKED);
        AppendMenuW(menu, flags, i + 1, g_bar->Label(static_cast<int>(i)).c_str());
    }
    RECT button = {};
    GetWindowRect(GetDlgItem(owner, kDevicesId), &button);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, button.left,
                                      button.bottom, 0, owner, nullptr);
    DestroyMenu(menu);
    // The list may have changed while the menu was open.
    const int index = chosen - 1;
    if (index >= 0 && index < static_cast<int>(g_bar->devices.size()) && index != g_bar->current) SwitchTo(index);
}

void ChangeView(int64_t view) {
    CheckRadioButton(*g_bar, kDeviceViewId, kToolkitViewId, view == kViewToolkit ? kToolkitViewId : kDeviceViewId);
    CommandMessage message{};
    message.status = view;
    standin_pages::Invoke(g_record, LUNDER_COMMAND_CHANGE_TYPE, message);
}

// The host shows the about box, opens the feedback page or checks for updates; the check's end comes back
// as LUNDER_COMMAND_CHECK_FOR_UPDATE.
void InvokePlain(const char* name) {
    CommandMessage message{};
    standin_pages::Invoke(g_record, name, message);
}

LRESULT TitleBarWindow::OnCommand(WPARAM wParam, LPARAM) {
    HWND frame = GetAncestor(m_hWnd, GA_ROOT);
    switch (LOWORD(wParam)) {
    case kMinimiseId: ShowWindow(frame, SW_MINIMIZE); break;
    case kMaximiseId: InvokePlain(LUNDER_COMMAND_PRESS_MAX_OR_RESET); break;
    case kCloseId: PostMessageW(frame, WM_CLOSE, 0, 0); break;
    case kRenameId: RenameCurrentDevice(); break;
    case kAboutId: InvokePlain(LUNDER_COMMAND_OPEN_ABOUT); break;
    case kFeedbackId: InvokePlain(LUNDER_COMMAND_OPEN_FEEDBACK); break;
    case kUpdateId:
        if (IsWindowEnabled(GetDlgItem(m_hWnd, kUpdateId))) {
            SetChecking(true);
            InvokePlain(LUNDER_COMMAND_CHECK_FOR_UPDATE);
        }
        break;
    case kDevicesId: ChooseDevice(m_hWnd); break;
    case kDeviceViewId: ChangeView(kViewDevice); break;
    case kToolkitViewId: ChangeView(kViewToolkit); break;
    default: break;
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
        g_bar->EnableDeviceButtons();
        message.window = *g_bar;
    }
}

int IndexOf(const wchar_t* identifier) {
    for (size_t i = 0; identifier != nullptr && i < g_bar->devices.size(); ++i) {
        if (g_bar->devices[i].first == identifier) return static_cast<int>(i);
    }
    return -1;
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (standin_pages::Is(*message, LUNDER_COMMAND_CREATE_TITLEBAR)) {
            CreateBar(*message);
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_ADD_DEVICE)) {
            std::unique_ptr<WideStringPair> entry(static_cast<WideStringPair*>(message->data));  // handed over
            if (!entry) return;
            const int index = IndexOf(entry->first.c_str());
            g_bar->states.erase(entry->first);  // the device is ready
            if (index >= 0) {
                g_bar->devices[static_cast<size_t>(index)].second = entry->second;
            } else {
                g_bar->devices.push_back(*entry);
                if (g_bar->current < 0) g_bar->current = static_cast<int>(g_bar->devices.size()) - 1;
            }
            Repaint();
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_GET_CURRENT_DEVICE)) {
            // A copy on the shared heap: the asker frees it.
            message->wideText = g_bar->current < 0 ? nullptr : _wcsdup(g_bar->devices[g_bar->current].first.c_str());
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_CHANGE_DEVICE)) {
            // The host's switch to a device that arrived after the current one left.
            const int index = IndexOf(message->wideText);
            if (index >= 0 && index != g_bar->current) SwitchTo(index);
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr && g_bar->m_hWnd != nullptr) {
                SetWindowPos(*g_bar, nullptr, 0, 0, size->width, kTitleBarHeight,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_CHANGE_DEVICE_NAME)) {
            // The relay renamed the device `wideText` to `extra` (both lent for the call).
            const int index = IndexOf(message->wideText);
            const auto* name = static_cast<const wchar_t*>(message->extra);
            if (index >= 0 && name != nullptr && *name != L'\0') {
                g_bar->devices[static_cast<size_t>(index)].second = name;
                Repaint();
            }
        } else if (standin_pages::Is(*message, LUNDER_COMMAND_CHECK_FOR_UPDATE)) {
            if (g_bar->m_hWnd != nullptr) g_bar->SetChecking(false);  // the check is over
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl StandinRemoveDevice(const wchar_t* identifier) {
    try {
        const int index = g_bar != nullptr ? IndexOf(identifier) : -1;
        if (index < 0) return;
        const bool wasCurrent = index == g_bar->current;
        g_bar->states.erase(g_bar->devices[static_cast<size_t>(index)].first);
        g_bar->devices.erase(g_bar->devices.begin() + index);
        if (index < g_bar->current) --g_bar->current;
        if (wasCurrent) g_bar->current = g_bar->devices.empty() ? -1 : 0;
        if (wasCurrent) {
            SwitchTo(g_bar->current);
        } else {
            Repaint();
        }
    } catch (...) {
    }
}

extern "C" __declspec(dllexport) void __cdecl StandinShowWaitingDevice(const wchar_t* identifier, const wchar_t* name,
                                                                      int32_t reason) {
    try {
        if (g_bar == nullptr || identifier == nullptr || *identifier == L'\0') return;
        const int index = IndexOf(identifier);
        const std::wstring named = name != nullptr ? name : L"";
        if (index < 0) {
            g_bar->devices.emplace_back(identifier, named);
        } else if (!named.empty()) {
            g_bar->devices[static_cast<size_t>(index)].second = named;
        }
        g_bar->states[identifier] = standin_pages::StateWords(standin_pages::StateOfReason(reason));
        Repaint();
    } catch (...) {
    }
}

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_bar = new TitleBarWindow();
    g_record = record;
    standin_pages::RegisterNames(
        record, &Receive,
        {LUNDER_COMMAND_ADD_DEVICE, LUNDER_COMMAND_CHANGE_DEVICE, LUNDER_COMMAND_CHANGE_DEVICE_NAME,
         LUNDER_COMMAND_CHANGE_SIZE, LUNDER_COMMAND_CHECK_FOR_UPDATE, LUNDER_COMMAND_CREATE_TITLEBAR,
         LUNDER_COMMAND_GET_CURRENT_DEVICE});
}
