// Shared utilities: JSON text, MD5 and base64 (OpenSSL EVP), size/date/duration texts, the
// service's folders, zlib, regular expressions and versions. Processes and time zones are reached
// through the OS layer. No state of its own; any thread.
#include "utility/hlx_util.h"

#include "os/hlx_os.h"
#include "utility/hlx_startup_state.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sqlite3.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>

namespace hlx {
namespace {

namespace fs = std::filesystem;

// Reads a number as atoi does (leading blanks, a sign, digits; anything else ends it), clamped to
// the int range instead of atoi's undefined overflow.
int ReadLeadingInt(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    ++text;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

char* MallocText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// 0001-01-01 00:00:00 UTC in Unix seconds: the first moment that "%.4d" writes as four digits.
constexpr int64_t kFirstYearOneSeconds = -62135596800;

// "YYYY-MM-DD hh:mm:ss" of a Unix moment in local time, or "" outside the accepted range (from
// `firstSeconds`, 1970 unless a caller reaches further back, to kMaxLocalTimeSeconds).
std::string LocalTimeText(int64_t unixSeconds, int64_t firstSeconds = 0) {
  if (unixSeconds < firstSeconds || unixSeconds > kMaxLocalTimeSeconds) return {};
  std::tm local{};
  if (!os::Os().localTime(unixSeconds, &local)) return {};
  char text[64];
  std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to the first of a month of the proleptic Gregorian calendar (month 1..12).
int64_t DaysFromCivil(int64_t year, int64_t month) {
  year -= month <= 2;
  int64_t era = FloorDiv(year, 400);
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The folder that start-up made for logs, or the temporary path before start-up set it; no
// trailing '/'.
std::string LogFolderOrTemp() {
  const std::string& logFolder = GetStartupState().logFolder;
  if (!logFolder.empty()) return logFolder;
  std::string temp = os::Os().tempPath();
  while (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  return temp;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool PathExists(const std::string& path) {
  std::error_code error;
  // lstat: a dangling symbolic link is taken, so a writer never follows it to somewhere else.
  return fs::exists(fs::symlink_status(path, error));
}

void AppendUpperAscii(const unsigned char* text, int length, std::string* out) {
  out->reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    unsigned char c = text[i];
    out->push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  }
}

void DeleteRegex(void* regex) { delete static_cast<std::regex*>(regex); }

struct EvpContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

struct FdCloser {
  void operator()(int* fd) const {
    if (*fd >= 0) close(*fd);
  }
};

}  // namespace

// ---- JSON ------------------------------------------------------------------------------------

std::string JsonValueToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer(nullptr, 256);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  // The writer refuses NaN and infinity; a half-written text would not be JSON.
  if (!value.Accept(writer)) return {};
  return std::string(buffer.GetString(), buffer.GetSize());
}

// ---- Hash and base64 -------------------------------------------------------------------------

std::string GetFileMd5(const std::string& path) {
  // Non-blocking open: a FIFO without a writer must not hold the caller for ever.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    std::printf("Error opening file %s\nError: %d\n", path.c_str(), errno);
    return {};
  }
  std::unique_ptr<int, FdCloser> fdGuard(&fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  std::unique_ptr<EVP_MD_CTX, EvpContextDeleter> context(EVP_MD_CTX_new());
  if (!context) {
    std::printf("CryptAcquireContext failed: %d\n", static_cast<int>(ERR_get_error()));
    return {};
  }
  if (EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
    std::printf("CryptCreateHash failed: %d\n", static_cast<int>(ERR_get_error()));
    return {};
  }
  std::vector<unsigned char> block(64 * 1024);
  for (;;) {
    ssize_t n = read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::printf("ReadFile failed: %d\n", errno);
      return {};
    }
    if (n == 0) break;
    if (EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(n)) != 1) {
      std::printf("CryptHashData failed: %d\n", static_cast<int>(ERR_get_error()));
      return {};
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &digestLength) != 1 || digestLength != 16) {
    std::printf("CryptGetHashParam failed: %d\n", static_cast<int>(ERR_get_error()));
    return {};
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < digestLength; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return hex;
}

std::string Base64Encode(const void* data, size_t length) {
  // EVP_EncodeBlock takes an int length: encode in whole groups of three bytes.
  constexpr size_t kChunk = 3 * 1024 * 1024;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  std::vector<unsigned char> encoded(kChunk / 3 * 4 + 1);
  for (size_t offset = 0; offset < length; offset += kChunk) {
    size_t chunk = std::min(kChunk, length - offset);
    int written = EVP_EncodeBlock(encoded.data(), bytes + offset, static_cast<int>(chunk));
    out.append(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(written));
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    bool inAlphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '+' || c == '/' || c == '=';
    if (!inAlphabet) return false;
    compact += c;
  }
  if (compact.size() % 4 != 0) return false;
  size_t padding = 0;
  while (padding < 2 && padding < compact.size() && compact[compact.size() - 1 - padding] == '=') {
    ++padding;
  }
  // '=' only as the last one or two characters.
  if (compact.find('=') < compact.size() - padding) return false;
  constexpr size_t kChunk = 4 * 1024 * 1024;  // whole groups of four characters
  std::vector<unsigned char> decoded(kChunk / 4 * 3);
  for (size_t offset = 0; offset < compact.size(); offset += kChunk) {
    size_t chunk = std::min(kChunk, compact.size() - offset);
    int written = EVP_DecodeBlock(decoded.data(),
                                  reinterpret_cast<const unsigned char*>(compact.data() + offset),
                                  static_cast<int>(chunk));
    if (written < 0) {
      out.clear();
      return false;
    }
    out.append(reinterpret_cast<const char*>(decoded.data()), static_cast<size_t>(written));
  }
  // EVP_DecodeBlock writes a zero byte for each '='.
  out.resize(out.size() - padding);
  return true;
}

// ---- Sizes, dates and durations --------------------------------------------------------------

std::string FormatByteSize(uint64_t byteCount) {
  constexpr uint64_t kKilo = 1024;
  double count = static_cast<double>(byteCount);
  char text[64];
  if (byteCount < kKilo) {
    std::snprintf(text, sizeof(text), "%.2f B", count);
  } else if (byteCount < kKilo * kKilo) {
    std::snprintf(text, sizeof(text), "%.2f KB", count / kKilo);
  } else if (byteCount < kKilo * kKilo * kKilo) {
    std::snprintf(text, sizeof(text), "%.2f MB", count / (kKilo * kKilo));
  } else {
    std::snprintf(text, sizeof(text), "%.2f GB", count / (kKilo * kKilo * kKilo));
  }
  return text;
}

// The Unix seconds of a UTC time text "YYYY-MM-DDThh:mm:ss..." (at least 19 characters); false for
// a shorter text.
static bool UtcTextToUnixSeconds(const char* utcText, int64_t* unixSeconds) {
  if (utcText == nullptr || strnlen(utcText, 19) < 19) return false;
  int64_t year = ReadLeadingInt(utcText);
  int64_t month = ReadLeadingInt(utcText + 5);
  int64_t day = ReadLeadingInt(utcText + 8);
  int64_t hour = ReadLeadingInt(utcText + 11);
  int64_t minute = ReadLeadingInt(utcText + 14);
  int64_t second = ReadLeadingInt(utcText + 17);
  // Out-of-range fields carry over as the runtime's UTC conversion normalises them.
  int64_t monthIndex = month - 1;
  year += FloorDiv(monthIndex, 12);
  monthIndex -= FloorDiv(monthIndex, 12) * 12;
  int64_t days = DaysFromCivil(year, monthIndex + 1) + (day - 1);
  *unixSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

char* UtcTextToLocalText(const char* utcText) {
  int64_t unixSeconds = 0;
  if (!UtcTextToUnixSeconds(utcText, &unixSeconds)) return MallocText("");
  return MallocText(LocalTimeText(unixSeconds));
}

std::string UtcTextToLocalDateText(const std::string& utcText) {
  int64_t unixSeconds = 0;
  if (!UtcTextToUnixSeconds(utcText.c_str(), &unixSeconds)) return {};
  return LocalTimeText(unixSeconds, kFirstYearOneSeconds);
}

char* AppleTimeToLocalText(uint64_t appleEpochCount) {
  int64_t count = static_cast<int64_t>(appleEpochCount);
  if (count < 0) count = 0;
  std::string text;
  if (count <= kMaxLocalTimeSeconds - kAppleEpochUnixSeconds) {
    text = LocalTimeText(count + kAppleEpochUnixSeconds);
  }
  // Some device records hold nanoseconds in the same field.
  if (text.empty()) text = LocalTimeText(count / 1000000000 + kAppleEpochUnixSeconds);
  return MallocText(text);
}

char* FormatDuration(double seconds) {
  constexpr size_t kBufferBytes = 16;
  auto* text = static_cast<char*>(std::calloc(kBufferBytes, 1));
  if (text == nullptr) return nullptr;
  double rounded = std::floor(seconds + 0.5);
  long long total = 0;  // NaN and negative values stay 0
  if (rounded >= 9.0e18) {
    total = 9000000000000000000LL;
  } else if (rounded > 0) {
    total = static_cast<long long>(rounded);
  }
  long long hours = total / 3600;
  int minutes = static_cast<int>(total % 3600 / 60);
  int secs = static_cast<int>(total % 60);
  // Callers expect 16 bytes: what does not fit is cut.
  char full[64];
  if (hours > 0) {
    std::snprintf(full, sizeof(full), "%.2lld:%.2d:%.2d", hours, minutes, secs);
  } else {
    std::snprintf(full, sizeof(full), "%.2d:%.2d", minutes, secs);
  }
  std::memcpy(text, full, std::min(std::strlen(full), kBufferBytes - 1));
  return text;
}

// ---- Folders and paths -----------------------------------------------------------------------

std::string GetModuleFilePath() { return os::Os().programPath(); }

std::string GetProgramFileName() {
  std::string path = GetModuleFilePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetProcessTempFolder(bool create) {
  std::string folder = LogFolderOrTemp() + "/" + GetProgramFileName() + "-" +
                       std::to_string(os::Os().currentProcessId()) + "/";
  if (create) os::Os().createDirectories(WithoutTrailingSlashes(folder));
  return folder;
}

std::string CreateTempSubfolder(const std::string& name) {
  std::string folder = GetProcessTempFolder(false) + name + "/";
  os::Os().createDirectories(WithoutTrailingSlashes(folder));
  return folder;
}

bool DeleteProcessTempFolder() {
  std::string folder = GetProcessTempFolder(false);
  return DeleteDirectoryTree(folder);
}

bool DeleteDirectoryTree(std::string& path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
  // The OS layer refuses empty, relative and root paths.
  bool deleted = os::Os().deleteTree(path);
  path.clear();
  return deleted;
}

std::string GetBackupRootFolder() {
  std::string appData;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (config != nullptr && config[0] == '/') {
    appData = config;
  } else if (home != nullptr && home[0] != '\0') {
    appData = WithoutTrailingSlashes(home) + "/.config";
  } else {
    return {};
  }
  appData = WithoutTrailingSlashes(appData);
  if (appData == "/") appData.clear();
  return appData + "/Apple Computer/MobileSync/Backup/";
}

std::string GetDriverDownloadFolder() {
  std::string folder = LogFolderOrTemp() + "/ios_driver/";
  os::Os().createDirectories(WithoutTrailingSlashes(folder));
  return folder;
}

bool IsDotOrDotDot(const char* name) {
  return name != nullptr && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0);
}

uint64_t GetFolderSize(const std::string& folder, uint64_t start) {
  uint64_t total = start;
  // An explicit stack instead of recursion: a deep tree must not exhaust a worker's stack.
  std::vector<fs::path> pending{fs::path(folder)};
  while (!pending.empty()) {
    fs::path current = std::move(pending.back());
    pending.pop_back();
    std::error_code error;
    fs::directory_iterator entry(current, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
      std::error_code entryError;
      fs::file_status status = entry->symlink_status(entryError);
      if (entryError) continue;
      if (fs::is_directory(status)) {
        pending.push_back(entry->path());
      } else if (fs::is_regular_file(status)) {
        uintmax_t size = entry->file_size(entryError);
        if (!entryError) total += size;
      }
    }
  }
  return total;
}

std::string MakeUniqueLocalPath(const std::string& path) {
  if (!PathExists(path)) return path;
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || slash == std::string::npos) return path;
  std::string folder = path.substr(0, slash + 1);
  std::string stem;
  std::string extension;
  if (dot > slash) {
    stem = path.substr(slash + 1, dot - slash - 1);
    extension = path.substr(dot);
  } else {
    // Only a folder name holds the dot: the file name has no extension, and the counter follows it.
    stem = path.substr(slash + 1);
  }
  for (int n = 1; n <= 999; ++n) {
    std::string candidate = folder + stem + "(" + std::to_string(n) + ")" + extension;
    if (!PathExists(candidate)) return candidate;
  }
  return path;
}

std::string GetAppleMobileBackupPath() {
  const char* root = std::getenv("HLX_PROGRAM_FILES");
  std::string folder = (root != nullptr && root[0] != '\0') ? root : "/opt";
  folder = WithoutTrailingSlashes(folder);
  if (folder == "/") folder.clear();
  return folder + "/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe";
}

// ---- zlib ------------------------------------------------------------------------------------

namespace {

// zlib counts input in 32-bit units: larger inputs are fed in steps.
constexpr size_t kZlibInputStep = size_t{1} << 30;
constexpr size_t kZlibWindowBytes = 16 * 1024;

struct DeflateEnder {
  void operator()(z_stream* stream) const { deflateEnd(stream); }
};
struct InflateEnder {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// Feeds all input and appends every output window until `step` (deflate or inflate, told whether
// the last input is in) returns anything but Z_OK; that code is returned.
template <typename Step>
int PumpZlib(z_stream* stream, const void* data, size_t length, std::string& out, Step step) {
  const auto* next = static_cast<const unsigned char*>(data);
  size_t left = length;
  unsigned char window[kZlibWindowBytes];
  int code;
  do {
    if (stream->avail_in == 0 && left != 0) {
      size_t chunk = std::min(left, kZlibInputStep);
      stream->next_in = const_cast<Bytef*>(next);
      stream->avail_in = static_cast<uInt>(chunk);
      next += chunk;
      left -= chunk;
    }
    stream->next_out = window;
    stream->avail_out = sizeof(window);
    code = step(left == 0);
    out.append(reinterpret_cast<const char*>(window), sizeof(window) - stream->avail_out);
  } while (code == Z_OK);
  return code;
}

}  // namespace

bool ZlibCompress(std::string& out, const void* data, size_t length) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  if (deflateInit2(&stream, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::unique_ptr<z_stream, DeflateEnder> ender(&stream);
  try {
    return PumpZlib(&stream, data, length, out, [&stream](bool lastInput) {
             return deflate(&stream, lastInput ? Z_FINISH : Z_NO_FLUSH);
           }) == Z_STREAM_END;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ZlibDecompress(std::string& out, const void* data, size_t length) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  if (inflateInit(&stream) != Z_OK) return false;
  std::unique_ptr<z_stream, InflateEnder> ender(&stream);
  try {
    // Once the input is used up without the stream's end, inflate reports Z_BUF_ERROR: the pump
    // stops there for truncated data.
    return PumpZlib(&stream, data, length, out,
                    [&stream](bool) { return inflate(&stream, Z_NO_FLUSH); }) == Z_STREAM_END;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// ---- Regular expressions and versions --------------------------------------------------------

bool RegexMatch(const std::string& text, const std::string& pattern) {
  try {
    return std::regex_match(text, std::regex(pattern));
  } catch (const std::exception&) {  // std::regex_error for a bad pattern, std::bad_alloc
    return false;
  }
}

std::string RegexReplaceAll(const std::string& text, const std::string& pattern,
                            const std::string& replacement) {
  try {
    return std::regex_replace(text, std::regex(pattern), replacement);
  } catch (const std::exception&) {
    return text;
  }
}

std::vector<std::string> FindAssetsTableNames(const std::string& text) {
  std::vector<std::string> names;
  try {
    static const std::regex kAssetsTable("Z_[0-9]+ASSETS");
    for (std::sregex_iterator match(text.begin(), text.end(), kAssetsTable), end; match != end;
         ++match) {
      names.push_back(match->str());
    }
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

void SqlRegexp(sqlite3_context* context, int argumentCount, sqlite3_value** arguments) {
  static const char kInvalidArguments[] = "SQL function regexp() called with invalid arguments.\n";
  // A callback from SQLite's C code: nothing may be thrown out of it.
  try {
    if (argumentCount != 2) {
      sqlite3_result_error(context, kInvalidArguments, -1);
      return;
    }
    const unsigned char* pattern = sqlite3_value_text(arguments[0]);
    int patternBytes = sqlite3_value_bytes(arguments[0]);
    const unsigned char* text = sqlite3_value_text(arguments[1]);
    int textBytes = sqlite3_value_bytes(arguments[1]);
    if (pattern == nullptr || text == nullptr || patternBytes <= 0 || textBytes <= 0) {
      sqlite3_result_error(context, kInvalidArguments, -1);
      return;
    }
    // The compiled pattern is kept as the pattern argument's auxiliary data, so a query over many
    // rows compiles it once.
    auto* cached = static_cast<std::regex*>(sqlite3_get_auxdata(context, 0));
    std::unique_ptr<std::regex> compiled;
    if (cached == nullptr) {
      std::string upperPattern;
      AppendUpperAscii(pattern, patternBytes, &upperPattern);
      try {
        compiled = std::make_unique<std::regex>(upperPattern);
      } catch (const std::regex_error&) {
        sqlite3_result_error(context, "SQL function regexp() called with an invalid pattern.\n",
                             -1);
        return;
      }
      cached = compiled.get();
    }
    std::string upperText;
    AppendUpperAscii(text, textBytes, &upperText);
    bool found = std::regex_search(upperText, *cached);
    sqlite3_result_int(context, found ? 1 : 0);
    // SQLite may run the destructor before set_auxdata returns: the regex is not used after it.
    if (compiled) sqlite3_set_auxdata(context, 0, compiled.release(), DeleteRegex);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception&) {
    sqlite3_result_error(context, "SQL function regexp() failed.\n", -1);
  }
}

int RegisterSqlRegexp(sqlite3* db) {
  return sqlite3_create_function_v2(db, "regexp", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                    SqlRegexp, nullptr, nullptr, nullptr);
}

int CompareVersionStrings(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a != nullptr ? 1 : (b != nullptr ? -1 : 0);
  for (;;) {
    int left = ReadLeadingInt(a);
    int right = ReadLeadingInt(b);
    if (left != right) return left > right ? 1 : -1;
    const char* nextA = std::strchr(a, '.');
    const char* nextB = std::strchr(b, '.');
    if (nextA == nullptr) return nextB != nullptr ? -1 : 0;
    if (nextB == nullptr) return 1;
    a = nextA + 1;
    b = nextB + 1;
  }
}

std::vector<int> OrderMajorVersionsFor(const char* version) {
  static constexpr int kKnownMajors[] = {4, 5, 6, 7, 8, 9, 10};
  // ReadLeadingInt stops at the first '.', so it reads the major.
  int major = version != nullptr ? ReadLeadingInt(version) : INT_MIN;
  std::vector<int> collected;  // known majors up to and including the device's, ascending
  std::vector<int> above;      // known majors above it, ascending
  for (int known : kKnownMajors) (known <= major ? collected : above).push_back(known);
  std::vector<int> order;
  if (!collected.empty()) {
    order.push_back(collected.back());
    collected.pop_back();
  }
  order.insert(order.end(), above.begin(), above.end());
  order.insert(order.end(), collected.rbegin(), collected.rend());
  return order;
}

}  // namespace hlx
