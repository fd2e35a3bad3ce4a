// The backup tool run for the message database (see hlx_module_backup.h).
#include "utility/module/sms/hlx_module_backup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_backup_protocol.h"
#include "utility/hlx_device.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_process_util.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_service.h"
#include "utility/hlx_sqlite.h"
#include "utility/hlx_task.h"

namespace hlx {
namespace {

namespace fs = std::filesystem;

// Backups with sub-folders keep the database in the folder named by its id's first two characters.
constexpr const char* kMessagesDatabaseId = HLXModuleBackup::kMessagesDatabaseId;
constexpr char kSnapshotFolder[] = "Snapshot";
constexpr int kExitPollMs = 100;

struct DatabaseWatch {
  std::array<std::string, 4> candidates;  // tried in this order
  std::string backupFolder;
  std::string snapshotFolder;
  std::string destination;
  int64_t lastSize = 0;
  bool done = false;
  bool failedCheck = false;  // the whole database was there and failed its check: nothing to wait for
};

// Waits up to `ms` for the tool to end, or until the request is cancelled; true when it has ended.
bool WaitForExit(int32_t processId, int ms, const CancelTest& cancelled) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!os::Os().hasProcessEnded(processId)) {
    if (std::chrono::steady_clock::now() >= deadline || (cancelled && cancelled())) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kExitPollMs));
  }
  return true;
}

// Whether a copy of the database passes SQLite's quick check. Checked on a copy, so the file the
// tool is writing is never opened by SQLite.
bool PassesQuickCheck(const std::string& path) {
  const std::string probe = path + ".db";
  std::error_code error;
  fs::copy_file(path, probe, fs::copy_options::overwrite_existing, error);
  if (error) return false;
  HLXSqlite db;
  if (db.Open(probe) != kReplySuccess) return false;
  StatementPtr statement;
  if (db.Prepare("PRAGMA quick_check", &statement) != SQLITE_OK) return false;
  if (db.Step(statement.get()) != SQLITE_ROW) return false;
  std::string answer = ColumnText(statement.get(), 0);
  std::transform(answer.begin(), answer.end(), answer.begin(), [](unsigned char c) { return std::tolower(c); });
  return answer == "ok";
}

// Copies the database and the companions it has to the destination. A companion left there by an
// earlier run is removed first: an old -wal file beside a new database would corrupt it.
bool CopyWithCompanions(const std::string& source, const std::string& destination) {
  std::error_code error;
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(destination + suffix, error);
  fs::copy_file(source, destination, error);
  if (error) {
    HLX_LOG(WARNING) << "messages database not copied: " << error.message();
    return false;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    if (fs::exists(source + suffix, error)) fs::copy_file(source + suffix, destination + suffix, error);
  }
  return true;
}

// One candidate path of the database. A size is trusted once it has stayed the same for a whole
// cycle, or once the tool has exited (nothing writes the file any more). A database of a trusted size
// that fails its check is done too: the tool moves on to other files and never writes it again.
void TryCopyMessageDatabase(const std::string& path, DatabaseWatch* watch, int32_t processId, bool toolExited,
                            int* copied) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return;
  const uintmax_t size = fs::file_size(path, error);
  const int64_t seen = error ? -1 : static_cast<int64_t>(size);
  if (seen != watch->lastSize) {
    watch->lastSize = seen;
    if (!toolExited) return;
  }
  if (seen <= 0) return;
  if (!PassesQuickCheck(path)) {
    HLX_LOG(WARNING) << "messages database of " << seen << " bytes fails its check";
    watch->failedCheck = true;
    return;
  }
  if (!toolExited) WaitForExit(processId, HLXModuleBackup::kCompanionWaitMs, nullptr);
  if (!CopyWithCompanions(path, watch->destination)) return;
  watch->done = true;
  ++*copied;
}

// Deletes every backed-up file in the folder (names as long as the database id) except the
// database, recursively; the snapshot folder (cleaned on its own) and the database's own
// sub-folder are left alone. Links are never followed.
void CleanBackupFolder(const std::string& folder, const std::string& keptName) {
  std::error_code error;
  const std::string subFolder = keptName.substr(0, 2);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
      if (name != kSnapshotFolder && name != subFolder) CleanBackupFolder(folder + name + "/", keptName);
    } else if (name.size() == keptName.size() && name != keptName) {
      std::error_code removeError;
      fs::remove(it->path(), removeError);
    }
  }
}

// Whether every watch has its database, or knows it will never have a usable one.
bool WatchBackupFolders(std::vector<DatabaseWatch>* watches, int32_t processId, bool toolExited, int* copied) {
  bool settled = true;
  for (DatabaseWatch& watch : *watches) {
    for (const std::string& candidate : watch.candidates) {
      if (watch.done || watch.failedCheck) break;
      TryCopyMessageDatabase(candidate, &watch, processId, toolExited, copied);
    }
    CleanBackupFolder(watch.backupFolder, kMessagesDatabaseId);
    CleanBackupFolder(watch.snapshotFolder, kMessagesDatabaseId);
    settled = settled && (watch.done || watch.failedCheck);
  }
  return settled;
}

// Runs the tool until one database is copied, every database failed its check, the request is
// cancelled or the tool exits; then ends it and deletes the backup folder (which lies inside
// `scratchFolder`). kReplySuccess, kReplyCancelled or kReplyBackupToolFailed.
int RunWatchedBackupProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& scratchFolder, const std::string& backupFolder,
                            const CancelTest& cancelled, std::vector<DatabaseWatch>* watches) {
  // A missing program would only show as an early exit, indistinguishable from a failed backup.
  std::error_code error;
  if (!fs::is_regular_file(program, error)) {
    HLX_LOG(ERROR) << "backup tool not found";
    return kReplyBackupToolFailed;
  }
  const SuspendedProcess process = StartProcessSuspended(program, arguments);
  if (process.processId == 0) {
    HLX_LOG(ERROR) << "backup tool not started";
    return kReplyBackupToolFailed;
  }
  AddChildProcess(process.processId, backupFolder);
  if (!os::Os().limitToLowerHalfOfProcessors(process.processId)) {
    HLX_LOG(WARNING) << "backup tool runs on every processor";
  }
  if (!os::Os().resumeProcess(process.gateFd)) {
    // Left suspended, the tool would hold the request until the service stops.
    if (RemoveChildProcess(process.processId)) os::Os().terminateProcess(process.processId);
    HLX_LOG(ERROR) << "backup tool not resumed";
    return kReplyBackupToolFailed;
  }

  int copied = 0;
  bool wasCancelled = false;
  while (copied == 0) {
    const bool exited = WaitForExit(process.processId, HLXModuleBackup::kWatchCycleMs, cancelled);
    if (!exited && cancelled && cancelled()) {
      wasCancelled = true;
      break;
    }
    if (WatchBackupFolders(watches, process.processId, exited, &copied) || exited) break;
  }
  // A stop of the service may have ended the tool and taken it off the list already.
  if (RemoveChildProcess(process.processId)) os::Os().terminateProcess(process.processId);

  // Only ever a folder inside the scratch folder, whole path, however long.
  std::string doomed = backupFolder;
  if (backupFolder.size() > scratchFolder.size() && backupFolder.compare(0, scratchFolder.size(), scratchFolder) == 0 &&
      !DeleteDirectoryTree(doomed)) {
    HLX_LOG(WARNING) << "backup folder not deleted";
  }
  return wasCancelled ? kReplyCancelled : kReplySuccess;
}

// A UDID names folders: letters, digits, '-' and '_' only.
bool IsSafeFolderName(const std::string& name) {
  return !name.empty() && name.size() <= 128 &&
         std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

}  // namespace

int HLXModuleBackup::RunBackupForMessages(HLXDevice& device, const CancelTest& cancelled, std::string* databasePath) {
  databasePath->clear();
  const std::string udid = device.Udid();
  if (!IsSafeFolderName(udid)) {
    HLX_LOG(ERROR) << "backup tool not started: the device's UDID cannot name a folder";
    return kReplyBackupToolFailed;
  }
  const std::string scratch = CreateTempSubfolder(udid) + "Backup0/";
  if (!os::Os().createDirectories(scratch)) {
    HLX_LOG(ERROR) << "backup tool not started: no scratch folder";
    return kReplyBackupToolFailed;
  }
  const std::string backup = scratch + udid + "/";
  const std::string id = kMessagesDatabaseId;
  const std::string sub = id.substr(0, 2) + "/";
  const std::string snapshot = backup + kSnapshotFolder + "/";
  std::vector<DatabaseWatch> watches(1);
  DatabaseWatch& watch = watches[0];
  watch.candidates = {backup + id, backup + sub + id, snapshot + id, snapshot + sub + id};
  watch.backupFolder = backup;
  watch.snapshotFolder = snapshot;
  watch.destination = scratch + id;

  const std::vector<std::string> arguments = {"-b", "--target", udid, "-q", scratch};
  const int ran = RunWatchedBackupProcess(GetAppleMobileBackupPath(), arguments, scratch, backup, cancelled, &watches);
  if (ran != kReplySuccess) return ran;
  if (watch.done) *databasePath = watch.destination;
  return kReplySuccess;
}

int HLXModuleBackup::BackupMessagesDatabase(const std::shared_ptr<HLXDevice>& device, int64_t taskId,
                                            const std::function<void(int64_t hundredths)>& progress,
                                            std::string* databasePath) {
  databasePath->clear();
  const std::string udid = device->Udid();
  const std::string base = GetProcessTempFolder(true);
  if (!IsSafeFolderName(udid) || base.empty() || !os::Os().createDirectories(base + "Backup0")) {
    HLX_LOG(ERROR) << "messages backup: no folder for the backup";
    return kReplyTaskError;
  }
  // A new folder for every run: nothing an earlier run left can pass for this run's database.
  std::string folder = base + "Backup0/" + udid + "-XXXXXX";
  if (mkdtemp(&folder[0]) == nullptr) {
    HLX_LOG(ERROR) << "messages backup: no folder for the backup, errno " << errno;
    return kReplyTaskError;
  }
  folder += "/";

  HLXBackupProtocol protocol(device);
  DeviceTaskMap& tasks = device->TaskMap();
  tasks.SetCancelHook(taskId, [&protocol] { protocol.Abort(); });
  const std::string id = kMessagesDatabaseId;
  BackupSessionOptions options;
  options.backupFolder = folder;
  options.wantedNames = {id, id + "-shm", id + "-wal"};
  options.progress = progress;
  options.cancelled = [&tasks, taskId] { return tasks.IsCancelled(taskId); };
  BackupSessionResult result = protocol.Backup(options);
  tasks.SetCancelHook(taskId, nullptr);  // the protocol object ends with this call

  // The wanted path names the database itself, also when only a companion came.
  std::error_code error;
  if (result.code == kReplySuccess && (result.wantedPath.empty() || !fs::is_regular_file(result.wantedPath, error))) {
    HLX_LOG(ERROR) << "messages backup ended without the database";
    result.code = kReplyBackupNoWantedFile;
  }
  if (result.code != kReplySuccess) {
    if (!DeleteDirectoryTree(folder)) HLX_LOG(WARNING) << "messages backup folder not deleted";
    return result.code;
  }
  *databasePath = result.wantedPath;
  return kReplySuccess;
}

}  // namespace hlx
