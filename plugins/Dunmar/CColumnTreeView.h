#pragma once
// CColumnTreeView: a tree with header columns and a check box on every row, for the bookmarks page. A plain
// child window holding a header ("SysHeader32", id 1) above a tree ("SysTreeView32", id 2); both scroll
// horizontally together, and the view paints each row itself: the check box, a folder or page picture,
// the first column's text beside the tree's lines and buttons, and the further columns' texts at the
// header's column positions. An item's text carries its column texts separated by tabs.
//
// Every item's lParam is a ColumnTreeItem that the owner allocates with new when it inserts the item and
// the view deletes when the item is deleted (TVN_DELETEITEM), so no item outlives its record nor the other
// way round. Clicking an item's box checks or unchecks it with all its descendants, an uncheck also
// unchecking its checked ancestors; the header's box checks or unchecks every item. UI thread only.

#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <string>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

namespace Gdiplus {
class Bitmap;
}

struct ColumnTreeItem {
    int checked = 0;
    void* record = nullptr;  // the owner's, not owned
    int folder = 0;
};

// The view's items as the check and rebuild rules of bookmark_model.h reach them.
struct ColumnTreeNodes {
    HWND tree;
    HTREEITEM Parent(HTREEITEM item) const { return Next(item, TVGN_PARENT); }
    // Null: the first root item.
    HTREEITEM FirstChild(HTREEITEM item) const {
        return item == nullptr ? Next(nullptr, TVGN_ROOT) : Next(item, TVGN_CHILD);
    }
    HTREEITEM NextSibling(HTREEITEM item) const { return Next(item, TVGN_NEXT); }
    bool Checked(HTREEITEM item) const;
    void SetChecked(HTREEITEM item, bool checked);
    bool Expanded(HTREEITEM item) const {
        return (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) & TVIS_EXPANDED) !=
               0;
    }
    void Expand(HTREEITEM item) { SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item)); }

private:
    HTREEITEM Next(HTREEITEM item, UINT relation) const {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
};

// The major version of the common controls this process loads, 0 when it cannot be read; the view's
// header height and cell indent depend on it (ColumnTreeMetricsFor in bookmark_model.h).
inline int CommonControlsMajorVersion() {
    HMODULE library = LoadLibraryW(L"comctl32.dll");
    if (library == nullptr) return 0;
    int major = 0;
    using GetVersionFunction = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    auto getVersion =
        reinterpret_cast<GetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetVersion")));
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof(info);
    if (getVersion != nullptr && SUCCEEDED(getVersion(&info))) major = static_cast<int>(info.dwMajorVersion);
    FreeLibrary(library);
    return major;
}

class CColumnTreeView : public wtl::CWindowImpl<CColumnTreeView> {
public:
    DECLARE_WND_CLASS_EX(L"CColumnTreeView", CS_DBLCLKS, nullptr)
    static constexpr int kHeaderId = 1;
    static constexpr int kTreeId = 2;
    static constexpr int kMaxColumns = 16;

    BEGIN_MSG_MAP(CColumnTreeView)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_SIZE(OnSize)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER_EX(WM_HSCROLL, OnHScroll)
    MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER_DECLINABLE(WM_COMMAND, OnHeaderCommand)
    END_MSG_MAP()

    // Set before Create: the check boxes and the folder and page pictures (lent).
    void SetImages(Gdiplus::Bitmap* folder, Gdiplus::Bitmap* page, Gdiplus::Bitmap* checked,
                   Gdiplus::Bitmap* unchecked) {
        m_folderImage = folder;
        m_pageImage = page;
        m_checkedImage = checked;
        m_uncheckedImage = unchecked;
    }
    HWND Tree() const { return m_tree.m_hWnd; }
    HWND Header() const { return m_header.m_hWnd; }
    // Re-reads the header's columns and places the children; after adding columns or changing widths.
    void UpdateColumns();
    int ScrollPosition() const { return m_scroll; }
    int TotalWidth() const { return m_totalWidth; }

    // Items: `text` holds the column texts separated by tabs; the item takes `data` over.
    HTREEITEM InsertItem(HTREEITEM parent, const std::wstring& text, ColumnTreeItem* data);
    static ColumnTreeItem* ItemData(HWND tree, HTREEITEM item);
    // Sets every item's check mark (the header's box).
    void CheckAll(bool checked);
    bool IsCheckAll() const { return m_header.checkAll; }
    // A click on `item`'s check box.
    void ToggleItem(HTREEITEM item);

private:
    class TreeCtrl : public wtl::CWindowImpl<TreeCtrl> {
    public:
        DECLARE_WND_CLASS_EX(L"CColumnTreeViewCtrl", 0, nullptr)
        BEGIN_MSG_MAP(TreeCtrl)
        MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDOWN, OnButtonDown)
        MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDBLCLK, OnDoubleClick)
        END_MSG_MAP()
        CColumnTreeView* view = nullptr;

    private:
        bool OnButtonDown(WPARAM, LPARAM lParam, LRESULT& result) { return OnClick(lParam, false, result); }
        bool OnDoubleClick(WPARAM, LPARAM lParam, LRESULT& result) { return OnClick(lParam, true, result); }
        bool OnClick(LPARAM lParam, bool doubleClick, LRESULT& result);
    };
    class HeaderCtrl : public wtl::CWindowImpl<HeaderCtrl> {
    public:
        DECLARE_WND_CLASS_EX(L"CColumnTreeViewHeader", 0, nullptr)
        BEGIN_MSG_MAP(HeaderCtrl)
        MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDOWN, OnButton)
        MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDBLCLK, OnButton)
        END_MSG_MAP()
        CColumnTreeView* view = nullptr;
        bool checkAll = false;

    private:
        bool OnButton(WPARAM, LPARAM lParam, LRESULT& result);
    };

    LRESULT OnCreate(CREATESTRUCTW*);
    void OnSize(UINT, int, int);
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    LRESULT OnHScroll(WPARAM wParam, LPARAM);
    bool OnNotify(WPARAM, LPARAM lParam, LRESULT& result);
    bool OnHeaderCommand(WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The header's box says whether every item is checked: it follows the items as they change.
    void ShowCheckAll(bool on);
    LRESULT OnTreeCustomDraw(NMTVCUSTOMDRAW& draw);
    void PaintRow(HDC dc, HTREEITEM item, const RECT& row, UINT state);
    void PaintHeaderBox(HDC dc);
    void SetScrollRange();
    void Reposition();
    // A double-click on the divider after `column`: the column takes the width of its widest shown text.
    void FitColumn(int column);
    int WidestText(HTREEITEM first, int column, int depth, HDC dc) const;
    Gdiplus::Bitmap* PictureOf(const ColumnTreeItem* data) const;
    // Where the first column's text starts, from the label's left.
    int LabelTextOffset(const ColumnTreeItem* data) const;
    void RepaintCheckArea(HTREEITEM item);

    TreeCtrl m_tree;
    HeaderCtrl m_header;
    int m_headerHeight = 0;
    int m_totalWidth = 0;
    int m_scroll = 0;
    int m_widths[kMaxColumns] = {};
    int m_columnCount = 0;
    int m_indent = 9;
    Gdiplus::Bitmap* m_folderImage = nullptr;
    Gdiplus::Bitmap* m_pageImage = nullptr;
    Gdiplus::Bitmap* m_checkedImage = nullptr;
    Gdiplus::Bitmap* m_uncheckedImage = nullptr;
};
