// The bookmarks page; see DhBookmarkDelegate.h.
#include "DhBookmarkDelegate.h"

#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <vornel/VNLUtilityApp.h>
#include <wtl/window_text.h>

#include "guid_text.h"
#include "list_sort.h"
#include "theme_colour.h"
#include "wide_pair.h"

namespace {

const NoticeTexts kNotice = {
    L"iCloud Bookmarks is turned on in your device, Trevane cannot fully load your Bookmarks. Please turn it off "
    L"and then view information on Trevane.",
    L"How to Turn Off iCloud?",
    {L"1. Open \"Settings\" on your Device", L"2. Settings - iCloud - Safari - Off", L"3. Keep on My iPhone"}};
constexpr int kMenuEdit = 13;
constexpr int kMenuRootFolder = 14;
constexpr int kMenuRootPage = 15;

// A new identifier: a GUID as text (empty when the system has none to give).
std::wstring NewGuidText() {
    const std::string text = pages::NewGuidText();
    return std::wstring(text.begin(), text.end());
}

// The tree text: the name with its tabs as blanks, a tab, the URL.
std::wstring ItemText(const BookmarkItem& entry) {
    std::wstring name = entry.name;
    std::replace(name.begin(), name.end(), L'\t', L' ');
    return name + L"\t" + entry.url;
}

}  // namespace

// ---- Creation and layout ---------------------------------------------------------------------------------

LRESULT DhBookmarkDelegate::OnCreate(CREATESTRUCTW*) {
    CreatePageLook(m_hWnd);
    m_boldFont.Reset(VNLUtilityApp::GetFont(18, true, L"Arial"));
    m_tree.SetImages(Image("bookmarks\\content-bookmarks-folder.png"), Image("bookmarks\\content-bookmarks-file.png"),
                     Image("common\\content-check-yes.png"), Image("common\\content-check-no.png"));
    const RECT none = {0, 0, 10, 10};
    if (m_tree.Create(m_hWnd, none, L"", WS_CHILD | WS_VISIBLE, 0,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTreeViewId))) == nullptr) {
        return -1;
    }
    SendMessageW(TreeWindow(), WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont.get()), FALSE);
    SendMessageW(m_tree.Header(), WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont.get()), FALSE);
    SendMessageW(TreeWindow(), TVM_SETITEMHEIGHT, 32, 0);
    int index = 0;
    for (const wchar_t* caption : {L"Name", L"Url"}) {
        HDITEMW item = {};
        item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
        item.pszText = const_cast<wchar_t*>(caption);
        item.cxy = 300;
        item.fmt = HDF_CENTER | HDF_STRING;
        SendMessageW(m_tree.Header(), HDM_INSERTITEMW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&item));
    }
    m_tree.UpdateColumns();
    MakeToolbar({{&m_new, kNewId, L"New", "common\\operate-add"},
                 {&m_edit, kEditId, L"Edit", "common\\edit"},
                 {&m_export, kExportId, L"Export", "common\\operate-export"},
                 {&m_import, kImportId, L"Import", "common\\operate-import"},
                 {&m_delete, kDeleteId, L"Delete", "common\\operate-delete"},
                 {&m_refresh, kRefreshId, L"Refresh", "common\\operate-refresh"}});
    CreateSearchBox(kSearchEditId, kSearchButtonId);
    m_notice.Create(m_hWnd, kContinueId, kNotice, Image("bookmarks\\content-bookmarks-icloud.png"), m_textFont.get(),
                    m_boldFont.get(), ThemeColour("color:1", RGB(0x3A, 0x8E, 0xE6)),
                    ThemeColour("color:12", RGB(0x6A, 0xAE, 0xF0)));
    DragAcceptFiles(m_hWnd, TRUE);
    SetFocus(m_searchEdit);
    return 0;
}

void DhBookmarkDelegate::LayOut() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    if (m_notice.Shown()) {
        m_notice.LayOut(client);
    } else {
        SetWindowPos(m_tree, nullptr, 1, kToolbarHeight + 1, client.right - 2, client.bottom - kToolbarHeight - 1,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        // Half the width each, less the tree's vertical scroll bar.
        RECT tree = {};
        GetClientRect(m_tree, &tree);
        const int half = std::max(0, (static_cast<int>(tree.right) - GetSystemMetrics(SM_CXVSCROLL)) / 2);
        for (int column = 0; column < 2; ++column) {
            HDITEMW item = {};
            item.mask = HDI_WIDTH;
            item.cxy = half;
            SendMessageW(m_tree.Header(), HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        }
        m_tree.UpdateColumns();
        PlaceSearchBox(client.right);
        PlaceToolbar(10);
    }
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void DhBookmarkDelegate::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    if (m_notice.Shown()) {
        m_notice.Paint(memory.get(), client);
    } else {
        PaintToolbarBand(memory.get(), client);
    }
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}

void DhBookmarkDelegate::ShowNotice(bool show) {
    std::vector<HWND> controls = {m_tree,   m_new,     m_edit,       m_export,      m_import,
                                  m_delete, m_refresh, m_searchEdit, m_searchButton};
    for (HWND line : m_frameLines) controls.push_back(line);
    if (!m_notice.Show(show, controls)) return;
    LayOut();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// ---- The tree ----------------------------------------------------------------------------------------

BookmarkItem* DhBookmarkDelegate::EntryOf(HTREEITEM item) const {
    const ColumnTreeItem* data = CColumnTreeView::ItemData(TreeWindow(), item);
    return data != nullptr ? static_cast<BookmarkItem*>(data->record) : nullptr;
}

const std::wstring* DhBookmarkDelegate::IdentifierOf(HTREEITEM item) const {
    const BookmarkItem* entry = EntryOf(item);
    return entry != nullptr ? &entry->identifier : nullptr;
}

dunmar::KeptTreeState DhBookmarkDelegate::KeptState() const {
    dunmar::KeptTreeState kept;
    ColumnTreeNodes nodes{TreeWindow()};
    dunmar::CollectOpen(
        nodes, nodes.FirstChild(nullptr), [this](HTREEITEM item) { return IdentifierOf(item); }, kept.open);
    auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(TreeWindow(), TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (const std::wstring* identifier = IdentifierOf(selected)) kept.selected = *identifier;
    return kept;
}

HTREEITEM DhBookmarkDelegate::InsertEntry(HTREEITEM parent, BookmarkItem& entry, bool withChildren) {
    auto* data = new ColumnTreeItem{0, &entry, dunmar::IsFolder(entry) ? 1 : 0};  // the view's once inserted
    HTREEITEM item = m_tree.InsertItem(parent, ItemText(entry), data);
    if (item == nullptr || !withChildren) return item;
    for (const dunmar::EntryPtr& child : entry.children) {
        if (child) InsertEntry(item, *child, true);
    }
    return item;
}

void DhBookmarkDelegate::DeleteAllItems() {
    SendMessageW(TreeWindow(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    m_lastClickedRow = -1;
}

void DhBookmarkDelegate::OnLoaded(ItemBatch<BookmarkItem>* batch) {
    std::unique_ptr<ItemBatch<BookmarkItem>> owner(batch);
    if (!owner) return;
    // A newer listing rebuilds the tree (after every add, edit or import): the folders the user had open
    // and the selected entry are read first, while the items and their records still stand, and each
    // batch of the rebuild restores them on its own items. Items go before the records they point at.
    if (owner->sequence > m_model.Sequence()) {
        // After a Refresh the tree is empty already and `m_kept` holds what it showed.
        if (SendMessageW(TreeWindow(), TVM_GETCOUNT, 0, 0) > 0) m_kept = KeptState();
        DeleteAllItems();
    }
    bool cleared = false;
    if (!m_model.Accept(*owner, cleared)) return;
    HTREEITEM batchFirst = nullptr;
    for (const dunmar::EntryPtr& entry : owner->items) {
        HTREEITEM item = entry ? InsertEntry(nullptr, *entry, true) : nullptr;
        if (batchFirst == nullptr) batchFirst = item;
    }
    ColumnTreeNodes nodes{TreeWindow()};
    if (HTREEITEM kept = dunmar::Reopen(
            nodes, batchFirst, [this](HTREEITEM item) { return IdentifierOf(item); }, m_kept)) {
        SendMessageW(TreeWindow(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(kept));
    } else if (SendMessageW(TreeWindow(), TVM_GETNEXTITEM, TVGN_CARET, 0) == 0) {
        const LRESULT first = SendMessageW(TreeWindow(), TVM_GETNEXTITEM, TVGN_ROOT, 0);
        if (first != 0) {
            SendMessageW(TreeWindow(), TVM_SELECTITEM, TVGN_CARET, first);
            m_lastClickedRow = 0;
        }
    }
}

void DhBookmarkDelegate::OnRemoved(wchar_t* identifier) {
    std::unique_ptr<wchar_t, decltype(&std::free)> owner(identifier, &std::free);
    if (!owner) return;
    const dunmar::EntryPtr removed = m_model.Remove(owner.get());
    if (!removed) return;
    // Every item that shows the entry or one of its descendants goes, wherever it stands: a search shows
    // nested entries as roots of their own. The records stay alive through `removed` until then.
    const std::set<const BookmarkItem*> gone = dunmar::SubtreeOf(*removed);
    ColumnTreeNodes nodes{TreeWindow()};
    std::vector<HTREEITEM> doomed;
    std::vector<HTREEITEM> pending = {nodes.FirstChild(nullptr)};  // first items of sibling runs to visit
    while (!pending.empty()) {
        const HTREEITEM first = pending.back();
        pending.pop_back();
        for (HTREEITEM item = first; item != nullptr; item = nodes.NextSibling(item)) {
            if (gone.count(EntryOf(item)) != 0) {
                doomed.push_back(item);  // its subtree goes with it
            } else {
                pending.push_back(nodes.FirstChild(item));
            }
        }
    }
    for (HTREEITEM item : doomed) SendMessageW(TreeWindow(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
}

void DhBookmarkDelegate::RunSearch() {
    const std::wstring query =
        m_searchEdit.ShowsPlaceholder() ? std::wstring() : pages::FoldLower(wtl::WindowText(m_searchEdit));
    DeleteAllItems();
    if (query.empty()) {
        for (const dunmar::EntryPtr& entry : m_model.Entries()) {
            if (entry) InsertEntry(nullptr, *entry, true);
        }
        return;
    }
    for (BookmarkItem* entry : m_model.Search(query)) InsertEntry(nullptr, *entry, false);
}

// ---- Commands ----------------------------------------------------------------------------------------

void DhBookmarkDelegate::Send(CommandMessage& message, int64_t code) {
    message.code = code;
    message.window = m_hWnd;
    m_module.Send(message);
}

void DhBookmarkDelegate::OnCommand(UINT, int id, HWND control) {
    ReleaseToolbarButton(control);
    CommandMessage message{};
    switch (id) {
    case kRefreshId:
        m_kept = KeptState();  // the reloaded tree reopens what the user had open
        DeleteAllItems();
        m_model.ClearEntries();
        Send(message, sdk::bookmarks::kRequestLoad);
        break;
    case kContinueId: Send(message, sdk::bookmarks::kRequestLoad); break;
    case kDeleteId: OnDelete(); break;
    case kSearchButtonId: RunSearch(); break;
    case kEditId: {
        auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(TreeWindow(), TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (BookmarkItem* entry = EntryOf(selected)) AddOrEdit(kMenuEdit, entry);
        break;
    }
    case kExportId: OnExport(); break;
    case kImportId: OnImport(); break;
    case kNewId: OnAddMenu(); break;
    default: break;
    }
}

void DhBookmarkDelegate::OnDelete() {
    ColumnTreeNodes nodes{TreeWindow()};
    std::vector<HTREEITEM> taken;
    dunmar::CollectChecked(nodes, nodes.FirstChild(nullptr), true, taken);
    auto pairs = std::make_unique<std::vector<WideStringPair>>();
    for (HTREEITEM item : taken) {
        if (const BookmarkItem* entry = EntryOf(item)) pairs->emplace_back(entry->identifier, entry->kind);
    }
    CommandMessage message{};
    message.count = static_cast<int64_t>(pairs->size());
    message.data = pairs.release();
    Send(message, sdk::bookmarks::kRequestDelete);
}

void DhBookmarkDelegate::OnExport() {
    const int choice =
        TrackMenuBelow(m_export, {{static_cast<int>(sdk::bookmarks::kRequestExportHtml), L"Export to HTML"},
                                  {static_cast<int>(sdk::bookmarks::kRequestBackupXml), L"Backup to XML"}});
    if (choice == 0) return;
    ColumnTreeNodes nodes{TreeWindow()};
    std::vector<HTREEITEM> checked;
    dunmar::CollectChecked(nodes, nodes.FirstChild(nullptr), false, checked);
    auto entries = std::make_unique<std::vector<BookmarkItem*>>();
    for (HTREEITEM item : checked) {
        if (BookmarkItem* entry = EntryOf(item)) entries->push_back(entry);
    }
    CommandMessage message{};
    message.count = static_cast<int64_t>(entries->size());
    message.data = entries.release();
    Send(message, choice);
}

void DhBookmarkDelegate::OnImport() {
    if (TrackMenuBelow(m_import, {{static_cast<int>(sdk::bookmarks::kRequestImportXml), L"Import XML file"}}) !=
        sdk::bookmarks::kRequestImportXml) {
        return;
    }
    auto entries = std::make_unique<std::vector<BookmarkItem*>>();
    for (const dunmar::EntryPtr& entry : m_model.Entries()) entries->push_back(entry.get());
    CommandMessage message{};
    message.count = static_cast<int64_t>(entries->size());
    message.data = entries.release();
    Send(message, sdk::bookmarks::kRequestImportXml);
}

void DhBookmarkDelegate::OnAddMenu() {
    const int choice = TrackMenuBelow(m_new, {{static_cast<int>(sdk::bookmarks::kFolderDialog), L"Add folder"},
                                              {static_cast<int>(sdk::bookmarks::kPageDialog), L"Add page"},
                                              {0, nullptr},
                                              {kMenuRootFolder, L"Add root folder"},
                                              {kMenuRootPage, L"Add root page"}});
    if (choice == 0) return;
    if (choice == kMenuRootFolder || choice == kMenuRootPage) {
        AddOrEdit(choice == kMenuRootFolder ? static_cast<int>(sdk::bookmarks::kFolderDialog)
                                            : static_cast<int>(sdk::bookmarks::kPageDialog),
                  nullptr);
        return;
    }
    auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(TreeWindow(), TVM_GETNEXTITEM, TVGN_CARET, 0));
    AddOrEdit(choice, EntryOf(selected));
}

LRESULT DhBookmarkDelegate::OnContextMenu(WPARAM window, LPARAM point) {
    if (reinterpret_cast<HWND>(window) != m_tree.m_hWnd && reinterpret_cast<HWND>(window) != TreeWindow()) return 0;
    POINT screen = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    TVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(TreeWindow(), &hit.pt);
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(TreeWindow(), TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    BookmarkItem* entry = EntryOf(item);
    if (entry == nullptr) return 0;
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return 0;
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(sdk::bookmarks::kFolderDialog), L"Add folder...");
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(sdk::bookmarks::kPageDialog), L"Add page...");
    AppendMenuW(menu, MF_STRING, kMenuEdit, L"Edit...");
    RECT button = {};
    GetWindowRect(m_export, &button);
    const int choice =
        TrackPopupMenu(menu, TPM_RETURNCMD, screen.x, screen.y + (button.bottom - button.top), 0, m_hWnd, nullptr);
    DestroyMenu(menu);
    if (choice != 0) AddOrEdit(choice, entry);
    return 0;
}

void DhBookmarkDelegate::AddOrEdit(int code, BookmarkItem* target) {
    std::unique_ptr<BookmarkItem> entry;
    WideStringPair answer;
    int64_t dialog = code;
    if (code == kMenuEdit) {
        if (target == nullptr) return;
        entry = std::make_unique<BookmarkItem>();
        entry->identifier = target->identifier;
        entry->kind = target->kind;
        entry->position = target->position;
        entry->parent = target->parent;
        const bool folder = dunmar::IsFolder(*target);
        answer = WideStringPair(target->name, folder ? std::wstring() : target->url);
        dialog = folder ? sdk::bookmarks::kFolderDialog : sdk::bookmarks::kPageDialog;
    } else {
        const std::wstring identifier = NewGuidText();
        if (identifier.empty()) return;
        entry = dunmar::NewEntry(code, target, identifier);
    }
    CommandMessage message{};
    message.status = dialog;
    message.data = &answer;  // on this stack for the call; the host writes the user's answer into it
    Send(message, sdk::bookmarks::kRequestAskEntry);
    if (message.status == 0) return;
    entry->name = answer.first;
    entry->url = answer.second;
    CommandMessage save{};
    save.data = entry.release();  // the host's from here
    Send(save, sdk::bookmarks::kRequestSave);
}

LRESULT DhBookmarkDelegate::OnDropFiles(WPARAM drop, LPARAM) {
    DragFinish(reinterpret_cast<HDROP>(drop));  // the bookmarks page takes no files
    return 0;
}

LRESULT DhBookmarkDelegate::OnHostReply(WPARAM code, LPARAM payload) {
    switch (static_cast<int64_t>(code)) {
    case sdk::bookmarks::kReplyRemoved: OnRemoved(reinterpret_cast<wchar_t*>(payload)); break;
    case sdk::bookmarks::kReplyLoaded: OnLoaded(reinterpret_cast<ItemBatch<BookmarkItem>*>(payload)); break;
    case sdk::bookmarks::kReplyShowCloudNotice: ShowNotice(true); break;
    case sdk::bookmarks::kReplyHideCloudNotice: ShowNotice(false); break;
    default: break;
    }
    return 0;
}
