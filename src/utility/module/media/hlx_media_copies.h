// What the media requests share: the local copies of a device's media files in its cache folder, the
// per-device locks around them, and the section packets (copies are opened through hlx_sqlite.h).
//
// Locks of one device (MediaCopies), in this order: the book mutex, then the files lock. A request
// copies under the files lock held exclusively and reads the copies (opens, queries, closes) under
// it held shared, so no copy is replaced under an open reader. Book imports and deletions hold the
// book mutex from the name draw to the list upload, so two of them never edit one list at once.
//
// Threads: any worker.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mobiledevice.h"
#include "utility/hlx_lock_order.h"
#include "utility/hlx_sqlite.h"

namespace hlx {

class FeatureRequest;

// Opens the device's file service on first use and keeps it for the request; null when it cannot
// be opened (the request answers 12).
using AfcOpener = std::function<AFCConnectionRef()>;

// The local copy steps. Each copies its main file(s) and then its side files.
enum class MediaCopy { kMediaLibrary, kLibrary, kITunesCdb, kRecordings, kBooksList, kPurchases };

// Local base names, which are also the keys of MediaCopies::paths.
inline constexpr char kMediaLibraryFile[] = "MediaLibrary.sqlitedb";
inline constexpr char kLibraryFile[] = "Library.itdb";
inline constexpr char kLocationsFile[] = "Locations.itdb";
inline constexpr char kITunesCdbFile[] = "iTunesCDB";
inline constexpr char kRecordingsFile[] = "Recordings.db";
inline constexpr char kBooksListFile[] = "Books.plist";
inline constexpr char kPurchasesFile[] = "Purchases.plist";

// The local copies of one device.
struct MediaCopies {
  Mutex bookMutex;
  SharedMutex filesLock HLX_ACQUIRED_AFTER(bookMutex);
  // Set when the copies are made, before any request sees them.
  std::string cacheFolder;  // ends in '/'
  // guards (by filesLock): paths, libraryInUse and the files in the cache folder
  // local base name -> local path of its last good copy
  std::map<std::string, std::string> paths HLX_GUARDED_BY(filesLock);
  // the library family copied last by 1000 or 1010
  MediaCopy libraryInUse HLX_GUARDED_BY(filesLock) = MediaCopy::kMediaLibrary;

  // The path of a file's last good copy, "" when there is none. Caller holds filesLock.
  std::string PathOf(const char* name) const HLX_REQUIRES_SHARED(filesLock);
};

// Copies one step's files from the device into the cache folder; the caller holds filesLock
// exclusively. The step's local side files are deleted first, so that an old -wal or -shm is never
// applied to a new main file. True when every main file arrived; on failure its main files' local
// copies are deleted and forgotten (a half-written copy is never opened later). The book lists
// record their path even when the download fails (a missing list then reads as absent).
[[nodiscard]] bool CopyMediaFiles(MediaCopies* copies, AFCConnectionRef afc, MediaCopy step)
    HLX_REQUIRES(copies->filesLock);

// A number in the "%g" form (six significant digits); non-finite values as 0.
std::string FormatG(double value);
// FormatDuration of the seconds as a string.
std::string DurationText(double seconds);

// One section: a count packet {"Count":N} (stage 0), then stage-1 packets whose data are JSON
// arrays of at most `batch` of the given object texts.
void SendSection(const FeatureRequest& request, uint32_t code, const std::vector<std::string_view>& objects,
                 size_t batch = 100);
void SendSection(const FeatureRequest& request, uint32_t code, const std::vector<std::string>& objects,
                 size_t batch = 100);

}  // namespace hlx
