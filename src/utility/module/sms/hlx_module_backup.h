// Fetching the message database with the desktop backup tool: the tool makes a full backup into a
// scratch folder, which is watched every kWatchCycleMs; every backed-up file but the database is
// deleted as it comes, and once the database has kept its size for a cycle (or the tool has exited)
// and passes a quick check, it is copied out with its -wal and -shm files, the tool is ended and the
// backup deleted. The tool is listed among the service's child processes while it runs, so a stop
// of the service ends it and deletes its folder.
//
// Threads: the worker of the messages request, which the run blocks.
#pragma once

#include <string>

namespace hlx {

class HLXDevice;

class HLXModuleBackup {
 public:
  static constexpr int kWatchCycleMs = 2000;
  // After the quick check passed: time for the tool to finish the -wal file of the database.
  static constexpr int kCompanionWaitMs = 4000;

  // Runs the tool for the device. kReplySuccess once the tool has run: *databasePath is the copy when
  // the database was copied, "" otherwise. kReplyBackupToolFailed when it could not be started.
  [[nodiscard]] int RunBackupForMessages(HLXDevice& device, std::string* databasePath);
};

}  // namespace hlx
