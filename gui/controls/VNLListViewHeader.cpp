// VNLListViewHeader; see VNLListViewHeader.h.
#include "VNLListViewHeader.h"

#include <objidl.h>
#include <gdiplus.h>

#include <wtl/GdiObjects.h>

#include "list_rules.h"

VNLListViewHeader::VNLListViewHeader() : m_face(GetSysColor(COLOR_BTNFACE)) {}

VNLListViewHeader::~VNLListViewHeader() = default;

bool VNLListViewHeader::OnLButtonDown(UINT, POINT point) {
    if (m_checked == nullptr) return false;
    HDHITTESTINFO hit = {};
    hit.pt = point;
    SendMessageW(m_hWnd, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    const bool onDivider = (hit.flags & (HHT_ONDIVIDER | HHT_ONDIVOPEN)) != 0;
    if ((hit.flags & HHT_ONHEADER) != 0 && !onDivider &&
        controls::IsCheckAllHit(point.x, static_cast<int>(m_checked->GetWidth()))) {
        m_checkAll = !m_checkAll;
        SendMessageW(GetParent(m_hWnd), WM_LIST_CHECKALL, m_checkAll ? 1 : 0, 0);
    }
    return false;  // the header's own processing follows, so the list still sees the column click
}

bool VNLListViewHeader::OnReflectedNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->code != NM_CUSTOMDRAW) return false;
    const auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(lParam);
    switch (draw->dwDrawStage) {
    case CDDS_PREPAINT: result = CDRF_NOTIFYPOSTPAINT; return true;
    case CDDS_POSTPAINT:
        OnPostPaint(*draw);
        result = 0;
        return true;
    case CDDS_PREERASE:
    case CDDS_POSTERASE:
    case CDDS_ITEMPREPAINT:
    case CDDS_ITEMPOSTPAINT:
    case CDDS_ITEMPREERASE:
    case CDDS_ITEMPOSTERASE:
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: result = CDRF_DODEFAULT; return true;
    default: return false;
    }
}

void VNLListViewHeader::OnPostPaint(const NMCUSTOMDRAW& draw) {
    if (m_checked != nullptr) {
        Gdiplus::Bitmap* box = m_checkAll ? m_checked : m_unchecked;
        if (box != nullptr) {
            Gdiplus::Graphics graphics(draw.hdc);
            graphics.DrawImage(box, 5, 4, static_cast<INT>(box->GetWidth()), static_cast<INT>(box->GetHeight()));
        }
    }
    // Newer systems draw the header without a bottom rule; older ones have their own.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    const bool known = GetVersionExA(&version) != FALSE;
    if (!known || (version.dwMajorVersion >= 6 && version.dwMinorVersion >= 2)) {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniquePen pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_ACTIVEBORDER)));
        wtl::SelectGuard select(draw.hdc, pen.get());
        MoveToEx(draw.hdc, client.left, client.bottom - 1, nullptr);
        LineTo(draw.hdc, client.right, client.bottom - 1);
    }
}
