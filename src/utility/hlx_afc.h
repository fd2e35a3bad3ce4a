// AFC file operations on a device's file service connection: stat, make a folder, remove a path
// or a whole tree, copy a file or a folder from the device to the PC and a file from the PC to the
// device. Device paths are UTF-8 with '/' separators; PC paths are UTF-8 with '/' separators too.
// Every library call goes through the binding table. The serialisation of a CoreFoundation list for
// writing to the device (SerializePlist) stands with the other property-list conversions in
// hlx_plist.h.
//
// Threads: any worker. The calls take no lock of their own: one AFC connection may be shared by the
// requests of one device, and the library serialises the packets on it. Each thread copies through
// a 4 MiB buffer of its own, made on its first copy and freed when the thread ends. Every call
// blocks for the whole transfer and reports failure through its result; nothing is thrown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mobiledevice.h"

namespace hlx {

// The transfer unit of uploads and downloads.
constexpr uint32_t kAfcTransferBufferBytes = 4 * 1024 * 1024;  // 0x400000

// The calling thread's transfer buffer of kAfcTransferBufferBytes, made on first use and freed when
// the thread ends; null when the memory is not there. The AFC copies and the ATC message reader
// share it; neither holds it across a call into the other.
uint8_t* ThreadTransferBuffer();

// The answer of an AFC stat, one field per key that AFC returns. A stat sets only the fields whose
// keys the device returns. (The fields are not named after the keys: glibc's <sys/stat.h> defines
// st_mtime and friends as macros, which would rename them in any file that includes it.)
struct AfcFileInfo {
  int32_t linkCount = 0;            // "st_nlink"
  int32_t blockCount = 0;           // "st_blocks"
  int64_t sizeBytes = 0;            // "st_size"
  int64_t birthTimeSeconds = 0;     // "st_birthtime": nanoseconds on the wire, truncated to seconds
  int64_t modifiedTimeSeconds = 0;  // "st_mtime": as birthTimeSeconds
  std::string fileKind;             // "st_ifmt": "S_IFDIR", "S_IFREG", "S_IFLNK" ...
  std::string linkTarget;           // "LinkTarget", for links
};

// True when AFC knows the path; fills the record from the keys it returns (unknown keys ignored;
// numbers read like atoi and _atoi64, saturating).
[[nodiscard]] bool AfcGetFileInfo(AFCConnectionRef afc, const std::string& devicePath, AfcFileInfo* info);

// Appends the names in a device folder, without "." and "..", to *names (one AFC round trip for the
// whole folder); false when the folder cannot be listed.
[[nodiscard]] bool AfcListFolder(AFCConnectionRef afc, const std::string& devicePath, std::vector<std::string>* names);

// True when the path is a folder afterwards. Only the last component is created.
[[nodiscard]] bool AfcMakeDirectory(AFCConnectionRef afc, const std::string& devicePath);

// Removes a file or an empty folder; true when AFC answered success.
[[nodiscard]] bool AfcRemovePath(AFCConnectionRef afc, const std::string& devicePath);

// Removes a folder's contents recursively (files and sub-folders; links and other kinds stay), then
// the folder itself when `removeTop` or `nested` is set. True only when the folder itself was
// removed, so a call with both flags false empties the folder, keeps it and answers false. Entries
// whose names could address another path (empty, or holding '/') are left alone.
[[nodiscard]] bool AfcRemoveTree(AFCConnectionRef afc, const std::string& devicePath, bool removeTop, bool nested);

// Copies a PC file over the device path (created when missing). True when every byte was read and
// written; the device file then holds exactly the PC file's bytes. The device file is emptied
// first, so a shorter upload keeps no tail of the old one, and any failed read or write, or a failed
// close (a full device), answers false.
[[nodiscard]] bool AfcUploadFile(AFCConnectionRef afc, const std::string& pcPath, const std::string& devicePath);

// Copies a device file: with `pcPath`, into that PC file (created or truncated); without it, appended
// to *outText. True only when the whole file (its stat size) arrived and was stored: a PC file that
// cannot be made, a failed PC write or device data that stop short answer false. On failure a PC
// file that this call created is deleted
// (one that existed before stays, truncated or partly written: it may be a device node or a file of
// the user's) and *outText is put back to its length before the call. Both null is a caller error
// and answers false.
[[nodiscard]] bool AfcDownloadFile(AFCConnectionRef afc, const std::string& devicePath, const std::string* pcPath,
                                   std::string* outText);

// Appends the first bytes of a device file, at most `maxBytes` (fewer when the file is shorter), to
// *outText: enough to read a picture's header without the whole picture. False when the file cannot
// be opened or a read fails; *outText is then as it was.
[[nodiscard]] bool AfcReadFileStart(AFCConnectionRef afc, const std::string& devicePath, size_t maxBytes,
                                    std::string* outText);

// Copies a device folder recursively into a PC folder (created with every missing level). Regular
// files and folders are copied; links and other kinds are skipped. Names from the device are
// untrusted: an entry named "", "." or "..", or holding '/', '\' or NUL, is not copied. True when
// the folder and everything copyable below it arrived; false on the first level that fails to list,
// any entry that fails, any refused name, or nesting beyond kAfcMaxTreeDepth. Callers that only
// want what could be copied may ignore the result.
constexpr int kAfcMaxTreeDepth = 256;  // device paths are far shorter; deeper means a broken device
bool AfcDownloadTree(AFCConnectionRef afc, const std::string& deviceFolder, const std::string& pcFolder);

}  // namespace hlx
