// Loading of the device libraries with dlopen and resolution of the slot table with dlsym. The
// libraries stay loaded for the life of the process (the process-wide table is never destroyed);
// the host library, the runtime library and CoreFoundation are never unloaded, as on the PC.
#include "iOSAPI/MobileExportFun.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "os/hlx_os.h"
#include "utility/hlx_log.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

struct SlotInfo {
  const char* name;
  CMobileExportFun::Library library;
};

constexpr SlotInfo kSlots[] = {
#define HLX_MOBILE_EXPORT(slot, member, exportName, library) {#exportName, CMobileExportFun::Library::k##library},
#include "iOSAPI/MobileExportSlots.inc"
#undef HLX_MOBILE_EXPORT
};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == CMobileExportFun::kSlotCount,
              "the slot table has one line per slot");

// RTLD_LOCAL: like a library loaded on the PC, the device library's names are reached through its
// handle only and never take part in resolving other libraries' names.
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;

std::string LoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown";
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}

bool ReadLibraryPathValue(const char* name, std::string* path) {
  std::string value;
  if (!os::Os().readRegistryValue(CMobileExportFun::kRegistryKey, name, &value)) return false;
  // The registry holds UTF-16; the store holds UTF-8. Text that is not valid UTF-8, or holds a NUL,
  // could not have come from a REG_SZ value and is refused like a value of the wrong type.
  if (value.find('\0') != std::string::npos) return false;
  std::u16string wide = Utf8ToWide(value);
  if (wide.empty() != value.empty()) return false;
  if (wide.size() > CMobileExportFun::kMaxRegistryValueUnits) return false;
  *path = value;
  return FileExists(value);
}

std::string ProgramFilesRoot() {
  // The same root the other program-files paths of the service use.
  const char* root = std::getenv("HLX_PROGRAM_FILES");
  std::string folder = (root != nullptr && root[0] != '\0') ? root : "/opt";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder == "/") folder.clear();
  return folder;
}

}  // namespace

CMobileExportFun& CMobileExportFun::GetInstance() {
  // Deliberately never destroyed (see the header).
  static CMobileExportFun* instance = new CMobileExportFun();
  return *instance;
}

CMobileExportFun::~CMobileExportFun() {
  if (m_deviceLibrary != nullptr) dlclose(m_deviceLibrary);
}

bool CMobileExportFun::ReadAirTrafficHostPath(std::string* path) {
  return ReadLibraryPathValue("AirTrafficHostDLL", path);
}

bool CMobileExportFun::ReadMobileDeviceLibraryPath(std::string* path) {
  return ReadLibraryPathValue("iTunesMobileDeviceDLL", path);
}

bool CMobileExportFun::ExtendSearchPath() {
  std::string root = ProgramFilesRoot();
  std::vector<std::string> folders = {
      root + "/Common Files/Apple/Mobile Device Support/",
      root + "/Common Files/Apple/Apple Application Support/",
  };
  MutexLock lock(m_foldersMutex);
  m_searchFolders = std::move(folders);
  return true;
}

std::vector<std::string> CMobileExportFun::SearchFolders() const {
  MutexLock lock(m_foldersMutex);
  return m_searchFolders;
}

const void* CMobileExportFun::SlotAddress(size_t slot) const {
  switch (slot) {
#define HLX_MOBILE_EXPORT(slot, member, exportName, library) \
  case slot:                                                 \
    return reinterpret_cast<const void*>(member);
#include "iOSAPI/MobileExportSlots.inc"
#undef HLX_MOBILE_EXPORT
    default: return nullptr;
  }
}

const char* CMobileExportFun::SlotName(size_t slot) { return slot < kSlotCount ? kSlots[slot].name : ""; }

CMobileExportFun::Library CMobileExportFun::SlotLibrary(size_t slot) {
  return slot < kSlotCount ? kSlots[slot].library : Library::kMobileDevice;
}

bool CMobileExportFun::Init() {
  if (IsLoaded()) return true;
  MutexLock lock(m_initMutex);
  if (IsLoaded()) return true;  // another thread finished while this one waited
  if (!LoadAndResolve()) return false;
  m_loaded.store(true, std::memory_order_release);
  return true;
}

void* CMobileExportFun::LoadCoreFoundation() const {
  // The bare name first: the device library depends on CoreFoundation, so it is normally loaded
  // already and the loader hands out that copy. The Apple folders come after the system's own
  // search, as they came after the rest of "Path" on the PC.
  if (void* handle = dlopen(kCoreFoundationName, kOpenFlags)) return handle;
  for (const std::string& folder : SearchFolders()) {
    std::string path = folder + kCoreFoundationName;
    if (!FileExists(path)) continue;
    if (void* handle = dlopen(path.c_str(), kOpenFlags)) return handle;
    HLX_LOG(WARNING) << "CoreFoundation did not load from the search folders: " << LoaderError();
  }
  return nullptr;
}

bool CMobileExportFun::LoadAndResolve() {
  ExtendSearchPath();

  std::string hostPath;
  if (!ReadAirTrafficHostPath(&hostPath)) {
    HLX_LOG(ERROR) << "MobileDevice binding: registry value AirTrafficHostDLL missing, too long or not a file";
    return false;
  }
  HLX_LOG(INFO) << "strPathHost: " << hostPath;

  // A host path without a folder names a runtime in the current folder; "./" keeps dlopen from
  // searching its library path for it instead.
  size_t slash = hostPath.rfind('/');
  std::string runtimePath = slash == std::string::npos ? std::string("./") + kRuntimeLibraryName
                                                       : hostPath.substr(0, slash + 1) + kRuntimeLibraryName;
  if (FileExists(runtimePath) && dlopen(runtimePath.c_str(), kOpenFlags) == nullptr) {
    HLX_LOG(ERROR) << "Base Error Code: " << LoaderError();
  }

  if (dlopen(hostPath.c_str(), kOpenFlags) == nullptr) {
    HLX_LOG(ERROR) << "Host Error Code: " << LoaderError();
    return false;
  }

  std::string devicePath;
  if (!ReadMobileDeviceLibraryPath(&devicePath)) {
    HLX_LOG(ERROR) << "MobileDevice binding: registry value iTunesMobileDeviceDLL missing, too long or not a file";
    return false;
  }
  HLX_LOG(INFO) << "strPathiTunes: " << devicePath;

  void* deviceLibrary = dlopen(devicePath.c_str(), kOpenFlags);
  if (deviceLibrary == nullptr) {
    HLX_LOG(ERROR) << "MobileDevice binding: the device library did not load: " << LoaderError();
    return false;
  }
  // A retry after a failure loads again; keep one reference, not one per attempt.
  if (m_deviceLibrary != nullptr) dlclose(m_deviceLibrary);
  m_deviceLibrary = deviceLibrary;

  void* coreFoundation = LoadCoreFoundation();
  if (coreFoundation == nullptr) {
    HLX_LOG(ERROR) << "MobileDevice binding: " << kCoreFoundationName << " did not load";
    return false;
  }

  auto resolve = [&](size_t slot) -> void* {
    void* library = kSlots[slot].library == Library::kMobileDevice ? m_deviceLibrary : coreFoundation;
    void* address = dlsym(library, kSlots[slot].name);
    if (address == nullptr) {
      HLX_LOG(ERROR) << "MobileDevice binding: export " << kSlots[slot].name << " (slot " << slot << ") not found";
    }
    return address;
  };
#define HLX_MOBILE_EXPORT(slot, member, exportName, library) \
  {                                                          \
    void* address = resolve(slot);                           \
    if (address == nullptr) return false;                    \
    member = reinterpret_cast<decltype(member)>(address);    \
  }
#include "iOSAPI/MobileExportSlots.inc"
#undef HLX_MOBILE_EXPORT
  return true;
}

}  // namespace hlx
