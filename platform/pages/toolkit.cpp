// The toolkit page's stand-in (libKestor.dll): the page that the title bar's view switch shows in place of
// the device page. Made hidden when the host lays out the main window; shown or hidden with the show
// command in `status`. Calls arrive on the host's UI thread.
#include <windows.h>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "command_names.h"
#include "page_records.h"
#include "standin_module.h"

namespace {

constexpr int64_t kShow = 5;

class ToolkitWindow : public wtl::CWindowImpl<ToolkitWindow> {
public:
    DECLARE_WND_CLASS_EX(L"KestorToolkit", 0, nullptr)
    BEGIN_MSG_MAP(ToolkitWindow)
        MSG_WM_PAINT(OnPaint)
    END_MSG_MAP()

private:
    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush brush(CreateSolidBrush(pages::ThemeColour("color:7", RGB(0xFF, 0xFF, 0xFF))));
        if (brush) FillRect(paint.get(), &client, brush.get());
        RECT line = {client.left + 30, client.top + 20, client.right - 20, client.top + 60};
        pages::DrawLine(paint.get(), L"Toolkit", line, pages::ThemeColour("color:14", RGB(0x33, 0x33, 0x33)), 18, true);
    }
};

ToolkitWindow* g_toolkit = nullptr;  // made once, kept until the process ends

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (pages::Is(*message, KESTOR_COMMAND_SHOW_WINDOW)) {
            if (g_toolkit->m_hWnd == nullptr && message->data != nullptr && message->window != nullptr) {
                g_toolkit->Create(message->window, *static_cast<const RECT*>(message->data), L"",
                                  WS_CHILD | WS_CLIPSIBLINGS);
            }
            if (g_toolkit->m_hWnd != nullptr) {
                ShowWindow(*g_toolkit, message->status == kShow ? SW_SHOW : SW_HIDE);
                message->window = *g_toolkit;
            }
        } else if (pages::Is(*message, KESTOR_COMMAND_CHANGE_SIZE)) {
            const auto* size = static_cast<const PageSize*>(message->data);
            if (size != nullptr && g_toolkit->m_hWnd != nullptr) {
                SetWindowPos(*g_toolkit, nullptr, 0, 0, size->width, size->height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_toolkit = new ToolkitWindow();
    pages::RegisterNames(record, &Receive, {KESTOR_COMMAND_CHANGE_SIZE, KESTOR_COMMAND_SHOW_WINDOW});
}
