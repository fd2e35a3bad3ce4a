// The contacts page's iCloud notice; see contacts_notice.h.
#include "contacts_notice.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cwchar>

#include <wtl/GdiObjects.h>

namespace {

const wchar_t kNoticeText[] =
    L"iCloud Contacts is turned on in your device, Trevane cannot fully load your Contacts. Please turn it off and "
    L"then view information on Trevane.";
const wchar_t kNoticeTitle[] = L"How to Turn Off iCloud?";
const wchar_t* const kNoticeSteps[3] = {L"1. Open \"Settings\" on your Device",
                                        L"2. Settings - iCloud - Contacts - Off", L"3. Keep on My iPhone"};

int ImageWidth(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetWidth()) : 0; }
int ImageHeight(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetHeight()) : 0; }

}  // namespace

void ContactsNotice::Create(HWND continueButton, Gdiplus::Bitmap* picture, HFONT textFont, HFONT titleFont,
                            COLORREF caption, COLORREF hot) {
    m_picture = picture;
    m_textFont = textFont;
    m_titleFont = titleFont;
    if (continueButton == nullptr || !m_continue.SubclassWindow(continueButton)) return;
    SendMessageW(continueButton, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), FALSE);
    m_continue.SetSwitchMode(false);
    m_continue.SetColours(caption, RGB(0xFF, 0xFF, 0xFF), hot, RGB(0xFF, 0xFF, 0xFF));
    m_continue.SetText(L"Continue");
    ShowWindow(continueButton, SW_HIDE);
}

bool ContactsNotice::Show(bool show) {
    if (show == m_shown) return false;
    m_shown = show;
    if (m_continue.m_hWnd != nullptr) ShowWindow(m_continue, show ? SW_SHOW : SW_HIDE);
    return true;
}

void ContactsNotice::LayOut(HWND page, const RECT& client) {
    const int width = client.right;
    wtl::WindowDC dc(page);
    RECT text = {20, 0, width - 20, 0};
    {
        wtl::SelectGuard font(dc.get(), m_textFont);
        DrawTextW(dc.get(), kNoticeText, -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    SIZE title = {};
    {
        wtl::SelectGuard font(dc.get(), m_titleFont);
        GetTextExtentPoint32W(dc.get(), kNoticeTitle, static_cast<int>(wcslen(kNoticeTitle)), &title);
    }
    SIZE steps[3] = {};
    {
        wtl::SelectGuard font(dc.get(), m_textFont);
        for (int i = 0; i < 3; ++i) {
            GetTextExtentPoint32W(dc.get(), kNoticeSteps[i], static_cast<int>(wcslen(kNoticeSteps[i])), &steps[i]);
        }
    }
    const int pictureHeight = ImageHeight(m_picture);
    const int buttonHeight = m_continue.PreferredHeight();
    const int textHeight = text.bottom - text.top;
    const int parts = textHeight + title.cy + pictureHeight + steps[0].cy + steps[1].cy + steps[2].cy + buttonHeight;
    int top = (client.bottom - parts - 54) / 2;
    if (top < 1) top = 1;
    // The gaps between the parts add up to the 54 pixels above: 20, 10, 10, 4, 4 and 6.
    m_textRect = RECT{20, top, width - 20, top + textHeight};
    int y = m_textRect.bottom + 20;
    m_titleRect = RECT{(width - title.cx) / 2, y, (width - title.cx) / 2 + title.cx, y + title.cy};
    y = m_titleRect.bottom + 10;
    const int pictureWidth = ImageWidth(m_picture);
    m_pictureRect = RECT{(width - pictureWidth) / 2, y, (width - pictureWidth) / 2 + pictureWidth, y + pictureHeight};
    y = m_pictureRect.bottom + 10;
    const int stepsLeft = (width - std::max({steps[0].cx, steps[1].cx, steps[2].cx})) / 2;
    for (int i = 0; i < 3; ++i) {
        m_stepRects[i] = RECT{stepsLeft, y, stepsLeft + steps[i].cx, y + steps[i].cy};
        y = m_stepRects[i].bottom + (i < 2 ? 4 : 6);
    }
    SetWindowPos(m_continue, nullptr, (width - m_continue.PreferredWidth()) / 2, y, m_continue.PreferredWidth(),
                 buttonHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ContactsNotice::Paint(HDC dc, const RECT& client) const {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    {
        wtl::SelectGuard font(dc, m_textFont);
        RECT text = m_textRect;
        DrawTextW(dc, kNoticeText, -1, &text, DT_WORDBREAK | DT_NOPREFIX);
        for (int i = 0; i < 3; ++i) {
            RECT step = m_stepRects[i];
            DrawTextW(dc, kNoticeSteps[i], -1, &step, DT_SINGLELINE | DT_NOPREFIX);
        }
    }
    {
        wtl::SelectGuard font(dc, m_titleFont);
        RECT title = m_titleRect;
        DrawTextW(dc, kNoticeTitle, -1, &title, DT_SINGLELINE | DT_NOPREFIX);
    }
    if (m_picture != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_picture, static_cast<INT>(m_pictureRect.left), static_cast<INT>(m_pictureRect.top),
                           static_cast<INT>(ImageWidth(m_picture)), static_cast<INT>(ImageHeight(m_picture)));
    }
}
