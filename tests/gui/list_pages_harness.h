#pragma once
// A stand-in host for the list-page plug-ins (notes, bookmarks, voice memos, ringtones) in the Wine tests:
// it loads lib<Name>.dll from the built plug-in folder once per process, lends it the theme images, and
// hands every command the plug-in sends to the test's handler, which takes the payload over as the host
// would. Pages are made in the contacts harness's parent window; the list, click and menu steps are the
// contacts harness's (ardena_harness.h). Screenshots of a page go to the folder named by TRV_PAGE_SHOTS.
// UI thread (the test's).

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ardena_harness.h"
#include "command_message.h"

namespace pages_test {

struct PluginHost {
    HMODULE library = nullptr;
    ModuleRecord record{};
    std::vector<std::string> registered;
    std::vector<int64_t> codes;  // every page command's code, in order
    // Called for each command the plug-in sends (not for registrations); may answer in the message.
    std::function<void(CommandMessage&)> onSend;
    const char* showName = nullptr;
    const char* doName = nullptr;
};

// The plug-in `name` ("Cortal", ...), loaded and registered on first use.
PluginHost& Plugin(const wchar_t* name, const char* showName, const char* doName);
// A page for `device`, made at `rect` and shown; its window.
HWND ShowPage(PluginHost& host, const wchar_t* device, const RECT& rect = RECT{0, 0, 900, 520});
// Delivers the plug-in's command with `code` and `extra` for `device` and pumps; the message afterwards.
CommandMessage Reply(PluginHost& host, const wchar_t* device, int64_t code, void* extra = nullptr);
size_t CountCodes(const PluginHost& host, int64_t code);

// A press on a toolbar button that opens a popup menu, choosing its `index`-th entry.
void PressAndChoose(HWND button, int index);
// Saves what `window` shows as <TRV_PAGE_SHOTS>/<name>.bmp when the variable is set.
void SaveShot(HWND window, const char* name);

}  // namespace pages_test
