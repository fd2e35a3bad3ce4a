// The relay's actions of the outside pages against a fake link: the checked apps uninstalled with one
// request that reports each app, the chosen books imported and the checked ones deleted one request each;
// what each request carries, the outcome the page is told in words (done, or not and why), the count the
// section list is given and the fresh listing that follows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_actions.h"
#include "relay_test_link.h"

namespace {

using relay::ActionsService;
using relay::ListsService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeLink;

const wchar_t kDevice[] = L"udid-1";

struct Relay {
    FakeLink link;
    ListsService lists{link};
    ActionsService actions{link, lists};

    bool Request(const char* name, std::int64_t code, std::vector<std::wstring> items) {
        std::wstring device = kDevice;
        CommandMessage message{};
        message.name = name;
        message.code = code;
        message.data = new std::vector<std::wstring>(std::move(items));
        message.wideText = &device[0];
        const bool taken = lists.Handle(message) || actions.Handle(message);
        EXPECT_EQ(message.data, nullptr) << "the list is the relay's";
        return taken;
    }
    bool Load(const char* name, std::int64_t code) {
        std::wstring device = kDevice;
        CommandMessage message{};
        message.name = name;
        message.code = code;
        message.wideText = &device[0];
        return lists.Handle(message);
    }
    // A reply to the latest request: `status` 1 ends it; an item's reply names the item in its info.
    void Reply(std::uint16_t status, std::int64_t code, const char* info = nullptr, const std::string& data = "") {
        Packet packet;
        packet.header.id = link.requests.back().id;
        packet.header.status = status;
        ReplyFrame frame;
        frame.code = code;
        if (info != nullptr) {
            frame.hasInfo = true;
            frame.infoJson = info;
        }
        ASSERT_TRUE(lists.OnReply(packet, frame, data) || actions.OnReply(packet, frame, data));
    }
    // Answers the books listing in flight with `books` (the book list's section of the reply) and ends it.
    void ListBooks(const std::string& books) {
        Packet packet;
        packet.header.id = link.requests.back().id;
        packet.header.command = 1008;
        packet.header.status = 2;
        ASSERT_TRUE(lists.OnReply(packet, ReplyFrame(), books));
        Reply(1, 0);
    }
    // An export `code` under `name` into Z:\out, its listing answered with `parts`; the file it wrote.
    std::string Export(const char* name, std::int64_t code, std::uint32_t listing, const std::vector<std::string>& parts,
                       const wchar_t* file) {
        std::wstring device = kDevice;
        std::wstring folder = L"Z:\\out";
        CommandMessage message{};
        message.name = name;
        message.code = code;
        message.extra = &folder[0];
        message.wideText = &device[0];
        EXPECT_TRUE(actions.Handle(message));
        if (link.requests.size() != 1) return "(no listing)";
        EXPECT_EQ(link.requests[0].code, listing) << "listed afresh";
        Packet packet;
        packet.header.id = link.requests[0].id;
        packet.header.status = 2;
        for (const std::string& part : parts) EXPECT_TRUE(actions.OnReply(packet, ReplyFrame(), part));
        Reply(1, 0);
        // The host hears of it as of a file export: one file, into the chosen folder.
        EXPECT_EQ(link.Codes(), std::vector<std::int64_t>{109});
        if (link.answers.size() != 1) return "(no answer)";
        EXPECT_STREQ(link.answers[0].name, ZERITH_COMMAND_DO_FILE);
        EXPECT_EQ(link.answers[0].count, 1);
        EXPECT_EQ(link.answers[0].userText, L"Z:\\out");
        const auto written = link.files.find(file);
        return written == link.files.end() ? "(no file)" : written->second;
    }
    // The first field of answer `index`'s one-row batch: the outcome in words.
    std::wstring Outcome(size_t index) const {
        const auto* batch = static_cast<const ItemBatch<TextItem>*>(link.answers.at(index).payload);
        if (batch == nullptr || batch->items.size() != 1 || batch->items[0]->fields.empty()) return L"(none)";
        return batch->items[0]->fields[0];
    }
};

}  // namespace

TEST(RelayPageActions, UninstallSendsOneRequestAndTellsEachAppsOutcome) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint16_t, const char*>> items;  // each app's reply: status, info
        std::int64_t endCode;
        const wchar_t* outcome;
    } cases[] = {
        {"both done", {{7, "\"com.a\""}, {7, "\"com.b\""}}, 0, L"Uninstalled Alpha, com.b."},
        {"the second refused", {{2, "\"com.a\""}, {7, "\"com.a\""}, {6, "\"com.b\""}}, 0,
         L"Uninstalled Alpha. Could not uninstall com.b: the device refused."},
        {"the installation service never opened", {}, 14,
         L"Could not uninstall Alpha: the device's installation service did not open. Could not uninstall com.b: "
         L"the device's installation service did not open."},
    };
    for (const Case& c : cases) {
        Relay relay;
        relay.actions.KeepNames("udid-1", {{L"com.a", L"Alpha"}, {L"com.c", L"Gamma"}});  // com.b: no name kept
        ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_APP, sdk::apps::kRelayUninstall, {L"com.a", L"com.b"}));
        ASSERT_EQ(relay.link.requests.size(), 1u) << c.what;
        EXPECT_EQ(relay.link.requests[0].code, 505u);
        EXPECT_EQ(relay.link.requests[0].device, "udid-1");
        EXPECT_EQ(relay.link.requests[0].data, R"(["com.a","com.b"])");
        for (const auto& item : c.items) relay.Reply(item.first, 0, item.second);
        EXPECT_TRUE(relay.link.answers.empty()) << c.what << ": only the request's end answers";
        relay.Reply(c.endCode == 0 ? 1 : 6, c.endCode);
        ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::apps::kRelayUninstalled}) << c.what;
        EXPECT_EQ(relay.Outcome(0), c.outcome) << c.what;
        // The list follows the device: the apps are listed afresh.
        ASSERT_EQ(relay.link.requests.size(), 2u) << c.what;
        EXPECT_EQ(relay.link.requests[1].code, 501u) << c.what;
    }
}

TEST(RelayPageActions, BooksAreImportedAndDeletedOneRequestEachWithTheCountAfterwards) {
    Relay relay;
    // A listing of three books first: the count the section list shows.
    ASSERT_TRUE(relay.Load(ZERITH_COMMAND_DO_ITUNES, sdk::books::kRelayLoad));
    relay.ListBooks(R"([{"path":"/Books/A.pdf","title":"A"},{"path":"/Books/B.EPUB","title":"B"},)"
                    R"({"path":"/Books/C.pdf","title":"C"}])");
    ASSERT_EQ(relay.link.answers.size(), 3u);  // the rows, the count, the end
    const auto* rows = static_cast<const ItemBatch<TextItem>*>(relay.link.answers[0].payload);
    ASSERT_EQ(rows->items.size(), 3u);
    EXPECT_EQ(rows->items[1]->fields.back(), L"/Books/B.EPUB") << "a book's key is its device path";
    relay.link.Clear();
    relay.link.requests.clear();

    // Two deletions: one done, one the device kept; the count drops by the one done.
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOK, sdk::books::kRelayDelete, {L"/Books/A.pdf", L"/Books/B.EPUB"}));
    ASSERT_EQ(relay.link.requests.size(), 1u) << "one request at a time";
    EXPECT_EQ(relay.link.requests[0].code, 1013u);
    EXPECT_EQ(relay.link.requests[0].data, R"({"path":"/Books/A.pdf"})");
    relay.Reply(1, 0);
    ASSERT_EQ(relay.link.requests.size(), 2u);
    EXPECT_EQ(relay.link.requests[1].data, R"({"path":"/Books/B.EPUB"})");
    relay.Reply(6, 38);
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::books::kRelayDeleted});
    EXPECT_EQ(relay.Outcome(0), L"Deleted A.pdf. Could not delete B.EPUB: the device kept the book's file.");
    EXPECT_EQ(relay.link.answers[0].resultOrCount, 2);
    ASSERT_EQ(relay.link.requests.size(), 3u);
    EXPECT_EQ(relay.link.requests[2].code, 1001u) << "the books listed afresh";
    relay.ListBooks(R"([{"path":"/Books/B.EPUB","title":"B"},{"path":"/Books/C.pdf","title":"C"}])");
    relay.link.Clear();
    relay.link.requests.clear();

    // An import: each chosen file under the service's name for it; a file out of its reach is not sent.
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOK, sdk::books::kRelayImport,
                              {L"Z:\\home\\me\\My Novel.epub", L"\\\\server\\share\\Far.pdf"}));
    ASSERT_EQ(relay.link.requests.size(), 1u);
    EXPECT_EQ(relay.link.requests[0].code, 1012u);
    EXPECT_EQ(relay.link.requests[0].data, R"({"path":"/home/me/My Novel.epub"})");
    relay.Reply(1, 0);
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::books::kRelayImported});
    EXPECT_EQ(relay.Outcome(0),
              L"Imported My Novel.epub. Could not import Far.pdf: the device service cannot reach the file.");
    EXPECT_EQ(relay.link.answers[0].resultOrCount, 3);  // two listed since, one imported
}

TEST(RelayPageActions, AnActionOnNothingSendsNothing) {
    Relay relay;
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_APP, sdk::apps::kRelayUninstall, {}));
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOK, sdk::books::kRelayDelete, {}));
    EXPECT_TRUE(relay.link.requests.empty());
    EXPECT_TRUE(relay.link.answers.empty());
}

TEST(RelayPageActions, CheckedCalendarRecordsAreDeletedOneRequestEach) {
    Relay relay;
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_CALENDAR, sdk::calendars::kRelayDelete, {L"ev-1", L"cal-9"}));
    ASSERT_EQ(relay.link.requests.size(), 1u);
    EXPECT_EQ(relay.link.requests[0].code, 1502u);
    EXPECT_EQ(relay.link.requests[0].data, R"({"id":"ev-1"})");
    relay.Reply(1, 0);
    EXPECT_EQ(relay.link.requests.at(1).data, R"({"id":"cal-9"})");
    relay.Reply(6, 13);
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::calendars::kRelayRemoved});
    EXPECT_EQ(relay.Outcome(0), L"Deleted 1 of 2 records. Could not delete the others: the device service answered 13.");
    ASSERT_EQ(relay.link.requests.size(), 3u);
    EXPECT_EQ(relay.link.requests[2].code, 1500u) << "the calendars listed afresh";
}

TEST(RelayPageActions, CalendarsAreExportedAfreshAsICalendarOrXml) {
    const std::string listed =
        R"([{"id":"1","title":"Work, Team","read_only":0,"events":[{"id":"2","start_date":"2016-03-01 09:30:00",)"
        R"("end_date":"2016-03-01 10:00:00","all_day":0,"summary":"Stand-up; daily","location":"Room 3",)"
        R"("recurrence":{"frequency":"weekly","until":"2016-05-30 09:30:00","interval":2},)"
        R"("display_alarms":[{"description":"Reminder","triggerduration":-900}]},)"
        R"({"id":"5","start_date":"2016-04-02 00:00:00","end_date":"2016-04-03 00:00:00","all_day":1,)"
        R"("summary":"Trip & <fun>"}]}])";
    struct Case {
        std::int64_t code;
        const wchar_t* file;
        std::vector<std::string> holds;
    } cases[] = {
        {sdk::calendars::kRelayExport, L"Z:\\out\\Calendars.ics",
         {"BEGIN:VCALENDAR\r\n", "UID:2\r\nSUMMARY:Stand-up\\; daily\r\nCATEGORIES:Work\\, Team\r\n",
          "DTSTART:20160301T093000\r\nDTEND:20160301T100000\r\nLOCATION:Room 3\r\n",
          "RRULE:FREQ=WEEKLY;INTERVAL=2;UNTIL=20160530T093000\r\n", "TRIGGER:-PT900S\r\n",
          "DTSTART;VALUE=DATE:20160402\r\nDTEND;VALUE=DATE:20160403\r\n", "END:VCALENDAR\r\n"}},
        {sdk::calendars::kRelayBackupXml, L"Z:\\out\\Calendars.xml",
         {"<calendarsBackup version=\"1\">", "<calendar title=\"Work, Team\" readOnly=\"0\">",
          "<summary>Trip &amp; &lt;fun&gt;</summary>", "<recurrence frequency=\"weekly\" interval=\"2\"",
          "<alarm trigger=\"-900\">Reminder</alarm>"}},
    };
    for (const Case& c : cases) {
        Relay relay;
        const std::string file = relay.Export(ZERITH_COMMAND_DO_CALENDAR, c.code, 1500, {listed}, c.file);
        for (const std::string& part : c.holds) EXPECT_NE(file.find(part), std::string::npos) << part;
    }
}

TEST(RelayPageActions, MessagesAreExportedAfreshWithEveryMessageOfEachConversation) {
    const std::vector<std::string> listed = {
        R"({"id":1,"snippet":"Bye","display_phone":"+1555,+1666","message_count":2})",
        R"([{"id":10,"chat_id":1,"text":"Hi, \"you\"","date_str":"2020-01-06 09:20:00","is_sent":0,)"
        R"("handle_id_phone":"+1555"},{"id":11,"chat_id":1,"text":"Bye <3","date_str":"2020-01-06 09:21:00",)"
        R"("is_sent":1}])"};
    struct Case {
        std::int64_t code;
        const wchar_t* file;
        std::vector<std::string> holds;
    } cases[] = {
        {sdk::messages::kRelayExportText, L"Z:\\out\\Messages.txt",
         {"Conversation with +1555, +1666\r\n[2020-01-06 09:20:00] +1555: Hi, \"you\"\r\n"
          "[2020-01-06 09:21:00] Me: Bye <3\r\n"}},
        {sdk::messages::kRelayExportCsv, L"Z:\\out\\Messages.csv",
         {"Conversation,Date,From,Text\r\n", "\"+1555, +1666\",\"2020-01-06 09:20:00\",\"+1555\",\"Hi, \"\"you\"\"\"\r\n"}},
        {sdk::messages::kRelayExportHtml, L"Z:\\out\\Messages.html", {"<td>Me</td><td>Bye &lt;3</td>"}},
        {sdk::messages::kRelayBackupXml, L"Z:\\out\\Messages.xml",
         {"<conversation with=\"+1555, +1666\">", "<message date=\"2020-01-06 09:21:00\" from=\"Me\">Bye &lt;3</message>"}},
    };
    for (const Case& c : cases) {
        Relay relay;
        const std::string file = relay.Export(ZERITH_COMMAND_DO_SMS, c.code, 201, listed, c.file);
        for (const std::string& part : c.holds) EXPECT_NE(file.find(part), std::string::npos) << file;
    }
}

TEST(RelayPageActions, AnAppsListingIsFollowedByTheListedAppsIcons) {
    Relay relay;
    std::vector<WideStringPair> announced;
    relay.lists.OnListed([&](const relay::ListRoute& route, const std::string& device,
                             const std::vector<WideStringPair>& rows) {
        EXPECT_EQ(route.listCode, sdk::apps::kRelayLoaded);
        EXPECT_EQ(device, "udid-1");
        announced = rows;
    });
    ASSERT_TRUE(relay.Load(ZERITH_COMMAND_DO_APP, sdk::apps::kRelayLoad));
    Packet packet;
    packet.header.id = relay.link.requests.back().id;
    packet.header.status = 2;
    ASSERT_TRUE(relay.lists.OnReply(packet, ReplyFrame(), R"({"com.a":{"CFBundleName":"A"},"com.b":{}})"));
    EXPECT_TRUE(announced.empty()) << "announced once the listing has ended";
    relay.Reply(1, 0);
    EXPECT_EQ(announced, (std::vector<WideStringPair>{{L"com.a", L"A"}, {L"com.b", L"com.b"}}));

    // The icons: one reply each, named by its info, its PNG bytes kept whole (bytes above 0x7F too).
    relay.link.Clear();
    relay::FetchAppIcons(relay.actions, "udid-1", {L"com.a", L"com.b"});
    ASSERT_EQ(relay.link.requests.back().code, 502u);
    EXPECT_EQ(relay.link.requests.back().data, R"(["com.a","com.b"])");
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "\xff\x00\x7f";
    for (const char* app : {"com.a", "com.b"}) {
        packet.header.id = relay.link.requests.back().id;
        ReplyFrame frame;
        frame.hasInfo = true;
        frame.infoJson = std::string(R"({"bundle_id":")") + app + "\"}";
        ASSERT_TRUE(relay.actions.OnReply(packet, frame, png));
    }
    relay.Reply(1, 0);
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::apps::kRelayIcons});
    const auto* icons = static_cast<const ItemBatch<TextItem>*>(relay.link.answers[0].payload);
    ASSERT_EQ(icons->items.size(), 2u);
    EXPECT_EQ(icons->items[1]->fields[0], L"com.b");
    const std::wstring& bytes = icons->items[1]->fields[1];
    ASSERT_EQ(bytes.size(), png.size());
    for (size_t i = 0; i < png.size(); ++i) EXPECT_EQ(bytes[i], static_cast<unsigned char>(png[i])) << i;
}
