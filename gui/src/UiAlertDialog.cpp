// UiAlertDialog; see UiAlertDialog.h.
#include "UiAlertDialog.h"

#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>

#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLTakeText.h>

#include "dialog_layout.h"
#include "link_runs.h"

namespace {
// Pixels the link control keeps free at the end of its lines.
constexpr int kLinkWrapSlack = 4;
}  // namespace

UiAlertDialog::UiAlertDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover, Gdiplus::Bitmap* icon,
                             bool secondButton, bool centre, const std::wstring& secondCaption,
                             const std::wstring& firstCaption)
    : UiDialog(closeNormal, closeHover),
      m_secondButton(secondButton),
      m_firstCaption(firstCaption),
      m_secondCaption(secondCaption),
      m_icon(icon),
      m_messageFont(VNLUtilityApp::GetFont(16, false, L"Arial")),
      m_headingFont(VNLUtilityApp::GetFont(17, true, L"Arial")),
      m_buttonFont(VNLUtilityApp::GetFont(16, true, L"Arial")),
      m_centre(centre) {}

UiAlertDialog::~UiAlertDialog() = default;

void UiAlertDialog::SetContent(const std::wstring& message, const wchar_t* firstCaption, HWND parent, int width,
                               int height) {
    m_message = message;
    if (firstCaption != nullptr) m_firstCaption = firstCaption;
    SetGeometry(parent, width, height);
}

INT_PTR UiAlertDialog::Run() {
    m_result = false;
    return DoModal(m_parent, kDialogTemplateId);
}

void UiAlertDialog::Show(int command) {
    // The modal loop disables the parent itself.
    if (m_hWnd != nullptr) ShowWindow(m_hWnd, command);
}

LRESULT UiAlertDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiDialog::OnInitDialog(focus, init);
    const COLORREF normal = ThemeColour("color:1", kDialogGrey);
    const COLORREF hover = ThemeColour("color:12", RGB(0xC3, 0xC3, 0xC3));
    CreateTextButton(m_firstButton, kDialogFirstButtonId, m_firstCaption, m_buttonFont.get(), normal, hover,
                     m_buttonMarginX, m_buttonMarginY);
    CreateTextButton(m_secondButtonControl, kDialogSecondButtonId, m_secondCaption, m_buttonFont.get(), normal, hover,
                     m_buttonMarginX, m_buttonMarginY);
    if (!m_secondButton && m_secondButtonControl.m_hWnd != nullptr) {
        ShowWindow(m_secondButtonControl.m_hWnd, SW_HIDE);
    }

    std::wstring plain;
    std::wstring readable = m_message;  // the dialog's own text: the message as it reads, unbroken
    if (trv::SplitLinkRuns(plain, m_message)) {
        readable = plain;
        // The link control's own wrapping cuts words apart: its lines are broken here, at blanks, to the
        // width the layout gives the message.
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::WindowDC windowDc(m_hWnd);
        wtl::SelectGuard font(windowDc.get(), m_messageFont.get());
        const auto measure = [dc = windowDc.get()](const std::wstring& run) {
            SIZE extent = {};
            GetTextExtentPoint32W(dc, run.c_str(), static_cast<int>(run.size()), &extent);
            return static_cast<int32_t>(extent.cx);
        };
        const std::wstring wrapped =
            trv::WrapAtBlanks(m_message, client.right - 20 - TextLeft() - kLinkWrapSlack, measure);
        m_link = CreateWindowExW(0, WC_LINK, wrapped.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAlertLinkId)), GetModuleHandleW(nullptr),
                                 nullptr);
        if (m_link != nullptr) {
            SendMessageW(m_link, WM_SETFONT, reinterpret_cast<WPARAM>(m_messageFont.get()), FALSE);
            (void)trv::SplitLinkRuns(m_message, wrapped);  // the plain lines decide the layout
        }
    }
    SetWindowTextW(m_hWnd, (m_heading.empty() ? readable : m_heading + L"\n" + readable).c_str());
    Layout();

    if (m_centre) {
        HWND owner = GetWindow(m_hWnd, GW_OWNER);
        RECT area = {};
        if (owner == nullptr || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        SetWindowPos(m_hWnd, nullptr, area.left + ((area.right - area.left) - m_width) / 2,
                     area.top + ((area.bottom - area.top) - m_height) / 2, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    }
    return TRUE;
}

int UiAlertDialog::TextLeft() const { return m_icon != nullptr ? static_cast<int>(m_icon->GetWidth()) + 40 : 20; }

void UiAlertDialog::Layout() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int clientWidth = client.right - client.left;
    int clientHeight = client.bottom - client.top;

    const int textLeft = TextLeft();
    if (m_icon != nullptr) {
        m_iconPosition = POINT{20, m_contentTop};
    }
    int textTop = m_contentTop;
    wtl::WindowDC windowDc(m_hWnd);
    HDC dc = windowDc.get();
    if (!m_heading.empty()) {
        wtl::SelectGuard font(dc, m_headingFont.get());
        SIZE extent = {};
        GetTextExtentPoint32W(dc, m_heading.c_str(), static_cast<int>(m_heading.size()), &extent);
        m_headingRect = RECT{textLeft, m_contentTop, textLeft + extent.cx, m_contentTop + extent.cy};
        textTop = m_contentTop + extent.cy + 16;
    }
    RECT measure = {textLeft, textTop, clientWidth - 20, textTop};
    {
        wtl::SelectGuard font(dc, m_messageFont.get());
        DrawTextW(dc, m_message.c_str(), -1, &measure, DT_NOPREFIX | DT_CALCRECT | DT_WORDBREAK);
    }
    // A link control draws its links a little taller than the plain text measures.
    const int linkSlack = m_link != nullptr ? 6 : 0;
    m_messageRect = RECT{textLeft, textTop, clientWidth - 20, textTop + (measure.bottom - measure.top) + linkSlack};
    // A message longer than the caller's size allows grows the dialog downwards rather than running under the
    // buttons or off the bottom.
    const int buttonHeight = std::max(m_firstButton.PreferredHeight(), m_secondButtonControl.PreferredHeight());
    const int needed = m_messageRect.bottom + 4 + buttonHeight + 10;
    if (needed > clientHeight) {
        RECT window = {};
        GetWindowRect(m_hWnd, &window);
        m_height += needed - clientHeight;
        SetWindowPos(m_hWnd, nullptr, 0, 0, window.right - window.left,
                     window.bottom - window.top + needed - clientHeight, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
        clientHeight = needed;
    }
    if (m_link != nullptr) {
        SetWindowPos(m_link, nullptr, m_messageRect.left, m_messageRect.top, m_messageRect.right - m_messageRect.left,
                     m_messageRect.bottom - m_messageRect.top, SWP_NOZORDER);
    }

    // Buttons in the bottom-right corner, 10 pixels from the edges; the first left of the second.
    const bool secondShown = m_secondButton && m_secondButtonControl.m_hWnd != nullptr;
    const trv::CornerButtons corner = trv::PlaceCornerButtons(
        clientWidth, clientHeight, {m_firstButton.PreferredWidth(), m_firstButton.PreferredHeight()},
        {m_secondButtonControl.PreferredWidth(), m_secondButtonControl.PreferredHeight()}, secondShown);
    const auto place = [](HWND button, const RECT& rect) {
        if (button != nullptr) {
            SetWindowPos(button, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                         SWP_NOZORDER);
        }
    };
    if (secondShown) place(m_secondButtonControl.m_hWnd, corner.second);
    place(m_firstButton.m_hWnd, corner.first);
}

void UiAlertDialog::DrawContent(HDC dc, int, int, int, int) {
    if (m_icon != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_icon, static_cast<INT>(m_iconPosition.x), static_cast<INT>(m_iconPosition.y),
                           static_cast<INT>(m_icon->GetWidth()), static_cast<INT>(m_icon->GetHeight()));
    }
    ::SetTextColor(dc, RGB(0, 0, 0));
    if (m_link == nullptr) {
        wtl::SelectGuard font(dc, m_messageFont.get());
        RECT rect = m_messageRect;
        DrawTextW(dc, m_message.c_str(), -1, &rect, DT_EDITCONTROL | DT_WORDBREAK);
    }
    if (!m_heading.empty()) {
        wtl::SelectGuard font(dc, m_headingFont.get());
        RECT rect = m_headingRect;
        DrawTextW(dc, m_heading.c_str(), -1, &rect, 0);
    }
}

void UiAlertDialog::OnEndButton(UINT, int id, HWND) {
    m_result = id == kDialogFirstButtonId;
    EndDialog(id);
}

LRESULT UiAlertDialog::OnLinkClick(NMHDR* header) {
    const auto* link = reinterpret_cast<const NMLINK*>(header);
    const std::wstring address = link->item.szUrl;
    if (!m_linkCallback) {
        VNLUtilityApp::OpenUrl(VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(address.c_str())).c_str());
    } else if (m_linkCallback(address) != 0) {
        m_result = true;
        EndDialog(kDialogFirstButtonId);
    }
    return 0;
}

LRESULT UiAlertDialog::OnAlertControlColour(WPARAM wParam, LPARAM lParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (reinterpret_cast<HWND>(lParam) == m_link && m_link != nullptr) {
        SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}
