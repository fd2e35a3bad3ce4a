// The contacts page window; see DhContactsDelegate.h. Creation, layout and painting, the host's replies,
// the list (rows, preview, search, sort, drops) and the group panel; the toolbar's requests are in
// DhContactsDelegate's second half below.
#include "DhContactsDelegate.h"

#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "contact_codes.h"
#include "list_rules.h"
#include "theme_colour.h"
#include "theme_keys.h"
#include "DhContactEditView.h"
#include "ardena_module.h"
#include <wtl/window_text.h>

using namespace contacts_ids;

namespace {

constexpr int kPreviewWidth = 222;
constexpr int kPanelWidth = 141;
constexpr int kToolbarFirstX = 32;
const wchar_t kAllContacts[] = L"All Contacts";
const wchar_t kGroupsLabel[] = L"[Groups]";
const wchar_t kNoticeText[] =
    L"iCloud Contacts is turned on in your device, Trevane cannot fully load your Contacts. Please turn it off and "
    L"then view information on Trevane.";
const wchar_t kNoticeTitle[] = L"How to Turn Off iCloud?";
const wchar_t* const kNoticeSteps[3] = {L"1. Open \"Settings\" on your Device", L"2. Settings - iCloud - Contacts - Off",
                                        L"3. Keep on My iPhone"};
constexpr DWORD kTreeStyle = WS_CHILD | WS_HSCROLL | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                             TVS_NOTOOLTIPS | TVS_INFOTIP | TVS_FULLROWSELECT;

void Place(HWND window, int x, int y, int width, int height) {
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowIf(HWND window, bool show) {
    if (window != nullptr) ShowWindow(window, show ? SW_SHOW : SW_HIDE);
}

int ImageWidth(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetWidth()) : 0; }
int ImageHeight(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetHeight()) : 0; }

// A new GUID as the text of a new group; false when the system has none to give.
bool NewGuidText(std::string& text) {
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) return false;
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = guid.Data4[i];
    text = contacts::FormatGuidText(guid.Data1, guid.Data2, guid.Data3, tail);
    return true;
}

void SendToHost(HWND window, int64_t code, void* data = nullptr, int64_t count = 0) {
    CommandMessage message{};
    message.code = code;
    message.window = window;
    message.data = data;
    message.count = count;
    ardena::SendContactCommand(message);
}

}  // namespace

DhContactsDelegate::DhContactsDelegate() : DhPageDelegate(ardena::Images()), m_preview(ardena::Images()) {}

DhContactsDelegate::~DhContactsDelegate() = default;

// ---- Creation --------------------------------------------------------------------------------------------

LRESULT DhContactsDelegate::OnCreate(CREATESTRUCTW*) {
    m_labels = contacts::BuildContactLabelTable(ardena::Countries());
    CreatePageLook(m_hWnd);
    m_hot = ThemeColour("color:12", m_hot);
    m_caption = ThemeColour("color:1", m_caption);
    m_titleFont.Reset(VNLUtilityApp::GetFont(18, true, L"Arial"));

    m_list.SetDefaultRowImage(Image("contacts\\content-contacts-list.png"));
    if (!CreateList(kList, {{L"Name", 195}, {L"Phone Number", 226}})) return -1;

    const RECT none = {0, 0, 10, 10};
    if (m_preview.Create(m_hWnd, none, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL) == nullptr) return -1;
    CreateToolbar();
    DragAcceptFiles(m_hWnd, TRUE);
    CreateSearchBox(kSearchEdit, kSearchButton);
    CreateNotice();
    CreateGroupPanel();
    SetFocus(m_searchEdit);
    return 0;
}

void DhContactsDelegate::CreateToolbar() {
    // Made in layout order: OK stands where New does while members are being added.
    MakeToolbarButton(m_okButton, kOk, L"OK", THEME_CONTACTS_OK_BUTTON, THEME_CONTACTS_OK_BUTTON);
    ShowWindow(m_okButton, SW_HIDE);
    MakeToolbar({{&m_newButton, kNew, L"New", "common\\operate-add"},
                 {&m_editButton, kEdit, L"Edit", "common\\edit"},
                 {&m_exportButton, kExport, L"Export", "common\\operate-export"},
                 {&m_importButton, kImport, L"Import", "common\\operate-import"},
                 {&m_deleteButton, kDelete, L"Delete", "common\\operate-delete"},
                 {&m_refreshButton, kRefresh, L"Refresh", "common\\operate-refresh"}});
    PlaceToolbar(kToolbarFirstX);
}

void DhContactsDelegate::CreateNotice() {
    HWND window = CreateButtonWindow(kContinue, L"Continue");
    if (window != nullptr && m_continueButton.SubclassWindow(window)) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_titleFont.get()), FALSE);
        m_continueButton.SetSwitchMode(false);
        m_continueButton.SetColours(m_caption, RGB(0xFF, 0xFF, 0xFF), m_hot, RGB(0xFF, 0xFF, 0xFF));
        m_continueButton.SetText(L"Continue");
        ShowWindow(window, SW_HIDE);
    }
    m_noticePicture = Image("contacts\\content-contacts-icloud.png");
}

void DhContactsDelegate::CreateGroupPanel() {
    m_allTree = CreateWindowExW(0, WC_TREEVIEWW, L"Tree", kTreeStyle, 0, 0, 10, 10, m_hWnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAllTree)), GetModuleHandleW(nullptr), nullptr);
    m_groupTree = CreateWindowExW(0, WC_TREEVIEWW, L"Tree", kTreeStyle | TVS_EDITLABELS, 0, 0, 10, 10, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGroupTree)), GetModuleHandleW(nullptr),
                                  nullptr);
    for (HWND tree : {m_allTree, m_groupTree}) {
        if (tree != nullptr) SendMessageW(tree, WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont.get()), FALSE);
    }
    if (m_allTree != nullptr) {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = const_cast<wchar_t*>(kAllContacts);
        insert.item.lParam = 0;
        m_allItem = reinterpret_cast<HTREEITEM>(
            SendMessageW(m_allTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    MakeImageButton(m_unfoldButton, kUnfold, "contacts\\operate-expand-normal.png", "contacts\\operate-expand-pressed.png",
                    L"Group unfold");
    MakeImageButton(m_foldButton, kFold, "contacts\\operate-shrink-normal.png", "contacts\\operate-shrink-pressed.png",
                    L"Group fold");
    MakeImageButton(m_addGroupButton, kAddGroup, "contacts\\contact-edit-add-normal.png",
                    "contacts\\contact-edit-add-pressed.png", L"Add group");
    MakeImageButton(m_removeGroupButton, kRemoveGroup, "contacts\\contact-edit-delete-normal.png",
                    "contacts\\contact-edit-delete-pressed.png", L"Remove group");
    for (VNLImgButton* button : {&m_foldButton, &m_addGroupButton, &m_removeGroupButton}) {
        ShowWindow(*button, SW_HIDE);
    }
}

// ---- Layout and painting ---------------------------------------------------------------------------------

void DhContactsDelegate::LayOut() {
    if (m_notice) {
        LayOutNotice();
    } else {
        LayOutNormal();
    }
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void DhContactsDelegate::LayOutNormal() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int width = client.right;
    const int height = client.bottom;
    const int top = kToolbarHeight + 1;
    Place(m_preview, width - kPreviewWidth, top, kPreviewWidth, height - top);
    const int listLeft = m_panelUnfolded ? kPanelWidth : 1;
    m_listRect = RECT{listLeft, top, width - kPreviewWidth, height};
    Place(m_list, m_listRect.left, m_listRect.top, m_listRect.right - m_listRect.left, m_listRect.bottom - m_listRect.top);
    FitColumns();

    // The group panel: the two trees, the "[Groups]" label and the add and remove buttons.
    Place(m_allTree, 6, 40, 135, 30);
    SIZE label = {};
    {
        wtl::WindowDC dc(m_hWnd);
        wtl::SelectGuard font(dc.get(), m_textFont.get());
        GetTextExtentPoint32W(dc.get(), kGroupsLabel, static_cast<int>(wcslen(kGroupsLabel)), &label);
    }
    m_groupsLabelRect = RECT{22, 80, 22 + label.cx, 80 + label.cy};
    const int treeTop = m_groupsLabelRect.bottom + 10;
    Place(m_groupTree, 30, treeTop, kPanelWidth - 30, height - 1 - treeTop);
    Place(m_addGroupButton, 4, 80, m_addGroupButton.Width(), m_addGroupButton.Height());
    Place(m_removeGroupButton, 4, 80 + m_addGroupButton.Height() + 12, m_removeGroupButton.Width(),
          m_removeGroupButton.Height());
    Place(m_unfoldButton, 6, 7, m_unfoldButton.Width(), m_unfoldButton.Height());
    Place(m_foldButton, 6, 7, m_foldButton.Width(), m_foldButton.Height());

    PlaceSearchBox(width);
    PlaceToolbar(kToolbarFirstX);
}

void DhContactsDelegate::LayOutNotice() {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int width = client.right;
    wtl::WindowDC dc(m_hWnd);
    RECT text = {20, 0, width - 20, 0};
    {
        wtl::SelectGuard font(dc.get(), m_textFont.get());
        DrawTextW(dc.get(), kNoticeText, -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    SIZE title = {};
    {
        wtl::SelectGuard font(dc.get(), m_titleFont.get());
        GetTextExtentPoint32W(dc.get(), kNoticeTitle, static_cast<int>(wcslen(kNoticeTitle)), &title);
    }
    SIZE steps[3] = {};
    {
        wtl::SelectGuard font(dc.get(), m_textFont.get());
        for (int i = 0; i < 3; ++i) {
            GetTextExtentPoint32W(dc.get(), kNoticeSteps[i], static_cast<int>(wcslen(kNoticeSteps[i])), &steps[i]);
        }
    }
    const int pictureHeight = ImageHeight(m_noticePicture);
    const int buttonHeight = m_continueButton.PreferredHeight();
    const int textHeight = text.bottom - text.top;
    const int parts = textHeight + title.cy + pictureHeight + steps[0].cy + steps[1].cy + steps[2].cy + buttonHeight;
    int top = (client.bottom - parts - 54) / 2;
    if (top < 1) top = 1;
    // The gaps between the parts add up to the 54 pixels above: 20, 10, 10, 4, 4 and 6.
    m_noticeTextRect = RECT{20, top, width - 20, top + textHeight};
    int y = m_noticeTextRect.bottom + 20;
    m_noticeTitleRect = RECT{(width - title.cx) / 2, y, (width - title.cx) / 2 + title.cx, y + title.cy};
    y = m_noticeTitleRect.bottom + 10;
    const int pictureWidth = ImageWidth(m_noticePicture);
    m_noticePictureRect = RECT{(width - pictureWidth) / 2, y, (width - pictureWidth) / 2 + pictureWidth, y + pictureHeight};
    y = m_noticePictureRect.bottom + 10;
    const int stepsLeft = (width - std::max({steps[0].cx, steps[1].cx, steps[2].cx})) / 2;
    for (int i = 0; i < 3; ++i) {
        m_noticeStepRects[i] = RECT{stepsLeft, y, stepsLeft + steps[i].cx, y + steps[i].cy};
        y = m_noticeStepRects[i].bottom + (i < 2 ? 4 : 6);
    }
    Place(m_continueButton, (width - m_continueButton.PreferredWidth()) / 2, y, m_continueButton.PreferredWidth(),
          buttonHeight);
}

void DhContactsDelegate::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    SetBkMode(dc, TRANSPARENT);
    if (m_notice) {
        PaintNotice(dc, client);
    } else {
        PaintToolbarBand(dc, client);
        if (m_panelUnfolded && !m_memberAdding) {
            wtl::SelectGuard font(dc, m_textFont.get());
            SetTextColor(dc, RGB(0, 0, 0));
            RECT label = m_groupsLabelRect;
            DrawTextW(dc, kGroupsLabel, -1, &label, DT_SINGLELINE | DT_NOPREFIX);
        }
    }
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}

void DhContactsDelegate::PaintNotice(HDC dc, const RECT& client) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    {
        wtl::SelectGuard font(dc, m_textFont.get());
        RECT text = m_noticeTextRect;
        DrawTextW(dc, kNoticeText, -1, &text, DT_WORDBREAK | DT_NOPREFIX);
        for (int i = 0; i < 3; ++i) {
            RECT step = m_noticeStepRects[i];
            DrawTextW(dc, kNoticeSteps[i], -1, &step, DT_SINGLELINE | DT_NOPREFIX);
        }
    }
    {
        wtl::SelectGuard font(dc, m_titleFont.get());
        RECT title = m_noticeTitleRect;
        DrawTextW(dc, kNoticeTitle, -1, &title, DT_SINGLELINE | DT_NOPREFIX);
    }
    if (m_noticePicture != nullptr) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(m_noticePicture, m_noticePictureRect.left, m_noticePictureRect.top,
                           ImageWidth(m_noticePicture), ImageHeight(m_noticePicture));
    }
}

// ---- Messages --------------------------------------------------------------------------------------------

void DhContactsDelegate::OnCommand(UINT, int id, HWND control) {
    ReleaseToolbarButton(control);
    switch (id) {
    case kUnfold: SetPanelUnfolded(true); break;
    case kFold: SetPanelUnfolded(false); break;
    case kAddGroup: OnAddGroup(); break;
    case kRemoveGroup: OnRemoveGroup(); break;
    case kContinue: SendToHost(m_hWnd, contacts::kRequestLoad); break;
    case kNew: OnNewOrAdd(); break;
    case kOk: OnOk(); break;
    case kEdit: OnEdit(); break;
    case kExport: OnExportMenu(); break;
    case kImport: OnImportMenu(); break;
    case kDelete: OnDelete(); break;
    case kRefresh: OnRefresh(); break;
    case kSearchButton: RunSearch(); break;
    default: break;
    }
}

bool DhContactsDelegate::OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header == nullptr) return false;
    const int id = static_cast<int>(header->idFrom);
    result = 0;
    if (id == kList && header->code == NM_CLICK) {
        OnListClick(*reinterpret_cast<NMITEMACTIVATE*>(lParam));
        return true;
    }
    if (id == kList && header->code == LVN_COLUMNCLICK) {
        OnColumnClick(reinterpret_cast<NMLISTVIEW*>(lParam)->iSubItem);
        return true;
    }
    if (id == kGroupTree && header->code == TVN_BEGINLABELEDITW) {
        OnBeginLabelEdit(*reinterpret_cast<NMTVDISPINFOW*>(lParam), result);
        return true;
    }
    if (id == kGroupTree && header->code == TVN_ENDLABELEDITW) {
        OnEndLabelEdit(*reinterpret_cast<NMTVDISPINFOW*>(lParam), result);
        return true;
    }
    if ((id == kAllTree || id == kGroupTree) && header->code == TVN_SELCHANGEDW) {
        OnTreeSelection(id, reinterpret_cast<NMTREEVIEWW*>(lParam)->itemNew.hItem);
        return true;
    }
    return false;
}

LRESULT DhContactsDelegate::OnDropFiles(WPARAM wParam, LPARAM) {
    const std::vector<std::wstring> paths = TakeDroppedPaths(reinterpret_cast<HDROP>(wParam));
    if (paths.empty()) return 0;
    // The contacts page has no request that takes files (its import asks the host to choose one), so the
    // paths go nowhere; they are logged by count only.
    LOG(INFO) << "contacts page: " << paths.size() << " dropped paths, no request takes them";
    return 0;
}

LRESULT DhContactsDelegate::OnHostReply(WPARAM wParam, LPARAM lParam) {
    const int64_t code = static_cast<int64_t>(wParam);
    void* payload = reinterpret_cast<void*>(lParam);
    switch (code) {
    case contacts::kReplyContactAdded:
        OnContactAdded(static_cast<std::shared_ptr<iOSContact>*>(payload));
        return 0;
    case contacts::kReplyContactsLoaded:
        if (payload == nullptr) {
            OnLoadingFinished();
        } else {
            OnContactsLoaded(static_cast<ItemBatch<iOSContact>*>(payload));
        }
        return 0;
    case contacts::kReplyContactRemoved:
        OnContactRemoved(static_cast<wchar_t*>(payload));
        return 0;
    case contacts::kReplyCloseEditor:
        NotifyObservers(nullptr, 0);
        return 0;
    case contacts::kReplyGroupsLoaded:
        OnGroupsLoaded(static_cast<ItemBatch<iOSContactGroup>*>(payload));
        return 0;
    case contacts::kReplyHideCloudNotice:
        ShowNotice(false);
        return 0;
    case contacts::kReplyShowCloudNotice:
        ShowNotice(true);
        return 0;
    case contacts::kReplyGroupChanged:
        OnGroupChanged(static_cast<iOSContactGroup*>(payload));
        return 0;
    case contacts::kReplyGroupRemoved:
        OnGroupRemoved(static_cast<wchar_t*>(payload));
        return 0;
    default:
        // Unknown codes carry nothing the page could free.
        return 0;
    }
}

// ---- Host replies ----------------------------------------------------------------------------------------

void DhContactsDelegate::OnContactAdded(std::shared_ptr<iOSContact>* holder) {
    std::unique_ptr<std::shared_ptr<iOSContact>> owner(holder);
    if (owner == nullptr || !*owner) return;
    const contacts::ContactPtr contact = *owner;
    const contacts::ContactPtr old = contact->identifier.empty() ? nullptr : m_model.FindContact(contact->identifier);
    int replaced = -1;
    m_model.AddContact(contact, replaced);
    if (old == nullptr) {
        AddRow(contact);
        return;
    }
    // A contact the page holds already (an edit came back): its row and preview take the new record in
    // place; a second row would show the same contact twice.
    const int row = RowOf(old.get());
    if (row >= 0) WriteRow(row, contact.get());
    if (m_preview.Contact() == old.get()) Preview(contact);
}

void DhContactsDelegate::OnContactsLoaded(ItemBatch<iOSContact>* batch) {
    std::unique_ptr<ItemBatch<iOSContact>> owner(batch);
    bool cleared = false;
    if (!m_model.AcceptContacts(*owner, cleared)) return;
    if (cleared) {
        m_list.DeleteAllItems();
        m_nameNeed = m_phoneNeed = 0;
        m_lastClickedRow = -1;
        // The preview's contact may have been one of the released records.
        m_preview.SetContact(nullptr, L"");
    }
    SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    for (const contacts::ContactPtr& contact : owner->items) {
        if (contact) AddRow(contact);
    }
    SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    FitColumns();  // the rows may have brought the vertical scroll bar
    if (m_list.GetSelectedItems().empty() && m_list.ItemCount() > 0) {
        m_list.SelectItem(0);
        m_lastClickedRow = 0;
        if (!m_model.Contacts().empty()) Preview(m_model.Contacts().front());
    }
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhContactsDelegate::OnLoadingFinished() {
    if (m_model.Contacts().empty()) return;
    m_model.SortByName();
    const int rows = m_list.ItemCount();
    const auto& held = m_model.Contacts();
    std::vector<iOSContact*> order;
    for (int row = 0; row < rows; ++row) {
        order.push_back(static_cast<size_t>(row) < held.size() ? held[static_cast<size_t>(row)].get() : RowRecord(row));
    }
    // The selection stays where it was (the first row, normally) and the preview follows it; the check
    // marks go with their contacts.
    RewriteRows(order, false);
    if (m_lastClickedRow >= 0) PreviewRow(m_lastClickedRow);
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhContactsDelegate::OnContactRemoved(wchar_t* identifier) {
    std::unique_ptr<wchar_t, decltype(&std::free)> owner(identifier, &std::free);
    if (owner == nullptr) return;
    const contacts::ContactPtr held = m_model.FindContact(owner.get());
    for (int row = 0; row < m_list.ItemCount(); ++row) {
        iOSContact* record = RowRecord(row);
        if (record != nullptr && record->identifier == owner.get()) {
            m_list.DeleteItem(row);
            if (m_lastClickedRow == row) {
                m_lastClickedRow = -1;
            } else if (m_lastClickedRow > row) {
                --m_lastClickedRow;
            }
            break;
        }
    }
    const contacts::ContactPtr removed = m_model.RemoveContact(owner.get());
    const iOSContact* shown = m_preview.Contact();
    if (shown != nullptr && ((removed && shown == removed.get()) || (held && shown == held.get()))) {
        m_preview.SetContact(nullptr, L"");
    }
}

void DhContactsDelegate::OnGroupsLoaded(ItemBatch<iOSContactGroup>* batch) {
    std::unique_ptr<ItemBatch<iOSContactGroup>> owner(batch);
    if (owner == nullptr) return;
    bool cleared = false;
    if (!m_model.AcceptGroups(*owner, cleared)) return;
    if (cleared) {
        // The released groups' items would point at freed records: they go with them. Items the user has
        // just named (no record yet) stay.
        for (HTREEITEM item : GroupItems()) {
            if (ItemGroup(item) != nullptr) SendMessageW(m_groupTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
        }
    }
    for (const contacts::GroupPtr& group : owner->items) {
        if (group) InsertGroupItem(group);
    }
}

void DhContactsDelegate::OnGroupChanged(iOSContactGroup* record) {
    contacts::GroupPtr group(record);
    if (!group) return;
    HTREEITEM target = nullptr;
    for (HTREEITEM item : GroupItems()) {
        iOSContactGroup* held = ItemGroup(item);
        if (held == nullptr) {
            // The group the user has just named gets its record.
            m_model.AppendGroup(group);
            target = item;
            break;
        }
        if (contacts::ContactPageModel::IsSameGroup(*held, *group)) {
            // A changed group: the answer replaces the page's record, so the next change starts from it.
            m_model.ReplaceGroup(held, group);
            target = item;
            break;
        }
    }
    if (target == nullptr) {
        InsertGroupItem(group);
        m_model.AppendGroup(group);
        return;
    }
    SetItemGroup(target, group.get(), contacts::GroupItemText(*group));
    const HTREEITEM selected =
        reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (selected == target && m_activeTree == kGroupTree && !m_memberAdding) ShowGroupMembers(*group);
}

void DhContactsDelegate::OnGroupRemoved(wchar_t* identifier) {
    std::unique_ptr<wchar_t, decltype(&std::free)> owner(identifier, &std::free);
    if (owner == nullptr) return;
    for (HTREEITEM item : GroupItems()) {
        iOSContactGroup* group = ItemGroup(item);
        if (group == nullptr || group->identifier != owner.get()) continue;
        const HTREEITEM selected =
            reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (selected == item) {
            m_list.DeleteAllItems();
            m_lastClickedRow = -1;
            HTREEITEM next = reinterpret_cast<HTREEITEM>(
                SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, reinterpret_cast<LPARAM>(item)));
            if (next == nullptr) {
                next = reinterpret_cast<HTREEITEM>(
                    SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_PREVIOUSVISIBLE, reinterpret_cast<LPARAM>(item)));
            }
            SendMessageW(m_groupTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(next));
        }
        // The item goes before its record does.
        SendMessageW(m_groupTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
        m_model.RemoveGroup(group);
        return;
    }
}

void DhContactsDelegate::ShowNotice(bool show) {
    if (show == m_notice) return;
    m_notice = show;
    const bool normal = !show;
    for (HWND window : {m_list.m_hWnd, m_preview.m_hWnd, m_allTree, m_groupTree, m_searchEdit.m_hWnd,
                        m_searchButton.m_hWnd, m_frameLines[0], m_frameLines[1], m_frameLines[2], m_frameLines[3]}) {
        ShowIf(window, normal && (window != m_allTree && window != m_groupTree ? true : m_panelUnfolded));
    }
    for (VNLSwitchImageButton* button : {&m_newButton, &m_editButton, &m_exportButton, &m_importButton,
                                         &m_deleteButton, &m_refreshButton}) {
        ShowIf(*button, normal && !m_memberAdding);
    }
    ShowIf(m_okButton, normal && m_memberAdding);
    ShowIf(m_unfoldButton, normal && !m_panelUnfolded);
    ShowIf(m_foldButton, normal && m_panelUnfolded);
    ShowIf(m_addGroupButton, normal && m_panelUnfolded);
    ShowIf(m_removeGroupButton, normal && m_panelUnfolded);
    ShowIf(m_continueButton, show);
    LayOut();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// ---- The list --------------------------------------------------------------------------------------------

int DhContactsDelegate::AddRow(const contacts::ContactPtr& contact) {
    const std::wstring name = contacts::ContactDisplayName(*contact);
    const std::wstring phone = contacts::FirstPhoneText(*contact);
    NoteRowTexts(name, phone);
    const int row = m_list.AddItem({L"", name, phone});
    if (row >= 0) m_list.SetItemData(row, reinterpret_cast<LPARAM>(contact.get()));
    return row;
}

void DhContactsDelegate::WriteRow(int row, iOSContact* contact) {
    const std::wstring name = contact != nullptr ? contacts::ContactDisplayName(*contact) : L"";
    const std::wstring phone = contact != nullptr ? contacts::FirstPhoneText(*contact) : L"";
    NoteRowTexts(name, phone);
    m_list.SetItemData(row, reinterpret_cast<LPARAM>(contact));
    m_list.SetItemTexts(row, {L"", name, phone});
}

int DhContactsDelegate::TextWidth(const std::wstring& text) const {
    wtl::WindowDC dc(m_list);
    wtl::SelectGuard font(dc.get(), m_textFont.get());
    SIZE extent = {};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return static_cast<int>(extent.cx);
}

void DhContactsDelegate::NoteRowTexts(const std::wstring& name, const std::wstring& phone) {
    m_nameNeed = std::max(m_nameNeed, TextWidth(name));
    m_phoneNeed = std::max(m_phoneNeed, TextWidth(phone));
}

void DhContactsDelegate::FitColumns() {
    // What each column's cells draw besides their text (VNLListView): the check box and 15 pixels before
    // the row number, the row image and 12 pixels before the name, 10 pixels before the phone, and 2 after.
    constexpr int kAfterText = 8;
    RECT client = {};
    GetClientRect(m_list, &client);
    const int numberNeed = ImageWidth(Image("common\\content-check-yes.png")) + 15 +
                           TextWidth(std::to_wstring(std::max(1, m_list.ItemCount()))) + kAfterText;
    const int nameNeed = ImageWidth(Image("contacts\\content-contacts-list.png")) + 14 +
                         std::max(m_nameNeed, TextWidth(L"Name")) + kAfterText;
    const int phoneNeed = 10 + std::max(m_phoneNeed, TextWidth(L"Phone Number")) + kAfterText;
    const contacts::ContactColumnWidths widths =
        contacts::SplitContactColumns(static_cast<int>(client.right - client.left), numberNeed, nameNeed, phoneNeed);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 0, widths.number);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 1, widths.name);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 2, widths.phone);
}

iOSContact* DhContactsDelegate::RowRecord(int row) const { return reinterpret_cast<iOSContact*>(m_list.GetItemData(row)); }

int DhContactsDelegate::RowOf(const iOSContact* contact) const {
    for (int row = 0; row < m_list.ItemCount(); ++row) {
        if (RowRecord(row) == contact) return row;
    }
    return -1;
}

contacts::ContactPtr DhContactsDelegate::SharedOf(const iOSContact* contact) const {
    for (const contacts::ContactPtr& held : m_model.Contacts()) {
        if (held.get() == contact) return held;
    }
    return nullptr;
}

void DhContactsDelegate::ShowContacts(const std::vector<contacts::ContactPtr>& shown) {
    SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    m_list.DeleteAllItems();
    m_nameNeed = m_phoneNeed = 0;
    m_lastClickedRow = -1;
    for (const contacts::ContactPtr& contact : shown) {
        if (contact) AddRow(contact);
    }
    SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    FitColumns();
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhContactsDelegate::RewriteRows(const std::vector<iOSContact*>& order, bool selectionFollows) {
    // Check marks belong to the contact, not to the row position: what the user checked is what an export or
    // a delete acts on, whatever order the rows are in afterwards. After a sort the selection and the last
    // clicked row go with their contacts too.
    std::map<const iOSContact*, std::pair<bool, bool>> states;
    for (int row = 0; row < m_list.ItemCount(); ++row) {
        const bool selected =
            (SendMessageW(m_list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
        states[RowRecord(row)] = {m_list.IsChecked(row), selected};
    }
    const iOSContact* lastClicked = m_lastClickedRow >= 0 ? RowRecord(m_lastClickedRow) : nullptr;
    SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    for (size_t row = 0; row < order.size(); ++row) {
        const int index = static_cast<int>(row);
        if (RowRecord(index) != order[row]) WriteRow(index, order[row]);
        const auto state = states[order[row]];
        m_list.SetChecked(index, state.first);
        if (!selectionFollows) continue;
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = state.second ? LVIS_SELECTED : 0;
        SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        if (order[row] == lastClicked) m_lastClickedRow = index;
    }
    SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhContactsDelegate::Preview(const contacts::ContactPtr& contact) {
    if (!contact) {
        m_preview.SetContact(nullptr, L"");
        return;
    }
    m_preview.SetContact(contact, contacts::GroupTextOf(contact->identifier, m_model.Groups()));
}

void DhContactsDelegate::PreviewRow(int row) { Preview(SharedOf(RowRecord(row))); }

void DhContactsDelegate::OnListClick(const NMITEMACTIVATE& click) {
    m_list.CheckSelectedItems();
    if (click.iItem == -1 || click.iItem == m_lastClickedRow) return;
    m_lastClickedRow = click.iItem;
    PreviewRow(click.iItem);
}

void DhContactsDelegate::OnColumnClick(int column) {
    bool ascending = false;
    if (!StepSortArrow(column, ascending)) return;
    std::vector<iOSContact*> rows;
    for (int row = 0; row < m_list.ItemCount(); ++row) rows.push_back(RowRecord(row));
    contacts::SortContactRows(rows, column, ascending, &SystemCompareNoCase);
    RewriteRows(rows, true);
}

void DhContactsDelegate::RunSearch() {
    const std::wstring query = m_searchEdit.ShowsPlaceholder() ? std::wstring() : wtl::WindowText(m_searchEdit);
    ShowContacts(m_model.Search(query));
    if (m_list.ItemCount() > 0) {
        m_list.SelectItem(0);
        m_lastClickedRow = 0;
        PreviewRow(0);
    } else {
        m_preview.SetContact(nullptr, L"");
    }
}

// ---- Groups ----------------------------------------------------------------------------------------------

HTREEITEM DhContactsDelegate::InsertGroupItem(const contacts::GroupPtr& group) {
    const std::wstring text = group ? contacts::GroupItemText(*group) : std::wstring();
    TVINSERTSTRUCTW insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(group.get());
    return reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

iOSContactGroup* DhContactsDelegate::ItemGroup(HTREEITEM item) const {
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(m_groupTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<iOSContactGroup*>(tv.lParam);
}

void DhContactsDelegate::SetItemGroup(HTREEITEM item, iOSContactGroup* group, const std::wstring& text) {
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.lParam = reinterpret_cast<LPARAM>(group);
    tv.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(m_groupTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

std::vector<HTREEITEM> DhContactsDelegate::GroupItems() const {
    std::vector<HTREEITEM> items;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    while (item != nullptr) {
        items.push_back(item);
        item = reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return items;
}

iOSContactGroup* DhContactsDelegate::SelectedGroup() const {
    if (m_activeTree != kGroupTree) return nullptr;
    HTREEITEM selected = reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    return selected != nullptr ? ItemGroup(selected) : nullptr;
}

void DhContactsDelegate::ShowGroupMembers(const iOSContactGroup& group) { ShowContacts(m_model.MembersOf(group)); }

void DhContactsDelegate::SetToolbarCaptions(bool groupShown) {
    m_newButton.Relayout(groupShown ? L"Add" : L"New");
    m_deleteButton.Relayout(groupShown ? L"Remove" : L"Delete");
    PlaceToolbar(kToolbarFirstX);
}

void DhContactsDelegate::OnTreeSelection(int tree, HTREEITEM item) {
    if (item == nullptr) return;  // the other tree losing its selection
    if (tree == kAllTree) {
        m_activeTree = kAllTree;
        SendMessageW(m_groupTree, TVM_SELECTITEM, TVGN_CARET, 0);
        SetToolbarCaptions(false);
        ShowContacts(m_model.Contacts());
        return;
    }
    m_activeTree = kGroupTree;
    SendMessageW(m_allTree, TVM_SELECTITEM, TVGN_CARET, 0);
    SetToolbarCaptions(true);
    if (iOSContactGroup* group = ItemGroup(item)) {
        ShowGroupMembers(*group);
    } else {
        ShowContacts({});
    }
}

void DhContactsDelegate::OnBeginLabelEdit(NMTVDISPINFOW& info, LRESULT& result) {
    result = FALSE;
    m_editingItem = info.item.hItem;
    HWND edit = reinterpret_cast<HWND>(SendMessageW(m_groupTree, TVM_GETEDITCONTROL, 0, 0));
    iOSContactGroup* group = ItemGroup(info.item.hItem);
    if (edit != nullptr) SetWindowTextW(edit, group != nullptr ? group->name.c_str() : L"");
}

void DhContactsDelegate::OnEndLabelEdit(NMTVDISPINFOW& info, LRESULT& result) {
    // The item's text changes when the host answers with the group's record.
    result = FALSE;
    // One edit ends once: the tree can report the end again while it hides its edit box (the box loses the
    // focus), and a second report would ask the host for a second group.
    if (info.item.hItem == nullptr || info.item.hItem != m_editingItem) return;
    m_editingItem = nullptr;
    iOSContactGroup* group = ItemGroup(info.item.hItem);
    const bool cancelled = info.item.pszText == nullptr || info.item.pszText[0] == L'\0';
    if (cancelled) {
        if (group == nullptr) SendMessageW(m_groupTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(info.item.hItem));
        return;
    }
    const std::wstring name = info.item.pszText;
    if (group == nullptr) {
        auto created = std::make_unique<iOSContactGroup>();
        created->name = name;
        NewGuidText(created->guidText);
        SendGroup(contacts::kRequestCreateGroup, std::move(created));
    } else if (group->name != name) {
        auto renamed = std::make_unique<iOSContactGroup>(*group);
        renamed->name = name;
        SendGroup(contacts::kRequestChangeGroup, std::move(renamed));
    }
}

void DhContactsDelegate::SetPanelUnfolded(bool unfolded) {
    m_panelUnfolded = unfolded;
    ShowIf(m_unfoldButton, !unfolded);
    ShowIf(m_foldButton, unfolded);
    for (HWND window : {m_allTree, m_groupTree, m_addGroupButton.m_hWnd, m_removeGroupButton.m_hWnd}) {
        ShowIf(window, unfolded);
    }
    LayOut();
}

void DhContactsDelegate::SetMemberAdding(bool adding) {
    m_memberAdding = adding;
    for (HWND window : {m_addGroupButton.m_hWnd, m_removeGroupButton.m_hWnd, m_allTree, m_groupTree}) {
        ShowIf(window, !adding && m_panelUnfolded);
    }
    for (VNLSwitchImageButton* button : {&m_newButton, &m_editButton, &m_exportButton, &m_importButton,
                                         &m_deleteButton, &m_refreshButton}) {
        ShowIf(*button, !adding);
    }
    ShowIf(m_foldButton, !adding && m_panelUnfolded);
    ShowIf(m_unfoldButton, !adding && !m_panelUnfolded);
    ShowIf(m_okButton, adding);
    LayOut();
}

// ---- Toolbar requests ------------------------------------------------------------------------------------

void DhContactsDelegate::SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group) {
    SendToHost(m_hWnd, code, group.release());  // the receiver owns it from here
}

void DhContactsDelegate::OnNewOrAdd() {
    if (m_activeTree == kAllTree) {
        auto contact = std::make_unique<iOSContact>();
        contact->recordKind = L"person";
        OpenEditor(std::move(contact), true);
        return;
    }
    if (SelectedGroup() == nullptr) return;
    SetMemberAdding(true);
    ShowContacts(m_model.Contacts());
}

void DhContactsDelegate::OnOk() {
    if (!m_memberAdding) return;
    iOSContactGroup* group = SelectedGroup();
    std::vector<std::wstring> checked;
    for (int row : CheckedRows()) {
        if (iOSContact* record = RowRecord(row)) checked.push_back(record->identifier);
    }
    SetMemberAdding(false);
    if (group == nullptr) {
        ShowContacts({});
        return;
    }
    ShowGroupMembers(*group);
    if (checked.empty()) return;
    auto changed = std::make_unique<iOSContactGroup>(*group);
    changed->members = contacts::MemberUnion(group->members, checked);
    SendGroup(contacts::kRequestChangeGroup, std::move(changed));
}

void DhContactsDelegate::OnEdit() {
    const std::vector<int> selected = m_list.GetSelectedItems();
    if (selected.empty()) return;
    iOSContact* record = RowRecord(selected.front());
    if (record == nullptr) return;
    auto copy = std::make_unique<iOSContact>(*record);
    copy->editState = 2;
    OpenEditor(std::move(copy), false);
}

void DhContactsDelegate::OpenEditor(std::unique_ptr<iOSContact> contact, bool isNew) {
    DhContactEditView editor(m_hWnd, &m_labels);
    editor.SetTitle(isNew ? L"New" : L"Edit");
    editor.SetPicture(Image("contacts\\preview-contacts.png"));
    editor.SetContact(std::move(contact), isNew);
    AttachObserver(&editor);
    HWND owner = GetActiveWindow();
    editor.Run(owner != nullptr ? owner : m_hWnd);
    DetachObserver(&editor);
}

void DhContactsDelegate::OnDelete() {
    const std::vector<int> rows = CheckedRows();
    if (m_activeTree == kAllTree) {
        auto identifiers = std::make_unique<std::vector<std::wstring>>();
        for (int row : rows) {
            if (iOSContact* record = RowRecord(row)) identifiers->push_back(record->identifier);
        }
        const int64_t count = static_cast<int64_t>(identifiers->size());
        SendToHost(m_hWnd, contacts::kRequestDelete, identifiers.release(), count);
        return;
    }
    iOSContactGroup* group = SelectedGroup();
    if (group == nullptr || rows.empty()) return;
    std::vector<std::wstring> checked;
    for (int row : rows) {
        if (iOSContact* record = RowRecord(row)) checked.push_back(record->identifier);
    }
    auto changed = std::make_unique<iOSContactGroup>(*group);
    changed->members = contacts::MemberDifference(group->members, checked);
    SendGroup(contacts::kRequestChangeGroup, std::move(changed));
}

void DhContactsDelegate::OnExportMenu() {
    const int choice = TrackMenuBelow(m_exportButton, {{static_cast<int>(contacts::kRequestExportCsv), L"Export to CSV"},
                                                       {static_cast<int>(contacts::kRequestExportVcards),
                                                        L"Export to vCards(.vcf)"},
                                                       {static_cast<int>(contacts::kRequestBackupXml), L"Backup to XML"}});
    if (choice == 0) return;
    auto records = std::make_unique<std::vector<iOSContact*>>();
    for (int row : CheckedRows()) records->push_back(RowRecord(row));
    const int64_t count = static_cast<int64_t>(records->size());
    SendToHost(m_hWnd, choice, records.release(), count);
}

void DhContactsDelegate::OnImportMenu() {
    const int choice =
        TrackMenuBelow(m_importButton, {{static_cast<int>(contacts::kRequestImportXml), L"Import XML file"}});
    if (choice == contacts::kRequestImportXml) SendToHost(m_hWnd, contacts::kRequestImportXml);
}

void DhContactsDelegate::OnRefresh() {
    m_lastClickedRow = -1;
    m_list.DeleteAllItems();
    m_nameNeed = m_phoneNeed = 0;
    m_preview.SetContact(nullptr, L"");
    m_model.ClearContacts();
    // The tree's group items go before the records they point at.
    for (HTREEITEM item : GroupItems()) SendMessageW(m_groupTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
    m_model.ClearGroups();
    SendToHost(m_hWnd, contacts::kRequestLoad);
}

void DhContactsDelegate::OnAddGroup() {
    HTREEITEM item = InsertGroupItem(nullptr);
    if (item == nullptr) return;
    SetFocus(m_groupTree);
    SendMessageW(m_groupTree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(item));
}

void DhContactsDelegate::OnRemoveGroup() {
    iOSContactGroup* group = SelectedGroup();
    if (group == nullptr) return;
    SendToHost(m_hWnd, contacts::kRequestRemoveGroup, _wcsdup(group->identifier.c_str()));
}
