// The relay's notes and bookmarks actions against a fake link: which service requests a save, an import,
// a deletion makes and in which order, what the host is answered with (payloads released by the fake, so
// the sanitizer build checks ownership), the counts the listings report, and the export files as Python's
// own HTML, XML and property-list readers see them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "note_codes.h"
#include "python_check.h"
#include "relay_actions.h"
#include "relay_test_link.h"
#include "wide_pair.h"

namespace {

using relay::ActionsService;
using relay::ListsService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeLink;

const wchar_t kDevice[] = L"udid-1";
const wchar_t kFolder[] = L"Z:\\out";

struct Relay {
    FakeLink link;
    ListsService lists{link};
    ActionsService actions{link, lists};

    bool Request(const char* name, std::int64_t code, void* data, const wchar_t* folder = nullptr) {
        std::wstring device = kDevice;
        CommandMessage message{};
        message.name = name;
        message.code = code;
        message.data = data;
        message.extra = const_cast<wchar_t*>(folder);
        message.wideText = &device[0];
        return lists.Handle(message) || actions.Handle(message);
    }
    // The last reply to the latest request, with `count` in its info when given.
    void Reply(std::int64_t code, const std::string& data = "", const char* count = nullptr) {
        Packet packet;
        packet.header.id = link.requests.back().id;
        packet.header.status = 1;
        ReplyFrame frame;
        frame.code = code;
        if (count != nullptr) {
            frame.hasInfo = true;
            frame.infoJson = std::string("{\"Count\":") + count + "}";
        }
        ASSERT_TRUE(lists.OnReply(packet, frame, data) || actions.OnReply(packet, frame, data));
    }
    std::vector<std::uint32_t> Sent() const {
        std::vector<std::uint32_t> codes;
        for (const auto& request : link.requests) codes.push_back(request.code);
        return codes;
    }
};

std::string Python(const char* program, const std::string& bytes) {
    std::string output;
    EXPECT_EQ(trv::test::RunPythonOn(program, bytes, output), 0) << output;
    return output;
}

// A bookmark entry as the page holds it.
std::shared_ptr<BookmarkItem> Entry(const wchar_t* id, const wchar_t* name, const wchar_t* url = nullptr,
                                    const BookmarkItem* parent = nullptr, std::int64_t position = 0) {
    auto entry = std::make_shared<BookmarkItem>();
    entry->identifier = id;
    entry->name = name;
    entry->kind = url != nullptr ? kBookmarkKind : kBookmarkFolderKind;
    if (url != nullptr) entry->url = url;
    if (parent != nullptr) entry->parent = {{L"identifier", parent->identifier}};
    entry->position = position;
    return entry;
}

// The records of a changes message as "entity|name|url|position|parents" lines, sorted by name; a parent
// that is a record of the same message is shown as "@" and its name.
constexpr char kChangesReader[] = R"(
import sys, plistlib
message = plistlib.load(open(sys.argv[1], 'rb'))
assert message[0] == 'SDMessageProcessChanges' and message[1] == 'com.apple.Bookmarks', message[:2]
records = message[2]
for key, r in sorted(records.items(), key=lambda kv: kv[1]['name']):
    parents = ['@' + records[p]['name'] if p in records else p for p in r.get('parent', [])]
    print('|'.join([r['com.apple.syncservices.RecordEntityName'].split('.')[-1], r['name'], r.get('url', ''),
                    str(r['position']), ','.join(parents)]))
)";

}  // namespace

TEST(RelayActions, ListingCountsAreTheServicesEachRecordOnce) {
    Relay relay;
    // One bookmark in two folders: listed in both trees, counted once as the service counts it.
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, 101, nullptr));
    const std::string shared =
        R"({"id":"s","name":"S","com_apple_syncservices_RecordEntityName":"com.apple.bookmarks.Bookmark"})";
    for (const char* folder : {"a", "b"}) {
        Packet packet;
        packet.header.id = relay.link.requests.back().id;
        packet.header.status = 2;
        ReplyFrame frame;
        frame.hasInfo = true;
        frame.infoJson = R"({"Count":1})";
        ASSERT_TRUE(relay.lists.OnReply(
            packet, frame, std::string(R"({"id":")") + folder + R"(","name":"F","children":[)" + shared + "]}"));
    }
    relay.Reply(0, "", "1");
    ASSERT_EQ(relay.link.Codes(), (std::vector<std::int64_t>{101, 101, 100, 101}));
    EXPECT_EQ(relay.link.answers[2].count, 1);

    // A negative count (an online account holds the notes) reaches the host for its notice.
    relay.link.Clear();
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayLoad, nullptr));
    relay.Reply(0, "", "-1");
    ASSERT_EQ(relay.link.Codes(), (std::vector<std::int64_t>{57, 58}));
    EXPECT_EQ(relay.link.answers[0].count, -1);
}

TEST(RelayActions, NotesSavedOrImportedReachThePageWithTheNewCount) {
    Relay relay;
    WideStringPair typed(L"Shop \"list\"", L"milk\nbread");
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelaySave, &typed));
    ASSERT_EQ(relay.Sent(), std::vector<std::uint32_t>{1201});
    EXPECT_NE(relay.link.requests[0].data.find(R"("title":"Shop \"list\"","content":"milk\nbread")"), std::string::npos)
        << relay.link.requests[0].data;
    relay.Reply(0, R"([{"id":"9","subject":"Shop","content":"milk","dateCreated":"2024-01-02T03:04:05Z"}])");
    ASSERT_EQ(relay.Sent(), (std::vector<std::uint32_t>{1201, 1200})) << "counted after the add";
    EXPECT_TRUE(relay.link.answers.empty());
    relay.Reply(0, "", "6");
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::notes::kRelaySaved});
    EXPECT_EQ(relay.link.answers[0].resultOrCount, 6);
    const auto& added = *static_cast<std::vector<std::shared_ptr<NoteItem>>*>(relay.link.answers[0].payload);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]->title, L"Shop");
    EXPECT_EQ(added[0]->time, L"2024-01-02 03:04:05");

    // An import adds every note of the backup; a note the device refuses is left out of the answer.
    relay.link.Clear();
    relay.link.requests.clear();
    NoteItem first{L"", L"A & B", L"", L"x < y", L"t1"};
    NoteItem second{L"", L"Second", L"", L"", L"t2"};
    relay.link.files[L"Z:\\in\\notes.xml"] = relay::ComposeNotesXml({&first, &second});
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayImportXml,
                              new std::vector<std::wstring>{L"Z:\\in\\notes.xml", L"Z:\\in\\missing.xml"}));
    ASSERT_EQ(relay.Sent(), std::vector<std::uint32_t>{1201});
    EXPECT_NE(relay.link.requests[0].data.find(R"("title":"A & B","content":"x < y")"), std::string::npos);
    relay.Reply(0, R"([{"id":"10","subject":"A & B"}])");
    relay.Reply(32);  // refused
    relay.Reply(0, "", "7");
    ASSERT_EQ(relay.Sent(), (std::vector<std::uint32_t>{1201, 1201, 1200}));
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{sdk::notes::kRelayImported});
    EXPECT_EQ(static_cast<std::vector<std::shared_ptr<NoteItem>>*>(relay.link.answers[0].payload)->size(), 1u);

    // A save whose service goes away answers nothing; later saves still run.
    relay.link.Clear();
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelaySave, &typed));
    const size_t sent = relay.link.requests.size();
    relay.actions.OnServiceGone();
    EXPECT_TRUE(relay.link.answers.empty());
    EXPECT_EQ(relay.link.requests.size(), sent) << "the queued count is not sent for a save that ended";
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelaySave, &typed));
    EXPECT_EQ(relay.link.requests.size(), sent + 1);
}

TEST(RelayActions, NotesExportsAreFilesPythonReadsBack) {
    Relay relay;
    NoteItem note{L"g", L"<b>Bold</b> & \"q\"", L"", L"line 1\nline 2", L"2024-03-01 10:20:30"};
    NoteItem plain{L"h", L"Plain", L"", L"", L"2024-03-02 00:00:00"};
    std::vector<NoteItem*> checked = {&note, &plain};
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayExport, &checked, kFolder));
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayExport, &checked, kFolder));
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayBackupXml, &checked, kFolder));
    ASSERT_EQ(relay.link.files.size(), 3u) << "a second export does not replace the first";
    EXPECT_EQ(relay.link.files.count(L"Z:\\out\\Notes (2).html"), 1u);
    EXPECT_TRUE(relay.link.requests.empty());

    const char* cells = R"(
import sys, html.parser
class Cells(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(); self.rows = []; self.cell = None
    def handle_starttag(self, tag, attrs):
        if tag == 'tr': self.rows.append([])
        if tag in ('td', 'th'): self.cell = ''
        if tag == 'br' and self.cell is not None: self.cell += '/'
    def handle_endtag(self, tag):
        if tag in ('td', 'th'): self.rows[-1].append(self.cell); self.cell = None
    def handle_data(self, data):
        if self.cell is not None: self.cell += data
p = Cells(); p.feed(open(sys.argv[1], encoding='utf-8').read()); p.close()
for row in p.rows: print('|'.join(row))
)";
    EXPECT_EQ(
        Python(cells, relay.link.files.at(L"Z:\\out\\Notes.html")),
        "Title|Content|Time\n<b>Bold</b> & \"q\"|line 1/line 2|2024-03-01 10:20:30\nPlain||2024-03-02 00:00:00\n");
    const char* notesXml = R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.tag, root.get('version'))
for note in root: print('|'.join((note.find(f).text or '') for f in ('title', 'content', 'time')))
)";
    const std::string xml = relay.link.files.at(L"Z:\\out\\Notes.xml");
    EXPECT_EQ(Python(notesXml, xml),
              "notesBackup 1\n<b>Bold</b> & \"q\"|line 1\nline 2|2024-03-01 10:20:30\nPlain||2024-03-02 00:00:00\n");
    std::vector<NoteItem> read;
    std::string error;
    ASSERT_TRUE(relay::ReadNotesXml(xml, read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].title, note.title);
    EXPECT_EQ(read[0].content, note.content);
    EXPECT_FALSE(relay::ReadNotesXml("<notesBackup version=\"1\"><note><colour/></note></notesBackup>", read, error));
    EXPECT_NE(error.find("colour"), std::string::npos) << error;
    EXPECT_FALSE(relay::ReadNotesXml("<contactsBackup version=\"1\"/>", read, error));
    EXPECT_EQ(read.size(), 2u) << "nothing appended from a file that is not a notes backup";
}

TEST(RelayActions, BookmarksExportsNestCheckedEntriesInTheirFolders) {
    auto work = Entry(L"f", L"Work & play");
    auto a = Entry(L"a", L"A <1>", L"http://a.example/?x=1&y=\"2\"", work.get(), 0);
    auto sub = Entry(L"f2", L"Sub", nullptr, work.get(), 1);
    auto b = Entry(L"b", L"B", L"http://b.example/", sub.get(), 0);
    auto top = Entry(L"t", L"Top", L"http://t.example/");
    const std::vector<const BookmarkItem*> checked = {work.get(), a.get(), sub.get(), b.get(), top.get()};

    const char* tree = R"(
import sys, html.parser
class Tree(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(); self.depth = 0; self.lines = []; self.href = None; self.open = []
    def handle_starttag(self, tag, attrs):
        if tag not in ('meta', 'br'): self.open.append(tag)
        if tag == 'ul': self.depth += 1
        if tag == 'a': self.href = dict(attrs)['href']
    def handle_endtag(self, tag):
        assert self.open.pop() == tag, tag
        if tag == 'ul': self.depth -= 1
    def handle_data(self, data):
        if self.open and self.open[-1] in ('a', 'strong'):
            self.lines.append('  ' * self.depth + data + (' ' + self.href if self.open[-1] == 'a' else ''))
p = Tree(); p.feed(open(sys.argv[1], encoding='utf-8').read()); p.close()
assert p.depth == 0 and p.open == [], p.open
print('\n'.join(p.lines))
)";
    EXPECT_EQ(Python(tree, relay::ComposeBookmarksHtml(checked)),
              "  Work & play\n    A <1> http://a.example/?x=1&y=\"2\"\n    Sub\n      B http://b.example/\n"
              "  Top http://t.example/\n");
    // Only the checked entries: a page whose folder is not exported stands at the top.
    EXPECT_EQ(Python(tree, relay::ComposeBookmarksHtml({b.get(), top.get()})),
              "  B http://b.example/\n  Top http://t.example/\n");

    const std::string xml = relay::ComposeBookmarksXml(checked);
    EXPECT_EQ(Python("import sys, xml.etree.ElementTree as ET\n"
                     "for e in ET.parse(sys.argv[1]).getroot().iter(): print(e.tag, sorted(e.attrib.items()))\n",
                     xml),
              "bookmarksBackup [('version', '1')]\nfolder [('name', 'Work & play')]\n"
              "bookmark [('name', 'A <1>'), ('url', 'http://a.example/?x=1&y=\"2\"')]\nfolder [('name', 'Sub')]\n"
              "bookmark [('name', 'B'), ('url', 'http://b.example/')]\n"
              "bookmark [('name', 'Top'), ('url', 'http://t.example/')]\n");
    std::vector<std::shared_ptr<BookmarkItem>> read;
    std::string error;
    ASSERT_TRUE(relay::ReadBookmarksXml(xml, read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    ASSERT_EQ(read[0]->children.size(), 2u);
    EXPECT_EQ(read[0]->children[0]->url, a->url);
    EXPECT_EQ(read[0]->children[1]->children.at(0)->name, L"B");
    EXPECT_EQ(read[1]->position, 1);
    EXPECT_FALSE(relay::ReadBookmarksXml(
        "<bookmarksBackup version=\"1\"><bookmark name=\"x\"><bookmark/></bookmark></bookmarksBackup>", read, error));
    EXPECT_EQ(read.size(), 2u);
}

TEST(RelayActions, BookmarkWritesAreChangeMessagesAndTheTreeIsListedAfresh) {
    Relay relay;
    auto work = Entry(L"7", L"Work");
    auto added = Entry(L"NEW-GUID", L"Docs & <more>", L"http://d.example/?a&b", work.get(), 3);
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, sdk::bookmarks::kRelaySave, new BookmarkItem(*added)));
    ASSERT_EQ(relay.Sent(), std::vector<std::uint32_t>{1401});
    EXPECT_EQ(Python(kChangesReader, relay.link.requests[0].data),
              "Bookmark|Docs & <more>|http://d.example/?a&b|3|7\n");
    EXPECT_NE(relay.link.requests[0].data.find("<key>NEW-GUID</key>"), std::string::npos) << "the page's identifier";
    relay.Reply(0);
    ASSERT_EQ(relay.Sent(), (std::vector<std::uint32_t>{1401, 1400})) << "the page gets the device's tree";
    relay.Reply(0, "", "4");
    EXPECT_EQ(relay.link.Codes(), (std::vector<std::int64_t>{100, 101}));
    EXPECT_EQ(relay.link.answers[0].count, 4);

    // An import merges into the held tree: a folder of the same name takes the new pages, a page already
    // there is left out, and new entries go after their siblings.
    relay.link.Clear();
    relay.link.requests.clear();
    auto heldA = Entry(L"8", L"A", L"http://a/", work.get(), 4);
    work->children = {heldA};
    auto heldTop = Entry(L"9", L"T", L"http://t/", nullptr, 2);
    auto fileWork = Entry(L"w", L"Work");
    auto fileA = Entry(L"wa", L"A", L"http://a/", fileWork.get());
    auto fileB = Entry(L"wb", L"B", L"http://b/", fileWork.get());
    auto fileNew = Entry(L"n", L"New");
    auto fileC = Entry(L"nc", L"C", L"http://c/", fileNew.get());
    relay.link.files[L"Z:\\in\\b.xml"] =
        relay::ComposeBookmarksXml({fileWork.get(), fileA.get(), fileB.get(), fileNew.get(), fileC.get()});
    auto* import = new sdk::BookmarkImport(new std::vector<BookmarkItem*>{work.get(), heldTop.get()},
                                           new std::vector<std::wstring>{L"Z:\\in\\b.xml"});
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, 104, import));
    ASSERT_EQ(relay.Sent(), std::vector<std::uint32_t>{1401});
    EXPECT_EQ(Python(kChangesReader, relay.link.requests[0].data),
              "Bookmark|B|http://b/|5|7\nBookmark|C|http://c/|0|@New\nFolder|New||3|\n")
        << "B into the held folder after A, the held A not again, New after the top-level T";
}

TEST(RelayActions, DeletionsAnswerEachRemovedEntryWithTheNewCount) {
    Relay relay;
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, 105,
                              new std::vector<WideStringPair>{{L"f\"1", kBookmarkFolderKind}, {L"b2", kBookmarkKind}}));
    ASSERT_EQ(relay.Sent(), std::vector<std::uint32_t>{1402});
    EXPECT_EQ(relay.link.requests[0].data, R"({"id":"f\"1"})");
    relay.Reply(0);
    relay.Reply(32);  // the device refused the second
    ASSERT_EQ(relay.Sent(), (std::vector<std::uint32_t>{1402, 1402, 1400}));
    relay.Reply(0, "", "3");
    ASSERT_EQ(relay.link.Codes(), std::vector<std::int64_t>{105});
    EXPECT_STREQ(static_cast<const wchar_t*>(relay.link.answers[0].payload), L"f\"1");
    EXPECT_EQ(relay.link.answers[0].resultOrCount, 3);

    // Exports of bookmarks take over the list of entries; nothing is sent to the service.
    relay.link.requests.clear();
    auto page = Entry(L"p", L"P", L"http://p/");
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, 102, new std::vector<BookmarkItem*>{page.get()}, kFolder));
    ASSERT_TRUE(relay.Request(ZERITH_COMMAND_DO_BOOKMARK, 103, new std::vector<BookmarkItem*>{page.get()}, kFolder));
    EXPECT_EQ(relay.link.files.count(L"Z:\\out\\Bookmarks.html"), 1u);
    EXPECT_EQ(relay.link.files.count(L"Z:\\out\\Bookmarks.xml"), 1u);
    EXPECT_TRUE(relay.link.requests.empty());
}
