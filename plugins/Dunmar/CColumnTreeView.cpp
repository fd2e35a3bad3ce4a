// The bookmarks page's column tree; see CColumnTreeView.h.
#include "CColumnTreeView.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include <wtl/GdiObjects.h>
#include <wtl/scroll.h>

#include "bookmark_model.h"

namespace {

constexpr int kCheckArea = 24;  // a click this far into the label flips the box
constexpr int kLineStep = 15;

int Width(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetWidth()) : 0; }
int Height(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetHeight()) : 0; }

void DrawImage(HDC dc, Gdiplus::Bitmap* image, int x, int y) {
    if (image == nullptr) return;
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(image, x, y, Width(image), Height(image));
}

std::wstring ItemText(HWND tree, HTREEITEM item) {
    std::wstring text(1024, L'\0');  // a name and a URL; longer texts are cut, never overrun
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = &text[0];
    tv.cchTextMax = static_cast<int>(text.size());
    if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return std::wstring();
    text.resize(wcslen(text.c_str()));
    return text;
}

RECT LabelRect(HWND tree, HTREEITEM item) {
    // TVM_GETITEMRECT takes the item in the rectangle's first bytes.
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof(item));
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

}  // namespace

bool ColumnTreeNodes::Checked(HTREEITEM item) const {
    const ColumnTreeItem* data = CColumnTreeView::ItemData(tree, item);
    return data != nullptr && data->checked != 0;
}

void ColumnTreeNodes::SetChecked(HTREEITEM item, bool checked) {
    if (ColumnTreeItem* data = CColumnTreeView::ItemData(tree, item)) data->checked = checked ? 1 : 0;
}

// ---- Creation and layout ---------------------------------------------------------------------------------

LRESULT CColumnTreeView::OnCreate(CREATESTRUCTW*) {
    HWND tree =
        CreateWindowExW(0, WC_TREEVIEWW, L"", 0x50009097, 0, 0, 10, 10, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTreeId)), GetModuleHandleW(nullptr), nullptr);
    HWND header =
        CreateWindowExW(0, WC_HEADERW, L"", WS_CHILD | WS_VISIBLE | HDS_FULLDRAG, 0, 0, 10, 10, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHeaderId)), GetModuleHandleW(nullptr), nullptr);
    if (tree == nullptr || header == nullptr || !m_tree.SubclassWindow(tree) || !m_header.SubclassWindow(header))
        return -1;
    m_tree.view = this;
    m_header.view = this;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(tree, WM_GETFONT, 0, 0));
    SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // The header's height from the tree's font and the version of the common controls, which draw their
    // header and cells differently from version 6 on.
    wtl::WindowDC dc(tree);
    SIZE letter = {};
    {
        wtl::SelectGuard select(dc.get(), font);
        GetTextExtentPoint32W(dc.get(), L"A", 1, &letter);
    }
    const dunmar::ColumnTreeMetrics metrics =
        dunmar::ColumnTreeMetricsFor(CommonControlsMajorVersion(), static_cast<int>(letter.cy));
    m_headerHeight = metrics.headerHeight;
    m_indent = metrics.textIndent;
    m_scroll = 0;
    UpdateColumns();
    return 0;
}

void CColumnTreeView::UpdateColumns() {
    m_totalWidth = 0;
    m_columnCount = std::min(kMaxColumns, static_cast<int>(SendMessageW(m_header, HDM_GETITEMCOUNT, 0, 0)));
    for (int i = 0; i < m_columnCount; ++i) {
        HDITEMW item = {};
        item.mask = HDI_WIDTH;
        SendMessageW(m_header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        m_widths[i] = item.cxy;
        m_totalWidth += item.cxy;
    }
    SetScrollRange();
    Reposition();
}

void CColumnTreeView::SetScrollRange() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int width = client.right;
    m_scroll = std::max(0, std::min(m_scroll, m_totalWidth - width));
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = m_totalWidth;
    info.nPage = static_cast<UINT>(width);
    info.nPos = m_scroll;
    SetScrollInfo(m_hWnd, SB_HORZ, &info, TRUE);
}

void CColumnTreeView::Reposition() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    int width = client.right;
    int x = 0;
    if (m_totalWidth > client.right) {
        width += m_scroll;
        x = -m_scroll;
    }
    SetWindowPos(m_header, nullptr, x, 0, width, m_headerHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_tree, nullptr, x, m_headerHeight, width, client.bottom - m_headerHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void CColumnTreeView::OnSize(UINT, int, int) {
    SetScrollRange();
    Reposition();
}

LRESULT CColumnTreeView::OnHScroll(WPARAM wParam, LPARAM) {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int highest = std::max(0, m_totalWidth - static_cast<int>(client.right));
    int position = 0;
    if (!wtl::ScrollRequestTarget(m_hWnd, SB_HORZ, wParam, kLineStep, &position)) return 0;
    position = std::max(0, std::min(position, highest));
    if (position == m_scroll) return 0;
    m_scroll = position;
    SetScrollPos(m_hWnd, SB_HORZ, m_scroll, TRUE);
    Reposition();
    return 0;
}

// ---- Items -------------------------------------------------------------------------------------------

HTREEITEM CColumnTreeView::InsertItem(HTREEITEM parent, const std::wstring& text, ColumnTreeItem* data) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent == nullptr ? TVI_ROOT : parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(data);
    auto item =
        reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item == nullptr) {
        delete data;  // not inserted: no TVN_DELETEITEM will come for it
    } else if (data == nullptr || data->checked == 0) {
        ShowCheckAll(false);
    }
    return item;
}

ColumnTreeItem* CColumnTreeView::ItemData(HWND tree, HTREEITEM item) {
    if (item == nullptr) return nullptr;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<ColumnTreeItem*>(tv.lParam);
}

void CColumnTreeView::RepaintCheckArea(HTREEITEM item) {
    RECT label = LabelRect(m_tree, item);
    label.right = label.left + kCheckArea;
    InvalidateRect(m_tree, &label, FALSE);
}

void CColumnTreeView::ToggleItem(HTREEITEM item) {
    ColumnTreeNodes nodes{m_tree};
    dunmar::ToggleCheck(nodes, item);
    // A checked root stands for its checked subtree, so the roots alone tell whether everything is.
    bool everyRootChecked = true;
    for (HTREEITEM root = nodes.FirstChild(nullptr); root != nullptr && everyRootChecked;
         root = nodes.NextSibling(root)) {
        everyRootChecked = nodes.Checked(root);
    }
    ShowCheckAll(everyRootChecked);
    InvalidateRect(m_tree, nullptr, FALSE);
}

void CColumnTreeView::ShowCheckAll(bool on) {
    if (m_header.checkAll == on) return;
    m_header.checkAll = on;
    if (m_header.m_hWnd != nullptr) InvalidateRect(m_header, nullptr, TRUE);
}

void CColumnTreeView::CheckAll(bool checked) {
    ColumnTreeNodes nodes{m_tree};
    for (HTREEITEM root = nodes.FirstChild(nullptr); root != nullptr; root = nodes.NextSibling(root)) {
        nodes.SetChecked(root, checked);
        dunmar::SetSubtreeChecked(nodes, root, checked);
    }
    InvalidateRect(m_tree, nullptr, FALSE);
}

// ---- Notifications ------------------------------------------------------------------------------------

bool CColumnTreeView::OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header == nullptr) return false;
    if (header->idFrom == kTreeId && header->code == TVN_DELETEITEMW) {
        // The item's record goes with the item.
        delete reinterpret_cast<ColumnTreeItem*>(reinterpret_cast<NMTREEVIEWW*>(lParam)->itemOld.lParam);
        result = 0;
        return true;
    }
    if (header->idFrom == kTreeId && header->code == NM_CUSTOMDRAW) {
        result = OnTreeCustomDraw(*reinterpret_cast<NMTVCUSTOMDRAW*>(lParam));
        return true;
    }
    if (header->idFrom == kHeaderId && (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA)) {
        UpdateColumns();
        RedrawWindow(m_tree, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        result = 0;
        return true;
    }
    if (header->idFrom == kHeaderId && (header->code == HDN_DIVIDERDBLCLICKW || header->code == HDN_DIVIDERDBLCLICKA)) {
        FitColumn(reinterpret_cast<NMHEADERW*>(lParam)->iItem);
        result = 0;
        return true;
    }
    if (header->idFrom == kHeaderId && header->code == NM_CUSTOMDRAW) {
        auto& draw = *reinterpret_cast<NMCUSTOMDRAW*>(lParam);
        if (draw.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYPOSTPAINT;
        } else {
            if (draw.dwDrawStage == CDDS_POSTPAINT) PaintHeaderBox(draw.hdc);
            result = CDRF_DODEFAULT;
        }
        return true;
    }
    return false;
}

bool CColumnTreeView::OnHeaderCommand(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (LOWORD(wParam) != kHeaderId || reinterpret_cast<HWND>(lParam) != m_header.m_hWnd) return false;
    CheckAll(HIWORD(wParam) != 0);
    result = 0;
    return true;
}

void CColumnTreeView::PaintHeaderBox(HDC dc) {
    DrawImage(dc, m_header.checkAll ? m_checkedImage : m_uncheckedImage, 5, 4);
    RECT client = {};
    GetClientRect(m_header, &client);
    wtl::UniquePen pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_ACTIVEBORDER)));
    wtl::SelectGuard select(dc, pen.get());
    MoveToEx(dc, 0, client.bottom - 1, nullptr);
    LineTo(dc, client.right, client.bottom - 1);
}

bool CColumnTreeView::HeaderCtrl::OnButton(WPARAM, LPARAM lParam, LRESULT& result) {
    if (view == nullptr || view->m_checkedImage == nullptr) return false;
    HDHITTESTINFO hit = {};
    hit.pt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    SendMessageW(m_hWnd, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if ((hit.flags & HHT_ONHEADER) == 0 || (hit.flags & (HHT_ONDIVIDER | HHT_ONDIVOPEN)) != 0 || hit.pt.x < 5 ||
        hit.pt.x > Width(view->m_checkedImage) + 5) {
        return false;
    }
    checkAll = !checkAll;
    SendMessageW(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(kHeaderId, checkAll ? 1 : 0),
                 reinterpret_cast<LPARAM>(m_hWnd));
    InvalidateRect(m_hWnd, nullptr, TRUE);
    result = 0;
    return true;
}

// ---- Rows ---------------------------------------------------------------------------------------------

LRESULT CColumnTreeView::OnTreeCustomDraw(NMTVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPOSTPAINT:
        if (!IsRectEmpty(&draw.nmcd.rc)) {
            PaintRow(draw.nmcd.hdc, reinterpret_cast<HTREEITEM>(draw.nmcd.dwItemSpec), draw.nmcd.rc,
                     draw.nmcd.uItemState);
        }
        return CDRF_DODEFAULT;
    default: return CDRF_DODEFAULT;
    }
}

void CColumnTreeView::PaintRow(HDC dc, HTREEITEM item, const RECT& row, UINT state) {
    const ColumnTreeItem* data = ItemData(m_tree, item);
    const int column0 = m_columnCount > 0 ? m_widths[0] : 0;
    RECT label = LabelRect(m_tree, item);
    const bool selected = (state & CDIS_SELECTED) != 0;
    const int left = std::min(static_cast<int>(label.left), column0 - 1);
    // The whole row from the label to the last column: highlighted or plain.
    RECT band = {left, row.top, m_totalWidth - 1, row.bottom};
    FillRect(dc, &band, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    RECT grid = row;
    DrawEdge(dc, &grid, BDR_SUNKENINNER, BF_BOTTOM);
    if ((state & CDIS_FOCUS) != 0) DrawFocusRect(dc, &band);

    const std::wstring text = ItemText(m_tree, item);
    const std::wstring first = dunmar::ColumnPart(text, 0, m_columnCount);
    Gdiplus::Bitmap* box = data != nullptr && data->checked != 0 ? m_checkedImage : m_uncheckedImage;
    Gdiplus::Bitmap* picture = PictureOf(data);
    const int middle = (row.top + row.bottom) / 2;
    DrawImage(dc, box, label.left, middle - Height(box) / 2);
    const int pictureX = label.left + Width(box) + 8;
    DrawImage(dc, picture, pictureX, middle - Height(picture) / 2);

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_tree, WM_GETFONT, 0, 0));
    wtl::SelectGuard select(dc, font);
    RECT cell = {label.left + LabelTextOffset(data), row.top + 1, column0 - 2, row.bottom - 1};
    if (cell.right > cell.left) {
        DrawTextW(dc, first.c_str(), -1, &cell, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    int x = column0;
    for (int i = 1; i < m_columnCount; ++i) {
        const std::wstring part = dunmar::ColumnPart(text, i, m_columnCount);
        RECT column = {x + m_indent, row.top + 1, x + m_widths[i] - 2, row.bottom - 1};
        if (!part.empty()) {
            DrawTextW(dc, part.c_str(), -1, &column, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
        }
        x += m_widths[i];
    }
}

Gdiplus::Bitmap* CColumnTreeView::PictureOf(const ColumnTreeItem* data) const {
    return data != nullptr && data->folder != 0 ? m_folderImage : m_pageImage;
}

int CColumnTreeView::LabelTextOffset(const ColumnTreeItem* data) const {
    // The check box, 8 pixels, the picture, 4 pixels: the first column's text starts behind them.
    return Width(m_checkedImage) + Width(PictureOf(data)) + 12;
}

// ---- Fitting a column -----------------------------------------------------------------------------------

int CColumnTreeView::WidestText(HTREEITEM first, int column, int depth, HDC dc) const {
    ColumnTreeNodes nodes{m_tree};
    const int indent = static_cast<int>(SendMessageW(m_tree, TVM_GETINDENT, 0, 0));
    const bool linesAtRoot = (GetWindowLongW(m_tree, GWL_STYLE) & TVS_LINESATROOT) != 0;
    int widest = 0;
    for (HTREEITEM item = first; item != nullptr; item = nodes.NextSibling(item)) {
        const std::wstring part = dunmar::ColumnPart(ItemText(m_tree, item), column, m_columnCount);
        SIZE size = {};
        GetTextExtentPoint32W(dc, part.c_str(), static_cast<int>(part.size()), &size);
        int width = static_cast<int>(size.cx);
        if (column == 0) {
            // The row's own indent as the tree lays it out, then what the row paints before its text.
            TVITEMW tv = {};
            tv.mask = TVIF_IMAGE | TVIF_HANDLE;
            tv.hItem = item;
            SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
            const int levels = depth + (linesAtRoot ? 1 : 0) + (tv.iImage >= 0 ? 1 : 0);
            width += indent * levels + LabelTextOffset(ItemData(m_tree, item));
        } else {
            width += m_indent;
        }
        widest = std::max(widest, width);
        if (nodes.Expanded(item)) widest = std::max(widest, WidestText(nodes.FirstChild(item), column, depth + 1, dc));
    }
    return widest;
}

void CColumnTreeView::FitColumn(int column) {
    if (column < 0 || column >= m_columnCount) return;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_tree, WM_GETFONT, 0, 0));
    wtl::WindowDC dc(m_tree);
    wtl::SelectGuard select(dc.get(), font);
    // Every shown row counts: the roots and whatever lies open below them.
    const int widest = WidestText(ColumnTreeNodes{m_tree}.FirstChild(nullptr), column, 0, dc.get());
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    item.cxy = widest + 20;
    // The header reports the new width (HDN_ITEMCHANGED), which lays the columns out again.
    SendMessageW(m_header, HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
}

bool CColumnTreeView::TreeCtrl::OnClick(LPARAM lParam, bool doubleClick, LRESULT& result) {
    if (view == nullptr) return false;
    TVHITTESTINFO hit = {};
    hit.pt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(m_hWnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (item == nullptr || (hit.flags & (TVHT_ONITEMLABEL | TVHT_ONITEMRIGHT | TVHT_ONITEMICON)) == 0) {
        return false;  // buttons, lines, the empty area: the tree's own handling
    }
    const RECT label = LabelRect(m_hWnd, item);
    if (hit.pt.x > view->m_totalWidth) return false;
    SetFocus(m_hWnd);
    SendMessageW(m_hWnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    if (!doubleClick && hit.pt.x >= label.left && hit.pt.x < label.left + kCheckArea) view->ToggleItem(item);
    if (doubleClick) {
        NMHDR notify = {m_hWnd, static_cast<UINT_PTR>(kTreeId), static_cast<UINT>(NM_DBLCLK)};
        SendMessageW(GetParent(view->m_hWnd), WM_NOTIFY, kTreeId, reinterpret_cast<LPARAM>(&notify));
        SendMessageW(m_hWnd, TVM_EXPAND, TVE_TOGGLE, reinterpret_cast<LPARAM>(item));
    }
    result = 0;
    return true;
}
