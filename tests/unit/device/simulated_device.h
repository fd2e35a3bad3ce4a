// One simulated device for the device-link and AFC tests: an image made by tools/make_device_image.py
// (its state.json patched before it is attached, for quotas and faults), attached under a device root
// of its own, and the library calls that bring it to a started service or an AFC connection. Only
// the binding's slots are called, plus two switches of the library's test-control interface.
//
// Threads: made and used on the test's thread; the arrival and removal callbacks come on the
// library's notification thread and are waited for with a deadline.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "unit/device/device_test_support.h"

namespace hlx::test {

class SimulatedDevice {
 public:
  struct Options {
    std::vector<std::string> imageArgs;  // more arguments of make_device_image.py
    std::string statePatch;              // a JSON object whose members replace those of state.json
  };

  SimulatedDevice() = default;
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  ~SimulatedDevice() {
    CMobileExportFun& md = CMobileExportFun::GetInstance();
    if (m_afc != nullptr) (void)md.AFCConnectionClose(m_afc);
    for (AMDServiceConnectionRef service : m_services) md.AMDServiceConnectionInvalidate(service);
    if (m_sessionStarted) (void)md.AMDeviceStopSession(m_device);
    if (m_connected) (void)md.AMDeviceDisconnect(m_device);
    if (m_subscription != nullptr) (void)md.AMDeviceNotificationUnsubscribe(m_subscription);
    if (m_setRoot != nullptr) m_setRoot(nullptr);
  }

  // Makes the image and waits for the library to announce it. False, with *error, on any failure.
  bool Attach(const Options& options, std::string* error) {
    if (!BindSimulatedLibrary()) return Fail(error, "the simulated library does not bind");
    void* library = dlopen(SimulatedDeviceLibrary().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return Fail(error, "the device library is not loaded");
    m_setRoot = reinterpret_cast<void (*)(const char*)>(dlsym(library, "HLXMDTestSetDeviceRoot"));
    m_getUdid = reinterpret_cast<int (*)(AMDeviceRef, char*, size_t)>(dlsym(library, "HLXMDTestGetDeviceUdid"));
    dlclose(library);
    if (m_setRoot == nullptr || m_getUdid == nullptr) return Fail(error, "no test-control exports");

    const std::string staging = m_folder / m_udid;
    std::string command =
        Python() + " " + ShellQuote(ToolPath("make_device_image.py")) + " " + ShellQuote(staging) + " --udid " + m_udid;
    for (const std::string& arg : options.imageArgs) command += " " + ShellQuote(arg);
    int status = -1;
    std::string output = ShellOutput(command + " 2>&1", &status);
    if (status != 0) return Fail(error, "make_device_image.py: " + output);
    if (!options.statePatch.empty()) {
      const char* patch =
          "import json,sys\n"
          "path=sys.argv[1]\n"
          "state=json.load(open(path))\n"
          "state.update(json.loads(sys.argv[2]))\n"
          "open(path,'w').write(json.dumps(state))\n";
      output = ShellOutput(Python() + " -c " + ShellQuote(patch) + " " + ShellQuote(staging + "/state.json") + " " +
                               ShellQuote(options.statePatch) + " 2>&1",
                           &status);
      if (status != 0) return Fail(error, "state patch: " + output);
    }
    // The complete image moves into the root in one step: it is never seen half made.
    const std::string root = m_folder / "devices";
    m_image = root + "/" + m_udid;
    if (!os::Os().createDirectories(root) || std::rename(staging.c_str(), m_image.c_str()) != 0) {
      return Fail(error, "cannot attach the image");
    }
    m_setRoot(root.c_str());

    CMobileExportFun& md = CMobileExportFun::GetInstance();
    if (md.AMDeviceNotificationSubscribe(&SimulatedDevice::OnNotification, 0, 0, this, &m_subscription) != 0) {
      return Fail(error, "subscription failed");
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_arrived != nullptr; })) {
      return Fail(error, "the device did not arrive");
    }
    m_device = m_arrived;
    return true;
  }

  AMDeviceRef device() const { return m_device; }
  const std::string& Udid() const { return m_udid; }
  // The image folder while the device is attached.
  const std::string& ImageFolder() const { return m_image; }
  // The PC path of a device path: the image's fs/ folder is what AFC serves.
  std::string FsPath(const std::string& devicePath) const { return m_image + "/fs" + devicePath; }

  // Starts a service under a lockdown session; null on failure. The harness invalidates it.
  AMDServiceConnectionRef StartService(const std::string& name) {
    CMobileExportFun& md = CMobileExportFun::GetInstance();
    if (!m_connected) {
      if (md.AMDeviceConnect(m_device) != 0) return nullptr;
      m_connected = true;
    }
    if (!m_sessionStarted) {
      if (md.AMDeviceValidatePairing(m_device) != 0 || md.AMDeviceStartSession(m_device) != 0) return nullptr;
      m_sessionStarted = true;
    }
    AMDServiceConnectionRef service = nullptr;
    CFPtr<CFStringRef> cfName(md.CFStringCreateWithCString(nullptr, name.c_str(), kCFStringEncodingUTF8));
    if (md.AMDeviceSecureStartService(m_device, cfName.get(), nullptr, &service) != 0 || service == nullptr) {
      return nullptr;
    }
    m_services.push_back(service);
    return service;
  }

  // The AFC connection over "com.apple.afc", opened on first use; null on failure.
  AFCConnectionRef Afc() {
    if (m_afc != nullptr) return m_afc;
    AMDServiceConnectionRef service = StartService("com.apple.afc");
    if (service == nullptr) return nullptr;
    CMobileExportFun& md = CMobileExportFun::GetInstance();
    AFCConnectionRef afc = nullptr;
    if (md.AFCConnectionOpen(md.AMDServiceConnectionGetSocket(service), 0, &afc) != 0) return nullptr;
    m_afc = afc;
    return m_afc;
  }

  // Whether the library announced the device's removal.
  bool IsGone() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gone;
  }

 private:
  static void OnNotification(am_device_notification_callback_info* info, void* context) {
    auto* self = static_cast<SimulatedDevice*>(context);
    char udid[160];
    if (self->m_getUdid(info->dev, udid, sizeof(udid)) != 0 || self->m_udid != udid) return;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    if (info->msg == kAMDeviceNotificationConnected) self->m_arrived = info->dev;
    if (info->msg == kAMDeviceNotificationDisconnected) self->m_gone = true;
    self->m_changed.notify_all();
  }

  static bool Fail(std::string* error, const std::string& message) {
    *error = message;
    return false;
  }

  TempFolder m_folder;
  const std::string m_udid = "hlxtest00000000000000000000000000000001";
  std::string m_image;
  void (*m_setRoot)(const char*) = nullptr;
  int (*m_getUdid)(AMDeviceRef, char*, size_t) = nullptr;
  AMDeviceNotificationRef m_subscription = nullptr;
  AMDeviceRef m_device = nullptr;
  bool m_connected = false;
  bool m_sessionStarted = false;
  std::vector<AMDServiceConnectionRef> m_services;
  AFCConnectionRef m_afc = nullptr;

  std::mutex m_mutex;
  // guards: m_arrived, m_gone
  std::condition_variable m_changed;
  AMDeviceRef m_arrived = nullptr;
  bool m_gone = false;
};

}  // namespace hlx::test
