#pragma once
// The backup plug-in's module (page_module.h) as its windows use it: the host's ImageCache and the
// plug-in's own module handle; set by RegisterModule and kept until the process ends.

#include <windows.h>

#include "command_message.h"
#include "image_cache.h"

namespace brisel {

HMODULE Module();
// The theme image filed under `key`, or null when the host has none.
Gdiplus::Bitmap* Image(const char* key);
// Sends BRISEL_COMMAND_DO_BACKUP to the host (kind and name set here) and returns when the host's handler
// has run. False when the plug-in is not registered; the caller then still owns its payload.
bool SendBackupCommand(CommandMessage& message);

}  // namespace brisel
