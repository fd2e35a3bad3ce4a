// Device-link framing against the simulated device's framing service "com.hlx.test.frames": it
// sends the frames a request asks for ("frames:<sizes>;chunk=<n>") in pieces of <n> bytes, each body
// byte following a pattern the handler checks, and echoes any other request as one frame. Faults of
// the image cut the device's stream after a given byte count, inside a length word or a body.
#include "utility/hlx_device_link.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/device/simulated_device.h"
#include "utility/hlx_plist.h"

namespace hlx {
namespace {

using test::SimulatedDevice;

constexpr char kFramesService[] = "com.hlx.test.frames";

// What the handler saw. It asks for more until `stopAfter` messages arrived, and stores true as the
// result of each message whose bytes all follow the service's pattern.
struct Received {
  size_t stopAfter = SIZE_MAX;
  std::vector<int64_t> lengths;
  std::vector<bool> patternIntact;
  std::vector<std::string> bodies;  // kept for small messages only
};

void Collect(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* received = static_cast<Received*>(context);
  EXPECT_FALSE(*more) << "more must be false before each call";
  const size_t k = received->lengths.size();
  bool intact = true;
  for (int64_t i = 0; i < length && intact; ++i) {
    intact = bytes[i] == static_cast<uint8_t>((7 * k + static_cast<size_t>(i)) % 251);
  }
  received->lengths.push_back(length);
  received->patternIntact.push_back(intact);
  received->bodies.emplace_back(length <= 4096 ? std::string(reinterpret_cast<const char*>(bytes), length) : "");
  *result = intact;
  *more = received->lengths.size() < received->stopAfter;
}

// A request frame whose body is plain text (the framing service reads any bytes).
BinaryPlist TextMessage(const std::string& text) {
  BinaryPlist message;
  message.bytes = reinterpret_cast<const uint8_t*>(text.data());
  message.length = static_cast<uint32_t>(text.size());
  return message;
}

class DeviceLinkTest : public ::testing::Test {
 protected:
  AMDServiceConnectionRef Open(const SimulatedDevice::Options& options = {}) {
    std::string error;
    if (!m_device.Attach(options, &error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    AMDServiceConnectionRef service = m_device.StartService(kFramesService);
    EXPECT_NE(service, nullptr) << "the framing service did not start";
    return service;
  }

  SimulatedDevice m_device;
};

TEST_F(DeviceLinkTest, FramesAtAndAroundTheLimit) {
  struct Case {
    const char* request;
    size_t stopAfter;
    bool result;
    std::vector<int64_t> lengths;
  } cases[] = {
      // Exactly 10 MiB in 4 KiB pieces: one call with the whole body.
      {"frames:10485760;end=wait", 1, true, {10485760}},
      // One byte over: the loop ends before allocating, the handler is never called.
      {"frames:10485761;end=wait", 1, false, {}},
      // A zero length ends the loop too.
      {"frames:0;end=wait", 1, false, {}},
      // Length words and bodies cut into single bytes arrive whole.
      {"frames:5,1,300;chunk=1;end=wait", 3, true, {5, 1, 300}},
      // Pieces of 3 bytes put length words across two receives.
      {"frames:2,70000,9;chunk=3;end=wait", 3, true, {2, 70000, 9}},
      // A handler that does not ask for more sees exactly one message of several.
      {"frames:4,4,4;end=wait", 1, true, {4}},
      // Frames after one that is too long are never read.
      {"frames:8,10485761,8;end=wait", 3, true, {8}},
  };
  ASSERT_NE(Open(), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    // A connection per case: a case that stops early leaves the rest of its script in the stream.
    AMDServiceConnectionRef service = m_device.StartService(kFramesService);
    ASSERT_NE(service, nullptr);
    Received received;
    received.stopAfter = c.stopAfter;
    const std::string request = c.request;
    EXPECT_EQ(ExchangeServiceMessages(service, TextMessage(request), Collect, &received), c.result);
    EXPECT_EQ(received.lengths, c.lengths);
    for (bool intact : received.patternIntact) EXPECT_TRUE(intact);
  }
}

TEST_F(DeviceLinkTest, AClosedConnectionEndsTheLoop) {
  AMDServiceConnectionRef service = Open();
  ASSERT_NE(service, nullptr);
  // No frames, then the device hangs up: nothing is handed over and the result stays false.
  Received none;
  EXPECT_FALSE(ExchangeServiceMessages(service, TextMessage("frames:"), Collect, &none));
  EXPECT_TRUE(none.lengths.empty());

  // Two frames, then the device hangs up while the handler still asks for more: the loop ends with
  // the handler's last result.
  AMDServiceConnectionRef second = m_device.StartService(kFramesService);
  ASSERT_NE(second, nullptr);
  Received two;
  EXPECT_TRUE(ExchangeServiceMessages(second, TextMessage("frames:6,7;end=close"), Collect, &two));
  EXPECT_EQ(two.lengths, (std::vector<int64_t>{6, 7}));
}

// The device stops sending part-way: inside the first length word, right after it, and inside the
// body. A short length word or body ends the loop without a call: a stale buffer is never read as
// a length.
TEST_F(DeviceLinkTest, AStreamCutShortHandsNothingOver) {
  for (int cutAfter : {1, 3, 4, 4 + 500}) {
    SCOPED_TRACE(cutAfter);
    SimulatedDevice device;
    SimulatedDevice::Options options;
    options.statePatch = "{\"faults\": {\"dropAfterBytes\": {\"serviceStream\": " + std::to_string(cutAfter) + "}}}";
    std::string error;
    ASSERT_TRUE(device.Attach(options, &error)) << error;
    AMDServiceConnectionRef service = device.StartService(kFramesService);
    ASSERT_NE(service, nullptr);
    Received received;
    EXPECT_FALSE(ExchangeServiceMessages(service, TextMessage("frames:1000;chunk=1;end=wait"), Collect, &received));
    EXPECT_TRUE(received.lengths.empty());
  }
}

// A stream script served through the binding's receive slot, so that every receive returns exactly
// `piece` bytes (the device's socket may hand over more than was written in one piece, so the real
// device cannot force this); after `endAfter` bytes a receive returns `endResult`.
struct ScriptedStream {
  std::string bytes;
  size_t piece = 1;
  size_t endAfter = SIZE_MAX;
  int endResult = 0;
  size_t offset = 0;
};
ScriptedStream* g_stream = nullptr;

int ScriptedReceive(AMDServiceConnectionRef, void* buffer, size_t length) {
  ScriptedStream& stream = *g_stream;
  const size_t end = std::min(stream.bytes.size(), stream.endAfter);
  if (stream.offset >= end) return stream.endResult;
  const size_t count = std::min({length, stream.piece, end - stream.offset});
  std::memcpy(buffer, stream.bytes.data() + stream.offset, count);
  stream.offset += count;
  return static_cast<int>(count);
}

std::string Frame(size_t k, size_t length) {
  std::string frame = {static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
                       static_cast<char>(length)};
  for (size_t i = 0; i < length; ++i) frame += static_cast<char>((7 * k + i) % 251);
  return frame;
}

TEST(DeviceLinkFraming, PiecesOfAnySizeAndReceivesThatEndInsideAFrame) {
  ASSERT_TRUE(test::BindSimulatedLibrary());
  const std::string three = Frame(0, 5) + Frame(1, 1) + Frame(2, 300);
  struct Case {
    const char* name;
    size_t piece;
    size_t endAfter;
    int endResult;
    std::vector<int64_t> lengths;
  } cases[] = {
      {"a byte at a time", 1, SIZE_MAX, 0, {5, 1, 300}},
      {"three bytes at a time", 3, SIZE_MAX, 0, {5, 1, 300}},
      {"the stream ends inside the second length word", 1, 9 + 2, 0, {5}},
      {"a receive fails inside the second length word", 2, 9 + 2, -1, {5}},
      {"the stream ends inside the last body", 7, three.size() - 1, 0, {5, 1}},
      {"the stream ends inside the first length word", 1, 3, 0, {}},
  };
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  const auto realReceive = md.AMDServiceConnectionReceive;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedStream stream{three, c.piece, c.endAfter, c.endResult};
    g_stream = &stream;
    md.AMDServiceConnectionReceive = ScriptedReceive;
    Received received;
    const bool result = ReceiveServiceMessages(nullptr, Collect, &received);
    md.AMDServiceConnectionReceive = realReceive;
    EXPECT_EQ(received.lengths, c.lengths);
    EXPECT_EQ(result, !c.lengths.empty());
    for (bool intact : received.patternIntact) EXPECT_TRUE(intact);
  }
  g_stream = nullptr;
}

// A binary property list made from XML goes out framed and comes back byte for byte.
TEST_F(DeviceLinkTest, SentMessagesArriveAsFramedOnTheWire) {
  AMDServiceConnectionRef service = Open();
  ASSERT_NE(service, nullptr);
  BinaryPlistPtr message =
      XmlPlistToBinary("<plist version=\"1.0\"><dict><key>Request</key><string>Ping</string><key>Blob</key><data>" +
                       std::string(4000, 'A') + "</data></dict></plist>");
  ASSERT_TRUE(message);
  ASSERT_TRUE(SendServiceMessage(service, *message));
  Received echo;
  echo.stopAfter = 1;
  ReceiveServiceMessages(service, Collect, &echo);
  ASSERT_EQ(echo.lengths, (std::vector<int64_t>{static_cast<int64_t>(message->length)}));
  EXPECT_EQ(echo.bodies[0], std::string(reinterpret_cast<const char*>(message->bytes), message->length));

  // An empty body is a valid message to send (the echo of it, a zero length, ends a receive).
  BinaryPlist empty;
  EXPECT_TRUE(SendServiceMessage(service, empty));
}

TEST_F(DeviceLinkTest, ASendOnAnInvalidatedConnectionFailsAndWaitsForNothing) {
  AMDServiceConnectionRef service = Open();
  ASSERT_NE(service, nullptr);
  CMobileExportFun::GetInstance().AMDServiceConnectionInvalidate(service);
  const std::string text = "frames:4";
  EXPECT_FALSE(SendServiceMessage(service, TextMessage(text)));
  Received received;
  EXPECT_FALSE(ExchangeServiceMessages(service, TextMessage(text), Collect, &received));
  EXPECT_TRUE(received.lengths.empty());
}

}  // namespace
}  // namespace hlx
