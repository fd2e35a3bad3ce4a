// The owner-drawn buttons' shared part; see VNLButtonBase.h.
#include "VNLButtonBase.h"

#include "button_support.h"

bool VNLButtonBase::OnMouseMove(WPARAM, LPARAM, LRESULT&) {
    if (TracksHover()) controls::StartHoverTracking(m_hWnd, m_tracking);
    return false;
}

LRESULT VNLButtonBase::OnMeasureItem(WPARAM, LPARAM lParam) {
    return controls::MeasureOwnerDrawItem(m_hWnd, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
}
