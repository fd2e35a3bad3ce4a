#pragma once
// VNLListView: the owner-drawn report list of the list pages. Tall rows, a check-box column that also shows
// the row number, an optional image before the first text column, hover and selection colours, thin frame
// lines, and a header (VNLListViewHeader) whose first column carries a check-all box. Checking and
// selecting move together, so the checked rows are the ones the pages act on; the check state lives in the
// control itself (state image 1 unchecked, 2 checked).
//
// The list is a "SysListView32" made by Create and taken over; its parent reflects WM_DRAWITEM (and
// forwards WM_MEASUREITEM) to it. Rows are painted one by one into a memory canvas the list keeps, then
// copied once, so they never flicker. Images are lent by the page. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "VNLListViewHeader.h"

namespace Gdiplus {
class Bitmap;
class Graphics;
}  // namespace Gdiplus

class VNLListView : public wtl::CWindowImpl<VNLListView> {
public:
    // The image to draw before the first text column of a row, or null.
    using RowImageCallback = Gdiplus::Bitmap* (*)(VNLListView* list, int row, void* userData);
    // Called after a row's background is painted and before its cells, with the row's memory DC.
    using RowPaintCallback = void (*)(HDC* dc, VNLListView* list, int row, void* userData);

    static constexpr int kDefaultRowHeight = 60;
    static constexpr DWORD kStyle = 0x50010C01;  // WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDRAWFIXED

    VNLListView();
    ~VNLListView() override;

    BEGIN_MSG_MAP(VNLListView)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBkgnd)
    MSG_MOUSE_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER_EX(WM_LIST_CHECKALL, OnCheckAll)
    MSG_MOUSE_DECLINABLE(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER_EX(WM_MOUSELEAVE, OnMouseLeave)
    MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnHeaderNotify)
    MESSAGE_HANDLER_DECLINABLE(OCM_NOTIFY, OnReflectedNotify)
    MESSAGE_HANDLER_EX(OCM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER_EX(OCM_MEASUREITEM, OnMeasureItem)
    MESSAGE_HANDLER_EX(OCM_COMPAREITEM, OnAcceptItem)
    MESSAGE_HANDLER_EX(OCM_DELETEITEM, OnAcceptItem)
    END_MSG_MAP()

    // Set before Create: the check column works only with the checked image.
    void SetCheckImages(Gdiplus::Bitmap* checked, Gdiplus::Bitmap* unchecked) {
        m_checked = checked;
        m_unchecked = unchecked;
    }
    void SetDefaultRowImage(Gdiplus::Bitmap* image) { m_defaultRowImage = image; }
    void SetRowImageCallback(RowImageCallback callback) { m_rowImage = callback; }
    void SetRowPaintCallback(RowPaintCallback callback) { m_rowPaint = callback; }
    void SetUserData(void* data) { m_userData = data; }
    void SetReverseNumbering(bool on) { m_reverseNumbering = on ? 1 : 0; }
    void SetStriping(bool on) { m_striping = on; }
    void SetFrameLines(bool on) { m_frameLines = on; }

    // Makes the list as a child of `parent` and takes it over; null on failure.
    HWND Create(HWND parent, const RECT& rect, int controlId);

    // Adds a row at the end with one text per header column (missing texts are empty); the new row's index.
    int AddItem(const std::vector<std::wstring>& texts);
    // Inserts a row at `row` with the texts of columns 0 to n-1; the new row's index.
    int InsertItem(int row, const std::vector<std::wstring>& texts);
    void SetItemTexts(int row, const std::vector<std::wstring>& texts);
    std::wstring GetItemText(int row, int column) const;
    bool SetItemData(int row, LPARAM data);
    LPARAM GetItemData(int row) const;
    bool DeleteItem(int row);
    void DeleteAllItems();
    int ItemCount() const;
    int ColumnCount() const;
    // Inserts a report column at `index`.
    void InsertColumn(int index, const std::wstring& text, int width);

    // Clears every other selection (unless single-selection) and selects, focuses and shows the row.
    void SelectItem(int row);
    std::vector<int> GetSelectedItems() const;
    bool IsChecked(int row) const;
    void SetChecked(int row, bool checked);
    // Check boxes follow the selection: selected rows checked, the others unchecked.
    void CheckSelectedItems();

    // Sets the row height and makes the control ask for it again.
    void SetRowHeight(int pixels);
    void RefreshRowHeight() { SetRowHeight(kDefaultRowHeight); }
    int RowHeight() const { return m_rowHeight; }
    void InvalidateCheckColumn();
    void InvalidateTextColumns();

    VNLListViewHeader& Header() { return m_header; }
    int HoverRow() const { return m_hoverRow; }

protected:
    // Column 1: the row image (the callback's or the default), then the text.
    virtual void DrawFirstTextCell(HDC dc, Gdiplus::Graphics& graphics, const DRAWITEMSTRUCT& item, const RECT& cell,
                                   int column);
    virtual void DrawRowCells(HDC dc, Gdiplus::Graphics& graphics, const DRAWITEMSTRUCT& item);

private:
    LRESULT OnEraseBkgnd(WPARAM dc, LPARAM);
    bool OnLButtonDown(UINT, POINT point);
    LRESULT OnCheckAll(WPARAM flag, LPARAM);
    bool OnMouseMove(UINT, POINT point);
    LRESULT OnMouseLeave(WPARAM, LPARAM);
    // Moves the hover tint to `row` (-1: no row) and repaints the rows that changed.
    void MoveHover(int row);
    bool OnHeaderNotify(WPARAM, LPARAM lParam, LRESULT& result);
    bool OnReflectedNotify(WPARAM, LPARAM lParam, LRESULT& result);
    LRESULT OnDrawItem(WPARAM, LPARAM lParam);
    LRESULT OnMeasureItem(WPARAM, LPARAM lParam);
    LRESULT OnAcceptItem(WPARAM, LPARAM) { return TRUE; }

    int StateImage(int row) const;
    void SetStateImage(int row, int image);
    void SetSelected(int row, bool selected);
    void ShowCheckAll(bool on);
    RECT RowBounds(int row) const;
    int ColumnWidth(int column) const;
    void DrawCellText(HDC dc, const std::wstring& text, RECT cell, int left);

    Gdiplus::Bitmap* m_checked = nullptr;          // lent
    Gdiplus::Bitmap* m_unchecked = nullptr;        // lent
    Gdiplus::Bitmap* m_defaultRowImage = nullptr;  // lent
    RowImageCallback m_rowImage = nullptr;
    RowPaintCallback m_rowPaint = nullptr;
    COLORREF m_background = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_secondBackground = RGB(0xF5, 0xF5, 0xF5);  // kept for the pages
    int m_scrollOffset = 0;
    int m_contentWidth = 0;
    void* m_userData = nullptr;
    int m_reserved = 0;
    VNLListViewHeader m_header;
    int m_rowHeight = kDefaultRowHeight;
    wtl::UniqueFont m_font;
    int m_reverseNumbering = 0;
    bool m_striping = false;
    bool m_frameLines = true;
    int m_hoverRow = -1;
    int m_previousHoverRow = -1;
    bool m_trackingLeave = false;  // a WM_MOUSELEAVE is asked for
    wtl::MemoryCanvas m_canvas;
};
