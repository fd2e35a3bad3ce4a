// The backup module: full backups of a device into desktop backup folders and their restore.
//   1600  back up the device into a new folder under "path" (or the standard backup folder):
//         {"BackupDir": folder} first (stage 0), then the progress (stage 1, code = hundredths of a
//         percent), then the final reply with {"error": text};
//   1601  restore the backup folder "path" made from "sourceDeviceId" ("password" for an encrypted
//         backup) onto the device; progress and final reply as for 1600;
//   1602  list the backups found in or one level below each folder of "paths" ("" the standard
//         folder): each summary at stage 0, then each again with its "Size" at stage 1; a backup
//         that the device did not finish (killed mid-way) is listed with "IsIncomplete" true, and
//         the sub-folders of such a folder are searched as those of any folder that is no backup;
//   1603  0 when the device's Find My is associated, else 1;
//   1604  0 when the device encrypts its backups ("WillEncrypt"), else 1;
//   1605  change the backup password through the backup tool; then as 1604;
//   1606  0 when the desktop player runs, else 1;  1607  end it by force: 0, 128 when it did not
//         run, 1 when it could not be ended.
// A backup or restore is cancelled by request 600 between two device messages. The protocol itself
// lives in utility/hlx_backup_protocol.h, shared with the messages and erase modules.
//
// Threads: any worker; several requests at once for different devices. No state of its own.
#pragma once

#include <string>

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleiTunes : public HLXFeatureModule {
 protected:
  bool NeedsDevice(const FeatureRequest& request) const override;
  int Run(FeatureRequest& request) override;

 private:
  int RunFullBackup(FeatureRequest& request);
  int RunRestore(FeatureRequest& request);
  int ListBackups(FeatureRequest& request);
  int ChangeBackupPassword(FeatureRequest& request);
};

}  // namespace hlx
