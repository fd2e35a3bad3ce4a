#pragma once
// The relay module's service mode: it starts the device service (a Linux program, started through Wine),
// listens for its connection on loopback and reads its packets on a thread of its own (relay_launch.h)
// and, on the UI thread (through a message-only window of its own; relay_link.cpp), turns device events
// into host commands, asks each ready device for its basic information and serves the host's requests
// through the relay's features (relay_features.h), writing and reading the desktop's files for them
// (relay_files.h). A service that is lost, or never connects, is reported as SERVER_CRASH; the host's
// acknowledgement starts it again (a few times per run). Chosen when TREVANE_HARLIX names the service's
// program; otherwise the module keeps its fixture behaviour.
//
// Environment read at the server start:
//   TREVANE_HARLIX      the service's program as a Linux path (/opt/x/Harlix) or its name on drive Z:
//                       (Z:\opt\x\Harlix);
//   TREVANE_LINUX_PID   the Linux process id of the desktop program, which the service watches so that it
//                       ends with the desktop (0, no watching, when unset).

#include "command_message.h"

namespace relay {

// Whether TREVANE_HARLIX is set. Any thread.
bool IsServiceModeRequested();

// Keeps the host's record for the later sends. UI thread, from RegisterModule.
void SetServiceHost(ModuleRecord* record);

// Handles one delivery from the host in service mode; false when the name is not one the service mode
// answers. UI thread.
bool HandleServiceCommand(CommandMessage* message);

}  // namespace relay
