// VNLListView; see VNLListView.h.
#include "VNLListView.h"

#include <objidl.h>
#include <gdiplus.h>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "list_rules.h"

namespace {

constexpr DWORD kExtendedStyle = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;  // 0x24

COLORREF Colour(uint32_t value) { return static_cast<COLORREF>(value); }

}  // namespace

VNLListView::VNLListView() = default;

VNLListView::~VNLListView() = default;

HWND VNLListView::Create(HWND parent, const RECT& rect, int controlId) {
    HWND list = CreateWindowExW(
        0, WC_LISTVIEWW, L"", kStyle, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr) {
        LOG(ERROR) << "list view not created, error " << GetLastError();
        return nullptr;
    }
    if (!SubclassWindow(list)) {
        DestroyWindow(list);
        return nullptr;
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kExtendedStyle);
    m_header.SetCheckImages(m_checked, m_unchecked);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header != nullptr) m_header.SubclassWindow(header);
    m_reverseNumbering = 0;
    m_striping = false;
    // What the list does when it is made: its own font, and no scroll bars until the rows need them.
    m_font.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    ShowScrollBar(list, SB_BOTH, FALSE);
    return list;
}

int VNLListView::ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
    return header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

void VNLListView::InsertColumn(int index, const std::wstring& text, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    column.cx = width;
    column.iSubItem = index;
    SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

int VNLListView::AddItem(const std::vector<std::wstring>& texts) {
    const int row = InsertItem(ItemCount(), texts);
    return row;
}

int VNLListView::InsertItem(int row, const std::vector<std::wstring>& texts) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    const int index = static_cast<int>(SendMessageW(m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) return index;
    // New rows start unchecked: the pages count every row whose state image is not 1 as checked.
    SetStateImage(index, 1);
    SetItemTexts(index, texts);
    ShowCheckAll(false);
    return index;
}

void VNLListView::SetItemTexts(int row, const std::vector<std::wstring>& texts) {
    const int columns = ColumnCount();
    for (int column = 0; column < columns; ++column) {
        const std::wstring text = static_cast<size_t>(column) < texts.size() ? texts[static_cast<size_t>(column)] : L"";
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        SendMessageW(m_hWnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
}

std::wstring VNLListView::GetItemText(int row, int column) const {
    std::wstring buffer;
    for (size_t size = 256;; size *= 2) {
        buffer.assign(size, L'\0');
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = &buffer[0];
        item.cchTextMax = static_cast<int>(size);
        const LRESULT copied =
            SendMessageW(m_hWnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        if (copied < static_cast<LRESULT>(size) - 1) {
            buffer.resize(static_cast<size_t>(copied > 0 ? copied : 0));
            return buffer;
        }
    }
}

bool VNLListView::SetItemData(int row, LPARAM data) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = data;
    return SendMessageW(m_hWnd, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != FALSE;
}

LPARAM VNLListView::GetItemData(int row) const {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(m_hWnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    return item.lParam;
}

bool VNLListView::DeleteItem(int row) {
    if (row == m_hoverRow) m_hoverRow = -1;
    if (row == m_previousHoverRow) m_previousHoverRow = -1;
    return SendMessageW(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(row), 0) != FALSE;
}

void VNLListView::DeleteAllItems() {
    m_hoverRow = -1;
    m_previousHoverRow = -1;
    SendMessageW(m_hWnd, LVM_DELETEALLITEMS, 0, 0);
    ShowCheckAll(false);
}

// The header's box says whether every row is checked: it follows the rows whenever they change.
void VNLListView::ShowCheckAll(bool on) {
    if (m_header.IsCheckAll() == on) return;
    m_header.SetCheckAll(on);
    if (m_header.m_hWnd != nullptr) InvalidateRect(m_header, nullptr, TRUE);
}

int VNLListView::ItemCount() const { return static_cast<int>(SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

int VNLListView::StateImage(int row) const {
    const UINT state =
        static_cast<UINT>(SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
}

void VNLListView::SetStateImage(int row, int image) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(image);
    SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void VNLListView::SetSelected(int row, bool selected) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool VNLListView::IsChecked(int row) const { return StateImage(row) != 1; }

void VNLListView::SetChecked(int row, bool checked) { SetStateImage(row, checked ? 2 : 1); }

void VNLListView::SelectItem(int row) {
    if ((GetWindowLongW(m_hWnd, GWL_STYLE) & LVS_SINGLESEL) == 0) {
        SetSelected(-1, false);
    }
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item))) {
        SendMessageW(m_hWnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    }
}

std::vector<int> VNLListView::GetSelectedItems() const {
    std::vector<int> rows;
    int row = -1;
    while ((row = static_cast<int>(SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) >=
           0) {
        rows.push_back(row);
    }
    return rows;
}

void VNLListView::CheckSelectedItems() {
    const int count = ItemCount();
    for (int row = 0; row < count; ++row) {
        const bool selected =
            (SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
        const bool checked = IsChecked(row);
        if (selected && !checked) {
            SetChecked(row, true);
        } else if (!selected && checked) {
            SetChecked(row, false);
        }
    }
}

void VNLListView::SetRowHeight(int pixels) {
    m_rowHeight = pixels;
    // The control asks for the item height only when it is told that its size changed.
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    WINDOWPOS position = {};
    position.hwnd = m_hWnd;
    position.cx = window.right - window.left;
    position.cy = window.bottom - window.top;
    position.flags = 0x216;  // SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER
    SendMessageW(m_hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position));
}

int VNLListView::ColumnWidth(int column) const {
    return static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

RECT VNLListView::RowBounds(int row) const {
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageW(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds))) {
        return RECT{};
    }
    return bounds;
}

void VNLListView::InvalidateCheckColumn() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    client.right = ColumnWidth(0);
    InvalidateRect(m_hWnd, &client, TRUE);
}

void VNLListView::InvalidateTextColumns() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    client.left = ColumnWidth(0);
    client.right = client.left + ColumnWidth(1) + ColumnWidth(2);
    InvalidateRect(m_hWnd, &client, TRUE);
}

LRESULT VNLListView::OnEraseBkgnd(WPARAM wParam, LPARAM) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    RECT headerRect = {};
    HWND header = reinterpret_cast<HWND>(SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
    if (header != nullptr && IsWindowVisible(header)) {
        GetWindowRect(header, &headerRect);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&headerRect), 2);
    }
    const int top = headerRect.bottom > client.top ? headerRect.bottom : client.top;
    wtl::UniqueBrush brush(CreateSolidBrush(static_cast<COLORREF>(SendMessageW(m_hWnd, LVM_GETBKCOLOR, 0, 0))));
    const int count = ItemCount();
    if (count == 0) {
        RECT below = {client.left, top, client.right, client.bottom};
        FillRect(dc, &below, brush.get());
    } else {
        const RECT last = RowBounds(count - 1);
        RECT below = {client.left, last.bottom > top ? last.bottom : top, client.right, client.bottom};
        if (below.top < below.bottom) FillRect(dc, &below, brush.get());
        RECT right = {last.right, top, client.right, client.bottom};
        if (right.left < right.right) FillRect(dc, &right, brush.get());
    }
    if (m_frameLines) {
        wtl::UniquePen pen(CreatePen(PS_SOLID, 1, Colour(controls::kListLine)));
        wtl::SelectGuard select(dc, pen.get());
        MoveToEx(dc, 0, 0, nullptr);
        LineTo(dc, 0, client.bottom);
        MoveToEx(dc, client.right - 1, 0, nullptr);
        LineTo(dc, client.right - 1, client.bottom);
    }
    return 1;
}

bool VNLListView::OnLButtonDown(UINT, POINT point) {
    if (m_checked == nullptr) return false;
    LVHITTESTINFO hit = {};
    hit.pt = point;
    SendMessageW(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem < 0 || (hit.flags & LVHT_ONITEM) == 0) return false;
    RECT area = RowBounds(hit.iItem);
    area.right = ColumnWidth(0);
    if (!PtInRect(&area, point)) return false;

    const bool nowChecked = !IsChecked(hit.iItem);
    SetChecked(hit.iItem, nowChecked);
    SetSelected(hit.iItem, nowChecked);
    if (!nowChecked) {
        ShowCheckAll(false);
    } else {
        const int count = ItemCount();
        bool anyUnchecked = false;
        for (int row = 0; row < count && !anyUnchecked; ++row) anyUnchecked = !IsChecked(row);
        if (!anyUnchecked) ShowCheckAll(true);
    }
    return true;
}

LRESULT VNLListView::OnCheckAll(WPARAM flag, LPARAM) {
    if (flag == 0 && m_hoverRow >= 0) {
        m_previousHoverRow = m_hoverRow;
        const RECT bounds = RowBounds(m_previousHoverRow);
        InvalidateRect(m_hWnd, &bounds, TRUE);
    }
    m_hoverRow = -1;
    const int count = ItemCount();
    for (int row = 0; row < count; ++row) {
        SetChecked(row, flag != 0);
        SetSelected(row, flag != 0);
    }
    return 0;
}

bool VNLListView::OnMouseMove(UINT, POINT point) {
    if (!m_trackingLeave) {
        // The tint must go when the pointer leaves the list, which no further WM_MOUSEMOVE would tell.
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = m_hWnd;
        m_trackingLeave = TrackMouseEvent(&track) != FALSE;
    }
    LVHITTESTINFO hit = {};
    hit.pt = point;
    SendMessageW(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    MoveHover((hit.flags & LVHT_ONITEM) != 0 ? hit.iItem : -1);
    return true;
}

LRESULT VNLListView::OnMouseLeave(WPARAM, LPARAM) {
    m_trackingLeave = false;
    MoveHover(-1);
    return 0;
}

void VNLListView::MoveHover(int row) {
    const bool selected = row >= 0 && (SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
                                       LVIS_SELECTED) != 0;
    const controls::HoverChange change = controls::TrackHover(m_hoverRow, m_previousHoverRow, row, selected);
    if (!change.changed) return;
    m_hoverRow = change.hoverRow;
    m_previousHoverRow = change.previousHoverRow;
    RECT area = {};
    if (change.repaintNew) area = RowBounds(m_hoverRow);
    if (change.repaintPrevious) {
        const RECT previous = RowBounds(m_previousHoverRow);
        UnionRect(&area, &area, &previous);
    }
    if (!IsRectEmpty(&area)) InvalidateRect(m_hWnd, &area, TRUE);
}

bool VNLListView::OnHeaderNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    // The header's custom drawing goes back to the header, which paints the check-all box; every other
    // header notification is the control's own business.
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->hwndFrom != m_header.m_hWnd || header->code != NM_CUSTOMDRAW) return false;
    result = SendMessageW(m_header, OCM_NOTIFY, 0, lParam);
    return true;
}

bool VNLListView::OnReflectedNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header != nullptr && header->code == LVN_COLUMNCLICK) {
        result = 0;
        return true;
    }
    return false;
}

LRESULT VNLListView::OnMeasureItem(WPARAM, LPARAM lParam) {
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (measure == nullptr) return FALSE;
    measure->itemHeight = static_cast<UINT>(m_rowHeight);
    return TRUE;
}

LRESULT VNLListView::OnDrawItem(WPARAM, LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr || item->itemID == static_cast<UINT>(-1)) return FALSE;
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_RANGE | SIF_POS;
    if (GetScrollInfo(m_hWnd, SB_HORZ, &scroll) && scroll.nMax > scroll.nMin) {
        m_scrollOffset = -scroll.nPos;
        m_contentWidth = client.right > scroll.nMax + 1 ? client.right : scroll.nMax + 1;
    } else {
        m_scrollOffset = client.left;
        m_contentWidth = client.right - client.left;
    }
    const int rowWidth = item->rcItem.right - item->rcItem.left;
    const int width = rowWidth > m_contentWidth ? rowWidth : m_contentWidth;
    const int height = item->rcItem.bottom - item->rcItem.top;
    HDC dc = m_canvas.Prepare(item->hDC, width, height);
    if (dc == nullptr) return FALSE;

    const int row = static_cast<int>(item->itemID);
    const COLORREF background = Colour(controls::RowBackground((item->itemState & ODS_SELECTED) != 0, row, m_hoverRow,
                                                               m_previousHoverRow, m_striping, m_background));
    RECT area = {0, 0, width, height};
    {
        wtl::UniqueBrush brush(CreateSolidBrush(background));
        FillRect(dc, &area, brush.get());
    }
    wtl::UniquePen pen(CreatePen(PS_SOLID, 1, Colour(controls::kListLine)));
    wtl::SelectGuard selectPen(dc, pen.get());
    wtl::SelectGuard selectFont(dc, m_font ? static_cast<HGDIOBJ>(m_font.get()) : GetStockObject(DEFAULT_GUI_FONT));
    if (m_frameLines) {
        MoveToEx(dc, 0, 0, nullptr);
        LineTo(dc, 0, height);
        MoveToEx(dc, rowWidth - 1, 0, nullptr);
        LineTo(dc, rowWidth - 1, height);
        MoveToEx(dc, 0, height - 1, nullptr);
        LineTo(dc, rowWidth, height - 1);
    }
    SetBkMode(dc, TRANSPARENT);
    if (m_rowPaint != nullptr) m_rowPaint(&dc, this, row, m_userData);
    {
        Gdiplus::Graphics graphics(dc);
        DrawRowCells(dc, graphics, *item);
    }
    BitBlt(item->hDC, item->rcItem.left, item->rcItem.top, rowWidth, height, dc, 0, 0, SRCCOPY);
    return TRUE;
}

void VNLListView::DrawCellText(HDC dc, const std::wstring& text, RECT cell, int left) {
    RECT measure = {0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &measure, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int textHeight = measure.bottom - measure.top;
    RECT target = {left, cell.top + (cell.bottom - cell.top - textHeight) / 2, cell.right - 2, 0};
    target.bottom = target.top + textHeight;
    if (target.right > target.left) {
        DrawTextW(dc, text.c_str(), -1, &target, DT_END_ELLIPSIS | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}

void VNLListView::DrawRowCells(HDC dc, Gdiplus::Graphics& graphics, const DRAWITEMSTRUCT& item) {
    const int row = static_cast<int>(item.itemID);
    const int height = item.rcItem.bottom - item.rcItem.top;
    const int imageWidth = m_checked != nullptr ? static_cast<int>(m_checked->GetWidth()) : 0;
    const int imageHeight = m_checked != nullptr ? static_cast<int>(m_checked->GetHeight()) : 0;
    const int columns = ColumnCount();
    int left = 0;
    for (int column = 0; column < columns; ++column) {
        const int width = ColumnWidth(column);
        const RECT cell = {left, 0, left + width, height};
        left += width;
        if (column == 0) {
            if (m_checked != nullptr) {
                Gdiplus::Bitmap* box = StateImage(row) == 1 ? m_unchecked : m_checked;
                if (box != nullptr) graphics.DrawImage(box, 5, (height - imageHeight) / 2, imageWidth, imageHeight);
            }
            const int number = controls::RowNumber(row, ItemCount(), m_reverseNumbering != 0);
            DrawCellText(dc, std::to_wstring(number), cell, cell.left + imageWidth + 15);
        } else if (column == 1) {
            DrawFirstTextCell(dc, graphics, item, cell, column);
        } else {
            DrawCellText(dc, GetItemText(row, column), cell, cell.left + 10);
        }
    }
}

void VNLListView::DrawFirstTextCell(HDC dc, Gdiplus::Graphics& graphics, const DRAWITEMSTRUCT& item, const RECT& cell,
                                    int column) {
    const int row = static_cast<int>(item.itemID);
    Gdiplus::Bitmap* image = m_rowImage != nullptr ? m_rowImage(this, row, m_userData) : nullptr;
    if (image == nullptr) image = m_defaultRowImage;
    int textLeft = cell.left;
    if (image != nullptr) {
        const int cellHeight = cell.bottom - cell.top;
        const controls::ImageSize size = controls::SqueezeRowImage(static_cast<int>(image->GetWidth()),
                                                                   static_cast<int>(image->GetHeight()), cellHeight);
        graphics.DrawImage(
            image, Gdiplus::Rect(cell.left + 2, cell.top + (cellHeight - size.height) / 2, size.width, size.height), 0,
            0, static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel);
        textLeft = cell.left + size.width + 12;
    }
    DrawCellText(dc, GetItemText(row, column), cell, textLeft);
}
