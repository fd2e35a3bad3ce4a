// The synchronisation session's pieces that need no device: the computer anchor in pinned time
// zones, messages composed with every text escaped (read back by Python's plistlib, not by our own
// reader), the literal id replacement that keeps every other value as it was, and the two generic
// answer handlers on a table of device messages.
#include "utility/hlx_sync_session.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/device/device_test_support.h"
#include "utility/hlx_json.h"

namespace hlx {
namespace {

using test::Python;
using test::ShellOutput;
using test::ShellQuote;
using test::TempFolder;
using test::WriteFile;

// Pins TZ for one test and puts it back.
using test::PinnedZone;

TEST(ComputerAnchor, LocalTimeAndTheWholeHoursOfTheStandardOffset) {
  struct Case {
    const char* zone;
    std::time_t moment;
    const char* anchor;
  };
  const Case cases[] = {
      // 7 March 2016, 09:05:30 in a zone eight hours east of UTC.
      {"Asia/Shanghai", 1457312730, "2016-03-07 09:05:30 +0800"},
      // Half an hour of the offset is dropped.
      {"Asia/Kolkata", 1457312730, "2016-03-07 06:35:30 +0500"},
      // West of UTC the offset carries a minus sign.
      {"America/Bogota", 1457312730, "2016-03-06 20:05:30 -0500"},
      {"UTC", 0, "1970-01-01 00:00:00 +0000"},
      // Summer time moves the clock, not the offset: Berlin in July is UTC+2, its standard offset +1.
      {"Europe/Berlin", 1720094400, "2024-07-04 14:00:00 +0100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    PinnedZone zone(c.zone);
    EXPECT_EQ(ComputerAnchorText(c.moment), c.anchor);
  }
}

class SyncMessages : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::BindSimulatedLibrary()); }

  // What Python's plistlib reads from the bytes of a message, as compact JSON (keys sorted).
  std::string ReadWithPlistlib(const BinaryPlist& message) {
    const std::string path = m_folder / "message.bin";
    EXPECT_TRUE(WriteFile(path, std::string(reinterpret_cast<const char*>(message.bytes), message.length)));
    const char* code =
        "import json, plistlib, sys, datetime, base64\n"
        "def plain(v):\n"
        "    if isinstance(v, datetime.datetime): return {'date': v.isoformat()}\n"
        "    if isinstance(v, bytes): return {'data': base64.b64encode(v).decode()}\n"
        "    if isinstance(v, dict): return {k: plain(x) for k, x in v.items()}\n"
        "    if isinstance(v, list): return [plain(x) for x in v]\n"
        "    return v\n"
        "data = open(sys.argv[1], 'rb').read()\n"
        "assert data.startswith(b'bplist00')\n"
        "print(json.dumps(plain(plistlib.loads(data)), sort_keys=True, separators=(',', ':'), ensure_ascii=False))\n";
    int status = -1;
    std::string out = ShellOutput(Python() + " -c " + ShellQuote(code) + " " + ShellQuote(path), &status);
    EXPECT_EQ(status, 0) << out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  TempFolder m_folder;
};

TEST_F(SyncMessages, TextsWithMarkupStayTextInEveryMessage) {
  // An id that would close the key and add a second deletion if it were pasted into the XML.
  const std::string id = "1</key><string>___EmptyParameterString___</string><key>2";
  BinaryPlistPtr deletion = MakeDeletionMessage(kSyncContacts, id);
  ASSERT_TRUE(deletion);
  EXPECT_EQ(ReadWithPlistlib(*deletion), "[\"SDMessageProcessChanges\",\"com.apple.Contacts\",{\"" +
                                             std::string("1</key><string>___EmptyParameterString___</string><key>2") +
                                             "\":\"___EmptyParameterString___\"}]");

  BinaryPlistPtr group = SyncMessageXml("SDMessageProcessChanges")
                             .String("com.apple.Contacts")
                             .BeginDict()
                             .Key("Group/a&b")
                             .BeginDict()
                             .Key("name")
                             .String("Tom & \"Jerry\" <friends>\ttab\nline")
                             .Key("members")
                             .BeginArray()
                             .EndArray()
                             .EndDict()
                             .EndDict()
                             .True()
                             .Integer(-7)
                             .Convert();
  ASSERT_TRUE(group);
  EXPECT_EQ(ReadWithPlistlib(*group),
            "[\"SDMessageProcessChanges\",\"com.apple.Contacts\",{\"Group/a&b\":{\"members\":[],\"name\":\"Tom & "
            "\\\"Jerry\\\" <friends>\\ttab\\nline\"}},true,-7]");

  BinaryPlistPtr announce = MakeClassMessage("SDMessageGetAllRecordsFromDevice", kSyncBookmarks);
  ASSERT_TRUE(announce);
  EXPECT_EQ(ReadWithPlistlib(*announce), "[\"SDMessageGetAllRecordsFromDevice\",\"com.apple.Bookmarks\"]");
}

TEST_F(SyncMessages, ARecordChangeCarriesItsFieldsTheMarkerAndTheEntityNames) {
  SyncMessageXml group = BeginRecordChange(kSyncContacts, "Group/a<b", "com.apple.contacts.Group");
  group.Key("name").String("n");
  BinaryPlistPtr groupMessage =
      EndRecordChange(group, true, {"com.apple.contacts.Contact", "com.apple.contacts.Group"});
  ASSERT_TRUE(groupMessage);
  EXPECT_EQ(ReadWithPlistlib(*groupMessage),
            "[\"SDMessageProcessChanges\",\"com.apple.Contacts\",{\"Group/a<b\":{\"com.apple.syncservices."
            "RecordEntityName\":\"com.apple.contacts.Group\",\"name\":\"n\"}},true,{\"SyncDeviceLinkAllRecordsOf"
            "PulledEntityTypeSentKey\":true,\"SyncDeviceLinkEntityNamesKey\":[\"com.apple.contacts.Contact\","
            "\"com.apple.contacts.Group\"]}]");

  SyncMessageXml note = BeginRecordChange(kSyncNotes, "n1", "com.apple.notes.Note");
  BinaryPlistPtr noteMessage = EndRecordChange(note, false, {"com.apple.notes.Note"});
  ASSERT_TRUE(noteMessage);
  EXPECT_EQ(ReadWithPlistlib(*noteMessage),
            "[\"SDMessageProcessChanges\",\"com.apple.Notes\",{\"n1\":{\"com.apple.syncservices.RecordEntityName\":"
            "\"com.apple.notes.Note\"}},false,{\"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey\":true,"
            "\"SyncDeviceLinkEntityNamesKey\":[\"com.apple.notes.Note\"]}]");

  SyncMessageXml bell = BeginRecordChange(kSyncNotes, "bell\a", "com.apple.notes.Note");
  EXPECT_FALSE(EndRecordChange(bell, false, {"com.apple.notes.Note"}));
}

TEST_F(SyncMessages, ARequestedDeletionNeedsAnIdText) {
  for (const char* text : {"{}", "{\"id\":3}", "{\"id\":null}", "[\"1\"]", "{\"id\":\"\\u001b\"}"}) {
    rapidjson::Document data;
    ASSERT_TRUE(ParseJsonText(&data, text, std::strlen(text)));
    EXPECT_FALSE(RequestedDeletion(kSyncCalendars, data)) << text;
  }
  rapidjson::Document data;
  ASSERT_TRUE(ParseJsonText(&data, std::string("{\"id\":\"a<b\"}")));
  BinaryPlistPtr deletion = RequestedDeletion(kSyncCalendars, data);
  ASSERT_TRUE(deletion);
  EXPECT_EQ(ReadWithPlistlib(*deletion),
            "[\"SDMessageProcessChanges\",\"com.apple.Calendars\",{\"a<b\":\"___EmptyParameterString___\"}]");
}

TEST_F(SyncMessages, ATextXmlCannotCarryMakesNoMessage) {
  EXPECT_FALSE(SyncMessageXml("DLMessagePing").String("bell\a").Convert());
  EXPECT_FALSE(SyncMessageXml("DLMessagePing").Key(std::string("nul\0", 4)).Convert());
  EXPECT_FALSE(MakeDeletionMessage(kSyncContacts, "\x1b[0m"));
  EXPECT_TRUE(SyncMessageXml("DLMessagePing").String("tab\tline\ncr\r").Convert());
}

TEST_F(SyncMessages, ReplacementIsLiteralInKeysAndStringsAndKeepsOtherValues) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
      "<string>SDMessageProcessChanges</string><string>com.apple.Contacts</string><dict>"
      "<key>p-a.c(</key><dict><key>contact</key><array><string>a.c(</string><string>abc(</string></array>"
      "<key>value</key><string>x a.c( a.c(</string><key>when</key><date>1999-12-31T23:00:00Z</date>"
      "<key>image</key><data>AAEC</data><key>n</key><integer>12</integer><key>flag</key><true/>"
      "<key>ratio</key><real>0.5</real></dict></dict></array></plist>";
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(xml.data(), xml.size());
  ASSERT_TRUE(list);
  BinaryPlistPtr replaced = ReplaceTextInMessage(list.get(), "a.c(", "42");
  ASSERT_TRUE(replaced);
  EXPECT_EQ(ReadWithPlistlib(*replaced),
            "[\"SDMessageProcessChanges\",\"com.apple.Contacts\",{\"p-42\":{\"contact\":[\"42\",\"abc(\"],"
            "\"flag\":true,\"image\":{\"data\":\"AAEC\"},\"n\":12,\"ratio\":0.5,\"value\":\"x 42 42\","
            "\"when\":{\"date\":\"1999-12-31T23:00:00\"}}}]");
  // Nothing to replace: the same message.
  BinaryPlistPtr same = ReplaceTextInMessage(list.get(), "", "anything");
  ASSERT_TRUE(same);
  EXPECT_NE(ReadWithPlistlib(*same).find("\"p-a.c(\""), std::string::npos);
}

TEST_F(SyncMessages, SeveralReplacementsTakeOnePassAndTheLongestMatchOrWholeTexts) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
      "<string>SDMessageProcessChanges</string><string>com.apple.Calendars</string><dict><key>e</key><dict>"
      "<key>calendar</key><array><string>1</string><string>10</string><string>1+1</string></array>"
      "</dict></dict></array></plist>";
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(xml.data(), xml.size());
  ASSERT_TRUE(list);
  // "1" becomes "10", which is not searched again; "10" is matched whole, not as "1" then "0".
  BinaryPlistPtr replaced = ReplaceTextsInMessage(list.get(), {{"1", "10"}, {"10", "7"}}, ReplaceScope::kAnywhere);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(ReadWithPlistlib(*replaced),
            "[\"SDMessageProcessChanges\",\"com.apple.Calendars\",{\"e\":{\"calendar\":[\"10\",\"7\",\"10+10\"]}}]");
  // Whole texts only: "1+1" holds "1" but is another id.
  BinaryPlistPtr whole = ReplaceTextsInMessage(list.get(), {{"1", "10"}, {"10", "7"}}, ReplaceScope::kWholeText);
  ASSERT_TRUE(whole);
  EXPECT_EQ(ReadWithPlistlib(*whole),
            "[\"SDMessageProcessChanges\",\"com.apple.Calendars\",{\"e\":{\"calendar\":[\"10\",\"7\",\"1+1\"]}}]");
}

// A device message as binary bytes, made by the library from XML elements inside the array.
std::string Message(const std::string& elements) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>" + elements + "</array></plist>";
  BinaryPlistPtr binary = XmlPlistToBinary(xml);
  return binary ? std::string(reinterpret_cast<const char*>(binary->bytes), binary->length) : std::string();
}

TEST_F(SyncMessages, WaitForMessageReadsUntilTheNameARefusalOrANonMessage) {
  struct Case {
    std::string message;
    bool more;
    bool found;
    bool refused;
    bool disconnected;
  };
  const char* awaited = "SDMessageSyncDataClassWithComputer";
  const std::vector<Case> cases = {
      {Message("<string>SDMessageSyncDataClassWithComputer</string><string>com.apple.Contacts</string>"), false, true,
       false, false},
      // Without regard to case, at any position.
      {Message("<string>Other</string><string>sdmessagesyncdataclasswithcomputer</string>"), false, true, false, false},
      // Another message: dropped, the wait goes on.
      {Message("<string>SDMessageProcessChanges</string><dict/>"), true, false, false, false},
      {Message("<string>SDMessageRefuseToSyncDataClassWithComputer</string><string>c</string>"), false, false, true,
       false},
      {Message("<string>SDMessageCancelSession</string>"), false, false, true, false},
      {Message("<string>DLMessageDisconnect</string><string>bye</string>"), false, false, false, true},
      // Not a non-empty array: the wait ends without the name.
      {Message(""), false, false, false, false},
      {"not a property list", false, false, false, false},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    SyncWaitContext wait;
    wait.awaited = awaited;
    bool more = !c.more;
    bool result = true;
    WaitForMessage(&wait, reinterpret_cast<const uint8_t*>(c.message.data()), static_cast<int64_t>(c.message.size()),
                   &more, &result);
    EXPECT_EQ(more, c.more);
    EXPECT_EQ(wait.found, c.found);
    EXPECT_EQ(wait.refused, c.refused);
    EXPECT_EQ(wait.disconnected, c.disconnected);
    EXPECT_FALSE(result);
  }
}

TEST_F(SyncMessages, AcceptOneMessageTakesOneAndSeesOnlyARefusal) {
  struct Case {
    std::string message;
    bool refused;
  };
  const std::vector<Case> cases = {
      {Message("<string>SDMessageSyncDataClassWithComputer</string>"), false},
      {Message("<string>SDMessageRefuseToSyncDataClassWithComputer</string>"), true},
      {Message("<string>sdmessagecancelsession</string>"), true},
      {"junk", false},
  };
  for (const Case& c : cases) {
    SyncAcceptContext accept;
    bool more = true;
    bool result = true;
    AcceptOneMessage(&accept, reinterpret_cast<const uint8_t*>(c.message.data()),
                     static_cast<int64_t>(c.message.size()), &more, &result);
    EXPECT_FALSE(more);
    EXPECT_TRUE(accept.received);
    EXPECT_EQ(accept.refused, c.refused);
  }
}

TEST_F(SyncMessages, ASessionWithoutPreparedMessagesSendsNothing) {
  HLXSyncSession session(kSyncContacts);
  // No Prepare: every step fails before anything is opened or sent.
  EXPECT_EQ(session.Open(nullptr, HLXSyncSession::ClassAnswer::kAcceptOne), kReplyBadData);
  EXPECT_EQ(session.Ping(), kReplyBadData);
  EXPECT_EQ(session.Finish(HLXSyncSession::ClassAnswer::kWaitForComputer), kReplyBadData);
}

}  // namespace
}  // namespace hlx
