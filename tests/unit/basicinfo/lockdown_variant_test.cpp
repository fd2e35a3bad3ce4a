// Lockdown values as value trees, read from a simulated device and compared with what Python's
// plistlib reads from the same image's lockdown.plist under the value tree's conversion rules:
// strings (a non-ASCII device name included) as UTF-8, data as upper-case hex, booleans, 64-bit
// integers and reals, and dictionaries and arrays converted but answered with false.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "unit/device/simulated_device.h"
#include "utility/hlx_lockdown.h"

namespace hlx {
namespace {

// The tree as JSON: ["string", text], ["int", n], ["real", x], ["bool", b], ["empty", null],
// ["array", [...]], ["dict", {key: ...}] (keys in byte order, as the tree keeps them).
void Describe(const PlistVariant& value, rapidjson::Writer<rapidjson::StringBuffer>& out) {
  out.StartArray();
  switch (value.type()) {
    case PlistVariant::Type::kEmpty:
      out.String("empty");
      out.Null();
      break;
    case PlistVariant::Type::kString:
      out.String("string");
      out.String(value.GetString()->c_str());
      break;
    case PlistVariant::Type::kInt64:
      out.String("int");
      out.Int64(*value.GetInt64());
      break;
    case PlistVariant::Type::kDouble:
      out.String("real");
      out.Double(*value.GetDouble());
      break;
    case PlistVariant::Type::kBool:
      out.String("bool");
      out.Bool(*value.GetBool());
      break;
    case PlistVariant::Type::kArray:
      out.String("array");
      out.StartArray();
      for (const PlistVariant& element : *value.GetArray()) Describe(element, out);
      out.EndArray();
      break;
    case PlistVariant::Type::kDictionary:
      out.String("dict");
      out.StartObject();
      for (const auto& [key, entry] : value.GetDictionary()->entries()) {
        out.Key(key.c_str());
        Describe(entry, out);
      }
      out.EndObject();
      break;
  }
  out.EndArray();
}

// What the rules make of lockdown.plist's value, computed by Python: [result, description].
constexpr char kExpected[] = R"(
import json, plistlib, sys
values = plistlib.load(open(sys.argv[1], "rb"))
domain, key = sys.argv[2], sys.argv[3]
value = values.get(domain)
if key:
    value = value.get(key) if isinstance(value, dict) else None

def convert(v):
    if isinstance(v, bool): return ["bool", v]
    if isinstance(v, int): return ["int", v]
    if isinstance(v, float): return ["real", v]
    if isinstance(v, str): return ["string", v]
    if isinstance(v, bytes): return ["string", v.hex().upper()]
    if isinstance(v, dict):
        out = {}
        for k in sorted(v):
            c = convert(v[k])
            if c is not None: out[k] = c
        return ["dict", out]
    if isinstance(v, list):
        items = [convert(x) or ["empty", None] for x in v]
        return ["array", items] if items else None
    return None

converted = convert(value) if value is not None else None
scalar = converted is not None and converted[0] not in ("dict", "array")
print(json.dumps([scalar, converted], ensure_ascii=False, separators=(",", ":"), sort_keys=True))
)";

TEST(LockdownVariantTest, ValuesConvertAsPythonReadsThem) {
  test::SimulatedDevice device;
  std::string error;
  ASSERT_TRUE(device.Attach({}, &error)) << error;
  ASSERT_NE(device.StartService("com.apple.afc"), nullptr) << "no session";
  struct Case {
    const char* domain;
    const char* key;
  } cases[] = {
      {"", "DeviceName"},                   // "Zoë's iPhone": not ASCII
      {"", "ActivationStateAcknowledged"},  // boolean
      {"", "UniqueChipID"},                 // 64-bit integer
      {"", "TimeIntervalSince1970"},        // real
      {"", "DevicePublicKey"},              // data
      {"", "SupportedDeviceFamilies"},      // array: converted, answered false
      {"com.apple.mobile.battery", "BatteryIsCharging"},
      {"com.apple.international", ""},     // a whole domain with arrays inside
      {"com.apple.mobile.data_sync", ""},  // empty arrays inside: left out
      {"", ""},                            // every value without a domain
      {"", "NoSuchKey"},
      {"com.apple.no_such_domain", "Key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.domain) + " / " + c.key);
    PlistVariant value("untouched");
    const bool result = GetLockdownValueAsVariant(device.device(), c.key, c.domain, &value);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartArray();
    writer.Bool(result);
    const bool untouched = value.GetString() && *value.GetString() == "untouched";
    if (untouched) {
      writer.Null();
    } else {
      Describe(value, writer);
    }
    writer.EndArray();
    int status = -1;
    std::string expected = test::ShellOutput(test::Python() + " -c " + test::ShellQuote(kExpected) + " " +
                                                 test::ShellQuote(device.ImageFolder() + "/lockdown.plist") + " " +
                                                 test::ShellQuote(c.domain) + " " + test::ShellQuote(c.key),
                                             &status);
    ASSERT_EQ(status, 0) << expected;
    while (!expected.empty() && expected.back() == '\n') expected.pop_back();
    EXPECT_EQ(std::string(buffer.GetString(), buffer.GetSize()), expected);
  }
}

}  // namespace
}  // namespace hlx
