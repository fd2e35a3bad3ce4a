// Every result code that the desktop peer can see in a reply's "code": the codes every module
// shares, the device layer's codes that modules and the monitor pass on, the synchronisation
// session's and the modules' own. Peers rely on the numbers: they never change, and a new code gets
// a number no other code has.
#pragma once

#include <cstdint>

namespace hlx {

enum ReplyCode : int32_t {
  kReplySuccess = 0,
  kReplyGroupWithoutId = 1,          // 104, 106: the device named no id for the group
  kReplyTaskError = 2,               // the request failed inside the service, or has no module
  kReplyDeviceTooOld = 3,            // iPhone or iPod older than 4.2
  kReplyCancelled = 6,               // cancelled by request 600
  kReplyNoDevice = 7,                // no device with the request's "uuid"
  kReplyBadData = 8,                 // the data part (or a text in the request) is not what it must be
  kReplyLibraryNotBound = 9,         // the device library could not be bound
  kReplySubscribeFailed = 11,        // device notifications could not be subscribed to
  kReplyAfcNotOpened = 12,           // the AFC service did not open
  kReplyNoSyncService = 13,          // the synchronisation service did not open; nothing was sent
  kReplyServiceNotRunning = 14,      // the device support service process is not running
  kReplyAfcInfoUnreadable = 17,      // AFC device information could not be read
  kReplyDatabaseNotCopied = 18,      // a device database could not be copied, or lacks a table it needs
  kReplyDatabaseNotOpened = 19,      // a database (a local copy of the device's) could not be opened
  kReplyStatementFailed = 20,        // an SQL statement failed on a database, or the file is no SQLite database
  kReplyBadRequest = 21,             // the request's JSON text is not an object, or its "uuid" is bad
  kReplyBackupToolFailed = 23,       // 201: the backup tool could not be started
  kReplyNoConnection = 24,           // no connection to the device, or it closed before the answer
  kReplyNotPaired = 25,              // a pairing request was sent: the user must trust this computer
  kReplyPairingInvalid = 26,         // pairing validation failed
  kReplySessionNotStarted = 27,      // the lockdown session did not start
  kReplyContactWithoutId = 28,       // 102: the device named no id for the contact
  kReplyCalendarWithoutId = 29,      // 1501: the device named no id for the calendar
  kReplyNoteWithoutId = 30,          // 1201: the device named no id for the added note
  kReplyRenameRefused = 31,          // 303: the device refused the new name
  kReplyBookListUnreadable = 32,     // 1012, 1013: the local copy of a book list cannot be read or parsed
  kReplyBookListUnwritable = 33,     // 1012, 1013: the edited book list cannot be written
  kReplyBookUploadFailed = 34,       // 1012: the book or the list did not reach the device, or is not there after
  kReplySyncRefused = 35,            // the device refused the data class or cancelled the session
  kReplyBookPathRefused = 37,        // 1013: a path outside the book folders; 1012: the device refused the move
  kReplyBookNotRemoved = 38,         // 1013: the device kept the book's file or folder
  kReplyBookUnpackFailed = 39,       // 1012: the EPUB could not be unpacked onto the device
  kReplyBackupManifestError = 42,    // 1601: the backup's Manifest.plist is missing or no property list
  kReplyBackupDeviceGone = 45,       // a backup or restore ended before 100 percent: the device went away
  kReplyBackupNoWantedFile = 46,     // a partial backup ended without any of the wanted files
  kReplyScratchFolderFailed = 47,    // 1701: the scratch folder could not be made
  kReplyDeviceLocked = 48,           // a service was refused: the device is locked with a passcode
  kReplyNoSession = 49,              // no lockdown session
  kReplyDriverDownloadFailed = 50,   // 16: a package or its side file failed to download or verify
  kReplyInstallFailed = 51,          // 17: the installer failed, or the request could not be forwarded
  kReplyHelperListenFailed = 52,     // 17, 18: no port for the helper instance
  kReplyHelperNotStarted = 53,       // 17, 18: the elevated helper instance did not start
  kReplyStoreEditionInstalled = 54,  // 18: the store edition is installed
  kReplyBackupBusy = 60,             // 1600, 1601, 1700, 201: a backup or restore of the device is running
  kReplyBackupIncomplete = 61,       // 1601, 1700: a file the backup's manifest names is missing from it
};

// For logs: a short name of a code, "unknown" for a number that is none of the above.
const char* ReplyCodeName(int64_t code);

}  // namespace hlx
