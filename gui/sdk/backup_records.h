#pragma once
// The records the relay module hands the backup manager under ZERITH_COMMAND_DO_BACKUP 136, which the host
// forwards to BRISEL_COMMAND_DO_BACKUP unchanged but for the code: `status` 0 one backup of the list (an
// iOSBackup, page code 1), 1 the size of a listed backup (a BackupSizeUpdate, page code 2), 2 the list is
// complete (no payload, page code 3), and kBackupRunReport a backup's or restore's progress or outcome (a
// BackupRunReport, page code 136). Each is allocated with new by the relay module and deleted by the
// manager (or by the release of feature_codes.h when nobody takes it). No threads of its own.

#include <cstdint>
#include <string>

// One backup on this computer, as the manager lists it.
struct iOSBackup {
    std::wstring key;   // the backup's folder as the device service named it; unique; sent back to delete it
    std::wstring name;  // the device's name
    std::wstring path;  // not read by the manager
    int64_t size = 0;   // bytes; 0 until its size update arrives
    std::wstring productVersion;
    std::wstring buildVersion;
    std::wstring model;
    std::wstring serialNumber;
    std::wstring deviceIdentifier;  // of the device the backup was made of
    std::wstring time;              // local time text, year first, so that text order is time order
    bool encrypted = false;
    bool incomplete = false;  // a run that never finished (a kill) left it: it cannot be restored
    std::wstring password;  // empty; given by the user before a restore
};

// The size of a listed backup, known once its folder has been measured.
struct BackupSizeUpdate {
    std::wstring key;
    int64_t size = 0;  // bytes
};

namespace sdk::backups {

// The `status` of a run report under relay code 136 (0 to 2 are the list's).
constexpr int64_t kBackupRunReport = 3;

enum class RunKind : int32_t { Backup = 0, Restore = 1 };

// How a backup or restore that the manager started is getting on: its progress while it runs, then once
// its outcome, the device service's result code (0 finished) and the service's own words for a failure.
struct BackupRunReport {
    RunKind kind = RunKind::Backup;
    std::wstring device;  // the key of the device backed up or restored onto
    int32_t percent = 0;  // 0 to 100
    bool ended = false;
    int64_t resultCode = 0;  // when ended: the device service's reply code
    std::wstring reason;     // when ended: the service's text, possibly empty
};

}  // namespace sdk::backups
