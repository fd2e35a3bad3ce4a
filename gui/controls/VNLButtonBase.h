#pragma once
// VNLButtonBase: what the three owner-drawn buttons (VNLImgButton, VNLSwitchButton, VNLSwitchImageButton)
// share: the message map of a "BUTTON" window taken over with SubclassWindow, the visual state (0 normal,
// 1 pressed or selected, 2 hover, 3 disabled) and hover tracking. BM_CLICK marks the button pressed and
// goes on to the button's default processing; a reflected measure gets the text height of the button's
// font. Each button answers the press, hover, leave and drawing itself. UI thread only.

#include <windows.h>

#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "control_geometry.h"

class VNLButtonBase : public wtl::CWindowImpl<VNLButtonBase> {
public:
    BEGIN_MSG_MAP(VNLButtonBase)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER_DECLINABLE(BM_CLICK, OnClickMessage)
    MESSAGE_HANDLER_DECLINABLE(WM_MOUSEMOVE, OnMouseMove)
    MSG_MOUSE_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
    MSG_WM_NOARGS(WM_MOUSEHOVER, OnMouseHover)
    MSG_WM_NOARGS(WM_MOUSELEAVE, OnMouseLeave)
    MESSAGE_HANDLER_EX(OCM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER_EX(OCM_MEASUREITEM, OnMeasureItem)
    MESSAGE_HANDLER_EX(OCM_COMPAREITEM, OnAcceptItem)
    MESSAGE_HANDLER_EX(OCM_DELETEITEM, OnAcceptItem)
    END_MSG_MAP()

    void SetState(int state) { m_state = state; }
    int State() const { return m_state; }

protected:
    VNLButtonBase() = default;
    ~VNLButtonBase() override = default;

    // True when the button follows the mouse (hover and leave).
    virtual bool TracksHover() const { return true; }
    // The press: true when taken, false to go on to the button's default processing.
    virtual bool OnLButtonDown(UINT keys, POINT point) = 0;
    virtual void OnMouseHover() = 0;
    virtual void OnMouseLeave() = 0;
    virtual LRESULT OnDrawItem(WPARAM, LPARAM lParam) = 0;

    int m_state = controls::kStateNormal;
    bool m_tracking = false;

private:
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    bool OnClickMessage(WPARAM, LPARAM, LRESULT&) {
        m_state = controls::kStatePressed;
        return false;
    }
    bool OnMouseMove(WPARAM, LPARAM, LRESULT&);
    LRESULT OnMeasureItem(WPARAM, LPARAM lParam);
    LRESULT OnAcceptItem(WPARAM, LPARAM) { return TRUE; }
};
