// The exported AFC calls. An AFC connection is opened on the socket of a started "com.apple.afc" or
// "com.apple.afc2" service connection and works on that device's image folder (fs/ or rootfs/)
// through MDAfcFileSystem. Every call that asks the device first checks that the connection still
// stands: the service connection not invalidated, the device attached, the transfer not dropped by a
// fault. Reading the entries of an open listing or stat answer and closing handles ask nothing. Handles
// (connections, directories, key-value dictionaries) are table entries, so a closed or foreign
// handle gives an error code instead of touching freed memory; file references are numbers per
// connection and never reused within it.
//
// Threads: any number of threads may use one connection and one file reference at once: the
// connection's mutex (a leaf) guards only its tables and counters, each file reference serialises
// its own I/O (lock order 3), and space is booked under the device's quota mutex (4).
#include "mobiledevice.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "md/md_afc.h"
#include "md/md_afc_fs.h"
#include "md/md_base.h"
#include "md/md_codes.h"
#include "md/md_device.h"
#include "md/md_service_connection.h"

namespace {

constexpr uint32_t kAfcBlockSizeBytes = 4096;

// Rewriting state.json for every write would cost more than the write itself on a large upload, so
// growth is first counted in memory (exactly: FSFreeBytes and the full-device check use it at once)
// and written into the image when a file is closed or flushed, on removals and renames, when the
// connection closes, and at the latest after kBookingBatchBytes.
constexpr int64_t kBookingBatchBytes = 64ll << 20;

class DeviceQuota : public MDAfcQuota {
 public:
  explicit DeviceQuota(std::shared_ptr<MDDevice> device) : m_device(std::move(device)) {}
  std::mutex& Mutex() override { return m_device->QuotaMutex(); }

  int Book(int64_t usedDelta) override {
    int64_t& unbooked = m_device->UnbookedUsedBytesLocked();
    if (usedDelta > 0) {
      MDDeviceState state;
      if (m_device->Image().LoadState(&state) != 0) {
        return m_device->IsAttached() ? kAFCUnknownError : kAFCNotConnected;
      }
      if (state.freeBytes - unbooked < usedDelta) return kAFCNoSpace;
    }
    unbooked += usedDelta;
    if (usedDelta < 0 || unbooked >= kBookingBatchBytes) return WriteBookingLocked();
    return kAFCSuccess;
  }

  int Flush() {
    std::lock_guard<std::mutex> lock(Mutex());
    return WriteBookingLocked();
  }

  int64_t FreeBytes(const MDDeviceState& state) {
    std::lock_guard<std::mutex> lock(Mutex());
    const int64_t freeBytes = state.freeBytes - m_device->UnbookedUsedBytesLocked();
    return freeBytes < 0 ? 0 : freeBytes;
  }

 private:
  int WriteBookingLocked() {
    int64_t& unbooked = m_device->UnbookedUsedBytesLocked();
    if (unbooked == 0) return kAFCSuccess;
    if (m_device->Image().ChangeUsedBytes(unbooked) != 0) {
      return m_device->IsAttached() ? kAFCUnknownError : kAFCNotConnected;
    }
    unbooked = 0;
    return kAFCSuccess;
  }

  std::shared_ptr<MDDevice> m_device;
};

struct AfcDirectory {
  std::vector<std::string> names;  // never changes after open, so borrowed entries stay valid
  std::mutex mutex;                // guards: next (leaf)
  size_t next = 0;
};

struct AfcKeyValueList {
  MDAfcKeyValues pairs;  // never changes after open
  std::mutex mutex;      // guards: next (leaf)
  size_t next = 0;
};

MDHandleTable<AfcKeyValueList>& KeyValueTable() {
  static auto* table = new MDHandleTable<AfcKeyValueList>();  // never destroyed
  return *table;
}

class AfcConnection {
 public:
  AfcConnection(std::shared_ptr<MDServiceConnection> service, std::string root)
      : m_service(service), m_device(service->Device()), m_quota(m_device), m_fs(std::move(root)) {}

  MDAfcFileSystem& FileSystem() { return m_fs; }
  const std::shared_ptr<MDDevice>& Device() const { return m_device; }
  DeviceQuota& Quota() { return m_quota; }

  // Checks that the connection stands and applies the device's fault table. An AFC code.
  int Enter(const char* function) {
    auto service = m_service.lock();
    if (!service || !service->IsUsable() || IsBroken()) return Fail(kAFCNotConnected);
    switch (m_device->EnterCall(function)) {
      case MDCallGate::kDetached: return Fail(kAFCNotConnected);
      case MDCallGate::kFailed: return Fail(kAFCUnknownError);
      case MDCallGate::kProceed: break;
    }
    return kAFCSuccess;
  }

  int Fail(int code) {
    // A path that vanished mid-call may be the whole device going away.
    if (code != kAFCSuccess && code != kAFCNotConnected && !m_device->CheckImagePresent()) code = kAFCNotConnected;
    if (code != kAFCSuccess) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_lastError = code;
    }
    return code;
  }
  int LastError() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
  }

  uint64_t AddFile(std::shared_ptr<MDAfcFile> file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t ref = ++m_lastFileRef;
    m_files.emplace(ref, std::move(file));
    return ref;
  }
  std::shared_ptr<MDAfcFile> FindFile(AFCFileRef ref) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(ref);
    return it == m_files.end() ? nullptr : it->second;
  }
  bool RemoveFile(AFCFileRef ref) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files.erase(ref) > 0;
  }

  uintptr_t AddDirectory(std::shared_ptr<AfcDirectory> directory) {
    uintptr_t handle = MDNextHandleValue();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_directories.emplace(handle, std::move(directory));
    return handle;
  }
  std::shared_ptr<AfcDirectory> FindDirectory(AFCDirectoryRef ref) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_directories.find(reinterpret_cast<uintptr_t>(ref));
    return it == m_directories.end() ? nullptr : it->second;
  }
  bool RemoveDirectory(AFCDirectoryRef ref) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_directories.erase(reinterpret_cast<uintptr_t>(ref)) > 0;
  }

  // The fault "drop a transfer midway": how many of `wanted` bytes may still move in this
  // direction; the connection breaks once the budget is spent. Returns false when it already is.
  bool TakeTransferBudget(bool reading, uint32_t wanted, uint32_t* allowed, bool* dropsNow) {
    MDDeviceState state;
    int64_t limit = -1;
    if (m_device->Image().LoadState(&state) == 0) {
      limit = reading ? state.faults.dropAfterAfcReadBytes : state.faults.dropAfterAfcWriteBytes;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    *allowed = wanted;
    *dropsNow = false;
    if (m_broken) return false;
    uint64_t& moved = reading ? m_bytesRead : m_bytesWritten;
    if (limit >= 0 && moved + wanted > static_cast<uint64_t>(limit)) {
      *allowed = static_cast<uint32_t>(static_cast<uint64_t>(limit) > moved ? static_cast<uint64_t>(limit) - moved : 0);
      *dropsNow = true;
    }
    moved += *allowed;
    return true;
  }
  void Break() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_broken = true;
  }
  bool IsBroken() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_broken;
  }

 private:
  const std::weak_ptr<MDServiceConnection> m_service;
  const std::shared_ptr<MDDevice> m_device;
  DeviceQuota m_quota;
  MDAfcFileSystem m_fs;

  std::mutex m_mutex;  // guards: everything below (leaf)
  std::map<uint64_t, std::shared_ptr<MDAfcFile>> m_files;
  std::map<uintptr_t, std::shared_ptr<AfcDirectory>> m_directories;
  uint64_t m_lastFileRef = 0;
  int m_lastError = kAFCSuccess;
  uint64_t m_bytesRead = 0;
  uint64_t m_bytesWritten = 0;
  bool m_broken = false;
};

MDHandleTable<AfcConnection>& ConnectionTable() {
  static auto* table = new MDHandleTable<AfcConnection>();  // never destroyed
  return *table;
}

// Looks the connection up and enters the call; 0 or an AFC code.
int Enter(AFCConnectionRef ref, const char* function, std::shared_ptr<AfcConnection>* connection) {
  *connection = ConnectionTable().Find(ref);
  if (!*connection) return kAFCInvalidArgument;
  return (*connection)->Enter(function);
}

int OpenKeyValues(MDAfcKeyValues pairs, AFCDictionaryRef* out) {
  auto list = std::make_shared<AfcKeyValueList>();
  list->pairs = std::move(pairs);
  *out = MDHandleCast<AFCDictionaryRef>(KeyValueTable().Add(std::move(list)));
  return kAFCSuccess;
}

// Looks up connection and file reference for the file calls; 0 or an AFC code.
int EnterFile(AFCConnectionRef ref, AFCFileRef fileRef, const char* function,
              std::shared_ptr<AfcConnection>* connection, std::shared_ptr<MDAfcFile>* file) {
  if (int code = Enter(ref, function, connection)) return code;
  *file = (*connection)->FindFile(fileRef);
  return *file ? static_cast<int>(kAFCSuccess) : (*connection)->Fail(kAFCInvalidArgument);
}

}  // namespace

size_t MDAfcConnectionCount() { return ConnectionTable().Size(); }

extern "C" {

MD_EXPORT int AFCConnectionOpen(int socket, uint32_t, AFCConnectionRef* connection) {
  return MDCallGuarded("AFCConnectionOpen", static_cast<int>(kAFCUnknownError), [&] {
    if (connection == nullptr) return static_cast<int>(kAFCInvalidArgument);
    *connection = nullptr;
    auto service = MDFindServiceConnectionBySocket(socket);
    if (!service) return static_cast<int>(kAFCInvalidArgument);
    const char* folder = nullptr;
    if (service->Name() == "com.apple.afc") {
      folder = "fs";
    } else if (service->Name() == "com.apple.afc2") {
      folder = "rootfs";
    } else {
      return static_cast<int>(kAFCInvalidArgument);  // not an AFC service
    }
    if (!service->IsUsable()) return static_cast<int>(kAFCNotConnected);
    auto created = std::make_shared<AfcConnection>(service, service->Device()->Image().PathOf(folder));
    *connection = MDHandleCast<AFCConnectionRef>(ConnectionTable().Add(std::move(created)));
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCConnectionClose(AFCConnectionRef connection) {
  return MDCallGuarded("AFCConnectionClose", static_cast<int>(kAFCUnknownError), [&] {
    // Open files and directories go with the connection; a thread still inside a call on one of
    // them keeps it alive until that call returns.
    auto closed = ConnectionTable().Remove(connection);
    if (!closed) return static_cast<int>(kAFCInvalidArgument);
    if (closed->Device()->IsAttached() && closed->Quota().Flush() != kAFCSuccess) {
      MDLog("free space not booked");
    }
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCConnectionSetSecureContext(AFCConnectionRef connection, void*) {
  return MDCallGuarded("AFCConnectionSetSecureContext", static_cast<int>(kAFCUnknownError), [&] {
    return ConnectionTable().Find(connection) ? static_cast<int>(kAFCSuccess) : static_cast<int>(kAFCInvalidArgument);
  });
}

MD_EXPORT int AFCDirectoryOpen(AFCConnectionRef ref, const char* path, AFCDirectoryRef* directory) {
  return MDCallGuarded("AFCDirectoryOpen", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCDirectoryOpen", &connection)) return code;
    if (path == nullptr || directory == nullptr) return connection->Fail(kAFCInvalidArgument);
    *directory = nullptr;
    auto opened = std::make_shared<AfcDirectory>();
    if (int code = connection->FileSystem().List(path, &opened->names)) return connection->Fail(code);
    *directory = MDHandleCast<AFCDirectoryRef>(connection->AddDirectory(std::move(opened)));
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCDirectoryRead(AFCConnectionRef ref, AFCDirectoryRef directoryRef, char** entry) {
  return MDCallGuarded("AFCDirectoryRead", static_cast<int>(kAFCUnknownError), [&] {
    // Not gated: the whole listing arrived with AFCDirectoryOpen, so taking its next entry asks the
    // device nothing (like AFCKeyValueRead on a stat answer), and a large folder costs one device
    // call rather than one per entry.
    auto connection = ConnectionTable().Find(ref);
    if (!connection) return static_cast<int>(kAFCInvalidArgument);
    if (entry == nullptr) return connection->Fail(kAFCInvalidArgument);
    *entry = nullptr;
    auto directory = connection->FindDirectory(directoryRef);
    if (!directory) return connection->Fail(kAFCInvalidArgument);
    std::lock_guard<std::mutex> lock(directory->mutex);
    if (directory->next < directory->names.size()) {
      *entry = const_cast<char*>(directory->names[directory->next++].c_str());
    }
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCDirectoryClose(AFCConnectionRef ref, AFCDirectoryRef directory) {
  return MDCallGuarded("AFCDirectoryClose", static_cast<int>(kAFCUnknownError), [&] {
    auto connection = ConnectionTable().Find(ref);
    if (!connection) return static_cast<int>(kAFCInvalidArgument);
    // Not gated: closing must work on a connection whose device has gone.
    return connection->RemoveDirectory(directory) ? static_cast<int>(kAFCSuccess)
                                                  : connection->Fail(kAFCInvalidArgument);
  });
}

MD_EXPORT int AFCDirectoryCreate(AFCConnectionRef ref, const char* path) {
  return MDCallGuarded("AFCDirectoryCreate", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCDirectoryCreate", &connection)) return code;
    if (path == nullptr) return connection->Fail(kAFCInvalidArgument);
    return connection->Fail(connection->FileSystem().MakeDirectory(path));
  });
}

MD_EXPORT int AFCFileInfoOpen(AFCConnectionRef ref, const char* path, AFCDictionaryRef* info) {
  return MDCallGuarded("AFCFileInfoOpen", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCFileInfoOpen", &connection)) return code;
    if (path == nullptr || info == nullptr) return connection->Fail(kAFCInvalidArgument);
    *info = nullptr;
    MDAfcKeyValues pairs;
    if (int code = connection->FileSystem().Stat(path, &pairs)) return connection->Fail(code);
    return OpenKeyValues(std::move(pairs), info);
  });
}

MD_EXPORT int AFCDeviceInfoOpen(AFCConnectionRef ref, AFCDictionaryRef* info) {
  return MDCallGuarded("AFCDeviceInfoOpen", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCDeviceInfoOpen", &connection)) return code;
    if (info == nullptr) return connection->Fail(kAFCInvalidArgument);
    *info = nullptr;
    MDDeviceState state;
    if (connection->Device()->Image().LoadState(&state) != 0) return connection->Fail(kAFCNotConnected);
    MDAfcKeyValues pairs;
    pairs.emplace_back("Model", state.model);
    pairs.emplace_back("FSTotalBytes", std::to_string(state.totalBytes));
    pairs.emplace_back("FSFreeBytes", std::to_string(connection->Quota().FreeBytes(state)));
    pairs.emplace_back("FSBlockSize", std::to_string(kAfcBlockSizeBytes));
    return OpenKeyValues(std::move(pairs), info);
  });
}

MD_EXPORT int AFCKeyValueRead(AFCDictionaryRef dictionary, char** key, char** value) {
  return MDCallGuarded("AFCKeyValueRead", static_cast<int>(kAFCUnknownError), [&] {
    if (key == nullptr || value == nullptr) return static_cast<int>(kAFCInvalidArgument);
    *key = nullptr;
    *value = nullptr;
    auto list = KeyValueTable().Find(dictionary);
    if (!list) return static_cast<int>(kAFCInvalidArgument);
    std::lock_guard<std::mutex> lock(list->mutex);
    if (list->next < list->pairs.size()) {
      auto& pair = list->pairs[list->next++];
      *key = const_cast<char*>(pair.first.c_str());
      *value = const_cast<char*>(pair.second.c_str());
    }
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCKeyValueClose(AFCDictionaryRef dictionary) {
  return MDCallGuarded("AFCKeyValueClose", static_cast<int>(kAFCUnknownError), [&] {
    return KeyValueTable().Remove(dictionary) ? static_cast<int>(kAFCSuccess) : static_cast<int>(kAFCInvalidArgument);
  });
}

MD_EXPORT int AFCRemovePath(AFCConnectionRef ref, const char* path) {
  return MDCallGuarded("AFCRemovePath", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCRemovePath", &connection)) return code;
    if (path == nullptr) return connection->Fail(kAFCInvalidArgument);
    return connection->Fail(connection->FileSystem().Remove(path, connection->Quota()));
  });
}

MD_EXPORT int AFCRenamePath(AFCConnectionRef ref, const char* from, const char* to) {
  return MDCallGuarded("AFCRenamePath", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCRenamePath", &connection)) return code;
    if (from == nullptr || to == nullptr) return connection->Fail(kAFCInvalidArgument);
    return connection->Fail(connection->FileSystem().Rename(from, to, connection->Quota()));
  });
}

MD_EXPORT int AFCFileRefOpen(AFCConnectionRef ref, const char* path, uint64_t mode, AFCFileRef* file) {
  return MDCallGuarded("AFCFileRefOpen", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    if (int code = Enter(ref, "AFCFileRefOpen", &connection)) return code;
    if (path == nullptr || file == nullptr) return connection->Fail(kAFCInvalidArgument);
    *file = 0;
    std::shared_ptr<MDAfcFile> opened;
    if (int code = connection->FileSystem().Open(path, mode, &opened)) return connection->Fail(code);
    *file = connection->AddFile(std::move(opened));
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCFileRefClose(AFCConnectionRef ref, AFCFileRef file) {
  return MDCallGuarded("AFCFileRefClose", static_cast<int>(kAFCUnknownError), [&] {
    auto connection = ConnectionTable().Find(ref);
    if (!connection) return static_cast<int>(kAFCInvalidArgument);
    // Not gated: closing must work on a connection whose device has gone.
    if (!connection->RemoveFile(file)) return connection->Fail(kAFCInvalidArgument);
    if (connection->Device()->IsAttached() && connection->Quota().Flush() != kAFCSuccess) {
      MDLog("free space not booked");
    }
    return static_cast<int>(kAFCSuccess);
  });
}

MD_EXPORT int AFCFileRefLock(AFCConnectionRef ref, AFCFileRef fileRef) {
  return MDCallGuarded("AFCFileRefLock", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefLock", &connection, &file)) return code;
    return connection->Fail(file->Lock());
  });
}

MD_EXPORT int AFCFileRefUnlock(AFCConnectionRef ref, AFCFileRef fileRef) {
  return MDCallGuarded("AFCFileRefUnlock", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefUnlock", &connection, &file)) return code;
    return connection->Fail(file->Unlock());
  });
}

MD_EXPORT int AFCFileRefRead(AFCConnectionRef ref, AFCFileRef fileRef, void* buffer, uint32_t* length) {
  return MDCallGuarded("AFCFileRefRead", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (length == nullptr) return static_cast<int>(kAFCInvalidArgument);
    const uint32_t wanted = *length;
    *length = 0;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefRead", &connection, &file)) return code;
    if (buffer == nullptr && wanted > 0) return connection->Fail(kAFCInvalidArgument);
    uint32_t allowed = 0;
    bool dropsNow = false;
    if (!connection->TakeTransferBudget(true, wanted, &allowed, &dropsNow)) return connection->Fail(kAFCNotConnected);
    int code = file->Read(buffer, allowed, length);
    if (dropsNow) {
      connection->Break();
      return connection->Fail(kAFCNotConnected);
    }
    return connection->Fail(code);
  });
}

MD_EXPORT int AFCFileRefWrite(AFCConnectionRef ref, AFCFileRef fileRef, const void* buffer, uint32_t length) {
  return MDCallGuarded("AFCFileRefWrite", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefWrite", &connection, &file)) return code;
    if (buffer == nullptr && length > 0) return connection->Fail(kAFCInvalidArgument);
    uint32_t allowed = 0;
    bool dropsNow = false;
    if (!connection->TakeTransferBudget(false, length, &allowed, &dropsNow)) return connection->Fail(kAFCNotConnected);
    uint32_t done = 0;
    int code = file->Write(buffer, allowed, connection->Quota(), &done);
    if (dropsNow) {
      connection->Break();
      return connection->Fail(kAFCNotConnected);
    }
    if (code == kAFCSuccess && done != length) code = kAFCWriteError;
    return connection->Fail(code);
  });
}

MD_EXPORT int AFCFlushData(AFCConnectionRef ref, AFCFileRef fileRef) {
  return MDCallGuarded("AFCFlushData", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFlushData", &connection, &file)) return code;
    if (int code = file->Flush()) return connection->Fail(code);
    return connection->Fail(connection->Quota().Flush());
  });
}

MD_EXPORT int AFCFileRefTell(AFCConnectionRef ref, AFCFileRef fileRef, uint64_t* position) {
  return MDCallGuarded("AFCFileRefTell", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefTell", &connection, &file)) return code;
    if (position == nullptr) return connection->Fail(kAFCInvalidArgument);
    return connection->Fail(file->Tell(position));
  });
}

MD_EXPORT int AFCFileRefSeek(AFCConnectionRef ref, AFCFileRef fileRef, int64_t offset, uint64_t whence) {
  return MDCallGuarded("AFCFileRefSeek", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefSeek", &connection, &file)) return code;
    return connection->Fail(file->Seek(offset, whence));
  });
}

MD_EXPORT int AFCFileRefSetFileSize(AFCConnectionRef ref, AFCFileRef fileRef, uint64_t size) {
  return MDCallGuarded("AFCFileRefSetFileSize", static_cast<int>(kAFCUnknownError), [&] {
    std::shared_ptr<AfcConnection> connection;
    std::shared_ptr<MDAfcFile> file;
    if (int code = EnterFile(ref, fileRef, "AFCFileRefSetFileSize", &connection, &file)) return code;
    return connection->Fail(file->SetSize(size, connection->Quota()));
  });
}

// The text of the connection's last error, in a buffer from malloc that the caller frees with free().
MD_EXPORT char* AFCCopyErrorString(AFCConnectionRef ref) {
  return MDCallGuarded("AFCCopyErrorString", static_cast<char*>(nullptr), [&]() -> char* {
    auto connection = ConnectionTable().Find(ref);
    return ::strdup(AFCErrorName(connection ? connection->LastError() : static_cast<int>(kAFCInvalidArgument)));
  });
}

}  // extern "C"
