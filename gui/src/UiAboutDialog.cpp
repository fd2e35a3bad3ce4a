// The about dialog; see UiAboutDialog.h.
#include "UiAboutDialog.h"

#include <commctrl.h>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityApp.h>

#include "product_identity.h"

namespace {

constexpr int kBandBottom = 196;
constexpr int kLogoSize = 96;
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

}  // namespace

UiAboutDialog::UiAboutDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover, HICON logo,
                             const std::wstring& brandAddress, int64_t preview)
    : UiAlertDialog(closeNormal, closeHover, nullptr, false, true, L"", L"OK"),
      m_productLine(trv::ProductNameW()),
      m_versionLine(L"Version " + trv::VersionW() + (preview != 0 ? L" (Preview)" : L"")),
      m_informationLine(L"For more information about " + trv::BrandWordW() + L", please visit:"),
      m_rightsLine(L"Copyright \u00A9 " + trv::BuildYearW() + L" " + trv::BrandWordW() + L". All rights reserved."),
      m_brandAddress(brandAddress),
      m_logo(logo),
      m_nameFont(VNLUtilityApp::GetFont(18, true, L"Arial")),
      m_versionFont(VNLUtilityApp::GetFont(16, false, L"Arial")),
      m_informationFont(VNLUtilityApp::GetFont(17, true, L"Arial")),
      m_rightsFont(VNLUtilityApp::GetFont(17, false, L"Arial")) {}

LRESULT UiAboutDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiAlertDialog::OnInitDialog(focus, init);
    // The link sits in the gap between the information line and the rights line.
    wtl::WindowDC windowDc(m_hWnd);
    wtl::SelectGuard font(windowDc.get(), m_versionFont.get());
    SIZE text = {};
    GetTextExtentPoint32W(windowDc.get(), m_brandAddress.c_str(), static_cast<int>(m_brandAddress.size()), &text);
    SIZE line = {};
    GetTextExtentPoint32W(windowDc.get(), L"g", 1, &line);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    m_linkTop = kBandBottom + 16 + 24 + 4;
    const std::wstring markup = L"<A HREF=\"" + m_brandAddress + L"\">" + m_brandAddress + L"</A>";
    m_brandLink =
        CreateWindowExW(0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE, (client.right - text.cx) / 2, m_linkTop,
                        text.cx + 4, line.cy + 2, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBrandLinkId)),
                        GetModuleHandleW(nullptr), nullptr);
    if (m_brandLink != nullptr) {
        SendMessageW(m_brandLink, WM_SETFONT, reinterpret_cast<WPARAM>(m_versionFont.get()), FALSE);
    }
    return TRUE;
}

LRESULT UiAboutDialog::OnBrandLink(NMHDR*) {
    if (!m_brandAddress.empty()) {
        VNLUtilityApp::OpenUrl(VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(m_brandAddress.c_str())).c_str());
    }
    return 0;
}

int UiAboutDialog::DrawCentred(HDC dc, const std::wstring& text, HFONT font, COLORREF colour, int top, int width) {
    wtl::SelectGuard select(dc, font);
    ::SetTextColor(dc, colour);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    RECT rect = {0, top, width, top + extent.cy};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    return extent.cy;
}

void UiAboutDialog::Paint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    SetBkMode(dc, TRANSPARENT);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    {
        wtl::UniqueBrush band(CreateSolidBrush(CaptionColour()));
        RECT top = {0, 0, client.right, kBandBottom};
        FillRect(dc, &top, band.get());
        wtl::UniquePen rule(CreatePen(PS_SOLID, 2, ThemeColour("color:2", RGB(0xC3, 0xC3, 0xC3))));
        wtl::SelectGuard pen(dc, rule.get());
        MoveToEx(dc, 0, kBandBottom, nullptr);
        LineTo(dc, client.right, kBandBottom);
    }
    if (m_logo != nullptr) {
        DrawIconEx(dc, (client.right - kLogoSize) / 2, 28, m_logo, kLogoSize, kLogoSize, 0, nullptr, DI_NORMAL);
    }
    int top = 136;
    top += DrawCentred(dc, m_productLine, m_nameFont.get(), kWhite, top, client.right) + 16;
    DrawCentred(dc, m_versionLine, m_versionFont.get(), kWhite, top, client.right);
    // Below the band: the information line, the link under it, then the rights line.
    top = kBandBottom + 16;
    DrawCentred(dc, m_informationLine, m_informationFont.get(), RGB(0, 0, 0), top, client.right);
    DrawCentred(dc, m_rightsLine, m_rightsFont.get(), kDialogGrey, m_linkTop + 40, client.right);
    DrawFrame(dc, client, RGB(0xDD, 0xDD, 0xDD));
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}
