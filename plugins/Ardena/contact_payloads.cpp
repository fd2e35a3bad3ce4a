// Release of the contacts page's payloads; see contact_payloads.h.
#include "contact_payloads.h"

#include <cstdlib>

namespace ardena {

int64_t BatchSequence(int64_t code, const void* payload) {
    return code == kGroupsLoaded ? static_cast<const GroupBatch*>(payload)->sequence
                                 : static_cast<const ContactBatch*>(payload)->sequence;
}

void ReleaseContactPayload(int64_t code, void* payload) {
    if (payload == nullptr) {
        return;
    }
    switch (code) {
    case kContactsLoaded:
        delete static_cast<ContactBatch*>(payload);
        break;
    case kGroupsLoaded:
        delete static_cast<GroupBatch*>(payload);
        break;
    case kContactRemoved:
    case kGroupRemoved:
        std::free(payload);
        break;
    default:
        break;
    }
}

}  // namespace ardena
