// Folders and paths (see hlx_paths.h).
#include "utility/hlx_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_startup_state.h"

namespace hlx {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

std::string GetModuleFilePath() { return os::Os().programPath(); }

std::string GetProgramFileName() {
  std::string path = GetModuleFilePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetProcessTempFolder(bool create) {
  std::string folder =
      LogFolderOrTemp() + "/" + GetProgramFileName() + "-" + std::to_string(os::Os().currentProcessId()) + "/";
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

bool IsPlainChildName(const std::string& name, PathSide side) {
  const std::string_view separators = side == PathSide::kPc ? std::string_view("/\\\0", 3) : std::string_view("/\0", 2);
  return !name.empty() && name != "." && name != ".." && name.find_first_of(separators) == std::string::npos;
}

namespace {

// The components of a relative path, or false when one is not a plain child name.
bool SplitInside(const std::string& relative, std::vector<std::string>* components) {
  if (relative.empty() || relative[0] == '/') return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string component = relative.substr(start, end - start);
    if (!component.empty()) {
      if (!IsPlainChildName(component)) return false;
      components->push_back(component);
    }
    start = end + 1;
  }
  return !components->empty();
}

}  // namespace

std::string JoinInside(const std::string& folder, const std::string& relative) {
  std::vector<std::string> components;
  if (!SplitInside(relative, &components)) return "";
  std::string out = folder;
  for (const std::string& component : components) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += component;
  }
  return out;
}

int OpenRegularFileInside(const std::string& folder, const std::string& relative) {
  std::vector<std::string> components;
  if (!SplitInside(relative, &components)) {
    errno = EINVAL;
    return -1;
  }
  // Component by component, each opened relative to its parent without following a link: a link
  // anywhere below the folder ends the walk, wherever it points.
  int parent = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; parent >= 0 && i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    const int child =
        ::openat(parent, components[i].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY));
    const int error = errno;
    ::close(parent);
    errno = error;
    parent = child;
  }
  if (parent < 0) return -1;
  struct stat info;
  if (::fstat(parent, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(parent);
    errno = EINVAL;
    return -1;
  }
  // O_NONBLOCK only kept a fifo from blocking the open; reads of a regular file ignore it.
  return parent;
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

std::string NumberedPathVariant(const std::string& path, int n) {
  if (n == 0) return path;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  // Only the file name's own '.' starts an extension; without one the counter ends the name.
  if (dot == std::string::npos || dot < nameStart) dot = path.size();
  return path.substr(0, dot) + "(" + std::to_string(n) + ")" + path.substr(dot);
}

std::string FirstFreePathVariant(const std::string& path, const std::function<bool(const std::string&)>& isTaken) {
  for (int n = 0; n <= kMaxPathVariant; ++n) {
    std::string candidate = NumberedPathVariant(path, n);
    if (!isTaken(candidate)) return candidate;
  }
  return std::string();
}

std::string MakeUniqueLocalPath(const std::string& path) { return FirstFreePathVariant(path, PathExists); }

std::string GetAppleMobileBackupPath() {
  const char* root = std::getenv("HLX_PROGRAM_FILES");
  std::string folder = (root != nullptr && root[0] != '\0') ? root : "/opt";
  folder = WithoutTrailingSlashes(folder);
  if (folder == "/") folder.clear();
  return folder + "/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe";
}

}  // namespace hlx
