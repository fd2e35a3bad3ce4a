#pragma once
// UiAlertDialog: the host's message box. A modal UiDialog with an optional icon, an optional bold
// heading, a word-wrapped message whose <A HREF="...">label</A> runs become clickable links, and one or
// two text buttons (5051 accepts, 5052 declines, 5050 closes). A modal run ends with the id of the
// control that closed it. The message is also the dialog's window text, so that assistive tools and
// window lists can read what the box says. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "UiDialog.h"
#include "VNLSwitchButton.h"

class UiAlertDialog : public UiDialog {
public:
    // A link callback gets the clicked link's address; non-zero ends the dialog as accepted.
    using LinkCallback = std::function<int(const std::wstring& address)>;

    UiAlertDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover, Gdiplus::Bitmap* icon, bool secondButton,
                  bool centre, const std::wstring& secondCaption, const std::wstring& firstCaption);
    ~UiAlertDialog() override;

    BEGIN_MSG_MAP(UiAlertDialog)
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    COMMAND_ID_HANDLER_EX(kDialogCloseButtonId, OnEndButton)
    COMMAND_ID_HANDLER_EX(kDialogFirstButtonId, OnEndButton)
    COMMAND_ID_HANDLER_EX(kDialogSecondButtonId, OnEndButton)
    NOTIFY_HANDLER_EX(kAlertLinkId, NM_CLICK, OnLinkClick)
    NOTIFY_HANDLER_EX(kAlertLinkId, NM_RETURN, OnLinkClick)  // Enter on the focused link follows it too
    MESSAGE_HANDLER_EX(WM_CTLCOLORBTN, OnAlertControlColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnAlertControlColour)
    CHAIN_MSG_MAP(UiDialog)
    END_MSG_MAP()

    static constexpr int kAlertLinkId = 5054;

    // Stores the message, replaces the first caption when one is given, and the parent and size for the
    // modal run.
    void SetContent(const std::wstring& message, const wchar_t* firstCaption, HWND parent, int width, int height);
    void SetHeading(const std::wstring& heading) { m_heading = heading; }
    void SetLinkCallback(LinkCallback callback) { m_linkCallback = std::move(callback); }
    // Runs the dialog modally over the parent given to SetContent; returns 5050, 5051 or 5052.
    INT_PTR Run();
    bool Accepted() const { return m_result; }

    void Show(int command) override;
    void DrawContent(HDC dc, int left, int top, int right, int bottom) override;

    // Where the layout put things, for the owner and for tests.
    RECT MessageRect() const { return m_messageRect; }

protected:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnEndButton(UINT, int id, HWND);
    // Ends a modal run as accepted (5051).
    void Accept() {
        m_result = true;
        EndDialog(kDialogFirstButtonId);
    }
    HFONT MessageFont() const { return m_messageFont.get(); }

private:
    LRESULT OnLinkClick(NMHDR* header);
    LRESULT OnAlertControlColour(WPARAM wParam, LPARAM lParam);
    void Layout();
    int TextLeft() const;  // the message's left edge: right of the icon when there is one

    bool m_result = false;
    bool m_secondButton;
    int m_buttonMarginY = 4;
    int m_buttonMarginX = 10;
    int m_contentTop = 40;
    VNLSwitchButton m_firstButton;
    VNLSwitchButton m_secondButtonControl;
    std::wstring m_heading;
    RECT m_headingRect = {};
    std::wstring m_firstCaption;
    std::wstring m_secondCaption;
    std::wstring m_message;
    RECT m_messageRect = {};
    Gdiplus::Bitmap* m_icon;  // lent
    POINT m_iconPosition = {};
    wtl::UniqueFont m_messageFont;
    wtl::UniqueFont m_headingFont;
    wtl::UniqueFont m_buttonFont;
    bool m_centre;
    HWND m_link = nullptr;
    LinkCallback m_linkCallback;
};
