// AppleMobileBackup.exe: the desktop backup tool, standing where the platform installs it, built on
// the service's own backup protocol (utility/hlx_backup_protocol.h) and the device library that the
// registry store names. Two forms, each an argument vector (nothing is parsed from a shell line):
//
//   -b --target <udid> -q <folder> [--layout flat|3d|snapshot]
//       backs the device up into <folder><udid>/; the layout (or $HLX_BACKUP_TOOL_LAYOUT) places
//       the data files flat, in "xx/" sub-folders or below "Snapshot/"; without one they land where
//       the device names them;
//   --change <password> --target <udid>
//       sets the device's backup password ("" turns backup encryption off).
//
// Exit codes: 0 done; 64 bad arguments; 65 the device library did not load; 66 no such device
// within 10 s; otherwise the session's reply code.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_backup_protocol.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_reply_code.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitNoLibrary = 65;
constexpr int kExitNoDevice = 66;
constexpr auto kDeviceWait = std::chrono::seconds(10);

std::mutex g_mutex;
std::condition_variable g_arrival;
std::vector<AMDeviceRef> g_arrived;  // guarded by g_mutex

void OnNotification(am_device_notification_callback_info* info, void*) {
  if (info == nullptr || info->dev == nullptr || info->msg != kAMDeviceNotificationConnected) return;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_arrived.push_back(info->dev);
  }
  g_arrival.notify_one();
}

// The attached device whose UDID is `udid`, or null after the wait.
std::shared_ptr<hlx::HLXDevice> FindDevice(const std::string& udid) {
  hlx::CMobileExportFun& md = hlx::CMobileExportFun::GetInstance();
  AMDeviceNotificationRef subscription = nullptr;
  if (md.AMDeviceNotificationSubscribe(&OnNotification, 0, 0, nullptr, &subscription) != 0) return nullptr;
  const auto deadline = std::chrono::steady_clock::now() + kDeviceWait;
  size_t seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<AMDeviceRef> fresh;
    {
      // Woken by the arrival itself: the backup starts as soon as the library announces the device.
      std::unique_lock<std::mutex> lock(g_mutex);
      g_arrival.wait_until(lock, deadline, [&] { return g_arrived.size() > seen; });
      fresh.assign(g_arrived.begin() + static_cast<std::ptrdiff_t>(seen), g_arrived.end());
      seen = g_arrived.size();
    }
    for (AMDeviceRef handle : fresh) {
      int32_t error = 0;
      std::shared_ptr<hlx::HLXDeviceSession> session = hlx::GetDeviceSession(handle, &error);
      std::string text;
      if (!session || !hlx::GetLockdownText(handle, "UniqueDeviceID", &text) || text != udid) continue;
      auto device = std::make_shared<hlx::HLXDevice>(handle);
      hlx::DeviceProperties properties = device->Properties();
      properties.udid = text;
      device->SetProperties(properties);
      device->SetState(hlx::HLXDevice::kStateReady);
      return device;
    }
  }
  return nullptr;
}

bool IsFileId(const std::string& name) {
  return name.size() == 40 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The device path of an uploaded file in the chosen layout.
std::string PlaceInLayout(const std::string& layout, const std::string& udid, const std::string& devicePath) {
  const std::string name = devicePath.substr(devicePath.rfind('/') + 1);
  const std::string root = layout == "snapshot" ? udid + "/Snapshot/" : udid + "/";
  if (layout == "flat" || !IsFileId(name)) return root + name;
  return root + name.substr(0, 2) + "/" + name;
}

// Ends the process without unloading the device library, whose threads may still run.
[[noreturn]] void Exit(int code) {
  std::fflush(nullptr);
  _exit(code);
}

int Usage() {
  std::fprintf(stderr,
               "usage: AppleMobileBackup.exe -b --target UDID -q FOLDER [--layout flat|3d|snapshot]\n"
               "       AppleMobileBackup.exe --change PASSWORD --target UDID\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool backup = false;
  bool change = false;
  std::string udid, folder, password;
  const char* layoutVariable = std::getenv("HLX_BACKUP_TOOL_LAYOUT");
  std::string layout = layoutVariable != nullptr ? layoutVariable : "";
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "-b") {
      backup = true;
    } else if (args[i] == "--change" && hasValue) {
      change = true;
      password = args[++i];
    } else if (args[i] == "--target" && hasValue) {
      udid = args[++i];
    } else if (args[i] == "-q" && hasValue) {
      folder = args[++i];
    } else if (args[i] == "--layout" && hasValue) {
      layout = args[++i];
    } else {
      return Usage();
    }
  }
  if (backup == change || udid.empty() || (backup && folder.empty())) return Usage();
  if (!layout.empty() && layout != "flat" && layout != "3d" && layout != "snapshot") return Usage();
  if (!hlx::CMobileExportFun::GetInstance().Init()) Exit(kExitNoLibrary);
  std::shared_ptr<hlx::HLXDevice> device = FindDevice(udid);
  if (!device) Exit(kExitNoDevice);

  hlx::HLXBackupProtocol protocol(device);
  hlx::BackupSessionResult result;
  if (change) {
    result = protocol.ChangePassword(password);
  } else {
    if (folder.back() != '/') folder += '/';
    hlx::BackupSessionOptions options;
    options.backupFolder = folder + udid + "/";
    if (!hlx::os::Os().createDirectories(options.backupFolder)) Exit(hlx::kReplyTaskError);
    if (!layout.empty()) {
      options.placeUpload = [&](const std::string& path) { return PlaceInLayout(layout, udid, path); };
    }
    result = protocol.Backup(options);
  }
  if (result.code != 0) std::fprintf(stderr, "AppleMobileBackup: %d %s\n", result.code, result.text.c_str());
  Exit(result.code == 0 ? 0 : ((result.code & 0xff) != 0 ? (result.code & 0xff) : 1));
}
