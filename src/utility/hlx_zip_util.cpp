#include "utility/hlx_zip_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <minizip/zip.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

constexpr size_t kExtractBlockBytes = 8 * 1024;
constexpr size_t kCreateBlockBytes = 16 * 1024;
// An app's store metadata is a few kilobytes; a package that claims more is not read into memory.
constexpr uint64_t kMaxMetadataBytes = 16 * 1024 * 1024;
// Bit 11 of an entry's flags: its name is UTF-8.
constexpr uLong kUtf8NameFlag = 1 << 11;

const zlib_filefunc64_def& LocalFileTable() {
  static const zlib_filefunc64_def table = [] {
    zlib_filefunc64_def t{};
    fill_fopen64_filefunc(&t);
    return t;
  }();
  return table;
}

// The archive table's open: the path is UTF-16 (const char16_t*), the file system's paths UTF-8.
voidpf OpenUtf16Path(voidpf /*userData*/, const void* path, int mode) {
  if (path == nullptr) return nullptr;
  const std::string utf8 = WideToUtf8(static_cast<const char16_t*>(path));
  return LocalFileTable().zopen64_file(LocalFileTable().opaque, utf8.c_str(), mode);
}

zlib_filefunc64_def Utf16ArchiveTable() {
  zlib_filefunc64_def table = LocalFileTable();
  table.zopen64_file = OpenUtf16Path;
  return table;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// An entry's name as a path relative to the target folder, "" for the folder itself: archives made
// on Windows may separate with '\\', and "." components ("./a") name the same place, so both are
// normalised away; what is left is JoinInside's to check. False for an empty or absolute name or one
// with a drive letter.
bool EntryRelativePath(const std::string& name, std::string* out) {
  if (name.empty() || IsSeparator(name[0]) || (name.size() >= 2 && name[1] == ':')) return false;
  std::string& relative = *out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.compare(start, end - start, ".") != 0) {
      if (!relative.empty() && relative.back() != '/') relative += '/';
      relative.append(name, start, end - start);
    }
    start = end + 1;
  }
  return true;
}

void SetFileTimeFromDos(void* /*userData*/, const char* path, uint32_t /*dosDateTime*/, const tm_unz& date) {
  std::tm local{};
  local.tm_year = static_cast<int>(date.tm_year) - 1900;
  local.tm_mon = static_cast<int>(date.tm_mon);
  local.tm_mday = static_cast<int>(date.tm_mday);
  local.tm_hour = static_cast<int>(date.tm_hour);
  local.tm_min = static_cast<int>(date.tm_min);
  local.tm_sec = static_cast<int>(date.tm_sec);
  local.tm_isdst = -1;
  const time_t moment = mktime(&local);
  if (moment == static_cast<time_t>(-1)) return;
  const timespec times[2] = {{0, UTIME_OMIT}, {moment, 0}};
  utimensat(AT_FDCWD, path, times, 0);
}

int MakeFolderPath(void* /*userData*/, const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  std::string folder(path);
  if (IsSeparator(folder.back())) folder.pop_back();
  if (!folder.empty()) os::Os().createDirectories(folder);
  return 1;
}

uLong LocalDosDateTime(time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr || local.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01
  return (static_cast<uLong>(local.tm_year - 80) << 25) | (static_cast<uLong>(local.tm_mon + 1) << 21) |
         (static_cast<uLong>(local.tm_mday) << 16) | (static_cast<uLong>(local.tm_hour) << 11) |
         (static_cast<uLong>(local.tm_min) << 5) | static_cast<uLong>(local.tm_sec / 2);
}

bool HasNonAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Adds one file to the open archive; messages for what fails, never a failure of the whole archive.
void AddFileToZip(zipFile zip, const std::string& path, const std::string& listedName, std::vector<char>& buffer) {
  std::string name = listedName;
  if (name.empty()) {
    const size_t cut = path.find_last_of("\\/");
    name = cut == std::string::npos ? path : path.substr(cut + 1);
  }
  // The source is opened first, so that a file that cannot be read leaves no empty entry behind.
  std::unique_ptr<FILE, FileCloser> source(std::fopen(path.c_str(), "rb"));
  if (!source) {
    std::printf("error in opening %s for reading\n", path.c_str());
    return;
  }
  zip_fileinfo info{};
  struct stat status {};
  const bool large = fstat(fileno(source.get()), &status) == 0 && status.st_size >= 0xffffffffLL;
  if (status.st_mtime != 0) info.dosDate = LocalDosDateTime(status.st_mtime);
  if (zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                              HasNonAscii(name) ? kUtf8NameFlag : 0, large ? 1 : 0) != ZIP_OK) {
    std::printf("error in opening %s in zipfile\n", name.c_str());
    return;
  }
  bool writeFailed = false;
  for (;;) {
    const size_t count = std::fread(buffer.data(), 1, buffer.size(), source.get());
    if (count > 0 && zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(count)) < 0) {
      std::printf("error in writing %s in the zipfile\n", name.c_str());
      writeFailed = true;
      break;
    }
    if (count < buffer.size()) {
      if (std::ferror(source.get())) std::printf("error in reading %s\n", path.c_str());
      break;
    }
  }
  if (!writeFailed && zipCloseFileInZip(zip) != ZIP_OK)
    std::printf("error in closing %s in the zipfile\n", name.c_str());
}

}  // namespace

ZipUtil::ZipUtil() {
  archiveTable = Utf16ArchiveTable();
  outputTable = LocalFileTable();
  setFileTime = SetFileTimeFromDos;
  makeFolder = MakeFolderPath;
}

bool ZipUtil::ExtractToFolderW(const std::u16string& archivePath, const std::string& folder) {
  return Extract(archivePath.c_str(), folder, WideToUtf8(archivePath));
}

bool ZipUtil::ExtractToFolder(const std::string& archivePath, const std::string& folder) {
  return Extract(archivePath.c_str(), folder, archivePath);
}

bool ZipUtil::Extract(const void* archivePath, const std::string& folder, const std::string& shownPath) {
  std::string target = folder;
  if (target.empty() || !IsSeparator(target.back())) target += '/';
  unzFile zip = unzOpen2_64(archivePath, &archiveTable);
  if (zip == nullptr) {
    std::fprintf(stderr, "Cannot open %s\n", shownPath.c_str());
    return false;
  }
  if (makeFolder) makeFolder(outputTable.opaque, target.c_str());
  const bool extracted = ExtractAll(zip, target);
  unzClose(zip);
  return extracted;
}

bool ZipUtil::ExtractAll(unzFile zip, const std::string& folder) {
  unz_global_info64 global{};
  int error = unzGetGlobalInfo64(zip, &global);
  if (error != UNZ_OK) {
    std::printf("error %d with zipfile in unzGetGlobalInfo \n", error);
    return false;
  }
  std::vector<char> buffer(kExtractBlockBytes);
  for (ZPOS64_T index = 0; index < global.number_entry; ++index) {
    unz_file_info64 info{};
    error = unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    std::string name(info.size_filename, '\0');
    if (error == UNZ_OK) {
      error = unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
    }
    if (error != UNZ_OK) {
      std::printf("error %d with zipfile in unzGetCurrentFileInfo\n", error);
      return false;
    }
    std::string relative;
    std::string path;
    if (EntryRelativePath(name, &relative)) {
      path = relative.find_first_not_of('/') == std::string::npos ? folder : JoinInside(folder, relative);
    }
    if (path.empty()) {
      std::printf("refusing entry %s: its path leaves the target folder\n", name.c_str());
      return false;
    }
    if (IsSeparator(name.back())) {
      if (path.back() != '/') path += '/';
      if (makeFolder) makeFolder(outputTable.opaque, path.c_str());
    } else if (!ExtractCurrentEntry(zip, path, info, buffer.data(), buffer.size())) {
      return false;
    }
    if (index + 1 < global.number_entry) {
      error = unzGoToNextFile(zip);
      if (error != UNZ_OK) {
        std::printf("error %d with zipfile in unzGoToNextFile\n", error);
        return false;
      }
    }
  }
  return true;
}

bool ZipUtil::ExtractCurrentEntry(unzFile zip, const std::string& path, const unz_file_info64& info, char* buffer,
                                  size_t bufferSize) {
  int error = unzOpenCurrentFilePassword(zip, nullptr);
  if (error != UNZ_OK) {
    std::printf("error %d with zipfile in unzOpenCurrentFilePassword\n", error);
    unzCloseCurrentFile(zip);
    return false;
  }
  voidpf output = outputTable.zopen64_file(outputTable.opaque, path.c_str(), ZLIB_FILEFUNC_MODE_CREATE);
  const size_t cut = path.find_last_of('/');
  if (output == nullptr && cut != std::string::npos && makeFolder) {
    makeFolder(outputTable.opaque, path.substr(0, cut).c_str());
    output = outputTable.zopen64_file(outputTable.opaque, path.c_str(), ZLIB_FILEFUNC_MODE_CREATE);
  }
  if (output == nullptr) {
    std::printf("error opening %s\n", path.c_str());
    error = unzCloseCurrentFile(zip);
    if (error != UNZ_OK) {
      std::printf("error %d with zipfile in unzCloseCurrentFile\n", error);
      return false;
    }
    return true;  // skipped; the extraction goes on
  }
  bool copyFailed = false;
  uint64_t copied = 0;
  for (;;) {
    const int count = unzReadCurrentFile(zip, buffer, static_cast<unsigned>(bufferSize));
    if (count == 0) {
      // minizip checks the CRC only of an entry read to its announced end; a damaged stream that ends
      // early would otherwise pass as a shorter file.
      if (copied != info.uncompressed_size) {
        std::printf("error in extracted size of %s\n", path.c_str());
        copyFailed = true;
      }
      break;
    }
    if (count < 0) {
      std::printf("error %d with zipfile in unzReadCurrentFile\n", count);
      copyFailed = true;
      break;
    }
    if (outputTable.zwrite_file(outputTable.opaque, output, buffer, static_cast<uLong>(count)) !=
        static_cast<uLong>(count)) {
      std::printf("error in writing extracted file\n");
      copyFailed = true;
      break;
    }
    copied += static_cast<uint64_t>(count);
  }
  outputTable.zclose_file(outputTable.opaque, output);
  if (copyFailed) {
    unzCloseCurrentFile(zip);
    return false;
  }
  if (setFileTime) setFileTime(outputTable.opaque, path.c_str(), static_cast<uint32_t>(info.dosDate), info.tmu_date);
  // Closing checks the entry's CRC: a damaged entry fails here.
  error = unzCloseCurrentFile(zip);
  if (error != UNZ_OK) {
    std::printf("error %d with zipfile in unzCloseCurrentFile\n", error);
    return false;
  }
  return true;
}

void ZipUtil::ListFilesRecursive(const std::string& folder, const char* base, ZipFileList* files) {
  std::string prefix = folder;
  if (prefix.empty() || !IsSeparator(prefix.back())) prefix += '/';
  std::string basePrefix = base != nullptr ? base : folder;
  if (basePrefix.empty() || !IsSeparator(basePrefix.back())) basePrefix += '/';

  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(prefix.c_str()), closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = prefix + entry->d_name;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      ListFilesRecursive(path, basePrefix.c_str(), files);
    } else if (S_ISREG(status.st_mode)) {
      (*files)[path] = path.size() > basePrefix.size() ? path.substr(basePrefix.size()) : std::string();
    }
  }
}

bool CreateZipFromFolder(const ZipFileList& files, const std::string& archivePath, const char* excludedExtensions) {
  zlib_filefunc64_def table = LocalFileTable();
  zipFile zip = zipOpen2_64(archivePath.c_str(), APPEND_STATUS_CREATE, nullptr, &table);
  if (zip == nullptr) {
    std::printf("error opening %s\n", archivePath.c_str());
    return false;
  }
  std::vector<char> buffer(kCreateBlockBytes);
  for (const auto& [path, name] : files) {
    if (excludedExtensions != nullptr && HasExtensionInList(path, excludedExtensions)) continue;
    AddFileToZip(zip, path, name, buffer);
  }
  if (zipClose(zip, nullptr) != ZIP_OK) {
    std::printf("error in closing %s\n", archivePath.c_str());
    return false;
  }
  return true;
}

bool HasExtensionInList(const std::string& path, const char* list) {
  const size_t dot = path.rfind('.');
  if (list == nullptr || dot == std::string::npos) return false;
  std::string key = ";" + path.substr(dot) + ";";
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::strstr(list, key.c_str()) != nullptr;
}

std::string ReadIpaMetadata(const std::u16string& archivePath) {
  zlib_filefunc64_def table = Utf16ArchiveTable();
  std::unique_ptr<void, int (*)(unzFile)> zip(unzOpen2_64(archivePath.c_str(), &table), unzClose);
  if (!zip) return std::string();
  unz_file_info64 info{};
  if (unzLocateFile(zip.get(), "iTunesMetadata.plist", 1) != UNZ_OK ||
      unzGetCurrentFileInfo64(zip.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      info.uncompressed_size > kMaxMetadataBytes || unzOpenCurrentFile(zip.get()) != UNZ_OK) {
    return std::string();
  }
  std::string bytes;
  std::vector<char> buffer(kCreateBlockBytes);
  int count;
  while ((count = unzReadCurrentFile(zip.get(), buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    bytes.append(buffer.data(), static_cast<size_t>(count));
    if (bytes.size() > kMaxMetadataBytes) count = -1;  // the header understated the size
    if (count < 0) break;
  }
  if (unzCloseCurrentFile(zip.get()) != UNZ_OK || count < 0) return std::string();
  return bytes;
}

}  // namespace hlx
