// The host's relays of the features other than contacts: every page request of the tables reaches the relay
// module under its name and code after its questions (or is answered in place), every relay answer reaches
// the page under its code with the counters it keeps, and what goes nowhere is freed (the sanitizer build
// reports any payload that leaks). The relay module and the dialogs are fakes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "command_bus.h"
#include "command_names.h"
#include "feature_codes.h"
#include "feature_table.h"
#include "host_commands.h"
#include "fake_host_platform.h"
#include "host_platform.h"
#include "item_batch.h"
#include "wide_pair.h"

namespace {

struct Seen {
    std::string name;
    int64_t code;
    int64_t status;
    int64_t count;
    void* data;
    void* extra;
    std::wstring key;
    std::wstring extraText;  // a folder lent in `extra` or the photo identifier, read during the call
    int32_t sectionId;
    int64_t sectionCount;
};

std::vector<Seen> g_seen;
const wchar_t* g_currentDevice = L"dev-1";
std::function<void(CommandMessage*)> g_relay;  // what the relay module does with a request during the call
char g_module;

bool IsRelayName(const std::string& name) { return name.rfind("ZERITH_", 0) == 0; }

void TRV_CALL Receive(CommandMessage* message) {
    Seen seen{message->name,
              message->code,
              message->status,
              message->count,
              message->data,
              message->extra,
              message->wideText != nullptr ? message->wideText : L"",
              L"",
              0,
              0};
    if (seen.name == LUNDER_COMMAND_GET_CURRENT_DEVICE) {
        message->wideText = g_currentDevice != nullptr ? trv::HeapWideCopy(g_currentDevice) : nullptr;
        return;
    }
    if (seen.name == QUARNEL_COMMAND_UPDATE_ITEM) {
        const auto* words = static_cast<const uint32_t*>(message->extra);
        seen.sectionId = static_cast<int32_t>(words[0]);
        seen.sectionCount = static_cast<int64_t>((static_cast<uint64_t>(words[3]) << 32) | words[1]);
    } else if (message->extra != nullptr && (IsRelayName(seen.name) || seen.name == PIMSEL_COMMAND_DO_PHOTO)) {
        if (seen.name != ZERITH_COMMAND_GET_DEVICE_LIST) seen.extraText = static_cast<const wchar_t*>(message->extra);
    }
    g_seen.push_back(seen);
    if (IsRelayName(seen.name) && g_relay) g_relay(message);
}

class FeatureRelays : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_currentDevice = L"dev-1";
        // The fake relay module takes over what requests hand it, as the real one does.
        g_relay = [](CommandMessage* message) { m_handedOver.push_back(*message); };
        trv::RegisterHostCommands(m_bus);
        auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
        record->send = &trv::SendCommand;
        record->receive = &Receive;
        record->module = &g_module;
        m_bus.AddModule(record->module, record);
        std::vector<const char*> names = {
            LUNDER_COMMAND_GET_CURRENT_DEVICE, QUARNEL_COMMAND_UPDATE_ITEM, ZERITH_COMMAND_DO_FILE,
            ZERITH_COMMAND_DO_MEDIA,           ZERITH_COMMAND_DO_ITUNES,    ZERITH_COMMAND_GET_DEVICE_LIST};
        size_t rowCount = 0;
        const trv::FeatureRow* rows = trv::FeatureRows(rowCount);
        for (size_t i = 0; i < rowCount; ++i) {
            names.push_back(rows[i].page);
            names.push_back(rows[i].relay);
        }
        for (const char* name : names) {
            CommandMessage message{};
            message.kind = COMMAND_KIND_REGISTER;
            message.name = name;
            message.owner = record->module;
            record->send(&message);
        }
        m_handedOver.clear();
    }
    void TearDown() override {
        g_relay = nullptr;
        for (ModuleRecord* record : m_bus.ModuleRecords()) std::free(record);
    }

    static void Invoke(const char* name, CommandMessage& message) {
        message.kind = COMMAND_KIND_INVOKE;
        message.name = name;
        trv::SendCommand(&message);
    }
    // What reached modules other than the title bar's device question.
    static std::vector<Seen> Deliveries() {
        std::vector<Seen> out;
        for (const Seen& seen : g_seen) {
            if (seen.name != LUNDER_COMMAND_GET_CURRENT_DEVICE) out.push_back(seen);
        }
        return out;
    }

    static std::vector<CommandMessage> m_handedOver;
    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_current{m_bus};
    trv::test::FakeHostPlatform m_dialogs;
    trv::ScopedHostPlatform m_scope{m_dialogs};
};

std::vector<CommandMessage> FeatureRelays::m_handedOver;

// Page payloads as the pages make them: identifier and path lists, checked records and new entries on the
// heap.
enum class Made { None, Strings, Pairs, Bookmarks, NewBookmark, Notes };

void* Make(Made made) {
    switch (made) {
    case Made::Strings: return new std::vector<std::wstring>{L"a.epub", L"b.txt"};
    case Made::Pairs: return new std::vector<WideStringPair>{{L"id", L"kind"}};
    case Made::Bookmarks: return new std::vector<BookmarkItem*>(2, nullptr);
    case Made::NewBookmark: return new BookmarkItem();
    case Made::Notes: return new std::vector<NoteItem*>(1, nullptr);
    case Made::None: break;
    }
    return nullptr;
}

// A list answer's batch as the relay module makes it for the feature `relay`: the pages' records for
// notes, bookmarks, voice memos and ringtones, text items for the others.
void* MakeBatch(const std::string& relay) {
    if (relay == ZERITH_COMMAND_DO_NOTE) return new ItemBatch<NoteItem>();
    if (relay == ZERITH_COMMAND_DO_BOOKMARK) return new ItemBatch<BookmarkItem>();
    if (relay == ZERITH_COMMAND_DO_RECORDING) return new ItemBatch<RecordingItem>();
    if (relay == ZERITH_COMMAND_DO_RINGTONE) return new ItemBatch<RingtoneItem>();
    return new ItemBatch<TextItem>();
}

}  // namespace

TEST_F(FeatureRelays, PageRequestsReachTheRelayUnderTheirNamesAndCodes) {
    struct Case {
        const char* page;
        int64_t code;
        int64_t status;
        int64_t count;
        Made made;
        const char* relay;  // null: nothing reaches the relay module
        int64_t relayCode;
        int dialogs;  // questions, notices and file choices shown
        bool folderLent;
    };
    const char* const kFile = ZERITH_COMMAND_DO_FILE;
    const char* const kMedia = ZERITH_COMMAND_DO_MEDIA;
    const Case cases[] = {
        {CORTAL_COMMAND_DO_NOTE, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_NOTE, 58, 0, false},
        {CORTAL_COMMAND_DO_NOTE, 2, 0, 1, Made::Notes, ZERITH_COMMAND_DO_NOTE, 61, 0, true},
        {CORTAL_COMMAND_DO_NOTE, 3, 0, 1, Made::Notes, ZERITH_COMMAND_DO_NOTE, 60, 0, true},
        {CORTAL_COMMAND_DO_NOTE, 3, 0, 0, Made::Notes, nullptr, 0, 1, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_BOOKMARK, 101, 0, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 2, 0, 0, Made::Bookmarks, ZERITH_COMMAND_DO_BOOKMARK, 102, 0, true},
        {DUNMAR_COMMAND_DO_BOOKMARK, 3, 0, 2, Made::Bookmarks, ZERITH_COMMAND_DO_BOOKMARK, 103, 0, true},
        {DUNMAR_COMMAND_DO_BOOKMARK, 3, 0, 0, Made::Bookmarks, nullptr, 0, 0, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 4, 0, 0, Made::Bookmarks, ZERITH_COMMAND_DO_BOOKMARK, 104, 1, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 6, 0, 1, Made::Pairs, ZERITH_COMMAND_DO_BOOKMARK, 105, 1, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 6, 0, 0, Made::Pairs, nullptr, 0, 1, false},
        {DUNMAR_COMMAND_DO_BOOKMARK, 7, 0, 0, Made::None, ZERITH_COMMAND_DO_BOOKMARK, 106, 0, false},
        {WENDRA_COMMAND_DO_CALENDAR, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_CALENDAR, 65, 0, false},
        {WENDRA_COMMAND_DO_CALENDAR, 2, 0, 0, Made::None, ZERITH_COMMAND_DO_CALENDAR, 67, 0, true},
        {WENDRA_COMMAND_DO_CALENDAR, 3, 0, 0, Made::None, ZERITH_COMMAND_DO_CALENDAR, 66, 0, true},
        {WENDRA_COMMAND_DO_CALENDAR, 4, 0, 0, Made::None, ZERITH_COMMAND_DO_CALENDAR, 68, 1, false},
        {WENDRA_COMMAND_DO_CALENDAR, 6, 0, 1, Made::Strings, ZERITH_COMMAND_DO_CALENDAR, 70, 1, false},
        {WENDRA_COMMAND_DO_CALENDAR, 6, 0, 0, Made::Strings, nullptr, 0, 1, false},
        {SORVAD_COMMAND_DO_SMS, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_SMS, 24, 0, false},
        {SORVAD_COMMAND_DO_SMS, 3, 0, 0, Made::None, ZERITH_COMMAND_DO_SMS, 26, 0, true},
        {SORVAD_COMMAND_DO_SMS, 4, 0, 0, Made::None, ZERITH_COMMAND_DO_SMS, 30, 0, true},
        {SORVAD_COMMAND_DO_SMS, 5, 0, 0, Made::None, ZERITH_COMMAND_DO_SMS, 32, 0, true},
        {SORVAD_COMMAND_DO_SMS, 6, 0, 0, Made::None, ZERITH_COMMAND_DO_SMS, 35, 0, true},
        {SORVAD_COMMAND_DO_SMS, 2, 0, 0, Made::None, nullptr, 0, 0, false},
        {GAVREL_COMMAND_DO_APP, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_APP, 52, 0, false},
        {GAVREL_COMMAND_DO_APP, 5, 0, 1, Made::Strings, ZERITH_COMMAND_DO_APP, 55, 1, false},
        {GAVREL_COMMAND_DO_APP, 5, 0, 0, Made::Strings, nullptr, 0, 1, false},
        {TELBOR_COMMAND_DO_BOOK, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_ITUNES, 74, 0, false},
        {TELBOR_COMMAND_DO_BOOK, 2, 0, 0, Made::None, kFile, 109, 0, true},
        {TELBOR_COMMAND_DO_BOOK, 3, 0, 0, Made::None, ZERITH_COMMAND_DO_BOOK, 76, 1, false},
        {TELBOR_COMMAND_DO_BOOK, 4, 0, 2, Made::Strings, ZERITH_COMMAND_DO_BOOK, 76, 0, false},
        {TELBOR_COMMAND_DO_BOOK, 5, 0, 1, Made::Strings, ZERITH_COMMAND_DO_BOOK, 77, 1, false},
        {MULVAR_COMMAND_DO_MUSIC, 1, 0, 0, Made::None, kMedia, 95, 0, false},
        {MULVAR_COMMAND_DO_MUSIC, 2, 0, 0, Made::None, kFile, 109, 0, true},
        {MULVAR_COMMAND_DO_MUSIC, 8, 0, 0, Made::None, kMedia, 98, 0, false},
        {VINTOR_COMMAND_DO_VIDEO, 1, 13, 0, Made::None, kMedia, 86, 0, false},
        {VINTOR_COMMAND_DO_VIDEO, 1, 14, 0, Made::None, kMedia, 92, 0, false},
        {VINTOR_COMMAND_DO_VIDEO, 1, 15, 0, Made::None, kMedia, 89, 0, false},
        {VINTOR_COMMAND_DO_VIDEO, 1, 16, 0, Made::None, kMedia, 1, 0, false},
        {VINTOR_COMMAND_DO_VIDEO, 2, 0, 0, Made::None, kFile, 109, 0, true},
        {ELVIST_COMMAND_DO_RECORDING, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_RECORDING, 83, 0, false},
        {ELVIST_COMMAND_DO_RECORDING, 2, 0, 0, Made::None, kFile, 109, 0, true},
        {FAYDRA_COMMAND_DO_RINGTONE, 1, 0, 0, Made::None, ZERITH_COMMAND_DO_ITUNES, 80, 0, false},
        {FAYDRA_COMMAND_DO_RINGTONE, 2, 0, 0, Made::None, kFile, 109, 0, true},
        {PIMSEL_COMMAND_DO_PHOTO, 2, 0, 1, Made::Strings, kFile, 109, 0, true},
        {PIMSEL_COMMAND_DO_PHOTO, 2, 0, 0, Made::Strings, nullptr, 0, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 0, 0, 0, Made::None, ZERITH_COMMAND_DO_BACKUP, 136, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 4, 0, 0, Made::None, ZERITH_COMMAND_DO_BACKUP, 136, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 5, 0, 1, Made::Strings, ZERITH_COMMAND_DO_BACKUP, 137, 1, false},
        {BRISEL_COMMAND_DO_BACKUP, 5, 0, 0, Made::Strings, nullptr, 0, 1, false},
        {BRISEL_COMMAND_DO_BACKUP, 8, 0, 0, Made::None, ZERITH_COMMAND_DO_BACKUP, 138, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 9, 0, 0, Made::None, ZERITH_COMMAND_DO_BACKUP, 139, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 12, 0, 0, Made::None, ZERITH_COMMAND_DO_BACKUP, 140, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 2, 0, 0, Made::None, nullptr, 0, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, 17, 0, 0, Made::None, nullptr, 0, 0, false},
        {BRISEL_COMMAND_DO_BACKUP, (int64_t{1} << 32), 0, 0, Made::None, nullptr, 0, 0, false},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.page) + " " + std::to_string(c.code) + "/" + std::to_string(c.status);
        g_seen.clear();
        m_handedOver.clear();
        m_dialogs = trv::test::FakeHostPlatform();
        m_dialogs.files = {L"C:\\in\\a.xml"};
        CommandMessage request{};
        request.code = c.code;
        request.status = c.status;
        request.count = c.count;
        request.data = Make(c.made);
        Invoke(c.page, request);
        const std::vector<Seen> delivered = Deliveries();
        EXPECT_EQ(static_cast<int>(m_dialogs.shown.size()), c.dialogs) << what;
        if (c.relay == nullptr) {
            EXPECT_TRUE(delivered.empty()) << what;  // and the page's payload was freed (sanitizer build)
            continue;
        }
        ASSERT_EQ(delivered.size(), 1u) << what;
        EXPECT_EQ(delivered[0].name, c.relay) << what;
        EXPECT_EQ(delivered[0].code, c.relayCode) << what;
        const bool forDevice = std::strcmp(c.page, BRISEL_COMMAND_DO_BACKUP) != 0;
        EXPECT_EQ(delivered[0].key, forDevice ? L"dev-1" : L"") << what;
        EXPECT_EQ(delivered[0].extraText, c.folderLent ? L"C:\\out" : L"") << what;
        if (c.folderLent) {
            EXPECT_EQ(request.extra, nullptr) << what << ": the folder was lent for the call only";
        }
        if (c.page == std::string(CORTAL_COMMAND_DO_NOTE) && c.made == Made::Notes) {
            EXPECT_EQ(request.data, nullptr) << what << ": the checked notes were lent for the call and freed";
            continue;
        }
        // The relay module owns what it was handed: freed here through the feature's release.
        const trv::FeatureRow* row = trv::FindFeatureRow(c.page);
        ASSERT_NE(row, nullptr);
        row->release(PayloadLeg::RelayRequest, c.relayCode, delivered[0].data);
    }
}

TEST_F(FeatureRelays, RequestsWithoutACurrentDeviceFreeTheirPayloads) {
    g_currentDevice = nullptr;
    const std::pair<const char*, int64_t> requests[] = {
        {DUNMAR_COMMAND_DO_BOOKMARK, 6}, {WENDRA_COMMAND_DO_CALENDAR, 6}, {GAVREL_COMMAND_DO_APP, 5},
        {TELBOR_COMMAND_DO_BOOK, 4},     {TELBOR_COMMAND_DO_BOOK, 5},     {PIMSEL_COMMAND_DO_PHOTO, 5},
        {PIMSEL_COMMAND_DO_PHOTO, 2},    {DUNMAR_COMMAND_DO_BOOKMARK, 2}, {DUNMAR_COMMAND_DO_BOOKMARK, 7},
        {CORTAL_COMMAND_DO_NOTE, 2},
    };
    for (const auto& r : requests) {
        g_seen.clear();
        CommandMessage request{};
        request.code = r.second;
        request.count = 1;
        const std::string page = r.first;
        request.data = Make(page == CORTAL_COMMAND_DO_NOTE       ? Made::Notes
                            : page != DUNMAR_COMMAND_DO_BOOKMARK ? Made::Strings
                            : r.second == 6                      ? Made::Pairs
                            : r.second == 7                      ? Made::NewBookmark
                                                                 : Made::Bookmarks);
        Invoke(r.first, request);
        EXPECT_TRUE(Deliveries().empty()) << r.first << " " << r.second;
    }
    EXPECT_TRUE(m_dialogs.shown.empty()) << "nobody is asked about a request that cannot go anywhere";
}

TEST_F(FeatureRelays, BooksDropKeepsOnlyBookFilesAndBookmarkImportsPairTheFilesWithThePageRecords) {
    CommandMessage drop{};
    drop.code = 4;
    drop.data = new std::vector<std::wstring>{L"C:\\a.PDF", L"C:\\b.txt", L"C:\\c.d\\e", L"C:\\f.Epub"};
    Invoke(TELBOR_COMMAND_DO_BOOK, drop);
    ASSERT_EQ(m_handedOver.size(), 1u);
    auto* kept = static_cast<std::vector<std::wstring>*>(m_handedOver[0].data);
    EXPECT_EQ(*kept, (std::vector<std::wstring>{L"C:\\a.PDF", L"C:\\f.Epub"}));
    EXPECT_EQ(m_handedOver[0].count, 2);
    delete kept;

    auto* records = new std::vector<BookmarkItem*>(3, nullptr);
    CommandMessage import{};
    import.code = 4;
    import.data = records;
    m_dialogs.files = {L"C:\\in\\b.xml"};
    Invoke(DUNMAR_COMMAND_DO_BOOKMARK, import);
    ASSERT_EQ(m_handedOver.size(), 2u);
    auto* pair = static_cast<sdk::BookmarkImport*>(m_handedOver[1].data);
    EXPECT_EQ(pair->first, records);
    EXPECT_EQ(*pair->second, std::vector<std::wstring>{L"C:\\in\\b.xml"});
    sdk::bookmarks::ReleasePayload(PayloadLeg::RelayRequest, 104, pair);
}

TEST_F(FeatureRelays, PhotoRequestsTellThePhotoPageAfterTheRelay) {
    struct Case {
        int64_t code, status, count;
        int64_t relayCode, relayStatus;
        int64_t noticeStatus, noticeCount;
    };
    // clang-format off
    const Case cases[] = {
        {1, 0, 0, 125, 0, 0, 1},  {1, 1, 0, 130, 1, 1, 1}, {5, 0, 1, 134, 0, 0, 1},
        {9, 0, 0, 130, 1, 1, 0},  {12, 1, 7, 129, 1, 1, 1}, {13, 0, 2, 131, 1, 1, 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        g_seen.clear();
        CommandMessage request{};
        request.code = c.code;
        request.status = c.status;
        request.count = c.count;
        request.value2 = 9;
        if (c.code == 5) request.data = Make(Made::Strings);
        Invoke(PIMSEL_COMMAND_DO_PHOTO, request);
        const std::vector<Seen> delivered = Deliveries();
        ASSERT_EQ(delivered.size(), 2u) << c.code;
        EXPECT_EQ(delivered[0].name, ZERITH_COMMAND_DO_PHOTO) << c.code;
        EXPECT_EQ(delivered[0].code, c.relayCode) << c.code;
        EXPECT_EQ(delivered[0].status, c.relayStatus) << c.code;
        EXPECT_EQ(delivered[1].name, PIMSEL_COMMAND_DO_PHOTO) << c.code;
        EXPECT_EQ(delivered[1].code, 11) << c.code;
        EXPECT_EQ(delivered[1].status, c.noticeStatus) << c.code;
        EXPECT_EQ(request.value2, 0) << c.code;
        if (c.code != 9) {
            EXPECT_EQ(delivered[1].count, c.noticeCount) << c.code;
        }
        sdk::photos::ReleasePayload(PayloadLeg::RelayRequest, c.relayCode, delivered[0].data);
    }
}

TEST_F(FeatureRelays, QuestionsAnsweredInPlaceTrimWhatWasTyped) {
    struct Case {
        const char* page;
        int64_t code, status;
        WideStringPair typed;
        bool accept;
        int64_t statusAfter;
        WideStringPair pairAfter;  // the page's pair after the question
        std::wstring shown;
    };
    const WideStringPair kLabels(L"Subject:", L"Content:");
    // clang-format off
    const Case cases[] = {
        {CORTAL_COMMAND_DO_NOTE, 8, 0, {L"  Hi ", L"\tbody\n"}, true, 1, {L"Hi", L"body"},
         L"Subject:|Content:|200||"},
        {CORTAL_COMMAND_DO_NOTE, 8, 0, {L" ", L"\t"}, true, 0, kLabels, L"Subject:|Content:|200||"},
        {CORTAL_COMMAND_DO_NOTE, 8, 0, {L"Hi", L""}, false, 0, kLabels, L"Subject:|Content:|200||"},
        {DUNMAR_COMMAND_DO_BOOKMARK, 16, 12, {L"", L" http://a "}, true, 1, {L"http://a", L"http://a"},
         L"Name:|Url:|200|Subject:|Content:"},
        {DUNMAR_COMMAND_DO_BOOKMARK, 16, 12, {L"News", L" "}, true, 0, kLabels, L"Name:|Url:|200|Subject:|Content:"},
        {DUNMAR_COMMAND_DO_BOOKMARK, 16, 11, {L" Work ", L"x"}, true, 1, {L"Work", L""},
         L"Name:||120|Subject:|Content:"},
        {DUNMAR_COMMAND_DO_BOOKMARK, 16, 11, {L"   ", L""}, true, 0, kLabels, L"Name:||120|Subject:|Content:"},
        {DUNMAR_COMMAND_DO_BOOKMARK, 16, 3, {L"a", L"b"}, true, 0, kLabels, L"||200|Subject:|Content:"},
    };
    // clang-format on
    for (const Case& c : cases) {
        g_seen.clear();
        m_dialogs = trv::test::FakeHostPlatform();
        m_dialogs.typed = c.typed;
        m_dialogs.accept = c.accept;
        WideStringPair pair = kLabels;
        CommandMessage request{};
        request.code = c.code;
        request.status = c.status;
        request.data = &pair;
        Invoke(c.page, request);
        EXPECT_TRUE(Deliveries().empty()) << c.page << " " << c.status << ": answered in place";
        EXPECT_EQ(request.status, c.statusAfter) << c.page << " " << c.status;
        EXPECT_EQ(pair, c.pairAfter) << c.page << " " << c.status;
        EXPECT_EQ(m_dialogs.shown, std::vector<std::wstring>{c.shown}) << c.page << " " << c.status;
    }
}

TEST_F(FeatureRelays, BackupQuestionsAreAskedOverTheCallingWindowAndAnsweredInPlace) {
    TrvWindow caller = reinterpret_cast<TrvWindow>(0x77);
    // The device list is the relay's; without an answer it is an empty list, never null.
    for (bool relayAnswers : {true, false}) {
        g_relay = [relayAnswers](CommandMessage* m) {
            if (relayAnswers && m->name == std::string(ZERITH_COMMAND_GET_DEVICE_LIST)) {
                m->extra = new std::vector<WideStringPair>{{L"dev-1", L"Ana's iPhone"}};
            }
        };
        CommandMessage list{};
        list.code = 6;
        Invoke(BRISEL_COMMAND_DO_BACKUP, list);
        auto* devices = static_cast<std::vector<WideStringPair>*>(list.extra);
        ASSERT_NE(devices, nullptr) << relayAnswers;
        EXPECT_EQ(devices->size(), relayAnswers ? 1u : 0u);
        delete devices;
    }
    struct Case {
        int64_t code;
        bool accept;
        const wchar_t* typed;
        int64_t statusAfter;
        std::wstring shown;  // the start of what was shown
    };
    const Case cases[] = {
        {7, true, L"", 1, L"Do you really want to backup now? 300x120"},
        {7, false, L"", 0, L"Do you really want to backup now? 300x120"},
        {11, true, L"", 1, L"Please noted that the selected backup file will be restored to your device \"Ana\". And"},
        {13, true, L" secret ", 1, L"Password: (masked)"},
        {13, true, L"   ", 0, L"Password: (masked)"},
        {14, true, L"", 0, L"No device selected."},
        {15, true, L"", 0, L"No backup selected."},
        {16, true, L"", 0, L"This backup was never finished (it lacks files), so it cannot be restored."},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        m_dialogs = trv::test::FakeHostPlatform();
        m_dialogs.accept = c.accept;
        m_dialogs.typed.first = c.typed;
        wchar_t name[] = L"Ana";
        CommandMessage request{};
        request.code = c.code;
        request.window = caller;
        request.wideText = name;
        Invoke(BRISEL_COMMAND_DO_BACKUP, request);
        EXPECT_TRUE(Deliveries().empty()) << c.code;
        EXPECT_EQ(request.status, c.statusAfter) << c.code;
        ASSERT_EQ(m_dialogs.shown.size(), 1u) << c.code;
        EXPECT_EQ(m_dialogs.shown[0].substr(0, c.shown.size()), c.shown) << c.code;
        EXPECT_EQ(m_dialogs.owners, std::vector<TrvWindow>{caller}) << c.code;
        if (c.code == 13 && c.statusAfter == 1) {
            EXPECT_EQ(std::wstring(request.wideText), L" secret ");  // as typed
            std::free(request.wideText);
        } else {
            EXPECT_EQ(request.wideText, name) << c.code;
        }
    }
    // The backup folder: chosen with the page's title, answered on the shared heap.
    wchar_t title[] = L"Choose the backup folder";
    CommandMessage folder{};
    folder.code = 10;
    folder.wideText = title;
    Invoke(BRISEL_COMMAND_DO_BACKUP, folder);
    EXPECT_EQ(folder.status, 1);
    ASSERT_NE(folder.extra, nullptr);
    EXPECT_EQ(std::wstring(static_cast<wchar_t*>(folder.extra)), L"C:\\out");
    EXPECT_EQ(m_dialogs.folderTitles, std::vector<std::wstring>{title});
    std::free(folder.extra);
}

TEST_F(FeatureRelays, RelayAnswersReachThePageTranslatedAndCounted) {
    struct Case {
        const char* relay;
        int64_t code;
        int64_t status, value2, value3;
        const char* page;  // null: nothing reaches a page
        int64_t pageCode, pageStatus;
        int32_t section;  // 0: no counter
        int64_t sectionCount;
    };
    const char* const kNotes = CORTAL_COMMAND_DO_NOTE;
    const char* const kMarks = DUNMAR_COMMAND_DO_BOOKMARK;
    const char* const kCal = WENDRA_COMMAND_DO_CALENDAR;
    const char* const kSms = SORVAD_COMMAND_DO_SMS;
    const char* const kApps = GAVREL_COMMAND_DO_APP;
    const char* const kBooks = TELBOR_COMMAND_DO_BOOK;
    const char* const kMusic = MULVAR_COMMAND_DO_MUSIC;
    const char* const kVideo = VINTOR_COMMAND_DO_VIDEO;
    const char* const kPhoto = PIMSEL_COMMAND_DO_PHOTO;
    const char* const kMemo = ELVIST_COMMAND_DO_RECORDING;
    const char* const kTone = FAYDRA_COMMAND_DO_RINGTONE;
    const char* const kBackup = BRISEL_COMMAND_DO_BACKUP;
    const Case cases[] = {
        {ZERITH_COMMAND_DO_NOTE, 57, 0, 0, -4, kNotes, 11, 0, 4, -4},
        {ZERITH_COMMAND_DO_NOTE, 60, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_BOOKMARK, 100, 0, 0, 3, kMarks, 10, 0, 6, 3},
        {ZERITH_COMMAND_DO_BOOKMARK, 100, 0, 0, -1, kMarks, 9, 0, 6, -1},
        {ZERITH_COMMAND_DO_BOOKMARK, 101, 0, 0, 0, kMarks, 7, 0, 0, 0},
        {ZERITH_COMMAND_DO_BOOKMARK, 105, 0, 8, 0, kMarks, 6, 0, 6, 8},
        {ZERITH_COMMAND_DO_BOOKMARK, 103, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_CALENDAR, 64, 0, 0, 2, kCal, 9, 0, 5, 2},
        {ZERITH_COMMAND_DO_CALENDAR, 64, 0, 0, -1, kCal, 10, 0, 5, -1},
        {ZERITH_COMMAND_DO_CALENDAR, 65, 0, 0, 0, kCal, 7, 0, 0, 0},
        {ZERITH_COMMAND_DO_CALENDAR, 69, 0, 0, 5, kCal, 0, 0, 5, 5},
        {ZERITH_COMMAND_DO_CALENDAR, 70, 0, 4, 0, kCal, 6, 0, 5, 4},
        {ZERITH_COMMAND_DO_CALENDAR, 67, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_SMS, 23, 0, 0, 40, nullptr, 0, 0, 3, 40},
        {ZERITH_COMMAND_DO_SMS, 24, 0, 0, 0, kSms, 11, 0, 0, 0},
        {ZERITH_COMMAND_DO_SMS, 25, 0, 0, 0, kSms, 10, 0, 0, 0},
        {ZERITH_COMMAND_DO_APP, 51, 0, 0, 12, nullptr, 0, 0, 21, 12},
        {ZERITH_COMMAND_DO_APP, 52, 0, 0, 0, kApps, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_APP, 53, 0, 0, 0, kApps, 7, 0, 0, 0},
        {ZERITH_COMMAND_DO_APP, 55, 0, 0, 0, kApps, 5, 0, 0, 0},
        {ZERITH_COMMAND_DO_APP, 54, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_BOOK, 73, 0, 0, 6, nullptr, 0, 0, 19, 6},
        {ZERITH_COMMAND_DO_BOOK, 74, 0, 0, 0, kBooks, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_BOOK, 76, 0, 7, 0, kBooks, 3, 0, 19, 7},
        {ZERITH_COMMAND_DO_BOOK, 77, 0, 5, 0, kBooks, 5, 0, 19, 5},
        {ZERITH_COMMAND_DO_BOOK, 75, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_MUSIC, 94, 0, 0, 30, nullptr, 0, 0, 9, 30},
        {ZERITH_COMMAND_DO_MUSIC, 95, 0, 0, 0, kMusic, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_MUSIC, 96, 0, 0, 0, kMusic, 9, 0, 0, 0},
        {ZERITH_COMMAND_DO_MUSIC, 97, 0, 0, 0, kMusic, 14, 0, 0, 0},
        {ZERITH_COMMAND_DO_MUSIC, 98, 0, 0, 0, kMusic, 15, 0, 0, 0},
        {ZERITH_COMMAND_DO_VIDEO, 85, 0, 0, 1, nullptr, 0, 0, 13, 1},
        {ZERITH_COMMAND_DO_VIDEO, 91, 0, 0, 2, nullptr, 0, 0, 14, 2},
        {ZERITH_COMMAND_DO_VIDEO, 88, 0, 0, 3, nullptr, 0, 0, 15, 3},
        {ZERITH_COMMAND_DO_VIDEO, 86, 0, 0, 0, kVideo, 7, 13, 0, 0},
        {ZERITH_COMMAND_DO_VIDEO, 92, 0, 0, 0, kVideo, 7, 14, 0, 0},
        {ZERITH_COMMAND_DO_VIDEO, 89, 0, 0, 0, kVideo, 7, 15, 0, 0},
        {ZERITH_COMMAND_DO_VIDEO, 87, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_PHOTO, 124, 0, 0, 9, nullptr, 0, 0, 17, 9},
        {ZERITH_COMMAND_DO_PHOTO, 128, 0, 0, 2, nullptr, 0, 0, 18, 2},
        {ZERITH_COMMAND_DO_PHOTO, 125, 5, 0, 0, kPhoto, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_PHOTO, 126, 5, 0, 0, kPhoto, 7, 1, 0, 0},
        {ZERITH_COMMAND_DO_PHOTO, 129, 5, 0, 0, kPhoto, 8, 1, 0, 0},
        {ZERITH_COMMAND_DO_PHOTO, 127, 0, 0, 0, nullptr, 0, 0, 0, 0},
        {ZERITH_COMMAND_DO_RECORDING, 82, 0, 0, 4, nullptr, 0, 0, 10, 4},
        {ZERITH_COMMAND_DO_RECORDING, 83, 0, 0, 0, kMemo, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_RINGTONE, 79, 0, 0, 3, nullptr, 0, 0, 11, 3},
        {ZERITH_COMMAND_DO_RINGTONE, 80, 0, 0, 0, kTone, 6, 0, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 136, 0, 0, 0, kBackup, 1, 0, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 136, 1, 0, 0, kBackup, 2, 1, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 136, 2, 0, 0, kBackup, 3, 2, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 136, 7, 0, 0, kBackup, 136, 7, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 137, 3, 0, 0, kBackup, 5, 3, 0, 0},
        {ZERITH_COMMAND_DO_BACKUP, 138, 0, 0, 0, nullptr, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.relay) + " " + std::to_string(c.code);
        for (const char* about : {"dev-1", "dev-2", static_cast<const char*>(nullptr)}) {
            g_seen.clear();
            CommandMessage reply{};
            reply.code = c.code;
            reply.status = c.status;
            reply.value2 = c.value2;
            reply.value3 = c.value3;
            reply.text = about;
            Invoke(c.relay, reply);
            const Seen* page = nullptr;
            const Seen* counter = nullptr;
            for (const Seen& seen : g_seen) {
                if (seen.name == QUARNEL_COMMAND_UPDATE_ITEM) counter = &seen;
                if (c.page != nullptr && seen.name == c.page) page = &seen;
            }
            if (c.section == 0) {
                EXPECT_EQ(counter, nullptr) << what;
            } else {
                ASSERT_NE(counter, nullptr) << what << ": counters follow answers about any device";
                EXPECT_EQ(counter->sectionId, c.section) << what;
                EXPECT_EQ(counter->sectionCount, c.sectionCount) << what;
            }
            const bool backup = std::strcmp(c.relay, ZERITH_COMMAND_DO_BACKUP) == 0;
            const bool current = about != nullptr && std::strcmp(about, "dev-1") == 0;
            if (c.page == nullptr || (!current && !backup)) {
                EXPECT_EQ(Deliveries().size(), c.section == 0 ? 0u : 1u) << what << " about " << (about ? about : "-");
                continue;
            }
            ASSERT_NE(page, nullptr) << what << " about " << (about ? about : "-");
            EXPECT_EQ(page->code, c.pageCode) << what;
            EXPECT_EQ(page->status, c.pageStatus) << what;
            if (!backup) {
                EXPECT_EQ(page->key, L"dev-1") << what;
            }
            EXPECT_EQ(reply.wideText, nullptr) << what << ": the device text was lent to the page only";
        }
    }
}

TEST_F(FeatureRelays, DroppedAnswersFreeTheirPayloadsAndPhotoRemovalsReachThePageTwice) {
    // Answers about another device or none: their batches and identifiers are freed (sanitizer build).
    const std::pair<const char*, int64_t> lists[] = {
        {ZERITH_COMMAND_DO_BOOKMARK, 101}, {ZERITH_COMMAND_DO_CALENDAR, 65}, {ZERITH_COMMAND_DO_SMS, 24},
        {ZERITH_COMMAND_DO_APP, 52},       {ZERITH_COMMAND_DO_BOOK, 74},     {ZERITH_COMMAND_DO_MUSIC, 95},
        {ZERITH_COMMAND_DO_VIDEO, 86},     {ZERITH_COMMAND_DO_PHOTO, 125},   {ZERITH_COMMAND_DO_RECORDING, 83},
        {ZERITH_COMMAND_DO_RINGTONE, 80},  {ZERITH_COMMAND_DO_NOTE, 58},
    };
    for (const auto& l : lists) {
        for (const char* about : {"dev-2", static_cast<const char*>(nullptr)}) {
            g_seen.clear();
            CommandMessage reply{};
            reply.code = l.second;
            reply.text = about;
            reply.extra = MakeBatch(l.first);
            Invoke(l.first, reply);
            EXPECT_TRUE(Deliveries().empty()) << l.first;
        }
    }
    CommandMessage removedElsewhere{};
    removedElsewhere.code = 134;
    removedElsewhere.text = "dev-2";
    removedElsewhere.extra = trv::HeapWideCopy(L"photo-1");
    Invoke(ZERITH_COMMAND_DO_PHOTO, removedElsewhere);

    g_seen.clear();
    CommandMessage removed{};
    removed.code = 134;
    removed.text = "dev-1";
    removed.value2 = 11;
    removed.extra = trv::HeapWideCopy(L"photo-1");
    Invoke(ZERITH_COMMAND_DO_PHOTO, removed);
    std::vector<Seen> pages;
    for (const Seen& seen : g_seen) {
        if (seen.name == PIMSEL_COMMAND_DO_PHOTO) pages.push_back(seen);
    }
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].code, 5);
    EXPECT_EQ(pages[0].status, 0);
    EXPECT_EQ(pages[1].status, 1);
    EXPECT_EQ(pages[0].extraText, L"photo-1");
    EXPECT_EQ(pages[1].extraText, L"photo-1");
    EXPECT_NE(pages[0].extra, pages[1].extra) << "each page view gets its own identifier to free";
    std::free(pages[0].extra);
    std::free(pages[1].extra);
}

TEST_F(FeatureRelays, AnExportSaysWhereItWroteOrThatItCouldNot) {
    // The relay module answers a folder request in place: written, not written, or nothing said (its files
    // follow later, as the device files' copies do).
    struct Case {
        const char* page;
        int64_t code;
        Made made;
        int64_t answer;  // -1: the relay leaves `status` as sent
        std::vector<std::wstring> notices;
    };
    const Case cases[] = {
        {CORTAL_COMMAND_DO_NOTE, 2, Made::Notes, kExportWritten, {L"Exported to C:\\out"}},
        {DUNMAR_COMMAND_DO_BOOKMARK, 3, Made::Bookmarks, kExportNotWritten, {L"Nothing could be exported to C:\\out"}},
        {ELVIST_COMMAND_DO_RECORDING, 2, Made::None, -1, {}},
        {DUNMAR_COMMAND_DO_BOOKMARK, 1, Made::None, kExportWritten, {}},  // no folder chosen: not an export
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.page) + " " + std::to_string(c.code);
        m_dialogs = trv::test::FakeHostPlatform();
        m_handedOver.clear();
        const int64_t answer = c.answer;
        g_relay = [answer](CommandMessage* message) {
            m_handedOver.push_back(*message);
            if (answer >= 0) message->status = answer;
        };
        CommandMessage request{};
        request.code = c.code;
        request.count = 1;
        request.data = Make(c.made);
        Invoke(c.page, request);
        EXPECT_EQ(m_dialogs.notices, c.notices) << what;
        ASSERT_EQ(m_handedOver.size(), 1u) << what;
        const trv::FeatureRow* row = trv::FindFeatureRow(c.page);
        ASSERT_NE(row, nullptr);
        if (c.made != Made::Notes) row->release(PayloadLeg::RelayRequest, m_handedOver[0].code, m_handedOver[0].data);
    }
    // The device files' copies end later, in an answer that names the folder.
    struct Copied {
        int64_t code, result, arrived;
        const wchar_t* folder;
        std::vector<std::wstring> notices;
    };
    wchar_t folder[] = L"Z:\\memos";
    const Copied copies[] = {
        {109, 0, 2, folder, {L"2 files exported to Z:\\memos"}},
        {109, 0, 1, folder, {L"1 file exported to Z:\\memos"}},
        {109, 2, 1, folder, {L"Only 1 file could be exported to Z:\\memos"}},
        {109, 2, 0, folder, {L"Nothing could be exported to Z:\\memos"}},
        {109, 0, 2, nullptr, {}},  // no folder named: nothing to tell
        {110, 0, 2, folder, {}},
    };
    for (const Copied& c : copies) {
        m_dialogs = trv::test::FakeHostPlatform();
        CommandMessage answer{};
        answer.code = c.code;
        answer.value2 = c.result;
        answer.value3 = c.arrived;
        answer.wideText = const_cast<wchar_t*>(c.folder);
        answer.text = "dev-1";
        Invoke(ZERITH_COMMAND_DO_FILE, answer);
        EXPECT_EQ(m_dialogs.notices, c.notices) << c.result << " " << c.arrived;
    }
    // No folder chosen: nothing reaches the relay module and nothing is said.
    m_dialogs = trv::test::FakeHostPlatform();
    m_dialogs.folder.clear();
    CommandMessage refused{};
    refused.code = 2;
    refused.count = 1;
    refused.data = Make(Made::Notes);
    Invoke(CORTAL_COMMAND_DO_NOTE, refused);
    EXPECT_TRUE(m_dialogs.notices.empty());
}
