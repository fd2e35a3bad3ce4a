// The iCloud notice of the notes and bookmarks pages; see notice_panel.h.
#include "notice_panel.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cwchar>

#include <wtl/GdiObjects.h>

namespace {

int ImageWidth(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetWidth()) : 0; }
int ImageHeight(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetHeight()) : 0; }

SIZE Measure(HDC dc, HFONT font, const wchar_t* text) {
    wtl::SelectGuard select(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    return size;
}

}  // namespace

void NoticePanel::Create(HWND page, int continueId, const NoticeTexts& texts, Gdiplus::Bitmap* picture, HFONT textFont,
                         HFONT titleFont, COLORREF caption, COLORREF hot) {
    m_page = page;
    m_texts = texts;
    m_picture = picture;
    m_textFont = textFont;
    m_titleFont = titleFont;
    HWND window =
        CreateWindowExW(0, L"BUTTON", L"Continue", WS_CHILD | BS_OWNERDRAW, 0, 0, 10, 10, page,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(continueId)), GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr || !m_continue.SubclassWindow(window)) return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), FALSE);
    m_continue.SetSwitchMode(false);
    m_continue.SetMargins(40, 8);
    m_continue.SetRounded(true, RGB(0xFF, 0xFF, 0xFF));
    m_continue.SetBorderColour(static_cast<int32_t>(caption));
    m_continue.SetColours(caption, RGB(0xFF, 0xFF, 0xFF), hot, RGB(0xFF, 0xFF, 0xFF));
    m_continue.SetText(L"Continue");
}

bool NoticePanel::Show(bool show, const std::vector<HWND>& pageControls) {
    if (show == m_shown) return false;
    m_shown = show;
    for (HWND control : pageControls) {
        if (control != nullptr) ShowWindow(control, show ? SW_HIDE : SW_SHOW);
    }
    if (m_continue.m_hWnd != nullptr) ShowWindow(m_continue, show ? SW_SHOW : SW_HIDE);
    return true;
}

void NoticePanel::LayOut(const RECT& client) {
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    wtl::WindowDC dc(m_page);
    RECT body = {20, 0, width - 20, 0};
    {
        wtl::SelectGuard select(dc.get(), m_textFont);
        DrawTextW(dc.get(), m_texts.body, -1, &body, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    const int bodyHeight = body.bottom - body.top;
    const SIZE step = Measure(dc.get(), m_textFont, m_texts.steps[0]);
    const SIZE title = Measure(dc.get(), m_titleFont, m_texts.title);
    const int pictureWidth = ImageWidth(m_picture);
    const int pictureHeight = ImageHeight(m_picture);
    const int buttonHeight = m_continue.PreferredHeight();
    int top = (height - buttonHeight - pictureHeight - step.cy - title.cy - bodyHeight - 54) / 2;
    if (top < 0) top = 1;
    m_bodyRect = RECT{20, top, width - 20, top + bodyHeight};
    m_titleRect = RECT{20, m_bodyRect.bottom + 20, 20 + title.cx, m_bodyRect.bottom + 20 + title.cy};
    m_picturePlace = POINT{(width - pictureWidth) / 2, m_titleRect.bottom + step.cy + 10};
    // The three steps stand in one row above the picture, in columns wide enough for the widest of them,
    // the row centred on the page.
    int column = 220;
    for (const wchar_t* text : m_texts.steps) {
        column = std::max(column, static_cast<int>(Measure(dc.get(), m_textFont, text).cx) + 12);
    }
    const int stepsLeft = std::max(20, (width - 3 * column) / 2);
    const int stepTop = m_titleRect.bottom + 10;
    for (int i = 0; i < 3; ++i) {
        m_stepRects[i] = RECT{stepsLeft + i * column, stepTop, stepsLeft + (i + 1) * column, stepTop + step.cy};
    }
    const int buttonWidth = m_continue.PreferredWidth();
    SetWindowPos(m_continue, nullptr, (width - buttonWidth) / 2, m_picturePlace.y + pictureHeight + 24, buttonWidth,
                 buttonHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void NoticePanel::Paint(HDC dc, const RECT& client) const {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    {
        wtl::SelectGuard select(dc, m_textFont);
        RECT body = m_bodyRect;
        DrawTextW(dc, m_texts.body, -1, &body, DT_WORDBREAK | DT_NOPREFIX);
        for (int i = 0; i < 3; ++i) {
            RECT step = m_stepRects[i];
            DrawTextW(dc, m_texts.steps[i], -1, &step, DT_SINGLELINE | DT_NOPREFIX);
        }
    }
    {
        wtl::SelectGuard select(dc, m_titleFont);
        RECT title = m_titleRect;
        DrawTextW(dc, m_texts.title, -1, &title, DT_SINGLELINE | DT_NOPREFIX);
    }
    if (m_picture != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_picture, static_cast<INT>(m_picturePlace.x), static_cast<INT>(m_picturePlace.y),
                           static_cast<INT>(ImageWidth(m_picture)), static_cast<INT>(ImageHeight(m_picture)));
    }
}
