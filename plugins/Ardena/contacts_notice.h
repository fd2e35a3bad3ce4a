#pragma once
// The iCloud notice of the contacts page, shown in place of everything else while the device keeps its
// contacts in iCloud: a body text, a centred title, the picture, the three steps below it and a "Continue"
// button that asks the page to load again. Unlike the notes and bookmarks notice (notice_panel.h) the
// steps stand one under the other below the picture. The notice lays itself out in the page's client area
// and paints into the page's off-screen copy; the page hides its own controls. UI thread only.

#include <windows.h>

#include "VNLSwitchButton.h"

namespace Gdiplus {
class Bitmap;
}

class ContactsNotice {
public:
    // Takes `continueButton` (a button window of the page) as the hidden "Continue" button; fonts and
    // picture are lent.
    void Create(HWND continueButton, Gdiplus::Bitmap* picture, HFONT textFont, HFONT titleFont, COLORREF caption,
                COLORREF hot);
    bool Shown() const { return m_shown; }
    // Shows or hides the notice's button; false when nothing changed.
    bool Show(bool show);
    void LayOut(HWND page, const RECT& client);
    void Paint(HDC dc, const RECT& client) const;

private:
    Gdiplus::Bitmap* m_picture = nullptr;
    HFONT m_textFont = nullptr;
    HFONT m_titleFont = nullptr;
    VNLSwitchButton m_continue;
    bool m_shown = false;
    RECT m_textRect = {};
    RECT m_titleRect = {};
    RECT m_pictureRect = {};
    RECT m_stepRects[3] = {};
};
