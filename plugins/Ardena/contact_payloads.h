#pragma once
// The payloads that the host hands to the contacts page with ARDENA_COMMAND_DO_CONTACT, by reply code, and
// their release. The record types themselves (iOSContact, iOSContactGroup) belong to the contacts page; a
// batch only holds shared pointers to them, whose deleters the sender made, so the batches can be released
// here without the records' definitions. Any thread; a payload belongs to whoever holds it last.

#include <cstdint>

#include "../../gui/sdk/item_batch.h"

class iOSContact;
class iOSContactGroup;

using ContactBatch = ItemBatch<iOSContact>;
using GroupBatch = ItemBatch<iOSContactGroup>;

namespace ardena {

// Reply codes of the host to the contacts page.
enum ContactReply : int64_t {
    kContactAdded = 0,         // a contact record
    kContactsLoaded = 1,       // ContactBatch; null = loading finished
    kContactRemoved = 6,       // identifier, malloc'd wide string
    kCloseEditor = 11,         // none
    kGroupsLoaded = 12,        // GroupBatch
    kSequenceQuery = 13,       // synchronous: the page's sequence in `status`
    kHideCloudNotice = 14,     // none
    kShowCloudNotice = 15,     // none
    kGroupChanged = 18,        // a group record, the page's from now on
    kGroupRemoved = 19,        // identifier, malloc'd wide string
};

// The sequence of the batch that `payload` of `code` (kContactsLoaded or kGroupsLoaded) is.
int64_t BatchSequence(int64_t code, const void* payload);

// Releases a payload of `code` that nobody will take: batches and identifier strings. Contact and group
// records come with the contacts page and its record types; nothing sends them before that.
void ReleaseContactPayload(int64_t code, void* payload);

}  // namespace ardena
