#pragma once
// The host's handler table: RegisterHostCommands files the host handler of every name the host serves,
// in the table's order, once, while the main view is created. Handlers run on the caller's thread.

#include "command_message.h"

namespace trv {

class CommandBus;

struct HostCommandEntry {
    const char* name;
    HostHandler handler;
};

// The entries in registration order.
const HostCommandEntry* HostCommandTable(size_t& count);
void RegisterHostCommands(CommandBus& bus);

// ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR: answers a heap copy (_wcsdup) of the personal product folder in
// `wideText`; the asking module frees it.
extern "C" void TRV_CALL OnGetPersonalProductDir(CommandMessage* message);

}  // namespace trv
