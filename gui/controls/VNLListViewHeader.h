#pragma once
// VNLListViewHeader: the header of VNLListView, taken over from the list's own header control. Its first
// column carries a check-all box: a click on the box flips the header's check-all flag and tells the list
// (WM_LIST_CHECKALL), and the box is painted after the header's own painting (the list reflects the
// header's custom-draw notification back to it). The click always goes on to the header's own processing,
// so the list still sees the column click. Images are lent by the list's owner. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

namespace Gdiplus {
class Bitmap;
}

// Sent by the header to the list: wParam the new check-all flag (0 or 1), lParam 0.
#define WM_LIST_CHECKALL (WM_USER + 103)
#ifdef __cplusplus
static_assert(WM_LIST_CHECKALL == 0x467, "WM_LIST_CHECKALL is WM_USER+103");
#endif

class VNLListViewHeader : public wtl::CWindowImpl<VNLListViewHeader> {
public:
    VNLListViewHeader();
    ~VNLListViewHeader() override;

    BEGIN_MSG_MAP(VNLListViewHeader)
    MESSAGE_HANDLER_EX(WM_CREATE, OnCreate)
    MSG_MOUSE_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER_DECLINABLE(OCM_NOTIFY, OnReflectedNotify)
    END_MSG_MAP()

    void SetCheckImages(Gdiplus::Bitmap* checked, Gdiplus::Bitmap* unchecked) {
        m_checked = checked;
        m_unchecked = unchecked;
    }
    bool IsCheckAll() const { return m_checkAll; }
    void SetCheckAll(bool on) { m_checkAll = on; }

private:
    LRESULT OnCreate(WPARAM, LPARAM) { return 0; }
    bool OnLButtonDown(UINT, POINT point);
    bool OnReflectedNotify(WPARAM, LPARAM lParam, LRESULT& result);
    void OnPostPaint(const NMCUSTOMDRAW& draw);

    Gdiplus::Bitmap* m_checked = nullptr;    // lent
    Gdiplus::Bitmap* m_unchecked = nullptr;  // lent
    bool m_checkAll = false;
    // Kept for the pages; the header's own code does not read them.
    COLORREF m_background = RGB(0xF2, 0xF2, 0xF2);
    int m_height = 25;
    int m_index = -1;
    COLORREF m_face;
};
