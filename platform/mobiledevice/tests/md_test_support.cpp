// Helpers of the MobileDevice tests (see md_test_support.h).
#include "md_test_support.h"

#include <filesystem>

namespace md::test {

std::string Python(const std::string& code) {
  std::string output;
  int status = RunShell(std::string(HLX_PYTHON) + " -c " + Quote(code), &output);
  EXPECT_EQ(status, 0) << "python failed: " << code;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

void MakeImage(const std::string& folder, const std::vector<std::string>& args) {
  std::string command =
      std::string(HLX_PYTHON) + " " + Quote(std::string(HLX_TOOLS_DIR) + "/make_device_image.py") + " " + Quote(folder);
  for (const auto& arg : args) command += " " + Quote(arg);
  std::string output;
  ASSERT_EQ(RunShell(command + " 2>&1", &output), 0) << output;
}

int DeviceTool(const std::string& root, const std::vector<std::string>& args) {
  std::string command =
      std::string(HLX_PYTHON) + " " + Quote(std::string(HLX_TOOLS_DIR) + "/hlx_device.py") + " --root " + Quote(root);
  for (const auto& arg : args) command += " " + Quote(arg);
  int status = RunShell(command + " >/dev/null");
  HLXMDTestWakeNotifier();
  return status;
}

std::string DeviceUdid(AMDeviceRef device) {
  char buffer[256];
  return HLXMDTestGetDeviceUdid(device, buffer, sizeof buffer) == 0 ? std::string(buffer) : std::string();
}

CFHolder MakeString(const std::string& text) {
  return CFHolder(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}

std::string Text(CFTypeRef string) {
  if (string == nullptr || CFGetTypeID(string) != kHLXCFStringTypeID) return {};
  size_t length = 0;
  const char* bytes = HLXCFStringGetUTF8(static_cast<CFStringRef>(string), &length);
  return bytes ? std::string(bytes, length) : std::string();
}

void NotificationLog::Callback(am_device_notification_callback_info* info, void* context) {
  auto* log = static_cast<NotificationLog*>(context);
  Notification event{info->dev, info->msg, DeviceUdid(info->dev)};
  std::lock_guard<std::mutex> lock(log->m_mutex);
  log->m_events.push_back(event);
  log->m_changed.notify_all();
}

std::vector<Notification> NotificationLog::Snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

bool NotificationLog::WaitUntil(const std::function<bool(const std::vector<Notification>&)>& done,
                                std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, deadline, [&] { return done(m_events); });
}

AMDeviceRef NotificationLog::WaitForMessage(const std::string& udid, uint32_t message, size_t after) const {
  AMDeviceRef found = nullptr;
  WaitUntil([&](const std::vector<Notification>& events) {
    for (size_t i = after; i < events.size(); ++i) {
      if (events[i].udid == udid && events[i].message == message) {
        found = events[i].device;
        return true;
      }
    }
    return false;
  });
  return found;
}

size_t NotificationLog::Count(const std::string& udid, uint32_t message) const {
  size_t count = 0;
  for (const auto& event : Snapshot()) count += event.udid == udid && event.message == message;
  return count;
}

void WaitForScans(uint64_t scans) {
  ASSERT_EQ(HLXMDTestWaitForScans(scans, static_cast<int>(std::chrono::milliseconds(kDeadline).count())), 0)
      << "the notification thread did not scan";
}

void DeviceRootTest::SetUp() {
  m_temp = std::make_unique<TempDir>();
  m_root = m_temp->path().string() + "/root";
  m_images = m_temp->path().string() + "/images";
  std::filesystem::create_directories(m_root);
  std::filesystem::create_directories(m_images);
  HLXMDTestSetDeviceRoot(m_root.c_str());
  ASSERT_EQ(AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, &m_log, &m_subscription), 0);
}

void DeviceRootTest::TearDown() {
  if (m_subscription != nullptr) {
    EXPECT_EQ(AMDeviceNotificationUnsubscribe(m_subscription), 0);
  }
  HLXMDTestSetReceiveTimeoutMs(0);
  // Leave the library pointing at a root that does not exist, so no later test sees these devices.
  std::string gone = m_temp->path().string() + "/gone";
  HLXMDTestSetDeviceRoot(gone.c_str());
  m_temp.reset();
}

void DeviceRootTest::Attach(const std::string& udid, const std::vector<std::string>& makerArgs) {
  std::string image = NewImagePath(udid);
  std::vector<std::string> args = {"--udid", udid};
  args.insert(args.end(), makerArgs.begin(), makerArgs.end());
  MakeImage(image, args);
  ASSERT_EQ(Tool({"attach", image}), 0);
}

AMDeviceRef DeviceRootTest::AttachAndWait(const std::string& udid, const std::vector<std::string>& makerArgs) {
  const size_t before = m_log.Snapshot().size();
  Attach(udid, makerArgs);
  AMDeviceRef device = m_log.WaitForMessage(udid, kAMDeviceNotificationConnected, before);
  EXPECT_NE(device, nullptr) << "no arrival of " << udid;
  return device;
}

SessionHolder::SessionHolder(AMDeviceRef device) : m_device(device) {
  m_result = AMDeviceConnect(device);
  if (m_result == 0) m_result = AMDeviceStartSession(device);
}

SessionHolder::~SessionHolder() {
  if (m_result == 0) AMDeviceStopSession(m_device);
  AMDeviceDisconnect(m_device);
}

ServiceHolder::ServiceHolder(AMDeviceRef device, const char* name) {
  CFHolder serviceName = MakeString(name);
  m_result = AMDeviceSecureStartService(device, static_cast<CFStringRef>(serviceName.get()), nullptr, &m_connection);
}

ServiceHolder::~ServiceHolder() {
  if (m_connection != nullptr) AMDServiceConnectionInvalidate(m_connection);
}

bool ReceiveExact(AMDServiceConnectionRef connection, void* buffer, size_t length, size_t* receives) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    int n = AMDServiceConnectionReceive(connection, bytes + done, length - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
    if (receives != nullptr) ++*receives;
  }
  return true;
}

bool SendFrame(AMDServiceConnectionRef connection, const std::string& body) {
  const uint32_t length = static_cast<uint32_t>(body.size());
  const unsigned char word[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                                 static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  if (AMDServiceConnectionSend(connection, word, 4) != 4) return false;
  const int sent = body.empty() ? 0 : AMDServiceConnectionSend(connection, body.data(), body.size());
  return sent == static_cast<int>(body.size());
}

}  // namespace md::test
