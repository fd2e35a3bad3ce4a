// Fetching the message database, in one of two ways.
//
// By a partial backup (BackupMessagesDatabase): the device's backup service is asked for a backup
// into a new folder below the process's temporary folder "Backup0/", and only the database and its
// -wal and -shm files are written; the session ends once they have come. The folder is new for
// every run, so a database found there afterwards was written by this run.
//
// With the desktop backup tool (RunBackupForMessages): the tool makes a full backup into a
// scratch folder, which is watched every kWatchCycleMs; every backed-up file but the database is
// deleted as it comes, and once the database has kept its size for a cycle (or the tool has exited)
// and passes a quick check, it is copied out with its -wal and -shm files, the tool is ended and the
// backup deleted; a database that has kept its size and fails the check, or a cancel of the request,
// ends the run the same way. The tool is listed among the service's child processes while it runs, so a stop
// of the service ends it and deletes its folder.
//
// Threads: the worker of the messages request, which the run blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "utility/hlx_task.h"

namespace hlx {

class HLXDevice;

class HLXModuleBackup {
 public:
  // The backup's file name of sms.db.
  static constexpr char kMessagesDatabaseId[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  static constexpr int kWatchCycleMs = 2000;
  // After the quick check passed: time for the tool to finish the -wal file of the database.
  static constexpr int kCompanionWaitMs = 4000;

  // Runs the tool for the device. kReplySuccess once the tool has run: *databasePath is the copy when
  // the database was copied, "" otherwise (also when the database came whole and failed its check:
  // the run ends then). kReplyBackupToolFailed when it could not be started; kReplyCancelled when
  // `cancelled` said so during the run (the tool is ended and its folder deleted).
  [[nodiscard]] int RunBackupForMessages(HLXDevice& device, const CancelTest& cancelled, std::string* databasePath);

  // The partial backup for the device; a cancel of the task `taskId` aborts it. `progress` gets the
  // overall progress in hundredths of a percent. kReplySuccess with *databasePath the database's
  // local path only when the database itself was written in this run: a session that ends without
  // it (a device error code 0 below 100 percent, only a -wal or -shm file) is
  // kReplyBackupNoWantedFile. Otherwise the session's code; the folder of a failed run is deleted.
  [[nodiscard]] static int BackupMessagesDatabase(const std::shared_ptr<HLXDevice>& device, int64_t taskId,
                                                  const std::function<void(int64_t hundredths)>& progress,
                                                  std::string* databasePath);
};

}  // namespace hlx
