// The computer's side of the device's backup service "com.apple.mobilebackup2": opening it, the
// version exchange and Hello, and two conversations on it:
//   Backup   the device sends its files; they land in one local backup folder. With wanted names
//            it is a partial backup: only files whose device path holds one of the names are
//            written, and the session ends once all of them have arrived (or the device ends it);
//   Restore  the device asks for the files of a local backup folder and gets them streamed.
// The backup module (requests 1600 and 1601), the messages module (its database alone, by a partial
// backup) and the erase module (a restore after the wipe) call it; none of them sees the wire.
//
// Every path the device names is untrusted: it must start with the device's identifier (the source
// identifier for a restore), may not hold "." or ".." components, and is joined below the one local
// backup folder of the session. A path that would leave that folder is refused and logged; nothing
// outside is ever created, moved, deleted, written or sent.
//
// Threads: one session per object, on the caller's worker thread. Abort may be called from any
// thread (a cancel hook) while a session runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mobiledevice.h"
#include "utility/hlx_lock_order.h"

namespace hlx {

class HLXDevice;
class HLXDeviceService;

// How a session ended: a reply code (0 finished; 2 "Task error."; 6 cancelled; 12 the service did
// not open; 45 the device went away or disconnected below 100 percent; 46 a partial backup ended
// without a wanted file; 60 another session of the device runs; otherwise the device's own
// "ErrorCode") and its text.
// The text of 60, for the callers that refuse before a session.
inline constexpr char kBackupBusyText[] = "A backup or restore of this device is running.";

struct BackupSessionResult {
  int32_t code = 0;
  std::string text;
  // Partial backup: the local path of the first wanted file written (empty when none was).
  std::string wantedPath;
};

struct BackupSessionOptions {
  // The local folder of this backup, ending with '/': the device's "<udid>/x/y" is written to
  // backupFolder + "x/y" (restore: "<sourceId>/x/y" is read from there). It must exist.
  std::string backupFolder;
  // Restore only: the identifier of the device the backup was made from, and the backup password
  // (sent only when the backup's Manifest.plist says it is encrypted).
  std::string sourceId;
  std::string password;
  // Partial backup: the names (substrings of device paths) of the files wanted; empty for a full
  // backup. A partial backup answers the free-space question with the largest number and keeps the
  // folder on failure.
  std::vector<std::string> wantedNames;
  // Called on the session's thread with the overall progress in hundredths of a percent (0 to
  // 10000), each time it grows. May be empty.
  std::function<void(int64_t hundredths)> progress;
  // Polled between device messages; true ends the session with 6 "Task cancelled.". May be empty.
  std::function<bool()> cancelled;
  // Backup: where an uploaded file lands, as a device path "<udid>/..." made from the one the device
  // named (the backup tool's layouts). Empty: where the device names it. Checked like any device
  // path; missing folders below backupFolder are made.
  std::function<std::string(const std::string& devicePath)> placeUpload;
  // The text of code 12 (the callers' peers expect different ones).
  std::string openFailureText = "DeviceOpenAFCServiceFail";
};

class HLXBackupProtocol {
 public:
  explicit HLXBackupProtocol(std::shared_ptr<HLXDevice> device);
  ~HLXBackupProtocol();
  HLXBackupProtocol(const HLXBackupProtocol&) = delete;
  HLXBackupProtocol& operator=(const HLXBackupProtocol&) = delete;

  // Takes the device's one backup session for this object's life: false while another object holds
  // it. Backup, Restore and ChangePassword claim it themselves (else they end with 60 at once); a
  // caller that makes files or changes the device before the session claims first, so that a
  // refused twin touches nothing.
  [[nodiscard]] bool Claim();

  // A backup into options.backupFolder. A failed full backup (any code but 0 and 60) deletes that
  // folder with everything in it, so that no half backup is ever left looking whole: the caller
  // hands over a folder that this backup alone made.
  BackupSessionResult Backup(const BackupSessionOptions& options);
  // A restore of options.backupFolder onto the device. Nothing local is changed. Before the device
  // is asked, the folder must pass CheckRestorable.
  BackupSessionResult Restore(const BackupSessionOptions& options);
  // Sets the device's backup password ("" turns encryption off); the result is the device's
  // "ErrorCode" and "ErrorDescription" (2 "Task error." when it does not answer).
  BackupSessionResult ChangePassword(const std::string& newPassword);
  // Closes the service so that a session blocked in a receive (or a splice) returns; the session
  // then ends with the cancelled code when options.cancelled says so. Any thread; harmless when
  // nothing runs.
  void Abort();

  // Reads "IsEncrypted" of a backup folder's Manifest.plist (absent: false). False when the file is
  // missing or, not being empty, is no property-list dictionary.
  static bool ReadBackupEncryption(const std::string& folder, bool* encrypted);
  // Whether a backup folder can be restored as a whole, checked before the device is asked (the
  // device replaces its data with what it receives): 0; 42 "BackupManifestPlistError" when
  // Manifest.plist is missing or no property list (an empty one counts as unencrypted); 61
  // "BackupIncompleteError" when Manifest.db is no readable table of files, one of its rows has a
  // field of a wrong type or a file name that is not a plain name, or a file it names is not a
  // regular file in the folder (a symbolic link counts as missing). The layout follows the
  // manifest's "Version": below 10 the files lie in the folder itself, else in a subfolder named by
  // the first two characters of their name. Nothing is changed.
  static BackupSessionResult CheckRestorable(const std::string& folder);

  // The local path for a device path "<owner>/rest", or "" when the path does not start with that
  // owner component or would leave `folder` (absolute, "." or ".." components, empty or NUL).
  static std::string MapDevicePath(const std::string& folder, const std::string& owner, const std::string& devicePath);

 private:
  // Opens the service and runs the exchange up to the Hello. With `wantSocket`, an unencrypted
  // connection's socket is duplicated into m_plainSocket before any other thread can see the
  // service (an Abort then closes the library's descriptor, never this one).
  bool OpenSession(const BackupSessionOptions& options, BackupSessionResult* result, bool wantSocket = false);
  // Closes m_plainSocket and drops the service: the end of every session.
  void EndSession() HLX_EXCLUDES(m_mutex);
  // The open session's service connection (OpenSession succeeded).
  AMDServiceConnectionRef SessionConnection() HLX_EXCLUDES(m_mutex);

  std::shared_ptr<HLXDevice> m_device;
  bool m_claimed = false;  // the session thread's alone
  Mutex m_mutex;
  // guards: m_service (the pointer; the service's own calls need no lock) and the closing and
  // shutting down of m_plainSocket (the session's thread alone sets it and reads from it)
  std::shared_ptr<HLXDeviceService> m_service HLX_GUARDED_BY(m_mutex);
  int m_plainSocket = -1;
};

}  // namespace hlx
