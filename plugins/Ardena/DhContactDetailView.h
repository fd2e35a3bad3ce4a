#pragma once
// DhContactDetailView: the read-only preview pane of the contacts page. It shows one contact as a picture
// with the contact's whole name and groups beside it (wrapped onto further lines when long), then titled sections of
// "label:  value" lines, laid out once per contact, painted through an off-screen bitmap and scrolled vertically. The
// pane holds the contact it shows through a shared pointer, so a contact that leaves the page while it is shown stays
// valid until the page clears the pane. The picture is lent from the host's ImageCache. UI thread only.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "contact_records.h"
#include "image_cache.h"

class DhContactDetailView : public wtl::CWindowImpl<DhContactDetailView> {
public:
    DECLARE_WND_CLASS_EX(L"DhContactDetailView", 0, nullptr)

    explicit DhContactDetailView(ImageCache* images);
    ~DhContactDetailView() override;

    BEGIN_MSG_MAP(DhContactDetailView)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_SIZE(OnSize)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER_EX(WM_VSCROLL, OnVScroll)
    MESSAGE_HANDLER_EX(WM_MOUSEWHEEL, OnMouseWheel)
    MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
    END_MSG_MAP()

    // Shows `contact` with the page's text of its groups; null empties the pane.
    void SetContact(std::shared_ptr<const iOSContact> contact, const std::wstring& groupText);
    const iOSContact* Contact() const { return m_contact.get(); }
    // What the pane shows, one text per laid-out item (the header item gives the display name), for tests
    // and for the page's own checks.
    std::vector<std::wstring> ShownTexts() const;
    int ContentHeight() const { return m_contentHeight; }

    enum class ItemKind : int32_t { kLine = 0, kTitle = 1, kHeader = 2 };
    struct DetailItem {
        std::wstring text;
        RECT rect;   // content coordinates
        HFONT font;  // borrowed from the view
        ItemKind kind;
    };

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    void OnSize(UINT, int width, int height);
    void OnPaint();
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    LRESULT OnVScroll(WPARAM wParam, LPARAM);
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM);
    bool OnLButtonDown(WPARAM, LPARAM, LRESULT&);

    void LayOut();
    void AddSection(HDC dc, const std::wstring& title, const std::vector<std::pair<std::wstring, std::wstring>>& lines,
                    int& y);
    void ScrollTo(int position, bool updateNow);

    std::vector<DetailItem> m_items;
    RECT m_nameRect = {};  // the header's name and group line, content coordinates
    RECT m_groupRect = {};
    RECT m_client = {};
    COLORREF m_background = RGB(0xFF, 0xFF, 0xFF);
    wtl::UniqueBrush m_brush;
    ImageCache* m_images;                  // the host's, lent
    Gdiplus::Bitmap* m_picture = nullptr;  // lent
    std::shared_ptr<const iOSContact> m_contact;
    int m_contentHeight = 0;
    wtl::UniqueFont m_bodyFont;
    wtl::UniqueFont m_headingFont;
    wtl::UniqueFont m_nameFont;
    int m_margin = 8;
    int m_lineGap = 8;
    int m_pictureGap = 20;
    std::wstring m_groupLine;
    std::vector<std::wstring> m_titles;
};
