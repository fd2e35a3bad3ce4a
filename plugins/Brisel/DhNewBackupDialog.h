#pragma once
// DhNewBackupDialog: the dialog that starts a new backup of a connected device (the manager's "Backup"):
// the device, the backups that device already has, and the target: the default backup location or a
// folder of the user's own ("Customize", an edit box and "Browse"). OK asks the host to confirm and then
// hands (device key, target folder) over with code 8. The folder text outlives hiding, so the host is asked
// for the default folder only while none is known. UI thread only.

#include "DhDeviceDialog.h"
#include "VNLSwitchImageButton.h"

class DhNewBackupDialog : public DhDeviceDialog {
public:
    DhNewBackupDialog();

    const std::wstring& FolderText() const { return m_folder; }

private:
    enum ExtraId : int {
        kDefaultLocation = 5006,
        kCustomize = 5007,
        kBrowse = 5008,
        kFolderEdit = 5009,
    };

    bool CreateExtras() override;
    int LayoutExtras(int width) override;
    void BeforeDevices() override;
    void OnDeviceChosen() override;
    void OnOk() override;
    void OnExtraCommand(int id, UINT notifyCode) override;

    void SelectRadio(int id);
    void ShowFolder(const std::wstring& folder);

    VNLSwitchImageButton m_defaultRadio, m_customRadio;
    VNLSwitchButton m_browse;
    HWND m_folderEdit = nullptr;
    int m_selectedRadio = kDefaultLocation;
    std::wstring m_folder;
};
