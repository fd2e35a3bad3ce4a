#pragma once
// DhContactEditView: the modal dialog in which the user creates ("New") or changes ("Edit") a contact: a
// title strip, the contact picture, the five name parts, the property rows (DhContactEditPropertyView) and
// the buttons "Add Field", "OK" and "Cancel", with a soft shadow. OK hands the host a new record built from
// the rows and leaves the dialog open; the page closes it through Update(code 0) once the host reports the
// save. The editor owns its working record alone: every OK sends a fresh copy (which the receiver owns), so
// a repeated OK after a failed save sends each row once, and Cancel frees only the working record.
//
// Made on the page's stack, run modally from the plug-in's dialog template 101, attached to the page's
// subject while it runs. UI thread only.

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wtl/CDialogImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "CThemedShadowWnd.h"
#include "VNLEdit.h"
#include "VNLImgButton.h"
#include "VNLObserver.h"
#include "VNLSubject.h"
#include "VNLSwitchButton.h"
#include "DhContactEditPropertyView.h"
#include "contact_rules.h"

namespace Gdiplus {
class Bitmap;
}

namespace ardena::editor_ids {
constexpr int kMinimise = 4000;
constexpr int kClose = 4001;
constexpr int kOk = 4002;
constexpr int kAddField = 4003;
constexpr int kCancel = 4004;
// The name edits: prefix, first, middle, last, suffix.
constexpr int kFirstNameEdit = 4010;
constexpr int kPropertyView = 4020;
constexpr int kTemplate = 101;
}  // namespace ardena::editor_ids

class DhContactEditView : public wtl::CDialogImpl<DhContactEditView>, public VNLSubject, public VNLObserver {
public:
    DhContactEditView(HWND owner, const ardena::ContactLabelTable* labels);
    ~DhContactEditView() override;

    BEGIN_MSG_MAP(DhContactEditView)
    MSG_WM_INITDIALOG(OnInitDialog)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_COMMAND(OnCommand)
    MSG_WM_CLOSE(OnClose)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnBodyButtonDown)
    MESSAGE_HANDLER_EX(WM_CTLCOLORBTN, OnTransparentColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnTransparentColour)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    void SetTitle(const std::wstring& title) { m_title = title; }
    void SetPicture(Gdiplus::Bitmap* picture) { m_picture = picture; }
    // The working record: a new empty person, or the page's copy of the contact to edit.
    void SetContact(std::unique_ptr<iOSContact> contact, bool isNewContact) {
        m_contact = std::move(contact);
        m_isNewContact = isNewContact;
    }
    // Runs the dialog modally over `owner`; returns the end code (0).
    INT_PTR Run(HWND owner);

    // Code 0 (the host reported a successful save) ends the dialog; other codes change nothing shown.
    void Update(void* data, int code) override;

private:
    LRESULT OnInitDialog(HWND focus, LPARAM);
    void OnPaint();
    void OnCommand(UINT code, int id, HWND control);
    void OnClose() { EndDialog(0); }
    LRESULT OnBodyButtonDown(WPARAM, LPARAM lParam);
    LRESULT OnTransparentColour(WPARAM dc, LPARAM);

    void CreateTextButton(VNLSwitchButton& button, int id, const wchar_t* caption, COLORREF normal, COLORREF hot);
    void ShowAddFieldMenu();
    void SaveContact();

    const ardena::ContactLabelTable* m_labels;  // the page's
    std::wstring m_title;
    Gdiplus::Bitmap* m_picture = nullptr;  // lent
    VNLImgButton m_closeButton;
    VNLSwitchButton m_okButton;
    VNLSwitchButton m_cancelButton;
    VNLSwitchButton m_addFieldButton;
    HWND m_nameCaptions[5] = {};
    VNLEdit m_nameEdits[5];
    std::wstring m_shownNames[5];  // what the name edits held right after they were made
    DhContactEditPropertyView m_properties;
    RECT m_titleRect = {10, 6, 300, 24};
    int m_width = 540;
    int m_height = 540;
    std::map<int, std::pair<std::wstring, std::wstring>> m_addFieldTable;  // menu id -> (text, kind key)
    std::unique_ptr<CThemedShadowWnd> m_shadow;
    wtl::UniqueFont m_nameFont;
    wtl::UniqueFont m_dialogFont;
    wtl::UniqueFont m_buttonFont;
    bool m_isNewContact = true;
    COLORREF m_stripColour = RGB(0x3A, 0x8E, 0xE6);
    COLORREF m_hotColour = RGB(0x6A, 0xAE, 0xF0);
    std::unique_ptr<iOSContact> m_contact;
    HWND m_owner;
};
