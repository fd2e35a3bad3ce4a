// Device notifications: arrival of devices attached before and after subscribing, removal, trust
// answers, interface types, handles that are never reused, images that are not complete, and
// subscriptions that end.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "md_test_support.h"

namespace {

using namespace md::test;

class MDNotification : public DeviceRootTest {};

TEST_F(MDNotification, DeviceAttachedBeforeSubscribingIsAnnouncedOnceToTheNewSubscriber) {
  AMDeviceRef device = AttachAndWait("PRE-ATTACHED");
  ASSERT_NE(device, nullptr);

  NotificationLog late;
  AMDeviceNotificationRef lateSubscription = nullptr;
  ASSERT_EQ(AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, &late, &lateSubscription), 0);
  EXPECT_EQ(late.WaitForMessage("PRE-ATTACHED", kAMDeviceNotificationConnected), device);
  WaitForScans();
  EXPECT_EQ(late.Count("PRE-ATTACHED", kAMDeviceNotificationConnected), 1u);
  EXPECT_EQ(m_log.Count("PRE-ATTACHED", kAMDeviceNotificationConnected), 1u) << "announced twice to the first";
  EXPECT_EQ(AMDeviceNotificationUnsubscribe(lateSubscription), 0);
}

TEST_F(MDNotification, DevicesAlreadyAttachedArriveInTheOrderTheyWereAttached) {
  // Attached one after another into a root nobody watches yet, under names out of their attach order
  // and enough of them that a folder listing matches it only by chance; then that root is watched.
  const std::string waiting = m_temp->path().string() + "/waiting";
  std::filesystem::create_directories(waiting);
  const std::vector<std::string> attached = {"ORDER-D", "ORDER-B", "ORDER-E", "ORDER-A", "ORDER-C"};
  for (const std::string& udid : attached) {
    MakeImage(NewImagePath(udid), {"--udid", udid});
    ASSERT_EQ(DeviceTool(waiting, {"attach", NewImagePath(udid)}), 0);
  }
  HLXMDTestSetDeviceRoot(waiting.c_str());
  ASSERT_TRUE(m_log.WaitUntil([&](const std::vector<Notification>& events) { return events.size() >= 5; }));
  std::vector<std::string> arrived;
  for (const Notification& event : m_log.Snapshot()) arrived.push_back(event.udid);
  EXPECT_EQ(arrived, attached);
}

TEST_F(MDNotification, RemovalPostsMessageTwoWithTheArrivalHandleWhichKeepsAnswering) {
  AMDeviceRef device = AttachAndWait("REMOVED-1");
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(Tool({"detach", "REMOVED-1"}), 0);
  EXPECT_EQ(m_log.WaitForMessage("REMOVED-1", kAMDeviceNotificationDisconnected), device);
  // The handle stays valid after removal: calls answer "not connected" instead of touching freed memory.
  EXPECT_EQ(AMDeviceConnect(device), kAMDNotConnectedError);
  EXPECT_EQ(AMDeviceStartSession(device), kAMDNotConnectedError);
  EXPECT_EQ(DeviceUdid(device), "REMOVED-1");
}

TEST_F(MDNotification, HandlesAreNeverReusedAcrossReattachments) {
  std::set<AMDeviceRef> handles;
  size_t seen = 0;
  for (int round = 0; round < 3; ++round) {
    // Detach and attach again without waiting in between: the scan may see only a replaced folder.
    if (round > 0) {
      ASSERT_EQ(Tool({"detach", "SAME-UDID"}), 0);
    }
    std::string image = NewImagePath("round" + std::to_string(round));
    MakeImage(image, {"--udid", "SAME-UDID", "--seed", std::to_string(round)});
    ASSERT_EQ(Tool({"attach", image}), 0);
    AMDeviceRef device = m_log.WaitForMessage("SAME-UDID", kAMDeviceNotificationConnected, seen);
    ASSERT_NE(device, nullptr);
    seen = m_log.Snapshot().size();
    EXPECT_TRUE(handles.insert(device).second) << "handle reused in round " << round;
  }
  ASSERT_TRUE(m_log.WaitUntil([](const std::vector<Notification>& events) {
    size_t removals = 0;
    for (const auto& event : events) removals += event.message == kAMDeviceNotificationDisconnected;
    return removals == 2;
  }));
  // Every removal names an earlier arrival's handle.
  for (const auto& event : m_log.Snapshot()) {
    if (event.message == kAMDeviceNotificationDisconnected) {
      EXPECT_EQ(handles.count(event.device), 1u);
    }
  }
}

TEST_F(MDNotification, TrustingAnUntrustedDevicePostsMessageFourOnce) {
  AMDeviceRef device = AttachAndWait("UNTRUSTED-1", {"--untrusted"});
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(AMDeviceIsPaired(device), 0);
  ASSERT_EQ(Tool({"trust", "UNTRUSTED-1"}), 0);
  EXPECT_EQ(m_log.WaitForMessage("UNTRUSTED-1", kAMDeviceNotificationTrustAnswered), device);
  EXPECT_EQ(AMDeviceIsPaired(device), 1);
  EXPECT_EQ(AMDeviceValidatePairing(device), 0);
  WaitForScans();
  EXPECT_EQ(m_log.Count("UNTRUSTED-1", kAMDeviceNotificationTrustAnswered), 1u);
  EXPECT_EQ(m_log.Count("UNTRUSTED-1", kAMDeviceNotificationConnected), 1u) << "trust is not a new arrival";
}

TEST_F(MDNotification, InterfaceTypeFollowsTheImage) {
  struct Case {
    const char* udid;
    std::vector<std::string> makerArgs;
    int expected;
  };
  const Case cases[] = {{"USB-1", {}, kAMDInterfaceUSB}, {"WIFI-1", {"--wifi"}, kAMDInterfaceWiFi}};
  for (const Case& c : cases) {
    AMDeviceRef device = AttachAndWait(c.udid, c.makerArgs);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(AMDeviceGetInterfaceType(device), c.expected) << c.udid;
  }
  AMDeviceRef wifi = m_log.WaitForMessage("WIFI-1", kAMDeviceNotificationConnected);
  ASSERT_EQ(Tool({"interface", "WIFI-1", "usb"}), 0);
  EXPECT_EQ(AMDeviceGetInterfaceType(wifi), kAMDInterfaceUSB);
}

TEST_F(MDNotification, ImageWithoutAReadableStateFileIsNotAnnounced) {
  struct Case {
    const char* udid;
    const char* state;  // null: no state file at all (an image still being copied)
  };
  const Case cases[] = {
      {"HALF-MADE", nullptr},
      {"NOT-JSON", "{not json"},
      {"WRONG-TYPE", "{\"paired\": \"yes\"}"},
      {"BAD-INTERFACE", "{\"interfaceType\": 7}"},
      {"NOT-OBJECT", "[1, 2]"},
  };
  for (const Case& c : cases) {
    std::filesystem::create_directories(ImagePath(c.udid) + "/fs");
    if (c.state != nullptr) std::ofstream(ImagePath(c.udid) + "/state.json") << c.state;
  }
  WaitForScans();
  EXPECT_TRUE(m_log.Snapshot().empty());

  // Completing the half-made image announces it.
  std::ofstream(ImagePath("HALF-MADE") + "/state.json.part") << "{\"trusted\": true}";
  std::filesystem::rename(ImagePath("HALF-MADE") + "/state.json.part", ImagePath("HALF-MADE") + "/state.json");
  EXPECT_NE(m_log.WaitForMessage("HALF-MADE", kAMDeviceNotificationConnected), nullptr);
  WaitForScans();
  EXPECT_EQ(m_log.Snapshot().size(), 1u);
}

TEST_F(MDNotification, NoMessageReachesASubscriptionAfterItEnds) {
  NotificationLog other;
  AMDeviceNotificationRef subscription = nullptr;
  ASSERT_EQ(AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, &other, &subscription), 0);
  ASSERT_EQ(AMDeviceNotificationUnsubscribe(subscription), 0);
  EXPECT_NE(AMDeviceNotificationUnsubscribe(subscription), 0) << "a second unsubscribe must fail";
  ASSERT_NE(AttachAndWait("AFTER-END"), nullptr);
  WaitForScans();
  EXPECT_TRUE(other.Snapshot().empty());
}

struct SelfUnsubscriber {
  AMDeviceNotificationRef subscription = nullptr;
  std::atomic<int> calls{0};
  std::atomic<int> unsubscribeResult{-1};
  static void Callback(am_device_notification_callback_info* info, void* context) {
    auto* self = static_cast<SelfUnsubscriber*>(context);
    if (self->calls.fetch_add(1) == 0) self->unsubscribeResult = AMDeviceNotificationUnsubscribe(info->subscription);
  }
};

TEST_F(MDNotification, CallbackMayEndItsOwnSubscription) {
  ASSERT_NE(AttachAndWait("FIRST"), nullptr);
  SelfUnsubscriber self;
  ASSERT_EQ(AMDeviceNotificationSubscribe(&SelfUnsubscriber::Callback, 0, 0, &self, &self.subscription), 0);
  ASSERT_NE(AttachAndWait("SECOND"), nullptr);
  WaitForScans();
  EXPECT_EQ(self.calls.load(), 1);
  EXPECT_EQ(self.unsubscribeResult.load(), 0);
}

TEST(MDNotificationArguments, SubscribeRefusesMissingArguments) {
  AMDeviceNotificationRef subscription = nullptr;
  NotificationLog log;
  EXPECT_NE(AMDeviceNotificationSubscribe(nullptr, 0, 0, &log, &subscription), 0);
  EXPECT_NE(AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, &log, nullptr), 0);
  EXPECT_NE(AMDeviceNotificationUnsubscribe(nullptr), 0);
}

// The device root comes from HLX_DEVICE_ROOT, read at the first library call. The library reads it
// once per process, so the check runs in a child process of this test binary (the child test below
// does nothing unless started this way).
TEST(MDEnvironmentRoot, DevicesUnderHlxDeviceRootArrive) {
  TempDir temp;
  const std::string root = temp.path().string() + "/root";
  std::filesystem::create_directories(root);
  MakeImage(root + "/ENV-DEVICE", {"--udid", "ENV-DEVICE"});
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string output;
  int status = RunShell("HLX_MD_ENV_CHILD=1 HLX_DEVICE_ROOT=" + Quote(root) + " " + Quote(self) +
                            " --gtest_filter=MDEnvironmentRootChild.* 2>&1",
                        &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

TEST(MDEnvironmentRootChild, SeesTheDeviceOfTheEnvironmentRoot) {
  if (std::getenv("HLX_MD_ENV_CHILD") == nullptr) GTEST_SKIP() << "runs as a child of MDEnvironmentRoot";
  NotificationLog log;
  AMDeviceNotificationRef subscription = nullptr;
  ASSERT_EQ(AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, &log, &subscription), 0);
  EXPECT_NE(log.WaitForMessage("ENV-DEVICE", kAMDeviceNotificationConnected), nullptr);
  EXPECT_EQ(AMDeviceNotificationUnsubscribe(subscription), 0);
}

}  // namespace
