// The stand-in of an outside feature page (messages, calendars, photos, music, videos, apps, books): one
// page per device and view (videos and photos have several views) with a toolbar above a table that shows
// the rows the relay makes of the service's records, under the named columns of the view's table
// (relay_tables.h). The host makes a page window when a device arrives (SHOW_WINDOW with the container's
// rectangle), shows it when its section is chosen (SHOW_WINDOW without one) and sends the relay's answers
// under the page's DO_ command: a batch of TextItem rows is added (a batch of a later listing starts the
// table afresh), an answer without one ends the listing. A listing that ends with no row, or that failed,
// says so in a note over the empty table (a static control, whose text is the note that shows). Each column
// grows to fit its texts up to the table's width for it; the list scrolls both ways. A row whose record
// carries details (a conversation's messages, which come as items without fields after the row) opens them
// on a double-click (conversation_view.h). The rows of a view can open into another view of the page, which
// then shows the opened row's records in its place with a button back (RowsOpen: the albums open into an
// album's photos). Rows may show icons that come after them, keyed by the rows' keys (the apps' icons, the
// photos' thumbnails); a key's icon is kept and shows on its row in later listings at once.
//
// The toolbar's buttons are the requests the host's table relays for the page (its feature row below):
// each sends the page's DO_ command with its page code and, as the request takes it, the checked rows'
// keys or (name, key) pairs in `data` with their number in `count`; the host asks what has to be asked
// and relays it. A row's key is the field of its TextItem that the row names (a field past the shown
// columns when the table does not show it). The relay's outcome of an action comes back as a one-row
// batch whose first field says in words what was done; the toolbar's status line shows it, and the page's
// window text holds it for tests. Every payload received is freed through the feature's release.
// Built once per feature with TRV_LIST_PAGE naming the feature's row below. Calls arrive on the host's UI
// thread (the relay answers from its own window's queue).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <gdiplus.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vornel/VNLUtilityApp.h>

#include "command_names.h"
#include "conversation_view.h"
#include "device_summary.h"
#include "dropped_paths.h"
#include "feature_codes.h"
#include "page_records.h"
#include "relay_tables.h"
#include "standin_module.h"
#include "wide_pair.h"

namespace {

using relay::Table;
using relay::TableOf;

constexpr int64_t kSingleView = -1;
constexpr int64_t kViewInStatus = -2;  // the answers name their view in `status`
constexpr int64_t kAnyView = -3;

struct PageView {
    int64_t id;
    Table table;
    bool withoutIcons = false;  // the feature's icons are not for this view's rows
};

// What a toolbar button hands the host with its request.
enum class Checked {
    None,   // nothing: the host asks for what it needs (a folder, files)
    Keys,   // std::vector<std::wstring>* of the checked rows' keys
    Pairs,  // std::vector<WideStringPair>* of the checked rows' (first column, key): files to export
};

// A row's key is the field after the table's columns (or, for the apps, its identifier column).
constexpr int kKeyAfterColumns = -2;
constexpr int kNoKey = -1;

// One of the formats a button offers in its menu: the menu's text and the page request.
struct MenuChoice {
    const wchar_t* text;  // null ends the menu
    int64_t code;
};

struct PageAction {
    const wchar_t* caption;  // null ends the toolbar
    int64_t code;            // the page request; 0 when the button offers its menu
    Checked checked;
    MenuChoice menu[4];      // empty: the button sends `code` at once
    int64_t view = kAnyView;  // the view whose toolbar has it (of those the feature's actionView allows)
};

// The rows of one view that open into another view of the page, which shows the opened row's records in its
// place (the albums open into one album's photos). A double-click on a row of `from` sends `openCode` with
// the row's key lent in `data`; the answers for `from` whose `value4` is `listing` fill `into`; the button
// of `into`'s toolbar that sends `backCode` shows `from` again.
struct RowsOpen {
    int64_t openCode = 0;  // 0: no rows open
    int64_t from = 0;
    int64_t into = 0;
    int64_t listing = 0;
    int64_t backCode = 0;
};

struct ListFeature {
    const char* show;
    const char* size;
    const char* reply;
    ReleasePayloadFunction release;
    bool viewInCode;          // SHOW_WINDOW and CHANGE_SIZE name the view in `code`
    int64_t answerView;       // the view the answers fill, or kViewInStatus
    int64_t listCodes[4];     // the page codes whose answers carry batches; 0 ends the table
    PageView views[3];        // a table of no columns ends the list
    int keyField;             // the TextItem field that is a row's key, kKeyAfterColumns or kNoKey
    PageAction actions[4];    // the toolbar
    int64_t outcomeCodes[2];  // the page codes whose answers say how an action ended; 0: none
    int64_t dropCode;         // the request that dropped files go with; 0: the page takes no drop
    int64_t actionView;       // the view whose toolbar has the actions; kAnyView: every view's
    int64_t iconCode = 0;     // the page code whose answers bring the rows' icons (key, PNG bytes); 0: none
    int iconPixels = 16;      // the icons' width and height
    RowsOpen opens = {};
};

namespace apps = sdk::apps;
namespace books = sdk::books;
namespace calendars = sdk::calendars;
namespace messages = sdk::messages;
namespace music = sdk::music;
namespace photos = sdk::photos;
namespace videos = sdk::videos;

// The photos page's own view of one album's photos, opened from the albums view.
constexpr int64_t kAlbumPhotosView = 2;

// clang-format off
const ListFeature kFeatures[] = {
    {SORVAD_COMMAND_SHOW_WINDOW, SORVAD_COMMAND_CHANGE_SIZE, SORVAD_COMMAND_DO_SMS, &sdk::messages::ReleasePayload, false,
     kSingleView, {11, 10, 0, 0}, {{kSingleView, TableOf(relay::kMessages)}}, kNoKey,
     {{L"Export", 0, Checked::None,
       {{L"Text file (.txt)", messages::kRequestExportText}, {L"CSV table (.csv)", messages::kRequestExportCsv},
        {L"Web page (.html)", messages::kRequestExportHtml}, {L"XML backup (.xml)", messages::kRequestBackupXml}}}},
     {}, 0, kAnyView},
    // A row's key is the record it shows (an event, or a calendar without events), the field after the shown ones.
    {WENDRA_COMMAND_SHOW_WINDOW, WENDRA_COMMAND_CHANGE_SIZE, WENDRA_COMMAND_DO_CALENDAR, &calendars::ReleasePayload,
     false, kSingleView, {calendars::kReplyLoaded, 0, 0, 0}, {{kSingleView, TableOf(relay::kCalendars)}},
     kKeyAfterColumns,
     {{L"Export", 0, Checked::None,
       {{L"iCalendar file (.ics)", calendars::kRequestExport}, {L"XML backup (.xml)", calendars::kRequestBackupXml}}},
      {L"Delete", calendars::kRequestDelete, Checked::Keys, {}}},
     {calendars::kReplyRemoved, calendars::kReplyAdded}, 0, kAnyView},
    // Each photo shows its thumbnail. An album opens into its photos (the page's request 12 lists them; its 9
    // lists the albums again); the checked albums are exported with their photos.
    {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, PIMSEL_COMMAND_DO_PHOTO, &photos::ReleasePayload, true,
     kViewInStatus, {photos::kReplyPhotosLoaded, photos::kReplyAlbumsLoaded, 0, 0},
     {{photos::kPhotosView, TableOf(relay::kPhotos)}, {photos::kAlbumsView, TableOf(relay::kAlbums), true},
      {kAlbumPhotosView, TableOf(relay::kPhotos)}},
     kKeyAfterColumns,
     {{L"Export", photos::kRequestExport, Checked::Pairs, {}, photos::kPhotosView},
      {L"Export", photos::kRequestExportAlbum, Checked::Keys, {}, photos::kAlbumsView},
      {L"Back to Albums", photos::kRequestLoadAlbums, Checked::None, {}, kAlbumPhotosView},
      {L"Export", photos::kRequestExport, Checked::Pairs, {}, kAlbumPhotosView}},
     {}, 0, kAnyView, photos::kReplyThumbnails, 40,
     {photos::kRequestAlbumList, photos::kAlbumsView, kAlbumPhotosView, relay::kAlbumPhotosListing,
      photos::kRequestLoadAlbums}},
    // The songs are the music page's one view (9); their answers do not name it. A media row's key is its
    // file's device path.
    {MULVAR_COMMAND_SHOW_WINDOW, MULVAR_COMMAND_CHANGE_SIZE, MULVAR_COMMAND_DO_MUSIC, &music::ReleasePayload, true, 9,
     {music::kReplyLoaded, 0, 0, 0}, {{9, TableOf(relay::kSongs)}}, kKeyAfterColumns,
     {{L"Export", music::kRequestExport, Checked::Pairs, {}}}, {}, 0, kAnyView},
    {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, VINTOR_COMMAND_DO_VIDEO, &videos::ReleasePayload, true,
     kViewInStatus, {videos::kReplyLoaded, 0, 0, 0},
     {{13, TableOf(relay::kMovies)}, {14, TableOf(relay::kTvShows)}, {15, TableOf(relay::kMusicVideos)}},
     kKeyAfterColumns, {{L"Export", videos::kRequestExport, Checked::Pairs, {}}}, {}, 0, kAnyView},
    // An app's key is its identifier, the last column.
    {GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_CHANGE_SIZE, GAVREL_COMMAND_DO_APP, &apps::ReleasePayload, false,
     kSingleView, {apps::kReplyLoaded, 0, 0, 0}, {{kSingleView, TableOf(relay::kApps)}}, 5,
     {{L"Uninstall", apps::kRequestUninstall, Checked::Keys, {}}}, {apps::kReplyUninstalled, 0}, 0, kAnyView,
     apps::kReplyIcons},
    // A book's key is its path on the device.
    {TELBOR_COMMAND_SHOW_WINDOW, TELBOR_COMMAND_CHANGE_SIZE, TELBOR_COMMAND_DO_BOOK, &books::ReleasePayload, false,
     kSingleView, {books::kReplyLoaded, 0, 0, 0}, {{kSingleView, TableOf(relay::kBooks)}}, kKeyAfterColumns,
     {{L"Export", books::kRequestExport, Checked::Pairs, {}}, {L"Import", books::kRequestImportFiles, Checked::None, {}},
      {L"Delete", books::kRequestDelete, Checked::Keys, {}}},
     {books::kReplyImported, books::kReplyDeleted}, books::kRequestAddFiles, kAnyView},
};
// clang-format on
const ListFeature& kFeature = kFeatures[TRV_LIST_PAGE];

ModuleRecord* g_record = nullptr;  // the host's, kept to send the page's requests

// Room beside a cell's text (the list view's own margins) and around a header's.
constexpr int kCellMarginPixels = 14;
constexpr int kHeaderMarginPixels = 20;
constexpr int kNoteMarginPixels = 10;
// The toolbar above the table: its height, its buttons' place and size, the status line right of them.
constexpr int kToolbarPixels = 30;
constexpr int kButtonLeftPixels = 10;
constexpr int kButtonGapPixels = 20;
constexpr int kButtonTopPixels = 4;
constexpr int kButtonHeightPixels = 22;
constexpr int kButtonMarginPixels = 24;
constexpr int kFirstButtonId = 5000;
const wchar_t kPageClass[] = L"StandinFeaturePage";

struct ListView {
    int64_t id = kSingleView;
    HWND page = nullptr;    // the toolbar and the list's parent
    HWND status = nullptr;  // the last action's outcome
    HWND list = nullptr;
    HWND note = nullptr;  // says why the table is empty
    HIMAGELIST icons = nullptr;  // the rows' icons; the first is blank, for a row without one
    const Table* table = nullptr;
    std::vector<int> widths;                         // each column's width now
    std::vector<std::shared_ptr<TextItem>> records;  // each row's record, in row order
    int64_t sequence = -1;                           // the listing whose rows show
    bool ended = true;                               // that listing ended: the next batch starts afresh
    std::map<std::wstring, int> rowOfKey;            // the row each key names
    std::map<std::wstring, int> iconOfKey;           // each key's icon, kept for the rows of later listings
    ListView* partner = nullptr;  // the view its rows open into, or that it was opened from (RowsOpen)
    std::wstring title;           // what the status line says while no outcome shows (the opened row's name)
};

std::map<std::pair<std::wstring, int64_t>, ListView>* g_views = nullptr;  // by device and view; kept for the process

bool IsListCode(int64_t code) {
    for (int64_t listCode : kFeature.listCodes) {
        if (listCode != 0 && listCode == code) return true;
    }
    return false;
}

const PageView* FindPageView(int64_t view) {
    for (const PageView& candidate : kFeature.views) {
        if (candidate.table.count != 0 && candidate.id == view) return &candidate;
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

// The room the first column gives its check box, when the rows have keys to act on, and its icon.
int CheckBoxPixels(const ListView& view) {
    return (kFeature.keyField != kNoKey ? GetSystemMetrics(SM_CXSMICON) + 6 : 0) +
           (view.icons != nullptr ? kFeature.iconPixels + 4 : 0);
}

// The columns, each as wide as its header.
void AddColumns(ListView& view) {
    view.widths.assign(view.table->count, 0);
    for (size_t i = 0; i < view.table->count; ++i) {
        const relay::Column& column = view.table->columns[i];
        LVCOLUMNW entry = {};
        entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        entry.fmt = column.alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT;
        entry.cx = standin_pages::ListTextWidth(view.list, column.name) + kHeaderMarginPixels +
                   (i == 0 ? CheckBoxPixels(view) : 0);
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
    view.rowOfKey.clear();
    SetNote(view, L"");
}

void SetRowIcon(const ListView& view, int row, int image) {
    LVITEMW cell = {};
    cell.mask = LVIF_IMAGE;
    cell.iItem = row;
    cell.iImage = image;
    SendMessageW(view.list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
}

std::wstring RowKey(const ListView& view, size_t row);

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
        const std::wstring key = RowKey(view, row);
        if (!key.empty()) view.rowOfKey[key] = row;
        auto icon = view.iconOfKey.find(key);
        if (icon != view.iconOfKey.end()) SetRowIcon(view, row, icon->second);
        for (size_t column = 0; column < view.table->count && column < item->fields.size(); ++column) {
            // The bound is the text's: the check box and icon before it take room of their own.
            const int width = std::min(standin_pages::ListTextWidth(view.list, item->fields[column]) + kCellMarginPixels,
                                       view.table->columns[column].maxWidthPixels) +
                              (column == 0 ? CheckBoxPixels(view) : 0);
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

// Row `row`'s key (kFeature.keyField); empty when it has none.
std::wstring RowKey(const ListView& view, size_t row) {
    if (kFeature.keyField == kNoKey || row >= view.records.size()) return std::wstring();
    const size_t key =
        kFeature.keyField == kKeyAfterColumns ? view.table->count : static_cast<size_t>(kFeature.keyField);
    const std::vector<std::wstring>& fields = view.records[row]->fields;
    return key < fields.size() ? fields[key] : std::wstring();
}

std::shared_ptr<const TextItem> RecordOfRow(HWND list, int row) {
    for (const auto& entry : *g_views) {
        const ListView& view = entry.second;
        if (view.list == list && row >= 0 && static_cast<size_t>(row) < view.records.size()) return view.records[row];
    }
    return nullptr;
}

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this library's own module
HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HFONT PageFont() {
    // One font for every window of the page, kept for the process (the windows never outlive it).
    static HFONT font = VNLUtilityApp::GetFont(15, false, L"Arial");
    return font != nullptr ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// The toolbar's buttons left to right, the status line after them to the right edge, the list below.
void Layout(ListView& view) {
    RECT client = {};
    GetClientRect(view.page, &client);
    int x = kButtonLeftPixels;
    for (HWND button = GetWindow(view.page, GW_CHILD); button != nullptr; button = GetWindow(button, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(button);
        if (id < kFirstButtonId) continue;
        const std::wstring caption = kFeature.actions[id - kFirstButtonId].caption;
        HDC dc = GetDC(button);
        HGDIOBJ old = SelectObject(dc, PageFont());
        SIZE extent = {};
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(button, dc);
        const int width = extent.cx + kButtonMarginPixels;
        MoveWindow(button, x, kButtonTopPixels, width, kButtonHeightPixels, TRUE);
        x += width + kButtonGapPixels;
    }
    MoveWindow(view.status, x, kButtonTopPixels + 3, std::max<int>(0, client.right - x - kButtonLeftPixels),
               kButtonHeightPixels - 3, TRUE);
    MoveWindow(view.list, 1, kToolbarPixels + 1, std::max<int>(0, client.right - 2),
               std::max<int>(0, client.bottom - kToolbarPixels - 1), TRUE);
}

void SetStatus(ListView& view, const std::wstring& text) {
    const std::wstring& shown = text.empty() ? view.title : text;
    SetWindowTextW(view.status, shown.c_str());
    SetWindowTextW(view.page, shown.c_str());
}

// The checked rows with a key, in row order.
std::vector<size_t> CheckedRows(const ListView& view) {
    std::vector<size_t> checked;
    const int rows = static_cast<int>(SendMessageW(view.list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        if (ListView_GetCheckState(view.list, row) && !RowKey(view, row).empty()) checked.push_back(row);
    }
    return checked;
}

// Sends the page's request `code` with `items` (a list the host takes over; null or empty: none) in `data`.
template <typename Item>
void SendRequest(ListView& view, int64_t code, std::unique_ptr<std::vector<Item>> items) {
    CommandMessage message{};
    message.code = code;
    message.window = view.page;
    message.count = items ? static_cast<int64_t>(items->size()) : 0;
    if (items && !items->empty()) message.data = items.release();
    SetStatus(view, L"");
    standin_pages::Invoke(g_record, kFeature.reply, message);
}

// The name an exported file is given (the device file's extension follows it): the row's first column,
// without that extension when it ends with it (a row named after its file).
std::wstring ExportName(const std::wstring& name, const std::wstring& devicePath) {
    const size_t dot = devicePath.find_last_of(L'.');
    if (dot == std::wstring::npos || devicePath.find(L'/', dot) != std::wstring::npos) return name;
    const std::wstring extension = devicePath.substr(dot);
    if (name.size() <= extension.size() || _wcsicmp(name.c_str() + name.size() - extension.size(), extension.c_str())) {
        return name;
    }
    return name.substr(0, name.size() - extension.size());
}

// The request of the format chosen in the button's menu, below the button; 0 when none was chosen.
int64_t ChooseFromMenu(const PageAction& action, HWND button, HWND page) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return 0;
    for (size_t i = 0; i < std::size(action.menu) && action.menu[i].text != nullptr; ++i) {
        AppendMenuW(menu, MF_STRING, i + 1, action.menu[i].text);
    }
    RECT place = {};
    GetWindowRect(button, &place);
    const int chosen = static_cast<int>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, place.left, place.bottom, 0, page, nullptr));
    DestroyMenu(menu);
    return chosen > 0 ? action.menu[chosen - 1].code : 0;
}

// Shows `shown` in the place of `hidden` (a pair of RowsOpen views).
void ShowInstead(ListView& shown, ListView& hidden) {
    ShowWindow(shown.page, SW_SHOW);
    BringWindowToTop(shown.page);
    ShowWindow(hidden.page, SW_HIDE);
}

// Row `row` of a RowsOpen `from` view opened: its records, which the page asks for, show in the view it opens into.
void OpenRow(ListView& view, int row) {
    const std::wstring key = row >= 0 ? RowKey(view, static_cast<size_t>(row)) : std::wstring();
    if (key.empty() || view.partner == nullptr) return;
    ListView& into = *view.partner;
    Clear(into);
    into.ended = true;
    into.title = view.records[static_cast<size_t>(row)]->fields[0];
    SetStatus(into, L"");
    ShowInstead(into, view);
    CommandMessage message{};
    message.code = kFeature.opens.openCode;
    message.status = kFeature.opens.from;
    message.window = view.page;
    message.data = const_cast<wchar_t*>(key.c_str());  // lent for the call
    standin_pages::Invoke(g_record, kFeature.reply, message);
}

void OnAction(ListView& view, const PageAction& action, HWND button) {
    if (kFeature.opens.openCode != 0 && action.code == kFeature.opens.backCode && view.partner != nullptr) {
        ShowInstead(*view.partner, view);  // the request lists what shows again
    }
    if (action.menu[0].text != nullptr) {
        const int64_t code = ChooseFromMenu(action, button, view.page);
        if (code != 0) SendRequest(view, code, std::unique_ptr<std::vector<std::wstring>>());
        return;
    }
    const std::vector<size_t> rows = CheckedRows(view);
    if (action.checked == Checked::Pairs) {
        auto pairs = std::make_unique<std::vector<WideStringPair>>();
        for (size_t row : rows) {
            const std::wstring key = RowKey(view, row);
            pairs->emplace_back(ExportName(view.records[row]->fields[0], key), key);
        }
        return SendRequest(view, action.code, std::move(pairs));
    }
    auto keys = std::make_unique<std::vector<std::wstring>>();
    if (action.checked == Checked::Keys) {
        for (size_t row : rows) keys->push_back(RowKey(view, row));
    }
    SendRequest(view, action.code, std::move(keys));
}

void OnDrop(ListView& view, HDROP drop) {
    const unsigned count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    auto paths = std::make_unique<std::vector<std::wstring>>(pages::CollectDroppedPaths(
        count, [drop](unsigned index, wchar_t* buffer, unsigned size) { return DragQueryFileW(drop, index, buffer, size); }));
    DragFinish(drop);
    if (!paths->empty()) SendRequest(view, kFeature.dropCode, std::move(paths));
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<ListView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    try {
        switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (view != nullptr && HIWORD(wParam) == BN_CLICKED && id >= kFirstButtonId &&
                id < kFirstButtonId + static_cast<int>(std::size(kFeature.actions)) &&
                kFeature.actions[id - kFirstButtonId].caption != nullptr) {
                OnAction(*view, kFeature.actions[id - kFirstButtonId], reinterpret_cast<HWND>(lParam));
                return 0;
            }
            break;
        }
        case WM_NOTIFY: {
            // A double-click (or Enter) on a row of a view whose rows open.
            const auto* notice = reinterpret_cast<const NMHDR*>(lParam);
            if (view != nullptr && notice->code == LVN_ITEMACTIVATE && notice->hwndFrom == view->list &&
                kFeature.opens.openCode != 0 && view->id == kFeature.opens.from) {
                OpenRow(*view, reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
                return 0;
            }
            break;
        }
        case WM_DROPFILES:
            if (view != nullptr && kFeature.dropCode != 0) {
                OnDrop(*view, reinterpret_cast<HDROP>(wParam));
            } else {
                DragFinish(reinterpret_cast<HDROP>(wParam));
            }
            return 0;
        case WM_SIZE:
            if (view != nullptr) Layout(*view);
            return 0;
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client = {};
            GetClientRect(window, &client);
            FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
            RECT rule = {0, kToolbarPixels, client.right, kToolbarPixels + 1};
            HBRUSH line = CreateSolidBrush(RGB(0xAB, 0xAB, 0xAB));
            FillRect(dc, &rule, line);
            DeleteObject(line);
            EndPaint(window, &paint);
            return 0;
        }
        default: break;
        }
    } catch (...) {
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, HWND parent, int id) {
    HWND child = CreateWindowExW(0, windowClass, text, WS_CHILD | style, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
    if (child != nullptr) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(PageFont()), FALSE);
    return child;
}

// Makes the (hidden) page window of view `viewId` for `device` in `parent`; null when it cannot.
ListView* MakeView(const std::wstring& device, int64_t viewId, HWND parent, const RECT& rect) {
    const PageView* shape = FindPageView(viewId);
    if (shape == nullptr) return nullptr;
    HWND page = CreateWindowExW(0, kPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, ThisModule(), nullptr);
    if (page == nullptr) return nullptr;
    HWND list = MakeChild(WC_LISTVIEWW, L"",
                          WS_VISIBLE | WS_CLIPSIBLINGS | LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS,
                          page, 1);
    if (list == nullptr) {
        DestroyWindow(page);
        return nullptr;
    }
    HWND note = MakeChild(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, list, 0);
    // No double buffering: under it the list leaves the rows between its header and its first row unpainted,
    // and the page shown before shows through there.
    DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_LABELTIP;
    if (kFeature.keyField != kNoKey) extended |= LVS_EX_CHECKBOXES;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, extended);
    ListView& view = (*g_views)[{device, viewId}];
    view.id = viewId;
    view.page = page;
    view.list = list;
    view.note = note;
    view.table = &shape->table;
    view.status = MakeChild(L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, page, 2);
    const bool actions = kFeature.actionView == kAnyView || kFeature.actionView == viewId;
    for (size_t i = 0; actions && i < std::size(kFeature.actions) && kFeature.actions[i].caption != nullptr; ++i) {
        if (kFeature.actions[i].view != kAnyView && kFeature.actions[i].view != viewId) continue;
        MakeChild(L"BUTTON", kFeature.actions[i].caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, page,
                  kFirstButtonId + static_cast<int>(i));
    }
    if (kFeature.dropCode != 0) DragAcceptFiles(page, TRUE);
    if (kFeature.iconCode != 0 && !shape->withoutIcons) {
        // Rows are made before their icons arrive: image 0, which every row starts with, is blank.
        const int side = kFeature.iconPixels;
        view.icons = ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 8, 8);
        HICON blank = nullptr;
        Gdiplus::Bitmap empty(side, side, PixelFormat32bppARGB);
        if (empty.GetHICON(&blank) == Gdiplus::Ok && blank != nullptr) {
            ImageList_AddIcon(view.icons, blank);
            DestroyIcon(blank);
        }
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(view.icons));
    }
    SetWindowLongPtrW(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&view));
    AddColumns(view);
    Layout(view);
    standin_pages::OpenDetailsOnDoubleClick(list, &RecordOfRow);
    return &view;
}

void Show(CommandMessage& message) {
    const int64_t viewId = kFeature.viewInCode ? message.code : kSingleView;
    if (ListView* view = FindView(message, viewId)) {
        if (message.data == nullptr) {
            // The host hides the container's children first: only the chosen view shows.
            ShowWindow(view->page, SW_SHOW);
            BringWindowToTop(view->page);
            message.window = view->page;
        }
        return;
    }
    if (message.data == nullptr || message.wideText == nullptr || message.window == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    ListView* view = MakeView(message.wideText, viewId, message.window, rect);
    // The view that its rows open into is the page's own: it is made with the view it takes the place of.
    if (view != nullptr && kFeature.opens.openCode != 0 && viewId == kFeature.opens.from) {
        if (ListView* into = MakeView(message.wideText, kFeature.opens.into, message.window, rect)) {
            view->partner = into;
            into->partner = view;
        }
    }
}

void Move(const CommandMessage& message) {
    ListView* view = FindView(message, kFeature.viewInCode ? message.code : kSingleView);
    if (view == nullptr || message.data == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    MoveWindow(view->page, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    if (view->partner != nullptr && view->id == kFeature.opens.from) {
        MoveWindow(view->partner->page, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    }
}

// An icon of the list's icon size from `picture` (a PNG or JPEG, its bytes one a character), the picture
// fitted into it whole and centred; null when it does not decode.
HICON IconFromPicture(const std::wstring& picture) {
    std::string bytes(picture.size(), '\0');
    for (size_t i = 0; i < picture.size(); ++i) bytes[i] = static_cast<char>(picture[i] & 0xFF);
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    if (stream == nullptr) return nullptr;
    HICON icon = nullptr;
    {
        Gdiplus::Bitmap image(stream);
        const int side = kFeature.iconPixels;
        const int width = static_cast<int>(image.GetWidth());
        const int height = static_cast<int>(image.GetHeight());
        if (image.GetLastStatus() == Gdiplus::Ok && width > 0 && height > 0) {
            const int drawnWidth = width >= height ? side : std::max(1, side * width / height);
            const int drawnHeight = height >= width ? side : std::max(1, side * height / width);
            Gdiplus::Bitmap small(side, side, PixelFormat32bppARGB);
            Gdiplus::Graphics graphics(&small);
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            graphics.DrawImage(&image, (side - drawnWidth) / 2, (side - drawnHeight) / 2, drawnWidth, drawnHeight);
            small.GetHICON(&icon);
        }
    }
    stream->Release();
    return icon;
}

// The icons of an answer's rows (key, picture) on the rows of those keys, in every view of `device` that
// shows icons. A key's icon is kept for the rows of later listings, and a newer one takes its place.
void ShowIcons(const std::wstring& device, const ItemBatch<TextItem>& batch) {
    for (const auto& item : batch.items) {
        if (item == nullptr || item->fields.size() < 2) continue;
        const std::wstring& key = item->fields[0];
        HICON icon = nullptr;
        for (auto& entry : *g_views) {
            ListView& view = entry.second;
            auto row = view.rowOfKey.find(key);
            if (entry.first.first != device || view.icons == nullptr || row == view.rowOfKey.end()) continue;
            if (icon == nullptr) icon = IconFromPicture(item->fields[1]);
            if (icon == nullptr) break;
            auto known = view.iconOfKey.find(key);
            const int image = known != view.iconOfKey.end() ? ImageList_ReplaceIcon(view.icons, known->second, icon)
                                                            : ImageList_AddIcon(view.icons, icon);
            if (image < 0) continue;
            view.iconOfKey[key] = image;
            SetRowIcon(view, row->second, image);
        }
        if (icon != nullptr) DestroyIcon(icon);
    }
}

bool IsOutcomeCode(int64_t code) {
    return std::find(std::begin(kFeature.outcomeCodes), std::end(kFeature.outcomeCodes), code) !=
           std::end(kFeature.outcomeCodes) && code != 0;
}

// The view an answer is for: the one it names, or the one that view's rows open into.
int64_t AnswerView(const CommandMessage& message) {
    const int64_t viewId = kFeature.answerView == kViewInStatus ? message.status : kFeature.answerView;
    const RowsOpen& opens = kFeature.opens;
    return opens.openCode != 0 && viewId == opens.from && message.value4 == opens.listing ? opens.into : viewId;
}

void Reply(const CommandMessage& message) {
    const int64_t code = message.code;
    const bool icons = kFeature.iconCode != 0 && code == kFeature.iconCode;
    ListView* view = IsListCode(code) || IsOutcomeCode(code) ? FindView(message, AnswerView(message)) : nullptr;
    const auto* batch = static_cast<const ItemBatch<TextItem>*>(message.extra);
    if (icons) {
        if (batch != nullptr && message.wideText != nullptr) ShowIcons(message.wideText, *batch);
    } else if (view != nullptr && IsOutcomeCode(code)) {
        // The relay's words for how the action ended.
        if (batch != nullptr && !batch->items.empty() && batch->items[0] != nullptr &&
            !batch->items[0]->fields.empty()) {
            SetStatus(*view, batch->items[0]->fields[0]);
        }
    } else if (view != nullptr) {
        if (batch != nullptr) {
            if (view->ended || batch->sequence != view->sequence) Clear(*view);
            view->ended = false;
            view->sequence = batch->sequence;
            AddRows(*view, *batch);
        } else {
            if (view->ended) Clear(*view);
            if (SendMessageW(view->list, LVM_GETITEMCOUNT, 0, 0) == 0) {
                SetNote(*view, message.value2 != 0 ? standin_pages::UnavailableText(message.value2)
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
    WNDCLASSEXW page = {};
    page.cbSize = sizeof(page);
    page.lpfnWndProc = &PageProc;
    page.hInstance = ThisModule();
    page.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    page.lpszClassName = kPageClass;
    RegisterClassExW(&page);
    g_record = record;
    g_views = new std::map<std::pair<std::wstring, int64_t>, ListView>();
    standin_pages::RegisterNames(record, &Receive, {kFeature.show, kFeature.size, kFeature.reply});
}
