// The diagnostics and ATC services of the simulated device: framing (big-endian for diagnostics,
// little-endian for ATC), the answers taken from the image's diagnostics.plist and atc.plist,
// dictionary keys in sorted order at every level (checked with Python's plistlib, whose dictionaries
// keep the file's key order), and the hang-ups that end each conversation.
#include <cstdio>
#include <fstream>

#include "md_test_support.h"

namespace {

using namespace md::test;

constexpr char kPowerAssertion[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Command</key>"
    "<string>PowerAssertion</string><key>Params</key><dict><key>Enabled</key><true/></dict>"
    "<key>Session</key><integer>0</integer></dict></plist>";

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
}

// Receives one frame; false when the stream ends first.
bool ReceiveFrame(AMDServiceConnectionRef connection, bool bigEndian, std::string* body) {
  unsigned char word[4];
  if (!ReceiveExact(connection, word, 4)) return false;
  const uint32_t length =
      bigEndian ? (uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) | (uint32_t{word[2]} << 8) | word[3]
                : (uint32_t{word[3]} << 24) | (uint32_t{word[2]} << 16) | (uint32_t{word[1]} << 8) | word[0];
  body->assign(length, '\0');
  return length == 0 || ReceiveExact(connection, &(*body)[0], length);
}

bool SendLittleEndianFrame(AMDServiceConnectionRef connection, const std::string& body) {
  const uint32_t length = static_cast<uint32_t>(body.size());
  const unsigned char word[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                                 static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
  return AMDServiceConnectionSend(connection, word, 4) == 4 &&
         AMDServiceConnectionSend(connection, body.data(), body.size()) == static_cast<int>(body.size());
}

bool HungUp(AMDServiceConnectionRef connection) {
  char byte;
  return AMDServiceConnectionReceive(connection, &byte, 1) == 0;
}

class MDInfoServices : public DeviceRootTest {
 protected:
  // Saves a received body where Python can read it.
  std::string Save(const std::string& body) {
    const std::string path = m_temp->path().string() + "/message" + std::to_string(++m_saved) + ".bin";
    std::ofstream(path, std::ios::binary) << body;
    return path;
  }
  // Python: whether the binary list at `path` has every dictionary's keys in sorted order and equals
  // the Python expression `expected` (evaluated with `image` bound to the image folder).
  std::string Check(const std::string& path, const std::string& udid, const std::string& expected) {
    // clang-format off
    return Python(
        "import plistlib\n"
        "data = open('" + path + "', 'rb').read()\n"
        "def sorted_keys(v):\n"
        "    if isinstance(v, dict): return list(v) == sorted(v) and all(sorted_keys(x) for x in v.values())\n"
        "    if isinstance(v, list): return all(sorted_keys(x) for x in v)\n"
        "    return True\n"
        "image = '" + ImagePath(udid) + "'\n"
        "message = plistlib.loads(data)\n"
        "print(data.startswith(b'bplist00'), sorted_keys(message), message == (" + expected + "))");
    // clang-format on
  }
  int m_saved = 0;
};

TEST_F(MDInfoServices, DiagnosticsAnswersOneRequestFromTheImageThenHangsUp) {
  struct Case {
    const char* udid;
    std::string request;
    std::string expected;  // Python expression
  } cases[] = {
      {"DIAG-1",
       Plist("<dict><key>EntryClass</key><string>IOPMPowerSource</string><key>Request</key><string>IORegistry"
             "</string></dict>"),
       "{'Diagnostics': {'IORegistry': plistlib.load(open(image + '/diagnostics.plist', 'rb'))['IORegistry']"
       "['IOPMPowerSource']}, 'Status': 'Success'}"},
      {"DIAG-2",
       Plist("<dict><key>EntryClass</key><string>IOSomethingElse</string><key>Request</key><string>IORegistry"
             "</string></dict>"),
       "{'Status': 'Failure'}"},
      {"DIAG-3", Plist("<dict><key>Request</key><string>Sleep</string></dict>"), "{'Status': 'UnknownRequest'}"},
      {"DIAG-4", Plist("<dict><key>Request</key><string>Goodbye</string></dict>"), "{'Status': 'Success'}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udid);
    AMDeviceRef device = AttachAndWait(c.udid);
    ASSERT_NE(device, nullptr);
    SessionHolder session(device);
    ASSERT_EQ(session.Result(), 0);
    ServiceHolder service(device, "com.apple.mobile.diagnostics_relay");
    ASSERT_EQ(service.Result(), 0);
    ASSERT_TRUE(SendFrame(service.Get(), c.request));
    std::string reply;
    ASSERT_TRUE(ReceiveFrame(service.Get(), true, &reply));
    EXPECT_EQ(Check(Save(reply), c.udid, c.expected), "True True True");
    EXPECT_TRUE(HungUp(service.Get())) << "no goodbye, no second answer";
  }
}

TEST_F(MDInfoServices, AtcSendsTheImageScriptLittleEndianWithSortedKeys) {
  const std::string script = m_temp->path().string() + "/script.json";
  std::ofstream(script) << R"([{"Session": 0, "Command": "Ping"},
    {"Session": 1, "Params": {"Zeta": {"_PhysicalSize": 3, "_Count": 1}, "Alpha": 2}, "Command": "AssetMetrics"},
    {"Directive": "zero-length"}])";
  AMDeviceRef device = AttachAndWait("ATC-1", {"--atc-script", script});
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);
  ServiceHolder service(device, "com.apple.atc");
  ASSERT_EQ(service.Result(), 0);
  ASSERT_TRUE(SendLittleEndianFrame(service.Get(), kPowerAssertion));
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE(index);
    std::string message;
    ASSERT_TRUE(ReceiveFrame(service.Get(), false, &message));
    EXPECT_EQ(Check(Save(message), "ATC-1",
                    "plistlib.load(open(image + '/atc.plist', 'rb'))['Messages'][" + std::to_string(index) + "]"),
              "True True True");
  }
  std::string last;
  ASSERT_TRUE(ReceiveFrame(service.Get(), false, &last));
  EXPECT_TRUE(last.empty()) << "a zero length word";
}

TEST_F(MDInfoServices, AtcHangsUpOnAHostThatDoesNotOpenWithAPowerAssertion) {
  struct Case {
    const char* udid;
    bool littleEndian;
    std::string body;
  } cases[] = {
      {"ATC-BE", false, kPowerAssertion},  // device-link framing: the length reads as far above 1 MiB
      {"ATC-CMD", true, Plist("<dict><key>Command</key><string>Hello</string></dict>")},
      {"ATC-JUNK", true, "not a property list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udid);
    AMDeviceRef device = AttachAndWait(c.udid);
    ASSERT_NE(device, nullptr);
    SessionHolder session(device);
    ASSERT_EQ(session.Result(), 0);
    ServiceHolder service(device, "com.apple.atc");
    ASSERT_EQ(service.Result(), 0);
    // The device may hang up on the length word alone, before the body is through: the send's
    // result is not the point.
    (void)(c.littleEndian ? SendLittleEndianFrame(service.Get(), c.body) : SendFrame(service.Get(), c.body));
    EXPECT_TRUE(HungUp(service.Get()));
  }
}

}  // namespace
