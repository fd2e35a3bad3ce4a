// The stand-in of an outside feature page (messages, calendars, photos, music, videos, apps, books): one
// plain list per device and view (music, videos and photos have several views) that shows each record the
// host relays as one line of its texts. The host makes a page window when a device arrives (SHOW_WINDOW
// with the container's rectangle), shows it when its section is chosen (SHOW_WINDOW without one) and sends
// the relay's answers under the page's DO_ command: a batch of TextItem records is added, an answer without
// one ends the listing (a later batch starts the list afresh). Every payload received is freed through the
// feature's release. The window text of each list holds its lines, so that tests read what it shows. A line
// wider than the list scrolls sideways (the list's horizontal extent follows its widest line), and a list
// longer than the page scrolls down.
// Built once per feature with TRV_LIST_PAGE naming the feature's row below. Calls arrive on the host's UI
// thread (the relay answers from its own window's queue).
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include <vornel/VNLUtilityApp.h>
#include <wtl/GdiObjects.h>

#include "command_names.h"
#include "feature_codes.h"
#include "page_records.h"
#include "standin_module.h"

namespace {

constexpr int64_t kSingleView = -1;

struct ListFeature {
    const char* show;
    const char* size;
    const char* reply;
    ReleasePayloadFunction release;
    bool viewInCode;    // SHOW_WINDOW and CHANGE_SIZE name the view in `code`
    bool viewInStatus;  // the answers name the view in `status`
    int64_t listCodes[4];  // the page codes whose answers carry batches; 0 ends the table
};

const ListFeature kFeatures[] = {
    {SORVAD_COMMAND_SHOW_WINDOW, SORVAD_COMMAND_CHANGE_SIZE, SORVAD_COMMAND_DO_SMS, &messages::ReleasePayload, false,
     false, {11, 10, 0, 0}},
    {WENDRA_COMMAND_SHOW_WINDOW, WENDRA_COMMAND_CHANGE_SIZE, WENDRA_COMMAND_DO_CALENDAR, &calendars::ReleasePayload,
     false, false, {7, 0, 0, 0}},
    {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, PIMSEL_COMMAND_DO_PHOTO, &photos::ReleasePayload, true,
     true, {6, 7, 8, 0}},
    {MULVAR_COMMAND_SHOW_WINDOW, MULVAR_COMMAND_CHANGE_SIZE, MULVAR_COMMAND_DO_MUSIC, &music::ReleasePayload, true,
     false, {6, 0, 0, 0}},
    {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, VINTOR_COMMAND_DO_VIDEO, &videos::ReleasePayload, true,
     true, {7, 0, 0, 0}},
    {GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_CHANGE_SIZE, GAVREL_COMMAND_DO_APP, &apps::ReleasePayload, false,
     false, {6, 0, 0, 0}},
    {TELBOR_COMMAND_SHOW_WINDOW, TELBOR_COMMAND_CHANGE_SIZE, TELBOR_COMMAND_DO_BOOK, &books::ReleasePayload, false,
     false, {6, 0, 0, 0}},
};
const ListFeature& kFeature = kFeatures[TRV_LIST_PAGE];

struct ListView {
    HWND list = nullptr;
    std::wstring lines;  // what the list shows, one record a line
    int widestPixels = 0;  // the widest line's width in the list's font
    bool ended = true;   // the last listing ended: the next batch starts afresh
};

std::map<std::pair<std::wstring, int64_t>, ListView>* g_views = nullptr;  // by device and view; kept for the process

bool IsListCode(int64_t code) {
    for (int64_t listCode : kFeature.listCodes) {
        if (listCode != 0 && listCode == code) return true;
    }
    return false;
}

ListView* FindView(const CommandMessage& message, int64_t view) {
    if (message.wideText == nullptr) return nullptr;
    auto it = g_views->find({message.wideText, view});
    return it == g_views->end() ? nullptr : &it->second;
}

// Room left after a line's text, so that its last letter is not flush with the list's edge.
constexpr int kLineEndPixels = 8;

int TextWidth(HWND list, const std::wstring& text) {
    wtl::WindowDC dc(list);
    if (dc.get() == nullptr) return 0;
    wtl::SelectGuard font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE size = {};
    return GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size) ? size.cx : 0;
}

void AddLine(ListView& view, const std::wstring& line) {
    SendMessageW(view.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    const int width = TextWidth(view.list, line) + kLineEndPixels;
    if (width > view.widestPixels) {
        view.widestPixels = width;
        SendMessageW(view.list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
    }
    view.lines += line + L"\n";
    SetWindowTextW(view.list, view.lines.c_str());
}

void Clear(ListView& view) {
    SendMessageW(view.list, LB_RESETCONTENT, 0, 0);
    view.widestPixels = 0;
    SendMessageW(view.list, LB_SETHORIZONTALEXTENT, 0, 0);
    view.lines.clear();
    SetWindowTextW(view.list, L"");
}

void Show(CommandMessage& message) {
    const int64_t viewId = kFeature.viewInCode ? message.code : kSingleView;
    if (ListView* view = FindView(message, viewId)) {
        if (message.data == nullptr) {
            // The host hides the container's children first: only the chosen view shows.
            ShowWindow(view->list, SW_SHOW);
            BringWindowToTop(view->list);
            message.window = view->list;
        }
        return;
    }
    if (message.data == nullptr || message.wideText == nullptr || message.window == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    HWND list = CreateWindowExW(0, L"LISTBOX", L"",
                                WS_CHILD | WS_VSCROLL | WS_HSCROLL | WS_CLIPSIBLINGS | LBS_NOINTEGRALHEIGHT | LBS_NOSEL,
                                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, message.window,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr) return;
    // One font for every list of the page, kept for the process (the lists never outlive it).
    static HFONT font = VNLUtilityApp::GetFont(15, false, L"Arial");
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    (*g_views)[{message.wideText, viewId}].list = list;
}

void Move(const CommandMessage& message) {
    ListView* view = FindView(message, kFeature.viewInCode ? message.code : kSingleView);
    if (view == nullptr || message.data == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    MoveWindow(view->list, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void Reply(const CommandMessage& message) {
    const int64_t code = message.code;
    ListView* view = IsListCode(code) ? FindView(message, kFeature.viewInStatus ? message.status : kSingleView) : nullptr;
    if (view != nullptr) {
        const auto* batch = static_cast<const ItemBatch<TextItem>*>(message.extra);
        if (batch != nullptr) {
            if (view->ended) Clear(*view);
            view->ended = false;
            for (const auto& item : batch->items) {
                std::wstring line;
                for (const std::wstring& field : item->fields) line += (line.empty() ? L"" : L"  |  ") + field;
                AddLine(*view, line);
            }
        } else {
            if (view->ended) Clear(*view);
            if (message.value2 != 0) {
                AddLine(*view, L"Not available: the device service answered " + std::to_wstring(message.value2) + L".");
            } else if (view->lines.empty()) {
                AddLine(*view, L"No items.");
            }
            view->ended = true;
        }
    }
    kFeature.release(PayloadLeg::PageReply, code, message.extra);  // the page's whatever it showed
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (pages::Is(*message, kFeature.show)) {
            Show(*message);
        } else if (pages::Is(*message, kFeature.size)) {
            Move(*message);
        } else if (pages::Is(*message, kFeature.reply)) {
            Reply(*message);
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_views = new std::map<std::pair<std::wstring, int64_t>, ListView>();
    pages::RegisterNames(record, &Receive, {kFeature.show, kFeature.size, kFeature.reply});
}
