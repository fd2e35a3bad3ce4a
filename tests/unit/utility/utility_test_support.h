// Helpers for the utility tests: a temporary folder per test, files, shell-quoted commands run
// through popen (independently of the service's own process runner), and the Python interpreter
// and tools folder that the build hands over.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "os/hlx_os.h"

namespace hlx::test {

// A fresh folder under the temporary path, deleted with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = hlx::os::Os().tempPath() + "hlx-utility-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempFolder() {
    if (!m_path.empty()) hlx::os::Os().deleteTree(m_path);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Single quotes for /bin/sh.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Runs a /bin/sh command line with popen; its standard output, and its exit status in *status.
inline std::string ShellOutput(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

inline std::string Python() { return ShellQuote(HLX_PYTHON); }
inline std::string ToolPath(const std::string& name) { return std::string(HLX_TOOLS_DIR) + "/" + name; }

// Seeded bytes: `compressible` ones repeat short runs so that zlib has work to do.
inline std::string SeededBytes(size_t count, uint32_t seed, bool compressible) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>(compressible ? "abcdefgh"[(random() >> 7) % 8] : random() & 0xFF);
  }
  return bytes;
}

// Sets an environment variable for one test and puts the old value back at its end.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    const char* old = std::getenv(name);
    m_hadOld = old != nullptr;
    if (m_hadOld) m_old = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_hadOld) {
      setenv(m_name.c_str(), m_old.c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::string m_old;
  bool m_hadOld = false;
};

// The process's time zone for one scope (TZ set and tzset called both ways).
class PinnedZone {
 public:
  explicit PinnedZone(const char* zone) : m_tz("TZ", zone) { tzset(); }
  ~PinnedZone() { tzset(); }
  PinnedZone(const PinnedZone&) = delete;
  PinnedZone& operator=(const PinnedZone&) = delete;

 private:
  ScopedEnv m_tz;
};

}  // namespace hlx::test
