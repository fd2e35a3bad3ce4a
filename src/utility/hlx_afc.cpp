// AFC operations through the binding; PC files through stdio, folders through the OS layer.
#include "utility/hlx_afc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// An open device file; closed on every path that does not close it explicitly.
class AfcOpenFile {
 public:
  AfcOpenFile(AFCConnectionRef afc, AFCFileRef file) : m_afc(afc), m_file(file) {}
  ~AfcOpenFile() {
    if (m_open) (void)Md().AFCFileRefClose(m_afc, m_file);
  }
  AfcOpenFile(const AfcOpenFile&) = delete;
  AfcOpenFile& operator=(const AfcOpenFile&) = delete;
  AFCFileRef get() const { return m_file; }
  // The close's own result: a close can report a write that the device did not complete.
  [[nodiscard]] bool Close() {
    m_open = false;
    return Md().AFCFileRefClose(m_afc, m_file) == kAFCSuccess;
  }

 private:
  AFCConnectionRef m_afc;
  AFCFileRef m_file;
  bool m_open = true;
};

int32_t ReadInt32(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int64_t ReadInt64(const char* text) { return static_cast<int64_t>(std::strtoll(text, nullptr, 10)); }

constexpr int64_t kNanosecondsPerSecond = 1000000000;

std::string JoinDevicePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The entries of a device folder without "." and "..". The listing is read whole and the folder
// closed before the caller removes or copies anything, so no removal happens under an open listing.
bool ListDeviceFolder(AFCConnectionRef afc, const std::string& path, std::vector<std::string>* names) {
  CMobileExportFun& md = Md();
  AFCDirectoryRef directory = nullptr;
  if (md.AFCDirectoryOpen(afc, path.c_str(), &directory) != kAFCSuccess || directory == nullptr) return false;
  std::shared_ptr<afc_directory> holder(directory, [afc](AFCDirectoryRef d) { (void)Md().AFCDirectoryClose(afc, d); });
  char* entry = nullptr;
  while (md.AFCDirectoryRead(afc, directory, &entry) == kAFCSuccess && entry != nullptr) {
    std::string name(entry);
    if (name == "." || name == "..") continue;
    names->push_back(std::move(name));
  }
  return true;
}

bool RemoveTree(AFCConnectionRef afc, const std::string& path, bool removeTop, bool nested, int depth) {
  if (depth > kAfcMaxTreeDepth) return false;
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, path, &info) || info.fileKind != "S_IFDIR") return false;
  std::vector<std::string> names;
  if (!ListDeviceFolder(afc, path, &names)) return false;
  for (const std::string& name : names) {
    if (!IsPlainChildName(name, PathSide::kDevice)) continue;
    const std::string child = JoinDevicePath(path, name);
    AfcFileInfo childInfo;
    if (!AfcGetFileInfo(afc, child, &childInfo)) continue;
    if (childInfo.fileKind == "S_IFDIR") {
      (void)RemoveTree(afc, child, removeTop, true, depth + 1);
    } else if (childInfo.fileKind == "S_IFREG") {
      (void)AfcRemovePath(afc, child);
    }
  }
  if (removeTop || nested) return AfcRemovePath(afc, path);
  return false;
}

bool DownloadTree(AFCConnectionRef afc, const std::string& deviceFolder, const std::string& pcFolder, int depth) {
  if (depth > kAfcMaxTreeDepth) {
    HLX_LOG(WARNING) << "AFC folder copy: nesting beyond " << kAfcMaxTreeDepth << " levels refused";
    return false;
  }
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, deviceFolder, &info) || info.fileKind != "S_IFDIR") return false;
  std::string pcBase = pcFolder;
  while (pcBase.size() > 1 && pcBase.back() == '/') pcBase.pop_back();
  if (pcBase.empty() || !os::Os().createDirectories(pcBase)) return false;
  if (pcBase != "/") pcBase += '/';
  std::vector<std::string> names;
  if (!ListDeviceFolder(afc, deviceFolder, &names)) return false;
  bool complete = true;
  for (const std::string& name : names) {
    if (!IsPlainChildName(name)) {
      HLX_LOG(WARNING) << "AFC folder copy: an entry with an unsafe name was not copied";
      complete = false;
      continue;
    }
    const std::string deviceChild = JoinDevicePath(deviceFolder, name);
    const std::string pcChild = pcBase + name;
    AfcFileInfo childInfo;
    if (!AfcGetFileInfo(afc, deviceChild, &childInfo)) {
      complete = false;  // listed but gone: the copy is not whole
      continue;
    }
    if (childInfo.fileKind == "S_IFDIR") {
      complete = DownloadTree(afc, deviceChild, pcChild, depth + 1) && complete;
    } else if (childInfo.fileKind == "S_IFREG") {
      complete = AfcDownloadFile(afc, deviceChild, &pcChild, nullptr) && complete;
    }
  }
  return complete;
}

}  // namespace

bool AfcListFolder(AFCConnectionRef afc, const std::string& devicePath, std::vector<std::string>* names) {
  return ListDeviceFolder(afc, devicePath, names);
}

uint8_t* ThreadTransferBuffer() {
  thread_local std::unique_ptr<uint8_t[]> buffer;
  if (!buffer) {
    uint8_t* raw = nullptr;
    if (!TryAllocBuffer(&raw, kAfcTransferBufferBytes)) return nullptr;
    buffer.reset(raw);
  }
  return buffer.get();
}

bool AfcGetFileInfo(AFCConnectionRef afc, const std::string& devicePath, AfcFileInfo* info) {
  CMobileExportFun& md = Md();
  AFCDictionaryRef dictionary = nullptr;
  if (md.AFCFileInfoOpen(afc, devicePath.c_str(), &dictionary) != kAFCSuccess || dictionary == nullptr) {
    return false;
  }
  std::unique_ptr<afc_dictionary, void (*)(AFCDictionaryRef)> holder(
      dictionary, [](AFCDictionaryRef d) { (void)Md().AFCKeyValueClose(d); });
  char* key = nullptr;
  char* value = nullptr;
  while (md.AFCKeyValueRead(dictionary, &key, &value) == kAFCSuccess && key != nullptr) {
    const char* text = value != nullptr ? value : "";
    if (std::strcmp(key, "st_nlink") == 0) {
      info->linkCount = ReadInt32(text);
    } else if (std::strcmp(key, "st_blocks") == 0) {
      info->blockCount = ReadInt32(text);
    } else if (std::strcmp(key, "st_size") == 0) {
      info->sizeBytes = ReadInt64(text);
    } else if (std::strcmp(key, "st_birthtime") == 0) {
      info->birthTimeSeconds = ReadInt64(text) / kNanosecondsPerSecond;
    } else if (std::strcmp(key, "st_mtime") == 0) {
      info->modifiedTimeSeconds = ReadInt64(text) / kNanosecondsPerSecond;
    } else if (std::strcmp(key, "st_ifmt") == 0) {
      info->fileKind = text;
    } else if (std::strcmp(key, "LinkTarget") == 0) {
      info->linkTarget = text;
    }
  }
  return true;
}

bool AfcMakeDirectory(AFCConnectionRef afc, const std::string& devicePath) {
  AfcFileInfo info;
  if (AfcGetFileInfo(afc, devicePath, &info) && info.fileKind == "S_IFDIR") return true;
  return Md().AFCDirectoryCreate(afc, devicePath.c_str()) == kAFCSuccess;
}

bool AfcRemovePath(AFCConnectionRef afc, const std::string& devicePath) {
  return Md().AFCRemovePath(afc, devicePath.c_str()) == kAFCSuccess;
}

bool AfcRemoveTree(AFCConnectionRef afc, const std::string& devicePath, bool removeTop, bool nested) {
  return RemoveTree(afc, devicePath, removeTop, nested, 0);
}

bool AfcUploadFile(AFCConnectionRef afc, const std::string& pcPath, const std::string& devicePath) {
  FilePtr source(std::fopen(pcPath.c_str(), "rb"));
  if (!source) return false;
  uint8_t* buffer = ThreadTransferBuffer();
  if (buffer == nullptr) return false;
  CMobileExportFun& md = Md();
  AFCFileRef handle = 0;
  if (md.AFCFileRefOpen(afc, devicePath.c_str(), kAFCFileModeReadWrite, &handle) != kAFCSuccess) return false;
  AfcOpenFile file(afc, handle);
  // Mode 2 keeps an existing file's bytes: empty it, so that the result is exactly the PC file.
  if (md.AFCFileRefSetFileSize(afc, file.get(), 0) != kAFCSuccess) return false;
  while (true) {
    const size_t count = std::fread(buffer, 1, kAfcTransferBufferBytes, source.get());
    if (count == 0) break;
    if (md.AFCFileRefWrite(afc, file.get(), buffer, static_cast<uint32_t>(count)) != kAFCSuccess) {
      HLX_LOG(WARNING) << "AFC upload: a write failed";
      return false;
    }
  }
  if (std::ferror(source.get()) != 0) return false;
  return file.Close();
}

bool AfcDownloadFile(AFCConnectionRef afc, const std::string& devicePath, const std::string* pcPath,
                     std::string* outText) {
  if (pcPath == nullptr && outText == nullptr) return false;
  AfcFileInfo info;
  if (!AfcGetFileInfo(afc, devicePath, &info)) return false;
  const uint64_t expected = info.sizeBytes > 0 ? static_cast<uint64_t>(info.sizeBytes) : 0;
  uint8_t* buffer = ThreadTransferBuffer();
  if (buffer == nullptr) return false;
  CMobileExportFun& md = Md();
  AFCFileRef handle = 0;
  if (md.AFCFileRefOpen(afc, devicePath.c_str(), kAFCFileModeRead, &handle) != kAFCSuccess) return false;
  AfcOpenFile file(afc, handle);

  FilePtr target;
  const size_t textLengthBefore = outText != nullptr ? outText->size() : 0;
  bool createdPcFile = false;
  if (pcPath != nullptr) {
    std::error_code error;
    createdPcFile = !std::filesystem::exists(*pcPath, error);
    target.reset(std::fopen(pcPath->c_str(), "wb"));
    if (!target) return false;
  }
  // Undoes a partial result on every failure path below. Only a regular file that this call made is
  // deleted: a path that existed may be something else (a device node, a file the user keeps).
  auto fail = [&]() {
    if (pcPath != nullptr) {
      target.reset();
      std::error_code error;
      if (createdPcFile && std::filesystem::is_regular_file(*pcPath, error)) std::filesystem::remove(*pcPath, error);
    } else {
      outText->resize(textLengthBefore);
    }
    return false;
  };

  uint64_t total = 0;
  do {
    uint32_t count = kAfcTransferBufferBytes;
    if (md.AFCFileRefRead(afc, file.get(), buffer, &count) != kAFCSuccess) {
      HLX_LOG(WARNING) << "AFC download: a read failed after " << total << " bytes";
      return fail();
    }
    if (count == 0) break;
    if (count > kAfcTransferBufferBytes) return fail();  // the library wrote past the room it was given
    if (target) {
      if (std::fwrite(buffer, 1, count, target.get()) != count) {
        HLX_LOG(WARNING) << "AFC download: a PC write failed";
        return fail();
      }
    } else {
      try {
        outText->append(reinterpret_cast<const char*>(buffer), count);
      } catch (const std::bad_alloc&) {
        return fail();
      } catch (const std::length_error&) {
        return fail();
      }
    }
    total += count;
  } while (total < expected);
  if (total < expected) {
    HLX_LOG(WARNING) << "AFC download: " << total << " of " << expected << " bytes arrived";
    return fail();
  }
  if (target) {
    // fclose flushes the last bytes: its failure is a failed write.
    if (std::fclose(target.release()) != 0) return fail();
  }
  // The data is whole; a read-only file's close has nothing left to lose.
  (void)file.Close();
  return true;
}

bool AfcReadFileStart(AFCConnectionRef afc, const std::string& devicePath, size_t maxBytes, std::string* outText) {
  uint8_t* buffer = ThreadTransferBuffer();
  if (buffer == nullptr || outText == nullptr) return false;
  CMobileExportFun& md = Md();
  AFCFileRef handle = 0;
  if (md.AFCFileRefOpen(afc, devicePath.c_str(), kAFCFileModeRead, &handle) != kAFCSuccess) return false;
  AfcOpenFile file(afc, handle);
  const size_t lengthBefore = outText->size();
  size_t total = 0;
  while (total < maxBytes) {
    const size_t wanted = std::min<size_t>(maxBytes - total, kAfcTransferBufferBytes);
    uint32_t count = static_cast<uint32_t>(wanted);
    if (md.AFCFileRefRead(afc, file.get(), buffer, &count) != kAFCSuccess || count > wanted) {
      outText->resize(lengthBefore);
      return false;
    }
    if (count == 0) break;
    try {
      outText->append(reinterpret_cast<const char*>(buffer), count);
    } catch (const std::bad_alloc&) {
      outText->resize(lengthBefore);
      return false;
    }
    total += count;
  }
  return true;
}

bool AfcDownloadTree(AFCConnectionRef afc, const std::string& deviceFolder, const std::string& pcFolder) {
  return DownloadTree(afc, deviceFolder, pcFolder, 0);
}

}  // namespace hlx
