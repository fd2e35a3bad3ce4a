// The update list dialog; see UiUpdateListDialog.h.
#include "UiUpdateListDialog.h"

#include <commctrl.h>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUserDefaults.h>

namespace {

constexpr int kBandBottom = 280;
constexpr int kVisibleNoteLines = 9;
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

std::wstring UrlDefaultText(const char* key) {
    VNLUserDefaults* store = VNLUserDefaults::GetUserDefaults("url");
    if (store == nullptr || !store->IsOk()) return std::wstring();
    return VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(VNLTakeText(store->GetString(key)).c_str()));
}

}  // namespace

UiUpdateListDialog::UiUpdateListDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover)
    : UiDialog(closeNormal, closeHover),
      m_headingFont(VNLUtilityApp::GetFont(18, true, L"Arial")),
      m_textFont(VNLUtilityApp::GetFont(16, false, L"Arial")),
      m_buttonFont(VNLUtilityApp::GetFont(16, true, L"Arial")) {}

UiUpdateListDialog::~UiUpdateListDialog() = default;

LRESULT UiUpdateListDialog::OnInitDialog(HWND focus, LPARAM init) {
    UiDialog::OnInitDialog(focus, init);
    m_band = ThemeColour("color:1", kDialogGrey);
    m_rule = ThemeColour("color:2", RGB(0xC3, 0xC3, 0xC3));
    m_bandBrush.Reset(CreateSolidBrush(m_band));
    const COLORREF hover = ThemeColour("color:12", RGB(0xC3, 0xC3, 0xC3));
    CreateTextButton(m_laterButton, kLaterButtonId, L"Remind Me Later", m_buttonFont.get(), m_band, hover, 20, 8);
    CreateTextButton(m_updateButton, kUpdateButtonId, L"Update Now", m_buttonFont.get(),
                     ThemeColour("color:update", RGB(0xF0, 0x8A, 0x24)),
                     ThemeColour("color:update-hover", RGB(0xF6, 0xA8, 0x5A)), 20, 8);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int laterWidth = m_laterButton.PreferredWidth();
    const int buttonHeight = m_laterButton.PreferredHeight();
    const int laterX = client.right - 20 - laterWidth;
    const int buttonY = client.bottom - 20 - buttonHeight;
    SetWindowPos(m_laterButton.m_hWnd, nullptr, laterX, buttonY, laterWidth, buttonHeight, SWP_NOZORDER);
    const int updateWidth = m_updateButton.PreferredWidth();
    SetWindowPos(m_updateButton.m_hWnd, nullptr, laterX - 20 - updateWidth, buttonY, updateWidth,
                 m_updateButton.PreferredHeight(), SWP_NOZORDER);

    m_history = UrlDefaultText("url:history");
    const std::wstring markup = L"<A HREF=\"" + m_history + L"\">Read More Versions</A>";
    wtl::WindowDC windowDc(m_hWnd);
    wtl::SelectGuard font(windowDc.get(), m_textFont.get());
    SIZE text = {};
    GetTextExtentPoint32W(windowDc.get(), L"Read More Versions", 18, &text);
    // The link sits on the white part below the band, left of the buttons: the link colour cannot be read
    // on the band's colour.
    m_link = CreateWindowExW(0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE, 40, kBandBottom + 10, text.cx + 4,
                             text.cy + 2, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLinkId)),
                             GetModuleHandleW(nullptr), nullptr);
    if (m_link != nullptr) SendMessageW(m_link, WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont.get()), FALSE);
    m_notes = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 40,
                              80, m_width - 80, 150, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNotesId)),
                              GetModuleHandleW(nullptr), nullptr);
    if (m_notes != nullptr) SendMessageW(m_notes, WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont.get()), FALSE);
    return TRUE;
}

void UiUpdateListDialog::AppendNotes(const std::wstring& text) {
    if (m_notes == nullptr) return;
    const int end = GetWindowTextLengthW(m_notes);
    SendMessageW(m_notes, EM_SETSEL, end, end);
    SendMessageW(m_notes, EM_SCROLLCARET, 0, 0);
    SendMessageW(m_notes, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    m_hasNotes = true;
}

void UiUpdateListDialog::Show(int command) {
    if (command == SW_SHOW && m_notes != nullptr) {
        const LRESULT lines = SendMessageW(m_notes, EM_GETLINECOUNT, 0, 0);
        ShowScrollBar(m_notes, SB_VERT, lines > kVisibleNoteLines);
        // The newest version's notes first.
        SendMessageW(m_notes, EM_SETSEL, 0, 0);
        SendMessageW(m_notes, EM_SCROLLCARET, 0, 0);
    }
    UiDialog::Show(command);
}

void UiUpdateListDialog::OnUpdateNow(UINT, int, HWND) {
    if (m_parent != nullptr) EnableWindow(m_parent, TRUE);
    Show(SW_HIDE);
    if (m_update) m_update();
}

void UiUpdateListDialog::OnLater(UINT, int, HWND) {
    if (m_parent != nullptr) EnableWindow(m_parent, TRUE);
    Show(SW_HIDE);
}

LRESULT UiUpdateListDialog::OnHistoryLink(NMHDR*) {
    if (!m_history.empty()) {
        VNLUtilityApp::OpenUrl(VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(m_history.c_str())).c_str());
    }
    return 0;
}

LRESULT UiUpdateListDialog::OnListControlColour(WPARAM wParam, LPARAM lParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    const HWND control = reinterpret_cast<HWND>(lParam);
    if (control == m_notes || control == m_link) {
        // The notes box is a white, read-only sheet on the band, the link sits on white.
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, kWhite);
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void UiUpdateListDialog::Paint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    RECT band = {0, 0, client.right, kBandBottom};
    FillRect(dc, &band, m_bandBrush.get());
    {
        wtl::UniquePen rule(CreatePen(PS_SOLID, 2, m_rule));
        wtl::SelectGuard pen(dc, rule.get());
        MoveToEx(dc, 0, kBandBottom, nullptr);
        LineTo(dc, client.right, kBandBottom);
    }
    {
        static const wchar_t kHeading[] = L"New versions have been found. What's new:";
        wtl::SelectGuard font(dc, m_headingFont.get());
        SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, kWhite);
        RECT heading = {40, 40, client.right - 40, 70};
        DrawTextW(dc, kHeading, -1, &heading, DT_SINGLELINE);
    }
    DrawFrame(dc, client, RGB(0xDD, 0xDD, 0xDD));
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}
