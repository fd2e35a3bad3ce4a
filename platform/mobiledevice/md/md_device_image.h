// The device-image reader: one attached device is a folder named by its UDID under the device root,
// holding state.json (pairing, trust, lock, interface, free space, offered services, faults),
// counters.json (what the library counted: service start attempts, pairing prompts) and
// lockdown.plist (read by md_lockdown_store). This file parses and edits the two JSON files and
// knows nothing of sessions, services or AFC. Layout and keys: platform/mobiledevice/README.md.
//
// Edits are read-modify-write cycles under MDImageLock (the control tool takes the same lock) and
// replace the file by rename, so readers never see half a file.
// Threads: any; the parsed state is cached per image under m_cacheMutex (lock order place 6).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "md/md_base.h"

// Scripted frames of the test service "com.hlx.test.frames" (see md_service_test_frames.cpp).
struct MDTestFrameScript {
  bool present = false;
  std::vector<uint64_t> sizes;  // body sizes, each frame sent as a 4-byte big-endian length and the body
  uint32_t chunkBytes = 4096;   // the device writes the stream in pieces of at most this many bytes
  bool closeAtEnd = true;       // false: stay silent and open after the last frame
  bool sendOnConnect = false;   // true: send at once; false: after the first request frame
};

// Faults that the image asks the library to inject. Call numbers count per device arrival, from 1.
struct MDFaultPlan {
  std::map<std::string, std::vector<uint64_t>> failCalls;  // function name -> call numbers that fail
  std::map<std::string, uint64_t> detachOnCall;            // function name -> call number that detaches
  int64_t dropAfterAfcReadBytes = -1;                      // an AFC connection breaks after reading this many bytes
  int64_t dropAfterAfcWriteBytes = -1;                     // ... after writing this many bytes
  int64_t dropAfterServiceStreamBytes = -1;                // a service's device side hangs up after sending this many
};

enum : int { kMDInterfaceUsb = 1, kMDInterfaceWiFi = 2 };

struct MDDeviceState {
  bool paired = true;
  bool trusted = true;
  bool passcodeLocked = false;
  bool jailbroken = false;
  int interfaceType = kMDInterfaceUsb;
  std::string model;
  int64_t totalBytes = 8LL << 30;
  int64_t freeBytes = 8LL << 30;
  std::vector<std::string> services;     // offered beyond "com.apple.afc" (and "com.apple.afc2" when jailbroken)
  std::vector<std::string> sslServices;  // services whose connection reports a secure I/O context
  bool refuseSetValue = false;
  MDTestFrameScript testFrames;
  MDFaultPlan faults;
};

// Limits on what is read from an image; bigger files are refused as malformed.
constexpr size_t kMDMaxStateFileBytes = 1 << 20;
constexpr uint64_t kMDMaxScriptFrameBytes = 64ull << 20;  // 6x the largest frame a device-link peer accepts
constexpr size_t kMDMaxScriptFrames = 1024;

// Parses the text of a state.json. Missing keys keep their defaults; a key of the wrong type, an
// out-of-range value or text that is not a JSON object gives false.
[[nodiscard]] bool MDParseDeviceState(const std::string& json, MDDeviceState* state);

class MDDeviceImage {
 public:
  explicit MDDeviceImage(std::string folder);
  MDDeviceImage(const MDDeviceImage&) = delete;
  MDDeviceImage& operator=(const MDDeviceImage&) = delete;

  const std::string& Folder() const { return m_folder; }
  std::string PathOf(const char* name) const { return m_folder + "/" + name; }

  // 0, ENOENT (no state file: the image is gone or not finished) or EINVAL (malformed).
  [[nodiscard]] int LoadState(MDDeviceState* state) const;
  // Frees the parsed state; the next LoadState parses the file again.
  void ReleaseCache();

  // Books a change of used space against "freeBytes" (usedDelta < 0 gives space back). The figure
  // does not go below 0: space already used cannot be refused after the fact. 0 or an errno.
  [[nodiscard]] int ChangeUsedBytes(int64_t usedDelta);
  // Sets "paired" (AMDevicePair on a trusted device).
  [[nodiscard]] int SetPaired(bool paired);
  // counters.json: {"serviceStartAttempts": {name: n}, "pairPrompts": n}.
  [[nodiscard]] int CountServiceStartAttempt(const std::string& serviceName);
  [[nodiscard]] int CountPairPrompt();
  // Hands out `count` consecutive numbers of the counter counters.json["ranges"][name], starting at
  // the larger of the counter and `floor`, and moves the counter past them: numbers handed out are
  // never handed out again, also when the caller drops them (the synchronisation service's record
  // ids). 0 or an errno; *first is set only on success.
  [[nodiscard]] int TakeCounterRange(const std::string& name, int64_t floor, int64_t count, int64_t* first);

 private:
  const std::string m_folder;
  mutable std::mutex m_cacheMutex;  // guards: m_cachedIdentity, m_cachedState, m_hasCache (lock order 6)
  mutable bool m_hasCache = false;
  mutable MDFileIdentity m_cachedIdentity;
  mutable MDDeviceState m_cachedState;
};
