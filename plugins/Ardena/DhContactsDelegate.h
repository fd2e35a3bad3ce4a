#pragma once
// DhContactsDelegate: the contacts page of one device, a child of the host's page container, on the list
// pages' base (DhPageDelegate: toolbar, search box, list, replies). A toolbar with the search box, the group
// panel on the left (ContactGroupPanel: an "All Contacts" entry and the device's groups), the contact list
// in the middle and the read-only preview on the right; the iCloud notice (ContactsNotice) replaces all of
// it while the device keeps its contacts in iCloud. The page keeps the records the host sends
// (ContactPageModel) and mirrors them in its list and the panel's tree; every change is a request to the
// host.
//
// List rows and tree items point at records the model holds through shared pointers; whenever the model
// lets go of a record (a newer batch, a removal, a newer group batch, a group answer) the rows, items and
// preview that pointed at it go too, or are repointed at the replacement.
//
// Made by the plug-in's receiver (page_module.h) and kept until the process ends. UI thread, except
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
#include "page_module.h"
#include "DhContactDetailView.h"
#include "contact_group_panel.h"
#include "contact_page_ids.h"
#include "contact_page_model.h"
#include "contact_rules.h"
#include "contacts_notice.h"

class DhContactsDelegate : public wtl::CWindowImpl<DhContactsDelegate>,
                           public DhPageDelegate,
                           private ContactGroupPanel::Listener {
public:
    DECLARE_WND_CLASS_EX(L"DhContactsDelegate", CS_DBLCLKS, nullptr)

    explicit DhContactsDelegate(const pages::PageModule& module);
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
    const ardena::ContactPageModel& Model() const { return m_model; }
    const iOSContact* PreviewedContact() const { return m_preview.Contact(); }
    bool IsNoticeShown() const { return m_notice.Shown(); }

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

    // Host replies, by code.
    void OnContactAdded(std::shared_ptr<iOSContact>* holder);
    void OnContactsLoaded(ItemBatch<iOSContact>* batch);
    void OnLoadingFinished();
    void OnContactRemoved(wchar_t* identifier);
    void ShowNotice(bool show);

    // The list.
    void ShowContacts(const std::vector<ardena::ContactPtr>& contacts) override;
    int AddRow(const ardena::ContactPtr& contact);
    void WriteRow(int row, iOSContact* contact);
    // The columns as wide as their widest texts need, as far as the list's width allows
    // (ardena::SplitContactColumns); the widest name and phone written are kept as rows are written.
    void FitColumns();
    void NoteRowTexts(const std::wstring& name, const std::wstring& phone);
    int TextWidth(const std::wstring& text) const;
    iOSContact* RowRecord(int row) const;
    int RowOf(const iOSContact* contact) const;
    ardena::ContactPtr SharedOf(const iOSContact* contact) const;
    // Puts the rows in `order` (records of the rows now shown) keeping each record's check mark, and with
    // `selectionFollows` its selection and the last clicked row too.
    void RewriteRows(const std::vector<iOSContact*>& order, bool selectionFollows);
    void Preview(const ardena::ContactPtr& contact);
    void PreviewRow(int row);
    void OnListClick(const NMITEMACTIVATE& click);
    void OnColumnClick(int column);
    void RunSearch() override;

    // The group panel's requests (ContactGroupPanel::Listener).
    void ClearList() override;
    void SendGroupRequest(int64_t code, void* data) override;
    void GroupPanelResized() override;
    void SetToolbarCaptions(bool groupShown) override;
    void SetMemberAdding(bool adding);

    // Toolbar actions.
    void OnNewOrAdd();
    void OnOk();
    void OnEdit();
    void OnDelete();
    void OnExportMenu();
    void OnImportMenu();
    void OnRefresh();
    void SendGroup(int64_t code, std::unique_ptr<iOSContactGroup> group);
    void OpenEditor(std::unique_ptr<iOSContact> contact, bool isNew);

    const pages::PageModule& m_module;
    ardena::ContactPageModel m_model;
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
    int m_nameNeed = 0;  // the widest name and phone text of the rows written since the list was emptied
    int m_phoneNeed = 0;
    ContactGroupPanel m_groups{m_model, *this};
    ContactsNotice m_notice;

    ardena::ContactLabelTable m_labels;
};
