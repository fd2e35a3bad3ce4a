// The relay's listing features against a fake link: which service request each host request becomes, the
// answers made of the service's batches (under the feature's relay name, with the kind in `status`), the
// count and the end of a listing, a module that is not built (code 2) and a lost service. Payloads are
// released by the fake, so the sanitizer build also checks ownership.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_lists.h"
#include "relay_tables.h"
#include "relay_test_link.h"

namespace {

using relay::ListsService;
using relay::Packet;
using relay::RelayAnswer;
using relay::ReplyFrame;
using trv::test::FakeLink;

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

std::vector<std::wstring> Fields(const RelayAnswer& answer, size_t item) {
    return static_cast<const ItemBatch<TextItem>*>(answer.payload)->items.at(item)->fields;
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
        for (const RelayAnswer& answer : link.answers) {
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
    const std::uint32_t kTvShows = 1006;   // the media library's section of this listing
    Reply(lists, id, 2, 0, "", kTvShows);  // the count info comes first, without data
    Reply(lists, id, 2, 0, R"([{"title":"Pilot","total_time_ms_int":1500000},{"title":"Two"},"loose"])", kTvShows);
    Reply(lists, id, 2, 0, "not json", kTvShows);               // an unreadable batch is skipped, the listing goes on
    Reply(lists, id, 2, 0, R"({"not":"an array"})", kTvShows);  // nor is a batch of another shape
    Reply(lists, id, 1, 0, R"([{"title":"Finale"}])", kTvShows);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{92, 92, 91, 92}));
    EXPECT_EQ(Fields(link.answers[0], 0).at(0), L"Pilot");
    EXPECT_EQ(Fields(link.answers[0], 0).at(4), L"25:00");
    EXPECT_EQ(Fields(link.answers[0], 1).at(0), L"Two");
    EXPECT_EQ(Fields(link.answers[1], 0).at(0), L"Finale");
    EXPECT_EQ(link.answers[2].count, 3) << "the count of rows listed";
    EXPECT_EQ(link.answers[3].payload, nullptr) << "the end of the listing";
    EXPECT_EQ(link.answers[3].resultOrCount, 0);
    for (const RelayAnswer& answer : link.answers) {
        EXPECT_EQ(answer.status, 14) << "the video kind";
    }
    EXPECT_EQ(link.answers[0].device, "udid-1");
}

// The backup list's records: the key of a keyed record, then its scalar members in the order sent.
TEST(RelayLists, TextItemsAreTheKeysAndScalarMembers) {
    ItemBatch<TextItem> batch;
    ASSERT_TRUE(relay::ReadTextItems(R"({"k1":{"name":"A","size":12,"on":true,"nested":{"x":1}}})", batch));
    ASSERT_TRUE(relay::ReadTextItems(R"([{"a":"b"},"loose"])", batch));
    ASSERT_EQ(batch.items.size(), 3u);
    EXPECT_EQ(batch.items[0]->fields, (std::vector<std::wstring>{L"k1", L"A", L"12", L"true"}));
    EXPECT_EQ(batch.items[1]->fields, std::vector<std::wstring>{L"b"});
    EXPECT_EQ(batch.items[2]->fields, std::vector<std::wstring>{L"loose"});
    EXPECT_FALSE(relay::ReadTextItems("3", batch));
}

// Each stand-in page's listing becomes the rows of its table: one text a column, in the table's order,
// made of the members the service sends.
TEST(RelayLists, TheStandInTablesShowTheServicesRecordsAsReadableRows) {
    using Rows = std::vector<std::vector<std::wstring>>;
    struct Case {
        const char* name;
        std::int64_t code;
        std::int64_t status;
        std::uint32_t section;
        relay::Table table;
        std::vector<std::string> replies;  // the data of each reply, the last one the final reply
        Rows rows;
    };
    // clang-format off
    const Case cases[] = {
        {ZERITH_COMMAND_DO_SMS, 24, 0, 0, relay::TableOf(relay::kMessages),
         {R"("/tmp/sms-udid-1.db")",
          R"({"id":"2","snippet":"Line one\nline two","display_phone":"+15550100,+15550101","is_group":1,)"
          R"("date":600000000000000000,"date_str":"2020-01-06 09:20:00","handles":[],"message_count":3})",
          R"([{"id":1,"chat_id":"2","text":"Hi!","date":1,"is_from_me":0}])",  // its messages add no row
          R"({"id":"0","snippet":"","display_phone":"","is_group":1,"date_str":"","message_count":1})", ""},
         {{L"+15550100, +15550101", L"3", L"Line one line two", L"2020-01-06 09:20"},
          {L"Unknown", L"1", L"(no text)", L""}}},
        {ZERITH_COMMAND_DO_CALENDAR, 65, 0, 0, relay::TableOf(relay::kCalendars),
         {R"([{"id":"1","title":"Work & <Team> 1","read_only":0,"colorComponents":[1,2,3,255],"events":[)"
          R"({"id":"2","start_date":"2016-03-01 09:30:00","end_date":"2016-03-01 10:00:00","all_day":0,)"
          R"("summary":"Stand-up <daily>","description":"x","location":"Room 3 & hall",)"
          R"("recurrence":{"id":"3","frequency":"weekly","until":"2016-05-30 09:30:00","interval":2},)"
          R"("display_alarms":[{"id":"4","description":"Reminder","triggerduration":-900}]},)"
          R"({"id":"5","start_date":"2016-04-02 00:00:00","end_date":"2016-04-03 00:00:00","all_day":1,"summary":""}]},)"
          R"({"id":"9","title":"Sport","read_only":1,"events":[]}])",
          ""},
         {{L"Work & <Team> 1", L"Stand-up <daily>", L"2016-03-01 09:30", L"2016-03-01 10:00", L"Room 3 & hall",
           L"Every 2 weeks until 2016-05-30", L"15 min before", L"2"},
          {L"Work & <Team> 1", L"(no title)", L"2016-04-02 (all day)", L"2016-04-03", L"", L"", L"", L"5"},
          {L"Sport (read-only)", L"(no events)", L"", L"", L"", L"", L"", L"9"}}},
        {ZERITH_COMMAND_DO_MEDIA, 95, 0, 1004, relay::TableOf(relay::kSongs),
         {R"([{"item_pid":1,"title":"Song\tOne","total_time_ms":"3:25","total_time_ms_int":205000,"media_kind":1,)"
          R"("year":2011,"album":"Album A","artist":"Artist B","genre":"Pop","path":"/iTunes_Control/Music/F00/a.mp3",)"
          R"("file_size":4404019},{"item_pid":2,"title":"","total_time_ms_int":3725000,)"
          R"("path":"/iTunes_Control/Music/F01/Long.m4a"}])",
          ""},
         {{L"Song One", L"Artist B", L"Album A", L"Pop", L"3:25", L"4.20 MB", L"/iTunes_Control/Music/F00/a.mp3"},
          {L"Long.m4a", L"", L"", L"", L"1:02:05", L"", L"/iTunes_Control/Music/F01/Long.m4a"}}},
        {ZERITH_COMMAND_DO_MEDIA, 86, 13, 1005, relay::TableOf(relay::kMovies),
         {R"([{"title":"Movie","total_time_ms_int":5400000,"year":2019,"genre":"Drama","file_size":1048576}])", ""},
         {{L"Movie", L"Drama", L"2019", L"1:30:00", L"1.00 MB", L""}}},
        {ZERITH_COMMAND_DO_MEDIA, 92, 14, 1006, relay::TableOf(relay::kTvShows),
         {R"([{"title":"Pilot","album":"Show, Season 1","total_time_ms_int":1500000,"year":0,"file_size":2048}])", ""},
         {{L"Pilot", L"Show, Season 1", L"", L"", L"25:00", L"2.00 KB", L""}}},
        {ZERITH_COMMAND_DO_MEDIA, 89, 15, 1007, relay::TableOf(relay::kMusicVideos),
         {R"([{"title":"Clip","artist":"Band","total_time_ms_int":240000,"year":2001,"file_size":100}])", ""},
         {{L"Clip", L"Band", L"", L"2001", L"4:00", L"100 B", L""}}},
        {ZERITH_COMMAND_DO_PHOTO, 125, 0, 0, relay::TableOf(relay::kPhotos),
         {"", R"([{"PATH":"DCIM/100APPLE/IMG_0001.JPG","Z_PK":1,"ZSAVEDASSETTYPE":3,"ZORIENTATION":1,)"
              R"("ZADDITIONALATTRIBUTES":1,"ZDATECREATED":"2019-05-04 13:14:15","ZMODIFICATIONDATE":"2019-05-05 08:00:00",)"
              R"("ZORIGINALFILESIZE":250000},{"PATH":"DCIM/100APPLE/IMG_0002.MOV","ZDATECREATED":"",)"
              R"("ZORIGINALFILESIZE":0}])",
          ""},
         {{L"IMG_0001.JPG", L"2019-05-04 13:14", L"2019-05-05 08:00", L"244.14 KB", L"DCIM/100APPLE",
           L"DCIM/100APPLE/IMG_0001.JPG"},
          {L"IMG_0002.MOV", L"", L"", L"", L"DCIM/100APPLE", L"DCIM/100APPLE/IMG_0002.MOV"}}},
        {ZERITH_COMMAND_DO_PHOTO, 129, 1, 0, relay::TableOf(relay::kAlbums),
         {R"([{"COUNT":12,"Z_PK":1,"TITLE":"Camera Roll","ZKIND":1000,"TYPE":1},)"
          R"({"COUNT":3,"Z_PK":0,"TITLE":"","ZKIND":0,"TYPE":2},{"COUNT":2,"Z_PK":0,"TITLE":"","ZKIND":0,"TYPE":5},)"
          R"({"COUNT":4,"Z_PK":2,"TITLE":"Holidays","ZKIND":2,"TYPE":0}])",
          ""},
         {{L"Camera Roll", L"Camera Roll", L"12", L"1 1"},
          {L"Favorites", L"Smart album", L"3", L"0 2"},
          {L"Recently Deleted", L"Smart album", L"2", L"0 5"},
          {L"Holidays", L"Album", L"4", L"2 0"}}},
        {ZERITH_COMMAND_DO_ITUNES, 74, 0, 1008, relay::TableOf(relay::kBooks),
         {R"([{"path":"/Books/Moby.epub","title":"Moby Dick","size":524288,"artist":"Melville","purchase":"",)"
          R"("gene":"Novel"},{"path":"/Books/Purchases/guide.pdf","title":"","size":2000}])",
          ""},
         {{L"Moby Dick", L"Melville", L"Novel", L"EPUB", L"512.00 KB", L"/Books/Moby.epub"},
          {L"guide.pdf", L"", L"", L"PDF", L"1.95 KB", L"/Books/Purchases/guide.pdf"}}},
        {ZERITH_COMMAND_DO_APP, 52, 0, 0, relay::TableOf(relay::kApps),
         {R"({"com.example.cargo1":{"ApplicationType":"User","CFBundleIdentifier":"com.example.cargo1",)"
          R"("CFBundleDisplayName":"Cargo","CFBundleName":"CargoApp","CFBundleShortVersionString":"2.1",)"
          R"("CFBundleVersion":"210","artistName":"Example Ltd","data-size":2048,"app-size":15728640},)"
          R"("com.example.bare":{"CFBundleVersion":"7"}})",
          ""},
         {{L"Cargo", L"2.1 (210)", L"15.00 MB", L"2.00 KB", L"Example Ltd", L"com.example.cargo1"},
          {L"com.example.bare", L"7", L"", L"", L"", L"com.example.bare"}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeLink link;
        ListsService lists(link);
        ASSERT_TRUE(Request(lists, c.name, c.code, c.status)) << c.code;
        const std::uint64_t id = link.requests.at(0).id;
        for (size_t i = 0; i < c.replies.size(); ++i) {
            Reply(lists, id, i + 1 == c.replies.size() ? 1 : 2, 0, c.replies[i], c.section);
        }
        Rows rows;
        for (const RelayAnswer& answer : link.answers) {
            if (answer.code != c.code || answer.payload == nullptr) continue;
            for (const auto& item : static_cast<const ItemBatch<TextItem>*>(answer.payload)->items) {
                if (item->fields.empty()) continue;  // details of the row before (the next test)
                // One text a column, then the row's key where the table does not show it.
                EXPECT_GE(item->fields.size(), c.table.count) << c.code << ": one text a column";
                EXPECT_LE(item->fields.size(), c.table.count + 1) << c.code;
                rows.push_back(item->fields);
            }
        }
        EXPECT_EQ(rows, c.rows) << c.code;
    }
}

// A conversation's messages come after its row, oldest first, in arrays of up to 50: each array is an
// item without fields whose details are the messages as the conversation table's rows (time, sender,
// text), so that the page adds them to the row before; they are no rows of the count.
TEST(RelayLists, AConversationsMessagesFollowItsRowAsItsDetailsInOrder) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_SMS, 24));
    const std::uint64_t id = link.requests.at(0).id;
    const std::string replies[] = {
        R"({"id":"7","snippet":"ok","display_phone":"+1555","message_count":3,"date_str":"2020-01-06 09:22:00"})",
        R"([{"id":1,"chat_id":"7","text":"Hi!\nthere","date_str":"2020-01-06 09:20:10","is_from_me":0,)"
        R"("handle_id_phone":"+1555"},{"id":2,"chat_id":"7","text":"","date_str":"2020-01-06 09:21:00","is_from_me":1}])",
        R"([{"id":3,"chat_id":"7","text":"ok","date_str":"2020-01-06 09:22:00","is_from_me":0,"handle_id_phone":""},3])",
        R"({"id":"8","snippet":"x","display_phone":"a@b","message_count":0,"date_str":""})",
        R"([])",
    };
    for (const std::string& data : replies) Reply(lists, id, 2, 0, data);
    Reply(lists, id, 1, 0, "");
    using Texts = std::vector<std::wstring>;
    std::vector<std::pair<Texts, std::vector<Texts>>> items;  // fields and details of each item, in order
    for (const RelayAnswer& answer : link.answers) {
        if (answer.code != 24 || answer.payload == nullptr) continue;
        for (const auto& item : static_cast<const ItemBatch<TextItem>*>(answer.payload)->items) {
            items.emplace_back(item->fields, item->details);
        }
    }
    const std::vector<std::pair<Texts, std::vector<Texts>>> expected = {
        {{L"+1555", L"3", L"ok", L"2020-01-06 09:22"}, {}},
        {{}, {{L"2020-01-06 09:20", L"+1555", L"Hi! there"}, {L"2020-01-06 09:21", L"Me", L"(no text)"}}},
        {{}, {{L"2020-01-06 09:22", L"Unknown", L"ok"}}},
        {{L"a@b", L"0", L"x", L""}, {}},
    };
    EXPECT_EQ(items, expected);
    for (const auto& item : expected) {
        for (const Texts& message : item.second) EXPECT_EQ(message.size(), std::size(relay::kConversation));
    }
    const RelayAnswer& count = link.answers.at(link.answers.size() - 2);
    EXPECT_EQ(count.code, 23);
    EXPECT_EQ(count.count, 2) << "two conversations, however many messages";
}

// The section list counts conversations, calendars (as the service reports them, negative for an online
// account) and apps, not the rows of their tables.
TEST(RelayLists, CountsAreOfTheRecordsNotOfTheRows) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_CALENDAR, 65));
    const std::uint64_t id = link.requests.at(0).id;
    Packet packet;
    packet.header.id = id;
    packet.header.status = 2;
    ReplyFrame frame;
    frame.hasInfo = true;
    frame.infoJson = R"({"Count":1})";
    ASSERT_TRUE(lists.OnReply(packet, frame, R"([{"title":"Home","events":[{"summary":"a"},{"summary":"b"}]}])"));
    Reply(lists, id, 1, 0, "");
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{65, 64, 65}));
    EXPECT_EQ(link.answers[1].count, 1) << "one calendar of two events";

    link.Clear();
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_CALENDAR, 65));
    packet.header.id = link.requests.back().id;
    packet.header.status = 1;
    frame.infoJson = R"({"Count":-1})";
    ASSERT_TRUE(lists.OnReply(packet, frame, ""));
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{64, 65}));
    EXPECT_EQ(link.answers[0].count, -1) << "the calendars are an online account's";
}

TEST(RelayLists, UnbuiltModulesFailedSendsAndALostServiceEndTheListing) {
    FakeLink link;
    ListsService lists(link);
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_SMS, 24));
    Reply(lists, link.requests.at(0).id, 6, 2, "");  // the module is not built yet: a failed last reply
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{23, 24}));
    EXPECT_EQ(link.answers[0].count, 0);
    EXPECT_EQ(link.answers[1].resultOrCount, 2);

    link.Clear();
    link.refuse = true;
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_APP, 52));
    EXPECT_EQ(link.Codes(), (std::vector<std::int64_t>{51, 52}));
    EXPECT_EQ(link.answers[1].resultOrCount, 2);

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
    const NoteItem& note = *static_cast<const ItemBatch<NoteItem>*>(link.answers[0].payload)->items.at(0);
    EXPECT_EQ(note.identifier, L"g-1");
    EXPECT_EQ(note.title, L"Shop");
    EXPECT_EQ(note.content, L"milk");
    EXPECT_EQ(note.time, L"2024-03-01 10:20:30");

    const RelayAnswer notesAnswer = link.answers[0];
    link.answers.clear();  // the notes batch is freed below, after the sequences are compared
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_BOOKMARK, 101));
    const std::string folder =
        R"({"id":"f","name":"Work","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Folder",)"
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
        return static_cast<const ItemBatch<BookmarkItem>*>(link.answers.at(i).payload)->sequence;
    };
    EXPECT_EQ(sequenceOf(0), sequenceOf(1)) << "one listing's batches add up on the page";
    EXPECT_GT(sequenceOf(0), static_cast<const ItemBatch<NoteItem>*>(notesAnswer.payload)->sequence)
        << "a later listing replaces an earlier one";
    EXPECT_EQ(link.answers[2].count, 3) << "bookmarks counted, folders not";
    const BookmarkItem& root = *static_cast<const ItemBatch<BookmarkItem>*>(link.answers[0].payload)->items.at(0);
    EXPECT_EQ(root.name, L"Work");
    EXPECT_TRUE(root.parent.empty());
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0]->url, L"http://a");
    EXPECT_EQ(root.children[0]->kind, kBookmarkKind);
    EXPECT_EQ(root.children[0]->position, 1);
    EXPECT_EQ(root.children[0]->parent.at(L"identifier"), L"f");
    ASSERT_EQ(root.children[1]->children.size(), 1u);
    EXPECT_EQ(root.children[1]->children[0]->parent.at(L"identifier"), L"f2");

    RelayAnswer notesDone = notesAnswer;
    relay::ReleaseRelayAnswer(notesDone);
    link.Clear();
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_RECORDING, 83));
    Reply(lists, link.requests.back().id, 1, 0,
          R"([{"path":"/Recordings/1.m4a","size":7,"label":"Memo","duration_int":65,"duration":"01:05",)"
          R"("date_int":1,"date":"2024-01-01"},{"path":"/Recordings/20240501 101500.m4a","label":""}])");
    const RecordingItem& memo = *static_cast<const ItemBatch<RecordingItem>*>(link.answers.at(0).payload)->items.at(0);
    EXPECT_EQ(memo.key, L"/Recordings/1.m4a");
    EXPECT_EQ(memo.size, 7);
    EXPECT_EQ(memo.name, L"Memo");
    EXPECT_EQ(memo.time, L"01:05");
    EXPECT_EQ(memo.dateCreated, L"2024-01-01");
    EXPECT_EQ(static_cast<const ItemBatch<RecordingItem>*>(link.answers.at(0).payload)->items.at(1)->name,
              L"20240501 101500")
        << "an unnamed memo is known by its file";

    link.Clear();
    ASSERT_TRUE(Request(lists, ZERITH_COMMAND_DO_ITUNES, 80));
    EXPECT_EQ(link.requests.back().code, 1001u);
    Reply(lists, link.requests.back().id, 2, 0, R"([{"path":"/Books/a.epub","title":"A book"}])", 1008);
    Reply(lists, link.requests.back().id, 1, 0,
          R"([{"path":"/Ringtones/r.m4r","title":"Ring","size":9,"duration":65000}])", 1003);
    ASSERT_EQ(link.Codes(), (std::vector<std::int64_t>{80, 79, 80})) << "the books section is not listed";
    const RingtoneItem& tone = *static_cast<const ItemBatch<RingtoneItem>*>(link.answers[0].payload)->items.at(0);
    EXPECT_EQ(tone.title, L"Ring");
    EXPECT_EQ(tone.size, 9);
    EXPECT_EQ(tone.timeValue, 65000);
    EXPECT_EQ(tone.time, L"1:05");
    EXPECT_EQ(link.answers[1].count, 1);
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
