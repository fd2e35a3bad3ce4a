#pragma once
// The contacts page's group panel, left of the list: an "All Contacts" tree of one item, the "[Groups]"
// label and a tree of the device's groups (labels editable), with buttons to fold and unfold the panel and
// to add and remove a group. The panel mirrors the model's groups in its tree, turns label edits and the
// add and remove buttons into requests to the host, and tells the page what to list when the selection
// moves. While members are being added to a group the panel is hidden. Group items point at records the
// model holds; whenever the model lets go of a group its item goes first.
//
// Its windows are children of the page, which forwards their commands and notifications. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "VNLImgButton.h"
#include "contact_page_ids.h"
#include "contact_page_model.h"

class ContactGroupPanel {
public:
    // What the panel asks of its page.
    class Listener {
    public:
        // Lists `contacts` in place of the rows shown.
        virtual void ShowContacts(const std::vector<ardena::ContactPtr>& contacts) = 0;
        // Empties the list without refitting it (a newer selection fills it next).
        virtual void ClearList() = 0;
        // The toolbar's captions for a group shown (Add, Remove) or all contacts (New, Delete).
        virtual void SetToolbarCaptions(bool groupShown) = 0;
        // Sends a group request; `data` is the host's from here.
        virtual void SendGroupRequest(int64_t code, void* data) = 0;
        // The panel was folded or unfolded: the page lays itself out again.
        virtual void GroupPanelResized() = 0;

    protected:
        ~Listener() = default;
    };
    // Makes an image button on the page (the pages' base: id, normal and pressed image, tool tip).
    using MakeButton = std::function<void(VNLImgButton&, int, const char*, const char*, const wchar_t*)>;

    ContactGroupPanel(ardena::ContactPageModel& model, Listener& listener) : m_model(model), m_listener(listener) {}

    void Create(HWND page, HFONT font, const MakeButton& makeButton);
    // The panel's width when unfolded, where the list starts.
    int ListLeft() const;
    void LayOut(int height);
    void Paint(HDC dc) const;
    // Shows the panel's windows as folded or unfolded, or hides them all (`shown` false).
    void Show(bool shown);

    bool AllShown() const;
    bool MemberAdding() const { return m_memberAdding; }
    void SetMemberAdding(bool adding);
    // The selected group while the groups tree is the active one, else null.
    iOSContactGroup* SelectedGroup() const;
    HWND AllTree() const { return m_allTree; }
    HWND GroupTree() const { return m_groupTree; }

    // The panel's buttons and trees: true when `id` or the notification was the panel's.
    bool OnCommand(int id);
    bool OnNotify(const NMHDR& header, LPARAM lParam, LRESULT& result);

    // Host replies.
    void OnGroupsLoaded(ItemBatch<iOSContactGroup>* batch);
    void OnGroupChanged(iOSContactGroup* record);
    void OnGroupRemoved(wchar_t* identifier);
    // Drops every group item and then the model's groups (a refresh).
    void Clear();

private:
    HTREEITEM InsertGroupItem(const ardena::GroupPtr& group);
    iOSContactGroup* ItemGroup(HTREEITEM item) const;
    void SetItemGroup(HTREEITEM item, iOSContactGroup* group, const std::wstring& text);
    std::vector<HTREEITEM> GroupItems() const;
    HTREEITEM SelectedItem() const;
    void DeleteItem(HTREEITEM item) const;
    void OnTreeSelection(int tree, HTREEITEM item);
    void OnBeginLabelEdit(NMTVDISPINFOW& info, LRESULT& result);
    void OnEndLabelEdit(NMTVDISPINFOW& info, LRESULT& result);
    void SetUnfolded(bool unfolded);
    void OnAddGroup();
    void OnRemoveGroup();
    void SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group);

    ardena::ContactPageModel& m_model;
    Listener& m_listener;
    HWND m_page = nullptr;
    HFONT m_font = nullptr;  // lent by the page
    HWND m_allTree = nullptr;
    HWND m_groupTree = nullptr;
    HTREEITEM m_allItem = nullptr;
    HTREEITEM m_editingItem = nullptr;  // the groups tree's item whose label is being edited
    VNLImgButton m_unfoldButton;
    VNLImgButton m_foldButton;
    VNLImgButton m_addGroupButton;
    VNLImgButton m_removeGroupButton;
    int m_activeTree = ardena::page_ids::kAllTree;
    bool m_unfolded = false;
    bool m_memberAdding = false;
    RECT m_labelRect = {};
};
