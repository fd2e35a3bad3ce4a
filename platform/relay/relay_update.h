#pragma once
// The relay's product update: the update feed that the address "url:update" of the host's Option.json
// names, and what of it is news for the running version. The feed is a JSON object:
//   {"installer": "<address of the newest installer>",
//    "versions": [{"version": "2.7.0", "notes": ["line", ...]}, ...]}   newest first
// The check answers the host with the versions newer than the running one (ZERITH_COMMAND_CHECK_FOR_UPDATE:
// `status` 1 and their count in `value2`, the list in `extra`; `status` 0 when the feed could not be read);
// the download fetches the installer into the temporary folder (ZERITH_COMMAND_DOWNLOAD_UPDATE: `status` 2
// with the bytes so far in value4 of value3, then 0 with the file's path in `wideText`, or 3 when it failed).
// The network work runs on threads of its own (relay_update_win32.cpp); this part is pure, any thread.

#include <cstdint>
#include <string>

#include "command_message.h"
#include "update_records.h"

namespace relay {

// Feeds and installers larger than this are not what the update server serves.
constexpr std::uint64_t kMaxFeedSizeBytes = 1024 * 1024;
constexpr std::uint64_t kMaxInstallerSizeBytes = 2048ull * 1024 * 1024;

struct UpdateFeed {
    UpdateVersionList newer;  // the feed's versions above the running one, in the feed's order
    std::string installerUrl;
};

// Reads `json`; false when it is not a feed object. Versions without a version text are skipped; notes
// that are not strings are left out.
[[nodiscard]] bool ReadUpdateFeed(const std::string& json, const std::wstring& runningVersion, UpdateFeed& feed);

// The installer's file name: the last part of `url`'s path (without query), when it is a plain file name;
// otherwise "update-setup.exe".
std::wstring InstallerFileName(const std::string& url);

// Hands a command to the host (UI thread).
using HostSend = void (*)(const char* name, CommandMessage& message);

// Win32 only (relay_update_win32.cpp): the host's ZERITH_COMMAND_CHECK_FOR_UPDATE, _DOWNLOAD_UPDATE and
// _DOWNLOAD_UPDATE_CANCEL; false for any other name. `runningVersion` is the desktop's version. UI thread.
bool HandleUpdateCommand(const CommandMessage& message, const std::wstring& runningVersion, HostSend send);

}  // namespace relay
