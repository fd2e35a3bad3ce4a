#pragma once
// The codes of CORTAL_COMMAND_DO_NOTE (page <-> host) and of ZERITH_COMMAND_DO_NOTE (host <-> relay
// module), with the payload each carries. Codes travel as int64 in CommandMessage.code; only codes whose
// high half is zero are acted on. No state; any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "feature_payload.h"

namespace notes {

// Page -> host (CORTAL_COMMAND_DO_NOTE).
enum PageRequest : int64_t {
    kRequestLoad = 1,        // none
    kRequestExport = 2,  // none (the host asks for the folder)
    kRequestBackupXml = 3,   // none (the host asks for the folder)
    kRequestImportXml = 4,   // none (the host asks for the file)
    kRequestSave = 7,        // the page's note, passed on as it is
    kRequestAskNote = 8,     // data: the page's pair of labels; answered in place with the subject and content
};

// Host -> relay module (ZERITH_COMMAND_DO_NOTE).
enum RelayRequest : int64_t {
    kRelayLoad = 58,
    kRelaySave = 59,
    kRelayBackupXml = 60,   // extra: the folder (lent for the call)
    kRelayExport = 61,  // extra: the folder (lent for the call)
    kRelayImportXml = 62,   // data: std::vector<std::wstring>* of the chosen paths, count
};

// Relay module -> host (ZERITH_COMMAND_DO_NOTE, `text` = the device's identifier).
enum RelayReply : int64_t {
    kRelayCloudState = 57,  // value3: the notes count, negative when the device keeps its notes in iCloud
    kRelayLoaded = 58,
    kRelaySaved = 59,       // value2: the notes count
    kRelayImported = 62,    // value2: the notes count
};

// Host -> page (CORTAL_COMMAND_DO_NOTE, `wideText` = the device's identifier).
enum PageReply : int64_t {
    kReplyLoaded = 1,
    kReplyChanged = 7,
    kReplyHideCloudNotice = 10,
    kReplyShowCloudNotice = 11,
};

// The section list entry whose counter the notes answers keep current.
constexpr int32_t kNotesSectionId = 4;

// The notes feature's payload release (see feature_payload.h): the only payload made for the notes codes
// is the host's list of chosen paths; everything else is lent or passed on as the page sent it.
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload != nullptr && leg == PayloadLeg::RelayRequest && code == kRelayImportXml) {
        delete static_cast<std::vector<std::wstring>*>(payload);
    }
}

}  // namespace notes
