#pragma once
// DhListPage: the list page of one kind of record (notes, voice memos, ringtones) on the pages' base. The
// page holds the records the host sends (`m_held`, through shared pointers) and shows them, or the ones a
// search finds, as list rows whose item data is the record; a header click sorts the rows shown. Batches
// follow the sequence rule (page_sequence.h): an equal sequence appends, a higher one replaces what the page
// holds. Check marks stay with their records when rows are rewritten, so the checked rows that a request
// sends are the ones the user checked.
//
// A page class derives as `class Page : public DhListPage<Page, Item>`, declares its window class, and gives
// its columns, row texts, search and sort rules, toolbar and reply handling through the hooks below. The
// message map here is the page's unless the page chains its own in front of it. UI thread, except
// PageSequence() (see DhPageDelegate.h).

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>
#include <wtl/window_text.h>

#include "DhPageDelegate.h"
#include "host_messages.h"
#include "item_batch.h"
#include "list_sort.h"
#include "page_sequence.h"

template <class Page, class Item>
class DhListPage : public wtl::CWindowImpl<Page>, public DhPageDelegate {
public:
    static constexpr int kListId = 5007;
    static constexpr int kSearchEditId = 5003;
    static constexpr int kSearchButtonId = 5002;

    BEGIN_MSG_MAP(DhListPage)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_COMMAND(OnCommand)
    MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER_EX(WM_DROPFILES, OnDropFiles)
    MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReplyMessage)
    CHAIN_PAGE_MESSAGES()
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    int PageSequence() const override { return m_sequence.Current(); }
    HWND CreatePageWindow(HWND parent, const RECT& rect, DWORD style) override {
        return this->Create(parent, rect, L"", style, 0, nullptr);
    }
    void LayOut() override {
        LayOutList();
        InvalidateRect(m_page, nullptr, FALSE);
    }
    // What the page holds, for the plug-in's tests.
    const std::vector<std::shared_ptr<Item>>& Held() const { return m_held; }

protected:
    using ItemPtr = std::shared_ptr<Item>;

    explicit DhListPage(ImageCache* images) : DhPageDelegate(images) {}

    // ---- Hooks ----
    // Creates the list (CreateList) and the toolbar; false refuses the page.
    virtual bool CreateControls() = 0;
    // Column percentages of the list's usable width, check column first.
    virtual std::vector<int> ColumnPercents() const = 0;
    // The texts of columns 1 and up.
    virtual std::vector<std::wstring> RowTexts(const Item& item) const = 0;
    // True when the record matches `foldedQuery` (folded with towlower, not empty).
    virtual bool Matches(const Item& item, const std::wstring& foldedQuery) const = 0;
    // Sorts the shown rows' records by `column` (1 and up); a column that does not sort leaves them.
    virtual void SortRecords(std::vector<Item*>& records, int column, bool ascending) const = 0;
    // A toolbar or other command id that the base does not handle.
    virtual void OnPageCommand(int id) = 0;
    // A host reply; the page owns `payload`.
    virtual void OnHostReply(int64_t code, void* payload) = 0;
    // Paths dropped and confirmed in the drop menu (never empty).
    virtual void OnDroppedPaths(std::vector<std::wstring> paths) = 0;
    // Painting after the toolbar band (the list and the toolbar's controls paint themselves).
    virtual void PaintExtra(HDC, const RECT&) {}
    // The page's own layout: the list below the toolbar, the search box, the toolbar from x = 10.
    virtual void LayOutList() {
        RECT client = {};
        GetClientRect(m_page, &client);
        m_listRect = RECT{1, kToolbarHeight + 1, client.right - 1, client.bottom};
        SetWindowPos(m_list, nullptr, m_listRect.left, m_listRect.top, m_listRect.right - m_listRect.left,
                     m_listRect.bottom - m_listRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
        SetColumnWidths(ColumnPercents());
        PlaceSearchBox(client.right);
        PlaceToolbar(10);
    }

    // ---- Rows ----
    Item* RowRecord(int row) const { return reinterpret_cast<Item*>(m_list.GetItemData(row)); }
    void WriteRow(int row, Item* item) {
        m_list.SetItemData(row, reinterpret_cast<LPARAM>(item));
        std::vector<std::wstring> texts{L""};
        if (item != nullptr) {
            for (std::wstring& text : RowTexts(*item)) texts.push_back(std::move(text));
        }
        m_list.SetItemTexts(row, texts);
    }
    int InsertRow(int at, Item* item) {
        const int row = at < 0 ? m_list.AddItem({L""}) : m_list.InsertItem(at, {L""});
        if (row >= 0) WriteRow(row, item);
        return row;
    }
    std::vector<Item*> ShownRecords() const {
        std::vector<Item*> records;
        for (int row = 0; row < m_list.ItemCount(); ++row) records.push_back(RowRecord(row));
        return records;
    }
    // The records of the checked rows, in row order.
    std::vector<Item*> CheckedRecords() const {
        std::vector<Item*> records;
        for (int row : CheckedRows()) records.push_back(RowRecord(row));
        return records;
    }
    // Shows `records` in order, each row keeping the check mark its record had.
    void ShowRecords(const std::vector<Item*>& records) {
        std::set<const Item*> checked;
        for (Item* record : CheckedRecords()) checked.insert(record);
        SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
        while (m_list.ItemCount() > static_cast<int>(records.size())) m_list.DeleteItem(m_list.ItemCount() - 1);
        for (size_t i = 0; i < records.size(); ++i) {
            const int row = static_cast<int>(i);
            if (row < m_list.ItemCount()) {
                WriteRow(row, records[i]);
            } else {
                InsertRow(-1, records[i]);
            }
            m_list.SetChecked(row, checked.count(records[i]) != 0);
        }
        SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
        SetColumnWidths(ColumnPercents());
        InvalidateRect(m_list, nullptr, TRUE);
    }
    // Empties the list and what the page holds (a reload).
    void ClearAll() {
        m_list.DeleteAllItems();
        m_held.clear();
        m_lastClickedRow = -1;
    }

    // An items batch: dropped when older than the page's sequence, appended when equal, and replacing what
    // the page holds when newer. The batch is freed here.
    void AcceptBatch(ItemBatch<Item>* batch) {
        std::unique_ptr<ItemBatch<Item>> owner(batch);
        if (!owner) return;
        const pages::BatchVerdict verdict = m_sequence.Accept(owner->sequence);
        if (verdict == pages::BatchVerdict::Drop) return;
        if (verdict == pages::BatchVerdict::Replace) ClearAll();
        SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
        for (const ItemPtr& item : owner->items) {
            if (!item) continue;
            m_held.push_back(item);
            InsertRow(-1, item.get());
        }
        SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
        SetColumnWidths(ColumnPercents());
        InvalidateRect(m_list, nullptr, TRUE);
    }

    void RunSearch() override {
        const std::wstring query =
            m_searchEdit.ShowsPlaceholder() ? std::wstring() : pages::FoldLower(wtl::WindowText(m_searchEdit));
        std::vector<Item*> found;
        for (const ItemPtr& item : m_held) {
            if (query.empty() || Matches(*item, query)) found.push_back(item.get());
        }
        m_lastClickedRow = -1;
        ShowRecords(found);
    }

    std::vector<ItemPtr> m_held;
    pages::PageSequence m_sequence;

private:
    LRESULT OnCreate(CREATESTRUCTW*) {
        CreatePageLook(this->m_hWnd);
        if (!CreateControls()) return -1;
        CreateSearchBox(kSearchEditId, kSearchButtonId);
        DragAcceptFiles(m_page, TRUE);
        SetFocus(m_searchEdit);
        return 0;
    }

    void OnPaint() {
        wtl::PaintDC paint(m_page);
        RECT client = {};
        GetClientRect(m_page, &client);
        wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
        if (!memory.IsValid()) return;
        SetBkMode(memory.get(), TRANSPARENT);
        PaintToolbarBand(memory.get(), client);
        PaintExtra(memory.get(), client);
        memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
    }

    void OnCommand(UINT, int id, HWND control) {
        ReleaseToolbarButton(control);
        if (id == kSearchButtonId) {
            RunSearch();
        } else {
            OnPageCommand(id);
        }
    }

    bool OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr || static_cast<int>(header->idFrom) != kListId) return false;
        result = 0;
        if (header->code == NM_CLICK) {
            m_list.CheckSelectedItems();
            const int row = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
            if (row != -1) m_lastClickedRow = row;
            return true;
        }
        if (header->code == LVN_COLUMNCLICK) {
            bool ascending = false;
            if (!StepSortArrow(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem, ascending)) return true;
            std::vector<Item*> records = ShownRecords();
            SortRecords(records, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem, ascending);
            ShowRecords(records);
            return true;
        }
        return false;
    }

    LRESULT OnDropFiles(WPARAM drop, LPARAM) {
        std::vector<std::wstring> paths = TakeDroppedPaths(reinterpret_cast<HDROP>(drop));
        if (!paths.empty()) OnDroppedPaths(std::move(paths));
        return 0;
    }

    LRESULT OnHostReplyMessage(WPARAM code, LPARAM payload) {
        OnHostReply(static_cast<int64_t>(code), reinterpret_cast<void*>(payload));
        return 0;
    }
};
