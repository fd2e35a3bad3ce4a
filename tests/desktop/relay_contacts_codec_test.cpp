// The relay module's contact codec: the listing's JSON shapes as the device service sends them, and the
// contact write's property-list messages read back by Python's plistlib rather than by our own code.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contact_editor_rules.h"
#include "contact_rules.h"
#include "python_check.h"
#include "relay_contacts_codec.h"
#include "vnl_utf8.h"

namespace {

using relay::ContactWrite;
using relay::kListedPropertyFlag;

// Pins the process's time zone for one test and puts the previous one back.
class PinnedZone {
public:
    explicit PinnedZone(const char* zone) {
        const char* previous = std::getenv("TZ");
        m_hadZone = previous != nullptr;
        if (m_hadZone) m_previous = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~PinnedZone() {
        if (m_hadZone) {
            setenv("TZ", m_previous.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    PinnedZone(const PinnedZone&) = delete;
    PinnedZone& operator=(const PinnedZone&) = delete;

private:
    bool m_hadZone = false;
    std::string m_previous;
};

// Central European time with its summer time, written as rules so that no zone database is needed.
constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr char kUsEastern[] = "EST5EDT,M3.2.0,M11.1.0";

std::shared_ptr<iOSContactProperty> Value(const wchar_t* kind, const wchar_t* key, const wchar_t* label,
                                          const wchar_t* value, const wchar_t* reserved = L"") {
    auto property = std::make_shared<iOSContactProperty>();
    property->kind = kind;
    property->labelKey = key;
    property->labelText = label;
    property->value = value;
    property->reserved = reserved;
    return property;
}

// Temporary ids TMP1, TMP2 ... in the order they are asked for.
std::function<std::string()> CountingIds() {
    auto next = std::make_shared<int>(0);
    return [next] { return "TMP" + std::to_string(++*next); };
}

// --- Texts and dates --------------------------------------------------------------------------------------

TEST(Utf8Text, NonAsciiAndAstralTextsRoundTrip) {
    const std::string utf8 = "Ōtake Zoë 日本 \xF0\x9F\x98\x80!";  // the emoji is U+1F600
    const std::wstring wide = vnl::WideFromUtf8(utf8);
    EXPECT_EQ(wide, L"Ōtake Zoë 日本 \U0001F600!");
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 16u : 15u);
    EXPECT_EQ(vnl::Utf8FromWide(wide), utf8);
}

TEST(Utf8Text, InvalidUtf8BecomesReplacementCharacters) {
    using vnl::WideFromUtf8;
    EXPECT_EQ(WideFromUtf8("a\xC0\xAF"
                           "b"),
              L"a\uFFFD\uFFFDb");                                             // overlong
    EXPECT_EQ(WideFromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");           // an encoded surrogate
    EXPECT_EQ(WideFromUtf8("\xF4\x90\x80\x80"), std::wstring(4, L'\uFFFD'));  // past U+10FFFF
    EXPECT_EQ(WideFromUtf8("\xE2\x82"
                           "A"),
              L"\uFFFD"
              L"A");  // cut short, the next byte kept
    EXPECT_EQ(WideFromUtf8("end\xE2\x82"), L"end\uFFFD");
    EXPECT_EQ(WideFromUtf8("\xFF\x80"), L"\uFFFD\uFFFD");
}

TEST(Utf8Text, UnpairedSurrogatesAndOutOfRangeUnitsBecomeReplacementCharacters) {
    std::wstring lone = L"a";
    lone.push_back(static_cast<wchar_t>(0xD83D));
    lone += L"b";
    EXPECT_EQ(vnl::Utf8FromWide(lone),
              "a\xEF\xBF\xBD"
              "b");
    if (sizeof(wchar_t) == 4) {
        const std::wstring beyond(1, static_cast<wchar_t>(0x110000));
        EXPECT_EQ(vnl::Utf8FromWide(beyond), "\xEF\xBF\xBD");
    }
}

TEST(RelayContactsCodecDate, LocalTimesBecomeUtcInAZoneEastOfGreenwich) {
    PinnedZone zone(kCentralEurope);
    using relay::LocalTextToUtcText;
    EXPECT_EQ(LocalTextToUtcText("1960-02-21 00:00:00"), "1960-02-20T23:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("1950-01-01 00:00:00"), "1949-12-31T23:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("2021-07-04 00:00:00"), "2021-07-03T22:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("2021-12-24 18:30:15"), "2021-12-24T17:30:15Z");
    EXPECT_EQ(LocalTextToUtcText("2000-02-29 00:30:00"), "2000-02-28T23:30:00Z");
    EXPECT_EQ(LocalTextToUtcText("1970-01-01 00:30:00"), "1969-12-31T23:30:00Z");
    EXPECT_EQ(LocalTextToUtcText("1970-01-01 00:59:59"), "1969-12-31T23:59:59Z") << "the C library's failure value";
}

TEST(RelayContactsCodecDate, LocalTimesBecomeUtcInAZoneWestOfGreenwich) {
    PinnedZone zone(kUsEastern);
    using relay::LocalTextToUtcText;
    EXPECT_EQ(LocalTextToUtcText("1950-02-21 00:00:00"), "1950-02-21T05:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("1969-12-31 23:00:00"), "1970-01-01T04:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("2021-07-04 22:00:00"), "2021-07-05T02:00:00Z");
}

// Rules written as a TZ text hold from 1970 on in the C library; a zone of the database also knows the
// summer time of earlier years.
TEST(RelayContactsCodecDate, SummerTimeBefore1970FollowsTheZoneDatabase) {
    if (!std::ifstream("/usr/share/zoneinfo/America/New_York")) GTEST_SKIP() << "no zone database";
    PinnedZone zone("America/New_York");
    using relay::LocalTextToUtcText;
    EXPECT_EQ(LocalTextToUtcText("1955-07-01 00:00:00"), "1955-07-01T04:00:00Z");
    EXPECT_EQ(LocalTextToUtcText("1955-01-01 00:00:00"), "1955-01-01T05:00:00Z");
}

TEST(RelayContactsCodecDate, TextsThatAreNotLocalTimesGiveNothing) {
    PinnedZone zone("UTC0");
    using relay::LocalTextToUtcText;
    EXPECT_EQ(LocalTextToUtcText("2021-07-04 12:34:56"), "2021-07-04T12:34:56Z");
    // clang-format off
    for (const char* bad : {"", "1960-02-21", "1960-02-21T00:00:00", "1960-02-21 00:00:00Z", "1960-02-30 00:00:00",
                            "1961-02-29 00:00:00", "1960-13-01 00:00:00", "1960-00-10 00:00:00",
                            "1960-02-21 24:00:00", "1960-02-21 00:60:00", "196O-02-21 00:00:00",
                            "0000-01-01 00:00:00", "+960-02-21 00:00:00"}) {
        EXPECT_EQ(LocalTextToUtcText(bad), "") << bad;
    }
    // clang-format on
}

TEST(RelayContactsCodecText, TemporaryIdsAreFreshGroupedCapitalHex) {
    const std::string first = relay::NewTemporaryId();
    ASSERT_EQ(first.size(), 36u);
    for (size_t i = 0; i < first.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(first[i], '-') << first;
        } else {
            EXPECT_TRUE((first[i] >= '0' && first[i] <= '9') || (first[i] >= 'A' && first[i] <= 'F')) << first;
        }
    }
    EXPECT_NE(relay::NewTemporaryId(), first);
}

// --- Listing ----------------------------------------------------------------------------------------------

const char kListedContacts[] = R"({
 "1":{"birthday":"1960-02-21 00:00:00","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact",
      "company name":"Contoso","department":"Support","first name":"Ines","job title":"Engineer",
      "last name":"Kowalski","image":"iVBORw0KGgo=","title":"Dr.",
      "com.apple.contacts.Phone Number":[
        {"id":"2","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","label":"Weekend","type":"mobile","value":"+49 174 5097584"},
        {"id":"3","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","type":"mobile","value":"+49 150 7376454"}],
      "com.apple.contacts.URL":[
        {"id":"5","com.apple.syncservices.RecordEntityName":"com.apple.contacts.URL","type":"homepage","value":"https://example.com/0?a=1&b=2"}]},
 "14":{"first name":"Zoë","last name":"Ōtake \ud83d\ude00","display as company":"company","notes":"Met at the fair.\nLikes tea & <cake>.\t☕",
      "com.apple.contacts.Street Address":[
        {"id":"18","city":"Kyoto","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Street Address","country":"Japan","country code":"jp","postal code":"600-8216","street":"51 Long Street\nBuilding 3","type":"home"}],
      "com.apple.contacts.Related Name":[
        {"id":"19","label":"Family","type":"partner","value":"David"}],
      "com.apple.contacts.Email Address":[{"id":"20","type":"work","value":"zoe@example.com"}],
      "com.apple.contacts.IM":[{"id":"21","user":"zoe42","service":"aim","type":"work","label":"Chat"},
                               {"id":"22","user":"zoe@xmpp","service":"jabber"}],
      "com.apple.contacts.Date":[{"id":"23","type":"anniversary","value":"2010-07-01 00:00:00"}]}
})";

TEST(RelayContactsCodecRead, ListedContactBatchBecomesRecordsInOrder) {
    std::vector<std::shared_ptr<iOSContact>> contacts;
    ASSERT_TRUE(relay::ReadContactBatch(kListedContacts, contacts));
    ASSERT_EQ(contacts.size(), 2u);

    const iOSContact& ines = *contacts[0];
    EXPECT_EQ(ines.identifier, L"1");
    EXPECT_EQ(ines.firstName, L"Ines");
    EXPECT_EQ(ines.lastName, L"Kowalski");
    EXPECT_EQ(ines.prefix, L"Dr.");
    EXPECT_EQ(ines.company, L"Contoso");
    EXPECT_EQ(ines.department, L"Support");
    EXPECT_EQ(ines.jobTitle, L"Engineer");
    EXPECT_EQ(ines.birthday, L"1960-02-21 00:00:00");
    EXPECT_EQ(ines.recordKind, L"") << "no \"display as company\" listed: none made up";
    ASSERT_EQ(ines.phones.size(), 2u);
    EXPECT_EQ(ines.phones[0]->kind, CONTACT_KIND_PHONE);
    EXPECT_EQ(ines.phones[0]->reserved, L"2");
    EXPECT_EQ(ines.phones[0]->labelKey, L"mobile");
    EXPECT_EQ(ines.phones[0]->labelText, L"Weekend");
    EXPECT_EQ(ines.phones[0]->value, L"+49 174 5097584");
    EXPECT_EQ(ines.phones[0]->flag, kListedPropertyFlag);
    EXPECT_EQ(ines.phones[1]->reserved, L"3");
    EXPECT_EQ(ines.phones[1]->labelText, L"");
    ASSERT_EQ(ines.urls.size(), 1u);
    EXPECT_EQ(ines.urls[0]->kind, CONTACT_KIND_URL);
    EXPECT_EQ(ines.urls[0]->value, L"https://example.com/0?a=1&b=2");
    EXPECT_TRUE(ines.emails.empty() && ines.addresses.empty() && ines.instantMessaging.empty());

    const iOSContact& zoe = *contacts[1];
    EXPECT_EQ(zoe.identifier, L"14");
    EXPECT_EQ(zoe.firstName, L"Zoë");
    EXPECT_EQ(zoe.lastName, L"Ōtake \U0001F600");
    EXPECT_EQ(zoe.recordKind, L"company");
    EXPECT_EQ(zoe.note, L"Met at the fair.\nLikes tea & <cake>.\t\u2615");
    ASSERT_EQ(zoe.addresses.size(), 1u);
    const iOSContactAddress& address = *zoe.addresses[0];
    EXPECT_EQ(address.kind, CONTACT_KIND_ADDRESS);
    EXPECT_EQ(address.reserved, L"18");
    EXPECT_EQ(address.labelKey, L"home");
    EXPECT_EQ(address.street, L"51 Long Street\nBuilding 3");
    EXPECT_EQ(address.city, L"Kyoto");
    EXPECT_EQ(address.postalCode, L"600-8216");
    EXPECT_EQ(address.country, L"Japan");
    EXPECT_EQ(address.countryCode, L"jp");
    EXPECT_EQ(address.flag, kListedPropertyFlag);
    ASSERT_EQ(zoe.relatedNames.size(), 1u);
    EXPECT_EQ(zoe.relatedNames[0]->labelText, L"Family");
    EXPECT_EQ(zoe.relatedNames[0]->kind, CONTACT_KIND_RELATED_NAME);
    ASSERT_EQ(zoe.emails.size(), 1u);
    EXPECT_EQ(zoe.emails[0]->value, L"zoe@example.com");
    ASSERT_EQ(zoe.instantMessaging.size(), 2u);
    EXPECT_EQ(zoe.instantMessaging[0]->userName, L"zoe42");
    EXPECT_EQ(zoe.instantMessaging[0]->service, L"aim");
    EXPECT_EQ(zoe.instantMessaging[0]->labelKey, L"work");
    EXPECT_EQ(zoe.instantMessaging[0]->labelText, L"Chat");
    EXPECT_EQ(zoe.instantMessaging[0]->reserved, L"21");
    EXPECT_EQ(zoe.instantMessaging[1]->labelKey, L"") << "an entry without a type keeps none";
    EXPECT_EQ(zoe.instantMessaging[1]->service, L"jabber");
    ASSERT_EQ(zoe.dates.size(), 1u);
    EXPECT_EQ(zoe.dates[0]->kind, CONTACT_KIND_DATE);
    EXPECT_EQ(zoe.dates[0]->value, L"2010-07-01 00:00:00");
}

TEST(RelayContactsCodecRead, UnknownAndNonStringMembersAreIgnored) {
    std::vector<std::shared_ptr<iOSContact>> contacts;
    ASSERT_TRUE(relay::ReadContactBatch(
        R"({"7":{"first name":5,"last name":"Lee","shoe size":"44","nickname":null,
                 "com.apple.contacts.Phone Number":[{"id":9,"type":"home","value":"123"},"junk",{"id":"10","value":["x"]}],
                 "com.apple.contacts.Email Address":"not a list"}})",
        contacts));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]->firstName, L"");
    EXPECT_EQ(contacts[0]->lastName, L"Lee");
    EXPECT_EQ(contacts[0]->nickname, L"");
    ASSERT_EQ(contacts[0]->phones.size(), 2u);
    EXPECT_EQ(contacts[0]->phones[0]->reserved, L"");
    EXPECT_EQ(contacts[0]->phones[0]->value, L"123");
    EXPECT_EQ(contacts[0]->phones[1]->reserved, L"10");
    EXPECT_EQ(contacts[0]->phones[1]->value, L"");
    EXPECT_TRUE(contacts[0]->emails.empty());
}

TEST(RelayContactsCodecRead, InvalidUtf8InAValueBecomesReplacementCharacters) {
    std::vector<std::shared_ptr<iOSContact>> contacts;
    ASSERT_TRUE(relay::ReadContactBatch("{\"3\":{\"first name\":\"A\xC3\x28\"}}", contacts));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0]->firstName, L"A\uFFFD(");
}

// Texts that are not an object of objects, including one deep enough to exhaust a recursive reader.
std::vector<std::string> MalformedBatches() {
    return {"",
            "not json",
            "[]",
            "[{\"1\":{}}]",
            "\"text\"",
            "{\"1\":{}, \"2\":3}",
            "{\"1\":[]}",
            "{\"1\":{}} trailing",
            "{\"1\":{\"first name\":\"A\"}",
            std::string(200000, '[')};
}

TEST(RelayContactsCodecRead, MalformedBatchesAppendNothing) {
    for (const std::string& bad : MalformedBatches()) {
        std::vector<std::shared_ptr<iOSContact>> contacts{std::make_shared<iOSContact>()};
        EXPECT_FALSE(relay::ReadContactBatch(bad, contacts)) << bad.substr(0, 40);
        EXPECT_EQ(contacts.size(), 1u) << bad.substr(0, 40);
        std::vector<std::shared_ptr<iOSContactGroup>> groups;
        EXPECT_FALSE(relay::ReadGroupBatch(bad, groups)) << bad.substr(0, 40);
        EXPECT_TRUE(groups.empty());
    }
}

TEST(RelayContactsCodecRead, BatchesAppendToWhatIsAlreadyRead) {
    std::vector<std::shared_ptr<iOSContact>> contacts;
    ASSERT_TRUE(relay::ReadContactBatch(R"({"1":{"first name":"A"}})", contacts));
    ASSERT_TRUE(relay::ReadContactBatch(R"({"2":{"first name":"B"},"3":{}})", contacts));
    ASSERT_TRUE(relay::ReadContactBatch("{}", contacts));
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0]->identifier, L"1");
    EXPECT_EQ(contacts[1]->firstName, L"B");
    EXPECT_EQ(contacts[2]->identifier, L"3");
    EXPECT_EQ(contacts[2]->recordKind, L"");
}

TEST(RelayContactsCodecRead, ListedGroupBatchBecomesGroups) {
    std::vector<std::shared_ptr<iOSContactGroup>> groups;
    ASSERT_TRUE(relay::ReadGroupBatch(
        R"({"47":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Group","name":"Family","members":["1","6","14"]},
            "48":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Group","name":"Work & Friends","members":["6",7]},
            "49":{"name":"Ärzte"}})",
        groups));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0]->identifier, L"47");
    EXPECT_EQ(groups[0]->name, L"Family");
    EXPECT_EQ(groups[0]->members, (std::vector<std::wstring>{L"1", L"6", L"14"}));
    EXPECT_EQ(groups[1]->name, L"Work & Friends");
    EXPECT_EQ(groups[1]->members, (std::vector<std::wstring>{L"6"}));
    EXPECT_EQ(groups[2]->name, L"Ärzte");
    EXPECT_TRUE(groups[2]->members.empty());
}

// --- Contact write ----------------------------------------------------------------------------------------

// Reads every message of a write's data with plistlib, in the JSON's member order: the records as
// sorted JSON (dates as "date:" and their UTC text), the flag after them and the message's frame.
const char kPlistReader[] = R"(
import base64, datetime, json, plistlib, sys
def plain(value):
    if isinstance(value, bytes):
        return 'data:' + base64.b64encode(value).decode()
    if isinstance(value, datetime.datetime):
        return 'date:%04d-%02d-%02dT%02d:%02d:%02dZ' % (value.year, value.month, value.day,
                                                      value.hour, value.minute, value.second)
    if isinstance(value, dict):
        return {key: plain(item) for key, item in value.items()}
    if isinstance(value, list):
        return [plain(item) for item in value]
    return value
with open(sys.argv[1], 'rb') as source:
    pairs = json.loads(source.read().decode('utf-8'), object_pairs_hook=lambda pairs: pairs)
out = []
for entity, text in pairs:
    message = plistlib.loads(text.encode('utf-8'))
    frame = json.dumps([message[0], message[1], message[4]], sort_keys=True, separators=(',', ':'))
    out.append({'entity': entity, 'frame': frame, 'more': message[3],
                'records': {key: json.dumps(plain(record), sort_keys=True, ensure_ascii=False, separators=(',', ':'))
                            for key, record in message[2].items()},
                'count': len(message)})
print(json.dumps(out))
)";

struct ReadMessage {
    std::string entity;
    bool more = false;
    std::map<std::string, std::string> records;  // id -> the record as sorted JSON
};

const char kExpectedFrame[] =
    R"(["SDMessageProcessChanges","com.apple.Contacts",{"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey":true,)"
    R"("SyncDeviceLinkEntityNamesKey":["com.apple.contacts.Contact","com.apple.contacts.Group",)"
    R"("com.apple.contacts.Phone Number","com.apple.contacts.Email Address","com.apple.contacts.Street Address",)"
    R"("com.apple.contacts.URL","com.apple.contacts.Related Name","com.apple.contacts.IM","com.apple.contacts.Date"]}])";

std::vector<ReadMessage> ReadBack(const std::string& dataJson) {
    std::string output;
    EXPECT_EQ(trv::test::RunPythonOn(kPlistReader, dataJson, output), 0) << dataJson;
    rapidjson::Document document;
    document.Parse(output.c_str());
    std::vector<ReadMessage> messages;
    if (document.HasParseError() || !document.IsArray()) {
        ADD_FAILURE() << "unreadable: " << output;
        return messages;
    }
    for (const auto& item : document.GetArray()) {
        ReadMessage message;
        message.entity = item["entity"].GetString();
        message.more = item["more"].GetBool();
        EXPECT_EQ(item["count"].GetInt(), 5);
        EXPECT_EQ(std::string(item["frame"].GetString()), kExpectedFrame);
        for (const auto& record : item["records"].GetObject()) {
            message.records[record.name.GetString()] = record.value.GetString();
        }
        messages.push_back(message);
    }
    return messages;
}

const char kDeleted[] = R"("___EmptyParameterString___")";

class RelayContactsCodecCompose : public ::testing::Test {
protected:
    PinnedZone m_zone{kCentralEurope};
};

TEST_F(RelayContactsCodecCompose, NewContactWritesEveryEntityUnderTemporaryIds) {
    iOSContact saved;
    saved.firstName = L"Ines";
    saved.lastName = L"Kowalski \U0001F600";
    saved.prefix = L"Dr.";
    saved.company = L"Contoso";
    saved.jobTitle = L"Engineer";
    saved.birthday = L"1950-02-21 00:00:00";
    saved.note = L"Met at the fair.\nLikes tea & <cake>.\t\u2615\u0001\uFFFE";
    saved.recordKind = L"person";
    saved.phones = {Value(CONTACT_KIND_PHONE, L"mobile", L"Mobile", L"+49 174 5097584"),
                    Value(CONTACT_KIND_PHONE, L"other", L"iPhone", L"+49 150 7376454")};
    saved.emails = {Value(CONTACT_KIND_EMAIL, L"work", L"", L"ines@example.com")};
    auto address = std::make_shared<iOSContactAddress>();
    address->kind = CONTACT_KIND_ADDRESS;
    address->street = L"51 Long Street\nBuilding 3";
    address->city = L"Kyoto";
    address->postalCode = L"600-8216";
    address->country = L"Japan";
    address->countryCode = L"jp";
    saved.addresses = {address};
    saved.urls = {Value(CONTACT_KIND_URL, L"homepage", L"", L"https://example.com/0?a=1&b=2")};
    saved.relatedNames = {Value(CONTACT_KIND_RELATED_NAME, L"partner", L"Family", L"David")};
    auto im = std::make_shared<iOSContactIM>();
    im->kind = CONTACT_KIND_IM;
    im->labelKey = L"other";
    im->labelText = L"AIM";
    im->service = L"aim";
    im->userName = L"ines42";
    saved.instantMessaging = {im};
    saved.dates = {Value(CONTACT_KIND_DATE, L"anniversary", L"", L"2010-07-01 00:00:00")};

    const ContactWrite write = relay::ComposeContactWrite(saved, nullptr, CountingIds());
    EXPECT_EQ(write.contactKey, "TMP1");
    const std::vector<ReadMessage> messages = ReadBack(write.dataJson);
    ASSERT_EQ(messages.size(), 8u);
    // clang-format off
    const std::vector<std::string> order = {"com.apple.contacts.Contact",       "com.apple.contacts.Phone Number",
                                            "com.apple.contacts.Email Address", "com.apple.contacts.Street Address",
                                            "com.apple.contacts.URL",           "com.apple.contacts.Related Name",
                                            "com.apple.contacts.IM",            "com.apple.contacts.Date"};
    // clang-format on
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].entity, order[i]);
        EXPECT_EQ(messages[i].more, i + 1 < messages.size()) << order[i];
    }
    EXPECT_EQ(
        messages[0].records,
        (std::map<std::string, std::string>{
            {"TMP1",
             R"({"birthday":"date:1950-02-20T23:00:00Z","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact",)"
             R"("company name":"Contoso","display as company":"person","first name":"Ines","job title":"Engineer",)"
             R"("last name":"Kowalski 😀","notes":"Met at the fair.\nLikes tea & <cake>.\t☕","title":"Dr."})"}}));
    EXPECT_EQ(messages[1].records,
              (std::map<std::string, std::string>{
                  {"TMP2",
                   R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["TMP1"],)"
                   R"("type":"mobile","value":"+49 174 5097584"})"},
                  {"TMP3",
                   R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["TMP1"],)"
                   R"("label":"iPhone","type":"other","value":"+49 150 7376454"})"}}));
    EXPECT_EQ(messages[2].records.at("TMP4"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Email Address","contact":["TMP1"],)"
              R"("type":"work","value":"ines@example.com"})");
    EXPECT_EQ(messages[3].records.at("TMP5"),
              R"({"city":"Kyoto","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Street Address",)"
              R"("contact":["TMP1"],"country":"Japan","country code":"jp","postal code":"600-8216",)"
              R"("street":"51 Long Street\nBuilding 3","type":"other"})");
    EXPECT_EQ(messages[4].records.at("TMP6"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.URL","contact":["TMP1"],)"
              R"("type":"homepage","value":"https://example.com/0?a=1&b=2"})");
    EXPECT_EQ(messages[5].records.at("TMP7"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Related Name","contact":["TMP1"],)"
              R"("label":"Family","type":"partner","value":"David"})");
    EXPECT_EQ(messages[6].records.at("TMP8"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.IM","contact":["TMP1"],)"
              R"("label":"AIM","service":"aim","type":"other","user":"ines42"})");
    EXPECT_EQ(messages[7].records.at("TMP9"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Date","contact":["TMP1"],)"
              R"("type":"anniversary","value":"date:2010-06-30T22:00:00Z"})");

    ASSERT_EQ(write.newProperties.size(), 8u);
    EXPECT_EQ(write.newProperties.at("TMP2"), saved.phones[0]);
    EXPECT_EQ(write.newProperties.at("TMP3"), saved.phones[1]);
    EXPECT_EQ(write.newProperties.at("TMP5").get(), address.get());
    EXPECT_EQ(write.newProperties.at("TMP8").get(), im.get());
    EXPECT_EQ(write.newProperties.at("TMP9"), saved.dates[0]);
}

TEST_F(RelayContactsCodecCompose, ContactAloneIsOneFinalMessageAndBadDatesAreLeftOut) {
    iOSContact saved;
    saved.identifier = L"31";
    saved.lastName = L"Lee";
    saved.birthday = L"1950-02-21";
    saved.dates = {Value(CONTACT_KIND_DATE, L"", L"", L"someday", L"40")};
    auto unused = [] { return std::string("UNUSED"); };
    const std::vector<ReadMessage> messages = ReadBack(relay::ComposeContactWrite(saved, nullptr, unused).dataJson);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].more);
    EXPECT_EQ(messages[0].records.at("31"),
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","last name":"Lee"})");
    EXPECT_FALSE(messages[1].more);
    EXPECT_EQ(
        messages[1].records.at("40"),
        R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Date","contact":["31"],"type":"other"})");

    saved.dates.clear();
    const std::vector<ReadMessage> alone = ReadBack(relay::ComposeContactWrite(saved, nullptr, unused).dataJson);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_FALSE(alone[0].more);
}

// The listed contact 1, edited the way the editor saves it: copies of the kept rows, removed rows absent.
TEST_F(RelayContactsCodecCompose, EditedContactDeletesRemovedValuesAndRemapsNewOnes) {
    std::vector<std::shared_ptr<iOSContact>> listed;
    ASSERT_TRUE(relay::ReadContactBatch(
        R"({"1":{"first name":"Ines","birthday":"1960-02-21 00:00:00",
            "com.apple.contacts.Phone Number":[{"id":"2","type":"mobile","value":"+49 174 5097584"},
                                               {"id":"3","type":"mobile","value":"+49 150 7376454"}],
            "com.apple.contacts.Email Address":[{"id":"4","type":"work","label":"Office","value":"ines@example.com"}],
            "com.apple.contacts.URL":[{"id":"5","type":"homepage","value":"https://example.com"}]}})",
        listed));
    ASSERT_EQ(listed.size(), 1u);
    const iOSContact& held = *listed[0];
    iOSContact saved(held);
    saved.phones = {std::make_shared<iOSContactProperty>(*held.phones[0]),
                    Value(CONTACT_KIND_PHONE, L"home", L"Home", L"+49 30 1234")};
    saved.phones[0]->value = L"+49 174 0000000";
    saved.emails.clear();
    saved.urls = {std::make_shared<iOSContactProperty>(*held.urls[0])};

    const ContactWrite write = relay::ComposeContactWrite(saved, &held, CountingIds());
    EXPECT_EQ(write.contactKey, "1");
    const std::vector<ReadMessage> messages = ReadBack(write.dataJson);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].records.at("1"),
              R"({"birthday":"date:1960-02-20T23:00:00Z","com.apple.syncservices.RecordEntityName":)"
              R"("com.apple.contacts.Contact","first name":"Ines"})");
    EXPECT_EQ(messages[1].entity, "com.apple.contacts.Phone Number");
    EXPECT_EQ(
        messages[1].records,
        (std::map<std::string, std::string>{
            {"2", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["1"],)"
                  R"("type":"mobile","value":"+49 174 0000000"})"},
            {"3", kDeleted},
            {"TMP1", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["1"],)"
                     R"("type":"home","value":"+49 30 1234"})"}}));
    EXPECT_EQ(messages[2].entity, "com.apple.contacts.Email Address");
    EXPECT_EQ(messages[2].records, (std::map<std::string, std::string>{{"4", kDeleted}}));
    EXPECT_EQ(messages[3].entity, "com.apple.contacts.URL");
    EXPECT_EQ(messages[3].records.size(), 1u);
    EXPECT_EQ(messages[3].records.count("5"), 1u);
    EXPECT_TRUE(messages[2].more);
    EXPECT_FALSE(messages[3].more);
    ASSERT_EQ(write.newProperties.size(), 1u);
    EXPECT_EQ(write.newProperties.at("TMP1"), saved.phones[1]);

    ASSERT_TRUE(relay::ApplyContactRemap(
        R"({"com.apple.contacts.Contact":{"1":"1"},"com.apple.contacts.Phone Number":{"TMP1":"77"}})", write, saved));
    EXPECT_EQ(saved.identifier, L"1");
    EXPECT_EQ(saved.phones[0]->reserved, L"2");
    EXPECT_EQ(saved.phones[1]->reserved, L"77");
}

TEST_F(RelayContactsCodecCompose, RemovedMarksAndRepeatedIdsDoNotLoseOrDuplicateRecords) {
    iOSContact saved;
    saved.identifier = L"8";
    auto removed = Value(CONTACT_KIND_EMAIL, L"home", L"", L"old@example.com", L"11");
    removed->flag = 1;
    auto shared = Value(CONTACT_KIND_PHONE, L"home", L"", L"1", L"12");
    saved.emails = {removed};
    saved.phones = {shared, shared, Value(CONTACT_KIND_PHONE, L"work", L"", L"2", L"12")};
    const ContactWrite write = relay::ComposeContactWrite(saved, nullptr, CountingIds());
    const std::vector<ReadMessage> messages = ReadBack(write.dataJson);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].records.size(), 2u) << "the same record once, the second claimant under a new id";
    EXPECT_EQ(messages[1].records.count("12"), 1u);
    EXPECT_EQ(messages[1].records.count("TMP1"), 1u);
    EXPECT_EQ(write.newProperties.at("TMP1"), saved.phones[2]);
    EXPECT_EQ(messages[2].records, (std::map<std::string, std::string>{{"11", kDeleted}}));
}

TEST(RelayContactsCodecRemap, ARemapWithoutTheContactsIdChangesNothing) {
    iOSContact saved;
    saved.phones = {Value(CONTACT_KIND_PHONE, L"home", L"", L"1")};
    const ContactWrite write = relay::ComposeContactWrite(saved, nullptr, CountingIds());
    ASSERT_EQ(write.contactKey, "TMP1");
    for (const char* reply :
         {"", "[]", R"({"com.apple.contacts.Phone Number":{"TMP2":"5"}})",
          R"({"com.apple.contacts.Contact":{"OTHER":"5"},"com.apple.contacts.Phone Number":{"TMP2":"5"}})",
          R"({"com.apple.contacts.Contact":{"TMP1":5},"com.apple.contacts.Phone Number":{"TMP2":"5"}})",
          R"({"com.apple.contacts.Contact":["TMP1","5"]})"}) {
        EXPECT_FALSE(relay::ApplyContactRemap(reply, write, saved)) << reply;
        EXPECT_EQ(saved.identifier, L"") << reply;
        EXPECT_EQ(saved.phones[0]->reserved, L"") << reply;
    }
    ASSERT_TRUE(relay::ApplyContactRemap(
        R"({"com.apple.contacts.Contact":{"TMP1":"90"},"com.apple.contacts.Email Address":{"TMP2":"91"}})", write,
        saved));
    EXPECT_EQ(saved.identifier, L"90");
    EXPECT_EQ(saved.phones[0]->reserved, L"91") << "found under any entity";
}

// --- An edit's round trip ---------------------------------------------------------------------------------

// Two listed contacts (times in central European time): Ada shares a phone (11) with Quentin, who carries
// every kind of field and label: keys the label lists know, keys they do not ("iPhone", "homepage",
// "partner", "first met"), a value without a key, custom labels, a label that is its key's display text,
// IM services the service list does not know, a country the country list does not know, line breaks, a
// picture, fields of its own (a number, a date; a text on a phone) and no "display as company".
const char kEveryKindListed[] = R"({
 "3":{"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact","first name":"Ada",
      "com.apple.contacts.Phone Number":[{"id":"11","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","value":"+49 40 999"}]},
 "7":{"birthday":"1980-05-17 02:00:00","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact",
      "company name":"Acme <Labs>","department":"R&D","first name":"Quentin","first name yomi":"Kwentin",
      "image":"iVBORw0KGgoAAAANSUhEUg==\n","job title":"Engineer","last name":"Rowe","last name yomi":"Roh",
      "middle name":"Ann","middle name yomi":"An","nickname":"Q","notes":"Met at the fair.\nLikes tea & <cake>.",
      "suffix":"Jr.","title":"Dr.","x-rank":"7","x-seen":"2019-03-04 13:00:00",
      "com.apple.contacts.Phone Number":[
        {"id":"8","label":"Weekend","type":"mobile","value":"+49 151 1234567"},
        {"id":"9","type":"iPhone","value":"+49 152 7654321","x-ring":"twice"},
        {"id":"10","label":"Home","type":"home","value":"+49 30 555"},
        {"id":"11","value":"+49 40 999"}],
      "com.apple.contacts.Email Address":[{"id":"12","type":"work","value":"q@example.com"},
                                          {"id":"13","label":"iCloud","type":"other","value":"q@icloud.example"}],
      "com.apple.contacts.Street Address":[
        {"id":"14","city":"Kyoto","country":"Japan","country code":"jp","postal code":"600-8216","street":"51 Long Street\nBuilding 3","type":"home"},
        {"id":"15","city":"Atlantis","country":"Atlantis","country code":"xx","label":"Studio","state":"AT","street":"1 Rue X","type":"work"}],
      "com.apple.contacts.URL":[{"id":"16","type":"homepage","value":"https://example.com/q?a=1&b=2"}],
      "com.apple.contacts.Related Name":[{"id":"17","label":"Family","type":"partner","value":"David"},
                                         {"id":"18","type":"mother","value":"Maria"}],
      "com.apple.contacts.IM":[{"id":"19","service":"JabberInstant","type":"work","user":"quentin7"},
                               {"id":"20","label":"Chat","service":"aim","type":"home","user":"q_aim"}],
      "com.apple.contacts.Date":[{"id":"21","type":"anniversary","value":"2010-07-01 02:00:00"},
                                 {"id":"22","label":"First met","type":"first met","value":"2001-01-01 01:00:00"}]}
})";

// Quentin's sub-records as the device has them (sorted JSON, dates in UTC), by id.
const std::map<std::string, std::string>& EveryKindOnDevice() {
    // clang-format off
    static const std::map<std::string, std::string> records = {
        {"8", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["7"],"label":"Weekend","type":"mobile","value":"+49 151 1234567"})"},
        {"9", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["7"],"type":"iPhone","value":"+49 152 7654321","x-ring":"twice"})"},
        {"10", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["7"],"label":"Home","type":"home","value":"+49 30 555"})"},
        {"11", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["3","7"],"value":"+49 40 999"})"},
        {"12", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Email Address","contact":["7"],"type":"work","value":"q@example.com"})"},
        {"13", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Email Address","contact":["7"],"label":"iCloud","type":"other","value":"q@icloud.example"})"},
        {"14", R"({"city":"Kyoto","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Street Address","contact":["7"],"country":"Japan","country code":"jp","postal code":"600-8216","street":"51 Long Street\nBuilding 3","type":"home"})"},
        {"15", R"({"city":"Atlantis","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Street Address","contact":["7"],"country":"Atlantis","country code":"xx","label":"Studio","state":"AT","street":"1 Rue X","type":"work"})"},
        {"16", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.URL","contact":["7"],"type":"homepage","value":"https://example.com/q?a=1&b=2"})"},
        {"17", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Related Name","contact":["7"],"label":"Family","type":"partner","value":"David"})"},
        {"18", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Related Name","contact":["7"],"type":"mother","value":"Maria"})"},
        {"19", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.IM","contact":["7"],"service":"JabberInstant","type":"work","user":"quentin7"})"},
        {"20", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.IM","contact":["7"],"label":"Chat","service":"aim","type":"home","user":"q_aim"})"},
        {"21", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Date","contact":["7"],"type":"anniversary","value":"date:2010-07-01T00:00:00Z"})"},
        {"22", R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Date","contact":["7"],"label":"First met","type":"first met","value":"date:2001-01-01T00:00:00Z"})"},
    };
    // clang-format on
    return records;
}

// What a row's controls give back when they were given `content`: a one-line edit keeps no line break
// (the text up to the first one), a multi-line edit keeps it.
ardena::RowInput AsControlsShow(const ardena::RowSeed& seed, const ardena::RowContent& content) {
    ardena::RowInput shown = ardena::ShownInput(content);
    if (seed.kind == ardena::RowKind::kNote) return shown;
    for (std::wstring& text : shown.texts) text = text.substr(0, text.find(L'\n'));
    return shown;
}

struct PageEdit {
    std::vector<std::shared_ptr<iOSContact>> book;
    relay::ListedFields otherFields;
    std::unique_ptr<iOSContact> saved;
};

// The page's "Edit" on contact 7 and the editor's save with every control as it was shown, except the
// middle name edit (`middle`) and what `change` does to the rows' inputs.
PageEdit EditQuentin(const std::wstring& middle,
                     const std::function<void(const ardena::RowSeed&, ardena::RowInput&)>& change = nullptr) {
    PageEdit edit;
    EXPECT_TRUE(relay::ReadContactBatch(kEveryKindListed, edit.book, &edit.otherFields));
    if (edit.book.size() != 2) return edit;
    static const ardena::ContactLabelTable labels =
        ardena::BuildContactLabelTable({{L"de", L"Germany"}, {L"jp", L"Japan"}});
    iOSContact working(*edit.book[1]);
    working.editState = 2;
    const ardena::NameParts shownNames{working.prefix, working.firstName, working.middleName, working.lastName,
                                       working.suffix};
    std::vector<ardena::CollectedRow> rows;
    for (const ardena::RowSeed& seed : ardena::SeedRows(working, false)) {
        const ardena::RowInput shown = AsControlsShow(seed, ardena::InitialContent(seed, labels));
        ardena::RowInput input = shown;
        if (change) change(seed, input);
        rows.push_back(ardena::CollectRow(seed, input, labels, &shown));
    }
    ardena::NameParts names;
    names.prefix = ardena::KeptOrTyped(working.prefix, shownNames.prefix, shownNames.prefix);
    names.first = ardena::KeptOrTyped(working.firstName, shownNames.first, shownNames.first);
    names.middle = ardena::KeptOrTyped(working.middleName, shownNames.middle, middle);
    names.last = ardena::KeptOrTyped(working.lastName, shownNames.last, shownNames.last);
    names.suffix = ardena::KeptOrTyped(working.suffix, shownNames.suffix, shownNames.suffix);
    edit.saved = ardena::BuildSavedContact(working, names, rows);
    return edit;
}

// Every record of every message of a write, by id.
std::map<std::string, std::string> RecordsOf(const std::string& dataJson) {
    std::map<std::string, std::string> records;
    for (const ReadMessage& message : ReadBack(dataJson)) records.insert(message.records.begin(), message.records.end());
    return records;
}

relay::ContactWrite WriteOf(const PageEdit& edit) {
    return relay::ComposeContactWrite(*edit.saved, edit.book[1].get(), CountingIds(),
                                      relay::SharedValuesOf(edit.book), edit.otherFields);
}

TEST_F(RelayContactsCodecCompose, AnEditSendsBackEveryUntouchedFieldAndLabelAsListed) {
    const PageEdit edit = EditQuentin(L"Beth");
    ASSERT_TRUE(edit.saved);
    const relay::ContactWrite write = WriteOf(edit);
    EXPECT_EQ(write.contactKey, "7");
    EXPECT_TRUE(write.newProperties.empty());
    std::map<std::string, std::string> records = RecordsOf(write.dataJson);
    std::map<std::string, std::string> expected = EveryKindOnDevice();
    expected["7"] =
        R"({"birthday":"date:1980-05-17T00:00:00Z","com.apple.syncservices.RecordEntityName":"com.apple.contacts.Contact",)"
        R"("company name":"Acme <Labs>","department":"R&D","first name":"Quentin","first name yomi":"Kwentin",)"
        R"("image":"data:iVBORw0KGgoAAAANSUhEUg==","job title":"Engineer","last name":"Rowe","last name yomi":"Roh",)"
        R"("middle name":"Beth","middle name yomi":"An","nickname":"Q","notes":"Met at the fair.\nLikes tea & <cake>.",)"
        R"("suffix":"Jr.","title":"Dr.","x-rank":7,"x-seen":"date:2019-03-04T12:00:00Z"})";
    for (const auto& record : expected) EXPECT_EQ(records[record.first], record.second) << record.first;
    EXPECT_EQ(records.size(), expected.size());
}

TEST_F(RelayContactsCodecCompose, AChangedLabelIsWrittenInTheDevicesFormAndASharedValueIsOnlyLetGo) {
    // The URL gets the list's "Work" label, the first phone a label of the user's own; the shared phone goes.
    const PageEdit edit = EditQuentin(L"Ann", [](const ardena::RowSeed& seed, ardena::RowInput& input) {
        if (seed.record->reserved == L"16") {
            input.labelIndex = 2;
            input.labelText = L"Work";
        } else if (seed.record->reserved == L"8") {
            input.labelIndex = -1;
            input.labelText = L"Holiday";
        }
    });
    ASSERT_TRUE(edit.saved);
    auto& phones = edit.saved->phones;
    phones.erase(std::remove_if(phones.begin(), phones.end(), [](const auto& p) { return p->reserved == L"11"; }),
                 phones.end());
    const relay::ContactWrite write = WriteOf(edit);
    std::map<std::string, std::string> records = RecordsOf(write.dataJson);
    const std::string url = R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.URL","contact":["7"],)"
                            R"("type":"work","value":"https://example.com/q?a=1&b=2"})";
    EXPECT_EQ(records["16"], url);
    EXPECT_EQ(records["8"], R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number",)"
                            R"("contact":["7"],"label":"Holiday","type":"other","value":"+49 151 1234567"})");
    EXPECT_EQ(records["11"], R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number",)"
                             R"("contact":["3"],"value":"+49 40 999"})")
        << "Ada keeps the number Quentin no longer has";
    EXPECT_EQ(records["9"], EveryKindOnDevice().at("9"));

    // Once the device took it, the record holds the labels as the device has them: saving it again as it is
    // writes the URL as before, without the "Work" text the device never got.
    ASSERT_TRUE(relay::ApplyContactRemap(R"({"com.apple.contacts.Contact":{"7":"7"}})", write, *edit.saved));
    iOSContact again(*edit.saved);
    EXPECT_EQ(RecordsOf(relay::ComposeContactWrite(again, edit.saved.get(), CountingIds()).dataJson)["16"], url);
}

TEST_F(RelayContactsCodecCompose, AChangedSharedValueBecomesTheContactsOwnAndTheOthersKeepTheirs) {
    const PageEdit edit = EditQuentin(L"Ann", [](const ardena::RowSeed& seed, ardena::RowInput& input) {
        if (seed.record->reserved == L"11") input.texts = {L"+49 40 111"};
    });
    ASSERT_TRUE(edit.saved);
    const relay::ContactWrite write = WriteOf(edit);
    std::map<std::string, std::string> records = RecordsOf(write.dataJson);
    EXPECT_EQ(records["11"], R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number",)"
                             R"("contact":["3"],"value":"+49 40 999"})");
    ASSERT_EQ(write.newProperties.size(), 1u);
    EXPECT_EQ(records[write.newProperties.begin()->first],
              R"({"com.apple.syncservices.RecordEntityName":"com.apple.contacts.Phone Number","contact":["7"],)"
              R"("value":"+49 40 111"})");
}

// --- Groups -----------------------------------------------------------------------------------------------

TEST(RelayContactsCodecGroups, GroupWritesAndDeletionsAreTheServicesJson) {
    iOSContactGroup group;
    group.name = L"Work & \"Friends\" Zoë";
    group.members = {L"1", L"6"};
    EXPECT_EQ(relay::ComposeGroupData(group, "K-1", false), R"({"id":"K-1","name":"Work & \"Friends\" Zoë"})");
    EXPECT_EQ(relay::ComposeGroupData(group, "K-1", true),
              R"({"guid":"K-1","id":"K-1","name":"Work & \"Friends\" Zoë","members":["1","6"]})");
    group.members.clear();
    EXPECT_EQ(relay::ComposeGroupData(group, "48", true),
              R"({"guid":"48","id":"48","name":"Work & \"Friends\" Zoë","members":[]})");
    EXPECT_EQ(relay::ComposeDeleteData(L"47"), R"({"id":"47"})");
}

TEST(RelayContactsCodecGroups, GroupReplyGivesTheDevicesIdOrNothing) {
    EXPECT_EQ(relay::ReadGroupReply(R"({"K-1":["49","Family"]})", "K-1"), "49");
    for (const char* reply : {"", "nonsense", R"({"K-2":["49","Family"]})", R"({"K-1":[]})", R"({"K-1":[49,"F"]})",
                              R"({"K-1":"49"})", R"(["K-1","49"])"}) {
        EXPECT_EQ(relay::ReadGroupReply(reply, "K-1"), "") << reply;
    }
}

}  // namespace
