// Names of the reply codes (see hlx_reply_code.h).
#include "utility/hlx_reply_code.h"

namespace hlx {

const char* ReplyCodeName(int64_t code) {
  switch (code) {
    case kReplySuccess: return "ok";
    case kReplyGroupWithoutId: return "no id for the group";
    case kReplyTaskError: return "task error";
    case kReplyDeviceTooOld: return "device too old";
    case kReplyCancelled: return "cancelled";
    case kReplyNoDevice: return "no such device";
    case kReplyBadData: return "bad data";
    case kReplyLibraryNotBound: return "device library not bound";
    case kReplySubscribeFailed: return "notification subscription failed";
    case kReplyAfcNotOpened: return "AFC not opened";
    case kReplyNoSyncService: return "sync service not opened";
    case kReplyServiceNotRunning: return "device support service not running";
    case kReplyAfcInfoUnreadable: return "AFC device info unreadable";
    case kReplyDatabaseNotCopied: return "database not copied";
    case kReplyDatabaseNotOpened: return "database not opened";
    case kReplyStatementFailed: return "statement failed";
    case kReplyBadRequest: return "bad request";
    case kReplyBackupToolFailed: return "backup tool not started";
    case kReplyNoConnection: return "no connection";
    case kReplyNotPaired: return "not paired";
    case kReplyPairingInvalid: return "pairing validation failed";
    case kReplySessionNotStarted: return "session not started";
    case kReplyContactWithoutId: return "no id for the contact";
    case kReplyCalendarWithoutId: return "no id for the calendar";
    case kReplyNoteWithoutId: return "no id for the note";
    case kReplyRenameRefused: return "name refused";
    case kReplyBookListUnreadable: return "book list unreadable";
    case kReplyBookListUnwritable: return "book list not written";
    case kReplyBookUploadFailed: return "book upload failed";
    case kReplySyncRefused: return "refused by the device";
    case kReplyBookPathRefused: return "book path refused";
    case kReplyBookNotRemoved: return "book not removed";
    case kReplyBookUnpackFailed: return "book not unpacked";
    case kReplyBackupManifestError: return "backup manifest unreadable";
    case kReplyBackupDeviceGone: return "device gone during backup";
    case kReplyBackupNoWantedFile: return "wanted backup file not received";
    case kReplyDeviceLocked: return "locked with a passcode";
    case kReplyNoSession: return "no session";
    case kReplyScratchFolderFailed: return "scratch folder not made";
    case kReplyDriverDownloadFailed: return "driver download failed";
    case kReplyInstallFailed: return "install failed";
    case kReplyHelperListenFailed: return "helper port failed";
    case kReplyHelperNotStarted: return "helper not started";
    case kReplyStoreEditionInstalled: return "store edition installed";
    case kReplyBackupBusy: return "backup of the device running";
    case kReplyBackupIncomplete: return "backup incomplete";
    default: return "unknown";
  }
}

}  // namespace hlx
