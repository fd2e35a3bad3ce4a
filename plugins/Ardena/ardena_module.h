#pragma once
// The contacts plug-in's module (page_module.h) as its windows use it: the host's ImageCache, the plug-in's
// own module handle, sending to the host and the country list of the address labels, which the first page
// of the process asks the host for once. Set by RegisterModule and kept until the process ends. UI thread,
// except Module(), Images() and Image(), which any thread may read once registration is done.

#include <windows.h>

#include <vector>

#include "command_message.h"
#include "image_cache.h"
#include "wide_pair.h"

namespace ardena {

ImageCache* Images();
HMODULE Module();
// The theme image filed under `key`, or null when the host has none.
Gdiplus::Bitmap* Image(const char* key);
// Sends ARDENA_COMMAND_DO_CONTACT to the host: kind and name are set here, the rest is the caller's. The
// call returns when the host's handler has run. False when the plug-in is not registered.
bool SendContactCommand(CommandMessage& message);
// The (country code, country name) entries of the address labels; asked for with code 16 on the first call.
const std::vector<WideStringPair>& Countries();

}  // namespace ardena
