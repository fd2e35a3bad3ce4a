// The relay's contacts service against a fake link: the requests it sends the device service for each
// host request, the answers it makes of the service's replies (batches, counts, saved and removed
// records), the order of writes, and what a failed send, a departing device or a lost service leave.
// Every answer's payload is released by the fake, so the sanitizer build also checks ownership.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "command_names.h"
#include "contact_codes.h"
#include "item_batch.h"
#include "wide_pair.h"
#include "relay_contacts.h"
#include "relay_contacts_codec.h"
#include "relay_contacts_files.h"
#include "relay_test_link.h"
#include "vnl_utf8.h"

namespace {

using namespace sdk::contacts;
using relay::ContactsService;
using relay::Packet;
using relay::RelayAnswer;
using relay::ReplyFrame;
using trv::test::FakeLink;
using trv::test::SentRequest;

const std::string kDevice = "4283fefc63f0cd0e873a0000c6d07ef7b77e90d3";

// A reply to request `id`: a part (status 2) or the last reply (status 1).
void Reply(ContactsService& service, std::uint64_t id, std::uint32_t command, std::uint16_t status, std::int64_t stage,
           std::int64_t code, const std::string& data, const std::string& info = std::string()) {
    Packet packet;
    packet.header.id = id;
    packet.header.command = command;
    packet.header.status = status;
    ReplyFrame frame;
    frame.stage = stage;
    frame.code = code;
    frame.uuid = kDevice;
    frame.hasInfo = !info.empty();
    frame.infoJson = info;
    ASSERT_TRUE(service.OnReply(packet, frame, data));
}

void Last(ContactsService& service, std::uint64_t id, std::uint32_t command, std::int64_t code) {
    Reply(service, id, command, 1, 0, code, "");
}

std::string ContactJson(int first, int count) {
    std::string json = "{";
    for (int i = first; i < first + count; ++i) {
        json += (i > first ? "," : "") + std::string("\"") + std::to_string(i) +
                "\":{\"com.apple.syncservices.RecordEntityName\":\"com.apple.contacts.Contact\",\"first name\":\"N" +
                std::to_string(i) + "\"}";
    }
    return json + "}";
}

CommandMessage Request(std::int64_t code, void* data = nullptr) {
    static std::wstring device(kDevice.begin(), kDevice.end());
    CommandMessage message{};
    message.name = ZERITH_COMMAND_DO_CONTACT;
    message.code = code;
    message.wideText = &device[0];
    message.data = data;
    return message;
}

class RelayContacts : public ::testing::Test {
protected:
    // Asks for the listing and answers it with `groups` and `contacts` (in batches of at most 100).
    std::int64_t Load(int contacts, const std::string& groups = "{}") {
        CommandMessage load = Request(kRelayLoad);
        service.Handle(load);
        const std::uint64_t id = link.requests.back().id;
        EXPECT_EQ(link.requests.back().code, 100u);
        EXPECT_EQ(link.requests.back().data, "");
        Reply(service, id, 101, 2, 1, 0, groups, "{\"Count\":1}");
        Reply(service, id, 100, 2, 0, 0, "", "{\"Count\":" + std::to_string(contacts) + "}");
        for (int first = 1; first <= contacts; first += 100) {
            Reply(service, id, 100, 2, 1, 0, ContactJson(first, std::min(100, contacts - first + 1)));
        }
        Last(service, id, 100, 0);
        return LastSequence();
    }

    std::int64_t LastSequence() const {
        for (auto it = link.answers.rbegin(); it != link.answers.rend(); ++it) {
            if (it->code == kRelayContactsBatch && it->payload != nullptr) {
                return static_cast<ItemBatch<iOSContact>*>(it->payload)->sequence;
            }
        }
        return -1;
    }

    FakeLink link;
    ContactsService service{link};
};

TEST_F(RelayContacts, ListingBecomesCountBatchesOfOneSequenceGroupsAndTheEnd) {
    const std::int64_t first = Load(250, "{\"47\":{\"name\":\"Family\",\"members\":[\"1\",\"6\"]}}");
    const std::vector<std::int64_t> expected = {kRelayCloudState,    kRelayContactsBatch, kRelayContactsBatch,
                                                kRelayContactsBatch, kRelayGroupsBatch,   kRelayContactsBatch};
    ASSERT_EQ(link.Codes(), expected);
    EXPECT_EQ(link.answers[0].count, 250);
    size_t rows = 0;
    for (size_t i = 1; i <= 3; ++i) {
        auto* batch = static_cast<ItemBatch<iOSContact>*>(link.answers[i].payload);
        EXPECT_EQ(batch->sequence, first);
        rows += batch->items.size();
    }
    EXPECT_EQ(rows, 250u);
    auto* groups = static_cast<ItemBatch<iOSContactGroup>*>(link.answers[4].payload);
    ASSERT_EQ(groups->items.size(), 1u);
    EXPECT_EQ(groups->sequence, first) << "older than the contacts' sequence, the page would drop it";
    EXPECT_EQ(groups->items[0]->members, (std::vector<std::wstring>{L"1", L"6"}));
    EXPECT_EQ(link.answers[5].payload, nullptr) << "loading finished";
    for (const RelayAnswer& answer : link.answers) EXPECT_EQ(answer.device, kDevice);

    CommandMessage loaded = Request(kRelayQueryLoaded);
    service.Handle(loaded);
    EXPECT_EQ(loaded.status, 1);
    EXPECT_GT(Load(3), first) << "every load rises";
}

TEST_F(RelayContacts, AnOnlineAccountListingAndAnEmptyBookStillClearThePage) {
    CommandMessage load = Request(kRelayLoad);
    service.Handle(load);
    const std::uint64_t id = link.requests.back().id;
    Reply(service, id, 100, 2, 0, 0, "", "{\"Count\":-1}");
    Last(service, id, 100, 0);
    const std::vector<std::int64_t> expected = {kRelayCloudState, kRelayContactsBatch, kRelayGroupsBatch,
                                                kRelayContactsBatch};
    ASSERT_EQ(link.Codes(), expected);
    EXPECT_EQ(link.answers[0].count, -1);
    ASSERT_NE(link.answers[1].payload, nullptr) << "an empty batch of this load";
    EXPECT_TRUE(static_cast<ItemBatch<iOSContact>*>(link.answers[1].payload)->items.empty());
}

TEST_F(RelayContacts, AFailedListingOnlyEndsTheLoadingAndAFailedSendToo) {
    CommandMessage load = Request(kRelayLoad);
    service.Handle(load);
    const std::uint64_t id = link.requests.back().id;
    Reply(service, id, 100, 2, 1, 0, ContactJson(1, 5));  // cut off after one batch
    Last(service, id, 100, 24);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelayContactsBatch, kRelayContactsBatch}));
    EXPECT_EQ(link.answers.back().payload, nullptr);
    CommandMessage loaded = Request(kRelayQueryLoaded);
    service.Handle(loaded);
    EXPECT_EQ(loaded.status, 0);

    link.refuse = true;
    service.Handle(load);
    ASSERT_EQ(link.answers.size(), 3u);
    EXPECT_EQ(link.answers.back().code, kRelayContactsBatch);
    EXPECT_EQ(link.answers.back().payload, nullptr);
}

TEST_F(RelayContacts, RepliesToOtherRequestsAreNotTheServicesToTake) {
    Packet packet;
    packet.header.id = 77;
    packet.header.status = 1;
    EXPECT_FALSE(service.OnReply(packet, ReplyFrame{}, ""));
}

TEST_F(RelayContacts, ANewContactIsWrittenRenumberedCountedAndJoinsItsGroup) {
    Load(2, "{\"47\":{\"name\":\"Family\",\"members\":[\"1\"]}}");
    link.Clear();
    auto* contact = new iOSContact();
    contact->firstName = L"Zoë";
    auto phone = std::make_shared<iOSContactProperty>();
    phone->kind = CONTACT_KIND_PHONE;
    phone->labelKey = L"mobile";
    phone->value = L"+1 555 0100";
    contact->phones.push_back(phone);
    contact->groupsAdded.push_back(L"47");
    CommandMessage save = Request(kRelaySaveNew, contact);
    service.Handle(save);

    const SentRequest write = link.requests.back();
    ASSERT_EQ(write.code, 102u);
    rapidjson::Document data;
    data.Parse(write.data.c_str());
    ASSERT_TRUE(data.IsObject());
    ASSERT_TRUE(data.HasMember("com.apple.contacts.Contact"));
    ASSERT_TRUE(data.HasMember("com.apple.contacts.Phone Number"));
    // The contact's temporary id is the one key of its message that is not a known record's.
    const std::string contactMessage = data["com.apple.contacts.Contact"].GetString();
    const size_t keyStart = contactMessage.find("<dict><key>") + 11;
    const std::string temporary = contactMessage.substr(keyStart, contactMessage.find("</key>", keyStart) - keyStart);
    EXPECT_EQ(temporary.size(), 36u) << temporary;
    const std::string phoneMessage = data["com.apple.contacts.Phone Number"].GetString();
    const size_t phoneKeyStart = phoneMessage.find("<dict><key>") + 11;
    const std::string phoneKey =
        phoneMessage.substr(phoneKeyStart, phoneMessage.find("</key>", phoneKeyStart) - phoneKeyStart);

    Reply(service, write.id, 102, 2, 0, 0,
          "{\"com.apple.contacts.Contact\":{\"" + temporary + "\":\"300\"},\"com.apple.contacts.Phone Number\":{\"" +
              phoneKey + "\":\"301\"}}");
    EXPECT_TRUE(link.answers.empty()) << "nothing before the last reply";
    const size_t requestsBefore = link.requests.size();
    Last(service, write.id, 102, 0);

    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelaySaved, kRelayContactAdded}));
    auto& added = **static_cast<std::shared_ptr<iOSContact>*>(link.answers[1].payload);
    EXPECT_EQ(added.identifier, L"300");
    ASSERT_EQ(added.phones.size(), 1u);
    EXPECT_EQ(added.phones[0]->reserved, L"301");
    EXPECT_EQ(link.answers[1].count, 3);

    // The group the editor added the contact to is written with it as a member.
    ASSERT_EQ(link.requests.size(), requestsBefore + 1);
    const SentRequest group = link.requests.back();
    EXPECT_EQ(group.code, 106u);
    rapidjson::Document groupData;
    groupData.Parse(group.data.c_str());
    ASSERT_TRUE(groupData.IsObject());
    EXPECT_STREQ(groupData["id"].GetString(), "47");
    ASSERT_EQ(groupData["members"].Size(), 2u);
    EXPECT_STREQ(groupData["members"][1].GetString(), "300");
    Reply(service, group.id, 106, 2, 0, 0, "{\"47\":[\"47\",\"Family\"]}");
    Last(service, group.id, 106, 0);
    ASSERT_EQ(link.answers.back().code, kRelayGroupChanged);
    EXPECT_EQ(static_cast<iOSContactGroup*>(link.answers.back().payload)->members,
              (std::vector<std::wstring>{L"1", L"300"}));
}

TEST_F(RelayContacts, GroupJoinsQueuedTogetherKeepEachOthersMembers) {
    Load(2, "{\"47\":{\"name\":\"Family\",\"members\":[\"1\"]}}");
    for (const wchar_t* name : {L"A", L"B"}) {
        auto* contact = new iOSContact();
        contact->firstName = name;
        contact->groupsAdded.push_back(L"47");
        CommandMessage save = Request(kRelaySaveNew, contact);
        service.Handle(save);
    }
    // Answers every write in turn: contact A's, contact B's, then the two group writes.
    std::vector<std::string> groupMembers;
    for (const char* deviceId : {"300", "301", "", ""}) {
        const SentRequest write = link.requests.back();
        if (write.code == 102) {
            const std::string contactMessage =
                rapidjson::Document().Parse(write.data.c_str())["com.apple.contacts.Contact"].GetString();
            const size_t keyStart = contactMessage.find("<dict><key>") + 11;
            const std::string key = contactMessage.substr(keyStart, contactMessage.find("</key>", keyStart) - keyStart);
            Reply(service, write.id, 102, 2, 0, 0,
                  "{\"com.apple.contacts.Contact\":{\"" + key + "\":\"" + deviceId + "\"}}");
        } else {
            ASSERT_EQ(write.code, 106u);
            rapidjson::Document data;
            data.Parse(write.data.c_str());
            std::string members;
            for (const auto& member : data["members"].GetArray()) members += std::string(member.GetString()) + " ";
            groupMembers.push_back(members);
            Reply(service, write.id, 106, 2, 0, 0, "{\"47\":[\"47\",\"Family\"]}");
        }
        Last(service, write.id, write.code, 0);
    }
    EXPECT_EQ(groupMembers, (std::vector<std::string>{"1 300 ", "1 300 301 "}))
        << "the second join is composed from the members the first one left";
}

TEST_F(RelayContacts, AnEditDeletesTheValuesTheEditorTookAway) {
    CommandMessage load = Request(kRelayLoad);
    service.Handle(load);
    const std::uint64_t id = link.requests.back().id;
    Reply(service, id, 100, 2, 1, 0,
          "{\"1\":{\"first name\":\"Ines\",\"com.apple.contacts.Phone Number\":["
          "{\"id\":\"2\",\"type\":\"mobile\",\"value\":\"+49 1\"},{\"id\":\"3\",\"type\":\"home\",\"value\":\"+49 "
          "2\"}]}}");
    Last(service, id, 100, 0);

    auto* edited = new iOSContact();
    edited->identifier = L"1";
    edited->firstName = L"Ines";
    auto kept = std::make_shared<iOSContactProperty>();
    kept->kind = CONTACT_KIND_PHONE;
    kept->reserved = L"2";
    kept->labelKey = L"mobile";
    kept->value = L"+49 1";
    edited->phones.push_back(kept);
    CommandMessage save = Request(kRelaySaveEdited, edited);
    service.Handle(save);
    rapidjson::Document data;
    data.Parse(link.requests.back().data.c_str());
    ASSERT_TRUE(data.IsObject());
    const std::string phones = data["com.apple.contacts.Phone Number"].GetString();
    EXPECT_NE(phones.find("<key>3</key><string>___EmptyParameterString___</string>"), std::string::npos) << phones;
    EXPECT_NE(phones.find("<key>2</key><dict>"), std::string::npos) << phones;
}

TEST_F(RelayContacts, EditsSendBackThePictureAndTheSharersOfAValueAgainAndAgain) {
    CommandMessage load = Request(kRelayLoad);
    service.Handle(load);
    const std::uint64_t id = link.requests.back().id;
    Reply(service, id, 100, 2, 1, 0,
          R"({"1":{"first name":"Ines","image":"iVBORw0K\nGgo=","com.apple.contacts.Phone Number":[{"id":"2","value":"+49 1"}]},)"
          R"("4":{"first name":"Bo","com.apple.contacts.Phone Number":[{"id":"2","value":"+49 1"}]}})");
    Last(service, id, 100, 0);

    for (const wchar_t* middle : {L"Ann", L"Beth"}) {
        SCOPED_TRACE(vnl::Utf8FromWide(middle));
        // The page's copy of the record it holds, as the editor saves it.
        std::shared_ptr<iOSContact> held;
        for (const auto& answer : link.answers) {
            if (answer.code == kRelayContactsBatch && answer.payload != nullptr) {
                held = static_cast<ItemBatch<iOSContact>*>(answer.payload)->items.at(0);
            } else if (answer.code == kRelayContactAdded) {
                held = *static_cast<std::shared_ptr<iOSContact>*>(answer.payload);
            }
        }
        ASSERT_TRUE(held);
        auto* edited = new iOSContact(*held);
        edited->middleName = middle;
        CommandMessage save = Request(kRelaySaveEdited, edited);
        service.Handle(save);
        const SentRequest write = link.requests.back();
        ASSERT_EQ(write.code, 102u);
        rapidjson::Document data;
        data.Parse(write.data.c_str());
        ASSERT_TRUE(data.IsObject());
        const std::string contact = data["com.apple.contacts.Contact"].GetString();
        EXPECT_NE(contact.find("<key>image</key><data>iVBORw0K\nGgo=</data>"), std::string::npos) << contact;
        const std::string phones = data["com.apple.contacts.Phone Number"].GetString();
        EXPECT_NE(phones.find("<key>contact</key><array><string>1</string><string>4</string></array>"),
                  std::string::npos)
            << phones;
        link.Clear();
        Reply(service, write.id, 102, 2, 0, 0, R"({"com.apple.contacts.Contact":{"1":"1"}})");
        Last(service, write.id, 102, 0);
        ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelaySaved, kRelayContactAdded}));
    }
}

TEST_F(RelayContacts, WritesRunOneAtATimeAndARefusedOneGetsNoAnswer) {
    Load(3);
    link.Clear();
    const size_t before = link.requests.size();
    CommandMessage remove = Request(kRelayRemove, new std::vector<std::wstring>{L"1", L"2"});
    service.Handle(remove);
    auto* contact = new iOSContact();
    contact->firstName = L"Later";
    CommandMessage save = Request(kRelaySaveNew, contact);
    service.Handle(save);
    ASSERT_EQ(link.requests.size(), before + 1) << "the second write waits for the first";
    EXPECT_EQ(link.requests.back().code, 103u);
    EXPECT_EQ(link.requests.back().data, "{\"id\":\"1\"}");

    Last(service, link.requests.back().id, 103, 0);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelayContactRemoved}));
    EXPECT_STREQ(static_cast<wchar_t*>(link.answers[0].payload), L"1");
    EXPECT_EQ(link.answers[0].resultOrCount, 2);
    ASSERT_EQ(link.requests.size(), before + 2);
    EXPECT_EQ(link.requests.back().data, "{\"id\":\"2\"}");

    Last(service, link.requests.back().id, 103, 32);  // the device refused
    EXPECT_EQ(link.answers.size(), 1u);
    ASSERT_EQ(link.requests.size(), before + 3);
    EXPECT_EQ(link.requests.back().code, 102u);
    Last(service, link.requests.back().id, 102, 28);  // no id for the contact: the editor stays open
    EXPECT_EQ(link.answers.size(), 1u);
}

TEST_F(RelayContacts, GroupsAreCreatedUnderTheirGuidRenamedAndRemoved) {
    Load(1);
    link.Clear();
    auto* group = new iOSContactGroup();
    group->name = L"Club <A> & Co";
    group->guidText = "0A1B2C3D-0000-1111-2222-333344445555";
    CommandMessage create = Request(kRelayCreateGroup, group);
    service.Handle(create);
    EXPECT_EQ(link.requests.back().code, 104u) << "without members";
    EXPECT_EQ(link.requests.back().data,
              "{\"id\":\"0A1B2C3D-0000-1111-2222-333344445555\",\"name\":\"Club <A> & Co\"}");
    Reply(service, link.requests.back().id, 104, 2, 0, 0,
          "{\"0A1B2C3D-0000-1111-2222-333344445555\":[\"90\",\"Club\"]}");
    Last(service, link.requests.back().id, 104, 0);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelayGroupCreated}));
    EXPECT_EQ(static_cast<iOSContactGroup*>(link.answers[0].payload)->identifier, L"90");

    auto* renamed = new iOSContactGroup();
    renamed->identifier = L"90";
    renamed->name = L"Club";
    CommandMessage change = Request(kRelayChangeGroup, renamed);
    service.Handle(change);
    EXPECT_EQ(link.requests.back().code, 106u);
    Last(service, link.requests.back().id, 106, 1);  // no device id came back: nothing changes
    EXPECT_EQ(link.answers.size(), 1u);

    CommandMessage remove = Request(kRelayRemoveGroup, wcsdup(L"90"));
    service.Handle(remove);
    EXPECT_EQ(link.requests.back().code, 105u);
    Last(service, link.requests.back().id, 105, 0);
    ASSERT_EQ(link.answers.back().code, kRelayGroupRemoved);
    EXPECT_STREQ(static_cast<wchar_t*>(link.answers.back().payload), L"90");
}

TEST_F(RelayContacts, ADepartingDeviceEmptiesItsPageAndDropsItsWaitingWrites) {
    const std::int64_t sequence = Load(2);
    link.Clear();
    CommandMessage remove = Request(kRelayRemove, new std::vector<std::wstring>{L"1", L"2"});
    service.Handle(remove);
    const SentRequest running = link.requests.back();
    service.OnDeviceGone(kDevice);
    const std::vector<std::int64_t> expected = {kRelayCloudState, kRelayContactsBatch, kRelayGroupsBatch,
                                                kRelayContactsBatch};
    ASSERT_EQ(link.Codes(), expected);
    EXPECT_EQ(link.answers[0].count, 0);
    EXPECT_GT(static_cast<ItemBatch<iOSContact>*>(link.answers[1].payload)->sequence, sequence);
    const size_t sent = link.requests.size();
    Last(service, running.id, 103, 24);
    EXPECT_EQ(link.requests.size(), sent) << "the second removal was dropped with the device";
    CommandMessage loaded = Request(kRelayQueryLoaded);
    service.Handle(loaded);
    EXPECT_EQ(loaded.status, 0);
}

TEST_F(RelayContacts, ALostServiceEndsTheListingInFlight) {
    CommandMessage load = Request(kRelayLoad);
    service.Handle(load);
    service.OnServiceGone();
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelayContactsBatch}));
    EXPECT_EQ(link.answers[0].payload, nullptr);
    Packet late;
    late.header.id = link.requests.back().id;
    late.header.status = 1;
    EXPECT_FALSE(service.OnReply(late, ReplyFrame{}, "")) << "a late reply belongs to nobody";
}

TEST_F(RelayContacts, CountriesFillTheLentList) {
    std::vector<WideStringPair> countries;
    CommandMessage ask = Request(kRelayCountries, &countries);
    service.Handle(ask);
    ASSERT_FALSE(countries.empty());
    bool japan = false;
    for (const auto& country : countries) japan = japan || (country.first == L"jp" && country.second == L"Japan");
    EXPECT_TRUE(japan);
}

TEST_F(RelayContacts, ExportsAreWrittenIntoTheFolderWithoutReplacingAFile) {
    iOSContact held;
    held.firstName = L"Ines";
    std::wstring folder = L"Z:\\home\\exports";
    for (int round = 0; round < 2; ++round) {
        for (std::int64_t code : {kRelayExportVcards, kRelayExportCsv, kRelayBackupXml}) {
            CommandMessage exported = Request(code, new std::vector<iOSContact*>{&held, nullptr});
            exported.extra = &folder[0];
            service.Handle(exported);  // the vector is freed, the record stays the page's
        }
    }
    EXPECT_TRUE(link.requests.empty()) << "exports need nothing of the device";
    ASSERT_EQ(link.files.size(), 6u);
    for (const wchar_t* name : {L"Contacts.vcf", L"Contacts (2).vcf", L"Contacts.csv", L"Contacts (2).csv",
                                L"Contacts.xml", L"Contacts (2).xml"}) {
        ASSERT_EQ(link.files.count(folder + L"\\" + name), 1u) << vnl::Utf8FromWide(name);
    }
    EXPECT_NE(link.files[folder + L"\\Contacts.vcf"].find("Ines"), std::string::npos);
    EXPECT_EQ(link.files[folder + L"\\Contacts.vcf"], link.files[folder + L"\\Contacts (2).vcf"]);
}

TEST_F(RelayContacts, AnImportedBackupIsSavedContactByContactAsNewContacts) {
    Load(2);
    link.Clear();
    iOSContact first;
    first.identifier = L"1";  // from another device: the import makes new records
    first.firstName = L"Nina";
    iOSContact second;
    second.firstName = L"Ola";
    link.files[L"Z:\\b.xml"] = relay::ComposeXmlBackup({&first, &second});
    link.files[L"Z:\\broken.xml"] = "<contactsBackup version=\"1\"><contact>";
    const size_t before = link.requests.size();
    CommandMessage import =
        Request(kRelayImportXml, new std::vector<std::wstring>{L"Z:\\broken.xml", L"Z:\\b.xml", L"Z:\\missing.xml"});
    service.Handle(import);
    ASSERT_EQ(link.requests.size(), before + 1) << "one write at a time";
    for (const char* name : {"Nina", "Ola"}) {
        const SentRequest write = link.requests.back();
        ASSERT_EQ(write.code, 102u);
        rapidjson::Document data;
        data.Parse(write.data.c_str());
        ASSERT_TRUE(data.IsObject());
        const std::string message = data["com.apple.contacts.Contact"].GetString();
        EXPECT_NE(message.find(name), std::string::npos) << message;
        EXPECT_EQ(message.find("<key>1</key>"), std::string::npos) << "not written over the device's contact 1";
        const size_t keyStart = message.find("<dict><key>") + 11;
        const std::string key = message.substr(keyStart, message.find("</key>", keyStart) - keyStart);
        Reply(service, write.id, 102, 2, 0, 0,
              "{\"com.apple.contacts.Contact\":{\"" + key + "\":\"" + name + "-id\"}}");
        Last(service, write.id, 102, 0);
    }
    // Each imported contact is added to the page; no editor waits for them.
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{kRelayContactAdded, kRelayContactAdded}));
    EXPECT_EQ(link.answers[1].count, 4);
    EXPECT_EQ(link.requests.size(), before + 2);
}

}  // namespace
