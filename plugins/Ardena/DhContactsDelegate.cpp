// The contacts page window; see DhContactsDelegate.h. Creation, layout and painting, the host's replies,
// the list (rows, preview, search, sort, drops) and the toolbar's requests; the group panel is in
// contact_group_panel.cpp and the iCloud notice in contacts_notice.cpp.
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

using namespace ardena::page_ids;

namespace {

constexpr int kPreviewWidth = 222;
constexpr int kToolbarFirstX = 32;
void Place(HWND window, int x, int y, int width, int height) {
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowIf(HWND window, bool show) {
    if (window != nullptr) ShowWindow(window, show ? SW_SHOW : SW_HIDE);
}

int ImageWidth(Gdiplus::Bitmap* image) { return image != nullptr ? static_cast<int>(image->GetWidth()) : 0; }

void SendToHost(const pages::PluginModule& module, HWND window, int64_t code, void* data = nullptr, int64_t count = 0) {
    CommandMessage message{};
    message.code = code;
    message.window = window;
    message.data = data;
    message.count = count;
    module.Send(message);
}

}  // namespace

DhContactsDelegate::DhContactsDelegate(const pages::PageModule& module)
    : DhPageDelegate(module.Images()), m_module(module), m_preview(module.Images()) {}

DhContactsDelegate::~DhContactsDelegate() = default;

// ---- Creation --------------------------------------------------------------------------------------------

LRESULT DhContactsDelegate::OnCreate(CREATESTRUCTW*) {
    m_labels = ardena::BuildContactLabelTable(ardena::Countries());
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
    m_notice.Create(CreateButtonWindow(kContinue, L"Continue"), Image("contacts\\content-contacts-icloud.png"),
                    m_textFont.get(), m_titleFont.get(), m_caption, m_hot);
}

void DhContactsDelegate::CreateGroupPanel() {
    m_groups.Create(m_hWnd, m_textFont.get(),
                    [this](VNLImgButton& button, int id, const char* normal, const char* pressed, const wchar_t* tip) {
                        MakeImageButton(button, id, normal, pressed, tip);
                    });
}

// ---- Layout and painting ---------------------------------------------------------------------------------

void DhContactsDelegate::LayOut() {
    if (m_notice.Shown()) {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        m_notice.LayOut(m_hWnd, client);
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
    const int listLeft = m_groups.ListLeft();
    m_listRect = RECT{listLeft, top, width - kPreviewWidth, height};
    Place(m_list, m_listRect.left, m_listRect.top, m_listRect.right - m_listRect.left,
          m_listRect.bottom - m_listRect.top);
    FitColumns();

    m_groups.LayOut(height);

    PlaceSearchBox(width);
    PlaceToolbar(kToolbarFirstX);
}

void DhContactsDelegate::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC memory(paint.get(), client.right, client.bottom);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    SetBkMode(dc, TRANSPARENT);
    if (m_notice.Shown()) {
        m_notice.Paint(dc, client);
    } else {
        PaintToolbarBand(dc, client);
        m_groups.Paint(dc);
    }
    memory.CopyTo(paint.get(), 0, 0, client.right, client.bottom);
}

// ---- Messages --------------------------------------------------------------------------------------------

void DhContactsDelegate::OnCommand(UINT, int id, HWND control) {
    ReleaseToolbarButton(control);
    if (m_groups.OnCommand(id)) return;
    switch (id) {
    case kContinue: SendToHost(m_module, m_hWnd, sdk::contacts::kRequestLoad); break;
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
    return m_groups.OnNotify(*header, lParam, result);
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
    case sdk::contacts::kReplyContactAdded:
        OnContactAdded(static_cast<std::shared_ptr<iOSContact>*>(payload));
        return 0;
    case sdk::contacts::kReplyContactsLoaded:
        if (payload == nullptr) {
            OnLoadingFinished();
        } else {
            OnContactsLoaded(static_cast<ItemBatch<iOSContact>*>(payload));
        }
        return 0;
    case sdk::contacts::kReplyContactRemoved: OnContactRemoved(static_cast<wchar_t*>(payload)); return 0;
    case sdk::contacts::kReplyCloseEditor: NotifyObservers(nullptr, 0); return 0;
    case sdk::contacts::kReplyGroupsLoaded:
        m_groups.OnGroupsLoaded(static_cast<ItemBatch<iOSContactGroup>*>(payload));
        return 0;
    case sdk::contacts::kReplyHideCloudNotice: ShowNotice(false); return 0;
    case sdk::contacts::kReplyShowCloudNotice: ShowNotice(true); return 0;
    case sdk::contacts::kReplyGroupChanged: m_groups.OnGroupChanged(static_cast<iOSContactGroup*>(payload)); return 0;
    case sdk::contacts::kReplyGroupRemoved: m_groups.OnGroupRemoved(static_cast<wchar_t*>(payload)); return 0;
    default:
        // Unknown codes carry nothing the page could free.
        return 0;
    }
}

// ---- Host replies ----------------------------------------------------------------------------------------

void DhContactsDelegate::OnContactAdded(std::shared_ptr<iOSContact>* holder) {
    std::unique_ptr<std::shared_ptr<iOSContact>> owner(holder);
    if (owner == nullptr || !*owner) return;
    const ardena::ContactPtr contact = *owner;
    const ardena::ContactPtr old = contact->identifier.empty() ? nullptr : m_model.FindContact(contact->identifier);
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
    for (const ardena::ContactPtr& contact : owner->items) {
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
    const ardena::ContactPtr held = m_model.FindContact(owner.get());
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
    const ardena::ContactPtr removed = m_model.RemoveContact(owner.get());
    const iOSContact* shown = m_preview.Contact();
    if (shown != nullptr && ((removed && shown == removed.get()) || (held && shown == held.get()))) {
        m_preview.SetContact(nullptr, L"");
    }
}

void DhContactsDelegate::ShowNotice(bool show) {
    if (!m_notice.Show(show)) return;
    const bool normal = !show;
    for (HWND window : {m_list.m_hWnd, m_preview.m_hWnd, m_searchEdit.m_hWnd, m_searchButton.m_hWnd, m_frameLines[0],
                        m_frameLines[1], m_frameLines[2], m_frameLines[3]}) {
        ShowIf(window, normal);
    }
    m_groups.Show(normal);
    for (VNLSwitchImageButton* button :
         {&m_newButton, &m_editButton, &m_exportButton, &m_importButton, &m_deleteButton, &m_refreshButton}) {
        ShowIf(*button, normal && !m_groups.MemberAdding());
    }
    ShowIf(m_okButton, normal && m_groups.MemberAdding());
    LayOut();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// ---- The list --------------------------------------------------------------------------------------------

int DhContactsDelegate::AddRow(const ardena::ContactPtr& contact) {
    const std::wstring name = ardena::ContactDisplayName(*contact);
    const std::wstring phone = ardena::FirstPhoneText(*contact);
    NoteRowTexts(name, phone);
    const int row = m_list.AddItem({L"", name, phone});
    if (row >= 0) m_list.SetItemData(row, reinterpret_cast<LPARAM>(contact.get()));
    return row;
}

void DhContactsDelegate::WriteRow(int row, iOSContact* contact) {
    const std::wstring name = contact != nullptr ? ardena::ContactDisplayName(*contact) : L"";
    const std::wstring phone = contact != nullptr ? ardena::FirstPhoneText(*contact) : L"";
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
    const ardena::ContactColumnWidths widths =
        ardena::SplitContactColumns(static_cast<int>(client.right - client.left), numberNeed, nameNeed, phoneNeed);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 0, widths.number);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 1, widths.name);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, 2, widths.phone);
}

iOSContact* DhContactsDelegate::RowRecord(int row) const {
    return reinterpret_cast<iOSContact*>(m_list.GetItemData(row));
}

int DhContactsDelegate::RowOf(const iOSContact* contact) const {
    for (int row = 0; row < m_list.ItemCount(); ++row) {
        if (RowRecord(row) == contact) return row;
    }
    return -1;
}

ardena::ContactPtr DhContactsDelegate::SharedOf(const iOSContact* contact) const {
    for (const ardena::ContactPtr& held : m_model.Contacts()) {
        if (held.get() == contact) return held;
    }
    return nullptr;
}

void DhContactsDelegate::ShowContacts(const std::vector<ardena::ContactPtr>& shown) {
    SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    m_list.DeleteAllItems();
    m_nameNeed = m_phoneNeed = 0;
    m_lastClickedRow = -1;
    for (const ardena::ContactPtr& contact : shown) {
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

void DhContactsDelegate::Preview(const ardena::ContactPtr& contact) {
    if (!contact) {
        m_preview.SetContact(nullptr, L"");
        return;
    }
    m_preview.SetContact(contact, ardena::GroupTextOf(contact->identifier, m_model.Groups()));
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
    ardena::SortContactRows(rows, column, ascending, &SystemCompareNoCase);
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

// ---- The group panel's requests ------------------------------------------------------------------------

void DhContactsDelegate::ClearList() {
    m_list.DeleteAllItems();
    m_lastClickedRow = -1;
}

void DhContactsDelegate::SendGroupRequest(int64_t code, void* data) { SendToHost(m_module, m_hWnd, code, data); }

void DhContactsDelegate::GroupPanelResized() { LayOut(); }

void DhContactsDelegate::SetToolbarCaptions(bool groupShown) {
    m_newButton.Relayout(groupShown ? L"Add" : L"New");
    m_deleteButton.Relayout(groupShown ? L"Remove" : L"Delete");
    PlaceToolbar(kToolbarFirstX);
}

void DhContactsDelegate::SetMemberAdding(bool adding) {
    m_groups.SetMemberAdding(adding);
    for (VNLSwitchImageButton* button :
         {&m_newButton, &m_editButton, &m_exportButton, &m_importButton, &m_deleteButton, &m_refreshButton}) {
        ShowIf(*button, !adding);
    }
    ShowIf(m_okButton, adding);
    LayOut();
}

// ---- Toolbar requests ------------------------------------------------------------------------------------

void DhContactsDelegate::SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group) {
    SendGroupRequest(code, group.release());  // the receiver owns it from here
}

void DhContactsDelegate::OnNewOrAdd() {
    if (m_groups.AllShown()) {
        auto contact = std::make_unique<iOSContact>();
        contact->recordKind = L"person";
        OpenEditor(std::move(contact), true);
        return;
    }
    if (m_groups.SelectedGroup() == nullptr) return;
    SetMemberAdding(true);
    ShowContacts(m_model.Contacts());
}

void DhContactsDelegate::OnOk() {
    if (!m_groups.MemberAdding()) return;
    iOSContactGroup* group = m_groups.SelectedGroup();
    std::vector<std::wstring> checked;
    for (int row : CheckedRows()) {
        if (iOSContact* record = RowRecord(row)) checked.push_back(record->identifier);
    }
    SetMemberAdding(false);
    if (group == nullptr) {
        ShowContacts({});
        return;
    }
    ShowContacts(m_model.MembersOf(*group));
    if (checked.empty()) return;
    auto changed = std::make_unique<iOSContactGroup>(*group);
    changed->members = ardena::MemberUnion(group->members, checked);
    SendGroup(sdk::contacts::kRequestChangeGroup, std::move(changed));
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
    if (m_groups.AllShown()) {
        auto identifiers = std::make_unique<std::vector<std::wstring>>();
        for (int row : rows) {
            if (iOSContact* record = RowRecord(row)) identifiers->push_back(record->identifier);
        }
        const int64_t count = static_cast<int64_t>(identifiers->size());
        SendToHost(m_module, m_hWnd, sdk::contacts::kRequestDelete, identifiers.release(), count);
        return;
    }
    iOSContactGroup* group = m_groups.SelectedGroup();
    if (group == nullptr || rows.empty()) return;
    std::vector<std::wstring> checked;
    for (int row : rows) {
        if (iOSContact* record = RowRecord(row)) checked.push_back(record->identifier);
    }
    auto changed = std::make_unique<iOSContactGroup>(*group);
    changed->members = ardena::MemberDifference(group->members, checked);
    SendGroup(sdk::contacts::kRequestChangeGroup, std::move(changed));
}

void DhContactsDelegate::OnExportMenu() {
    const int choice = TrackMenuBelow(
        m_exportButton, {{static_cast<int>(sdk::contacts::kRequestExportCsv), L"Export to CSV"},
                         {static_cast<int>(sdk::contacts::kRequestExportVcards), L"Export to vCards(.vcf)"},
                         {static_cast<int>(sdk::contacts::kRequestBackupXml), L"Backup to XML"}});
    if (choice == 0) return;
    auto records = std::make_unique<std::vector<iOSContact*>>();
    for (int row : CheckedRows()) records->push_back(RowRecord(row));
    const int64_t count = static_cast<int64_t>(records->size());
    SendToHost(m_module, m_hWnd, choice, records.release(), count);
}

void DhContactsDelegate::OnImportMenu() {
    const int choice =
        TrackMenuBelow(m_importButton, {{static_cast<int>(sdk::contacts::kRequestImportXml), L"Import XML file"}});
    if (choice == sdk::contacts::kRequestImportXml) SendToHost(m_module, m_hWnd, sdk::contacts::kRequestImportXml);
}

void DhContactsDelegate::OnRefresh() {
    m_lastClickedRow = -1;
    m_list.DeleteAllItems();
    m_nameNeed = m_phoneNeed = 0;
    m_preview.SetContact(nullptr, L"");
    m_model.ClearContacts();
    m_groups.Clear();
    SendToHost(m_module, m_hWnd, sdk::contacts::kRequestLoad);
}
