// The file system that AFC serves: one folder of an image (fs/, or rootfs/ for "com.apple.afc2"),
// with every path confined to it. Paths are resolved one component at a time from a descriptor of
// the root with O_NOFOLLOW, so neither ".." (refused outright in caller paths) nor a symbolic link
// (followed only while it stays inside: relative targets whose ".." never climb above the root)
// can reach a file outside. Absolute link targets are refused: they name the host's file system.
// Free space is booked through MDAfcQuota, so writes fail when the device is full and the device's
// free space follows what AFC adds and removes.
// Knows nothing of connections or handles (md_afc.cpp).
// Threads: MDAfcFileSystem is stateless past construction; an MDAfcFile is used under its own mutex
// (lock order 3), and size changes additionally under the quota mutex (4).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "md/md_base.h"

// Limits on caller paths: deeper or longer paths are refused before any file system call.
constexpr size_t kMDAfcMaxPathBytes = 4096;
constexpr size_t kMDAfcMaxComponents = 256;
// Symbolic links followed while resolving one path (loops end here).
constexpr int kMDAfcMaxLinkHops = 32;

// The device's free-space account.
class MDAfcQuota {
 public:
  virtual ~MDAfcQuota() = default;
  // Held across one size-changing operation and its booking.
  virtual std::mutex& Mutex() = 0;
  // Under Mutex(): usedDelta > 0 takes space (kAFCNoSpace, changing nothing, when less is free);
  // < 0 gives it back. An AFC code.
  virtual int Book(int64_t usedDelta) = 0;
};

using MDAfcKeyValues = std::vector<std::pair<std::string, std::string>>;

class MDAfcFile {
 public:
  MDAfcFile(MDUniqueFd fd, bool writable) : m_fd(std::move(fd)), m_writable(writable) {}
  MDAfcFile(const MDAfcFile&) = delete;
  MDAfcFile& operator=(const MDAfcFile&) = delete;

  // Each returns an AFC code.
  int Read(void* buffer, uint32_t length, uint32_t* done);
  int Write(const void* buffer, uint32_t length, MDAfcQuota& quota, uint32_t* done);
  int Seek(int64_t offset, uint64_t whence);
  int Tell(uint64_t* position);
  int SetSize(uint64_t size, MDAfcQuota& quota);
  int Flush();
  int Lock();
  int Unlock();

 private:
  std::mutex m_mutex;  // lock order 3; guards: m_position and the descriptor's use
  MDUniqueFd m_fd;
  const bool m_writable;
  uint64_t m_position = 0;
};

class MDAfcFileSystem {
 public:
  explicit MDAfcFileSystem(std::string root) : m_root(std::move(root)) {}

  const std::string& Root() const { return m_root; }

  // Each returns an AFC code.
  // Stat keys in order: st_size, st_blocks, st_nlink, st_ifmt, st_mtime, st_birthtime (times in
  // nanoseconds since 1970), and LinkTarget for a link. A link is described, not followed.
  int Stat(const std::string& path, MDAfcKeyValues* info) const;
  // "." and ".." first, then the names in byte order.
  int List(const std::string& path, std::vector<std::string>* names) const;
  // Makes the last component; success when it is already a folder.
  int MakeDirectory(const std::string& path) const;
  // Files, links and empty folders only.
  int Remove(const std::string& path, MDAfcQuota& quota) const;
  int Rename(const std::string& from, const std::string& to, MDAfcQuota& quota) const;
  // mode 1: read only, the file must exist; mode 2: read-write, created when missing.
  int Open(const std::string& path, uint64_t mode, std::shared_ptr<MDAfcFile>* file) const;

 private:
  struct Location {
    MDUniqueFd parent;  // the folder holding `name` (O_PATH)
    std::string name;   // empty: the folder `parent` itself (the root, or a link to a folder)
  };
  int Resolve(const std::string& path, bool followFinalLink, Location* location) const;

  const std::string m_root;
};
