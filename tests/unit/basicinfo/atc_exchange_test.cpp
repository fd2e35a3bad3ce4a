// The ATC message loop against the simulated device's "com.apple.atc", which answers the power
// assertion (little-endian framing both ways) with the script of the image: messages that end the
// exchange, messages to drop, and framings broken on purpose (zero lengths, bodies longer than the
// 4 MiB buffer, a hang-up in the middle of a body). Every case must end, with metrics only when an
// AssetMetrics message was read whole.
#include "utility/module/basicinfo/hlx_device_usage.h"

#include <gtest/gtest.h>

#include <string>

#include "unit/device/simulated_device.h"
#include "utility/hlx_afc.h"
#include "utility/hlx_plist.h"

namespace hlx {
namespace {

constexpr char kPowerAssertion[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Command</key>"
    "<string>PowerAssertion</string><key>Params</key><dict><key>Enabled</key><true/></dict>"
    "<key>Session</key><integer>0</integer></dict></plist>";

// Script entries as JSON (the maker's --atc-script takes a JSON list).
const char kMetrics[] =
    R"({"Command": "AssetMetrics", "Session": 0, "Params": {"_PhysicalSize": 1000, "_FreeSize": 400,
        "Music": {"_Count": 3, "_PhysicalSize": 120}, "Podcast": {"_Count": 2, "_PhysicalSize": 30}}})";

std::string Entry(const std::string& command) { return "{\"Command\": \"" + command + "\"}"; }
std::string Directive(const std::string& name, const std::string& more = "") {
  return "{\"Directive\": \"" + name + "\"" + (more.empty() ? "" : ", " + more) + "}";
}

struct Result {
  AtcOutcome outcome = AtcOutcome::kNoBuffer;
  bool metricsRead = false;
  int64_t musicBytes = 0;
  size_t extras = 0;
};

class AtcExchangeTest : public ::testing::Test {
 protected:
  // Attaches a device whose ATC script is `entries` (JSON texts) and runs one exchange with it.
  Result Run(const std::vector<std::string>& entries, const std::string& end = "") {
    Result result;
    std::string list = "[";
    for (size_t i = 0; i < entries.size(); ++i) list += (i ? "," : "") + entries[i];
    list += "]";
    test::TempFolder folder;
    const std::string script = folder / "atc.json";
    EXPECT_TRUE(test::WriteFile(script, list));
    test::SimulatedDevice device;
    std::string error;
    test::SimulatedDevice::Options options;
    options.imageArgs = {"--atc-script", script};
    if (!device.Attach(options, &error)) {
      ADD_FAILURE() << error;
      return result;
    }
    if (!end.empty()) {
      // The maker always writes "wait"; a test that wants a hang-up at the end patches the script.
      const std::string path = device.ImageFolder() + "/atc.plist";
      int status = -1;
      test::ShellOutput(test::Python() + " -c " +
                            test::ShellQuote("import plistlib,sys\np=sys.argv[1]\nd=plistlib.load(open(p,'rb'))\n"
                                             "d['End']=sys.argv[2]\nplistlib.dump(d,open(p,'wb'))") +
                            " " + test::ShellQuote(path) + " " + end,
                        &status);
      EXPECT_EQ(status, 0);
    }
    AMDServiceConnectionRef service = device.StartService("com.apple.atc");
    if (!service) {
      ADD_FAILURE() << "the ATC service did not start";
      return result;
    }
    BinaryPlistPtr assertion = XmlPlistToBinary(kPowerAssertion);
    EXPECT_NE(assertion, nullptr);
    rapidjson::Document target(rapidjson::kObjectType);
    DeviceUsageContext context("udid", &target, &target.GetAllocator());
    result.outcome = ExchangeAtcMessages(service, *assertion, &context);
    result.metricsRead = context.metricsRead;
    result.musicBytes = context.music.sizeBytes;
    result.extras = context.extras.size();
    return result;
  }
};

TEST_F(AtcExchangeTest, EveryScriptEndsAndOnlyAWholeAssetMetricsMessageGivesMetrics) {
  const std::string limit = std::to_string(kAfcTransferBufferBytes);
  const std::string overLimit = std::to_string(kAfcTransferBufferBytes + 1);
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::string end;
    AtcOutcome outcome;
  } cases[] = {
      {"metrics after a message the reader drops", {Entry("ReadyForSync"), kMetrics}, "", AtcOutcome::kMetrics},
      {"a ping before the metrics", {Entry("Ping"), kMetrics}, "", AtcOutcome::kEndedByDevice},
      {"idle exit", {Entry("IdleExit"), kMetrics}, "", AtcOutcome::kEndedByDevice},
      {"a zero length", {Directive("zero-length"), kMetrics}, "", AtcOutcome::kEndedByDevice},
      {"a body that is no property list is dropped",
       {Directive("announce", "\"Bytes\": 64, \"Send\": 64"), kMetrics},
       "",
       AtcOutcome::kMetrics},
      {"metrics exactly as long as the buffer",
       {Directive("padded", "\"Bytes\": " + limit + ", \"Message\": " + kMetrics)},
       "",
       AtcOutcome::kMetrics},
      {"metrics one byte longer than the buffer",
       {Directive("padded", "\"Bytes\": " + overLimit + ", \"Message\": " + kMetrics), kMetrics},
       "",
       AtcOutcome::kRefusedLength},
      {"a huge announced length",
       {Directive("announce", "\"Bytes\": 67108864, \"Send\": 0")},
       "",
       AtcOutcome::kRefusedLength},
      {"a hang-up in the middle of a body",
       {Directive("announce", "\"Bytes\": 1000, \"Send\": 10")},
       "",
       AtcOutcome::kConnectionEnded},
      {"a hang-up between messages",
       {Entry("ReadyForSync"), Directive("hang-up"), kMetrics},
       "",
       AtcOutcome::kConnectionEnded},
      {"the stream ends after messages the reader drops",
       {Entry("ReadyForSync"), Entry("SyncAllowed")},
       "hang-up",
       AtcOutcome::kConnectionEnded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = Run(c.entries, c.end);
    EXPECT_EQ(AtcOutcomeName(result.outcome), std::string(AtcOutcomeName(c.outcome)));
    const bool metrics = c.outcome == AtcOutcome::kMetrics;
    EXPECT_EQ(result.metricsRead, metrics);
    EXPECT_EQ(result.musicBytes, metrics ? 120 : 0);
    EXPECT_EQ(result.extras, metrics ? 2u : 0u);  // Podcast_Count and Podcast_PhysicalSize
  }
}

}  // namespace
}  // namespace hlx
