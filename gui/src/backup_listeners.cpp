// Backup manager listeners; see backup_listeners.h.
#include "backup_listeners.h"

#include <memory>

#include <glog/logging.h>

#include "command_names.h"
#include "wide_pair.h"
#include "command_bus.h"

namespace trv {
namespace {

constexpr int64_t kBackupDeviceInfoCode = 16;
constexpr int64_t kBackupDeviceRemovedCode = 17;

bool BackupPageListens() {
    const ModuleRecord* owner = CommandBus::Instance().OwnerRecordOf(BRISEL_COMMAND_DO_BACKUP);
    return owner != nullptr && owner->receive != nullptr;
}

void ForwardPair(CommandMessage* copy, const WideStringPair* source, int64_t code) {
    // The pair is the receiver's once delivered; with no backup page loaded nobody would free it, so it is
    // not made at all.
    if (source == nullptr || !BackupPageListens()) {
        return;
    }
    auto pair = std::make_unique<WideStringPair>(*source);
    copy->code = code;
    copy->extra = pair.release();
    SendToOwner(BRISEL_COMMAND_DO_BACKUP, copy);
}

}  // namespace

extern "C" void TRV_CALL OnBackupDeviceInfo(CommandMessage* copy) {
    try {
        // The relay puts the device pair in `data` only when `status` is non-zero; anything else there is
        // not a pair and must not be read as one.
        if (copy == nullptr || copy->status == 0) {
            return;
        }
        ForwardPair(copy, static_cast<const WideStringPair*>(copy->data), kBackupDeviceInfoCode);
    } catch (...) {
        LOG(ERROR) << "backup device-info listener failed";
    }
}

extern "C" void TRV_CALL OnBackupDeviceRemoved(CommandMessage* copy) {
    try {
        if (copy == nullptr) {
            return;
        }
        ForwardPair(copy, static_cast<const WideStringPair*>(copy->extra), kBackupDeviceRemovedCode);
    } catch (...) {
        LOG(ERROR) << "backup device-removed listener failed";
    }
}

}  // namespace trv
