#pragma once
// The codes of CORTAL_COMMAND_DO_NOTE (page <-> host) and of ZERITH_COMMAND_DO_NOTE (host <-> relay
// module), with the payload each carries and the notes feature's payload release. Codes travel as int64 in
// CommandMessage.code; only codes whose high half is zero are acted on. No state; any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "feature_payload.h"
#include "item_batch.h"
#include "list_records.h"

namespace sdk::notes {

// Page -> host (CORTAL_COMMAND_DO_NOTE).
enum PageRequest : int64_t {
    kRequestLoad = 1,       // none
    kRequestExport = 2,     // data: std::vector<NoteItem*>* of the checked notes, the host's; count (the host asks
                            // for the folder)
    kRequestBackupXml = 3,  // as 2
    kRequestImportXml = 4,  // none (the host asks for the file)
    kRequestAddFiles = 5,   // data: std::vector<std::wstring>* of dropped paths, lent; count; wideText
    kRequestSave = 7,       // data: the page's WideStringPair (subject, content), lent for the call
    kRequestAskNote = 8,    // data: the page's pair of labels on its stack; answered in place with the subject and
                            // content, `status` 1 when the user confirmed
};

// Host -> relay module (ZERITH_COMMAND_DO_NOTE).
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 56,  // answer: `status` non-zero when the relay holds the notes already
    kRelayLoad = 58,
    kRelaySave = 59,       // data: the page's pair, lent for the call
    kRelayBackupXml = 60,  // extra: the folder (lent for the call); data: the notes as in 2, lent for the call
    kRelayExport = 61,     // as 60
    kRelayImportXml = 62,  // data: std::vector<std::wstring>* of the chosen paths, count
};

// Relay module -> host (ZERITH_COMMAND_DO_NOTE, `text` = the device's identifier).
enum RelayReply : int64_t {
    kRelayCloudState = 57,  // value3: the notes count, negative when the device keeps its notes in iCloud
    kRelayLoaded = 58,      // extra: ItemBatch<NoteItem>; null: the listing finished
    kRelaySaved = 59,       // value2: the notes count; extra: the added notes as in kReplyChanged
    kRelayImported = 62,    // as 59
};

// Host -> page (CORTAL_COMMAND_DO_NOTE, `wideText` = the device's identifier).
enum PageReply : int64_t {
    kReplyLoaded = 1,    // extra: ItemBatch<NoteItem>; null: loading finished
    kReplyChanged = 7,   // extra: std::vector<std::shared_ptr<NoteItem>>* of the added notes
    kReplySequence = 9,  // answered with the page's sequence in `status`
    kReplyHideCloudNotice = 10,
    kReplyShowCloudNotice = 11,
};

// The notes feature's payload release (see feature_payload.h).
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    const bool exported = (leg == PayloadLeg::PageRequest && (code == kRequestExport || code == kRequestBackupXml)) ||
                          (leg == PayloadLeg::RelayRequest && (code == kRelayExport || code == kRelayBackupXml));
    const bool listed = (leg == PayloadLeg::PageReply && code == kReplyLoaded) ||
                        (leg == PayloadLeg::RelayReply && code == kRelayLoaded);
    const bool added = (leg == PayloadLeg::PageReply && code == kReplyChanged) ||
                       (leg == PayloadLeg::RelayReply && (code == kRelaySaved || code == kRelayImported));
    if (exported) delete static_cast<std::vector<NoteItem*>*>(payload);
    if (listed) delete static_cast<ItemBatch<NoteItem>*>(payload);
    if (added) delete static_cast<std::vector<std::shared_ptr<NoteItem>>*>(payload);
    if (leg == PayloadLeg::RelayRequest && code == kRelayImportXml) {
        delete static_cast<std::vector<std::wstring>*>(payload);
    }
}

}  // namespace sdk::notes
