#pragma once
// The codes of ARDENA_COMMAND_DO_CONTACT (page <-> host) and of ZERITH_COMMAND_DO_CONTACT (host <-> relay
// module), in both directions, with the payload each carries. The same numbers mean different things in
// the two directions of one name. Codes travel as int64 in CommandMessage.code; only codes whose high half
// is zero are acted on. No state; any thread.
//
// Payload ownership: a payload handed over in `data` or `extra` belongs to the receiver unless it says
// "lent"; contact and group records are allocated with new, identifiers with _wcsdup/malloc. ReleasePayload
// below is the one place that knows how each is freed.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"
#include "feature_payload.h"
#include "item_batch.h"

namespace sdk::contacts {

// Page -> host (ARDENA_COMMAND_DO_CONTACT, `window` = the page, or the editor for 10 and 11).
enum PageRequest : int64_t {
    kRequestLoad = 1,          // none
    kRequestExportCsv = 2,     // data: std::vector<iOSContact*>* of the checked rows (held records), count
    kRequestBackupXml = 3,     // as 2
    kRequestExportVcards = 4,  // as 2
    kRequestImportXml = 5,     // none (the host asks for the file)
    kRequestDelete = 6,        // data: std::vector<std::wstring>* of identifiers, count
    kRequestSaveEdited = 10,   // data: iOSContact* (new copy)
    kRequestSaveNew = 11,      // data: iOSContact* (new record)
    kRequestCountries = 16,    // data: std::vector<WideStringPair>* filled before the call returns (lent)
    kRequestChangeGroup = 17,  // data: iOSContactGroup*
    kRequestCreateGroup = 18,  // data: iOSContactGroup*
    kRequestRemoveGroup = 19,  // data: wchar_t* identifier (_wcsdup)
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
    kRelayQueryLoaded = 1,  // answer: `status` non-zero when the relay holds the contacts already
    kRelayLoad = 2,
    kRelayRemove = 5,         // data: std::vector<std::wstring>*
    kRelayExportVcards = 10,  // data: std::vector<iOSContact*>*, extra: folder (lent)
    kRelayBackupXml = 11,
    kRelayExportCsv = 12,
    kRelayImportXml = 15,  // data: std::vector<std::wstring>* of paths
    kRelayCountries = 16,
    kRelaySaveNew = 17,      // data: iOSContact*
    kRelaySaveEdited = 18,   // data: iOSContact*
    kRelayRemoveGroup = 19,  // data: wchar_t* identifier
    kRelayCreateGroup = 20,  // data: iOSContactGroup*
    kRelayChangeGroup = 21,  // data: iOSContactGroup*
};

// Relay module -> host (ZERITH_COMMAND_DO_CONTACT invoked by the relay; `text` = UTF-8 device identifier).
enum RelayReply : int64_t {
    kRelayCloudState = 0,      // value3: the contact count, negative while the device keeps them in iCloud
    kRelayContactsBatch = 2,   // extra: ItemBatch<iOSContact>*, null when loading finished
    kRelayGroupsBatch = 3,     // extra: ItemBatch<iOSContactGroup>*
    kRelayContactAdded = 4,    // extra: std::shared_ptr<iOSContact>*, value3: the new count
    kRelayContactRemoved = 5,  // extra: wchar_t* identifier, value2: the new count
    kRelaySaved = 17,          // none: the editor may close
    kRelayGroupRemoved = 19,   // extra: wchar_t* identifier
    kRelayGroupCreated = 20,   // extra: iOSContactGroup*
    kRelayGroupChanged = 21,   // extra: iOSContactGroup*
};

// The sequence of a loaded batch (`payload` of kReplyContactsLoaded or kReplyGroupsLoaded, not null).
inline int64_t BatchSequence(int64_t code, const void* payload) {
    return code == kReplyGroupsLoaded ? static_cast<const ItemBatch<iOSContactGroup>*>(payload)->sequence
                                      : static_cast<const ItemBatch<iOSContact>*>(payload)->sequence;
}

// The contacts feature's payload release (see feature_payload.h), by the types listed at each code above.
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    enum class Type { None, RowList, IdList, Contact, Group, Text, ContactBatch, GroupBatch, SharedContact };
    Type type = Type::None;
    switch (leg) {
    case PayloadLeg::PageRequest:
        switch (code) {
        case kRequestExportCsv:
        case kRequestBackupXml:
        case kRequestExportVcards: type = Type::RowList; break;
        case kRequestDelete: type = Type::IdList; break;
        case kRequestSaveEdited:
        case kRequestSaveNew: type = Type::Contact; break;
        case kRequestChangeGroup:
        case kRequestCreateGroup: type = Type::Group; break;
        case kRequestRemoveGroup: type = Type::Text; break;
        default: break;  // kRequestCountries' list is lent
        }
        break;
    case PayloadLeg::PageReply:
        switch (code) {
        case kReplyContactAdded: type = Type::SharedContact; break;
        case kReplyContactsLoaded: type = Type::ContactBatch; break;
        case kReplyGroupsLoaded: type = Type::GroupBatch; break;
        case kReplyContactRemoved:
        case kReplyGroupRemoved: type = Type::Text; break;
        case kReplyGroupChanged: type = Type::Group; break;
        default: break;
        }
        break;
    case PayloadLeg::RelayRequest:
        switch (code) {
        case kRelayExportVcards:
        case kRelayBackupXml:
        case kRelayExportCsv: type = Type::RowList; break;
        case kRelayRemove:
        case kRelayImportXml: type = Type::IdList; break;
        case kRelaySaveNew:
        case kRelaySaveEdited: type = Type::Contact; break;
        case kRelayCreateGroup:
        case kRelayChangeGroup: type = Type::Group; break;
        case kRelayRemoveGroup: type = Type::Text; break;
        default: break;  // kRelayCountries' list is lent
        }
        break;
    case PayloadLeg::RelayReply:
        switch (code) {
        case kRelayContactsBatch: type = Type::ContactBatch; break;
        case kRelayGroupsBatch: type = Type::GroupBatch; break;
        case kRelayContactAdded: type = Type::SharedContact; break;
        case kRelayContactRemoved:
        case kRelayGroupRemoved: type = Type::Text; break;
        case kRelayGroupCreated:
        case kRelayGroupChanged: type = Type::Group; break;
        default: break;
        }
        break;
    }
    switch (type) {
    case Type::None: break;
    case Type::RowList: delete static_cast<std::vector<iOSContact*>*>(payload); break;  // the rows stay the page's
    case Type::IdList: delete static_cast<std::vector<std::wstring>*>(payload); break;
    case Type::Contact: delete static_cast<iOSContact*>(payload); break;
    case Type::Group: delete static_cast<iOSContactGroup*>(payload); break;
    case Type::Text: std::free(payload); break;
    case Type::ContactBatch: delete static_cast<ItemBatch<iOSContact>*>(payload); break;
    case Type::GroupBatch: delete static_cast<ItemBatch<iOSContactGroup>*>(payload); break;
    case Type::SharedContact: delete static_cast<std::shared_ptr<iOSContact>*>(payload); break;
    }
}

}  // namespace sdk::contacts
