// Small building blocks shared by every source of the simulated MobileDevice library: descriptor
// ownership, the catch-all wrapper for exported functions, bounded file reads, atomic file writes,
// the cross-process image lock and the handle tables that turn opaque C handles into shared objects.
// It knows nothing of devices or protocols.
// Threads: everything here may be used from any thread; MDHandleTable is internally locked.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Owns one file descriptor; closes it on destruction.
class MDUniqueFd {
 public:
  MDUniqueFd() = default;
  explicit MDUniqueFd(int fd) : m_fd(fd) {}
  MDUniqueFd(const MDUniqueFd&) = delete;
  MDUniqueFd& operator=(const MDUniqueFd&) = delete;
  MDUniqueFd(MDUniqueFd&& other) noexcept : m_fd(other.Release()) {}
  MDUniqueFd& operator=(MDUniqueFd&& other) noexcept;
  ~MDUniqueFd();

  int Get() const { return m_fd; }
  bool IsValid() const { return m_fd >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int m_fd = -1;
};

// Logging of the library: off unless HLX_MD_LOG=1, then one line per call to standard error.
// Never pass user content (names, file contents); counts, codes and UDIDs only.
void MDLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Runs the body of an exported C function; any exception becomes `onError` and a log line, so no
// exception crosses the C boundary.
template <typename R, typename F>
R MDCallGuarded(const char* function, R onError, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    MDLog("%s: exception: %s", function, e.what());
  } catch (...) {
    MDLog("%s: unknown exception", function);
  }
  return onError;
}
template <typename F>
void MDCallGuardedVoid(const char* function, F&& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    MDLog("%s: exception: %s", function, e.what());
  } catch (...) {
    MDLog("%s: unknown exception", function);
  }
}

// Reads a whole file of at most maxBytes. Returns 0, or an errno value (ENOENT when missing, EFBIG
// when larger than maxBytes, another errno when reading fails).
[[nodiscard]] int MDReadFile(const std::string& path, size_t maxBytes, std::string* contents);

// Writes `contents` to a temporary file beside `path` and renames it over `path`, so readers see the
// old or the new file, never half of one. Returns 0 or an errno value.
[[nodiscard]] int MDWriteFileAtomic(const std::string& path, const std::string& contents);

// What identifies one version of a file: a rename-replaced or rewritten file changes it.
struct MDFileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  int64_t mtimeNs = 0;
  bool operator==(const MDFileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size && mtimeNs == other.mtimeNs;
  }
  bool operator!=(const MDFileIdentity& other) const { return !(*this == other); }
};
// Returns 0 or an errno value.
[[nodiscard]] int MDGetFileIdentity(const std::string& path, MDFileIdentity* identity);

// The cross-process lock of one image folder: an exclusive flock on the folder itself. The control
// tool (tools/hlx_device.py) takes the same lock around its edits, so read-modify-write cycles of
// state.json, counters.json and lockdown.plist never interleave. Lock order place 5.
class MDImageLock {
 public:
  explicit MDImageLock(const std::string& folder);
  MDImageLock(const MDImageLock&) = delete;
  MDImageLock& operator=(const MDImageLock&) = delete;
  ~MDImageLock();
  // False when the folder could not be opened or locked (for example: the image was detached).
  bool IsHeld() const { return m_held; }

 private:
  MDUniqueFd m_fd;
  bool m_held = false;
};

// The next value for an opaque handle. Values are never reused within a process, are far below
// any mapped address (so a caller that dereferences one faults at once instead of corrupting
// memory) and fit in 31 bits (the service prints device handles as integers).
uintptr_t MDNextHandleValue();

// A table from opaque handle values to shared objects. Lookups hand out shared_ptr copies, so an
// object stays alive for a caller that found it even when another thread removes it meanwhile.
// Its mutex is a leaf of the lock order.
template <typename T>
class MDHandleTable {
 public:
  uintptr_t Add(std::shared_ptr<T> object) {
    uintptr_t handle = MDNextHandleValue();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items.emplace(handle, std::move(object));
    return handle;
  }
  void AddWithHandle(uintptr_t handle, std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items[handle] = std::move(object);
  }
  std::shared_ptr<T> Find(const void* handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_items.find(reinterpret_cast<uintptr_t>(handle));
    return it == m_items.end() ? nullptr : it->second;
  }
  std::shared_ptr<T> Remove(const void* handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_items.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m_items.end()) return nullptr;
    std::shared_ptr<T> object = std::move(it->second);
    m_items.erase(it);
    return object;
  }
  std::vector<std::shared_ptr<T>> Snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<T>> all;
    all.reserve(m_items.size());
    for (const auto& item : m_items) all.push_back(item.second);
    return all;
  }
  size_t Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items.size();
  }

 private:
  mutable std::mutex m_mutex;  // guards: m_items (leaf)
  std::unordered_map<uintptr_t, std::shared_ptr<T>> m_items;
};

template <typename Handle>
Handle MDHandleCast(uintptr_t value) {
  return reinterpret_cast<Handle>(value);
}
