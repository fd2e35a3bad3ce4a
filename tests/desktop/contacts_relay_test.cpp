// The host's contacts relays: which page request reaches the relay module under which code after which
// question, which relay answer reaches the page under which code, the contacts counter of the section list,
// answers about another device, and the payloads of requests and answers that go nowhere (freed here; the
// sanitizer build reports any that leak).
#include <gtest/gtest.h>

#include <functional>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_bus.h"
#include "command_names.h"
#include "contact_codes.h"
#include "contact_records.h"
#include "host_commands.h"
#include "fake_host_platform.h"
#include "host_platform.h"
#include "item_batch.h"
#include "wide_pair.h"

namespace {

struct Seen {
    std::string name;
    int64_t code = 0;
    std::wstring key;
    std::wstring extraText;  // the folder lent in `extra`, read during the call
    void* data = nullptr;
    void* extra = nullptr;
    int64_t count = 0;
    int32_t sectionId = 0;
    int64_t sectionCount = 0;
};

std::vector<Seen> g_seen;
const wchar_t* g_currentDevice = L"dev-1";
std::function<void(CommandMessage*)> g_onRelay;  // what the relay does with a request during the call
char g_module;

void TRV_CALL Receive(CommandMessage* message) {
    Seen seen;
    seen.name = message->name;
    seen.code = message->code;
    seen.key = message->wideText != nullptr ? message->wideText : L"";
    seen.data = message->data;
    seen.extra = message->extra;
    seen.count = message->count;
    if (seen.name == LUNDER_COMMAND_GET_CURRENT_DEVICE) {
        message->wideText = g_currentDevice != nullptr ? trv::HeapWideCopy(g_currentDevice) : nullptr;
        return;
    }
    if (seen.name == QUARNEL_COMMAND_UPDATE_ITEM) {
        const auto* words = static_cast<const uint32_t*>(message->extra);
        seen.sectionId = static_cast<int32_t>(words[0]);
        seen.sectionCount = static_cast<int64_t>((static_cast<uint64_t>(words[3]) << 32) | words[1]);
    }
    if (seen.name == ZERITH_COMMAND_DO_CONTACT && g_onRelay) g_onRelay(message);
    if (seen.name == ZERITH_COMMAND_DO_CONTACT && message->extra != nullptr &&
        (seen.code == sdk::contacts::kRelayExportCsv || seen.code == sdk::contacts::kRelayBackupXml ||
         seen.code == sdk::contacts::kRelayExportVcards)) {
        seen.extraText = static_cast<const wchar_t*>(message->extra);
    }
    if (seen.name == ZERITH_COMMAND_DO_CONTACT && seen.code == sdk::contacts::kRelayCountries &&
        message->data != nullptr) {
        static_cast<std::vector<WideStringPair>*>(message->data)->push_back({L"de", L"Germany"});
    }
    g_seen.push_back(seen);
}

class ContactsRelay : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_currentDevice = L"dev-1";
        trv::RegisterHostCommands(m_bus);
        auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
        record->send = &trv::SendCommand;
        record->receive = &Receive;
        record->module = &g_module;
        m_bus.AddModule(record->module, record);
        for (const char* name : {ZERITH_COMMAND_DO_CONTACT, ARDENA_COMMAND_DO_CONTACT,
                                 LUNDER_COMMAND_GET_CURRENT_DEVICE, QUARNEL_COMMAND_UPDATE_ITEM}) {
            CommandMessage message{};
            message.kind = COMMAND_KIND_REGISTER;
            message.name = name;
            message.owner = record->module;
            record->send(&message);
        }
    }
    void TearDown() override {
        for (ModuleRecord* record : m_bus.ModuleRecords()) std::free(record);
    }

    static void Invoke(const char* name, CommandMessage& message) {
        message.kind = COMMAND_KIND_INVOKE;
        message.name = name;
        trv::SendCommand(&message);
    }
    // The deliveries other than the current-device questions.
    static std::vector<Seen> Deliveries() {
        std::vector<Seen> out;
        for (const Seen& seen : g_seen) {
            if (seen.name != LUNDER_COMMAND_GET_CURRENT_DEVICE) out.push_back(seen);
        }
        return out;
    }

    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_current{m_bus};
    trv::test::FakeHostPlatform m_platform;
    trv::ScopedHostPlatform m_platformScope{m_platform};
};

// A page payload of `code`, made as the page makes it; `Free` releases what a relay would have taken.
void* MakeRequestPayload(int64_t code) {
    switch (code) {
    case sdk::contacts::kRequestExportCsv:
    case sdk::contacts::kRequestBackupXml:
    case sdk::contacts::kRequestExportVcards: return new std::vector<iOSContact*>(2, nullptr);
    case sdk::contacts::kRequestDelete: return new std::vector<std::wstring>{L"1", L"2"};
    case sdk::contacts::kRequestSaveEdited:
    case sdk::contacts::kRequestSaveNew: return new iOSContact();
    case sdk::contacts::kRequestChangeGroup:
    case sdk::contacts::kRequestCreateGroup: return new iOSContactGroup();
    case sdk::contacts::kRequestRemoveGroup: return trv::HeapWideCopy(L"g1");
    default: return nullptr;
    }
}

void FreeRelayPayload(int64_t relayCode, void* data) {
    sdk::contacts::ReleasePayload(PayloadLeg::RelayRequest, relayCode, data);
}

}  // namespace

TEST_F(ContactsRelay, PageRequestsReachTheRelayUnderItsCodesAfterTheirQuestions) {
    struct Case {
        const char* what;
        int64_t page;
        int64_t count;
        bool accept;
        const wchar_t* folder;
        std::vector<std::wstring> files;
        int64_t relay;  // -1: nothing reaches the relay
        int questions;
        int nothingChecked;
    };
    const Case cases[] = {
        {"load", 1, 0, true, L"", {}, 2, 0, 0},
        {"CSV export", 2, 2, true, L"C:\\out", {}, 12, 0, 0},
        {"XML backup", 3, 2, true, L"C:\\out", {}, 11, 0, 0},
        {"vCard export", 4, 2, true, L"C:\\out", {}, 10, 0, 0},
        {"export of nothing checked", 2, 0, true, L"C:\\out", {}, -1, 0, 1},
        {"export without a folder", 4, 2, true, L"", {}, -1, 0, 0},
        {"import", 5, 0, true, L"", {L"C:\\in\\a.xml"}, 15, 0, 0},
        {"import without a file", 5, 0, true, L"", {}, -1, 0, 0},
        {"delete confirmed", 6, 2, true, L"", {}, 5, 1, 0},
        {"delete refused", 6, 2, false, L"", {}, -1, 1, 0},
        {"delete of nothing checked", 6, 0, true, L"", {}, -1, 0, 1},
        {"edited contact", 10, 0, true, L"", {}, 18, 0, 0},
        {"new contact", 11, 0, true, L"", {}, 17, 0, 0},
        {"countries", 16, 0, true, L"", {}, 16, 0, 0},
        {"group changed", 17, 0, true, L"", {}, 21, 0, 0},
        {"group created", 18, 0, true, L"", {}, 20, 0, 0},
        {"group removal confirmed", 19, 0, true, L"", {}, 19, 1, 0},
        {"group removal refused", 19, 0, false, L"", {}, -1, 1, 0},
        {"unknown code", 7, 0, true, L"", {}, -1, 0, 0},
        {"code with a high half", (int64_t{1} << 32) + 1, 0, true, L"", {}, -1, 0, 0},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        m_platform = trv::test::FakeHostPlatform();
        m_platform.accept = c.accept;
        m_platform.folder = c.folder;
        m_platform.files = c.files;
        std::vector<WideStringPair> countries;
        wchar_t callers[] = L"page-key";
        CommandMessage request{};
        request.code = c.page;
        request.count = c.count;
        request.wideText = callers;
        request.data = c.page == 16 ? &countries : MakeRequestPayload(c.page);
        Invoke(ARDENA_COMMAND_DO_CONTACT, request);

        const std::vector<Seen> delivered = Deliveries();
        EXPECT_EQ(m_platform.questions, c.questions) << c.what;
        EXPECT_EQ(m_platform.Shown(L"Nothing is checked."), c.nothingChecked) << c.what;
        EXPECT_EQ(request.wideText, callers) << c.what << ": the caller's text is put back";
        if (c.relay < 0) {
            EXPECT_TRUE(delivered.empty()) << c.what;
            continue;  // the payload was freed by the host (the sanitizer build checks)
        }
        ASSERT_EQ(delivered.size(), 1u) << c.what;
        EXPECT_EQ(delivered[0].name, ZERITH_COMMAND_DO_CONTACT) << c.what;
        EXPECT_EQ(delivered[0].code, c.relay) << c.what;
        EXPECT_EQ(delivered[0].key, L"dev-1") << c.what;
        if (c.folder[0] != L'\0') {
            EXPECT_EQ(delivered[0].extraText, c.folder) << c.what << ": the folder is lent for the call";
            EXPECT_EQ(request.extra, nullptr) << c.what;
        }
        if (c.page == 5) {
            auto* paths = static_cast<std::vector<std::wstring>*>(delivered[0].data);
            ASSERT_NE(paths, nullptr);
            EXPECT_EQ(*paths, c.files);
            EXPECT_EQ(delivered[0].count, 1);
            EXPECT_EQ(m_platform.shown, std::vector<std::wstring>{L"Please select XML files.|XML Files|*.xml|one"});
        }
        if (c.page == 16) {
            EXPECT_EQ(countries.size(), 1u) << "the relay fills the page's list during the call";
        } else {
            FreeRelayPayload(c.relay, delivered[0].data);
        }
    }
}

TEST_F(ContactsRelay, AnExportHandsTheRelayCopiesThatOutliveThePagesRecords) {
    auto first = std::make_unique<iOSContact>();
    first->firstName = L"Ines";
    auto second = std::make_unique<iOSContact>();
    second->firstName = L"Ola";
    // The page frees both records while the folder dialog runs (a reload arrived meanwhile).
    m_platform.whileChoosing = [&] {
        first.reset();
        second.reset();
    };
    std::vector<std::wstring> namesSeenByTheRelay;
    g_onRelay = [&](CommandMessage* message) {
        for (const iOSContact* contact : *static_cast<std::vector<iOSContact*>*>(message->data)) {
            namesSeenByTheRelay.push_back(contact->firstName);
        }
    };
    CommandMessage request{};
    request.code = sdk::contacts::kRequestExportVcards;
    request.count = 2;
    request.data = new std::vector<iOSContact*>{first.get(), nullptr, second.get()};
    Invoke(ARDENA_COMMAND_DO_CONTACT, request);
    g_onRelay = nullptr;
    EXPECT_EQ(namesSeenByTheRelay, (std::vector<std::wstring>{L"Ines", L"Ola"}));
    const std::vector<Seen> delivered = Deliveries();
    ASSERT_EQ(delivered.size(), 1u);
    FreeRelayPayload(sdk::contacts::kRelayExportVcards, delivered[0].data);
}

TEST_F(ContactsRelay, RequestsWithoutACurrentDeviceGoNowhere) {
    g_currentDevice = nullptr;
    for (int64_t code : {int64_t{1}, int64_t{6}, int64_t{11}, int64_t{18}, int64_t{19}}) {
        g_seen.clear();
        CommandMessage request{};
        request.code = code;
        request.count = 2;
        request.data = MakeRequestPayload(code);
        Invoke(ARDENA_COMMAND_DO_CONTACT, request);
        EXPECT_TRUE(Deliveries().empty()) << code;
    }
    EXPECT_TRUE(m_platform.shown.empty()) << "nobody is asked about a request that cannot go anywhere";
}

TEST_F(ContactsRelay, RelayAnswersReachThePageTranslatedAndCounted) {
    struct Case {
        const char* what;
        int64_t relay;
        const char* about;
        int64_t value2;
        int64_t value3;
        bool withExtra;
        int64_t page;          // -1: the page gets nothing
        int64_t sectionCount;  // -999: no counter update
    };
    const Case cases[] = {
        {"contacts on the device", 0, "dev-1", 0, 250, false, 14, 250},
        {"contacts in iCloud", 0, "dev-1", 0, -1, false, 15, -1},
        {"a batch of contacts", 2, "dev-1", 0, 0, true, 1, -999},
        {"loading finished", 2, "dev-1", 0, 0, false, 1, -999},
        {"a batch of groups", 3, "dev-1", 0, 0, true, 12, -999},
        {"a contact added", 4, "dev-1", 0, 251, true, 0, 251},
        {"a contact removed", 5, "dev-1", 249, 0, true, 6, 249},
        {"the editor may close", 17, "dev-1", 0, 0, false, 11, -999},
        {"the editor may close, other device", 17, "dev-2", 0, 0, false, 11, -999},
        {"a group removed", 19, "dev-1", 0, 0, true, 19, -999},
        {"a group created", 20, "dev-1", 0, 0, true, 18, -999},
        {"a group changed", 21, "dev-1", 0, 0, true, 18, -999},
        {"a group answer without its record", 21, "dev-1", 0, 0, false, -1, -999},
        {"a batch about another device", 2, "dev-2", 0, 0, true, -1, -999},
        {"a count about another device", 4, "dev-2", 0, 7, true, -1, 7},
        {"a code outside the table", 6, "dev-1", 0, 0, false, -1, -999},
        {"the relay's own query code", 1, "dev-1", 0, 0, false, -1, -999},
        {"code 18", 18, "dev-1", 0, 0, false, -1, -999},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        CommandMessage reply{};
        reply.code = c.relay;
        reply.text = c.about;
        reply.value2 = c.value2;
        reply.value3 = c.value3;
        void* payload = nullptr;
        if (c.withExtra) {
            switch (c.relay) {
            case 2: payload = new ItemBatch<iOSContact>(); break;
            case 3: payload = new ItemBatch<iOSContactGroup>(); break;
            case 4: payload = new std::shared_ptr<iOSContact>(std::make_shared<iOSContact>()); break;
            case 5:
            case 19: payload = trv::HeapWideCopy(L"id-1"); break;
            case 20:
            case 21: payload = new iOSContactGroup(); break;
            default: break;
            }
        }
        reply.extra = payload;
        Invoke(ZERITH_COMMAND_DO_CONTACT, reply);

        const Seen* page = nullptr;
        const Seen* counter = nullptr;
        for (const Seen& seen : g_seen) {
            if (seen.name == ARDENA_COMMAND_DO_CONTACT) page = &seen;
            if (seen.name == QUARNEL_COMMAND_UPDATE_ITEM) counter = &seen;
        }
        if (c.sectionCount == -999) {
            EXPECT_EQ(counter, nullptr) << c.what;
        } else {
            ASSERT_NE(counter, nullptr) << c.what;
            EXPECT_EQ(counter->sectionId, 2) << c.what;
            EXPECT_EQ(counter->sectionCount, c.sectionCount) << c.what;
        }
        EXPECT_EQ(reply.extra, payload) << c.what << ": the answer's own payload field is put back";
        if (c.page < 0) {
            EXPECT_EQ(page, nullptr) << c.what;
            continue;  // a dropped answer's payload is freed by the host
        }
        ASSERT_NE(page, nullptr) << c.what;
        EXPECT_EQ(page->code, c.page) << c.what;
        EXPECT_EQ(page->extra, payload) << c.what;
        std::wstring about(c.about, c.about + std::strlen(c.about));
        EXPECT_EQ(page->key, about) << c.what;
        // The fake page takes what it is given.
        sdk::contacts::ReleasePayload(PayloadLeg::PageReply, page->code, payload);
    }
}
