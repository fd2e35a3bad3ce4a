// The erase module.
//   1701  overwrite the device's free space: in one or two passes ("level" of the data part),
//         zero-filled files in "/iostemp" until the free space read when the device became ready
//         is covered (512 MiB files in pass 1, 1 GiB in pass 2), each pass's files deleted after
//         it, the folder removed at the end. Progress (stage 0, code = percent) only rises: up to
//         100 / level in pass 1 and from 50 on in pass 2. Final {"error": message}: 0, 2 (level
//         below 1), 6 "Task cancelled." (600), 8 (data part), 17 "open afc error" (or a scratch
//         file that did not open), 47 "mkdir /iostemp fail.".
//   1700  erase the device's content and restore a backup onto it: the data part holds the restore
//         arguments of 1601 ("path", "sourceDeviceId", "password"), all checked before anything is
//         touched (21 "ParameterError", 42 "BackupManifestPlistError"). Then the media and download
//         folders are emptied through AFC (progress stage 0, up to 100), every user app is
//         uninstalled, one after the other (stage 2, up to 100), and the backup is restored (stage 1,
//         hundredths of a percent). Final {"error": message}: the restore's code and text; 6
//         "Task cancelled." (600, between two steps or during the restore), 8 (data part), 14 "open
//         app uninstall service error", 17 "open afc error".
//
// Threads: any worker; the fill polls its task before every file and every 8 MiB block, the erase
// before every folder and every app.
#pragma once

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleErase : public HLXFeatureModule {
 protected:
  bool RunsEverySubCommand() const override { return true; }
  int Run(FeatureRequest& request) override;

 private:
  int EraseContent(FeatureRequest& request, std::string* message);
  int FillFreeSpace(FeatureRequest& request, std::string* message);
};

}  // namespace hlx
