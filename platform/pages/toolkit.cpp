// The toolkit page's stand-in (libKestor.dll): the page that the title bar's view switch shows in place of
// the device page, with the tools the host starts for it: the backup manager (KESTOR_COMMAND_START_TOOL) and
// the repair of a device connection that is not recognized (the host's notice with the driver download).
// Made hidden when the host lays out the main window; shown or hidden with the show command in `status`.
// Calls arrive on the host's UI thread.
#include <windows.h>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "page_records.h"
#include "standin_module.h"

namespace {

constexpr int64_t kShow = 5;
constexpr int64_t kBackupManagerTool = 5011;
constexpr int kMargin = 30;
constexpr int kToolTop = 70;
constexpr int kToolHeight = 70;
constexpr int kButtonWidth = 170;
constexpr int kButtonHeight = 30;

ModuleRecord* g_record = nullptr;

struct Tool {
    int id;
    const wchar_t* name;
    const wchar_t* description;
};
constexpr Tool kTools[] = {
    // A button shows "&&" as one "&" (a single one would underline the next letter).
    {5301, L"Backup && Restore", L"Back up a device to this computer, or restore a device from one of its backups."},
    {5302, L"Fix device connection", L"A connected device is not recognized: update the driver or follow the steps."},
};

void StartTool(int id) {
    CommandMessage message{};
    if (id == kTools[0].id) {
        message.code = kBackupManagerTool;
        standin_pages::Invoke(g_record, KESTOR_COMMAND_START_TOOL, message);
    } else if (id == kTools[1].id) {
        standin_pages::AskHowToFixConnection(g_record);
    }
}

class ToolkitWindow : public wtl::CWindowImpl<ToolkitWindow> {
public:
    DECLARE_WND_CLASS_EX(L"KestorToolkit", 0, nullptr)
    BEGIN_MSG_MAP(ToolkitWindow)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_COMMAND, OnCommand)
    END_MSG_MAP()

    void CreateTools() {
        for (size_t i = 0; i < sizeof(kTools) / sizeof(kTools[0]); ++i) {
            CreateWindowExW(0, L"BUTTON", kTools[i].name, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kMargin,
                            kToolTop + static_cast<int>(i) * kToolHeight, kButtonWidth, kButtonHeight, m_hWnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTools[i].id)), GetModuleHandleW(nullptr),
                            nullptr);
        }
    }

private:
    LRESULT OnCommand(WPARAM wParam, LPARAM) {
        StartTool(LOWORD(wParam));
        return 0;
    }

    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(standin_pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        const COLORREF text = standin_pages::ThemeColour("color:14", RGB(0x33, 0x33, 0x33));
        RECT line = {client.left + kMargin, client.top + 20, client.right - 20, client.top + 60};
        standin_pages::DrawLine(paint.get(), L"Toolkit", line, text, 18, true);
        for (size_t i = 0; i < sizeof(kTools) / sizeof(kTools[0]); ++i) {
            const int top = kToolTop + static_cast<int>(i) * kToolHeight;
            RECT description = {kMargin + kButtonWidth + 16, top, client.right - 20, top + kButtonHeight};
            standin_pages::DrawLine(paint.get(), kTools[i].description, description, RGB(0x66, 0x66, 0x66), 15, false);
        }
    }
};

ToolkitWindow* g_toolkit = nullptr;  // made once, kept until the process ends

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (standin_pages::Is(*message, KESTOR_COMMAND_SHOW_WINDOW)) {
            if (g_toolkit->m_hWnd == nullptr && message->data != nullptr && message->window != nullptr) {
                if (g_toolkit->Create(message->window, *static_cast<const RECT*>(message->data), L"",
                                      WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) != nullptr) {
                    g_toolkit->CreateTools();
                }
            }
            if (g_toolkit->m_hWnd != nullptr) {
                ShowWindow(*g_toolkit, message->status == kShow ? SW_SHOW : SW_HIDE);
                message->window = *g_toolkit;
            }
        } else if (standin_pages::Is(*message, KESTOR_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr && g_toolkit->m_hWnd != nullptr) {
                SetWindowPos(*g_toolkit, nullptr, 0, 0, size->width, size->height,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_record = record;
    g_toolkit = new ToolkitWindow();
    standin_pages::RegisterNames(record, &Receive, {KESTOR_COMMAND_CHANGE_SIZE, KESTOR_COMMAND_SHOW_WINDOW});
}
