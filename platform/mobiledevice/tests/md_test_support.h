// Shared helpers of the MobileDevice tests: temporary device roots, images made by the seeded maker
// script (tools/make_device_image.py), the control tool (tools/hlx_device.py), a recorder of device
// notifications with deadline waits, and RAII holders for sessions, services and CF objects.
// Threads: the recorder's callback runs on the library's notification thread; everything else on
// the test thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cf/cf_internal.h"
#include "cf_test_support.h"
#include "md/md_codes.h"
#include "md/md_test_control.h"
#include "mobiledevice.h"

namespace md::test {

constexpr std::chrono::seconds kDeadline{15};

using cf::test::Quote;
using cf::test::RunShell;
using cf::test::TempDir;

// Runs Python code with the project's interpreter; returns standard output without the final newline.
std::string Python(const std::string& code);

// Makes an image folder with the maker; `args` are its options.
void MakeImage(const std::string& folder, const std::vector<std::string>& args);
// Runs the control tool against a root; returns its exit status.
int DeviceTool(const std::string& root, const std::vector<std::string>& args);

std::string DeviceUdid(AMDeviceRef device);

struct CFReleaser {
  void operator()(const void* object) const {
    if (object != nullptr) CFRelease(object);
  }
};
using CFHolder = std::unique_ptr<const void, CFReleaser>;
CFHolder MakeString(const std::string& text);
// The UTF-8 text of a CF string (empty for anything else).
std::string Text(CFTypeRef string);

struct Notification {
  AMDeviceRef device;
  uint32_t message;
  std::string udid;
};

class NotificationLog {
 public:
  static void Callback(am_device_notification_callback_info* info, void* context);
  std::vector<Notification> Snapshot() const;
  // Waits until `done` holds for the log or the deadline passes; returns whether it held.
  bool WaitUntil(const std::function<bool(const std::vector<Notification>&)>& done,
                 std::chrono::milliseconds deadline = kDeadline) const;
  // The device of the first message `message` for `udid` seen after `after` entries, or null.
  AMDeviceRef WaitForMessage(const std::string& udid, uint32_t message, size_t after = 0) const;
  size_t Count(const std::string& udid, uint32_t message) const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<Notification> m_events;
};

// Waits until the notification thread has completed `scans` more scans: every change made before the
// call has then been looked at and its messages delivered.
void WaitForScans(uint64_t scans = 2);

// A test with its own device root and a subscription recording every notification.
class DeviceRootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes an image with the maker (UDID `udid`, extra maker options) and attaches it.
  void Attach(const std::string& udid, const std::vector<std::string>& makerArgs = {});
  // Attach, then wait for its arrival message; returns the device handle.
  AMDeviceRef AttachAndWait(const std::string& udid, const std::vector<std::string>& makerArgs = {});
  int Tool(const std::vector<std::string>& args) { return DeviceTool(m_root, args); }
  std::string ImagePath(const std::string& udid) const { return m_root + "/" + udid; }
  std::string NewImagePath(const std::string& name) const { return m_images + "/" + name; }

  std::unique_ptr<TempDir> m_temp;
  std::string m_root;
  std::string m_images;
  NotificationLog m_log;
  AMDeviceNotificationRef m_subscription = nullptr;
};

// Connect + start a session for the life of the holder.
class SessionHolder {
 public:
  explicit SessionHolder(AMDeviceRef device);
  ~SessionHolder();
  int Result() const { return m_result; }

 private:
  AMDeviceRef m_device;
  int m_result;
};

// A started service, invalidated by the holder.
class ServiceHolder {
 public:
  ServiceHolder(AMDeviceRef device, const char* name);
  ~ServiceHolder();
  int Result() const { return m_result; }
  AMDServiceConnectionRef Get() const { return m_connection; }

 private:
  AMDServiceConnectionRef m_connection = nullptr;
  int m_result;
};

// Receives exactly `length` bytes (many receives); false when a receive ends early.
bool ReceiveExact(AMDServiceConnectionRef connection, void* buffer, size_t length, size_t* receives = nullptr);
// Sends one frame: a 4-byte big-endian length, then the body.
bool SendFrame(AMDServiceConnectionRef connection, const std::string& body);

}  // namespace md::test
