// The contact editor dialog; see DhContactEditView.h.
#include "DhContactEditView.h"

#include <objidl.h>
#include <gdiplus.h>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "contact_codes.h"
#include "theme_colour.h"
#include "ardena_module.h"
#include <wtl/window_text.h>

using namespace ardena::editor_ids;

namespace {

constexpr COLORREF kBorderGrey = RGB(0x7F, 0x7F, 0x7F);
const wchar_t* const kNameCaptions[5] = {L"Prefix", L"First Name", L"Middle Name", L"Last Name", L"Suffix"};
constexpr int kNameCaptionRight = 180;
constexpr int kNameTop = 42;
constexpr int kNameLineHeight = 20;
constexpr int kNameEditWidth = 300;

// The top-level window of an owner chain: parents of child windows, owners of the others.
HWND TopLevelOf(HWND window) {
    HWND top = window;
    while (window != nullptr) {
        top = window;
        window = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(window) : GetWindow(window, GW_OWNER);
    }
    return top;
}

}  // namespace

DhContactEditView::DhContactEditView(HWND owner, const ardena::ContactLabelTable* labels)
    : m_labels(labels), m_owner(owner) {
    for (const ardena::AddFieldEntry& entry : ardena::AddFieldTable()) {
        m_addFieldTable[entry.id] = {entry.text, entry.recordKind};
    }
    m_nameFont.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_dialogFont.Reset(VNLUtilityApp::GetFont(15, true, L"Arial"));
    m_buttonFont.Reset(VNLUtilityApp::GetFont(16, true, L"Arial"));
}

DhContactEditView::~DhContactEditView() = default;

INT_PTR DhContactEditView::Run(HWND owner) { return DoModal(owner, kTemplate, ardena::Module()); }

void DhContactEditView::Update(void*, int code) {
    if (code == 0 && m_hWnd != nullptr) EndDialog(0);
}

void DhContactEditView::CreateTextButton(VNLSwitchButton& button, int id, const wchar_t* caption, COLORREF normal,
                                         COLORREF hot) {
    HWND window =
        CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_buttonFont.get()), FALSE);
    button.SetSwitchMode(false);
    button.SetColours(normal, RGB(0xFF, 0xFF, 0xFF), hot, RGB(0xFF, 0xFF, 0xFF));
    button.SetMargins(20, 6);
    button.SetText(caption);
}

LRESULT DhContactEditView::OnInitDialog(HWND, LPARAM) {
    m_stripColour = ThemeColour("color:1", m_stripColour);
    m_hotColour = ThemeColour("color:12", m_hotColour);
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_dialogFont.get()), FALSE);

    if (!m_contact) {
        m_contact = std::make_unique<iOSContact>();
        m_contact->recordKind = L"person";
    }
    const std::wstring* names[5] = {&m_contact->prefix, &m_contact->firstName, &m_contact->middleName,
                                    &m_contact->lastName, &m_contact->suffix};
    int y = kNameTop;
    for (int i = 0; i < 5; ++i) {
        m_nameCaptions[i] = CreateWindowExW(
            0, L"STATIC", kNameCaptions[i], WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_NOPREFIX, kNameCaptionRight - 110,
            y + 2, 110, kNameLineHeight, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(m_nameCaptions[i], WM_SETFONT, reinterpret_cast<WPARAM>(m_dialogFont.get()), FALSE);
        HWND edit = CreateWindowExW(
            0, L"EDIT", names[i]->c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
            kNameCaptionRight + 10, y, kNameEditWidth, kNameLineHeight, m_hWnd,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstNameEdit + i)), GetModuleHandleW(nullptr), nullptr);
        if (edit != nullptr && m_nameEdits[i].SubclassWindow(edit)) {
            SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(m_nameFont.get()), FALSE);
        }
        m_shownNames[i] = wtl::WindowText(edit);
        y += kNameLineHeight + 10;
    }

    m_properties.SetSource(m_contact.get(), m_isNewContact, m_labels);
    const RECT area = {20, 190, m_width - 10, m_height - 60};
    if (m_properties.Create(m_hWnd, area, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPropertyView))) == nullptr) {
        LOG(ERROR) << "contact editor: the property view was not made";
    }

    // Centre on the top-level window of the owner chain.
    RECT top = {};
    GetWindowRect(TopLevelOf(m_owner), &top);
    const int x = top.left + ((top.right - top.left) - m_width) / 2;
    const int yTop = top.top + ((top.bottom - top.top) - m_height) / 2;
    SetWindowPos(m_hWnd, nullptr, x, yTop, m_width, m_height, SWP_NOZORDER | SWP_SHOWWINDOW);
    SetWindowTextW(m_hWnd, m_title.c_str());

    HWND close =
        CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kClose)), GetModuleHandleW(nullptr), nullptr);
    if (close != nullptr && m_closeButton.SubclassWindow(close)) {
        m_closeButton.SetBackgroundFill(true, m_stripColour);
        m_closeButton.SetImages(ardena::Image("common\\close-normal.png"), ardena::Image("common\\close-pressed.png"),
                                -6, 6);
    }
    CreateTextButton(m_cancelButton, kCancel, L"Cancel", m_stripColour, m_hotColour);
    CreateTextButton(m_okButton, kOk, L"OK", m_stripColour, m_hotColour);
    CreateTextButton(m_addFieldButton, kAddField, L"Add Field", kBorderGrey, kBorderGrey);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int buttonTop = client.bottom - 20 - m_cancelButton.PreferredHeight();
    const int cancelLeft = client.right - 30 - m_cancelButton.PreferredWidth();
    SetWindowPos(m_cancelButton, nullptr, cancelLeft, buttonTop, m_cancelButton.PreferredWidth(),
                 m_cancelButton.PreferredHeight(), SWP_NOZORDER);
    SetWindowPos(m_okButton, nullptr, cancelLeft - 10 - m_okButton.PreferredWidth(), buttonTop,
                 m_okButton.PreferredWidth(), m_okButton.PreferredHeight(), SWP_NOZORDER);
    SetWindowPos(m_addFieldButton, nullptr, 20, client.bottom - 20 - m_addFieldButton.PreferredHeight(),
                 m_addFieldButton.PreferredWidth(), m_addFieldButton.PreferredHeight(), SWP_NOZORDER);

    m_shadow = std::make_unique<CThemedShadowWnd>();
    m_shadow->SetOffset(4);
    if (m_shadow->CreateFor(m_hWnd) != nullptr) m_shadow->UpdatePosition();
    SetFocus(m_nameEdits[1]);
    return FALSE;  // the focus is set
}

void DhContactEditView::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    {
        wtl::UniquePen pen(CreatePen(PS_SOLID, 1, kBorderGrey));
        wtl::SelectGuard selectPen(dc, pen.get());
        wtl::SelectGuard selectBrush(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, 0, 0, client.right, client.bottom);
    }
    RECT strip = {1, 1, client.right - 1, 27};
    wtl::UniqueBrush stripBrush(CreateSolidBrush(m_stripColour));
    FillRect(dc, &strip, stripBrush.get());
    if (m_picture != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_picture, 20, 50, static_cast<INT>(m_picture->GetWidth()),
                           static_cast<INT>(m_picture->GetHeight()));
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
    wtl::SelectGuard font(dc, m_dialogFont.get());
    RECT title = m_titleRect;
    DrawTextW(dc, m_title.c_str(), -1, &title, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}

LRESULT DhContactEditView::OnBodyButtonDown(WPARAM, LPARAM lParam) {
    // A press anywhere on the body moves the dialog, as a press on a caption would.
    PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return 0;
}

LRESULT DhContactEditView::OnTransparentColour(WPARAM dc, LPARAM) {
    SetBkMode(reinterpret_cast<HDC>(dc), TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void DhContactEditView::OnCommand(UINT, int id, HWND) {
    switch (id) {
    case kMinimise: ShowWindow(m_hWnd, SW_MINIMIZE); break;
    case kClose:
    case kCancel:
        // Only the working record is the editor's; records handed over by earlier saves are the receiver's.
        m_contact.reset();
        EndDialog(0);
        break;
    case kOk: SaveContact(); break;
    case kAddField: ShowAddFieldMenu(); break;
    default: break;
    }
}

void DhContactEditView::ShowAddFieldMenu() {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    int entries = 0;
    for (const auto& entry : m_addFieldTable) {
        if (m_properties.IsKindPresent(entry.second.second)) continue;
        AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(entry.first), entry.second.first.c_str());
        ++entries;
    }
    if (entries > 0) {
        RECT button = {};
        GetWindowRect(m_addFieldButton, &button);
        const int choice = TrackPopupMenu(menu, TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_VERNEGANIMATION, button.left,
                                          button.top, 0, m_hWnd, nullptr);
        if (choice != 0) m_properties.AddKind(choice);
    }
    DestroyMenu(menu);
}

void DhContactEditView::SaveContact() {
    if (!m_contact) return;
    ardena::NameParts names;
    // A name the user left as it was is saved as the contact has it.
    std::wstring* parts[5] = {&names.prefix, &names.first, &names.middle, &names.last, &names.suffix};
    const std::wstring* own[5] = {&m_contact->prefix, &m_contact->firstName, &m_contact->middleName,
                                  &m_contact->lastName, &m_contact->suffix};
    for (int i = 0; i < 5; ++i) {
        *parts[i] = ardena::KeptOrTyped(*own[i], m_shownNames[i], wtl::WindowText(m_nameEdits[i]));
    }
    std::unique_ptr<iOSContact> saved = ardena::BuildSavedContact(*m_contact, names, m_properties.CollectRows());
    CommandMessage message{};
    message.code = m_isNewContact ? sdk::contacts::kRequestSaveNew : sdk::contacts::kRequestSaveEdited;
    message.data = saved.release();  // the receiver's from here on
    message.window = m_hWnd;
    ardena::SendContactCommand(message);
}
