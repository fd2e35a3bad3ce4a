#include "DhRestoreDialog.h"

#include <cstdlib>
#include <memory>

#include "feature_codes.h"

namespace {

constexpr int64_t kConfirmRestore = 11;
constexpr int64_t kStartRestore = 12;
constexpr int64_t kAskPassword = 13;
constexpr int64_t kNoDevice = 14;
constexpr int64_t kNoBackup = 15;
constexpr int64_t kUnfinishedBackup = 16;

}  // namespace

DhRestoreDialog::DhRestoreDialog()
    : DhDeviceDialog(L"Restore", 700, L"Please select a device to restore", L"Please select a backup file to restore",
                     {{L"", 6}, {L"Name", 24}, {L"Time", 22}, {L"Size", 14}, {L"Version", 16}, {L"Model", 18}}) {}

void DhRestoreDialog::BeforeDevices() { ShowRows(ManagerList().Items()); }

void DhRestoreDialog::OnOk() {
    if (Devices().SelectedDevice() == nullptr) {
        Send(kNoDevice);
        return;
    }
    // A copy: the host's questions run message loops in which the device may leave the box.
    const WideStringPair device = *Devices().SelectedDevice();
    const int row = brisel::FirstSelectedRow(List().GetSelectedItems());
    if (row < 0 || row >= static_cast<int>(Rows().size())) {
        Send(kNoBackup);
        return;
    }
    iOSBackup& backup = *Rows()[static_cast<size_t>(row)];
    // An unfinished backup lacks files the restore needs: refused before the device's erase is asked for.
    if (backup.incomplete) {
        Send(kUnfinishedBackup);
        return;
    }
    if (Send(kConfirmRestore, device.second.c_str()).status == 0) return;
    backup.password.clear();
    if (backup.encrypted) {
        CommandMessage answer = Send(kAskPassword, device.second.c_str());
        // The host's copy of the password, on the shared heap; null when it gave none.
        std::unique_ptr<wchar_t, void (*)(void*)> password(answer.status != 0 ? answer.wideText : nullptr, &std::free);
        if (!password) return;
        backup.password = password.get();
    }
    auto request = std::make_unique<sdk::backups::RestoreRequest>();
    request->backupFolder = backup.key;
    request->sourceDevice = backup.deviceIdentifier;
    request->password = backup.password;
    request->device = device.first;
    CloseDialog();
    NoteRun(sdk::backups::RunKind::Restore, device);
    Send(kStartRestore, nullptr, request.release(), Owner());  // the host's from here on
}
