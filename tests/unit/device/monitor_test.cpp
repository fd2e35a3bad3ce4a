// The device monitor against the simulated library, each case in a fresh process (the monitor,
// the binding and the library are process-wide): a second start neither subscribes again nor
// announces a device twice; the monitor's start codes.
#include "utility/ios/hlx_device_monitor.h"

#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "unit/device/device_test_support.h"
#include "utility/hlx_device.h"
#include "utility/hlx_reply_code.h"

namespace hlx {
namespace {

class CountingCallback : public HLXDeviceCallback {
 public:
  void OnDeviceEvent(const std::shared_ptr<HLXDevice>& device, int event) override {
    if (event == HLXDeviceMonitor::kEventReady) {
      lastUdid = device->Udid();
      ready.fetch_add(1);
    }
  }
  std::atomic<int> ready{0};
  std::string lastUdid;
};

// The lab of one process: registry file, device root with one image, and (optionally) the device
// support service stand-in. Returns the stand-in's pid (0 when not started).
int32_t SetUpLab(const test::TempFolder& folder, bool startService) {
  const std::string registry = folder / "registry.txt";
  test::WriteFile(registry, test::RegistryText(test::SimulatedHostLibrary(), test::SimulatedDeviceLibrary()));
  setenv("HLX_REGISTRY_FILE", registry.c_str(), 1);
  setenv("HLX_PROGRAM_FILES", test::ProgramFilesRootOf(test::AppleSupportDir()).c_str(), 1);
  const std::string root = folder / "devices";
  os::Os().createDirectories(root);
  setenv("HLX_DEVICE_ROOT", root.c_str(), 1);
  int status = -1;
  test::ShellOutput(test::Python() + " " + test::ShellQuote(test::ToolPath("make_device_image.py")) + " " +
                        test::ShellQuote(root + "/MONITOR-1") + " --udid MONITOR-1 >/dev/null 2>&1",
                    &status);
  if (status != 0 || !startService) return 0;
  return os::Os().spawnProcess({test::AppleSupportDir() + "/AppleMobileDeviceService.exe"}, {}).pid;
}

// Waits until the library has scanned its root a few more times, so that anything a second
// subscription would have announced has been posted.
bool LetTheLibraryScan() {
  void* library = dlopen(test::SimulatedDeviceLibrary().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!library) return false;
  auto getCount = reinterpret_cast<uint64_t (*)()>(dlsym(library, "HLXMDTestGetScanCount"));
  auto waitFor = reinterpret_cast<int (*)(uint64_t, int)>(dlsym(library, "HLXMDTestWaitForScans"));
  bool done = getCount && waitFor && waitFor(getCount() + 3, 20000) == 0;
  dlclose(library);
  return done;
}

TEST(HLXDeviceMonitor, SecondStartDoesNotSubscribeOrAnnounceAgain) {
  test::ExpectInFreshProcess(
      [] {
        test::TempFolder folder;
        const int32_t service = SetUpLab(folder, true);
        if (service == 0) return 10;
        CountingCallback callback;
        HLXDeviceMonitor& monitor = HLXDeviceMonitor::GetInstance();
        monitor.AddCallback(&callback);
        int result = 0;
        if (monitor.Start() != kReplySuccess || monitor.Start() != kReplySuccess) result = 11;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (result == 0 && callback.ready.load() == 0 && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::yield();
        }
        if (result == 0 && callback.ready.load() != 1) result = 12;
        if (result == 0 && !LetTheLibraryScan()) result = 13;
        if (result == 0 && callback.ready.load() != 1) result = 14;  // announced twice
        if (result == 0 && !monitor.FindDeviceByUdid("MONITOR-1")) result = 15;
        if (result == 0 && monitor.FindDeviceByUdid("monitor-1")) result = 16;  // case-sensitive
        os::Os().terminateProcess(service);
        return result;
      },
      0);
}

TEST(HLXDeviceMonitor, StartWithoutTheDeviceSupportServiceGives14) {
  test::ExpectInFreshProcess(
      [] {
        test::TempFolder folder;
        SetUpLab(folder, false);
        // Other tests may run the stand-in beside this one: this process sees none.
        os::Os().listProcesses = [](std::vector<os::ProcessEntry>* out) {
          out->clear();
          return true;
        };
        return HLXDeviceMonitor::GetInstance().Start() == kReplyServiceNotRunning ? 0 : 1;
      },
      0);
}

}  // namespace
}  // namespace hlx
