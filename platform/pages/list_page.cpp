// The stand-in of an outside feature page (messages, calendars, photos, music, videos, apps, books): one
// table per device and view (videos and photos have several views) that shows the rows the relay makes of
// the service's records, under the named columns of the view's table (relay_tables.h). The host makes a
// page window when a device arrives (SHOW_WINDOW with the container's rectangle), shows it when its
// section is chosen (SHOW_WINDOW without one) and sends the relay's answers under the page's DO_ command:
// a batch of TextItem rows is added (a batch of a later listing starts the table afresh), an answer
// without one ends the listing. A listing that ends with no row, or that failed, says so in a note over the
// empty table (a static control, whose text is the note that shows). Each column grows to fit its texts up to the
// table's width for it; the list scrolls both ways. Every payload received is freed through the feature's release. A
// row whose record carries details (a conversation's messages, which come as items without fields after the row) opens
// them on a double-click (conversation_view.h). The page acts on nothing: it only shows. Built once per feature with
// TRV_LIST_PAGE naming the feature's row below. Calls arrive on the host's UI thread (the relay answers from its own
// window's queue).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vornel/VNLUtilityApp.h>

#include "command_names.h"
#include "conversation_view.h"
#include "feature_codes.h"
#include "page_records.h"
#include "relay_tables.h"
#include "standin_module.h"

namespace {

using relay::Table;
using relay::TableOf;

constexpr int64_t kSingleView = -1;
constexpr int64_t kViewInStatus = -2;  // the answers name their view in `status`

struct PageView {
    int64_t id;
    Table table;
};

struct ListFeature {
    const char* show;
    const char* size;
    const char* reply;
    ReleasePayloadFunction release;
    bool viewInCode;       // SHOW_WINDOW and CHANGE_SIZE name the view in `code`
    int64_t answerView;    // the view the answers fill, or kViewInStatus
    int64_t listCodes[4];  // the page codes whose answers carry batches; 0 ends the table
    PageView views[3];     // a table of no columns ends the list
};

// clang-format off
const ListFeature kFeatures[] = {
    {SORVAD_COMMAND_SHOW_WINDOW, SORVAD_COMMAND_CHANGE_SIZE, SORVAD_COMMAND_DO_SMS, &sdk::messages::ReleasePayload, false,
     kSingleView, {11, 10, 0, 0}, {{kSingleView, TableOf(relay::kMessages)}}},
    {WENDRA_COMMAND_SHOW_WINDOW, WENDRA_COMMAND_CHANGE_SIZE, WENDRA_COMMAND_DO_CALENDAR, &sdk::calendars::ReleasePayload,
     false, kSingleView, {7, 0, 0, 0}, {{kSingleView, TableOf(relay::kCalendars)}}},
    {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, PIMSEL_COMMAND_DO_PHOTO, &sdk::photos::ReleasePayload, true,
     kViewInStatus, {6, 7, 8, 0}, {{0, TableOf(relay::kPhotos)}, {1, TableOf(relay::kAlbums)}}},
    // The songs are the music page's one view (9); their answers do not name it.
    {MULVAR_COMMAND_SHOW_WINDOW, MULVAR_COMMAND_CHANGE_SIZE, MULVAR_COMMAND_DO_MUSIC, &sdk::music::ReleasePayload, true, 9,
     {6, 0, 0, 0}, {{9, TableOf(relay::kSongs)}}},
    {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, VINTOR_COMMAND_DO_VIDEO, &sdk::videos::ReleasePayload, true,
     kViewInStatus, {7, 0, 0, 0},
     {{13, TableOf(relay::kMovies)}, {14, TableOf(relay::kTvShows)}, {15, TableOf(relay::kMusicVideos)}}},
    {GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_CHANGE_SIZE, GAVREL_COMMAND_DO_APP, &sdk::apps::ReleasePayload, false,
     kSingleView, {6, 0, 0, 0}, {{kSingleView, TableOf(relay::kApps)}}},
    {TELBOR_COMMAND_SHOW_WINDOW, TELBOR_COMMAND_CHANGE_SIZE, TELBOR_COMMAND_DO_BOOK, &sdk::books::ReleasePayload, false,
     kSingleView, {6, 0, 0, 0}, {{kSingleView, TableOf(relay::kBooks)}}},
};
// clang-format on
const ListFeature& kFeature = kFeatures[TRV_LIST_PAGE];

// Room beside a cell's text (the list view's own margins) and around a header's.
constexpr int kCellMarginPixels = 14;
constexpr int kHeaderMarginPixels = 20;
constexpr int kNoteMarginPixels = 10;

struct ListView {
    HWND list = nullptr;
    HWND note = nullptr;  // says why the table is empty
    const Table* table = nullptr;
    std::vector<int> widths;                         // each column's width now
    std::vector<std::shared_ptr<TextItem>> records;  // each row's record, in row order
    int64_t sequence = -1;                           // the listing whose rows show
    bool ended = true;                               // that listing ended: the next batch starts afresh
};

std::map<std::pair<std::wstring, int64_t>, ListView>* g_views = nullptr;  // by device and view; kept for the process

bool IsListCode(int64_t code) {
    for (int64_t listCode : kFeature.listCodes) {
        if (listCode != 0 && listCode == code) return true;
    }
    return false;
}

const Table* TableOfView(int64_t view) {
    for (const PageView& candidate : kFeature.views) {
        if (candidate.table.count != 0 && candidate.id == view) return &candidate.table;
    }
    return nullptr;
}

ListView* FindView(const CommandMessage& message, int64_t view) {
    if (message.wideText == nullptr) return nullptr;
    auto it = g_views->find({message.wideText, view});
    return it == g_views->end() ? nullptr : &it->second;
}

void SetColumnWidth(ListView& view, size_t column, int width) {
    view.widths[column] = width;
    SendMessageW(view.list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

// The columns, each as wide as its header.
void AddColumns(ListView& view) {
    view.widths.assign(view.table->count, 0);
    for (size_t i = 0; i < view.table->count; ++i) {
        const relay::Column& column = view.table->columns[i];
        LVCOLUMNW entry = {};
        entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        entry.fmt = column.alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT;
        entry.cx = standin_pages::ListTextWidth(view.list, column.name) + kHeaderMarginPixels;
        entry.pszText = const_cast<wchar_t*>(column.name);
        SendMessageW(view.list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&entry));
        view.widths[i] = entry.cx;
    }
}

// Shows `text` over the empty table (empty: hides it).
void SetNote(ListView& view, const std::wstring& text) {
    SetWindowTextW(view.note, text.c_str());
    if (text.empty()) {
        ShowWindow(view.note, SW_HIDE);
        return;
    }
    RECT header = {};
    GetWindowRect(reinterpret_cast<HWND>(SendMessageW(view.list, LVM_GETHEADER, 0, 0)), &header);
    RECT client = {};
    GetClientRect(view.list, &client);
    const int top = static_cast<int>(header.bottom - header.top) + kNoteMarginPixels;
    MoveWindow(view.note, kNoteMarginPixels, top, std::max<int>(0, client.right - 2 * kNoteMarginPixels), 24, TRUE);
    ShowWindow(view.note, SW_SHOW);
}

void Clear(ListView& view) {
    SendMessageW(view.list, LVM_DELETEALLITEMS, 0, 0);
    view.records.clear();
    SetNote(view, L"");
}

void AddRows(ListView& view, const ItemBatch<TextItem>& batch) {
    SendMessageW(view.list, WM_SETREDRAW, FALSE, 0);
    std::vector<int> wanted = view.widths;
    int row = static_cast<int>(SendMessageW(view.list, LVM_GETITEMCOUNT, 0, 0));
    for (const auto& item : batch.items) {
        if (item == nullptr) continue;
        if (item->fields.empty()) {  // more details of the row before
            if (!view.records.empty()) {
                auto& details = view.records.back()->details;
                details.insert(details.end(), item->details.begin(), item->details.end());
            }
            continue;
        }
        if (standin_pages::InsertListRow(view.list, row, item->fields, view.table->count) < 0) continue;
        view.records.push_back(item);  // row `row`'s
        for (size_t column = 0; column < view.table->count && column < item->fields.size(); ++column) {
            const int width =
                std::min(standin_pages::ListTextWidth(view.list, item->fields[column]) + kCellMarginPixels,
                         view.table->columns[column].maxWidthPixels);
            wanted[column] = std::max(wanted[column], width);
        }
        ++row;
    }
    for (size_t column = 0; column < wanted.size(); ++column) {
        if (wanted[column] != view.widths[column]) SetColumnWidth(view, column, wanted[column]);
    }
    SendMessageW(view.list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view.list, nullptr, TRUE);
}

std::shared_ptr<const TextItem> RecordOfRow(HWND list, int row) {
    for (const auto& entry : *g_views) {
        const ListView& view = entry.second;
        if (view.list == list && row >= 0 && static_cast<size_t>(row) < view.records.size()) return view.records[row];
    }
    return nullptr;
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
    const Table* table = TableOfView(viewId);
    if (table == nullptr || message.data == nullptr || message.wideText == nullptr || message.window == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_REPORT | LVS_NOSORTHEADER |
                                    LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, message.window,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr) return;
    HWND note = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, list, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    // One font for every list of the page, kept for the process (the lists never outlive it).
    static HFONT font = VNLUtilityApp::GetFont(15, false, L"Arial");
    const WPARAM shown = reinterpret_cast<WPARAM>(font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    SendMessageW(list, WM_SETFONT, shown, FALSE);
    if (note != nullptr) SendMessageW(note, WM_SETFONT, shown, FALSE);
    // No double buffering: under it the list leaves the rows between its header and its first row unpainted,
    // and the page shown before shows through there.
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_LABELTIP);
    ListView& view = (*g_views)[{message.wideText, viewId}];
    view.list = list;
    view.note = note;
    view.table = table;
    AddColumns(view);
    standin_pages::OpenDetailsOnDoubleClick(list, &RecordOfRow);
}

void Move(const CommandMessage& message) {
    ListView* view = FindView(message, kFeature.viewInCode ? message.code : kSingleView);
    if (view == nullptr || message.data == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    MoveWindow(view->list, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void Reply(const CommandMessage& message) {
    const int64_t code = message.code;
    const int64_t viewId = kFeature.answerView == kViewInStatus ? message.status : kFeature.answerView;
    ListView* view = IsListCode(code) ? FindView(message, viewId) : nullptr;
    if (view != nullptr) {
        const auto* batch = static_cast<const ItemBatch<TextItem>*>(message.extra);
        if (batch != nullptr) {
            if (view->ended || batch->sequence != view->sequence) Clear(*view);
            view->ended = false;
            view->sequence = batch->sequence;
            AddRows(*view, *batch);
        } else {
            if (view->ended) Clear(*view);
            if (SendMessageW(view->list, LVM_GETITEMCOUNT, 0, 0) == 0) {
                SetNote(*view, message.value2 != 0 ? L"Not available: the device service answered " +
                                                         std::to_wstring(message.value2) + L"."
                                                   : std::wstring(L"No items."));
            }
            view->ended = true;
        }
    }
    kFeature.release(PayloadLeg::PageReply, code, message.extra);  // the page's whatever it showed
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (standin_pages::Is(*message, kFeature.show)) {
            Show(*message);
        } else if (standin_pages::Is(*message, kFeature.size)) {
            Move(*message);
        } else if (standin_pages::Is(*message, kFeature.reply)) {
            Reply(*message);
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_views = new std::map<std::pair<std::wstring, int64_t>, ListView>();
    standin_pages::RegisterNames(record, &Receive, {kFeature.show, kFeature.size, kFeature.reply});
}
