#pragma once
// The host handlers that answer with dialogs or run programs: the device rename question, the update
// reports and the installer run, the progress reports, the driver installation reports and the title
// bar's about and feedback commands. They reach windows and programs only through CurrentHostUi()
// (host_ui.h); reports of the relay module arrive on its threads and touch the dialogs only through their
// progress state or tasks run on the UI thread.

#include "command_message.h"

namespace trv {

// YESTAL_COMMAND_EDIT_DEVICE_NAME: asks "Name:"; a confirmed, non-blank name (trimmed) sets `status` 1 and
// `wideText` to a copy on the shared heap that the asking page frees.
extern "C" void TRV_CALL OnEditDeviceName(CommandMessage* message);

}  // namespace trv
