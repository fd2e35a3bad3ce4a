// Release of the contacts page's payloads; see contact_payloads.h.
#include "contact_payloads.h"

#include <cstdlib>
#include <memory>

namespace ardena {

int64_t BatchSequence(int64_t code, const void* payload) {
    return code == contacts::kReplyGroupsLoaded ? static_cast<const GroupBatch*>(payload)->sequence
                                                : static_cast<const ContactBatch*>(payload)->sequence;
}

void ReleaseContactPayload(int64_t code, void* payload) {
    if (payload == nullptr) {
        return;
    }
    switch (code) {
    case contacts::kReplyContactAdded:
        delete static_cast<std::shared_ptr<iOSContact>*>(payload);
        break;
    case contacts::kReplyContactsLoaded:
        delete static_cast<ContactBatch*>(payload);
        break;
    case contacts::kReplyGroupsLoaded:
        delete static_cast<GroupBatch*>(payload);
        break;
    case contacts::kReplyGroupChanged:
        delete static_cast<iOSContactGroup*>(payload);
        break;
    case contacts::kReplyContactRemoved:
    case contacts::kReplyGroupRemoved:
        std::free(payload);
        break;
    default:
        break;
    }
}

}  // namespace ardena
