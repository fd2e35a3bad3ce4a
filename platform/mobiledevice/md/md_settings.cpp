// Settings of the library (see md_settings.h). Threads: any; one leaf mutex guards the overrides and
// the values read from the environment once.
#include "md/md_settings.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

struct Settings {
  std::mutex mutex;  // guards: everything below (leaf)
  bool environmentRead = false;
  std::string environmentRoot;
  int environmentTimeoutMs = 0;
  std::optional<std::string> rootOverride;
  int timeoutOverrideMs = 0;
};

Settings& GetSettings() {
  static Settings* settings = new Settings();  // never destroyed: threads of the library may outlive main
  return *settings;
}

void ReadEnvironmentLocked(Settings& settings) {
  if (settings.environmentRead) return;
  settings.environmentRead = true;
  if (const char* root = std::getenv("HLX_DEVICE_ROOT")) settings.environmentRoot = root;
  if (const char* timeout = std::getenv("HLX_MD_RECEIVE_TIMEOUT_MS")) {
    char* end = nullptr;
    long value = std::strtol(timeout, &end, 10);
    if (end != timeout && *end == '\0' && value > 0 && value <= 24L * 3600 * 1000) {
      settings.environmentTimeoutMs = static_cast<int>(value);
    }
  }
}

}  // namespace

std::string MDGetDeviceRoot() {
  Settings& settings = GetSettings();
  std::lock_guard<std::mutex> lock(settings.mutex);
  ReadEnvironmentLocked(settings);
  return settings.rootOverride ? *settings.rootOverride : settings.environmentRoot;
}

void MDSetDeviceRootOverride(const char* root) {
  Settings& settings = GetSettings();
  std::lock_guard<std::mutex> lock(settings.mutex);
  if (root == nullptr) {
    settings.rootOverride.reset();
  } else {
    settings.rootOverride = std::string(root);
  }
}

int MDGetReceiveTimeoutMs() {
  Settings& settings = GetSettings();
  std::lock_guard<std::mutex> lock(settings.mutex);
  ReadEnvironmentLocked(settings);
  if (settings.timeoutOverrideMs > 0) return settings.timeoutOverrideMs;
  if (settings.environmentTimeoutMs > 0) return settings.environmentTimeoutMs;
  return kMDDefaultReceiveTimeoutMs;
}

void MDSetReceiveTimeoutOverrideMs(int timeoutMs) {
  Settings& settings = GetSettings();
  std::lock_guard<std::mutex> lock(settings.mutex);
  settings.timeoutOverrideMs = timeoutMs > 0 ? timeoutMs : 0;
}
