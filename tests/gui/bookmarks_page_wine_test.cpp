// The bookmarks page under Wine, driven through its plug-in's receiver: the column tree lists the entries
// it is given, checks go down to descendants and up through ancestors, Delete and Export send the checked
// entries, add and edit ask the host and save, a search lists matches flat, and an entry removed while a
// search is shown takes every item that shows it or its descendants along. Screenshot when TRV_PAGE_SHOTS
// names a folder.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CColumnTreeView.h"
#include "bookmark_model.h"
#include "command_names.h"
#include "feature_codes.h"
#include "note_codes.h"
#include "list_pages_harness.h"
#include "wide_pair.h"

using pages_test::PluginHost;
using pages_test::Reply;

namespace {

constexpr int kTreeView = 5007;

PluginHost& Bookmarks() {
    return pages_test::Plugin(L"Dunmar", DUNMAR_COMMAND_SHOW_WINDOW, DUNMAR_COMMAND_DO_BOOKMARK);
}

std::shared_ptr<BookmarkItem> Entry(const wchar_t* id, const wchar_t* name, const wchar_t* url = L"",
                                    std::vector<std::shared_ptr<BookmarkItem>> children = {}) {
    auto entry = std::make_shared<BookmarkItem>();
    entry->identifier = id;
    entry->name = name;
    entry->url = url;
    entry->kind = *url != L'\0' ? kBookmarkKind : kBookmarkFolderKind;
    entry->children = std::move(children);
    for (auto& child : entry->children) child->parent = {{L"identifier", id}};
    return entry;
}

ItemBatch<BookmarkItem>* Batch(int64_t sequence, std::vector<std::shared_ptr<BookmarkItem>> items) {
    auto* batch = new ItemBatch<BookmarkItem>();
    batch->sequence = sequence;
    batch->items = std::move(items);
    return batch;
}

HWND TreeOf(HWND page) { return GetDlgItem(GetDlgItem(page, kTreeView), CColumnTreeView::kTreeId); }
const CColumnTreeView& ViewOf(HWND page) {
    auto* window = static_cast<wtl::CWindowImpl<CColumnTreeView>*>(
        GetPropW(GetDlgItem(page, kTreeView), wtl::kWindowObjectProperty));
    return *static_cast<CColumnTreeView*>(window);
}

// Every item depth first, as "<depth dots><name column>" with its record.
struct Row {
    HTREEITEM item;
    std::wstring text;
    BookmarkItem* entry;
    bool checked;
};
void AddRows(HWND tree, HTREEITEM first, int depth, std::vector<Row>& rows) {
    ColumnTreeNodes nodes{tree};
    for (HTREEITEM item = first; item != nullptr; item = nodes.NextSibling(item)) {
        wchar_t buffer[512] = {};
        TVITEMW tv = {};
        tv.mask = TVIF_TEXT | TVIF_PARAM | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = buffer;
        tv.cchTextMax = 512;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        const auto* data = reinterpret_cast<ColumnTreeItem*>(tv.lParam);
        const std::wstring text = buffer;
        rows.push_back({item, std::wstring(static_cast<size_t>(depth), L'.') + text.substr(0, text.find(L'\t')),
                        data != nullptr ? static_cast<BookmarkItem*>(data->record) : nullptr,
                        data != nullptr && data->checked != 0});
        AddRows(tree, nodes.FirstChild(item), depth + 1, rows);
    }
}

std::vector<Row> Rows(HWND tree) {
    std::vector<Row> rows;
    AddRows(tree, ColumnTreeNodes{tree}.FirstChild(nullptr), 0, rows);
    return rows;
}

std::vector<std::wstring> Texts(HWND tree) {
    std::vector<std::wstring> texts;
    for (const Row& row : Rows(tree)) texts.push_back(row.text);
    return texts;
}

std::vector<std::wstring> CheckedTexts(HWND tree) {
    std::vector<std::wstring> texts;
    for (const Row& row : Rows(tree)) {
        if (row.checked) texts.push_back(row.text);
    }
    return texts;
}

// A click in the item's check box (the first pixels of its label).
void ClickBox(HWND tree, HTREEITEM item) {
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof(item));
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
    const LPARAM point = MAKELPARAM(rect.left + 6, (rect.top + rect.bottom) / 2);
    SendMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(tree, WM_LBUTTONUP, 0, point);
    ardena_test::Pump();
}

HTREEITEM ItemNamed(HWND tree, const std::wstring& text) {
    for (const Row& row : Rows(tree)) {
        if (row.text == text) return row.item;
    }
    return nullptr;
}

std::vector<std::shared_ptr<BookmarkItem>> Sample() {
    return {Entry(L"bar", L"Bar", L"",
                  {Entry(L"b1", L"Alpha", L"https://alpha.example/"), Entry(L"b2", L"Beta", L"https://beta.example/")}),
            Entry(L"work", L"Work", L"",
                  {Entry(L"deep", L"Deep", L"", {Entry(L"docs", L"Docs", L"https://docs.example/")})}),
            Entry(L"news", L"News", L"https://NEWS.example/")};
}

struct Seen {
    std::vector<WideStringPair> deleted;
    std::vector<std::wstring> exported;
    int64_t dialog = 0;
    WideStringPair asked;
    int64_t answer = 0;
    std::unique_ptr<BookmarkItem> saved;
};

void Handle(PluginHost& host, Seen& seen) {
    host.onSend = [&seen](CommandMessage& message) {
        switch (message.code) {
        case sdk::bookmarks::kRequestDelete: {
            std::unique_ptr<std::vector<WideStringPair>> pairs(static_cast<std::vector<WideStringPair>*>(message.data));
            seen.deleted = *pairs;
            break;
        }
        case sdk::bookmarks::kRequestExportHtml:
        case sdk::bookmarks::kRequestBackupXml: {
            std::unique_ptr<std::vector<BookmarkItem*>> entries(static_cast<std::vector<BookmarkItem*>*>(message.data));
            seen.exported.clear();
            for (BookmarkItem* entry : *entries) seen.exported.push_back(entry->name);
            break;
        }
        case sdk::bookmarks::kRequestAskEntry: {
            seen.dialog = message.status;
            auto* pair = static_cast<WideStringPair*>(message.data);
            seen.asked = *pair;
            if (seen.answer != 0) *pair = WideStringPair(L"Typed", L"https://typed.example/");
            message.status = seen.answer;
            break;
        }
        case sdk::bookmarks::kRequestSave: seen.saved.reset(static_cast<BookmarkItem*>(message.data)); break;
        default: break;
        }
    };
}

int ColumnWidth(HWND header, int column) {
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    return item.cxy;
}

RECT RectIn(HWND child, HWND parent) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT LabelOf(HWND tree, HTREEITEM item) {
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof(item));
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// The leftmost text pixel (dark) of `item`'s row at or right of `fromX`, in tree coordinates; -1 when none.
int FirstTextPixel(HWND tree, HTREEITEM item, int fromX) {
    RedrawWindow(tree, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const RECT label = LabelOf(tree, item);
    RECT client = {};
    GetClientRect(tree, &client);
    HDC dc = GetDC(tree);
    int found = -1;
    const int middle = (label.top + label.bottom) / 2;
    for (int x = std::max(fromX, 0); x < client.right && found < 0; ++x) {
        for (int y = middle - 5; y <= middle + 5 && found < 0; ++y) {
            const COLORREF pixel = GetPixel(dc, x, y);
            if (GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 3 * 100) found = x;
        }
    }
    ReleaseDC(tree, dc);
    return found;
}

// A press at `x` on the header, a move to `toX` and the release, as the mouse gives them.
void DragHeader(HWND header, int x, int toX) {
    RECT client = {};
    GetClientRect(header, &client);
    const int y = client.bottom / 2;
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((x + toX) / 2, y));
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(toX, y));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(toX, y));
    ardena_test::Pump();
}

int TextWidth(HWND tree, const std::wstring& text) {
    HDC dc = GetDC(tree);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(tree, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(tree, dc);
    return size.cx;
}

int ImageWidth(const char* key) {
    Gdiplus::Bitmap* image = FindImage(ardena_test::ThemeImages(), key);
    return image != nullptr ? static_cast<int>(image->GetWidth()) : 0;
}

}  // namespace

TEST(BookmarksPage, TheColumnTreeFollowsItsDividersScrollsAndFitsColumns) {
    PluginHost& host = Bookmarks();
    HWND page = pages_test::ShowPage(host, L"marks-4");
    ASSERT_NE(page, nullptr);
    HWND tree = TreeOf(page);
    const CColumnTreeView& view = ViewOf(page);
    HWND header = view.Header();
    Reply(host, L"marks-4", sdk::bookmarks::kReplyLoaded, Batch(1, Sample()));
    for (const wchar_t* folder : {L"Bar", L"Work", L".Deep"}) {
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(ItemNamed(tree, folder)));
    }
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(ItemNamed(tree, L"Bar")));
    ASSERT_EQ(Texts(tree),
              (std::vector<std::wstring>{L"Bar", L".Alpha", L".Beta", L"Work", L".Deep", L"..Docs", L"News"}));

    // The cells' indent follows the common controls' version.
    const dunmar::ColumnTreeMetrics metrics = dunmar::ColumnTreeMetricsFor(CommonControlsMajorVersion(), 0);
    RECT headerRect = {};
    GetClientRect(header, &headerRect);
    const int headerHeight = headerRect.bottom;

    // Dragging the first divider 50 pixels right moves every row's further column along and widens the
    // scroll range by as much.
    const int name = ColumnWidth(header, 0);
    const int url = ColumnWidth(header, 1);
    HTREEITEM news = ItemNamed(tree, L"News");
    const int urlTextBefore = FirstTextPixel(tree, news, name);
    ASSERT_GE(urlTextBefore, name + metrics.textIndent);
    DragHeader(header, name, name + 50);
    EXPECT_EQ(ColumnWidth(header, 0), name + 50);
    EXPECT_EQ(view.TotalWidth(), name + 50 + url);
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(GetParent(header), SB_HORZ, &info);
    EXPECT_EQ(info.nMax, name + 50 + url);
    EXPECT_EQ(FirstTextPixel(tree, news, name), urlTextBefore + 50);
    pages_test::SaveShot(page, "bookmarks-page-divider");

    // Wider than the view now: header and tree scroll together, by lines, pages, the thumb and the ends;
    // at the right end the last column's last pixel is the view's last.
    RECT client = {};
    GetClientRect(GetParent(header), &client);
    const int highest = view.TotalWidth() - client.right;
    ASSERT_GT(highest, 0);
    struct Step {
        WPARAM command;
        int expected;
    };
    const Step steps[] = {
        {SB_RIGHT, highest},
        {SB_LINELEFT, std::max(0, highest - 15)},
        {SB_LEFT, 0},
        {SB_LINERIGHT, std::min(15, highest)},
        {SB_PAGELEFT, 0},
        {MAKEWPARAM(SB_THUMBTRACK, std::min(20, highest)), std::min(20, highest)},
        {SB_PAGERIGHT, highest},
        {SB_LINERIGHT, highest},
    };
    for (const Step& step : steps) {
        SendMessageW(GetParent(header), WM_HSCROLL, step.command, 0);
        EXPECT_EQ(view.ScrollPosition(), step.expected) << LOWORD(step.command);
        EXPECT_EQ(RectIn(header, GetParent(header)).left, -step.expected) << LOWORD(step.command);
        EXPECT_EQ(RectIn(tree, GetParent(tree)).left, -step.expected) << LOWORD(step.command);
    }
    SendMessageW(GetParent(header), WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(RectIn(header, GetParent(header)).left + view.TotalWidth(), client.right);
    pages_test::SaveShot(page, "bookmarks-page-scrolled");

    // A double-click on the second divider (scrolled into view) fits the URL column to the widest shown URL.
    int widestUrl = 0;
    for (const Row& row : Rows(tree)) {
        widestUrl = std::max(widestUrl, row.entry != nullptr ? TextWidth(tree, row.entry->url) : 0);
    }
    SendMessageW(header, WM_LBUTTONDBLCLK, MK_LBUTTON,
                 MAKELPARAM(ColumnWidth(header, 0) + ColumnWidth(header, 1) - 1, headerHeight / 2));
    ardena_test::Pump();
    EXPECT_EQ(ColumnWidth(header, 1), widestUrl + metrics.textIndent + 20);
    SendMessageW(GetParent(header), WM_HSCROLL, SB_LEFT, 0);
    // On the first divider, the name column: every shown name, however deep, is drawn whole, with no more
    // room to spare than the margin and one indent.
    SendMessageW(header, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(ColumnWidth(header, 0), headerHeight / 2));
    ardena_test::Pump();
    const int fitted = ColumnWidth(header, 0);
    EXPECT_EQ(view.TotalWidth(), fitted + ColumnWidth(header, 1));
    const int box = ImageWidth("common\\content-check-yes.png");
    int widestEnd = 0;
    for (const Row& row : Rows(tree)) {
        const int picture = ImageWidth(dunmar::IsFolder(*row.entry) ? "bookmarks\\content-bookmarks-folder.png"
                                                                    : "bookmarks\\content-bookmarks-file.png");
        const int end = LabelOf(tree, row.item).left + box + picture + 12 + TextWidth(tree, row.entry->name);
        EXPECT_LE(end, fitted - 2) << row.text;
        widestEnd = std::max(widestEnd, end);
    }
    const int indent = static_cast<int>(SendMessageW(tree, TVM_GETINDENT, 0, 0));
    EXPECT_LE(fitted - widestEnd, 20 + indent);
    pages_test::SaveShot(page, "bookmarks-page-fitted");
}

TEST(BookmarksPage, TheTreeListsEntriesAndChecksPropagate) {
    PluginHost& host = Bookmarks();
    Seen seen;
    Handle(host, seen);
    HWND page = pages_test::ShowPage(host, L"marks-1");
    ASSERT_NE(page, nullptr);
    HWND tree = TreeOf(page);
    Reply(host, L"marks-1", sdk::bookmarks::kReplyLoaded, Batch(1, Sample()));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(ItemNamed(tree, L"Bar")));
    EXPECT_EQ(Texts(tree),
              (std::vector<std::wstring>{L"Bar", L".Alpha", L".Beta", L"Work", L".Deep", L"..Docs", L"News"}));
    ClickBox(tree, ItemNamed(tree, L"Work"));
    EXPECT_EQ(CheckedTexts(tree), (std::vector<std::wstring>{L"Work", L".Deep", L"..Docs"})) << "down to all";
    ClickBox(tree, ItemNamed(tree, L"..Docs"));
    EXPECT_TRUE(CheckedTexts(tree).empty()) << "an uncheck goes up through the checked ancestors";
    ClickBox(tree, ItemNamed(tree, L"Bar"));
    ClickBox(tree, ItemNamed(tree, L"News"));

    ardena_test::Press(GetDlgItem(page, 5001));  // Delete: a checked folder stands for its subtree
    EXPECT_EQ(seen.deleted, (std::vector<WideStringPair>{{L"bar", kBookmarkFolderKind}, {L"news", kBookmarkKind}}));
    pages_test::PressAndChoose(GetDlgItem(page, 5005), 0);  // Export to HTML: every checked entry
    EXPECT_EQ(seen.exported, (std::vector<std::wstring>{L"Bar", L"Alpha", L"Beta", L"News"}));
    EXPECT_EQ(host.codes.back(), sdk::bookmarks::kRequestExportHtml);
    pages_test::SaveShot(page, "bookmarks-page");

    // Refresh empties the tree at once; the reloaded one reopens the open folder and the selection.
    SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(ItemNamed(tree, L"Work")));
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(ItemNamed(tree, L".Beta")));
    ardena_test::Press(GetDlgItem(page, 5000));
    EXPECT_EQ(host.codes.back(), sdk::bookmarks::kRequestLoad);
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 0);
    Reply(host, L"marks-1", sdk::bookmarks::kReplyLoaded, Batch(2, Sample()));
    auto expanded = [tree](const wchar_t* name) {
        const LRESULT state =
            SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(ItemNamed(tree, name)), TVIS_EXPANDED);
        return (state & TVIS_EXPANDED) != 0;
    };
    EXPECT_TRUE(expanded(L"Bar"));
    EXPECT_FALSE(expanded(L"Work"));
    const auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    EXPECT_EQ(selected, ItemNamed(tree, L".Beta"));

    // The header's box follows the items: set by its click, cleared by a rebuild's unchecked items, set
    // again when the last root gets checked, cleared by any uncheck.
    const CColumnTreeView& view = ViewOf(page);
    SendMessageW(view.Header(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_TRUE(view.IsCheckAll());
    EXPECT_EQ(CheckedTexts(tree).size(), 7u);
    Reply(host, L"marks-1", sdk::bookmarks::kReplyLoaded, Batch(3, Sample()));
    EXPECT_FALSE(view.IsCheckAll());
    ClickBox(tree, ItemNamed(tree, L"Bar"));
    ClickBox(tree, ItemNamed(tree, L"Work"));
    EXPECT_FALSE(view.IsCheckAll());
    ClickBox(tree, ItemNamed(tree, L"News"));
    EXPECT_TRUE(view.IsCheckAll());
    ClickBox(tree, ItemNamed(tree, L"..Docs"));
    EXPECT_FALSE(view.IsCheckAll());
    host.onSend = nullptr;
}

TEST(BookmarksPage, AddAndEditAskTheHostAndSave) {
    PluginHost& host = Bookmarks();
    Seen seen;
    Handle(host, seen);
    HWND page = pages_test::ShowPage(host, L"marks-2");
    HWND tree = TreeOf(page);
    auto sample = Sample();
    sample[2]->position = 4;
    Reply(host, L"marks-2", sdk::bookmarks::kReplyLoaded, Batch(1, sample));

    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(ItemNamed(tree, L"News")));
    pages_test::PressAndChoose(GetDlgItem(page, 5009), 1);  // Add page, next to the selected page
    EXPECT_EQ(seen.dialog, sdk::bookmarks::kPageDialog);
    EXPECT_EQ(seen.asked, WideStringPair());
    EXPECT_EQ(seen.saved, nullptr) << "a cancelled dialog saves nothing";
    seen.answer = 1;
    pages_test::PressAndChoose(GetDlgItem(page, 5009), 1);
    ASSERT_NE(seen.saved, nullptr);
    EXPECT_EQ(seen.saved->position, 5);
    EXPECT_EQ(seen.saved->kind, kBookmarkKind);
    EXPECT_EQ(seen.saved->name, L"Typed");
    EXPECT_EQ(seen.saved->identifier.size(), 36u);

    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(ItemNamed(tree, L"Bar")));
    ardena_test::Press(GetDlgItem(page, 5004));  // Edit the folder
    EXPECT_EQ(seen.dialog, sdk::bookmarks::kFolderDialog);
    EXPECT_EQ(seen.asked, WideStringPair(L"Bar", L""));
    EXPECT_EQ(seen.saved->identifier, L"bar");
    host.onSend = nullptr;
}

TEST(BookmarksPage, SearchIsFlatAndARemovalDuringItLeavesNoDanglingItem) {
    PluginHost& host = Bookmarks();
    Seen seen;
    Handle(host, seen);
    HWND page = pages_test::ShowPage(host, L"marks-3");
    HWND tree = TreeOf(page);
    Reply(host, L"marks-3", sdk::bookmarks::kReplyLoaded, Batch(1, Sample()));
    SetWindowTextW(GetDlgItem(page, 5003), L"EXAMPLE");
    ardena_test::Press(GetDlgItem(page, 5002));
    EXPECT_EQ(Texts(tree), (std::vector<std::wstring>{L"Alpha", L"Beta", L"Docs", L"News"})) << "flat, by URL too";
    SetWindowTextW(GetDlgItem(page, 5003), L"d");
    ardena_test::Press(GetDlgItem(page, 5002));
    EXPECT_EQ(Texts(tree), (std::vector<std::wstring>{L"Deep", L"Docs"}));

    // The folder that holds both found entries goes while they are shown: its subtree's items go too.
    Reply(host, L"marks-3", sdk::bookmarks::kReplyRemoved, _wcsdup(L"work"));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 0);
    SetWindowTextW(GetDlgItem(page, 5003), L"");
    ardena_test::Press(GetDlgItem(page, 5002));
    EXPECT_EQ(Texts(tree), (std::vector<std::wstring>{L"Bar", L".Alpha", L".Beta", L"News"}));
    // A nested entry: its item goes, its folder stays; every remaining row still reaches a live record.
    SetWindowTextW(GetDlgItem(page, 5003), L"a");
    ardena_test::Press(GetDlgItem(page, 5002));
    Reply(host, L"marks-3", sdk::bookmarks::kReplyRemoved, _wcsdup(L"b1"));
    Reply(host, L"marks-3", sdk::bookmarks::kReplyRemoved, _wcsdup(L"unknown"));
    EXPECT_EQ(Texts(tree), (std::vector<std::wstring>{L"Bar", L"Beta", L"News"}));
    for (const Row& row : Rows(tree)) {
        ASSERT_NE(row.entry, nullptr);
        EXPECT_FALSE(row.entry->identifier.empty());
        ClickBox(tree, row.item);
        RedrawWindow(tree, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    pages_test::SaveShot(page, "bookmarks-page-search");
    Reply(host, L"marks-3", sdk::bookmarks::kReplyShowCloudNotice);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, kTreeView)));
    pages_test::SaveShot(page, "bookmarks-page-icloud");
    Reply(host, L"marks-3", sdk::bookmarks::kReplyHideCloudNotice);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, kTreeView)));
    host.onSend = nullptr;
}
