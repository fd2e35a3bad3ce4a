#pragma once
// UiDialog: the base of the host's own dialogs. A borderless dialog (template 201 of the host's
// resources) with a 26-pixel caption bar in the theme's caption colour, a white caption text, a grey
// one-pixel frame, an image close button (id 5050) in the top-right corner, a drop shadow, centring on
// its parent and dragging by any point of its body. Showing it disables its parent, which makes it modal
// without a modal loop; callers keep the objects and show and hide them again. Subclasses draw their
// body in DrawContent. UI thread only.

#include <windows.h>

#include <memory>
#include <string>

#include <wtl/CDialogImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "CThemedShadowWnd.h"
#include "VNLImgButton.h"
#include "VNLSwitchButton.h"
#include "VNLObserver.h"
#include "VNLSubject.h"
#include "theme_colour.h"

namespace Gdiplus {
class Bitmap;
}

constexpr int kDialogTemplateId = 201;
constexpr int kDialogCloseButtonId = 5050;
constexpr int kDialogFirstButtonId = 5051;
constexpr int kDialogSecondButtonId = 5052;
constexpr int kDialogCaptionHeight = 26;
constexpr COLORREF kDialogGrey = RGB(0x7F, 0x7F, 0x7F);

// Alt+F4, the system menu's Close and Escape (IDCANCEL) end a dialog as its close button does, through the
// close button's handler of the most derived class, so that what the dialog disabled is enabled again and a
// modal loop ends with the close button's id.
#define CLOSE_REQUEST_AS_CLOSE_BUTTON()                                                            \
    if (uMsg == WM_CLOSE || (uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL && lParam == 0)) { \
        ::SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(kDialogCloseButtonId, BN_CLICKED), 0);          \
        lResult = 0;                                                                                \
        return TRUE;                                                                                \
    }

class UiDialog : public wtl::CDialogImpl<UiDialog>, public VNLSubject, public VNLObserver {
public:
    // The close button's images are lent (normally from the host's ImageCache).
    UiDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);
    ~UiDialog() override;

    BEGIN_MSG_MAP(UiDialog)
    if (uMsg == WM_DESTROY) ReleaseLinkFonts();  // and on to the default handling
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    CLOSE_REQUEST_AS_CLOSE_BUTTON()
    COMMAND_ID_HANDLER_EX(kDialogCloseButtonId, OnCloseButton)
    MESSAGE_HANDLER_EX(WM_CTLCOLORBTN, OnControlColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnControlColour)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnBodyButtonDown)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    // Creates the dialog modelessly (hidden, centred on `parent`, shadow made); returns 1.
    virtual int Create(HWND parent, int width, int height);
    // Shows or hides the dialog and its shadow; SW_SHOW disables the parent, anything else enables it.
    virtual void Show(int command);
    virtual void ResetState();
    virtual void MarkDone() { m_done = true; }
    virtual void MoveBy(int dx, int dy);
    virtual void Paint();
    // Draws the body below the caption into `dc`; empty here.
    virtual void DrawContent(HDC dc, int left, int top, int right, int bottom);

    void SetCaption(const std::wstring& caption) { m_caption = caption; }
    bool IsDone() const { return m_done; }
    bool IsClosed() const { return m_closed; }
    HWND Parent() const { return m_parent; }
    COLORREF CaptionColour() const { return m_captionColour; }
    CThemedShadowWnd* Shadow() const { return m_shadow.get(); }

protected:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnCloseButton(UINT, int, HWND);
    LRESULT OnControlColour(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)); }
    LRESULT OnBodyButtonDown(WPARAM, LPARAM lParam);
    // Remembers what a modal run needs before it starts.
    void SetGeometry(HWND parent, int width, int height) {
        m_parent = parent;
        m_width = width;
        m_height = height;
    }
    HFONT Font() const { return m_font.get(); }
    // An owner-drawn text button `id` with white text on `normal` (`hover` under the mouse), sized to its
    // caption and the margins; the caption is also its window text, for accessibility tools.
    void CreateTextButton(VNLSwitchButton& button, int id, const std::wstring& caption, HFONT font, COLORREF normal,
                          COLORREF hover, int marginX, int marginY, bool visible = true);
    // Takes this dialog's fonts back from its link controls before they go: some link controls delete the
    // font they were given when they are destroyed, which would leave the dialog's font object dangling.
    void ReleaseLinkFonts();
    // A one-pixel frame around `client` in `colour`.
    static void DrawFrame(HDC dc, const RECT& client, COLORREF colour);

    VNLImgButton m_closeButton;
    HWND m_parent = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_done = true;
    bool m_closed = true;
    Gdiplus::Bitmap* m_closeNormal;  // lent
    Gdiplus::Bitmap* m_closeHover;   // lent
    std::unique_ptr<CThemedShadowWnd> m_shadow;
    std::wstring m_caption;
    wtl::UniqueFont m_font;
    COLORREF m_captionColour = kDialogGrey;
};
