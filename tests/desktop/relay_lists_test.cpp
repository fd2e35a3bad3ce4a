// The relay's listing features against a fake link: which service request each host request becomes, the
// answers made of the service's batches (under the feature's relay name, with the kind in `status`), the
// count and the end of a listing, a module that is not built (code 2) and a lost service. Payloads are
// released by the fake, so the sanitizer build also checks ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_lists.h"
#include "relay_test_link.h"

namespace {

using trv::relay::ContactsAnswer;
using trv::relay::ListsService;
using trv::relay::Packet;
using trv::relay::ReplyFrame;
using trv_test::FakeLink;

const wchar_t kDevice[] = L"udid-1";

bool Request(ListsService& lists, const char* name, std::int64_t code, std::int64_t status = 0,
             std::int64_t* statusAfter = nullptr) {
    std::wstring device = kDevice;
    CommandMessage message{};
    message.name = name;
    message.code = code;
    message.status = status;
    message.wideText = &device[0];
    const bool handled = lists.Handle(message);
    if (statusAfter != nullptr) *statusAfter = message.status;
    return handled;
}

void Reply(ListsService& lists, std::uint64_t id, std::uint16_t status, std::int64_t code, const std::string& data,
           std::uint32_t command = 0) {
    Packet packet;
    packet.header.id = id;
    packet.header.command = command;
    packet.header.status = status;
    ReplyFrame frame;
    frame.code = code;
    ASSERT_TRUE(lists.OnReply(packet, frame, data));
}

std::vector<std::wstring> Fields(const ContactsAnswer& answer, size_t item) {
    return static_cast<const ItemBatch<TextItem>*>(answer.extra)->items.at(item)->fields;
}

}  // namespace

TEST(RelayLists, EveryFeatureListingBecomesItsServiceRequest) {
    struct Case {
        const char* name;
        std::int64_t code;
        std::uint32_t service;
        const char* answerName;
        std::uint32_t section;  // the reply command carrying the listing's batches (0: the request's own)
    };
    const Case cases[] = {
        {ZERITH_COMMAND_DO_NOTE, 58, 1200, ZERITH_COMMAND_DO_NOTE, 0},
        {ZERITH_COMMAND_DO_BOOKMARK, 101, 1400, ZERITH_COMMAND_DO_BOOKMARK, 0},
        {ZERITH_COMMAND_DO_CALENDAR, 65, 1500, ZERITH_COMMAND_DO_CALENDAR, 0},
        {ZERITH_COMMAND_DO_SMS, 24, 201, ZERITH_COMMAND_DO_SMS, 0},
        {ZERITH_COMMAND_DO_MEDIA, 95, 1000, ZERITH_COMMAND_DO_MUSIC, 1004},
        {ZERITH_COMMAND_DO_MEDIA, 86, 1000, ZERITH_COMMAND_DO_VIDEO, 1005},
        {ZERITH_COMMAND_DO_MEDIA, 92, 1000, ZERITH_COMMAND_DO_VIDEO, 1006},
        {ZERITH_COMMAND_DO_MEDIA, 89, 1000, ZERITH_COMMAND_DO_VIDEO, 1007},
        {ZERITH_COMMAND_DO_ITUNES, 74, 1001, ZERITH_COMMAND_DO_BOOK, 1008},
        {ZERITH_COMMAND_DO_ITUNES, 80, 1001, ZERITH_COMMAND_DO_RINGTONE, 1003},
        {ZERITH_COMMAND_DO_RECORDING, 83, 1002, ZERITH_COMMAND_DO_RECORDING, 0},
        {ZERITH_COMMAND_DO_PHOTO, 125, 400, ZERITH_COMMAND_DO_PHOTO, 0},
        {ZERITH_COMMAND_DO_PHOTO, 129, 401, ZERITH_COMMAND_DO_PHOTO, 0},
        {ZERITH_COMMAND_DO_APP, 52, 501, ZERITH_COMMAND_DO_APP, 0},
    };
    for (const Case& c : cases) {
        FakeLink link;
        ListsService lists(link);
        ASSERT_TRUE(Request(lists, c.name, c.code)) << c.name << " " << c.code;
        ASSERT_EQ(link.requests.size(), 1u) << c.code;
        EXPECT_EQ(link.requests[0].code, c.service) << c.code;
        EXPECT_EQ(link.requests[0].device, "udid-1") << c.code;
        if (c.section != 0) {
            // Another section of the same answer is not this listing's.
            Reply(lists, link.requests[0].id, 2, 0, "[{\"a\":\"other\"}]", c.section + 1);
            EXPECT_TRUE(link.answers.empty()) << c.code;
        }
        Reply(lists, link.requests[0].id, 1, 0, "[{\"a\":\"x\"}]", c.section);
        ASSERT_FALSE(link.answers.empty()) << c.code;
        for (const ContactsAnswer& answer : link.answers) {
            EXPECT_STREQ(answer.name, c.answerName) << c.code;
        }
    }
    FakeLink link;
    ListsService lists(link);
    EXPECT_FALSE(Request(lists, ZERITH_COMMAND_DO_CONTACT, 2)) << "contacts are not a listing of this service";
    EXPECT_FALSE(Request(lists, ZERITH_COMMAND_DO_NOTE, 59)) << "a save is not a listing";
    EXPECT_TRUE(link.requests.empty());
}

TEST(RelayLists, BatchesCountAndEndOfAListing) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_MEDIA, 92, 14));
    const std::uint64_t id = link.requests.at(0).id;
    const std::uint32_t kTvShows = 1006;  // the media library's section of this listing
    Reply(lists, id, 2, 0, "", kTvShows);  // the count info comes first, without data
    Reply(lists, id, 2, 0, R"([{"title":"Pilot","season":1,"hd":true,"art":{"w":1}},"loose"])", kTvShows);
    Reply(lists, id, 2, 0, "not json", kTvShows);  // an unreadable batch is skipped, the listing goes on
    Reply(lists, id, 2, 0, R"({"com.a.tv":{"CFBundleName":"TV","Size":12}})", kTvShows);  // records by key
    Reply(lists, id, 1, 0, R"([{"title":"Finale"}])", kTvShows);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{92, 92, 92, 91, 92}));
    EXPECT_EQ(Fields(link.answers[0], 0), (std::vector<std::wstring>{L"Pilot", L"1", L"true"}));
    EXPECT_EQ(Fields(link.answers[0], 1), std::vector<std::wstring>{L"loose"});
    EXPECT_EQ(Fields(link.answers[1], 0), (std::vector<std::wstring>{L"com.a.tv", L"TV", L"12"}));
    EXPECT_EQ(Fields(link.answers[2], 0), std::vector<std::wstring>{L"Finale"});
    EXPECT_EQ(link.answers[3].value3, 4) << "the count of rows listed";
    EXPECT_EQ(link.answers[4].extra, nullptr) << "the end of the listing";
    EXPECT_EQ(link.answers[4].value2, 0);
    for (const ContactsAnswer& answer : link.answers) {
        EXPECT_EQ(answer.status, 14) << "the video kind";
    }
    EXPECT_EQ(link.answers[0].device, "udid-1");
}

TEST(RelayLists, UnbuiltModulesFailedSendsAndALostServiceEndTheListing) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_SMS, 24));
    Reply(lists, link.requests.at(0).id, 6, 2, "");  // the module is not built yet: a failed last reply
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{23, 24}));
    EXPECT_EQ(link.answers[0].value3, 0);
    EXPECT_EQ(link.answers[1].value2, 2);

    link.Clear();
    link.refuse = true;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_APP, 52));
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{51, 52}));
    EXPECT_EQ(link.answers[1].value2, 2);

    link.Clear();
    link.refuse = false;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_NOTE, 58));
    lists.OnServiceGone();
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{57, 58}));
    Packet late;
    late.header.id = link.requests.back().id;
    EXPECT_FALSE(lists.OnReply(late, ReplyFrame(), "")) << "a reply after the end answers nothing";
}

TEST(RelayLists, QueriesAnswerNotLoadedSoEverySwitchListsAfresh) {
    FakeLink link;
    ListsService lists(link);
    std::int64_t status = -1;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_MEDIA, 84, 13, &status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_PHOTO, 127, 1, &status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(link.requests.empty());
}

// Notes, bookmarks, voice memos and ringtones reach their pages as the pages' own records, built from the
// service's reply shapes; the ringtone listing takes only the ringtone section of its reply.
TEST(RelayLists, PageListingsCarryThePagesRecords) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_NOTE, 58));
    Reply(lists, link.requests.at(0).id, 2, 1200,
          R"([{"id":"1","guid":"g-1","subject":"Shop","author":"me","content":"milk","dateCreated":"x",)"
          R"("dateModified":"2024-03-01T10:20:30Z"}])");
    ASSERT_EQ(link.Codes(), std::vector<std::int64_t>{58});
    const NoteItem& note = *static_cast<const ItemBatch<NoteItem>*>(link.answers[0].extra)->items.at(0);
    EXPECT_EQ(note.identifier, L"g-1");
    EXPECT_EQ(note.title, L"Shop");
    EXPECT_EQ(note.content, L"milk");
    EXPECT_EQ(note.time, L"2024-03-01 10:20:30");

    const ContactsAnswer notesAnswer = link.answers[0];
    link.answers.clear();  // the notes batch is freed below, after the sequences are compared
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_BOOKMARK, 101));
    const std::string folder = R"({"id":"f","name":"Work","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Folder",)"
                               R"("position":0,"url":"","children":[)"
                               R"({"id":"b1","name":"A","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Bookmark",)"
                               R"("position":1,"url":"http://a","children":[]},)"
                               R"({"id":"f2","name":"Sub","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Folder",)"
                               R"("position":2,"url":"","children":[{"id":"b2","name":"B",)"
                               R"("com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Bookmark","url":"http://b"}]}]})";
    Reply(lists, link.requests.back().id, 2, 1400, folder);
    Reply(lists, link.requests.back().id, 1, 1400,
          R"({"id":"t","name":"Top","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Bookmark"})");
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{101, 101, 100, 101}));
    const auto sequenceOf = [&link](size_t i) {
        return static_cast<const ItemBatch<BookmarkItem>*>(link.answers.at(i).extra)->sequence;
    };
    EXPECT_EQ(sequenceOf(0), sequenceOf(1)) << "one listing's batches add up on the page";
    EXPECT_GT(sequenceOf(0), static_cast<const ItemBatch<NoteItem>*>(notesAnswer.extra)->sequence)
        << "a later listing replaces an earlier one";
    EXPECT_EQ(link.answers[2].value3, 3) << "bookmarks counted, folders not";
    const BookmarkItem& root = *static_cast<const ItemBatch<BookmarkItem>*>(link.answers[0].extra)->items.at(0);
    EXPECT_EQ(root.name, L"Work");
    EXPECT_TRUE(root.parent.empty());
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0]->url, L"http://a");
    EXPECT_EQ(root.children[0]->kind, kBookmarkKind);
    EXPECT_EQ(root.children[0]->position, 1);
    EXPECT_EQ(root.children[0]->parent.at(L"identifier"), L"f");
    ASSERT_EQ(root.children[1]->children.size(), 1u);
    EXPECT_EQ(root.children[1]->children[0]->parent.at(L"identifier"), L"f2");

    ContactsAnswer notesDone = notesAnswer;
    trv::relay::ReleaseContactsAnswer(notesDone);
    link.Clear();
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_RECORDING, 83));
    Reply(lists, link.requests.back().id, 1, 0,
          R"([{"path":"/Recordings/1.m4a","size":7,"label":"Memo","duration_int":65,"duration":"01:05",)"
          R"("date_int":1,"date":"2024-01-01"},{"path":"/Recordings/20240501 101500.m4a","label":""}])");
    const RecordingItem& memo = *static_cast<const ItemBatch<RecordingItem>*>(link.answers.at(0).extra)->items.at(0);
    EXPECT_EQ(memo.key, L"/Recordings/1.m4a");
    EXPECT_EQ(memo.size, 7);
    EXPECT_EQ(memo.name, L"Memo");
    EXPECT_EQ(memo.time, L"01:05");
    EXPECT_EQ(memo.dateCreated, L"2024-01-01");
    EXPECT_EQ(static_cast<const ItemBatch<RecordingItem>*>(link.answers.at(0).extra)->items.at(1)->name,
              L"20240501 101500") << "an unnamed memo is known by its file";

    link.Clear();
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_ITUNES, 80));
    EXPECT_EQ(link.requests.back().code, 1001u);
    Reply(lists, link.requests.back().id, 2, 0, R"([{"path":"/Books/a.epub","title":"A book"}])", 1008);
    Reply(lists, link.requests.back().id, 1, 0,
          R"([{"path":"/Ringtones/r.m4r","title":"Ring","size":9,"duration":65000}])", 1003);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{80, 79, 80})) << "the books section is not listed";
    const RingtoneItem& tone = *static_cast<const ItemBatch<RingtoneItem>*>(link.answers[0].extra)->items.at(0);
    EXPECT_EQ(tone.title, L"Ring");
    EXPECT_EQ(tone.size, 9);
    EXPECT_EQ(tone.timeValue, 65000);
    EXPECT_EQ(tone.time, L"1:05");
    EXPECT_EQ(link.answers[1].value3, 1);
}

TEST(RelayLists, AListingWithoutADeviceEndsAtOnce) {
    FakeLink link;
    ListsService lists(link);
    CommandMessage message{};
    message.name = ZERITH_COMMAND_DO_NOTE;
    message.code = 58;
    ASSERT_TRUE(lists.Handle(message));
    EXPECT_TRUE(link.requests.empty()) << "no request without a device";
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{57, 58})) << "ended at once";
}
