#pragma once
// UiSheetDialog: a modeless notice strip that slides open where its owner places it, shows its text
// as a single link (on one line, or wrapped onto as many as a long notice needs, the strip as tall as
// they are), and hides itself five seconds after it is fully open (later while the pointer rests on it).
// It is kept right above the main window while it slides open. A click on the
// text runs the owner's click action; the close button hides it at once. It does not disable its parent
// and cannot be dragged. It has no subject/observer pair of its own: the base already is a subject and an
// observer, and a second pair would carry no traffic. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "UiDialog.h"
#include "dialog_layout.h"

class UiSheetDialog : public UiDialog {
public:
    using ClickAction = std::function<void(UiSheetDialog&)>;

    static constexpr int kSheetHeight = 40;
    static constexpr int kSheetLinkId = 5051;
    static constexpr UINT_PTR kSlideTimer = 1;
    static constexpr UINT_PTR kHideTimer = 2;
    static constexpr UINT kHoverRecheckMs = 500;  // how often a notice under the pointer looks again
    static constexpr COLORREF kSheetColour = 0xD2FCFF;

    UiSheetDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);
    ~UiSheetDialog() override;

    BEGIN_MSG_MAP(UiSheetDialog)
    if (uMsg == WM_DESTROY) ReleaseLinkFonts();  // and on to the default handling
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    MSG_WM_TIMER(OnTimer)
    CLOSE_REQUEST_AS_CLOSE_BUTTON()
    COMMAND_ID_HANDLER_EX(kDialogCloseButtonId, OnCloseButton)
    NOTIFY_HANDLER_EX(kSheetLinkId, NM_CLICK, OnLinkClick)
    MESSAGE_HANDLER_EX(WM_CTLCOLORBTN, OnSheetControlColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnSheetControlColour)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnSheetButtonDown)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    // Creates the strip (hidden) for `parent`, `width` wide and 40 high (taller for a long text).
    int Create(HWND parent, int width, int height = kSheetHeight) override;
    // The whole line becomes one link; writes the calling thread's id to standard output for diagnosis.
    void SetText(const std::wstring& text);
    void SetClickAction(ClickAction action) { m_clickAction = std::move(action); }
    // Places the strip at `place` (screen coordinates; its height stays the strip's own), which also becomes
    // its width when it opens; the close button follows the right edge.
    void PlaceAt(const RECT& place);
    // SW_SHOW starts the slide-in again, also on an open sheet; no parent disabling.
    void Show(int command) override;
    void Paint() override;

    // The slide step and the time the sheet stays open (tests shorten them).
    void SetTiming(const trv::SheetTiming& timing) { m_timing = timing; }
    HWND LinkWindow() const { return m_link; }

private:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnTimer(UINT_PTR id);
    void OnCloseButton(UINT, int, HWND);
    LRESULT OnLinkClick(NMHDR*);
    LRESULT OnSheetControlColour(WPARAM wParam, LPARAM lParam);
    LRESULT OnSheetButtonDown(WPARAM, LPARAM) { return 0; }
    void MakeLink(const std::wstring& markup);
    // Places the sheet right above the main window in the stack of windows.
    void KeepAboveFrame();
    // Makes the link of the text, broken at blanks into the lines the strip's width holds, and the full
    // height that holds them; the text's size on one line.
    void WrapToWidth();
    SIZE OneLineSize();

    VNLImgButton m_sheetClose;
    HWND m_link = nullptr;
    ClickAction m_clickAction;
    trv::SheetTiming m_timing;
    std::wstring m_text;
    wtl::UniqueFont m_linkFont;
    wtl::UniqueBrush m_sheetBrush;
};
