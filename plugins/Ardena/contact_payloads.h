#pragma once
// The payloads that the host hands to the contacts page with ARDENA_COMMAND_DO_CONTACT, by reply code, and
// their release when nobody takes them (a post that failed, a batch the receiver drops, a page that is not
// there). Any thread; a payload belongs to whoever holds it last.

#include <cstdint>

#include "../../gui/sdk/contact_codes.h"
#include "../../gui/sdk/contact_records.h"
#include "../../gui/sdk/item_batch.h"

using ContactBatch = ItemBatch<iOSContact>;
using GroupBatch = ItemBatch<iOSContactGroup>;

namespace ardena {

// The sequence of the batch that `payload` of `code` (kReplyContactsLoaded or kReplyGroupsLoaded) is.
int64_t BatchSequence(int64_t code, const void* payload);

// Releases a payload of `code` that nobody will take: batches, contact and group records and identifier
// strings. Codes without a payload release nothing.
void ReleaseContactPayload(int64_t code, void* payload);

}  // namespace ardena
