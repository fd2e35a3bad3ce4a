#pragma once
// UiUpdateListDialog: the modeless announcement of new product versions: a heading, the release notes of
// every new version in a read-only box, a link to the version history, "Update Now" (5053, runs the update
// callback) and "Remind Me Later" (5052). UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "UiDialog.h"
#include "VNLSwitchButton.h"

class UiUpdateListDialog : public UiDialog {
public:
    static constexpr int kLaterButtonId = 5052;
    static constexpr int kUpdateButtonId = 5053;
    static constexpr int kNotesId = 5054;
    static constexpr int kLinkId = 5051;

    UiUpdateListDialog(Gdiplus::Bitmap* closeNormal, Gdiplus::Bitmap* closeHover);
    ~UiUpdateListDialog() override;

    BEGIN_MSG_MAP(UiUpdateListDialog)
    MSG_WM_PAINT(Paint)
    MSG_WM_INITDIALOG(OnInitDialog)
    COMMAND_ID_HANDLER_EX(kUpdateButtonId, OnUpdateNow)
    COMMAND_ID_HANDLER_EX(kLaterButtonId, OnLater)
    NOTIFY_HANDLER_EX(kLinkId, NM_CLICK, OnHistoryLink)
    MESSAGE_HANDLER_EX(WM_CTLCOLORSTATIC, OnListControlColour)
    MESSAGE_HANDLER_EX(WM_CTLCOLOREDIT, OnListControlColour)
    CHAIN_MSG_MAP(UiDialog)
    END_MSG_MAP()

    // Appends `text` at the end of the release notes.
    void AppendNotes(const std::wstring& text);
    bool HasNotes() const { return m_hasNotes; }
    void SetUpdateCallback(std::function<void()> callback) { m_update = std::move(callback); }
    // Showing with more than nine lines of notes gives the box its scroll bar.
    void Show(int command) override;
    void Paint() override;
    HWND NotesWindow() const { return m_notes; }

private:
    LRESULT OnInitDialog(HWND focus, LPARAM init);
    void OnUpdateNow(UINT, int, HWND);
    void OnLater(UINT, int, HWND);
    LRESULT OnHistoryLink(NMHDR*);
    LRESULT OnListControlColour(WPARAM wParam, LPARAM lParam);

    std::wstring m_history;
    VNLSwitchButton m_laterButton;
    VNLSwitchButton m_updateButton;
    HWND m_notes = nullptr;
    HWND m_link = nullptr;
    wtl::UniqueFont m_headingFont;
    wtl::UniqueFont m_textFont;
    wtl::UniqueFont m_buttonFont;
    COLORREF m_band = kDialogGrey;
    COLORREF m_rule = RGB(0xC3, 0xC3, 0xC3);
    wtl::UniqueBrush m_bandBrush;
    bool m_hasNotes = false;
    std::function<void()> m_update;
};
