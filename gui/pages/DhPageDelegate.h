#pragma once
// DhPageDelegate: what every list page of the plug-ins shares (contacts, notes, bookmarks, voice memos,
// ringtones). A page class derives from wtl::CWindowImpl<Page> and then from DhPageDelegate, and chains
// its message map to the base with CHAIN_PAGE_MESSAGES(). The base owns the page's colours, fonts and
// background brush, the list, the toolbar's buttons in layout order, the search box (an edit with its
// search button and four one-pixel frame lines) and the last clicked row; it builds, places and paints
// them, answers the messages every page answers alike, shows the drop menu, and routes the host's replies
// from the plug-in's receiver to the page (page_replies.h). Each page adds its columns, toolbar entries,
// codes and records.
//
// UI thread, except PageSequence() and DispatchHostReply(), which the receiver calls from the thread that
// delivers the host's commands (they only read the sequence and post).

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include <wtl/GdiObjects.h>

#include "VNLEdit.h"
#include "VNLImgButton.h"
#include "VNLListView.h"
#include "VNLObserver.h"
#include "VNLSubject.h"
#include "VNLSwitchImageButton.h"
#include "image_cache.h"
#include "page_replies.h"

// The system's case-insensitive text order (StrCmpIW) as a plain function, so that the pages' portable
// sorts can take it: StrCmpIW itself has the Win32 calling convention.
int SystemCompareNoCase(const wchar_t* first, const wchar_t* second);

// Lets the base answer the messages every page answers alike; place it last but before
// REFLECT_NOTIFICATIONS().
#define CHAIN_PAGE_MESSAGES()                                      \
    if (ProcessPageMessage(hWnd, uMsg, wParam, lParam, lResult)) { \
        return TRUE;                                               \
    }

class DhPageDelegate : public VNLSubject, public VNLObserver {
public:
    ~DhPageDelegate() override = default;
    // The sequence of the last items batch the page accepted (page_sequence.h).
    virtual int PageSequence() const = 0;

    // Makes the page's window as a child of `parent` at `rect`; null on failure.
    virtual HWND CreatePageWindow(HWND parent, const RECT& rect, DWORD style) = 0;
    // Lays the page out for its current size.
    virtual void LayOut() = 0;
    HWND PageWindow() const { return m_page; }

    // Routes one host reply to `page` (null when the device has no page) by the feature's reply table.
    static void DispatchHostReply(const pages::ReplyTable& table, const DhPageDelegate* page, CommandMessage& message);

protected:
    struct Column {
        const wchar_t* text;
        int width;
    };
    static constexpr int kToolbarHeight = 30;

    explicit DhPageDelegate(ImageCache* images) : m_images(images) {}

    // Runs the search (search button, or Enter in the search edit).
    virtual void RunSearch() = 0;

    // Creation, from the page's WM_CREATE. First the page's look: theme colours ("color:7" background,
    // "color:task:operator:button:pressed" pressed buttons), the background brush and the text and search
    // fonts.
    void CreatePageLook(HWND page);
    // The list (check-box column 0 with empty text, then `columns`), with the check images and the text
    // font; false when the list cannot be made.
    bool CreateList(int id, const std::vector<Column>& columns);
    HWND CreateButtonWindow(int id, const wchar_t* text = L"");
    // A toolbar entry, a push button drawn from `normal` and `pressed` with the caption beside the image;
    // entries are laid out in the order they are made.
    void MakeToolbarButton(VNLSwitchImageButton& button, int id, const wchar_t* caption, const char* normal,
                           const char* pressed);
    // Toolbar entries whose images are "<stem>-normal.png" and "<stem>-pressed.png", made in order.
    struct ToolbarEntry {
        VNLSwitchImageButton* button;
        int id;
        const wchar_t* caption;
        const char* imageStem;
    };
    void MakeToolbar(const std::vector<ToolbarEntry>& entries);
    void MakeImageButton(VNLImgButton& button, int id, const char* normal, const char* pressed, const wchar_t* tip);
    // The search edit with its placeholder and the page's Enter handling, the search button and the frame.
    void CreateSearchBox(int editId, int buttonId);

    // Layout: visible toolbar entries from `firstX`, 20 pixels apart; the search box at the right end of a
    // page `width` wide; column widths as hundredths of the list width less its vertical scroll bar.
    void PlaceToolbar(int firstX);
    void PlaceSearchBox(int width);
    void SetColumnWidths(const std::vector<int>& percents);
    // The toolbar band in the background colour, the white body below it and the line between them.
    void PaintToolbarBand(HDC dc, const RECT& client) const;

    // A toolbar entry goes back to normal once its press is taken, so that the next press counts too.
    void ReleaseToolbarButton(HWND control);
    // Shows the drop menu; the dropped paths when the user chose to drop, else none. Ends the drop.
    std::vector<std::wstring> TakeDroppedPaths(HDROP drop) const;
    // A popup menu of `entries` (id 0: a separator) below `anchor`; the chosen id, 0 when dismissed.
    struct MenuEntry {
        int id;
        const wchar_t* text;
    };
    int TrackMenuBelow(HWND anchor, const std::vector<MenuEntry>& entries) const;
    // A header click on `column` (1 and up): moves the sort arrow there and says the direction; false for
    // the check column, which does not sort. The first click on a column sorts descending.
    bool StepSortArrow(int column, bool& ascending);
    // The rows whose check box is set, in row order.
    std::vector<int> CheckedRows() const;
    // The theme image filed under `key`, or null.
    Gdiplus::Bitmap* Image(const char* key) const;

    bool ProcessPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    HWND m_page = nullptr;
    ImageCache* m_images;  // lent by the host
    int m_lastClickedRow = -1;
    wtl::UniqueFont m_textFont;
    wtl::UniqueFont m_searchFont;
    wtl::UniqueBrush m_brush;
    VNLListView m_list;
    RECT m_listRect = {};
    COLORREF m_background = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_pressed = RGB(0xDC, 0xEB, 0xFA);
    std::vector<VNLSwitchImageButton*> m_toolbar;
    VNLEdit m_searchEdit;
    VNLImgButton m_searchButton;
    HWND m_frameLines[4] = {};

private:
    static LRESULT CALLBACK SearchEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_searchPreviousProc = nullptr;
};
