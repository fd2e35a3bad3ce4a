// VNLListView and its header under Wine: check boxes that follow clicks in the check column and the
// header's check-all box, selection following the checks, the parent still seeing column clicks, long cell
// texts read whole, and the painted rows (selection, hover and the empty area in their colours).
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "VNLListView.h"

namespace {

// A parent as a page is one for its list: it reflects owner draw, forwards the measure request and keeps the
// notifications it receives.
struct ListParent {
    HWND window = nullptr;
    std::vector<std::pair<UINT, int>> notifications;  // (code, column or item)

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ListParent*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && message == WM_NOTIFY) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == LVN_COLUMNCLICK) {
                self->notifications.emplace_back(header->code, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            } else if (header->code == NM_CLICK) {
                self->notifications.emplace_back(header->code, reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
            }
        }
        LRESULT reflected = 0;
        if (wtl::ReflectNotification(hwnd, message, wParam, lParam, reflected)) return reflected;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    ListParent() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &ListParent::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TrevaneListParent";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, L"TrevaneListParent", L"list parent", WS_POPUP | WS_VISIBLE, 50, 50, 600, 400,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ListParent() { DestroyWindow(window); }

    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
};

std::unique_ptr<Gdiplus::Bitmap> Solid(int size, Gdiplus::ARGB colour) {
    auto bitmap = std::make_unique<Gdiplus::Bitmap>(size, size, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(bitmap.get());
    graphics.Clear(Gdiplus::Color(colour));
    return bitmap;
}

struct ListFixture {
    ListParent parent;
    std::unique_ptr<Gdiplus::Bitmap> checked = Solid(20, 0xFF2E7D32);
    std::unique_ptr<Gdiplus::Bitmap> unchecked = Solid(20, 0xFFC0C0C0);
    VNLListView list;
    HWND window = nullptr;

    explicit ListFixture(int rows) {
        list.SetCheckImages(checked.get(), unchecked.get());
        const RECT rect = {0, 0, 560, 360};
        window = list.Create(parent.window, rect, 5011);
        list.InsertColumn(0, L"", 100);
        list.InsertColumn(1, L"Name", 200);
        list.InsertColumn(2, L"Phone Number", 200);
        list.RefreshRowHeight();
        for (int i = 0; i < rows; ++i) {
            list.AddItem({L"", L"Row " + std::to_wstring(i), L"555-" + std::to_wstring(i)});
        }
    }

    RECT Row(int row) const {
        RECT bounds = {};
        bounds.left = LVIR_BOUNDS;
        SendMessageW(window, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
        return bounds;
    }
    void Click(HWND target, int x, int y) {
        SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        ListParent::Pump();
    }
    void ClickCheck(int row) {
        const RECT r = Row(row);
        Click(window, 10, (r.top + r.bottom) / 2);
    }
    bool Selected(int row) const {
        return (SendMessageW(window, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
    }
    HWND Header() const { return reinterpret_cast<HWND>(SendMessageW(window, LVM_GETHEADER, 0, 0)); }
    COLORREF PixelAt(int x, int y) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        HDC dc = GetDC(window);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        return colour;
    }
};

}  // namespace

TEST(ListView, RowsAreTallUncheckedAndTextsReadWhole) {
    ListFixture f(3);
    ASSERT_NE(f.window, nullptr);
    wchar_t className[64] = {};
    GetClassNameW(f.window, className, 64);
    EXPECT_STREQ(className, WC_LISTVIEWW);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(f.window, GWL_STYLE)) & 0xFFFF, VNLListView::kStyle & 0xFFFF);
    const RECT first = f.Row(0);
    EXPECT_EQ(first.bottom - first.top, 60) << "the row height comes from the list";
    for (int row = 0; row < 3; ++row) EXPECT_FALSE(f.list.IsChecked(row)) << row;

    const std::wstring long_text(700, L'x');
    f.list.SetItemTexts(1, {L"", long_text, L"555"});
    EXPECT_EQ(f.list.GetItemText(1, 1), long_text);
    EXPECT_EQ(f.list.GetItemText(1, 2), L"555");
    EXPECT_TRUE(f.list.SetItemData(2, 1234));
    EXPECT_EQ(f.list.GetItemData(2), 1234);

    f.list.SelectItem(2);
    f.list.SelectItem(0);
    EXPECT_EQ(f.list.GetSelectedItems(), std::vector<int>{0}) << "SelectItem clears other selections";
    f.list.CheckSelectedItems();
    EXPECT_TRUE(f.list.IsChecked(0));
    EXPECT_FALSE(f.list.IsChecked(2));
}

TEST(ListView, CheckColumnClicksToggleRowsAndTheHeaderBox) {
    ListFixture f(3);
    f.ClickCheck(0);
    EXPECT_TRUE(f.list.IsChecked(0));
    EXPECT_TRUE(f.Selected(0)) << "a checked row is selected";
    EXPECT_FALSE(f.list.Header().IsCheckAll());
    f.ClickCheck(1);
    f.ClickCheck(2);
    EXPECT_TRUE(f.list.IsChecked(2));
    EXPECT_TRUE(f.list.Header().IsCheckAll()) << "checking the last unchecked row sets the header box";
    f.ClickCheck(1);
    EXPECT_FALSE(f.list.IsChecked(1));
    EXPECT_FALSE(f.Selected(1));
    EXPECT_TRUE(f.Selected(0)) << "the other rows keep their selection";
    EXPECT_FALSE(f.list.Header().IsCheckAll()) << "unchecking any row clears the header box";

    // A click on the row outside the check column selects by the control's rules and toggles nothing.
    const RECT r = f.Row(1);
    f.Click(f.window, 300, (r.top + r.bottom) / 2);
    EXPECT_FALSE(f.list.IsChecked(1));
    EXPECT_TRUE(f.Selected(1));
}

TEST(ListView, HeaderBoxChecksEverythingAndColumnClicksReachTheParent) {
    ListFixture f(4);
    HWND header = f.Header();
    ASSERT_NE(header, nullptr);
    f.Click(header, 3, 10);
    EXPECT_FALSE(f.list.Header().IsCheckAll()) << "x 3 is left of the box";
    f.Click(header, 26, 10);
    EXPECT_FALSE(f.list.Header().IsCheckAll()) << "beyond image width + 5";
    f.parent.notifications.clear();
    f.Click(header, 10, 10);
    EXPECT_TRUE(f.list.Header().IsCheckAll());
    for (int row = 0; row < 4; ++row) {
        EXPECT_TRUE(f.list.IsChecked(row)) << row;
        EXPECT_TRUE(f.Selected(row)) << row;
    }
    // Rows that arrive later come unchecked, so the box no longer says "all"; an emptied list neither.
    f.list.AddItem({L"late"});
    EXPECT_FALSE(f.list.IsChecked(4));
    EXPECT_FALSE(f.list.Header().IsCheckAll()) << "a new unchecked row clears the header box";
    f.Click(header, 10, 10);
    EXPECT_TRUE(f.list.Header().IsCheckAll());
    f.list.DeleteAllItems();
    EXPECT_FALSE(f.list.Header().IsCheckAll()) << "an emptied list clears the header box";
    for (int row = 0; row < 4; ++row) f.list.AddItem({L"again"});
    f.Click(header, 10, 10);
    EXPECT_TRUE(f.list.Header().IsCheckAll());
    f.Click(header, 10, 10);
    for (int row = 0; row < 4; ++row) {
        EXPECT_FALSE(f.list.IsChecked(row)) << row;
        EXPECT_FALSE(f.Selected(row)) << row;
    }
    // Clicks in the header also reach the parent as column clicks (column 0 here, column 2 next).
    RECT column = {};
    SendMessageW(header, HDM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&column));
    f.Click(header, (column.left + column.right) / 2, 10);
    ASSERT_FALSE(f.parent.notifications.empty());
    EXPECT_EQ(f.parent.notifications.back(), std::make_pair(static_cast<UINT>(LVN_COLUMNCLICK), 2));
}

TEST(ListView, PaintsSelectionHoverAndTheEmptyArea) {
    ListFixture f(3);
    const RECT row0 = f.Row(0);
    const RECT row1 = f.Row(1);
    const int y0 = row0.top + 3;
    const int y1 = row1.top + 3;
    EXPECT_EQ(f.PixelAt(450, y0), RGB(0xFF, 0xFF, 0xFF));
    f.list.SelectItem(0);
    EXPECT_EQ(f.PixelAt(450, y0), static_cast<COLORREF>(0xEEDBA1)) << "selected row";
    SendMessageW(f.window, WM_MOUSEMOVE, 0, MAKELPARAM(450, (row1.top + row1.bottom) / 2));
    EXPECT_EQ(f.list.HoverRow(), 1);
    EXPECT_EQ(f.PixelAt(450, y1), static_cast<COLORREF>(0xF5ECCD)) << "hover row";
    EXPECT_EQ(f.PixelAt(450, row1.bottom - 1), static_cast<COLORREF>(0xDCDCDC)) << "the row's bottom rule";
    EXPECT_EQ(f.PixelAt(300, f.Row(2).bottom + 20), RGB(0xFF, 0xFF, 0xFF)) << "below the rows";

    // The pointer leaving the list takes the tint with it.
    SendMessageW(f.window, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(f.list.HoverRow(), -1);
    EXPECT_EQ(f.PixelAt(450, y1), RGB(0xFF, 0xFF, 0xFF)) << "no tint once the pointer is gone";
    SendMessageW(f.window, WM_MOUSEMOVE, 0, MAKELPARAM(450, (row1.top + row1.bottom) / 2));
    ASSERT_EQ(f.list.HoverRow(), 1);

    // Check-all off clears the hover highlight.
    SendMessageW(f.window, WM_LIST_CHECKALL, 0, 0);
    EXPECT_EQ(f.list.HoverRow(), -1);
    EXPECT_EQ(f.PixelAt(450, y1), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(f.PixelAt(10, (row1.top + row1.bottom) / 2), static_cast<COLORREF>(0xC0C0C0)) << "unchecked box";
    f.list.SetChecked(1, true);
    EXPECT_EQ(f.PixelAt(10, (row1.top + row1.bottom) / 2), static_cast<COLORREF>(0x327D2E)) << "checked box";
}

TEST(ListView, EmptyListPaintsTheWholeAreaBelowTheHeader) {
    ListFixture f(0);
    RECT header = {};
    GetWindowRect(f.Header(), &header);
    const int below = header.bottom - header.top + 5;
    EXPECT_EQ(f.PixelAt(200, below), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(f.PixelAt(200, 300), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(f.PixelAt(0, 300), static_cast<COLORREF>(0xDCDCDC)) << "frame line on the left edge";
}
