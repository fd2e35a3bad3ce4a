#pragma once
// DhContactsDelegate: the contacts page of one device, a child of the host's page container, on the list
// pages' base (DhPageDelegate: toolbar, search box, list, replies). A toolbar with the search box, a group panel on the left (an "All Contacts" entry and the device's groups), the contact
// list in the middle and the read-only preview on the right; an iCloud notice replaces all of it while the
// device keeps its contacts in iCloud. The page keeps the records the host sends (ContactPageModel) and
// mirrors them in its list and tree; every change is a request to the host.
//
// List rows and tree items point at records the model holds through shared pointers; whenever the model
// lets go of a record (a newer batch, a removal, a newer group batch, a group answer) the rows, items and
// preview that pointed at it go too, or are repointed at the replacement.
//
// Created with new by the plug-in's receiver and kept until the process ends. UI thread, except
// PageSequence(), which the receiver reads from the thread that delivers commands (one aligned int).

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "DhPageDelegate.h"
#include "VNLImgButton.h"
#include "VNLSwitchButton.h"
#include "VNLSwitchImageButton.h"
#include "host_messages.h"
#include "DhContactDetailView.h"
#include "contact_page_model.h"
#include "contact_rules.h"

namespace contacts_ids {
// Control ids of the page (WM_COMMAND and WM_NOTIFY).
constexpr int kNew = 5000;
constexpr int kUnfold = 5001;
constexpr int kFold = 5002;
constexpr int kRefresh = 5003;
constexpr int kDelete = 5004;
constexpr int kSearchButton = 5005;
constexpr int kSearchEdit = 5006;
constexpr int kEdit = 5007;
constexpr int kExport = 5008;
constexpr int kImport = 5009;
constexpr int kList = 5011;
constexpr int kContinue = 5014;
constexpr int kAllTree = 5015;
constexpr int kGroupTree = 5016;
constexpr int kAddGroup = 5017;
constexpr int kRemoveGroup = 5018;
constexpr int kOk = 5019;
}  // namespace contacts_ids

class DhContactsDelegate : public wtl::CWindowImpl<DhContactsDelegate>, public DhPageDelegate {
public:
    DECLARE_WND_CLASS_EX(L"DhContactsDelegate", CS_DBLCLKS, nullptr)

    DhContactsDelegate();
    ~DhContactsDelegate() override;

    BEGIN_MSG_MAP(DhContactsDelegate)
        MSG_WM_CREATE(OnCreate)
        MSG_WM_PAINT(OnPaint)
        MSG_WM_COMMAND(OnCommand)
        MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER_EX(WM_DROPFILES, OnDropFiles)
        MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReply)
        CHAIN_PAGE_MESSAGES()
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    int PageSequence() const override { return m_model.Sequence(); }
    HWND CreatePageWindow(HWND parent, const RECT& rect, DWORD style) override {
        return Create(parent, rect, L"", style, 0, nullptr);
    }
    // Lays the page out for its current size: the notice layout while the notice is up, else the normal one.
    void LayOut() override;

    // For the plug-in's tests and probes: what the page holds and shows.
    const contacts::ContactPageModel& Model() const { return m_model; }
    const iOSContact* PreviewedContact() const { return m_preview.Contact(); }
    bool IsNoticeShown() const { return m_notice; }

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    void OnPaint();
    void OnCommand(UINT code, int id, HWND control);
    bool OnNotify(WPARAM, LPARAM lParam, LRESULT& result);
    LRESULT OnDropFiles(WPARAM drop, LPARAM);
    LRESULT OnHostReply(WPARAM code, LPARAM payload);

    // Creation.
    void CreateToolbar();
    void CreateGroupPanel();
    void CreateNotice();

    // Layout and painting.
    void LayOutNormal();
    void LayOutNotice();
    void PaintNotice(HDC dc, const RECT& client);

    // Host replies, by code.
    void OnContactAdded(std::shared_ptr<iOSContact>* holder);
    void OnContactsLoaded(ItemBatch<iOSContact>* batch);
    void OnLoadingFinished();
    void OnContactRemoved(wchar_t* identifier);
    void OnGroupsLoaded(ItemBatch<iOSContactGroup>* batch);
    void OnGroupChanged(iOSContactGroup* record);
    void OnGroupRemoved(wchar_t* identifier);
    void ShowNotice(bool show);

    // The list.
    void ShowContacts(const std::vector<contacts::ContactPtr>& contacts);
    int AddRow(const contacts::ContactPtr& contact);
    void WriteRow(int row, iOSContact* contact);
    // The columns as wide as their widest texts need, as far as the list's width allows
    // (contacts::SplitContactColumns); the widest name and phone written are kept as rows are written.
    void FitColumns();
    void NoteRowTexts(const std::wstring& name, const std::wstring& phone);
    int TextWidth(const std::wstring& text) const;
    iOSContact* RowRecord(int row) const;
    int RowOf(const iOSContact* contact) const;
    contacts::ContactPtr SharedOf(const iOSContact* contact) const;
    // Puts the rows in `order` (records of the rows now shown) keeping each record's check mark, and with
    // `selectionFollows` its selection and the last clicked row too.
    void RewriteRows(const std::vector<iOSContact*>& order, bool selectionFollows);
    void Preview(const contacts::ContactPtr& contact);
    void PreviewRow(int row);
    void OnListClick(const NMITEMACTIVATE& click);
    void OnColumnClick(int column);
    void RunSearch() override;

    // Groups.
    HTREEITEM InsertGroupItem(const contacts::GroupPtr& group);
    iOSContactGroup* ItemGroup(HTREEITEM item) const;
    void SetItemGroup(HTREEITEM item, iOSContactGroup* group, const std::wstring& text);
    std::vector<HTREEITEM> GroupItems() const;
    iOSContactGroup* SelectedGroup() const;
    void ShowGroupMembers(const iOSContactGroup& group);
    void OnTreeSelection(int tree, HTREEITEM item);
    void OnBeginLabelEdit(NMTVDISPINFOW& info, LRESULT& result);
    void OnEndLabelEdit(NMTVDISPINFOW& info, LRESULT& result);
    void SetPanelUnfolded(bool unfolded);
    void SetMemberAdding(bool adding);
    void SetToolbarCaptions(bool groupShown);

    // Toolbar actions.
    void OnNewOrAdd();
    void OnOk();
    void OnEdit();
    void OnDelete();
    void OnExportMenu();
    void OnImportMenu();
    void OnRefresh();
    void OnAddGroup();
    void OnRemoveGroup();
    void SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group);
    void OpenEditor(std::unique_ptr<iOSContact> contact, bool isNew);

    contacts::ContactPageModel m_model;
    wtl::UniqueFont m_titleFont;
    COLORREF m_hot = RGB(0x6A, 0xAE, 0xF0);
    COLORREF m_caption = RGB(0x3A, 0x8E, 0xE6);

    VNLSwitchImageButton m_newButton;
    VNLSwitchImageButton m_okButton;
    VNLSwitchImageButton m_editButton;
    VNLSwitchImageButton m_exportButton;
    VNLSwitchImageButton m_importButton;
    VNLSwitchImageButton m_deleteButton;
    VNLSwitchImageButton m_refreshButton;

    DhContactDetailView m_preview;
    int m_nameNeed = 0;   // the widest name and phone text of the rows written since the list was emptied
    int m_phoneNeed = 0;
    HWND m_allTree = nullptr;
    HWND m_groupTree = nullptr;
    HTREEITEM m_allItem = nullptr;
    HTREEITEM m_editingItem = nullptr;  // the groups tree's item whose label is being edited
    VNLImgButton m_unfoldButton;
    VNLImgButton m_foldButton;
    VNLImgButton m_addGroupButton;
    VNLImgButton m_removeGroupButton;
    int m_activeTree = 5015;
    bool m_panelUnfolded = false;
    bool m_memberAdding = false;
    RECT m_groupsLabelRect = {};

    bool m_notice = false;
    VNLSwitchButton m_continueButton;
    Gdiplus::Bitmap* m_noticePicture = nullptr;  // lent
    RECT m_noticeTextRect = {};
    RECT m_noticeTitleRect = {};
    RECT m_noticePictureRect = {};
    RECT m_noticeStepRects[3] = {};

    contacts::ContactLabelTable m_labels;
};
