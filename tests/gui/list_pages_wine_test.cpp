// The notes, voice-memo and ringtone pages under Wine, driven through their plug-ins' receivers as the host
// drives them: what each page lists (read back from its list), batches and their sequences, search and
// header sort, the checked rows that its requests carry, and the notes page's new-note question, version
// gate and iCloud notice. Screenshots of each page are kept when TRV_PAGE_SHOTS names a folder.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "feature_codes.h"
#include "note_codes.h"
#include "list_pages_harness.h"
#include "wide_pair.h"

using ardena_test::Child;
using ardena_test::ClickCheck;
using ardena_test::Column;
using ardena_test::Press;
using ardena_test::RowCount;
using pages_test::CountCodes;
using pages_test::PluginHost;
using pages_test::Reply;

namespace {

constexpr int kList = 5007;
constexpr int kSearchEdit = 5003;
constexpr int kSearchButton = 5002;

void Search(HWND page, const wchar_t* text) {
    SetWindowTextW(Child(page, kSearchEdit), text);
    Press(Child(page, kSearchButton));
}

void ClickHeader(HWND list, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    RECT rect = {};
    SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((rect.left + rect.right) / 2, 8));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM((rect.left + rect.right) / 2, 8));
    ardena_test::Pump();
}

template <typename Item>
ItemBatch<Item>* Batch(int64_t sequence, std::vector<std::shared_ptr<Item>> items) {
    auto* batch = new ItemBatch<Item>();
    batch->sequence = sequence;
    batch->items = std::move(items);
    return batch;
}

// ---- Notes ----

PluginHost& Notes() { return pages_test::Plugin(L"Cortal", CORTAL_COMMAND_SHOW_WINDOW, CORTAL_COMMAND_DO_NOTE); }

std::shared_ptr<NoteItem> Note(const wchar_t* id, const wchar_t* title, const wchar_t* content, const wchar_t* time,
                               const wchar_t* summary = L"") {
    return std::make_shared<NoteItem>(NoteItem{id, title, summary, content, time});
}

// What the notes page sent, as the host would take it.
struct NoteRequests {
    std::vector<std::vector<std::wstring>> exported;  // titles of each export's notes
    int64_t version = 0;                              // what the version question answers: 0 none, else major
    int64_t confirm = 0;                              // the new-note question's answer
    std::vector<WideStringPair> saved;
};

void HandleNotes(PluginHost& host, NoteRequests& seen) {
    host.onSend = [&seen](CommandMessage& message) {
        if (message.name != nullptr && std::string(message.name) == CORTAL_COMMAND_GET_iOS_PRODUCTVERSION) {
            if (seen.version != 0) message.extra = _wcsdup(seen.version >= 10 ? L"10.0.0" : L"9.3.5");
            return;
        }
        if (message.code == sdk::notes::kRequestExport || message.code == sdk::notes::kRequestBackupXml) {
            std::unique_ptr<std::vector<NoteItem*>> notes(static_cast<std::vector<NoteItem*>*>(message.data));
            std::vector<std::wstring> titles;
            for (NoteItem* note : *notes) titles.push_back(note->title);
            seen.exported.push_back(titles);
        } else if (message.code == sdk::notes::kRequestAskNote) {
            auto* pair = static_cast<WideStringPair*>(message.data);
            EXPECT_EQ(*pair, WideStringPair(L"Subject:", L"Content:"));
            if (seen.confirm != 0) *pair = WideStringPair(L"Groceries", L"milk, eggs");
            message.status = seen.confirm;
        } else if (message.code == sdk::notes::kRequestSave) {
            seen.saved.push_back(*static_cast<WideStringPair*>(message.data));
        }
    };
}

}  // namespace

TEST(NotesPage, ListsBatchesSortsByTimeWhenLoadedAndPutsNewNotesOnTop) {
    PluginHost& host = Notes();
    NoteRequests seen;
    HandleNotes(host, seen);
    HWND page = pages_test::ShowPage(host, L"notes-1");
    ASSERT_NE(page, nullptr);
    HWND list = Child(page, kList);
    Reply(host, L"notes-1", sdk::notes::kReplyLoaded,
          Batch<NoteItem>(1, {Note(L"a", L"Alpha", L"first", L"2024-01-02 10:00"),
                              Note(L"b", L"Beta", L"second", L"2024-03-01 09:00")}));
    Reply(host, L"notes-1", sdk::notes::kReplyLoaded,
          Batch<NoteItem>(1, {Note(L"c", L"Gamma", L"third", L"2023-12-31")}));
    Reply(host, L"notes-1", sdk::notes::kReplyLoaded, Batch<NoteItem>(0, {Note(L"x", L"Stale", L"", L"")}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}));
    EXPECT_EQ(Column(list, 2), (std::vector<std::wstring>{L"first", L"second", L"third"}));
    Reply(host, L"notes-1", sdk::notes::kReplyLoaded, nullptr);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Beta", L"Alpha", L"Gamma"})) << "latest time first";
    EXPECT_EQ(Column(list, 3), (std::vector<std::wstring>{L"2024-03-01 09:00", L"2024-01-02 10:00", L"2023-12-31"}));

    Reply(host, L"notes-1", sdk::notes::kReplyChanged,
          new std::vector<std::shared_ptr<NoteItem>>{Note(L"d", L"One", L"", L"t"), Note(L"e", L"Two", L"", L"t")});
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Two", L"One", L"Beta", L"Alpha", L"Gamma"}));

    // A newer batch replaces everything.
    Reply(host, L"notes-1", sdk::notes::kReplyLoaded, Batch<NoteItem>(2, {Note(L"z", L"Zeta", L"", L"")}));
    EXPECT_EQ(Column(list, 1), std::vector<std::wstring>{L"Zeta"});
    EXPECT_EQ(Reply(host, L"notes-1", sdk::notes::kReplySequence).status, 2);
    host.onSend = nullptr;
}

TEST(NotesPage, SearchSortExportAndTheNewNoteQuestion) {
    PluginHost& host = Notes();
    NoteRequests seen;
    HandleNotes(host, seen);
    HWND page = pages_test::ShowPage(host, L"notes-2");
    HWND list = Child(page, kList);
    Reply(host, L"notes-2", sdk::notes::kReplyLoaded,
          Batch<NoteItem>(1, {Note(L"a", L"shopping", L"Bread", L"1"), Note(L"b", L"Work", L"call BOB", L"2"),
                              Note(L"c", L"misc", L"nothing", L"3", L"hidden bob note")}));
    Search(page, L"BOB");
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Work", L"misc"})) << "content and the further text";
    Search(page, L"3");
    EXPECT_EQ(RowCount(list), 0) << "the time is not searched";
    Search(page, L"");
    ClickHeader(list, 1);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Work", L"shopping", L"misc"})) << "descending first";
    ClickCheck(list, 0);
    ClickHeader(list, 1);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"misc", L"shopping", L"Work"}));
    EXPECT_TRUE(ardena_test::IsRowChecked(list, 2)) << "the check mark stays with its note";

    pages_test::PressAndChoose(Child(page, 5005), 1);  // Export to XML
    ASSERT_EQ(seen.exported.size(), 1u);
    EXPECT_EQ(seen.exported[0], std::vector<std::wstring>{L"Work"});
    EXPECT_EQ(host.codes.back(), sdk::notes::kRequestBackupXml);

    Press(Child(page, 5009));  // declined: no save
    EXPECT_TRUE(seen.saved.empty());
    seen.confirm = 1;
    Press(Child(page, 5009));
    EXPECT_EQ(seen.saved, std::vector<WideStringPair>{WideStringPair(L"Groceries", L"milk, eggs")});
    EXPECT_EQ(CountCodes(host, sdk::notes::kRequestSave), 1u);
    pages_test::SaveShot(page, "notes-page");
    host.onSend = nullptr;
}

TEST(NotesPage, VersionGateAndCloudNotice) {
    PluginHost& host = Notes();
    NoteRequests seen;
    HandleNotes(host, seen);
    HWND page = pages_test::ShowPage(host, L"notes-3");
    HWND newButton = Child(page, 5009);
    HWND importButton = Child(page, 5006);
    EXPECT_TRUE(IsWindowEnabled(newButton)) << "a new page can add until it is shown again";
    seen.version = 10;
    pages_test::ShowPage(host, L"notes-3");
    EXPECT_FALSE(IsWindowEnabled(newButton));
    EXPECT_FALSE(IsWindowEnabled(importButton));
    pages_test::SaveShot(page, "notes-page-ios10");
    seen.version = 9;
    pages_test::ShowPage(host, L"notes-3");
    EXPECT_TRUE(IsWindowEnabled(newButton));
    EXPECT_TRUE(IsWindowEnabled(importButton));

    Reply(host, L"notes-3", sdk::notes::kReplyHideCloudNotice);
    EXPECT_TRUE(IsWindowVisible(Child(page, kList))) << "hiding a notice that is not shown changes nothing";
    Reply(host, L"notes-3", sdk::notes::kReplyShowCloudNotice);
    Reply(host, L"notes-3", sdk::notes::kReplyShowCloudNotice);
    EXPECT_FALSE(IsWindowVisible(Child(page, kList)));
    EXPECT_TRUE(IsWindowVisible(Child(page, 5008)));
    pages_test::SaveShot(page, "notes-page-icloud");
    const size_t loads = CountCodes(host, sdk::notes::kRequestLoad);
    Press(Child(page, 5008));
    EXPECT_EQ(CountCodes(host, sdk::notes::kRequestLoad), loads + 1) << "Continue loads again";
    Reply(host, L"notes-3", sdk::notes::kReplyHideCloudNotice);
    EXPECT_TRUE(IsWindowVisible(Child(page, kList)));
    EXPECT_FALSE(IsWindowVisible(Child(page, 5008)));
    host.onSend = nullptr;
}

// ---- Voice memos and ringtones ----

namespace {

struct ExportSeen {
    std::vector<WideStringPair> pairs;
    std::wstring caption;
    int64_t count = -1;
};

void HandleExports(PluginHost& host, ExportSeen& seen) {
    host.onSend = [&seen](CommandMessage& message) {
        if (message.code != sdk::recordings::kRequestExport) return;
        std::unique_ptr<std::vector<WideStringPair>> pairs(static_cast<std::vector<WideStringPair>*>(message.data));
        seen.pairs = *pairs;
        seen.caption = message.wideText != nullptr ? message.wideText : L"";
        seen.count = message.count;
    };
}

std::shared_ptr<RecordingItem> Memo(const wchar_t* key, const wchar_t* name, const wchar_t* time, int64_t size,
                                    const wchar_t* created) {
    return std::make_shared<RecordingItem>(RecordingItem{key, size, name, time, created});
}

std::shared_ptr<RingtoneItem> Tone(const wchar_t* key, const wchar_t* title, int64_t timeValue, const wchar_t* time,
                                   int64_t size) {
    return std::make_shared<RingtoneItem>(RingtoneItem{key, title, size, timeValue, time});
}

}  // namespace

TEST(VoiceMemoPage, ListsSearchesSortsBySizeAndExportsCheckedPairs) {
    PluginHost& host = pages_test::Plugin(L"Elvist", ELVIST_COMMAND_SHOW_WINDOW, ELVIST_COMMAND_DO_RECORDING);
    ExportSeen seen;
    HandleExports(host, seen);
    HWND page = pages_test::ShowPage(host, L"memo-1");
    ASSERT_NE(page, nullptr);
    HWND list = Child(page, kList);
    Reply(host, L"memo-1", sdk::recordings::kReplyLoaded,
          Batch<RecordingItem>(1, {Memo(L"k1", L"Lecture", L"00:45:10", 2048000, L"2024-05-01 AM"),
                                   Memo(L"k2", L"idea", L"00:00:31", 900, L"2023-11-20 PM"),
                                   Memo(L"k3", L"Band practice", L"01:02:00", 15000000, L"2024-05-02 AM")}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Lecture", L"idea", L"Band practice"}));
    EXPECT_EQ(Column(list, 4), (std::vector<std::wstring>{L"2024-05-01 AM", L"2023-11-20 PM", L"2024-05-02 AM"}));
    EXPECT_FALSE(Column(list, 3)[0].empty()) << "the size is shown formatted";

    Search(page, L"2024-05");
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Lecture", L"Band practice"})) << "by the date text";
    Search(page, L"PM");
    EXPECT_EQ(RowCount(list), 0) << "the date text is not folded";
    Search(page, L"IDEA");
    EXPECT_EQ(Column(list, 1), std::vector<std::wstring>{L"idea"});
    Search(page, L"");
    ClickHeader(list, 3);  // descending by bytes
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Band practice", L"Lecture", L"idea"}));

    Press(Child(page, 5005));
    EXPECT_EQ(seen.count, 0) << "an export with nothing checked is still sent";
    EXPECT_EQ(seen.caption, L"Export Recordings");
    ClickCheck(list, 2);
    ClickCheck(list, 0);
    Press(Child(page, 5005));
    EXPECT_EQ(seen.pairs, (std::vector<WideStringPair>{{L"Band practice", L"k3"}, {L"idea", L"k2"}}));
    pages_test::SaveShot(page, "voice-memo-page");

    Press(Child(page, 5000));  // refresh empties the page and asks again
    EXPECT_EQ(RowCount(list), 0);
    EXPECT_EQ(host.codes.back(), sdk::recordings::kRequestLoad);
    host.onSend = nullptr;
}

TEST(RingtonePage, ListsSortsTimeByValueAndAnswersItsWindow) {
    PluginHost& host = pages_test::Plugin(L"Faydra", FAYDRA_COMMAND_SHOW_WINDOW, FAYDRA_COMMAND_DO_RINGTONE);
    ExportSeen seen;
    HandleExports(host, seen);
    EXPECT_EQ(Reply(host, L"tones-1", sdk::recordings::kReplyWindow).window, nullptr) << "no page yet";
    HWND page = pages_test::ShowPage(host, L"tones-1");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(Reply(host, L"tones-1", sdk::recordings::kReplyWindow).window, page);
    HWND list = Child(page, kList);
    Reply(host, L"tones-1", sdk::recordings::kReplyLoaded,
          Batch<RingtoneItem>(3, {Tone(L"r1", L"Marimba", 9, L"0:09", 100), Tone(L"r2", L"alarm", 30, L"0:30", 300),
                                  Tone(L"r3", L"Chime", 100, L"1:40", 200)}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Marimba", L"alarm", L"Chime"}));
    EXPECT_EQ(Column(list, 3), (std::vector<std::wstring>{L"", L"", L""})) << "no artist";
    ClickHeader(list, 2);
    ClickHeader(list, 2);  // ascending by value: "1:40" is last although it sorts first as text
    EXPECT_EQ(Column(list, 2), (std::vector<std::wstring>{L"0:09", L"0:30", L"1:40"}));
    ClickHeader(list, 4);  // Album: the arrow moves, the order stays
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Marimba", L"alarm", L"Chime"}));
    Search(page, L"0:30");
    EXPECT_EQ(RowCount(list), 0) << "only titles are searched";
    Search(page, L"ALA");
    EXPECT_EQ(Column(list, 1), std::vector<std::wstring>{L"alarm"});
    Search(page, L"");
    ClickCheck(list, 1);
    Press(Child(page, 5005));
    EXPECT_EQ(seen.pairs, (std::vector<WideStringPair>{{L"alarm", L"r2"}}));
    EXPECT_EQ(seen.caption, L"Export Ringtones");
    pages_test::SaveShot(page, "ringtone-page");
    host.onSend = nullptr;
}

TEST(MediaPages, DroppedFilesReachTheHostWholeUnderTheirAddCaption) {
    struct Case {
        const wchar_t* plugin;
        const char* show;
        const char* command;
        const wchar_t* caption;
    };
    const Case cases[] = {{L"Elvist", ELVIST_COMMAND_SHOW_WINDOW, ELVIST_COMMAND_DO_RECORDING, L"Add Recordings"},
                          {L"Faydra", FAYDRA_COMMAND_SHOW_WINDOW, FAYDRA_COMMAND_DO_RINGTONE, L"Add Ringtones"}};
    // Far beyond the 260 characters of a fixed path buffer.
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'm') + L"\\memo.m4a";
    for (const Case& c : cases) {
        PluginHost& host = pages_test::Plugin(c.plugin, c.show, c.command);
        std::vector<std::wstring> dropped;
        std::wstring caption;
        int64_t count = -1;
        host.onSend = [&](CommandMessage& message) {
            if (message.code != sdk::recordings::kRequestAddFiles) return;
            dropped = *static_cast<const std::vector<std::wstring>*>(message.data);  // lent for the call
            caption = message.wideText != nullptr ? message.wideText : L"";
            count = message.count;
        };
        HWND page = pages_test::ShowPage(host, L"drop-1");
        ASSERT_NE(page, nullptr);
        ardena_test::QueueMenuChoice(page, 0);  // "Drag and drop here"
        SendMessageW(page, WM_DROPFILES, reinterpret_cast<WPARAM>(ardena_test::MakeDrop({longPath, L"D:\\b.m4r"})), 0);
        EXPECT_EQ(dropped, (std::vector<std::wstring>{longPath, L"D:\\b.m4r"}));
        EXPECT_EQ(count, 2);
        EXPECT_EQ(caption, c.caption);
        host.onSend = nullptr;
    }
}

// The outside pages' table stand-in (the apps page's build of it): rows wider than the list scroll
// sideways, a long list scrolls down, and a new listing replaces the rows.
TEST(TableStandIn, WideRowsScrollSidewaysAndLongListsScrollDown) {
    constexpr UINT kGetItemCount = 0x1004, kEnsureVisible = 0x1013, kScroll = 0x1014, kGetColumnWidth = 0x101D,
                   kGetTopIndex = 0x1027;
    constexpr int kAppColumns = 6;
    PluginHost& host = pages_test::Plugin(L"Gavrel", GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_DO_APP);
    HWND parent = ardena_test::Harness::Get().parent;
    pages_test::ShowPage(host, L"plain-1", RECT{0, 0, 500, 240});
    CommandMessage show{};  // the section chosen: the list shows
    show.name = GAVREL_COMMAND_SHOW_WINDOW;
    show.wideText = const_cast<wchar_t*>(L"plain-1");
    show.window = parent;
    host.record.receive(&show);
    ASSERT_NE(show.window, parent);
    // The page: its toolbar's button above the list.
    EXPECT_NE(FindWindowExW(show.window, nullptr, L"Button", L"Uninstall"), nullptr);
    HWND list = FindWindowExW(show.window, nullptr, L"SysListView32", nullptr);
    ASSERT_NE(list, nullptr);
    auto batch = new ItemBatch<TextItem>();
    batch->sequence = 1;
    for (int i = 0; i < 40; ++i) {
        auto item = std::make_shared<TextItem>();
        const std::wstring text = i == 7 ? std::wstring(200, L'w') + L" end" : L"app" + std::to_wstring(i);
        item->fields.assign(kAppColumns, text);
        batch->items.push_back(item);
    }
    Reply(host, L"plain-1", 6, batch);
    Reply(host, L"plain-1", 6);  // the listing ends
    EXPECT_EQ(SendMessageW(list, kGetItemCount, 0, 0), 40);
    RECT client = {};
    GetClientRect(list, &client);
    LRESULT columnsWidth = 0;
    for (int column = 0; column < kAppColumns; ++column) columnsWidth += SendMessageW(list, kGetColumnWidth, column, 0);
    EXPECT_GT(columnsWidth, client.right) << "the wide row's columns are wider than the list";
    SendMessageW(list, kScroll, 2000, 0);
    EXPECT_GT(GetScrollPos(list, SB_HORZ), 0) << "the list scrolls sideways";
    SendMessageW(list, kEnsureVisible, 39, FALSE);
    EXPECT_GT(SendMessageW(list, kGetTopIndex, 0, 0), 20) << "the last rows can be reached";
    pages_test::SaveShot(list, "plain-list-scrolled");

    auto shorter = new ItemBatch<TextItem>();
    shorter->sequence = 2;
    shorter->items.push_back(std::make_shared<TextItem>(TextItem{{L"one", L"line"}, {}}));
    Reply(host, L"plain-1", 6, shorter);
    EXPECT_EQ(SendMessageW(list, kGetItemCount, 0, 0), 1) << "a new listing replaces the rows";
}
