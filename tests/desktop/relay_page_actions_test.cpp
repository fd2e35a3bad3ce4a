// The relay's actions of the outside pages against a fake link: the checked apps uninstalled with one
// request that reports each app, the chosen books imported and the checked ones deleted one request each;
// what each request carries, the outcome the page is told in words (done, or not and why), the count the
// section list is given and the fresh listing that follows. The photos: an album's own photos listed, the
// thumbnails of every listing of photos fetched in bounded batches, and the checked albums exported.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_actions.h"
#include "relay_devices.h"
#include "relay_features.h"
#include "relay_tables.h"
#include "relay_test_link.h"

namespace {

using relay::ActionsService;
using relay::ListsService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeBackupFiles;
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

namespace {

// A photo batch of the service (400, 402) of the files `names` in DCIM/100APPLE.
std::string PhotoBatch(const std::vector<std::string>& names) {
    std::string json = "[";
    for (const std::string& name : names) {
        json += std::string(json.size() > 1 ? "," : "") + R"({"PATH":"DCIM/100APPLE/)" + name +
                R"(","ZDATECREATED":"2019-05-04 13:14:15","ZORIGINALFILESIZE":100})";
    }
    return json + "]";
}

std::wstring PhotoPath(const std::string& name) { return L"DCIM/100APPLE/" + std::wstring(name.begin(), name.end()); }

}  // namespace

TEST(RelayPageActions, TheAlbumsViewListsTheAlbumsOrTheOpenedAlbumsPhotos) {
    struct Case {
        const char* what;
        std::int64_t code;
        const wchar_t* lentKey;  // in `data`, as the page's opening of an album lends it
        std::uint32_t service;
        const char* info;  // the request's info; null: a request without one
        std::string reply;
        std::int64_t kind;
        std::vector<std::int64_t> answers;
        std::vector<std::wstring> firstRow;
    } cases[] = {
        {"the section's load", 129, nullptr, 401, nullptr, R"([{"COUNT":4,"Z_PK":2,"TITLE":"Holidays","TYPE":0}])",
         relay::kAlbumListing, {129, 128, 129}, {L"Holidays", L"Album", L"4", L"2 0"}},
        {"the page's reload", 130, nullptr, 401, nullptr, R"([{"COUNT":3,"Z_PK":0,"TITLE":"","TYPE":2}])",
         relay::kAlbumListing, {129, 128, 129}, {L"Favorites", L"Smart album", L"3", L"0 2"}},
        {"a user album opened", 129, L"2 0", 402, R"({"album_id":2,"album_type":0})", PhotoBatch({"IMG_0101.JPG"}),
         relay::kAlbumPhotosListing, {129, 129},
         {L"IMG_0101.JPG", L"2019-05-04 13:14", L"", L"100 B", L"DCIM/100APPLE", PhotoPath("IMG_0101.JPG")}},
        {"a smart album opened", 129, L"0 2", 402, R"({"album_id":0,"album_type":2})", PhotoBatch({"IMG_0104.PNG"}),
         relay::kAlbumPhotosListing, {129, 129},
         {L"IMG_0104.PNG", L"2019-05-04 13:14", L"", L"100 B", L"DCIM/100APPLE", PhotoPath("IMG_0104.PNG")}},
        {"a key that names no album lists the albums", 129, L"2 0; drop", 401, nullptr, "[]", relay::kAlbumListing,
         {128, 129}, {}},
    };
    for (const Case& c : cases) {
        Relay relay;
        std::wstring device = kDevice;
        std::wstring key = c.lentKey != nullptr ? c.lentKey : L"";
        CommandMessage message{};
        message.name = ZERITH_COMMAND_DO_PHOTO;
        message.code = c.code;
        message.status = 1;
        message.wideText = &device[0];
        message.data = c.lentKey != nullptr ? &key[0] : nullptr;
        ASSERT_TRUE(relay.lists.Handle(message)) << c.what;
        EXPECT_EQ(message.data, c.lentKey != nullptr ? &key[0] : nullptr) << c.what << ": the key stays the page's";
        ASSERT_EQ(relay.link.requests.size(), 1u) << c.what;
        const trv::test::SentRequest& sent = relay.link.requests[0];
        EXPECT_EQ(sent.code, c.service) << c.what;
        if (c.info != nullptr) {
            EXPECT_EQ(sent.json, std::string(R"({"uuid":"udid-1","info":)") + c.info + "}") << c.what;
        } else {
            EXPECT_EQ(sent.device, "udid-1") << c.what;
            EXPECT_TRUE(sent.json.empty()) << c.what;
        }
        relay.Reply(1, 0, nullptr, c.reply);
        EXPECT_EQ(relay.link.Codes(), c.answers) << c.what << ": an album's photos leave the albums counter alone";
        for (const relay::RelayAnswer& answer : relay.link.answers) {
            EXPECT_EQ(answer.done, c.kind) << c.what;
            EXPECT_EQ(answer.status, 1) << c.what;
        }
        const auto* rows = static_cast<const ItemBatch<TextItem>*>(relay.link.answers.at(0).payload);
        if (!c.firstRow.empty()) {
            ASSERT_NE(rows, nullptr) << c.what;
            EXPECT_EQ(rows->items.at(0)->fields, c.firstRow) << c.what;
        }
    }
}

TEST(RelayPageActions, AListingOfPhotosIsFollowedByTheirThumbnailsInBoundedBatches) {
    FakeLink link;
    FakeBackupFiles files;
    relay::DeviceTable devices;
    relay::RelayFeatures features(link, devices, files);
    std::wstring device = kDevice;
    CommandMessage load{};
    load.name = ZERITH_COMMAND_DO_PHOTO;
    load.code = sdk::photos::kRelayLoadPhotos;
    load.wideText = &device[0];
    ASSERT_TRUE(features.Handle(load));
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) names.push_back("IMG_" + std::to_string(1000 + i) + ".JPG");
    auto reply = [&](std::uint16_t status, std::int64_t code, const char* info, const std::string& data) {
        Packet packet;
        packet.header.id = link.requests.back().id;
        packet.header.status = status;
        ReplyFrame frame;
        frame.code = code;
        frame.hasInfo = info != nullptr;
        frame.infoJson = info != nullptr ? info : "";
        ASSERT_TRUE(features.OnReply(packet, frame, data));
    };
    reply(2, 0, nullptr, PhotoBatch(std::vector<std::string>(names.begin(), names.begin() + 20)));
    reply(1, 0, nullptr, PhotoBatch(std::vector<std::string>(names.begin() + 20, names.end())));
    link.Clear();

    // The first batch: the listing's first rows, each named by its index; only the pictures it asked for
    // reach the page, each under its photo's path with its bytes whole.
    ASSERT_EQ(link.requests.size(), 2u);
    EXPECT_EQ(link.requests[1].code, 403u);
    std::string first = "{";
    for (int i = 0; i < 24; ++i) {
        first += std::string(i > 0 ? "," : "") + "\"" + std::to_string(i) + "\":\"DCIM/100APPLE/" + names[i] + "\"";
    }
    EXPECT_EQ(link.requests[1].data, first + "}");
    const std::string jpeg = std::string("\xff\xd8\xff\xe0\x00", 5) + "\x80";
    reply(2, 0, R"({"id":0,"path":"DCIM/.THMB/07/100APPLE___IMG_1000.JPG.1700000000"})", jpeg);
    reply(2, 0, R"({"id":23,"path":"DCIM/100APPLE/IMG_1023.JPG"})", "png");
    reply(2, 0, R"({"id":24,"path":"DCIM/100APPLE/IMG_1024.JPG"})", "not asked for");
    reply(1, 0, nullptr, "");
    ASSERT_EQ(link.Codes(), std::vector<std::int64_t>{sdk::photos::kRelayThumbnails});
    const auto* thumbnails = static_cast<const ItemBatch<TextItem>*>(link.answers[0].payload);
    ASSERT_EQ(thumbnails->items.size(), 2u);
    EXPECT_EQ(thumbnails->items[0]->fields[0], PhotoPath(names[0]));
    EXPECT_EQ(thumbnails->items[1]->fields[0], PhotoPath(names[23]));
    const std::wstring& bytes = thumbnails->items[0]->fields[1];
    ASSERT_EQ(bytes.size(), jpeg.size());
    for (size_t i = 0; i < jpeg.size(); ++i) EXPECT_EQ(bytes[i], static_cast<unsigned char>(jpeg[i])) << i;

    // The next ones follow in a batch of their own.
    ASSERT_EQ(link.requests.size(), 3u);
    EXPECT_EQ(link.requests[2].code, 403u);
    EXPECT_EQ(link.requests[2].data.find("\"24\":\"DCIM/100APPLE/IMG_1024.JPG\""), 1u);
    EXPECT_NE(link.requests[2].data.find("\"47\":"), std::string::npos);
    EXPECT_EQ(link.requests[2].data.find("\"48\":"), std::string::npos);

    // A newer listing's thumbnails replace what is left of these; a batch that fails ends its run.
    link.Clear();
    ASSERT_TRUE(features.Handle(load));
    EXPECT_EQ(link.requests.size(), 4u) << "listed while the batch runs";
    reply(1, 0, nullptr, PhotoBatch(std::vector<std::string>(names.begin() + 5, names.begin() + 30)));
    ASSERT_EQ(link.requests.size(), 4u) << "one request of the relay's at a time";
    Packet packet;
    packet.header.id = link.requests[2].id;
    packet.header.status = 1;
    ASSERT_TRUE(features.OnReply(packet, ReplyFrame(), ""));  // the older run's second batch ends
    ASSERT_EQ(link.requests.size(), 5u);
    EXPECT_EQ(link.requests[4].data.find(R"({"0":"DCIM/100APPLE/IMG_1005.JPG",)"), 0u) << "the newer run's";
    reply(6, 12, nullptr, "");
    EXPECT_EQ(link.requests.size(), 5u) << "neither run goes on";
}

TEST(RelayPageActions, CheckedAlbumsAreExportedWithEachOfTheirPhotosOnce) {
    struct Case {
        const char* what;
        std::vector<std::wstring> albums;
        std::vector<std::pair<std::int64_t, std::string>> listed;  // each album listing's end code and batch
        const char* exported;  // the export request's items; null: none sent
        std::int64_t endCode;
        std::int64_t arrived;
        std::int64_t answeredCode;
    } cases[] = {
        {"two albums sharing a photo", {L"2 0", L"0 2"},
         {{0, PhotoBatch({"IMG_0101.JPG", "IMG_0103.PNG"})}, {0, PhotoBatch({"IMG_0103.PNG", "IMG_0108.MOV"})}},
         R"([["IMG_0101","DCIM/100APPLE/IMG_0101.JPG","/out"],["IMG_0103","DCIM/100APPLE/IMG_0103.PNG","/out"],)"
         R"(["IMG_0108","DCIM/100APPLE/IMG_0108.MOV","/out"]])",
         0, 3, 0},
        {"a file that did not arrive whole", {L"2 0"}, {{0, PhotoBatch({"IMG_0101.JPG", "IMG_0103.PNG"})}},
         R"([["IMG_0101","DCIM/100APPLE/IMG_0101.JPG","/out"],["IMG_0103","DCIM/100APPLE/IMG_0103.PNG","/out"]])", 2,
         1, 2},
        {"one album that does not list", {L"2 0", L"3 0"}, {{0, PhotoBatch({"IMG_0101.JPG"})}, {21, ""}},
         R"([["IMG_0101","DCIM/100APPLE/IMG_0101.JPG","/out"]])", 0, 1, 2},
        {"an empty album", {L"4 0"}, {{0, ""}}, nullptr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Relay relay;
        std::wstring device = kDevice;
        std::wstring folder = L"Z:\\out";
        CommandMessage message{};
        message.name = ZERITH_COMMAND_DO_PHOTO;
        message.code = sdk::photos::kRelayExportAlbum;
        message.data = new std::vector<std::wstring>(c.albums);
        message.extra = &folder[0];
        message.wideText = &device[0];
        ASSERT_TRUE(relay.actions.Handle(message)) << c.what;
        EXPECT_EQ(message.data, nullptr) << c.what << ": the list is the relay's";
        for (size_t i = 0; i < c.listed.size(); ++i) {
            ASSERT_EQ(relay.link.requests.size(), i + 1) << c.what << ": one album at a time";
            EXPECT_EQ(relay.link.requests[i].code, 402u);
            std::int64_t id = 0, type = 0;
            ASSERT_EQ(std::swscanf(c.albums[i].c_str(), L"%lld %lld", &id, &type), 2);
            EXPECT_EQ(relay.link.requests[i].json, R"({"uuid":"udid-1","info":{"album_id":)" + std::to_string(id) +
                                                       R"(,"album_type":)" + std::to_string(type) + "}}");
            relay.Reply(c.listed[i].first == 0 ? 1 : 6, c.listed[i].first, nullptr, c.listed[i].second);
        }
        if (c.exported != nullptr) {
            ASSERT_EQ(relay.link.requests.size(), c.listed.size() + 1) << c.what;
            EXPECT_EQ(relay.link.requests.back().code, 701u);
            EXPECT_EQ(relay.link.requests.back().data, c.exported) << c.what;
            for (std::int64_t i = 0; i < c.arrived; ++i) relay.Reply(2, 0, nullptr, "Z:\\out\\file");
            if (c.endCode != 0) relay.Reply(2, 2, nullptr, "Z:\\out\\partial");  // a file that did not arrive whole
            relay.Reply(c.endCode == 0 ? 1 : 6, c.endCode);
        } else {
            EXPECT_EQ(relay.link.requests.size(), c.listed.size()) << c.what << ": nothing to export";
        }
        // The host hears of it as of a file export, into the chosen folder.
        ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{109}) << c.what;
        EXPECT_STREQ(relay.link.answers[0].name, ZERITH_COMMAND_DO_FILE);
        EXPECT_EQ(relay.link.answers[0].count, c.arrived) << c.what;
        EXPECT_EQ(relay.link.answers[0].resultOrCount, c.answeredCode) << c.what;
        EXPECT_EQ(relay.link.answers[0].userText, L"Z:\\out");
    }
}
