// Zip archives over minizip: extract a whole archive into a folder, list a folder tree, create an
// archive from a list of files, and read the store metadata entry of an app package.
//
// Extraction keeps minizip's pluggable file functions, so that a caller can read an archive from, or
// extract it into, something other than a local file (the device's file system over AFC, say). All
// messages go to standard output (standard error for an archive that does not open); none reaches a
// reply. Nothing here throws. No state of its own: safe on any thread with distinct ZipUtil records.
#pragma once

#include <minizip/ioapi.h>
#include <minizip/unzip.h>

#include <cstdint>
#include <map>
#include <string>

namespace hlx {

// Full path of a file (UTF-8) -> its name inside an archive (UTF-8, '/'-separated, relative to the
// listed folder), ordered by full path.
using ZipFileList = std::map<std::string, std::string>;

// A plain record that callers may fill themselves.
struct ZipUtil {
  // Called after each extracted file: (output table's user data, path, DOS date and time with the
  // date in the high half, the entry's date).
  using SetFileTimeCallback = void (*)(void* userData, const char* path, uint32_t dosDateTime, const tm_unz& date);
  // Makes a folder with every missing parent: (output table's user data, path). Its result is not
  // examined.
  using MakeFolderCallback = int (*)(void* userData, const char* path);

  // Every file that extraction writes: open gets (user data, UTF-8 path, ZLIB_FILEFUNC_MODE_CREATE).
  zlib_filefunc64_def outputTable{};
  // Opens and reads the archive; the archive path reaches its open function unchanged.
  zlib_filefunc64_def archiveTable{};
  SetFileTimeCallback setFileTime = nullptr;
  MakeFolderCallback makeFolder = nullptr;

  // Local files: the archive table takes a UTF-16 path (const char16_t*), the output table a UTF-8
  // one; file times are set from the entries' dates, folders made with their parents.
  ZipUtil();

  // Extracts every entry into `folder` (UTF-8; a '/' is added unless it ends in '/' or '\').
  // `archivePath` goes unchanged to the archive table's open function: the UTF-16 form suits the
  // default table, the narrow form a caller's own. False when the archive does not open or an entry
  // ends the extraction: a read or write error, or an entry whose name is absolute, climbs out of
  // the folder ("..") or holds a NUL, so that nothing is ever written outside the folder. An output
  // file that does not open is skipped.
  [[nodiscard]] bool ExtractToFolderW(const std::u16string& archivePath, const std::string& folder);
  [[nodiscard]] bool ExtractToFolder(const std::string& archivePath, const std::string& folder);

  // Adds every regular file under `folder`, recursively, to `files`: full path -> the path without
  // its first length-of-base bytes. The base is `base` or, when null, the folder; each gets a '/'
  // unless it ends in '/' or '\'. Symbolic links are not followed.
  static void ListFilesRecursive(const std::string& folder, const char* base, ZipFileList* files);

 private:
  bool Extract(const void* archivePath, const std::string& folder, const std::string& shownPath);
  bool ExtractAll(unzFile zip, const std::string& folder);
  bool ExtractCurrentEntry(unzFile zip, const std::string& path, const unz_file_info64& info, char* buffer,
                           size_t bufferSize);
};

// Creates the archive (UTF-8 path) from the files of the list, in key order, deflated at the default
// level, each with its last-write time; files whose extension is in `excludedExtensions` (see
// HasExtensionInList; null: none) are left out. A file that cannot be read or added is skipped with a
// message. True when the archive was closed without error.
[[nodiscard]] bool CreateZipFromFolder(const ZipFileList& files, const std::string& archivePath,
                                       const char* excludedExtensions);

// Whether the path's extension (from its last '.', lower-cased, enclosed in ';') occurs in `list`,
// which is written the same way: ";.zip;.exe;". A path without '.' gives false.
bool HasExtensionInList(const std::string& path, const char* list);

// The bytes of the entry named exactly "iTunesMetadata.plist" (case-sensitive) of an app package, or
// "" when there is none, the package does not open, a read fails or the entry is implausibly large.
std::string ReadIpaMetadata(const std::u16string& archivePath);

}  // namespace hlx
