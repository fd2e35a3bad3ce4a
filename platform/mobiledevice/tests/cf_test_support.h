// Shared pieces of the CoreFoundation library's tests: a fixture that fails a test which leaks
// objects and runs it in strict mode (so an over-release aborts), an owning holder for Create
// results, byte helpers, a temporary folder, shell commands (which the MobileDevice tests use too)
// and a runner for the plistlib fixture script.
//
// Threads: tests run on the gtest main thread only.
#pragma once

#include "cf/cf_internal.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace cf::test {

// Owns one reference to a CoreFoundation object.
template <class T = CFTypeRef>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T object) : m_object(object) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      m_object = std::exchange(other.m_object, nullptr);
    }
    return *this;
  }

  T get() const { return m_object; }
  explicit operator bool() const { return m_object != nullptr; }
  void Reset() {
    if (m_object != nullptr) CFRelease(std::exchange(m_object, nullptr));
  }

 private:
  T m_object = nullptr;
};

template <class T>
Owned<T> Own(T object) {
  return Owned<T>(object);
}

// Counts live objects around every test and runs it in strict mode.
class CFTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HLXCFSetStrictMode(1);
    m_liveAtStart = HLXCFGetLiveObjectCount();
  }
  void TearDown() override {
    EXPECT_EQ(HLXCFGetLiveObjectCount(), m_liveAtStart) << "objects leaked or over-released by this test";
  }

 private:
  int64_t m_liveAtStart = 0;
};

inline Owned<CFStringRef> Str(const char* text) {
  return Own(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

inline Owned<CFDataRef> DataOf(const std::string& bytes) {
  return Own(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size())));
}

inline std::string BytesOf(CFDataRef data) {
  if (data == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)), static_cast<size_t>(CFDataGetLength(data)));
}

inline std::string Utf8Of(CFTypeRef string) {
  size_t length = 0;
  const char* bytes = HLXCFStringGetUTF8(static_cast<CFStringRef>(string), &length);
  return bytes == nullptr ? std::string() : std::string(bytes, length);
}

// Parses property-list bytes of either format; null when refused.
inline Owned<CFPropertyListRef> Parse(const std::string& bytes, CFOptionFlags options = kCFPropertyListImmutable,
                                      CFPropertyListFormat* format = nullptr) {
  auto data = DataOf(bytes);
  return Own(CFPropertyListCreateWithData(nullptr, data.get(), options, format, nullptr));
}

// Serialises through a write stream, as the service does; empty when the library refuses.
inline std::string WriteToStream(CFPropertyListRef list, CFPropertyListFormat format) {
  auto stream = Own(CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  if (!stream || !CFWriteStreamOpen(stream.get())) return {};
  const CFIndex written = CFPropertyListWriteToStream(list, stream.get(), format, nullptr);
  auto data = Own(static_cast<CFDataRef>(CFWriteStreamCopyProperty(stream.get(), kCFStreamPropertyDataWritten)));
  CFWriteStreamClose(stream.get());
  const std::string bytes = BytesOf(data.get());
  if (written <= 0 || static_cast<size_t>(written) != bytes.size()) return {};
  return bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory under the system temporary folder, removed with its content; throws when none
// can be made.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mobiledevice_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// `text` quoted for the shell.
inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

// Runs a shell command; returns its exit status (-1 when it did not exit) and, if `output` is set,
// its standard output.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr) output->append(buffer, got);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ScriptResult {
  int exitStatus = -1;
  std::string output;
};

// Runs tools/cf_plist_fixture.py with the given arguments and collects its standard output.
inline ScriptResult RunFixtureScript(const std::vector<std::string>& arguments) {
  std::string command = Quote(HLX_PYTHON) + " " + Quote(std::string(HLX_TOOLS_DIR) + "/cf_plist_fixture.py");
  for (const auto& argument : arguments) command += " " + Quote(argument);
  ScriptResult result;
  result.exitStatus = RunShell(command, &result.output);
  return result;
}

// What plistlib reads from `bytes`: ascii() of the value, or "ERROR <name>".
inline std::string PlistlibView(const std::string& bytes) {
  TempDir dir;
  const auto file = dir.path() / "view.plist";
  WriteFile(file, bytes);
  ScriptResult result = RunFixtureScript({"dump", "--file", file.string()});
  while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
  return result.output;
}

}  // namespace cf::test
