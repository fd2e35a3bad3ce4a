#pragma once
// The iCloud notice that the notes and bookmarks pages show in place of their list while the device keeps
// that data in iCloud: a body text, a title, a picture with three steps above it, and a "Continue" button
// that asks the page to load again. The panel lays itself out in the page's client area and paints into the
// page's off-screen copy; the page decides which of its controls the panel hides. UI thread only.

#include <windows.h>

#include <string>
#include <vector>

#include "VNLSwitchButton.h"

namespace Gdiplus {
class Bitmap;
}

struct NoticeTexts {
    const wchar_t* body;
    const wchar_t* title;
    const wchar_t* steps[3];
};

class NoticePanel {
public:
    // Makes the hidden "Continue" button (`continueId`) on `page`; fonts and picture are lent.
    void Create(HWND page, int continueId, const NoticeTexts& texts, Gdiplus::Bitmap* picture, HFONT textFont,
                HFONT titleFont, COLORREF caption, COLORREF hot);
    bool Shown() const { return m_shown; }
    // Shows or hides the panel, hiding or showing `pageControls` the other way; false when nothing changed.
    bool Show(bool show, const std::vector<HWND>& pageControls);
    void LayOut(const RECT& client);
    void Paint(HDC dc, const RECT& client) const;

private:
    HWND m_page = nullptr;
    NoticeTexts m_texts = {};
    Gdiplus::Bitmap* m_picture = nullptr;
    HFONT m_textFont = nullptr;
    HFONT m_titleFont = nullptr;
    VNLSwitchButton m_continue;
    bool m_shown = false;
    RECT m_bodyRect = {};
    RECT m_titleRect = {};
    RECT m_stepRects[3] = {};
    POINT m_picturePlace = {};
};
