// The framing test service: frames of 0 bytes, exactly 10 MiB and 10 MiB + 1 arrive whole across
// many partial receives, length words split across device writes, scripts from the request or the
// image, echo, and hang-ups without a goodbye.
#include "md_test_support.h"

namespace {

using namespace md::test;

constexpr size_t kTenMiB = 10u << 20;

class MDFrames : public DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    m_device = AttachAndWait("FRAMES-" + std::to_string(++s_counter));
    ASSERT_NE(m_device, nullptr);
    m_session = std::make_unique<SessionHolder>(m_device);
    ASSERT_EQ(m_session->Result(), 0);
  }
  void TearDown() override {
    m_session.reset();
    DeviceRootTest::TearDown();
  }
  // Receives one frame; checks its body against the service's pattern for frame `index`.
  void ExpectFrame(AMDServiceConnectionRef connection, size_t index, size_t size, size_t* receives) {
    unsigned char word[4];
    ASSERT_TRUE(ReceiveExact(connection, word, 4, receives));
    const size_t length = (size_t{word[0]} << 24) | (size_t{word[1]} << 16) | (size_t{word[2]} << 8) | word[3];
    ASSERT_EQ(length, size) << "frame " << index;
    std::vector<unsigned char> body(size);
    ASSERT_TRUE(ReceiveExact(connection, body.data(), body.size(), receives));
    for (size_t i = 0; i < size; ++i) {
      if (body[i] != (7 * index + i) % 251) {
        ADD_FAILURE() << "frame " << index << " differs at byte " << i;
        return;
      }
    }
  }
  AMDeviceRef m_device = nullptr;
  std::unique_ptr<SessionHolder> m_session;
  static int s_counter;
};
int MDFrames::s_counter = 0;

TEST_F(MDFrames, EmptyTenMiBAndOneMoreArriveWholeOverManyReceives) {
  ServiceHolder service(m_device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  const size_t sizes[] = {0, kTenMiB, kTenMiB + 1};
  ASSERT_TRUE(SendFrame(service.Get(), "frames:0,10485760,10485761;chunk=4093"));
  size_t receives = 0;
  for (size_t i = 0; i < 3; ++i) ExpectFrame(service.Get(), i, sizes[i], &receives);
  // How much one receive takes depends on the socket buffer and on how far the reader lags behind,
  // so only "many" is certain: each receive returns at most what the buffer held.
  EXPECT_GT(receives, 10u) << "20 MiB should not arrive in a handful of receives";
  char byte;
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0) << "closed without a goodbye";
}

TEST_F(MDFrames, LengthWordsSplitAcrossDeviceWrites) {
  ServiceHolder service(m_device, "com.hlx.test.frames");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendFrame(service.Get(), "frames:1,2,300;chunk=3;end=wait"));
  for (size_t i = 0; i < 3; ++i) ExpectFrame(service.Get(), i, i == 2 ? 300 : i + 1, nullptr);
  // end=wait: the stream stays open for the next request.
  ASSERT_TRUE(SendFrame(service.Get(), "frames:4"));
  ExpectFrame(service.Get(), 0, 4, nullptr);
}

TEST_F(MDFrames, ImageScriptIsSentOnConnectOrOnTheFirstRequest) {
  struct Case {
    const char* trigger;
    bool sendRequest;
  };
  const Case cases[] = {{"connect", false}, {"request", true}};
  const std::string udid = DeviceUdid(m_device);
  for (const Case& c : cases) {
    ASSERT_EQ(Tool({"frames", udid, "--sizes", "0,17,65536", "--chunk", "1000", "--trigger", c.trigger}), 0);
    ServiceHolder service(m_device, "com.hlx.test.frames");
    ASSERT_EQ(service.Result(), 0);
    if (c.sendRequest) {
      ASSERT_TRUE(SendFrame(service.Get(), "any request"));
    }
    const size_t sizes[] = {0, 17, 65536};
    for (size_t i = 0; i < 3; ++i) ExpectFrame(service.Get(), i, sizes[i], nullptr);
    char byte;
    EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0) << c.trigger;
  }
}

TEST_F(MDFrames, MalformedOrOversizedRequestsMakeTheDeviceHangUp) {
  const std::string requests[] = {"frames:12x", "frames:1;chunk=0", "frames:1;bogus", "frames:99999999999"};
  for (const std::string& request : requests) {
    ServiceHolder service(m_device, "com.hlx.test.frames");
    ASSERT_EQ(service.Result(), 0);
    ASSERT_TRUE(SendFrame(service.Get(), request));
    char byte;
    EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0) << request;
  }
  ServiceHolder service(m_device, "com.hlx.test.frames");
  const unsigned char hugeLength[] = {0x7f, 0xff, 0xff, 0xff};
  ASSERT_EQ(AMDServiceConnectionSend(service.Get(), hugeLength, 4), 4);
  char byte;
  EXPECT_EQ(AMDServiceConnectionReceive(service.Get(), &byte, 1), 0) << "length over the request limit";
}

}  // namespace
