#pragma once
// DhDeviceDialog: the frame the backup manager's two dialogs share (the new-backup dialog and the restore
// dialog): a borderless window owned by the manager with its own title bar and close button, a device
// drop-down box in a first group, a backup list in a second group, "OK" and "Cancel". It keeps the box's
// devices in step with arrivals and departures (DeviceChoice), asks the host for the connected devices
// when it shows, disables the manager while shown and resets itself when hidden. The dialogs add their
// own controls, list their own backups and do their own OK. Both windows are of this class; their titles
// tell them apart. UI thread only.

#include <windows.h>

#include <string>
#include <vector>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

#include "VNLImgButton.h"
#include "VNLListView.h"
#include "VNLSwitchButton.h"
#include "backup_list.h"
#include "backup_runs.h"
#include "command_message.h"
#include "device_choice.h"
#include "host_messages.h"

class DhDeviceDialog : public wtl::CWindowImpl<DhDeviceDialog> {
public:
    DECLARE_WND_CLASS_EX(L"DhDeviceDialog", CS_DBLCLKS, nullptr)

    enum ControlId : int {
        kClose = 5000,
        kList = 5001,
        kOk = 5002,
        kCancel = 5003,
        kDevices = 5005,
    };
    static constexpr int kTitleBottom = 27;

    // Column captions and their shares (hundredths) of the list's width; the first is the icon column.
    struct Column {
        const wchar_t* caption;
        int share;
    };

    DhDeviceDialog(const wchar_t* title, int width, const wchar_t* deviceCaption, const wchar_t* listCaption,
                   std::vector<Column> columns);
    ~DhDeviceDialog() override = default;

    BEGIN_MSG_MAP(DhDeviceDialog)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER_EX(WM_CTLCOLOREDIT, OnEditColour)
    MSG_WM_CLOSE(CloseDialog)
    MSG_WM_COMMAND(OnCommand)
    MESSAGE_HANDLER_DECLINABLE(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER_EX(WM_HOST_REPLY, OnHostReply)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    // Creates the hidden dialog owned by the manager `owner`, whose list `backups` it reads and whose
    // `runs` it adds the runs it hands to the host to.
    bool CreateFor(HWND owner, const brisel::BackupList& backups, brisel::BackupRuns& runs);
    // Centres the dialog 40 pixels below the middle of its top-level owner, shows it, disables the
    // manager and fills it.
    void ShowDialog();
    void AddDevice(const std::wstring& key, const std::wstring& name);
    void RemoveDevice(const std::wstring& key);

    const brisel::DeviceChoice& Devices() const { return m_devices; }

protected:
    static constexpr int kWindowHeight = 500;

    // The dialog's own controls, made after the shared ones; false when a required one is missing.
    virtual bool CreateExtras() { return true; }
    // Places the dialog's own controls and returns the top of the backup list.
    virtual int LayoutExtras(int /*width*/) { return kTitleBottom + 140; }
    // Before the devices are asked for.
    virtual void BeforeDevices() {}
    // A device was chosen in the box (or became chosen).
    virtual void OnDeviceChosen() {}
    virtual void OnOk() = 0;
    // The dialog's own command ids.
    virtual void OnExtraCommand(int, UINT) {}

    // Sends BRISEL_COMMAND_DO_BACKUP with `window` = this dialog unless given; returns the answered message.
    CommandMessage Send(int64_t code, const wchar_t* wideText = nullptr, void* data = nullptr, HWND window = nullptr);
    // Notes a run of the chosen `device` that is handed to the host and has the manager show it.
    void NoteRun(sdk::backups::RunKind kind, const WideStringPair& device);
    // Hides the dialog, enables the manager and forgets the devices, rows and the clicked row; also what a
    // close request (Alt+F4) does, so that the manager never stays disabled.
    void CloseDialog();
    // Lists `backups` as rows (the shared records stay owned by the manager's list).
    void ShowRows(std::vector<brisel::BackupPtr> backups);
    const brisel::BackupList& ManagerList() const { return *m_source; }
    const std::vector<brisel::BackupPtr>& Rows() const { return m_rows; }
    VNLListView& List() { return m_list; }
    HWND Owner() const { return m_owner; }
    HFONT Font() const { return m_font.get(); }
    // Makes a child window with the dialog's font.
    HWND MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, int id);
    void MakeTextButton(VNLSwitchButton& button, int id, const wchar_t* caption);
    COLORREF EditColour() const { return m_editColour; }

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    void OnPaint();
    LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
    LRESULT OnLButtonDown(WPARAM, LPARAM);
    LRESULT OnEditColour(WPARAM dc, LPARAM);
    void OnCommand(UINT notifyCode, int id, HWND control);
    bool OnNotify(WPARAM, LPARAM lParam, LRESULT& result);
    LRESULT OnHostReply(WPARAM, LPARAM) { return 0; }  // the host answers the dialogs in place

    void Layout();
    void PostDeviceChosen();
    void FitColumns();
    void PaintGroup(HDC dc, const RECT& box, const wchar_t* caption);

    const wchar_t* m_title;
    const int m_width;
    const wchar_t* m_deviceCaption;
    const wchar_t* m_listCaption;
    const std::vector<Column> m_columns;
    HWND m_owner = nullptr;
    const brisel::BackupList* m_source = nullptr;
    brisel::BackupRuns* m_runs = nullptr;
    std::vector<brisel::BackupPtr> m_rows;  // shared with the manager's list
    brisel::DeviceChoice m_devices;
    VNLImgButton m_close;
    VNLListView m_list;
    HWND m_deviceBox = nullptr;
    VNLSwitchButton m_ok, m_cancel;
    HWND m_tooltip = nullptr;
    int m_clickedRow = -1;
    RECT m_deviceGroup = {};
    RECT m_listGroup = {};
    wtl::UniqueFont m_font, m_boldFont;
    wtl::UniqueBrush m_editBrush;
    COLORREF m_titleColour = RGB(0x2D, 0x8C, 0xEB);
    COLORREF m_editColour = RGB(0xF4, 0xF4, 0xF4);
    COLORREF m_buttonColour = RGB(0x2D, 0x8C, 0xEB);
    COLORREF m_buttonHotColour = RGB(0x1E, 0x6F, 0xC0);
};
