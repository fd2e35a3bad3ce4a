#pragma once
// DhContactEditPropertyView: the scrolling area of the contact editor that holds every field of a contact
// except the five name parts. One group per property kind, each with a caption and an add button; each row
// with an optional label combo box, one or more value edits and a delete button. It turns the editor's
// working contact into rows when it is created (contact_editor_rules.h decides which and what they show),
// adds and removes rows as the user asks, and reads the rows back on save. The view never sends anything.
//
// Each row owns a copy of the value it edits; rows the user removes are set aside, never sent. Buttons are
// destroyed after the click that removed their row has finished (WM_DESTROY_CONTROL). UI thread only.

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "VNLEdit.h"
#include "VNLImgButton.h"
#include "contact_editor_rules.h"

// Posted by the view to itself: wParam the VNLImgButton to destroy and delete.
#define WM_DESTROY_CONTROL (WM_USER + 107)
static_assert(WM_DESTROY_CONTROL == 0x46B, "WM_DESTROY_CONTROL is WM_USER+107");

class DhContactEditPropertyView : public wtl::CWindowImpl<DhContactEditPropertyView> {
public:
    DECLARE_WND_CLASS_EX(L"DhContactEditPropertyView", 0, nullptr)

    DhContactEditPropertyView();
    ~DhContactEditPropertyView() override;

    BEGIN_MSG_MAP(DhContactEditPropertyView)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_COMMAND(OnCommand)
    MESSAGE_HANDLER_EX(WM_VSCROLL, OnVScroll)
    MESSAGE_HANDLER_EX(WM_MOUSEWHEEL, OnMouseWheel)
    MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnTransparentColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORLISTBOX, OnTransparentColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORBTN, OnTransparentColour)
    MESSAGE_HANDLER_EX(WM_DESTROY_CONTROL, OnDestroyControl)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    // Set before the window is made: the editor's working contact (its property lists are emptied when the
    // rows are built), whether it is a new contact, and the label table (lent by the page).
    void SetSource(iOSContact* contact, bool isNewContact, const ardena::ContactLabelTable* labels) {
        m_contact = contact;
        m_isNewContact = isNewContact;
        m_labels = labels;
    }

    // Adds a row of the "Add Field" menu's kind (ids 9000 to 9012), then lays out.
    void AddKind(int menuId);
    // True when a row of the kind (a record kind key) was made.
    bool IsKindPresent(const std::wstring& recordKind) const { return m_presentKinds.count(recordKind) != 0; }
    // Every row read back, in id order; accepted rows carry the record to save.
    std::vector<ardena::CollectedRow> CollectRows();

    // The control ids of the rows of one kind, in order (for the editor's tests and probes).
    std::vector<int> RowIds(ardena::RowKind kind) const;
    HWND RowEdit(int rowId, size_t index) const;
    HWND RowCombo(int rowId) const;

private:
    struct PropertyRow;

    LRESULT OnCreate(CREATESTRUCTW*);
    void OnPaint();
    void OnCommand(UINT code, int id, HWND control);
    LRESULT OnVScroll(WPARAM wParam, LPARAM);
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM);
    bool OnLButtonDown(WPARAM, LPARAM, LRESULT&);
    LRESULT OnTransparentColour(WPARAM dc, LPARAM);
    LRESULT OnDestroyControl(WPARAM control, LPARAM);

    // Makes a row of `seed`'s kind; false when the kind's id range is used up.
    bool CreateRow(const ardena::RowSeed& seed);
    void CreateCaption(const ardena::RowKindInfo& info);
    HWND MakeCombo(bool editable, int width);
    VNLEdit* MakeEdit(PropertyRow& row, const std::wstring& text, int width, const std::wstring& hint, bool note);
    void DeleteRow(int id);
    void ClearRow(PropertyRow& row);
    void LayOut(bool keepPosition);
    void ScrollTo(int position);
    ardena::RowInput ReadRow(const PropertyRow& row) const;

    struct Caption {
        HWND text = nullptr;
        std::unique_ptr<VNLImgButton> add;
        SIZE size = {};
    };
    struct PropertyRow {
        ardena::RowSeed seed;
        int id = 0;
        HWND combo = nullptr;  // label or service combo
        std::vector<std::unique_ptr<VNLEdit>> edits;
        std::vector<int> editWidths;
        HWND country = nullptr;  // address rows
        std::unique_ptr<VNLImgButton> remove;
        ardena::RowInput shown;  // what the controls held right after the row was made
    };

    std::vector<ardena::CollectedRow> m_accepted;
    std::vector<std::unique_ptr<PropertyRow>> m_setAside;  // removed rows, never saved
    std::map<int, Caption> m_captions;                     // by caption id
    std::map<int, std::unique_ptr<PropertyRow>> m_rows;    // by row id: the layout walks ids in order
    std::vector<std::unique_ptr<VNLImgButton>> m_dyingButtons;
    wtl::UniqueFont m_editFont;
    wtl::UniqueFont m_captionFont;
    int m_captionX = 2;
    int m_buttonX = 470;
    int m_rowGap = 22;
    int m_editHeight = 24;
    std::map<ardena::RowKind, int> m_counters;  // the last id each kind gave out
    int m_nextEditId = 10000;
    bool m_isNewContact = true;
    iOSContact* m_contact = nullptr;  // the editor's
    std::set<std::wstring> m_presentKinds;
    const ardena::ContactLabelTable* m_labels = nullptr;
    std::wstring m_dateHint;
    int m_contentHeight = 0;
};
