#pragma once
// The texts and choices of the product update: reading an update check's result, the notices the user
// sees, and the installer run after a download (with the add-in program started afterwards where the
// product has one). Pure text work, apart from RunDownloadedInstaller, which acts through the host UI
// (host_ui.h) on the thread that calls it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update_records.h"

namespace trv {

struct UpdateCheckResult {
    enum class Kind { Failed, Latest, NewVersions };
    Kind kind = Kind::Failed;
    std::wstring listText;      // "Version: " blocks with their note lines, one per version
    std::wstring firstVersion;  // the version the notice names
};

// `status` 0 is a failed check; a non-zero status with `count` versions lists the first `count` of
// `versions` (never more than it holds). A count without any version text is no new version.
UpdateCheckResult ReadUpdateCheck(int64_t status, int64_t count, const UpdateVersionList* versions);

std::wstring NewVersionNotice(const std::wstring& version);  // "A new version of (v) is available."
std::wstring LatestVersionNotice();                          // names this program's version
extern const wchar_t kUpdateCheckFailedText[];
// What a failed check tells the user: without an update address (`address`, the "url:update" value, empty)
// nothing was asked of the network, and the text says so; else kUpdateCheckFailedText.
std::wstring UpdateCheckFailedText(const std::string& address);

// What the progress dialog says when the driver's download (`installing` false) or installation ended with
// the device service's `code` (-1: the service did not answer), in words.
std::wstring DriverFailureText(bool installing, int64_t code);

// The notice that a store edition of the device library must be removed, naming `downloadAddress`; as long
// as the address is.
std::wstring StoreEditionNotice(const std::wstring& downloadAddress);

// The first x.y.z in `name`, or the whole name when there is none.
std::wstring VersionFromFolderName(const std::wstring& name);
// Of the folder names `entries`, the newest whose name is exactly a version and for which `hasProgram` is
// true; empty when none.
std::wstring NewestVersionFolder(const std::vector<std::wstring>& entries,
                                 const std::function<bool(const std::wstring&)>& hasProgram);
// `program` in quotation marks (a path with blanks stays one argument), then a blank and `arguments`.
std::wstring CommandLine(const std::wstring& program, const std::wstring& arguments);
// The folder name that holds the preferences file (the text between its last two backslashes).
std::wstring ProductAlias(const std::wstring& preferencesPath);

// After a downloaded installer: with product type 1 and a preferences path, runs it silently for the
// product's alias and deletes it; when an add-in folder of `addinName` was installed, its newest program
// is started and the main frame closes, else the program goes on. Otherwise the installer itself is
// started with raised rights and the main frame closes. False only when the silent installer did not
// start: then nothing is deleted and the frame stays (the caller tells the user).
bool RunDownloadedInstaller(const std::wstring& installer, int64_t productType, const std::wstring& preferencesPath,
                            const std::wstring& addinName);

}  // namespace trv
