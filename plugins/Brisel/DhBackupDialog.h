#pragma once
// DhBackupDialog: the backup manager, one borderless top-level window owned by the host window. It shows the
// backups kept on this computer (BackupList) as list rows with their name, time, size, version, model and
// serial number and a status line with their number and total size and the progress and outcome of the
// backups and restores started from its dialogs; the toolbar imports, deletes the
// checked backups, opens the new-backup and restore dialogs (which it owns and tells about devices that
// come and go) and refreshes. It asks the host for everything with BRISEL_COMMAND_DO_BACKUP and gets
// the answers as WM_HOST_REPLY (wParam = code, lParam = payload, which the window frees). The status line
// is a static control of its own, so its text can be read like any other window's. UI thread only.

#include <windows.h>

#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "DhNewBackupDialog.h"
#include "DhRestoreDialog.h"
#include "VNLImgButton.h"
#include "VNLListView.h"
#include "VNLSwitchImageButton.h"
#include "backup_list.h"
#include "backup_runs.h"
#include "host_messages.h"

class DhBackupDialog : public wtl::CWindowImpl<DhBackupDialog> {
public:
    DECLARE_WND_CLASS_EX(L"DhBackupDialog", CS_DBLCLKS, nullptr)

    static constexpr int kWidth = 800;
    static constexpr int kHeight = 500;

    BEGIN_MSG_MAP(DhBackupDialog)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnLButtonDown)
    MSG_WM_CLOSE(OnCloseRequest)
    MSG_WM_COMMAND(OnCommand)
    MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER_DECLINABLE(WM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReply)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    // Creates the hidden window owned by `owner`.
    bool CreateFor(HWND owner);
    // Centres the window on the owner's top-level window, shows it, disables the owner and asks for the list.
    void ShowManager();

    const brisel::BackupList& Backups() const { return m_backups; }
    const std::wstring& StatusText() const { return m_status; }

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    void OnPaint();
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    LRESULT OnLButtonDown(WPARAM, LPARAM);
    void OnCommand(UINT notifyCode, int id, HWND control);
    // Alt+F4 and every other close request close the manager as its close button does: hidden, with the
    // host's window enabled again (the default would destroy it and leave that window disabled).
    void OnCloseRequest();
    bool OnNotify(WPARAM, LPARAM lParam, LRESULT& result);
    // Paints the status line's control; other owner-drawn controls paint themselves.
    bool OnDrawItem(WPARAM id, LPARAM lParam, LRESULT& result);
    void PaintStatus(HDC dc, RECT status);
    LRESULT OnHostReply(WPARAM code, LPARAM payload);

    void MakeToolbarButton(VNLSwitchImageButton& button, int id, const wchar_t* caption, const char* normal,
                           const char* pressed);
    void Send(int64_t code, void* data = nullptr, int64_t count = 0);
    void AddBackup(brisel::BackupPtr backup);
    void ShowSorted();
    void WriteRow(int row, const iOSBackup& backup);
    void Clear();
    // The column widths for the texts the list holds.
    void FitColumns();
    void DeleteChecked();
    // Gives the status line the list's summary and the runs' lines anew.
    void UpdateStatus();
    // A device that came (code 16) or went (17), for the dialog that shows.
    void OnDeviceEvent(WPARAM code, const WideStringPair& device);
    HWND TopLevelOwner() const;

    HWND m_owner = nullptr;
    brisel::BackupList m_backups;
    std::wstring m_status = L"0 KB.";
    // The status line: an owner-drawn static whose text is what it shows (the runs' lines, then the summary).
    HWND m_statusLine = nullptr;
    brisel::BackupRuns m_runs;
    VNLImgButton m_close;
    VNLListView m_list;
    VNLSwitchImageButton m_import, m_delete, m_backup, m_restore, m_refresh;
    DhNewBackupDialog m_newBackup;
    DhRestoreDialog m_restoreDialog;
    std::vector<int> m_shares;  // of the list's columns, in hundredths of its width
    HWND m_tooltip = nullptr;
    int m_clickedRow = -1;
    wtl::UniqueFont m_font, m_boldFont;
    COLORREF m_titleColour = RGB(0x2D, 0x8C, 0xEB);
    COLORREF m_toolbarColour = RGB(0xF4, 0xF4, 0xF4);
    COLORREF m_statusColour = RGB(0xE8, 0xE8, 0xE8);
    COLORREF m_pressedColour = RGB(0xD0, 0xD0, 0xD0);
};
