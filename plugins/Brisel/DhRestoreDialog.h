#pragma once
// DhRestoreDialog: the dialog that restores a backup kept on this computer onto a connected device (the
// manager's "Restore"): the device and every backup of the manager's list, whatever device is chosen.
// OK asks the host to confirm, asks for the password of an encrypted backup and hands a RestoreRequest
// over with code 12; a refusal at either question leaves the dialog open with its selection. UI thread only.

#include "DhDeviceDialog.h"

class DhRestoreDialog : public DhDeviceDialog {
public:
    DhRestoreDialog();

private:
    void BeforeDevices() override;
    void OnOk() override;
};
