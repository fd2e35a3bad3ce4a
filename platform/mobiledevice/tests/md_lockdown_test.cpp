// Lockdown: sessions (reference-counted), values with their CF types checked against Python's
// plistlib reading the same image, writes that persist or are refused, pairing and trust, and the
// fault table on lockdown calls.
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "md_test_support.h"

namespace {

using namespace md::test;

class MDLockdown : public DeviceRootTest {
 protected:
  CFHolder Copy(AMDeviceRef device, const char* domain, const char* key) {
    CFHolder domainName = domain ? MakeString(domain) : nullptr;
    CFHolder keyName = key ? MakeString(key) : nullptr;
    return CFHolder(
        AMDeviceCopyValue(device, static_cast<CFStringRef>(domainName.get()), static_cast<CFStringRef>(keyName.get())));
  }
  int Set(AMDeviceRef device, const char* domain, const char* key, CFTypeRef value) {
    CFHolder domainName = domain ? MakeString(domain) : nullptr;
    CFHolder keyName = key ? MakeString(key) : nullptr;
    return AMDeviceSetValue(device, static_cast<CFStringRef>(domainName.get()), static_cast<CFStringRef>(keyName.get()),
                            value);
  }
  // The value as Python's plistlib reads it from the image: "<type>:<value>".
  std::string PlistlibView(const std::string& udid, const std::string& domain, const std::string& key) {
    return Python("import plistlib\nv = plistlib.load(open('" + ImagePath(udid) + "/lockdown.plist', 'rb'))['" +
                  domain + "']['" + key +
                  "']\n"
                  "t = type(v).__name__\n"
                  "print(t + ':' + (v.hex() if t == 'bytes' else ('%.6f' % v) if t == 'float' else "
                  "str(len(v)) if t == 'list' else str(v)))");
  }
};

// The same "<type>:<value>" view of a CF value, written independently of the library.
std::string CFView(CFTypeRef value) {
  char text[64];
  switch (CFGetTypeID(value)) {
    case kHLXCFStringTypeID: return "str:" + Text(value);
    case kHLXCFBooleanTypeID: return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "bool:True" : "bool:False";
    case kHLXCFArrayTypeID: return "list:" + std::to_string(CFArrayGetCount(static_cast<CFArrayRef>(value)));
    case kHLXCFDataTypeID: {
      auto data = static_cast<CFDataRef>(value);
      std::string hex;
      for (CFIndex i = 0; i < CFDataGetLength(data); ++i) {
        std::snprintf(text, sizeof text, "%02x", CFDataGetBytePtr(data)[i]);
        hex += text;
      }
      return "bytes:" + hex;
    }
    case kHLXCFNumberTypeID: {
      auto number = static_cast<CFNumberRef>(value);
      if (HLXCFNumberIsFloatType(number)) {
        double real = 0;
        CFNumberGetValue(number, kCFNumberFloat64Type, &real);
        std::snprintf(text, sizeof text, "float:%.6f", real);
      } else {
        int64_t integer = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
        std::snprintf(text, sizeof text, "int:%" PRId64, integer);
      }
      return text;
    }
    default: return "other";
  }
}

TEST_F(MDLockdown, ValuesNeedAnActiveSession) {
  AMDeviceRef device = AttachAndWait("SESSION-1");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(Copy(device, nullptr, "SerialNumber"), nullptr) << "no session yet";
  // The identity keys answer without a session, so that an untrusted device can say who it is.
  EXPECT_EQ(Text(Copy(device, nullptr, "ProductVersion").get()), "12.4.1");
  EXPECT_EQ(Copy(device, "com.apple.mobile.battery", "DeviceName"), nullptr) << "only without a domain";
  ASSERT_EQ(AMDeviceStartSession(device), kAMDNotConnectedError) << "a session needs a connection";
  {
    SessionHolder session(device);
    ASSERT_EQ(session.Result(), 0);
    EXPECT_EQ(Text(Copy(device, nullptr, "ProductVersion").get()), "12.4.1");
  }
  EXPECT_EQ(Copy(device, nullptr, "SerialNumber"), nullptr) << "the session has ended";
}

TEST_F(MDLockdown, ValuesKeepTheTypesAndContentsOfTheImage) {
  AMDeviceRef device = AttachAndWait("TYPES-1", {"--chip-id", "9007199254740993", "--capacity", "34359738368"});
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);
  struct Case {
    const char* domain;
    const char* key;
    const char* expectedType;
  };
  const Case cases[] = {
      {"", "DeviceName", "str"},               // non-ASCII: "Zoë's iPhone"
      {"", "UniqueChipID", "int"},             // beyond 2^53: exact only as a 64-bit integer
      {"", "TimeIntervalSince1970", "float"},  // reals as real devices send them
      {"", "TimeZoneOffsetFromUTC", "float"},
      {"", "SupportedDeviceFamilies", "list"},
      {"", "ActivationStateAcknowledged", "bool"},
      {"", "DevicePublicKey", "bytes"},
      {"", "BasebandGoldCertId", "int"},
      {"com.apple.mobile.battery", "BatteryCurrentCapacity", "int"},
      {"com.apple.mobile.battery", "BatteryIsCharging", "bool"},
      {"com.apple.disk_usage", "TotalDataCapacity", "int"},
      {"com.apple.international", "Keyboard", "str"},
  };
  for (const Case& c : cases) {
    CFHolder value = Copy(device, c.domain[0] ? c.domain : nullptr, c.key);
    ASSERT_NE(value, nullptr) << c.key;
    const std::string expected = PlistlibView("TYPES-1", c.domain, c.key);
    EXPECT_EQ(CFView(value.get()), expected) << c.key;
    EXPECT_EQ(expected.substr(0, expected.find(':')), c.expectedType) << c.key;
  }
  EXPECT_EQ(Text(Copy(device, nullptr, "DeviceName").get()), "Zo\xc3\xab's iPhone");
  EXPECT_EQ(CFView(Copy(device, nullptr, "UniqueChipID").get()), "int:9007199254740993");
  EXPECT_EQ(CFView(Copy(device, "com.apple.disk_usage", "TotalDataCapacity").get()), "int:34359738368");
}

TEST_F(MDLockdown, NullKeyGivesTheWholeDomainAndNullDomainTheValuesWithoutOne) {
  AMDeviceRef device = AttachAndWait("DOMAIN-1", {"--sync-account", "Contacts"});
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);

  CFHolder plain = Copy(device, nullptr, nullptr);
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(CFGetTypeID(plain.get()), static_cast<CFTypeID>(kHLXCFDictionaryTypeID));
  CFHolder deviceNameKey = MakeString("DeviceName");
  EXPECT_TRUE(CFDictionaryContainsKey(static_cast<CFDictionaryRef>(plain.get()), deviceNameKey.get()));

  CFHolder sync = Copy(device, "com.apple.mobile.data_sync", nullptr);
  ASSERT_NE(sync, nullptr);
  CFHolder contactsKey = MakeString("Contacts");
  auto contacts = CFDictionaryGetValue(static_cast<CFDictionaryRef>(sync.get()), contactsKey.get());
  ASSERT_NE(contacts, nullptr);
  CFHolder accountsKey = MakeString("AccountNames");
  auto accounts = CFDictionaryGetValue(static_cast<CFDictionaryRef>(contacts), accountsKey.get());
  ASSERT_NE(accounts, nullptr);
  EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(accounts)), 1);

  EXPECT_EQ(Copy(device, nullptr, "NoSuchKey"), nullptr);
  EXPECT_EQ(Copy(device, "com.apple.no.such.domain", nullptr), nullptr);
  CFHolder notAString(HLXCFNumberCreateInt64(5));
  EXPECT_EQ(AMDeviceCopyValue(device, nullptr, static_cast<CFStringRef>(notAString.get())), nullptr);
}

TEST_F(MDLockdown, SetValuePersistsWithItsTypeAndCanBeRefused) {
  AMDeviceRef device = AttachAndWait("SET-1");
  ASSERT_NE(device, nullptr);
  CFHolder name = MakeString("Zo\xc3\xab's renamed phone");
  EXPECT_EQ(Set(device, nullptr, "DeviceName", name.get()), kAMDSessionInactiveError);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);

  ASSERT_EQ(Set(device, nullptr, "DeviceName", name.get()), 0);
  EXPECT_EQ(Text(Copy(device, nullptr, "DeviceName").get()), "Zo\xc3\xab's renamed phone");
  EXPECT_EQ(PlistlibView("SET-1", "", "DeviceName"), "str:Zo\xc3\xab's renamed phone");
  CFHolder count(HLXCFNumberCreateInt64(42));
  ASSERT_EQ(Set(device, "com.hlx.test.newdomain", "Count", count.get()), 0);
  EXPECT_EQ(PlistlibView("SET-1", "com.hlx.test.newdomain", "Count"), "int:42");
  EXPECT_EQ(PlistlibView("SET-1", "", "ProductVersion"), "str:12.4.1") << "other values kept";

  EXPECT_EQ(Set(device, nullptr, nullptr, name.get()), kAMDInvalidArgumentError);
  EXPECT_EQ(Set(device, nullptr, "DeviceName", nullptr), kAMDInvalidArgumentError);

  ASSERT_EQ(Tool({"fault", "SET-1", "--refuse-set-value"}), 0);
  CFHolder other = MakeString("refused");
  EXPECT_NE(Set(device, nullptr, "DeviceName", other.get()), 0);
  EXPECT_EQ(PlistlibView("SET-1", "", "DeviceName"), "str:Zo\xc3\xab's renamed phone") << "file unchanged";
}

TEST_F(MDLockdown, AStopFromAnOlderSessionDoesNotEndARenewedOne) {
  AMDeviceRef device = AttachAndWait("RENEW-1");
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(AMDeviceConnect(device), 0);
  ASSERT_EQ(AMDeviceStartSession(device), 0);  // the older session, still held by a request
  // A renewal the way the service makes one: start, stop, start.
  ASSERT_EQ(AMDeviceStartSession(device), 0);
  ASSERT_EQ(AMDeviceStopSession(device), 0);
  ASSERT_EQ(AMDeviceStartSession(device), 0);
  EXPECT_EQ(AMDeviceStopSession(device), 0);  // the older holder lets go
  EXPECT_NE(Copy(device, nullptr, "SerialNumber"), nullptr) << "the renewed session must still answer";
  EXPECT_EQ(AMDeviceStopSession(device), 0);
  EXPECT_EQ(Copy(device, nullptr, "SerialNumber"), nullptr);
  EXPECT_EQ(AMDeviceStopSession(device), kAMDSessionInactiveError);
  EXPECT_EQ(AMDeviceDisconnect(device), 0);
}

TEST_F(MDLockdown, UntrustedDeviceShowsThePromptUntilTrusted) {
  AMDeviceRef device = AttachAndWait("PAIR-1", {"--untrusted"});
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(AMDeviceConnect(device), 0);
  EXPECT_EQ(AMDeviceIsPaired(device), 0);
  EXPECT_EQ(AMDeviceValidatePairing(device), kAMDInvalidPairRecordError);
  EXPECT_EQ(AMDeviceStartSession(device), kAMDInvalidPairRecordError);
  EXPECT_EQ(AMDevicePair(device), kAMDPairingDialogResponsePendingError);
  EXPECT_EQ(AMDevicePair(device), kAMDPairingDialogResponsePendingError);
  EXPECT_EQ(Python("import json; print(json.load(open('" + ImagePath("PAIR-1") + "/counters.json'))['pairPrompts'])"),
            "2");

  ASSERT_EQ(Tool({"trust", "PAIR-1"}), 0);
  EXPECT_EQ(AMDevicePair(device), 0);
  EXPECT_EQ(AMDeviceValidatePairing(device), 0);
  EXPECT_EQ(AMDeviceStartSession(device), 0);
  EXPECT_EQ(AMDeviceStopSession(device), 0);
  EXPECT_EQ(AMDeviceDisconnect(device), 0);
}

TEST_F(MDLockdown, PairingATrustedUnpairedDeviceRecordsThePairing) {
  AMDeviceRef device = AttachAndWait("PAIR-2", {"--unpaired"});
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(AMDeviceIsPaired(device), 0);
  EXPECT_EQ(AMDevicePair(device), 0);
  EXPECT_EQ(AMDeviceIsPaired(device), 1);
  EXPECT_EQ(Python("import json; print(json.load(open('" + ImagePath("PAIR-2") + "/state.json'))['paired'])"), "True");
}

TEST_F(MDLockdown, FaultTableFailsExactlyTheNamedCalls) {
  AMDeviceRef device = AttachAndWait("FAULT-1");
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(Tool({"fault", "FAULT-1", "--fail-call", "AMDeviceStartSession=2,4"}), 0);
  ASSERT_EQ(AMDeviceConnect(device), 0);
  const int expected[] = {0, kAMDInjectedFaultError, 0, kAMDInjectedFaultError, 0};
  int started = 0;
  for (int call = 0; call < 5; ++call) {
    int result = AMDeviceStartSession(device);
    EXPECT_EQ(result, expected[call]) << "call " << call + 1;
    started += result == 0;
  }
  for (int i = 0; i < started; ++i) EXPECT_EQ(AMDeviceStopSession(device), 0);
  AMDeviceDisconnect(device);
}

TEST_F(MDLockdown, DetachFaultRemovesTheDeviceDuringTheCall) {
  AMDeviceRef device = AttachAndWait("DETACH-1");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);
  ASSERT_EQ(Tool({"fault", "DETACH-1", "--detach-on", "AMDeviceCopyValue=2"}), 0);
  EXPECT_NE(Copy(device, nullptr, "DeviceName"), nullptr);
  EXPECT_EQ(Copy(device, nullptr, "DeviceName"), nullptr);
  EXPECT_EQ(m_log.WaitForMessage("DETACH-1", kAMDeviceNotificationDisconnected), device);
  EXPECT_FALSE(std::filesystem::exists(ImagePath("DETACH-1")));
  EXPECT_EQ(AMDeviceStartSession(device), kAMDNotConnectedError);
}

TEST_F(MDLockdown, CopiedValuesLeakNothing) {
  AMDeviceRef device = AttachAndWait("LEAK-1");
  ASSERT_NE(device, nullptr);
  SessionHolder session(device);
  ASSERT_EQ(session.Result(), 0);
  ASSERT_NE(Copy(device, nullptr, nullptr), nullptr);  // the first read parses and caches the file
  const int64_t before = HLXCFGetLiveObjectCount();
  for (int i = 0; i < 50; ++i) {
    EXPECT_NE(Copy(device, nullptr, "DeviceName"), nullptr);
    EXPECT_NE(Copy(device, "com.apple.disk_usage", nullptr), nullptr);
    EXPECT_EQ(Copy(device, nullptr, "NoSuchKey"), nullptr);
    CFHolder error(AMDCopyErrorText(kAMDPasswordProtectedError));
    EXPECT_EQ(Text(error.get()), "kAMDPasswordProtectedError");
  }
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before);

  // Writing the same value again and again: each write re-parses into a tree of the same size.
  CFHolder name = MakeString("Zo\xc3\xab's iPhone");
  ASSERT_EQ(Set(device, nullptr, "DeviceName", name.get()), 0);
  ASSERT_NE(Copy(device, nullptr, "DeviceName"), nullptr);
  const int64_t afterFirstWrite = HLXCFGetLiveObjectCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Set(device, nullptr, "DeviceName", name.get()), 0);
    ASSERT_NE(Copy(device, nullptr, "DeviceName"), nullptr);
  }
  EXPECT_EQ(HLXCFGetLiveObjectCount(), afterFirstWrite);
}

// A device that goes frees what it parsed, while its handle keeps answering "not connected".
TEST_F(MDLockdown, DepartedDevicesFreeTheirParsedValues) {
  const int64_t before = HLXCFGetLiveObjectCount();
  size_t seen = 0;
  for (int round = 0; round < 3; ++round) {
    AMDeviceRef device = AttachAndWait("CYCLE-" + std::to_string(round));
    ASSERT_NE(device, nullptr);
    {
      SessionHolder session(device);
      ASSERT_EQ(session.Result(), 0);
      ASSERT_NE(Copy(device, nullptr, nullptr), nullptr);
      ASSERT_NE(Copy(device, "com.apple.disk_usage", nullptr), nullptr);
    }
    ASSERT_EQ(Tool({"detach", "CYCLE-" + std::to_string(round)}), 0);
    ASSERT_EQ(m_log.WaitForMessage("CYCLE-" + std::to_string(round), kAMDeviceNotificationDisconnected, seen), device);
    seen = m_log.Snapshot().size();
    EXPECT_EQ(Copy(device, nullptr, "DeviceName"), nullptr);
  }
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before);
}

TEST(MDLockdownHandles, UnknownHandlesGiveCodesNotCrashes) {
  auto bogus = reinterpret_cast<AMDeviceRef>(static_cast<uintptr_t>(0x7fff0));
  EXPECT_EQ(AMDeviceConnect(bogus), kAMDInvalidArgumentError);
  EXPECT_EQ(AMDeviceConnect(nullptr), kAMDInvalidArgumentError);
  EXPECT_EQ(AMDeviceStartSession(bogus), kAMDInvalidArgumentError);
  EXPECT_EQ(AMDeviceIsPaired(bogus), 0);
  EXPECT_EQ(AMDeviceGetInterfaceType(bogus), 0);
  EXPECT_EQ(AMDeviceCopyValue(bogus, nullptr, nullptr), nullptr);
  EXPECT_EQ(AMDeviceGetConnectionID(bogus), 0u);
}

}  // namespace
