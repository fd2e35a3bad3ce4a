// The confined file system behind AFC (see md_afc_fs.h).
// Threads: any; see the header for the locks.
#include "md/md_afc_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>

#include "md/md_codes.h"

namespace {

int AfcCodeFromErrno(int error, int fallback) {
  switch (error) {
    case ENOENT: return kAFCNotFound;
    case EACCES:
    case EPERM:
    case ELOOP:
    case EXDEV: return kAFCPermissionDenied;
    case ENOTDIR: return kAFCNotDirectory;
    case EISDIR: return kAFCObjectIsDirectory;
    case ENOTEMPTY:
    case EEXIST: return kAFCDirectoryNotEmpty;
    case ENOSPC:
    case EDQUOT: return kAFCNoSpace;
    case EINVAL:
    case ENAMETOOLONG: return kAFCInvalidArgument;
    default: return fallback;
  }
}

bool SplitCallerPath(const std::string& path, std::deque<std::string>* components, int* code) {
  if (path.empty() || path.size() > kMDAfcMaxPathBytes || path.find('\0') != std::string::npos) {
    *code = kAFCInvalidArgument;
    return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part == "..") {
      *code = kAFCPermissionDenied;  // a caller path never climbs, even when it would stay inside
      return false;
    }
    if (!part.empty() && part != ".") components->push_back(std::move(part));
    if (components->size() > kMDAfcMaxComponents) {
      *code = kAFCInvalidArgument;
      return false;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

const char* KindName(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return "S_IFDIR";
    case S_IFREG: return "S_IFREG";
    case S_IFLNK: return "S_IFLNK";
    case S_IFIFO: return "S_IFIFO";
    case S_IFSOCK: return "S_IFSOCK";
    case S_IFCHR: return "S_IFCHR";
    case S_IFBLK: return "S_IFBLK";
    default: return "S_IFREG";
  }
}

int64_t Nanoseconds(const struct statx_timestamp& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Regular-file bytes that go away when this directory entry goes (0 for folders, links and files
// that keep another hard link).
int64_t BytesFreedByUnlink(int parent, const std::string& name) {
  struct stat info {};
  if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (!S_ISREG(info.st_mode) || info.st_nlink > 1) return 0;
  return info.st_size;
}

}  // namespace

int MDAfcFileSystem::Resolve(const std::string& path, bool followFinalLink, Location* location) const {
  std::deque<std::string> pending;
  int code = kAFCSuccess;
  if (!SplitCallerPath(path, &pending, &code)) return code;

  std::vector<MDUniqueFd> folders;
  folders.emplace_back(::open(m_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folders.back().IsValid()) return kAFCNotFound;
  int hops = 0;
  while (!pending.empty()) {
    std::string name = std::move(pending.front());
    pending.pop_front();
    if (name.empty() || name == ".") continue;
    // ".." comes only from inside a link target.
    if (name == "..") {
      if (folders.size() == 1) return kAFCPermissionDenied;  // the link leads out of the root
      folders.pop_back();
      continue;
    }
    const bool last = pending.empty();
    const int current = folders.back().Get();
    struct stat info {};
    if (::fstatat(current, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last) {
        location->parent.Reset(::dup(current));
        location->name = name;
        return location->parent.IsValid() ? kAFCSuccess : kAFCUnknownError;
      }
      return AfcCodeFromErrno(errno, kAFCUnknownError);
    }
    if (S_ISLNK(info.st_mode) && (!last || followFinalLink)) {
      if (++hops > kMDAfcMaxLinkHops) return kAFCPermissionDenied;
      char target[PATH_MAX];
      ssize_t length = ::readlinkat(current, name.c_str(), target, sizeof target - 1);
      if (length <= 0) return kAFCPermissionDenied;
      target[length] = '\0';
      if (target[0] == '/') return kAFCPermissionDenied;  // names the host's file system
      std::deque<std::string> expanded;
      std::string text(target, static_cast<size_t>(length));
      size_t start = 0;
      for (;;) {
        size_t slash = text.find('/', start);
        expanded.push_back(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
      }
      if (expanded.size() + pending.size() > kMDAfcMaxComponents * 2) return kAFCInvalidArgument;
      pending.insert(pending.begin(), expanded.begin(), expanded.end());
      continue;
    }
    if (last) {
      location->parent.Reset(::dup(current));
      location->name = name;
      return location->parent.IsValid() ? kAFCSuccess : kAFCUnknownError;
    }
    if (!S_ISDIR(info.st_mode)) return kAFCNotDirectory;
    MDUniqueFd next(::openat(current, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.IsValid()) return AfcCodeFromErrno(errno, kAFCUnknownError);
    folders.push_back(std::move(next));
  }
  location->parent = std::move(folders.back());
  location->name.clear();
  return kAFCSuccess;
}

int MDAfcFileSystem::Stat(const std::string& path, MDAfcKeyValues* info) const {
  Location location;
  if (int code = Resolve(path, false, &location)) return code;
  const char* name = location.name.empty() ? "" : location.name.c_str();
  int flags = AT_SYMLINK_NOFOLLOW | (location.name.empty() ? AT_EMPTY_PATH : 0);
  struct statx details {};
  if (::statx(location.parent.Get(), name, flags, STATX_BASIC_STATS | STATX_BTIME, &details) != 0) {
    return AfcCodeFromErrno(errno, kAFCUnknownError);
  }
  // File systems without a birth time: the change time is the closest the host knows.
  const int64_t birth =
      (details.stx_mask & STATX_BTIME) ? Nanoseconds(details.stx_btime) : Nanoseconds(details.stx_ctime);
  info->clear();
  info->emplace_back("st_size", std::to_string(details.stx_size));
  info->emplace_back("st_blocks", std::to_string(details.stx_blocks));
  info->emplace_back("st_nlink", std::to_string(details.stx_nlink));
  info->emplace_back("st_ifmt", KindName(details.stx_mode));
  info->emplace_back("st_mtime", std::to_string(Nanoseconds(details.stx_mtime)));
  info->emplace_back("st_birthtime", std::to_string(birth));
  if (S_ISLNK(details.stx_mode)) {
    char target[PATH_MAX];
    ssize_t length = ::readlinkat(location.parent.Get(), name, target, sizeof target - 1);
    if (length >= 0) info->emplace_back("LinkTarget", std::string(target, static_cast<size_t>(length)));
  }
  return kAFCSuccess;
}

int MDAfcFileSystem::List(const std::string& path, std::vector<std::string>* names) const {
  Location location;
  if (int code = Resolve(path, true, &location)) return code;
  const char* name = location.name.empty() ? "." : location.name.c_str();
  MDUniqueFd folder(::openat(location.parent.Get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.IsValid()) return AfcCodeFromErrno(errno, kAFCUnknownError);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(folder.Get()), &::closedir);
  if (!dir) return kAFCUnknownError;
  folder.Release();  // owned by the DIR now
  std::vector<std::string> entries;
  while (struct dirent* entry = ::readdir(dir.get())) {
    std::string entryName = entry->d_name;
    if (entryName != "." && entryName != "..") entries.push_back(std::move(entryName));
  }
  std::sort(entries.begin(), entries.end());
  names->assign({".", ".."});
  names->insert(names->end(), entries.begin(), entries.end());
  return kAFCSuccess;
}

int MDAfcFileSystem::MakeDirectory(const std::string& path) const {
  Location location;
  if (int code = Resolve(path, false, &location)) return code;
  if (location.name.empty()) return kAFCSuccess;  // the root (or a folder reached through a link)
  if (::mkdirat(location.parent.Get(), location.name.c_str(), 0755) == 0) return kAFCSuccess;
  if (errno != EEXIST) return AfcCodeFromErrno(errno, kAFCUnknownError);
  struct stat info {};
  if (::fstatat(location.parent.Get(), location.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(info.st_mode)) {
    return kAFCSuccess;
  }
  return kAFCObjectExists;
}

int MDAfcFileSystem::Remove(const std::string& path, MDAfcQuota& quota) const {
  Location location;
  if (int code = Resolve(path, false, &location)) return code;
  if (location.name.empty()) return kAFCPermissionDenied;  // never the root
  std::lock_guard<std::mutex> booking(quota.Mutex());
  struct stat info {};
  if (::fstatat(location.parent.Get(), location.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return AfcCodeFromErrno(errno, kAFCUnknownError);
  }
  if (S_ISDIR(info.st_mode)) {
    if (::unlinkat(location.parent.Get(), location.name.c_str(), AT_REMOVEDIR) != 0) {
      return AfcCodeFromErrno(errno, kAFCUnknownError);
    }
    return kAFCSuccess;
  }
  const int64_t freed = BytesFreedByUnlink(location.parent.Get(), location.name);
  if (::unlinkat(location.parent.Get(), location.name.c_str(), 0) != 0) {
    return AfcCodeFromErrno(errno, kAFCUnknownError);
  }
  if (freed > 0 && quota.Book(-freed) != kAFCSuccess) {
    MDLog("could not book %lld freed bytes", static_cast<long long>(freed));
  }
  return kAFCSuccess;
}

int MDAfcFileSystem::Rename(const std::string& from, const std::string& to, MDAfcQuota& quota) const {
  Location source, target;
  if (int code = Resolve(from, false, &source)) return code;
  if (int code = Resolve(to, false, &target)) return code;
  if (source.name.empty() || target.name.empty()) return kAFCPermissionDenied;
  std::lock_guard<std::mutex> booking(quota.Mutex());
  struct stat sourceInfo {};
  struct stat targetInfo {};
  if (::fstatat(source.parent.Get(), source.name.c_str(), &sourceInfo, AT_SYMLINK_NOFOLLOW) != 0) {
    return AfcCodeFromErrno(errno, kAFCUnknownError);
  }
  int64_t freed = 0;
  if (::fstatat(target.parent.Get(), target.name.c_str(), &targetInfo, AT_SYMLINK_NOFOLLOW) == 0 &&
      !(targetInfo.st_ino == sourceInfo.st_ino && targetInfo.st_dev == sourceInfo.st_dev)) {
    freed = BytesFreedByUnlink(target.parent.Get(), target.name);
  }
  if (::renameat(source.parent.Get(), source.name.c_str(), target.parent.Get(), target.name.c_str()) != 0) {
    return errno == EINVAL ? kAFCInvalidArgument : AfcCodeFromErrno(errno, kAFCUnknownError);
  }
  if (freed > 0 && quota.Book(-freed) != kAFCSuccess) {
    MDLog("could not book %lld freed bytes", static_cast<long long>(freed));
  }
  return kAFCSuccess;
}

int MDAfcFileSystem::Open(const std::string& path, uint64_t mode, std::shared_ptr<MDAfcFile>* file) const {
  if (mode != kAFCFileModeRead && mode != kAFCFileModeReadWrite) return kAFCInvalidArgument;
  Location location;
  if (int code = Resolve(path, true, &location)) return code;
  if (location.name.empty()) return kAFCObjectIsDirectory;
  const bool writable = mode == kAFCFileModeReadWrite;
  int flags = (writable ? (O_RDWR | O_CREAT) : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  MDUniqueFd fd(::openat(location.parent.Get(), location.name.c_str(), flags, 0644));
  if (!fd.IsValid()) return AfcCodeFromErrno(errno, kAFCUnknownError);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return kAFCUnknownError;
  if (S_ISDIR(info.st_mode)) return kAFCObjectIsDirectory;
  if (!S_ISREG(info.st_mode)) return kAFCInvalidArgument;  // fifos and devices could block for ever
  *file = std::make_shared<MDAfcFile>(std::move(fd), writable);
  return kAFCSuccess;
}

int MDAfcFile::Read(void* buffer, uint32_t length, uint32_t* done) {
  std::lock_guard<std::mutex> lock(m_mutex);
  *done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (*done < length) {
    ssize_t n = ::pread(m_fd.Get(), bytes + *done, length - *done, static_cast<off_t>(m_position));
    if (n < 0) {
      if (errno == EINTR) continue;
      return kAFCReadError;
    }
    if (n == 0) break;
    *done += static_cast<uint32_t>(n);
    m_position += static_cast<uint64_t>(n);
  }
  return kAFCSuccess;
}

int MDAfcFile::Write(const void* buffer, uint32_t length, MDAfcQuota& quota, uint32_t* done) {
  std::lock_guard<std::mutex> lock(m_mutex);
  *done = 0;
  if (!m_writable) return kAFCPermissionDenied;
  if (length == 0) return kAFCSuccess;
  if (m_position > static_cast<uint64_t>(INT64_MAX) - length) return kAFCInvalidArgument;
  std::lock_guard<std::mutex> booking(quota.Mutex());
  struct stat info {};
  if (::fstat(m_fd.Get(), &info) != 0) return kAFCWriteError;
  const uint64_t end = m_position + length;
  const int64_t growth = end > static_cast<uint64_t>(info.st_size) ? static_cast<int64_t>(end - info.st_size) : 0;
  if (growth > 0) {
    if (int code = quota.Book(growth)) return code;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int code = kAFCSuccess;
  while (*done < length) {
    ssize_t n = ::pwrite(m_fd.Get(), bytes + *done, length - *done, static_cast<off_t>(m_position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      code = n < 0 ? AfcCodeFromErrno(errno, kAFCWriteError) : kAFCWriteError;
      break;
    }
    *done += static_cast<uint32_t>(n);
    m_position += static_cast<uint64_t>(n);
  }
  if (code != kAFCSuccess && growth > 0) {
    // Give back what the failed write did not use.
    struct stat after {};
    int64_t used = ::fstat(m_fd.Get(), &after) == 0 ? after.st_size - info.st_size : 0;
    if (used < growth) quota.Book(-(growth - std::max<int64_t>(used, 0)));
  }
  return code;
}

int MDAfcFile::Seek(int64_t offset, uint64_t whence) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int64_t base = 0;
  switch (whence) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(m_position); break;
    case 2: {
      struct stat info {};
      if (::fstat(m_fd.Get(), &info) != 0) return kAFCUnknownError;
      base = info.st_size;
      break;
    }
    default: return kAFCInvalidArgument;
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return kAFCInvalidArgument;
  m_position = static_cast<uint64_t>(base + offset);
  return kAFCSuccess;
}

int MDAfcFile::Tell(uint64_t* position) {
  std::lock_guard<std::mutex> lock(m_mutex);
  *position = m_position;
  return kAFCSuccess;
}

int MDAfcFile::SetSize(uint64_t size, MDAfcQuota& quota) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_writable) return kAFCPermissionDenied;
  if (size > static_cast<uint64_t>(INT64_MAX)) return kAFCInvalidArgument;
  std::lock_guard<std::mutex> booking(quota.Mutex());
  struct stat info {};
  if (::fstat(m_fd.Get(), &info) != 0) return kAFCUnknownError;
  const int64_t delta = static_cast<int64_t>(size) - info.st_size;
  if (delta > 0) {
    if (int code = quota.Book(delta)) return code;
  }
  if (::ftruncate(m_fd.Get(), static_cast<off_t>(size)) != 0) {
    if (delta > 0) quota.Book(-delta);
    return AfcCodeFromErrno(errno, kAFCWriteError);
  }
  if (delta < 0) quota.Book(delta);
  return kAFCSuccess;
}

int MDAfcFile::Flush() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ::fdatasync(m_fd.Get()) == 0 ? kAFCSuccess : kAFCWriteError;
}

int MDAfcFile::Lock() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) == 0) return kAFCSuccess;
  return errno == EWOULDBLOCK ? kAFCObjectBusy : kAFCUnknownError;
}

int MDAfcFile::Unlock() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ::flock(m_fd.Get(), LOCK_UN) == 0 ? kAFCSuccess : kAFCUnknownError;
}
