#pragma once
// The file-system names the host derives at start-up and shut-down: the log folder, the dump path, the
// preferences file and the rules for cleaning the log and crash folders. Pure string work over values
// the caller fetched from the system, so that the rules are tested natively. Any thread.

#include <functional>
#include <string>
#include <vector>

namespace trv {

// tempFolder (ends with a separator) + brand + "\" + date (yyyymmdd).
std::wstring LogFolderPath(const std::wstring& tempFolder, const std::wstring& brand, const std::wstring& date);
// Every folder from the first one below the root (a drive "C:\" or a share "\\server\share\") down
// to `folder` itself, outermost first, so that a caller can create each level that is missing.
std::vector<std::wstring> FolderLevels(const std::wstring& folder);
// logFolder + "\" + startTime (yyyymmddHHMMSS) + ".dmp".
std::wstring DumpPathIn(const std::wstring& logFolder, const std::wstring& startTime);
// The text before the last backslash; the whole text when it has none.
std::wstring FolderOfPath(const std::wstring& path);

// The preferences file for an install folder below appData + brand + "\": the folder one level below that
// base + "Preferences-Recommend.json" when that file exists, else + "Preferences.json"; empty when the
// install folder is not below the base.
std::wstring PreferencesPathFor(const std::wstring& appDataFolder, const std::wstring& brand,
                                const std::wstring& installFolder,
                                const std::function<bool(const std::wstring&)>& fileExists);

// An entry that does not keep the log folder alive at shut-down (its name begins with ".").
bool IsIgnoredLogEntry(const std::wstring& name);
// A file the crash report callback keeps: its name contains ".zip" in any case.
bool IsCrashReportArchive(const std::wstring& name);

}  // namespace trv
