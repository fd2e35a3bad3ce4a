#pragma once
// The backup manager's two listeners on device events: the host tells the backup plug-in about a device's
// identity when its information arrives (code 16) and when it is removed (code 17), handing over a heap
// WideStringPair that the plug-in deletes. Called by Notify with the listener's own copy of the record, on
// the thread of the handler that notified (any thread).

#include "command_message.h"

namespace trv {

extern "C" void TRV_CALL OnBackupDeviceInfo(CommandMessage* copy);
extern "C" void TRV_CALL OnBackupDeviceRemoved(CommandMessage* copy);

}  // namespace trv
