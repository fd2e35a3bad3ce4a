// Free functions that the service's modules share: JSON text, the MD5 of a file, base64, size, date
// and duration texts, the service's folders, zlib compression of reply and request data, regular
// expressions (one registered as the SQL function "regexp") and version texts. Downloads stand in
// hlx_download.h, process functions in hlx_process_util.h.
//
// They keep no state of their own: every function is safe to call from any thread at the same time.
// They report failure through their result (empty text, 0, false) and never throw; GetFileMd5 also
// prints its failure lines to standard output. Paths are UTF-8 with '/' separators.
// Functions that return char* give a NUL-terminated string from malloc: free it (hlx::FreeDeleter).
#pragma once

#include <rapidjson/fwd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace hlx {

// ---- JSON ------------------------------------------------------------------------------------

// The compact JSON text of a value (no blanks).
std::string JsonValueToString(const rapidjson::Value& value);

// ---- Hash and base64 -------------------------------------------------------------------------

// The MD5 of a file's contents as 32 lower-case hexadecimal digits, or "" on any failure. Failures
// print to standard output: "Error opening file %s\nError: %d\n" (path, errno), "ReadFile failed:
// %d\n" (errno), and for the hash steps the lines "CryptAcquireContext failed: %d\n",
// "CryptCreateHash failed: %d\n", "CryptHashData failed: %d\n", "CryptGetHashParam failed: %d\n"
// (OpenSSL error code), keeping the texts that the service's console shows on every platform.
std::string GetFileMd5(const std::string& path);

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string Base64Encode(const void* data, size_t length);
// Decodes base64; line breaks and blanks between groups are skipped. False on any other character
// or a bad length, with `out` emptied.
[[nodiscard]] bool Base64Decode(const std::string& text, std::string& out);

// ---- Sizes, dates and durations --------------------------------------------------------------

// "%.2f B" below 1024 bytes, "%.2f KB" below 1024^2, "%.2f MB" below 1024^3, else "%.2f GB".
std::string FormatByteSize(uint64_t byteCount);

// Local-time texts are "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" in the time zone in force (TZ). Moments are
// accepted from 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC, the range of the Windows
// runtime's 64-bit time conversion; the time texts of the device data were made for that range.
constexpr int64_t kMaxLocalTimeSeconds = 32535215999;  // 3000-12-31 23:59:59 UTC, Unix seconds
constexpr int64_t kAppleEpochUnixSeconds = 978307200;  // 2001-01-01 00:00:00 UTC

// A UTC time "YYYY-MM-DDThh:mm:ss..." (at least 19 characters; fields at offsets 0, 5, 8, 11, 14,
// 17, each read like atoi) as local-time text (malloc). Null, a shorter text, or a moment outside
// the accepted range gives a malloc'ed "". Out-of-range fields are normalised (month 13 is
// January).
char* UtcTextToLocalText(const char* utcText);
// As UtcTextToLocalText, but moments before 1970 (from the year 1 on) are converted too: record
// fields such as birthdays reach far back, and the Windows runtime's range would show most
// birthdays as "". "" for a text that UtcTextToLocalText would not read or a moment beyond the range.
std::string UtcTextToLocalDateText(const std::string& utcText);

// Seconds since 2001-01-01 00:00:00 UTC as local-time text (malloc). A count that is negative when
// read as signed counts as 0. A count whose moment lies beyond the accepted range is taken as
// nanoseconds instead; when that fails too, the result is a malloc'ed "".
char* AppleTimeToLocalText(uint64_t appleEpochCount);

// Seconds rounded to the nearest whole second (half up) as "%.2d:%.2d:%.2d" (hours, minutes,
// seconds) from one hour on, else "%.2d:%.2d"; in a malloc'ed 16-byte buffer. Negative values and
// NaN count as 0; a text longer than 15 characters (more than 999,999,999 hours, infinity included)
// is cut to 15.
char* FormatDuration(double seconds);

// ---- Folders and paths -----------------------------------------------------------------------

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

// `start` plus the sizes of all regular files under the folder, recursively (the apparent size: a
// sparse file counts whole). Symbolic links are neither counted nor followed; a folder that cannot
// be listed adds nothing.
uint64_t GetFolderSize(const std::string& folder, uint64_t start);

// A path that does not exist yet: the path itself when free, else the first free of
// folder/stem(n).extension for n = 1..999 (the extension from the file name's last '.'). When the
// file name has no '.' but a folder name has one, the counter goes after the file name:
// folder/name(n). Without any '.', without any '/', or when all 999 are taken, the path as given.
std::string MakeUniqueLocalPath(const std::string& path);

// AppleMobileBackup.exe in the layout of a PC's program files folder: $HLX_PROGRAM_FILES stands
// for that folder (default /opt, when unset or empty; the device library's binding uses the same
// root), followed by "/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe".
std::string GetAppleMobileBackupPath();

// ---- zlib ------------------------------------------------------------------------------------

// Appends the zlib-format compression (level 9, window bits 15) of `length` bytes to `out`. True on
// success; on failure `out` may hold a partial stream.
[[nodiscard]] bool ZlibCompress(std::string& out, const void* data, size_t length);
// Appends the inflated bytes of zlib-format data to `out`. False for corrupt or truncated data
// (after appending what could be inflated); bytes after the end of the stream are ignored.
[[nodiscard]] bool ZlibDecompress(std::string& out, const void* data, size_t length);

// ---- Regular expressions and versions --------------------------------------------------------
// std::regex, ECMAScript grammar. A pattern that does not compile (or a match that exhausts the
// engine) is a failure, never an exception.

// Whether the whole text matches; false for a bad pattern.
bool RegexMatch(const std::string& text, const std::string& pattern);
// The text with every match replaced (ECMAScript format rules: $&, $1 ...); the text unchanged for
// a bad pattern.
std::string RegexReplaceAll(const std::string& text, const std::string& pattern,
                            const std::string& replacement);
// Every match of "Z_[0-9]+ASSETS" in the text, in order.
std::vector<std::string> FindAssetsTableNames(const std::string& text);

// The SQL function regexp(pattern, text), so that X REGEXP Y is regexp(Y, X): 1 when the pattern
// is found anywhere in the text, else 0. Both are upper-cased byte by byte first, so ASCII letters
// compare without regard to case (note that this also turns escapes such as \d into \D). A count
// other than 2, or an empty or NULL argument, gives the SQL error "SQL function regexp() called
// with invalid arguments.\n"; a pattern that does not compile gives an SQL error too. The compiled
// pattern is kept for the statement while the pattern argument stays the same.
void SqlRegexp(sqlite3_context* context, int argumentCount, sqlite3_value** arguments);
// Registers SqlRegexp as "regexp" with two arguments on a connection; the SQLite result code.
[[nodiscard]] int RegisterSqlRegexp(sqlite3* db);

// Compares dotted version texts number by number: -1, 0 or 1 ("9.3.1" > "9.3" == "9.3"). Null sorts
// below any text.
int CompareVersionStrings(const char* a, const char* b);

// The known iOS majors 4..10 in the order in which the photo module tries its schemas for a device
// version: the device's own major (or the largest known below it) first, then the larger majors
// ascending, then the smaller ones descending. "9.3" gives 9, 10, 8, 7, 6, 5, 4; below 4 (and null)
// gives 4..10; from 10 on gives 10..4. A version of major 4 gives 4 first (4, 5, ..., 10), by that
// same rule; the Windows program put 4 last in that one case.
std::vector<int> OrderMajorVersionsFor(const char* version);

}  // namespace hlx
