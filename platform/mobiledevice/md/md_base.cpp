// Descriptor ownership, logging, bounded reads, atomic writes and the image lock (see md_base.h).
// Threads: any; the only shared state is the handle counter (atomic) and the log switch (read once).
#include "md/md_base.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

MDUniqueFd& MDUniqueFd::operator=(MDUniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

MDUniqueFd::~MDUniqueFd() { Reset(); }

int MDUniqueFd::Release() {
  int fd = m_fd;
  m_fd = -1;
  return fd;
}

void MDUniqueFd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

namespace {

bool IsLoggingOn() {
  static std::once_flag once;
  static bool on = false;
  std::call_once(once, [] {
    const char* value = std::getenv("HLX_MD_LOG");
    on = value != nullptr && std::strcmp(value, "1") == 0;
  });
  return on;
}

}  // namespace

void MDLog(const char* format, ...) {
  if (!IsLoggingOn()) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "[mobiledevice] %s\n", line);
}

int MDReadFile(const std::string& path, size_t maxBytes, std::string* contents) {
  MDUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return errno;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EINVAL;
  if (static_cast<uint64_t>(info.st_size) > maxBytes) return EFBIG;
  std::string data;
  data.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::read(fd.Get(), &data[done], data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // shrank while we read: keep what was there
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  *contents = std::move(data);
  return 0;
}

int MDWriteFileAtomic(const std::string& path, const std::string& contents) {
  static std::atomic<uint64_t> counter{0};
  std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
  MDUniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.IsValid()) return errno;
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = ::write(fd.Get(), contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      ::unlink(temp.c_str());
      return error;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd.Release()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    return error;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    return error;
  }
  return 0;
}

int MDGetFileIdentity(const std::string& path, MDFileIdentity* identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  identity->device = info.st_dev;
  identity->inode = info.st_ino;
  identity->size = info.st_size;
  identity->mtimeNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return 0;
}

MDImageLock::MDImageLock(const std::string& folder) : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (!m_fd.IsValid()) return;
  while (::flock(m_fd.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return;
  }
  m_held = true;
}

MDImageLock::~MDImageLock() {
  if (m_held) ::flock(m_fd.Get(), LOCK_UN);
}

uintptr_t MDNextHandleValue() {
  // Starts above the first page and steps by 16 so values look like aligned addresses in logs.
  static std::atomic<uintptr_t> next{0x10000};
  return next.fetch_add(16);
}
