#pragma once
// The codes of ARDENA_COMMAND_DO_CONTACT (page <-> host) and of ZERITH_COMMAND_DO_CONTACT (host <-> relay
// module), in both directions, with the payload each carries. The same numbers mean different things in
// the two directions of one name. Codes travel as int64 in CommandMessage.code; only codes whose high half
// is zero are acted on. No state; any thread.
//
// Payload ownership: a payload handed over in `data` or `extra` belongs to the receiver unless it says
// "lent"; contact and group records are allocated with new, identifiers with _wcsdup/malloc.

#include <cstdint>

namespace contacts {

// Page -> host (ARDENA_COMMAND_DO_CONTACT, `window` = the page, or the editor for 10 and 11).
enum PageRequest : int64_t {
    kRequestLoad = 1,            // none
    kRequestExportCsv = 2,       // data: std::vector<iOSContact*>* of the checked rows (held records), count
    kRequestBackupXml = 3,       // as 2
    kRequestExportVcards = 4,    // as 2
    kRequestImportXml = 5,       // none (the host asks for the file)
    kRequestDelete = 6,          // data: std::vector<std::wstring>* of identifiers, count
    kRequestSaveEdited = 10,     // data: iOSContact* (new copy)
    kRequestSaveNew = 11,        // data: iOSContact* (new record)
    kRequestCountries = 16,      // data: std::vector<WideStringPair>* filled before the call returns (lent)
    kRequestChangeGroup = 17,    // data: iOSContactGroup*
    kRequestCreateGroup = 18,    // data: iOSContactGroup*
    kRequestRemoveGroup = 19,    // data: wchar_t* identifier (_wcsdup)
};

// Host -> page (ARDENA_COMMAND_DO_CONTACT through the plug-in's receiver; payload in `extra`).
enum PageReply : int64_t {
    kReplyContactAdded = 0,      // std::shared_ptr<iOSContact>* (heap holder)
    kReplyContactsLoaded = 1,    // ItemBatch<iOSContact>*; null = loading finished
    kReplyContactRemoved = 6,    // wchar_t* identifier (malloc)
    kReplyCloseEditor = 11,      // none
    kReplyGroupsLoaded = 12,     // ItemBatch<iOSContactGroup>*
    kReplySequenceQuery = 13,    // synchronous: the page's sequence in `status`
    kReplyHideCloudNotice = 14,  // none
    kReplyShowCloudNotice = 15,  // none
    kReplyGroupChanged = 18,     // iOSContactGroup*
    kReplyGroupRemoved = 19,     // wchar_t* identifier (malloc)
};

// Host -> relay module (ZERITH_COMMAND_DO_CONTACT).
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 1,       // answer: `status` non-zero when the relay holds the contacts already
    kRelayLoad = 2,
    kRelayRemove = 5,            // data: std::vector<std::wstring>*
    kRelayExportVcards = 10,     // data: std::vector<iOSContact*>*, extra: folder (lent)
    kRelayBackupXml = 11,
    kRelayExportCsv = 12,
    kRelayImportXml = 15,        // data: std::vector<std::wstring>* of paths
    kRelayCountries = 16,
    kRelaySaveNew = 17,          // data: iOSContact*
    kRelaySaveEdited = 18,       // data: iOSContact*
    kRelayRemoveGroup = 19,      // data: wchar_t* identifier
    kRelayCreateGroup = 20,      // data: iOSContactGroup*
    kRelayChangeGroup = 21,      // data: iOSContactGroup*
};

// Relay module -> host (ZERITH_COMMAND_DO_CONTACT invoked by the relay; `text` = UTF-8 device identifier).
enum RelayReply : int64_t {
    kRelayCloudState = 0,        // value3: the contact count, negative while the device keeps them in iCloud
    kRelayContactsBatch = 2,     // extra: ItemBatch<iOSContact>*, null when loading finished
    kRelayGroupsBatch = 3,       // extra: ItemBatch<iOSContactGroup>*
    kRelayContactAdded = 4,      // extra: std::shared_ptr<iOSContact>*, value3: the new count
    kRelayContactRemoved = 5,    // extra: wchar_t* identifier, value2: the new count
    kRelaySaved = 17,            // none: the editor may close
    kRelayGroupRemoved = 19,     // extra: wchar_t* identifier
    kRelayGroupCreated = 20,     // extra: iOSContactGroup*
    kRelayGroupChanged = 21,     // extra: iOSContactGroup*
};

// The contacts entry of the section list.
constexpr int32_t kContactsSectionId = 2;

}  // namespace contacts
