// The service's folders (process temporary folder, log and download folders, backup root) and
// path helpers. Paths are UTF-8 with '/' separators. No state; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace hlx {

// Full path of the running program (/proc/self/exe), "" when unreadable.
std::string GetModuleFilePath();
// The program's file name (after the last '/' of GetModuleFilePath), or "".
std::string GetProgramFileName();

// The log folder (start-up state; the temporary path when start-up has not set it), '/', the
// program file name, '-', the decimal process id and '/'. With `create` the folder and every
// missing level are created.
std::string GetProcessTempFolder(bool create);
// The process temporary folder followed by `name` and '/', created.
std::string CreateTempSubfolder(const std::string& name);
// Deletes the process temporary folder with all contents (without creating it first).
bool DeleteProcessTempFolder();
// Deletes a folder with all its contents after dropping one trailing '/', then empties `path`. True
// on success (also when nothing was there). Empty, relative and root paths are refused (false).
bool DeleteDirectoryTree(std::string& path);

// The application-data folder ($XDG_CONFIG_HOME when absolute, else $HOME/.config) followed by
// "/Apple Computer/MobileSync/Backup/"; "" when neither is set.
std::string GetBackupRootFolder();
// The log folder followed by "/ios_driver/", created.
std::string GetDriverDownloadFolder();

// True for "." and "..".
bool IsDotOrDotDot(const char* name);

// The one home of the path-name checks for names that come from a device, a backup, a zip or a
// peer, before they touch a PC path.
// Where a name is used: a PC path, where '\\' separates as well (names from a Windows peer, zips made
// on Windows), or a device path, where '\\' is an ordinary character of a file name.
enum class PathSide { kPc, kDevice };
// A name that can stand as one entry of a folder: not empty, not "." or "..", and without '/', NUL,
// nor, on the PC side, '\\', so it can neither climb, nor separate, nor end early. Callers with a
// stricter rule (an app id) check it on top.
bool IsPlainChildName(const std::string& name, PathSide side = PathSide::kPc);
// `folder`, one '/' and `relative` when every '/'-separated component of `relative` is a plain
// child name (empty components of doubled separators are dropped); "" when one is not, when
// `relative` is absolute or has no component. The result stays inside `folder` by its name (a
// symbolic link below it is OpenRegularFileInside's concern).
std::string JoinInside(const std::string& folder, const std::string& relative);
// Opens `relative` (as JoinInside takes it) below `folder` for reading, following no symbolic link
// on the way, and only when it is a regular file: the descriptor (the caller closes it), or -1 with
// errno set (ENOENT missing; ELOOP, or ENOTDIR for a folder component, a link; EINVAL a name JoinInside
// refuses or not a regular file).
int OpenRegularFileInside(const std::string& folder, const std::string& relative);

// `start` plus the sizes of all regular files under the folder, recursively (the apparent size: a
// sparse file counts whole). Symbolic links are neither counted nor followed; a folder that cannot
// be listed adds nothing.
uint64_t GetFolderSize(const std::string& folder, uint64_t start);

// Numbered variants of a path, the way a second file of the same name is named: n = 0 is the path
// itself, n >= 1 is folder/stem(n).extension with the extension from the file name's own last '.'
// ("song.mp3" -> "song(1).mp3", "photo.tar.gz" -> "photo.tar(1).gz"), or folder/name(n) for a file
// name without one ("README" -> "README(1)", also in a folder whose name has a dot).
constexpr int kMaxPathVariant = 999;
std::string NumberedPathVariant(const std::string& path, int n);
// The first of the variants 0..kMaxPathVariant that `isTaken` calls free; "" when every one is taken.
std::string FirstFreePathVariant(const std::string& path, const std::function<bool(const std::string&)>& isTaken);

// A path that does not exist yet (a dangling link counts as existing): the first free numbered
// variant of it; "" when every one is taken, so that nothing is written over a file that exists.
std::string MakeUniqueLocalPath(const std::string& path);

// AppleMobileBackup.exe in the layout of a PC's program files folder: $HLX_PROGRAM_FILES stands
// for that folder (default /opt, when unset or empty; the device library's binding uses the same
// root), followed by "/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe".
std::string GetAppleMobileBackupPath();

}  // namespace hlx
