// The binding to the device library: loads the MobileDevice and CoreFoundation libraries at run
// time and resolves every entry point that the service calls into one process-wide table. No other
// service code loads these libraries or calls them except through a slot of this table. This folder
// holds the binding only: nothing here knows devices, sessions or property-list rules.
//
// Threads: Init runs on the main thread at start-up and may run again on a worker (the connect
// module's request 10); it serialises itself. After a successful Init no slot is written again, so
// any thread reads the table without a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "mobiledevice.h"
#include "utility/hlx_lock_order.h"

namespace hlx {

class CMobileExportFun {
 public:
  enum class Library { kMobileDevice, kCoreFoundation };

  static constexpr size_t kSlotCount = 98;
  // The longest registry value accepted, in UTF-16 units: 256 units with the terminator, the
  // 512-byte buffer that the registry's writers size their values for.
  static constexpr size_t kMaxRegistryValueUnits = 255;
  // The registry key (below HKEY_LOCAL_MACHINE) whose values name the libraries.
  static constexpr const char* kRegistryKey = "SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
  // The bare name of the CoreFoundation library. The MobileDevice library depends on it, so a load by
  // bare name normally finds it loaded already.
  static constexpr const char* kCoreFoundationName = "libCoreFoundation.so";
  // The C runtime that the host library of a PC installation ships; loaded when it stands beside it.
  static constexpr const char* kRuntimeLibraryName = "ucrtbase.so";

  // The process-wide table, made on first use. It is never destroyed: the device library runs
  // threads of its own (device notifications, services) that may still run while static objects are
  // destroyed at exit, and unloading its code under them would crash the exit. The library is
  // therefore never freed; the process's end unloads it.
  static CMobileExportFun& GetInstance();

  // A table of its own (tests). Its destructor unloads the MobileDevice library it loaded.
  CMobileExportFun() = default;
  ~CMobileExportFun();
  CMobileExportFun(const CMobileExportFun&) = delete;
  CMobileExportFun& operator=(const CMobileExportFun&) = delete;

  // Loads the libraries and fills every slot; true when every slot is filled. True at once, touching
  // nothing, once an earlier call succeeded. A failure leaves the table unusable and is logged; a
  // later call tries everything again.
  [[nodiscard]] bool Init() HLX_EXCLUDES(m_initMutex);
  bool IsLoaded() const { return m_loaded.load(std::memory_order_acquire); }

  // The registry values "AirTrafficHostDLL" and "iTunesMobileDeviceDLL" of kRegistryKey, read from
  // the OS layer's registry store. True only when the value was read, holds no more than
  // kMaxRegistryValueUnits UTF-16 units of valid UTF-8 (an empty value reads as "") and names an
  // existing file. *path holds the text read even when the file does not exist.
  [[nodiscard]] static bool ReadAirTrafficHostPath(std::string* path);
  [[nodiscard]] static bool ReadMobileDeviceLibraryPath(std::string* path);

  // The CoreFoundation library is loaded by bare name and must be found in the Apple folders. A
  // process cannot change the dynamic loader's search path after it started, so the folders are
  // kept here instead and tried, in order, when the bare name does not load: the program-files root
  // ($HLX_PROGRAM_FILES, /opt when unset or empty) followed by
  // "/Common Files/Apple/Mobile Device Support/" and "/Common Files/Apple/Apple Application
  // Support/". The list is rebuilt on every call rather than appended to, so that repeated failing
  // Inits do not grow it. Always true: nothing here can fail to be read.
  bool ExtendSearchPath() HLX_EXCLUDES(m_foldersMutex);
  std::vector<std::string> SearchFolders() const HLX_EXCLUDES(m_foldersMutex);

  // The slot table, for checks: the address a slot holds (null before Init), its export name and
  // the library it is looked up in. `slot` must be below kSlotCount.
  const void* SlotAddress(size_t slot) const;
  static const char* SlotName(size_t slot);
  static Library SlotLibrary(size_t slot);

  // ---- The slots. Each is typed from the declaration in mobiledevice.h; the two variables (85 and
  // 92) hold the variable's address. Callers call them without checking IsLoaded: the device
  // monitor's start succeeded before any device object exists.
#define HLX_MOBILE_EXPORT(slot, member, exportName, library) decltype(&::exportName) member = nullptr;
#include "iOSAPI/MobileExportSlots.inc"
#undef HLX_MOBILE_EXPORT

 private:
  [[nodiscard]] bool LoadAndResolve() HLX_REQUIRES(m_initMutex);
  void* LoadCoreFoundation() const;

  // Serialises Init; never held while a caller uses the slots. Taken before m_foldersMutex.
  Mutex m_initMutex;
  // guards: m_deviceLibrary and the slots while Init writes them
  void* m_deviceLibrary HLX_GUARDED_BY(m_initMutex) = nullptr;
  // Written under m_initMutex; read by any thread. Set last, with release order, after every slot.
  std::atomic<bool> m_loaded{false};

  mutable Mutex m_foldersMutex HLX_ACQUIRED_AFTER(m_initMutex);
  // guards: m_searchFolders
  std::vector<std::string> m_searchFolders HLX_GUARDED_BY(m_foldersMutex);
};

// The binding's CFRelease as a deleter, so that every owned CoreFoundation object is released
// through the table on the line that obtained it:
//   CFPtr<CFDataRef> data(binding.CFDataCreate(nullptr, bytes, length));
struct CFRefDeleter {
  void operator()(const void* object) const {
    if (object != nullptr) CMobileExportFun::GetInstance().CFRelease(object);
  }
};
// Owns one CoreFoundation object of reference type T (CFDataRef, CFDictionaryRef, CFTypeRef ...).
template <typename T>
using CFPtr = std::unique_ptr<std::remove_pointer_t<T>, CFRefDeleter>;
// The shared form, for objects handed between threads.
template <typename T>
std::shared_ptr<std::remove_pointer_t<T>> MakeSharedCF(T object) {
  return std::shared_ptr<std::remove_pointer_t<T>>(object, CFRefDeleter());
}

}  // namespace hlx
