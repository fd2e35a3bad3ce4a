#pragma once
// UiAboutDialog: the host's about box, a modal alert that shows the program's logo, name and version (with
// a preview mark when the configuration says so), a line inviting the user to the brand's web address as
// a link, a rights line and "OK". UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "UiAlertDialog.h"

class UiAboutDialog : public UiAlertDialog {
public:
    static constexpr int kBrandLinkId = 5053;

    // `logo` is the program icon (lent); `brandAddress` the "url:brand" value; `preview` the product type.
    UiAboutDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover, HICON logo,
                  const std::wstring& brandAddress, int64_t preview);

    BEGIN_MSG_MAP(UiAboutDialog)
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    NOTIFY_HANDLER_EX(kBrandLinkId, NM_CLICK, OnBrandLink)
    CHAIN_MSG_MAP(UiAlertDialog)
    END_MSG_MAP()

    void Paint() override;

private:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    LRESULT OnBrandLink(NMHDR*);
    // Draws `text` centred over the client width from `top`; returns the height it took.
    int DrawCentred(HDC dc, const std::wstring& text, HFONT font, COLORREF colour, int top, int width);

    std::wstring m_productLine;
    std::wstring m_versionLine;
    std::wstring m_informationLine;
    std::wstring m_rightsLine;
    std::wstring m_brandAddress;
    HICON m_logo;
    HWND m_brandLink = nullptr;
    int m_linkTop = 0;
    wtl::UniqueFont m_nameFont;
    wtl::UniqueFont m_versionFont;
    wtl::UniqueFont m_informationFont;
    wtl::UniqueFont m_rightsFont;
};
