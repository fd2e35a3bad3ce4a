// The contact list's records: batches of device records in, the JSON the desktop sees out. Sub-records
// are linked after every batch is in, whatever order their ids and batches come in; a record sent
// twice is one; fields are shown as text with dates in local time (a pinned zone), integers in
// decimal, everything else left out. Then the collector's steps on device messages.
#include "utility/module/contact/hlx_contact_collector.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "unit/device/device_test_support.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

using test::PinnedZone;

std::string Xml(const std::string& elements) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>" + elements + "</array></plist>";
}

// A device batch: ["SDMessageProcessChanges", class, {records}, more, options].
std::string Batch(const std::string& records) {
  return Xml("<string>SDMessageProcessChanges</string><string>com.apple.Contacts</string><dict>" + records +
             "</dict><true/><dict><key>SyncDeviceLinkEntityNamesKey</key><array><string>x</string></array></dict>");
}

std::string Rec(const std::string& id, const std::string& entity, const std::string& fields) {
  return "<key>" + id + "</key><dict><key>com.apple.syncservices.RecordEntityName</key><string>" + entity +
         "</string>" + fields + "</dict>";
}

std::string F(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + value + "</string>";
}

std::string Owners(const std::vector<std::string>& ids) {
  std::string text = "<key>contact</key><array>";
  for (const std::string& id : ids) text += "<string>" + id + "</string>";
  return text + "</array>";
}

const std::string kContact = "com.apple.contacts.Contact";
const std::string kPhone = "com.apple.contacts.Phone Number";
const std::string kMail = "com.apple.contacts.Email Address";

std::string ListOf(const std::vector<std::string>& batches, bool groups = false) {
  ContactRecordSet records;
  for (const std::string& batch : batches) {
    PlistVariant parsed;
    EXPECT_TRUE(ParsePlistXmlToVariant(batch.data(), batch.size(), &parsed));
    records.Collect(parsed);
  }
  std::string joined;
  auto append = [&joined](const std::string& text) { joined += text; };
  if (groups) {
    records.GroupBatches(100, append);
  } else {
    records.ContactBatches(100, append);
  }
  return joined;
}

TEST(ContactList, SubRecordsFindTheirContactsWhereverTheyCome) {
  PinnedZone zone("Asia/Kolkata");
  struct Case {
    const char* what;
    std::vector<std::string> batches;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"a phone number whose id sorts before its contact's, in one batch",
       {Batch(Rec("10", kPhone, Owners({"9"}) + F("value", "+1 555")) + Rec("9", kContact, F("first name", "Ann")))},
       R"({"9":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","first name":"Ann",)"
       R"("com.apple.contacts.Phone Number":[{"id":"10","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"+1 555"}]}})"},
      {"sub-records in an earlier batch than their contact, entities in the order first met",
       {Batch(Rec("3", kMail, Owners({"1"}) + F("value", "a@b")) + Rec("4", kPhone, Owners({"1"}) + F("value", "1"))),
        Batch(Rec("2", kPhone, Owners({"1"}) + F("value", "2"))), Batch(Rec("1", kContact, ""))},
       R"({"1":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact",)"
       R"("com.apple.contacts.Email Address":[{"id":"3","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Email Address","value":"a@b"}],)"
       R"("com.apple.contacts.Phone Number":[{"id":"4","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"1"},)"
       R"({"id":"2","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"2"}]}})"},
      {"a contact sent twice is one member, the later; a shared number belongs to both, once each",
       {Batch(Rec("1", kContact, F("first name", "Old")) + Rec("2", kContact, F("first name", "Bo"))),
        Batch(Rec("1", kContact, F("first name", "New")) +
              Rec("5", kPhone, Owners({"2", "1", "2", "77"}) + F("value", "s")))},
       R"({"1":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","first name":"New",)"
       R"("com.apple.contacts.Phone Number":[{"id":"5","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"s"}]},)"
       R"("2":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","first name":"Bo",)"
       R"("com.apple.contacts.Phone Number":[{"id":"5","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"s"}]}})"},
      {"dates in local time (before 1970 too), integers as text, other values left out",
       {Batch(
           Rec("1", kContact,
               "<key>birthday</key><date>1960-02-21T00:00:00Z</date><key>rank</key><integer>-3</integer>"
               "<key>flag</key><true/><key>list</key><array><string>x</string></array>" +
                   F("plain", "1960-02-21") + F("almost", "1960-02-21T00:00:00") +
                   "<key>nested</key><dict><key>a</key><string>b</string></dict>") +
           Rec("2", "com.apple.contacts.Date", Owners({"1"}) + "<key>value</key><date>2024-07-04T12:00:00Z</date>"))},
       R"({"1":{"almost":"1960-02-21T00:00:00","birthday":"1960-02-21 05:30:00",)"
       R"("com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","plain":"1960-02-21","rank":"-3",)"
       R"("com.apple.contacts.Date":[{"id":"2","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Date","value":"2024-07-04 17:30:00"}]}})"},
      {"records that belong to nobody or are no records are not listed",
       {Batch(Rec("1", kContact, "") + Rec("2", kPhone, F("value", "no owners")) +
              Rec("3", kPhone, "<key>contact</key><string>1</string>" + F("value", "owners not an array")) +
              "<key>4</key><dict><key>first name</key><string>no entity</string></dict>" +
              Rec("5", kPhone, Owners({"404"})) + "<key>6</key><string>not a record</string>")},
       R"({"1":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact"}})"},
      {"no contacts", {Batch("")}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ListOf(c.batches), c.json);
  }
}

// Enough records that the id index grows several times; records sent again keep the place they first
// came in and take the later fields, and their sub-records are listed once.
TEST(ContactList, ManyRecordsSentTwiceKeepTheirFirstPlaces) {
  constexpr int kContacts = 700;
  std::string first;
  std::string again;
  for (int i = 1; i <= kContacts; ++i) {
    const std::string id = std::to_string(i);
    const std::string phone = std::to_string(kContacts + i);
    first += Rec(id, kContact, F("first name", "n" + id)) + Rec(phone, kPhone, Owners({id}) + F("value", "p" + id));
    if (i % 7 == 0)
      again += Rec(id, kContact, F("first name", "m" + id)) + Rec(phone, kPhone, Owners({id}) + F("value", "q" + id));
  }
  ContactRecordSet records;
  for (const std::string& batch : {Batch(first), Batch(again)}) {
    PlistVariant parsed;
    ASSERT_TRUE(ParsePlistXmlToVariant(batch.data(), batch.size(), &parsed));
    records.Collect(parsed);
  }
  std::string json;
  records.ContactBatches(kContacts, [&json](const std::string& text) { json += text; });
  rapidjson::Document document;
  ASSERT_FALSE(document.Parse(json.c_str()).HasParseError());
  ASSERT_EQ(document.MemberCount(), static_cast<rapidjson::SizeType>(kContacts));
  // A batch's records come in byte order of their ids ("1", "10", "100", ...), and keep that order.
  std::vector<std::string> ids;
  for (int i = 1; i <= kContacts; ++i) ids.push_back(std::to_string(i));
  std::sort(ids.begin(), ids.end());
  size_t at = 0;
  for (const auto& member : document.GetObject()) {
    const std::string id = member.name.GetString();
    ASSERT_EQ(id, ids[at++]);
    const bool sentAgain = std::stoi(id) % 7 == 0;
    EXPECT_EQ(std::string(member.value["first name"].GetString()), (sentAgain ? "m" : "n") + id);
    const auto& phones = member.value[kPhone.c_str()];
    ASSERT_EQ(phones.Size(), 1u) << id;
    EXPECT_EQ(std::string(phones[0]["value"].GetString()), (sentAgain ? "q" : "p") + id);
  }
}

TEST(ContactList, GroupsShowTheirTextsAndOneMemberList) {
  const std::string json = ListOf({Batch(Rec("7", "com.apple.contacts.Group",
                                             F("name", "Club") + F("since", "2001-01-01T00:00:00Z") +
                                                 "<key>members</key><array><string>1</string><string>2</string></array>"
                                                 "<key>more</key><array><string>3</string><integer>4</integer></"
                                                 "array><key>n</key><integer>1</integer>") +
                                         Rec("8", "com.apple.contacts.Group", F("name", "Empty")))},
                                  true);
  // Texts unchanged (no date conversion); every array's texts in the one "members"; no integers.
  EXPECT_EQ(json, R"({"7":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Group","name":"Club",)"
                  R"("since":"2001-01-01T00:00:00Z","members":["1","2","3"]},)"
                  R"("8":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Group","name":"Empty"}})");
}

TEST(ContactList, RepliesCarryAtMostTheBatchSize) {
  std::string records;
  for (int i = 1; i <= 250; ++i) records += Rec(std::to_string(i), kContact, "");
  ContactRecordSet set;
  PlistVariant parsed;
  const std::string batch = Batch(records);
  ASSERT_TRUE(ParsePlistXmlToVariant(batch.data(), batch.size(), &parsed));
  set.Collect(parsed);
  std::vector<size_t> sizes;
  set.ContactBatches(kContactReplyBatch, [&sizes](const std::string& text) {
    rapidjson::Document document;
    ASSERT_FALSE(document.Parse(text.c_str()).HasParseError());
    sizes.push_back(document.MemberCount());
  });
  EXPECT_EQ(sizes, (std::vector<size_t>{100, 100, 50}));
}

TEST(ContactFields, UtcTimesBecomeLocalTextFromTheYearOne) {
  PinnedZone zone("America/New_York");
  struct Case {
    const char* utc;
    const char* shown;
  };
  const Case cases[] = {
      {"2024-07-04T12:00:00Z", "2024-07-04 08:00:00"},  {"1969-12-31T23:59:59Z", "1969-12-31 18:59:59"},
      {"0001-01-02T00:00:00Z", "0001-01-01 19:03:58"},  // local mean time of New York before zones
      {"2024-07-04T12:00:00", "2024-07-04T12:00:00"},   // not the whole pattern: unchanged
      {"2024-07-04 12:00:00Z", "2024-07-04 12:00:00Z"}, {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utc);
    EXPECT_EQ(ContactFieldText(c.utc), c.shown);
  }
  EXPECT_EQ(UtcTextToLocalDateText("short"), "");
}

class ContactCollector : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::BindSimulatedLibrary()); }

  // Hands one device message (binary, as the device sends it) to the context's reader, as the session
  // does; `answer` tells what it said of the session.
  void Give(ContactSyncContext& context, const std::string& xml) {
    BinaryPlistPtr binary = XmlPlistToBinary(xml);
    ASSERT_TRUE(binary);
    answer.Reset();
    ReadSyncMessage(binary->bytes, binary->length, answer, ContactAnswerReader(context));
    EXPECT_TRUE(answer.received);
  }

  SyncAnswer answer;
};

TEST_F(ContactCollector, StepsReadBatchesIdMapsAndGroupIds) {
  ContactSyncContext context;
  Give(context, Batch(Rec("1", kContact, F("note", "SDMessageProcessChanges"))));
  EXPECT_TRUE(answer.anotherBatch);
  EXPECT_EQ(context.records.ContactCount(), 1u);
  // The end of a listing: no batch, even though a text in it names one.
  Give(context, Xml("<string>SDMessageDeviceReadyToReceiveChanges</string><string>SDMessageProcessChanges</string>"));
  EXPECT_FALSE(answer.anotherBatch);
  EXPECT_TRUE(answer.readyForChanges);
  EXPECT_EQ(context.records.ContactCount(), 1u);

  // An id map fills the map of its entity; later keys replace earlier ones.
  context.step = ContactStep::kIdMap;
  context.idMap = 2;
  Give(context, Xml("<string>SDMessageRemapRecordIdentifiers</string><string>com.apple.Contacts</string>"
                    "<dict><key>b</key><string>20</string><key>a</key><string>10</string><key>n</key><integer>3</"
                    "integer></dict>"));
  Give(context, Xml("<string>SDMessageRemapRecordIdentifiers</string><dict><key>a</key><string>11</string></dict>"));
  EXPECT_EQ(context.remaps[2], (std::map<std::string, std::string>{{"a", "11"}, {"b", "20"}}));
  EXPECT_TRUE(context.remaps[0].empty());

  context.step = ContactStep::kDeviceIdOfKey;
  context.recordKey = "Group/x";
  Give(context,
       Xml("<string>SDMessageRemapRecordIdentifiers</string><dict><key>Group/y</key><string>5</string></dict>"));
  EXPECT_EQ(context.deviceId, "");
  Give(context,
       Xml("<string>SDMessageRemapRecordIdentifiers</string><dict><key>Group/x</key><string>6</string></dict>"));
  EXPECT_EQ(context.deviceId, "6");

  // A refusal or a goodbye is seen at any step, and nothing of it is read.
  for (ContactStep step :
       {ContactStep::kListing, ContactStep::kIdMap, ContactStep::kIgnored, ContactStep::kDeviceIdOfKey}) {
    context.step = step;
    Give(context, Xml("<string>SDMessageCancelSession</string><string>why</string>"));
    EXPECT_TRUE(answer.refused) << static_cast<int>(step);
    Give(context, Xml("<string>DLMessageDisconnect</string>"));
    EXPECT_TRUE(answer.disconnected) << static_cast<int>(step);
  }
  EXPECT_EQ(context.records.ContactCount(), 1u);
  EXPECT_EQ(context.deviceId, "6");
}

}  // namespace
}  // namespace hlx
