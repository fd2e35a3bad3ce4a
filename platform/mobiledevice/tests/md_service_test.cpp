// Device services: which names start on which images, refusals of locked devices counted by the
// image, real byte streams with partial reads and end of stream, and every way a receive ends:
// detach, the receive limit, invalidation, a dropped stream.
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <random>

#include "md_test_support.h"

namespace {

using namespace md::test;

class MDService : public DeviceRootTest {
 protected:
  int Start(AMDeviceRef device, const char* name, AMDServiceConnectionRef* connection) {
    CFHolder serviceName = MakeString(name);
    return AMDeviceSecureStartService(device, static_cast<CFStringRef>(serviceName.get()), nullptr, connection);
  }
  // Runs a receive on another thread; the future holds its result.
  std::future<int> ReceiveAsync(AMDServiceConnectionRef connection) {
    return std::async(std::launch::async, [connection] {
      char byte;
      return AMDServiceConnectionReceive(connection, &byte, 1);
    });
  }
};

TEST_F(MDService, StartNeedsASession) {
  AMDeviceRef device = AttachAndWait("SVC-NOSESSION");
  ASSERT_NE(device, nullptr);
  AMDServiceConnectionRef connection = nullptr;
  EXPECT_EQ(Start(device, "com.apple.afc", &connection), kAMDSessionInactiveError);
  EXPECT_EQ(connection, nullptr);
}

TEST_F(MDService, LockedDeviceRefusesEveryStartAndTheImageCountsEachAttempt) {
  AMDeviceRef device = AttachAndWait("SVC-LOCKED", {"--locked"});
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0) << "lockdown sessions work on a locked device";
  for (int attempt = 0; attempt < 5; ++attempt) {
    AMDServiceConnectionRef connection = nullptr;
    EXPECT_EQ(Start(device, "com.apple.afc", &connection), kAMDPasswordProtectedError);
  }
  EXPECT_EQ(Python("import json; print(json.load(open('" + ImagePath("SVC-LOCKED") +
                   "/counters.json'))['serviceStartAttempts']['com.apple.afc'])"),
            "5");
  ASSERT_EQ(Tool({"unlock", "SVC-LOCKED"}), 0);
  ServiceHolder service(device, "com.apple.afc");
  EXPECT_EQ(service.Result(), 0);
}

TEST_F(MDService, OnlyServicesTheImageOffersStart) {
  struct Case {
    const char* udid;
    std::vector<std::string> makerArgs;
    const char* service;
    int expected;
  };
  const Case cases[] = {
      {"OFFER-1", {}, "com.apple.afc", kAMDSuccess},
      {"OFFER-2", {}, "com.apple.afc2", kAMDInvalidServiceError},
      {"OFFER-3", {"--jailbroken"}, "com.apple.afc2", kAMDSuccess},
      {"OFFER-4", {}, "com.hlx.test.frames", kAMDSuccess},
      {"OFFER-5", {}, "com.apple.mobilesync", kAMDSuccess},
      {"OFFER-7", {"--without-service", "com.apple.mobilesync"}, "com.apple.mobilesync", kAMDInvalidServiceError},
      // Listed by the image but simulated by nobody: refused rather than left hanging.
      {"OFFER-6", {"--service", "com.hlx.nobody"}, "com.hlx.nobody", kAMDInvalidServiceError},
  };
  for (const Case& c : cases) {
    AMDeviceRef device = AttachAndWait(c.udid, c.makerArgs);
    ASSERT_NE(device, nullptr);
    SessionHolder session(device);
    ASSERT_EQ(session.Result(), 0);
    ServiceHolder service(device, c.service);
    EXPECT_EQ(service.Result(), c.expected) << c.udid << " " << c.service;
    EXPECT_EQ(service.Get() != nullptr, c.expected == kAMDSuccess) << c.udid;
  }
}

TEST_F(MDService, EchoCarriesRealBytesInPartialReceives) {
  AMDeviceRef device = AttachAndWait("SVC-ECHO");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);

  std::string body(300000, '\0');
  std::mt19937 random(7);
  for (char& c : body) c = static_cast<char>(random());
  ASSERT_TRUE(SendFrame(service.Get(), body));
  unsigned char word[4];
  ASSERT_TRUE(ReceiveExact(service.Get(), word, 4));
  EXPECT_EQ((size_t{word[0]} << 24) | (size_t{word[1]} << 16) | (size_t{word[2]} << 8) | word[3], body.size());
  std::string echoed(body.size(), '\0');
  size_t receives = 0;
  // Small buffers: each receive returns what is there, up to the room given.
  for (size_t done = 0; done < echoed.size();) {
    int n = AMDServiceConnectionReceive(service.Get(), &echoed[done], std::min<size_t>(1000, echoed.size() - done));
    ASSERT_GT(n, 0);
    ASSERT_LE(n, 1000);
    done += static_cast<size_t>(n);
    ++receives;
  }
  EXPECT_EQ(echoed, body);
  EXPECT_GE(receives, 300u);
}

TEST_F(MDService, ReceiveGivesZeroAfterTheDeviceHangsUp) {
  AMDeviceRef device = AttachAndWait("SVC-EOS");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:5;end=close"));
  unsigned char frame[9];
  ASSERT_TRUE(ReceiveExact(service.Get(), frame, sizeof frame));
  char byte;
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0);
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0) << "end of stream stays";
}

TEST_F(MDService, DetachingTheDeviceEndsAPendingReceive) {
  AMDeviceRef device = AttachAndWait("SVC-DETACH");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:;end=wait"));  // no frames; the device stays silent
  std::future<int> pending = ReceiveAsync(service.Get());
  ASSERT_EQ(Tool({"detach", "SVC-DETACH"}), 0);
  ASSERT_EQ(pending.wait_for(kDeadline), std::future_status::ready) << "receive still waiting after detach";
  EXPECT_EQ(pending.get(), -1);
  EXPECT_EQ(AMDServiceConnectionSend(service.Get(), "x", 1), -1);
}

TEST_F(MDService, ReceiveOnASilentDeviceEndsAtTheLimit) {
  AMDeviceRef device = AttachAndWait("SVC-SILENT");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:;end=wait"));
  HLXMDTestSetReceiveTimeoutMs(200);
  char byte;
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), -1);
  // The connection itself is still usable afterwards.
  ASSERT_TRUE(SendFrame(service.Get(), "frames:1;end=close"));
  unsigned char frame[5];
  EXPECT_TRUE(ReceiveExact(service.Get(), frame, sizeof frame));
}

TEST_F(MDService, InvalidateEndsAReceiveOnAnotherThreadAndRetiresTheHandle) {
  AMDeviceRef device = AttachAndWait("SVC-INVALIDATE");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  const size_t before = HLXMDTestGetServiceConnectionCount();
  AMDServiceConnectionRef connection = nullptr;
  ASSERT_EQ(Start(device, "com.hlx.test.frames", &connection), 0);
  EXPECT_GE(AMDServiceConnectionGetSocket(connection), 0);
  ASSERT_TRUE(SendFrame(connection, "frames:;end=wait"));
  std::future<int> pending = ReceiveAsync(connection);
  AMDServiceConnectionInvalidate(connection);
  ASSERT_EQ(pending.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(pending.get(), -1);
  EXPECT_EQ(AMDServiceConnectionGetSocket(connection), -1);
  EXPECT_EQ(AMDServiceConnectionSend(connection, "x", 1), -1);
  AMDServiceConnectionInvalidate(connection);  // a second invalidate is harmless
  EXPECT_EQ(HLXMDTestGetServiceConnectionCount(), before);
}

TEST_F(MDService, SecureContextOnlyForServicesTheImageMarksSsl) {
  AMDeviceRef device = AttachAndWait("SVC-SSL", {"--ssl-service", "com.hlx.test.frames"});
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder secure(device, "com.hlx.test.frames");
  ServiceHolder plain(device, "com.apple.afc");
  ASSERT_EQ(secure.Result(), 0);
  ASSERT_EQ(plain.Result(), 0);
  EXPECT_NE(AMDServiceConnectionGetSecureIOContext(secure.Get()), nullptr);
  EXPECT_EQ(AMDServiceConnectionGetSecureIOContext(plain.Get()), nullptr);
}

TEST_F(MDService, DroppedStreamEndsPartWayThrough) {
  AMDeviceRef device = AttachAndWait("SVC-DROP");
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(Tool({"fault", "SVC-DROP", "--drop-after", "serviceStream=1000"}), 0);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:5000;end=wait"));
  std::vector<char> buffer(8192);
  size_t total = 0;
  int n;
  while ((n = AMDServiceConnectionReceive(service.Get(), buffer.data(), buffer.size())) > 0) total += n;
  EXPECT_EQ(n, 0);
  EXPECT_EQ(total, 1000u);
}

TEST_F(MDService, TheSocketIsTheHostEndOfTheStream) {
  AMDeviceRef device = AttachAndWait("SVC-SOCKET");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  int fd = AMDServiceConnectionGetSocket(service.Get());
  ASSERT_GE(fd, 0);
  const unsigned char request[] = {0, 0, 0, 2, 'h', 'i'};
  ASSERT_EQ(::send(fd, request, sizeof request, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof request));
  unsigned char reply[6];
  ASSERT_TRUE(ReceiveExact(service.Get(), reply, sizeof reply));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 6), std::string(reinterpret_cast<const char*>(request), 6));
}

TEST_F(MDService, DetachFaultDuringAReceive) {
  AMDeviceRef device = AttachAndWait("SVC-FAULTDETACH");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ServiceHolder service(device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_EQ(Tool({"fault", "SVC-FAULTDETACH", "--detach-on", "AMDServiceConnectionReceive=1"}), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:1"));
  char byte;
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), -1);
  EXPECT_EQ(m_log.WaitForMessage("SVC-FAULTDETACH", kAMDeviceNotificationDisconnected), device);
}

TEST(MDServiceArguments, BadArgumentsGiveCodes) {
  AMDServiceConnectionRef connection = nullptr;
  CFHolder name = MakeString("com.apple.afc");
  EXPECT_EQ(AMDeviceSecureStartService(nullptr, static_cast<CFStringRef>(name.get()), nullptr, &connection),
            kAMDInvalidArgumentError);
  auto bogus = reinterpret_cast<AMDServiceConnectionRef>(static_cast<uintptr_t>(0x7fff0));
  char byte = 0;
  EXPECT_EQ(AMDServiceConnectionSend(bogus, &byte, 1), -1);
  EXPECT_EQ(AMDServiceConnectionReceive(bogus, &byte, 1), -1);
  EXPECT_EQ(AMDServiceConnectionGetSocket(bogus), -1);
  EXPECT_EQ(AMDServiceConnectionGetSecureIOContext(bogus), nullptr);
  AMDServiceConnectionInvalidate(bogus);
}

}  // namespace
