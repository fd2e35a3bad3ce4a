// The contacts page's group panel; see contact_group_panel.h.
#include "contact_group_panel.h"

#include <objbase.h>

#include <cstdlib>
#include <cwchar>
#include <memory>

#include <wtl/GdiObjects.h>

#include "contact_codes.h"
#include "contact_rules.h"
#include "guid_text.h"

using namespace ardena::page_ids;

namespace {

constexpr int kPanelWidth = 141;
const wchar_t kAllContacts[] = L"All Contacts";
const wchar_t kGroupsLabel[] = L"[Groups]";
constexpr DWORD kTreeStyle = WS_CHILD | WS_HSCROLL | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                             TVS_NOTOOLTIPS | TVS_INFOTIP | TVS_FULLROWSELECT;

void Place(HWND window, int x, int y, int width, int height) {
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowIf(HWND window, bool show) {
    if (window != nullptr) ShowWindow(window, show ? SW_SHOW : SW_HIDE);
}

HWND CreateTree(HWND page, int id, DWORD style) {
    return CreateWindowExW(0, WC_TREEVIEWW, L"Tree", style, 0, 0, 10, 10, page,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

// ---- Creation and layout ---------------------------------------------------------------------------------

void ContactGroupPanel::Create(HWND page, HFONT font, const MakeButton& makeButton) {
    m_page = page;
    m_font = font;
    m_allTree = CreateTree(page, kAllTree, kTreeStyle);
    m_groupTree = CreateTree(page, kGroupTree, kTreeStyle | TVS_EDITLABELS);
    for (HWND tree : {m_allTree, m_groupTree}) {
        if (tree != nullptr) SendMessageW(tree, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    if (m_allTree != nullptr) {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = const_cast<wchar_t*>(kAllContacts);
        insert.item.lParam = 0;
        m_allItem =
            reinterpret_cast<HTREEITEM>(SendMessageW(m_allTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    makeButton(m_unfoldButton, kUnfold, "contacts\\operate-expand-normal.png", "contacts\\operate-expand-pressed.png",
               L"Group unfold");
    makeButton(m_foldButton, kFold, "contacts\\operate-shrink-normal.png", "contacts\\operate-shrink-pressed.png",
               L"Group fold");
    makeButton(m_addGroupButton, kAddGroup, "contacts\\contact-edit-add-normal.png",
               "contacts\\contact-edit-add-pressed.png", L"Add group");
    makeButton(m_removeGroupButton, kRemoveGroup, "contacts\\contact-edit-delete-normal.png",
               "contacts\\contact-edit-delete-pressed.png", L"Remove group");
    for (VNLImgButton* button : {&m_foldButton, &m_addGroupButton, &m_removeGroupButton}) {
        ShowWindow(*button, SW_HIDE);
    }
}

int ContactGroupPanel::ListLeft() const { return m_unfolded ? kPanelWidth : 1; }

void ContactGroupPanel::LayOut(int height) {
    // The two trees, the "[Groups]" label and the add and remove buttons.
    Place(m_allTree, 6, 40, 135, 30);
    SIZE label = {};
    {
        wtl::WindowDC dc(m_page);
        wtl::SelectGuard font(dc.get(), m_font);
        GetTextExtentPoint32W(dc.get(), kGroupsLabel, static_cast<int>(wcslen(kGroupsLabel)), &label);
    }
    m_labelRect = RECT{22, 80, 22 + label.cx, 80 + label.cy};
    const int treeTop = m_labelRect.bottom + 10;
    Place(m_groupTree, 30, treeTop, kPanelWidth - 30, height - 1 - treeTop);
    Place(m_addGroupButton, 4, 80, m_addGroupButton.Width(), m_addGroupButton.Height());
    Place(m_removeGroupButton, 4, 80 + m_addGroupButton.Height() + 12, m_removeGroupButton.Width(),
          m_removeGroupButton.Height());
    Place(m_unfoldButton, 6, 7, m_unfoldButton.Width(), m_unfoldButton.Height());
    Place(m_foldButton, 6, 7, m_foldButton.Width(), m_foldButton.Height());
}

void ContactGroupPanel::Paint(HDC dc) const {
    if (!m_unfolded || m_memberAdding) return;
    wtl::SelectGuard font(dc, m_font);
    SetTextColor(dc, RGB(0, 0, 0));
    RECT label = m_labelRect;
    DrawTextW(dc, kGroupsLabel, -1, &label, DT_SINGLELINE | DT_NOPREFIX);
}

void ContactGroupPanel::Show(bool shown) {
    for (HWND window :
         {m_allTree, m_groupTree, m_addGroupButton.m_hWnd, m_removeGroupButton.m_hWnd, m_foldButton.m_hWnd}) {
        ShowIf(window, shown && m_unfolded);
    }
    ShowIf(m_unfoldButton, shown && !m_unfolded);
}

void ContactGroupPanel::SetUnfolded(bool unfolded) {
    m_unfolded = unfolded;
    Show(true);
    m_listener.GroupPanelResized();
}

void ContactGroupPanel::SetMemberAdding(bool adding) {
    m_memberAdding = adding;
    Show(!adding);
}

// ---- Messages --------------------------------------------------------------------------------------------

bool ContactGroupPanel::OnCommand(int id) {
    switch (id) {
    case kUnfold: SetUnfolded(true); return true;
    case kFold: SetUnfolded(false); return true;
    case kAddGroup: OnAddGroup(); return true;
    case kRemoveGroup: OnRemoveGroup(); return true;
    default: return false;
    }
}

bool ContactGroupPanel::OnNotify(const NMHDR& header, LPARAM lParam, LRESULT& result) {
    const int id = static_cast<int>(header.idFrom);
    if (id == kGroupTree && header.code == TVN_BEGINLABELEDITW) {
        OnBeginLabelEdit(*reinterpret_cast<NMTVDISPINFOW*>(lParam), result);
        return true;
    }
    if (id == kGroupTree && header.code == TVN_ENDLABELEDITW) {
        OnEndLabelEdit(*reinterpret_cast<NMTVDISPINFOW*>(lParam), result);
        return true;
    }
    if ((id == kAllTree || id == kGroupTree) && header.code == TVN_SELCHANGEDW) {
        OnTreeSelection(id, reinterpret_cast<NMTREEVIEWW*>(lParam)->itemNew.hItem);
        return true;
    }
    return false;
}

// ---- The groups tree -------------------------------------------------------------------------------------

HTREEITEM ContactGroupPanel::InsertGroupItem(const ardena::GroupPtr& group) {
    const std::wstring text = group ? ardena::GroupItemText(*group) : std::wstring();
    TVINSERTSTRUCTW insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(group.get());
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(m_groupTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

iOSContactGroup* ContactGroupPanel::ItemGroup(HTREEITEM item) const {
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(m_groupTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<iOSContactGroup*>(tv.lParam);
}

void ContactGroupPanel::SetItemGroup(HTREEITEM item, iOSContactGroup* group, const std::wstring& text) {
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.lParam = reinterpret_cast<LPARAM>(group);
    tv.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(m_groupTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

std::vector<HTREEITEM> ContactGroupPanel::GroupItems() const {
    std::vector<HTREEITEM> items;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    while (item != nullptr) {
        items.push_back(item);
        item = reinterpret_cast<HTREEITEM>(
            SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return items;
}

HTREEITEM ContactGroupPanel::SelectedItem() const {
    return reinterpret_cast<HTREEITEM>(SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

void ContactGroupPanel::DeleteItem(HTREEITEM item) const {
    SendMessageW(m_groupTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
}

bool ContactGroupPanel::AllShown() const { return m_activeTree == kAllTree; }

iOSContactGroup* ContactGroupPanel::SelectedGroup() const {
    if (m_activeTree != kGroupTree) return nullptr;
    HTREEITEM selected = SelectedItem();
    return selected != nullptr ? ItemGroup(selected) : nullptr;
}

void ContactGroupPanel::OnTreeSelection(int tree, HTREEITEM item) {
    if (item == nullptr) return;  // the other tree losing its selection
    if (tree == kAllTree) {
        m_activeTree = kAllTree;
        SendMessageW(m_groupTree, TVM_SELECTITEM, TVGN_CARET, 0);
        m_listener.SetToolbarCaptions(false);
        m_listener.ShowContacts(m_model.Contacts());
        return;
    }
    m_activeTree = kGroupTree;
    SendMessageW(m_allTree, TVM_SELECTITEM, TVGN_CARET, 0);
    m_listener.SetToolbarCaptions(true);
    if (iOSContactGroup* group = ItemGroup(item)) {
        m_listener.ShowContacts(m_model.MembersOf(*group));
    } else {
        m_listener.ShowContacts({});
    }
}

void ContactGroupPanel::OnBeginLabelEdit(NMTVDISPINFOW& info, LRESULT& result) {
    result = FALSE;
    m_editingItem = info.item.hItem;
    HWND edit = reinterpret_cast<HWND>(SendMessageW(m_groupTree, TVM_GETEDITCONTROL, 0, 0));
    iOSContactGroup* group = ItemGroup(info.item.hItem);
    if (edit != nullptr) SetWindowTextW(edit, group != nullptr ? group->name.c_str() : L"");
}

void ContactGroupPanel::OnEndLabelEdit(NMTVDISPINFOW& info, LRESULT& result) {
    // The item's text changes when the host answers with the group's record.
    result = FALSE;
    // One edit ends once: the tree can report the end again while it hides its edit box (the box loses the
    // focus), and a second report would ask the host for a second group.
    if (info.item.hItem == nullptr || info.item.hItem != m_editingItem) return;
    m_editingItem = nullptr;
    iOSContactGroup* group = ItemGroup(info.item.hItem);
    const bool cancelled = info.item.pszText == nullptr || info.item.pszText[0] == L'\0';
    if (cancelled) {
        if (group == nullptr) DeleteItem(info.item.hItem);
        return;
    }
    const std::wstring name = info.item.pszText;
    if (group == nullptr) {
        auto created = std::make_unique<iOSContactGroup>();
        created->name = name;
        created->guidText = pages::NewGuidText();
        SendGroup(sdk::contacts::kRequestCreateGroup, std::move(created));
    } else if (group->name != name) {
        auto renamed = std::make_unique<iOSContactGroup>(*group);
        renamed->name = name;
        SendGroup(sdk::contacts::kRequestChangeGroup, std::move(renamed));
    }
}

void ContactGroupPanel::SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group) {
    m_listener.SendGroupRequest(code, group.release());  // the receiver owns it from here
}

void ContactGroupPanel::OnAddGroup() {
    HTREEITEM item = InsertGroupItem(nullptr);
    if (item == nullptr) return;
    SetFocus(m_groupTree);
    SendMessageW(m_groupTree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(item));
}

void ContactGroupPanel::OnRemoveGroup() {
    iOSContactGroup* group = SelectedGroup();
    if (group == nullptr) return;
    m_listener.SendGroupRequest(sdk::contacts::kRequestRemoveGroup, _wcsdup(group->identifier.c_str()));
}

void ContactGroupPanel::Clear() {
    // The tree's group items go before the records they point at.
    for (HTREEITEM item : GroupItems()) DeleteItem(item);
    m_model.ClearGroups();
}

// ---- Host replies ----------------------------------------------------------------------------------------

void ContactGroupPanel::OnGroupsLoaded(ItemBatch<iOSContactGroup>* batch) {
    std::unique_ptr<ItemBatch<iOSContactGroup>> owner(batch);
    if (owner == nullptr) return;
    bool cleared = false;
    if (!m_model.AcceptGroups(*owner, cleared)) return;
    if (cleared) {
        // The released groups' items would point at freed records: they go with them. Items the user has
        // just named (no record yet) stay.
        for (HTREEITEM item : GroupItems()) {
            if (ItemGroup(item) != nullptr) DeleteItem(item);
        }
    }
    for (const ardena::GroupPtr& group : owner->items) {
        if (group) InsertGroupItem(group);
    }
}

void ContactGroupPanel::OnGroupChanged(iOSContactGroup* record) {
    ardena::GroupPtr group(record);
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
        if (ardena::ContactPageModel::IsSameGroup(*held, *group)) {
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
    SetItemGroup(target, group.get(), ardena::GroupItemText(*group));
    if (SelectedItem() == target && m_activeTree == kGroupTree && !m_memberAdding) {
        m_listener.ShowContacts(m_model.MembersOf(*group));
    }
}

void ContactGroupPanel::OnGroupRemoved(wchar_t* identifier) {
    std::unique_ptr<wchar_t, decltype(&std::free)> owner(identifier, &std::free);
    if (owner == nullptr) return;
    for (HTREEITEM item : GroupItems()) {
        iOSContactGroup* group = ItemGroup(item);
        if (group == nullptr || group->identifier != owner.get()) continue;
        if (SelectedItem() == item) {
            m_listener.ClearList();
            HTREEITEM next = reinterpret_cast<HTREEITEM>(
                SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, reinterpret_cast<LPARAM>(item)));
            if (next == nullptr) {
                next = reinterpret_cast<HTREEITEM>(
                    SendMessageW(m_groupTree, TVM_GETNEXTITEM, TVGN_PREVIOUSVISIBLE, reinterpret_cast<LPARAM>(item)));
            }
            SendMessageW(m_groupTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(next));
        }
        // The item goes before its record does.
        DeleteItem(item);
        m_model.RemoveGroup(group);
        return;
    }
}
