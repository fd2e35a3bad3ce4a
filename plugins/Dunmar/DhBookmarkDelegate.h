#pragma once
// DhBookmarkDelegate: the bookmarks page of one device (the Dunmar plug-in): the device's folders and pages
// in a column tree (name and URL) with check boxes, on the pages' base (toolbar, search box, notice). New,
// Edit and the entry menu ask the host for a name and URL and then save the entry; Export, Import, Delete
// and Refresh ask the host. A search shows every matching entry as a flat list. While the device keeps its
// bookmarks in iCloud a notice panel replaces the tree. Tree items point at entries the model holds; an
// entry that leaves the model takes every tree item that shows it or one of its descendants along.
// Made by the plug-in's receiver, kept for the run. UI thread, except PageSequence().

#include <windows.h>

#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "CColumnTreeView.h"
#include "DhPageDelegate.h"
#include "bookmark_model.h"
#include "host_messages.h"
#include "notice_panel.h"
#include "page_module.h"

class DhBookmarkDelegate : public wtl::CWindowImpl<DhBookmarkDelegate>, public DhPageDelegate {
public:
    DECLARE_WND_CLASS_EX(L"DhBookmarkDelegate", CS_DBLCLKS, nullptr)

    static constexpr int kRefreshId = 5000;
    static constexpr int kDeleteId = 5001;
    static constexpr int kSearchButtonId = 5002;
    static constexpr int kSearchEditId = 5003;
    static constexpr int kEditId = 5004;
    static constexpr int kExportId = 5005;
    static constexpr int kImportId = 5006;
    static constexpr int kTreeViewId = 5007;
    static constexpr int kContinueId = 5008;
    static constexpr int kNewId = 5009;

    explicit DhBookmarkDelegate(const pages::PageModule& module) : DhPageDelegate(module.Images()), m_module(module) {}

    BEGIN_MSG_MAP(DhBookmarkDelegate)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_COMMAND(OnCommand)
    MESSAGE_HANDLER_EX(WM_CONTEXTMENU, OnContextMenu)
    MESSAGE_HANDLER_EX(WM_DROPFILES, OnDropFiles)
    MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReply)
    CHAIN_PAGE_MESSAGES()
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    int PageSequence() const override { return m_model.Sequence(); }
    HWND CreatePageWindow(HWND parent, const RECT& rect, DWORD style) override {
        return Create(parent, rect, L"", style, 0, nullptr);
    }
    void LayOut() override;

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    void OnPaint();
    void OnCommand(UINT, int id, HWND control);
    LRESULT OnContextMenu(WPARAM window, LPARAM point);
    LRESULT OnDropFiles(WPARAM drop, LPARAM);
    LRESULT OnHostReply(WPARAM code, LPARAM payload);

    void Send(CommandMessage& message, int64_t code);
    HWND TreeWindow() const { return m_tree.Tree(); }
    BookmarkItem* EntryOf(HTREEITEM item) const;
    const std::wstring* IdentifierOf(HTREEITEM item) const;
    // The open folders and the selection, to be kept over a rebuild of the tree.
    dunmar::KeptTreeState KeptState() const;
    HTREEITEM InsertEntry(HTREEITEM parent, BookmarkItem& entry, bool withChildren);
    void DeleteAllItems();
    void OnLoaded(ItemBatch<BookmarkItem>* batch);
    void OnRemoved(wchar_t* identifier);
    void RunSearch() override;
    void OnDelete();
    void OnExport();
    void OnImport();
    void OnAddMenu();
    // Adds (11 folder, 12 page) next to or in `target`, or edits it (13).
    void AddOrEdit(int code, BookmarkItem* target);
    void ShowNotice(bool show);

    const pages::PageModule& m_module;
    dunmar::BookmarkModel m_model;
    dunmar::KeptTreeState m_kept;  // what the rebuild under way restores, batch by batch
    CColumnTreeView m_tree;
    wtl::UniqueFont m_boldFont;
    VNLSwitchImageButton m_new;
    VNLSwitchImageButton m_edit;
    VNLSwitchImageButton m_export;
    VNLSwitchImageButton m_import;
    VNLSwitchImageButton m_delete;
    VNLSwitchImageButton m_refresh;
    NoticePanel m_notice;
};
