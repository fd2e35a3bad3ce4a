// The host's handler table and the routing its handlers do: which modules receive what, in which order,
// with which codes, rectangles and keys, as the pages and the relay module rely on. The modules are fakes
// that log every delivery and answer like the title bar and the relay module would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_bus.h"
#include "feature_codes.h"
#include "feature_maps.h"
#include "feature_table.h"
#include "command_names.h"
#include "device_record.h"
#include "host_commands.h"
#include "host_handlers.h"
#include "fake_host_platform.h"
#include "host_platform.h"
#include "note_codes.h"
#include "page_records.h"
#include "section_ids.h"
#include "wide_pair.h"

namespace {

// One delivery as the receiving module saw it.
struct Seen {
    std::string name;
    int64_t code;
    int64_t status;
    int64_t value2;
    TrvWindow window;
    std::wstring key;  // wideText, "" when null
    TrvRect rect;      // *data read as a rectangle, where the test asks for it
};

using Answer = std::function<void(CommandMessage*)>;

std::vector<Seen> g_seen;
std::map<std::string, Answer> g_answers;
std::vector<std::string> g_rectNames;  // names whose `data` is a TrvRect
char g_moduleHandle;

void TRV_CALL Receive(CommandMessage* message) {
    Seen seen{message->name,   message->code,   message->status,
              message->value2, message->window, message->wideText != nullptr ? message->wideText : L"",
              TrvRect{}};
    for (const std::string& name : g_rectNames) {
        if (name == message->name && message->data != nullptr) seen.rect = *static_cast<TrvRect*>(message->data);
    }
    g_seen.push_back(seen);
    auto answer = g_answers.find(message->name);
    if (answer != g_answers.end()) answer->second(message);
}

TrvWindow Window(intptr_t value) { return reinterpret_cast<TrvWindow>(value); }

// A bus with the host's table and one fake module that owns `names`.
class Routing : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_answers.clear();
        g_rectNames.clear();
        trv::ResetMaximiseState();
        trv::RegisterHostCommands(m_bus);
        m_platform.sectionFont = Window(0x50);
        m_platform.files = {L"C:\\in.xml"};
    }
    void TearDown() override {
        for (ModuleRecord* record : m_bus.ModuleRecords()) std::free(record);
    }
    void Own(const std::vector<std::string>& names) {
        auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
        record->send = &trv::SendCommand;
        record->receive = &Receive;
        record->module = &g_moduleHandle;
        m_bus.AddModule(record->module, record);
        for (const std::string& name : names) {
            CommandMessage message{};
            message.kind = COMMAND_KIND_REGISTER;
            message.name = name.c_str();
            message.owner = record->module;
            record->send(&message);
        }
    }
    // The title bar answers `device` (a heap string, as the title bar page does) or nothing.
    void TitleBarAnswers(const wchar_t* device) {
        g_answers[LUNDER_COMMAND_GET_CURRENT_DEVICE] = [device](CommandMessage* m) {
            m->wideText = device != nullptr ? trv::HeapWideCopy(device) : nullptr;
        };
    }
    static std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const Seen& seen : g_seen) names.push_back(seen.name);
        return names;
    }
    void Invoke(const char* name, CommandMessage& message) {
        message.kind = COMMAND_KIND_INVOKE;
        message.name = name;
        trv::SendCommand(&message);
    }

    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_current{m_bus};
    trv::test::FakeHostPlatform m_platform;
    trv::ScopedHostPlatform m_platformScope{m_platform};
};

std::vector<std::string> AllOwnedNames() {
    std::vector<std::string> names;
    const auto add = [&names](auto& table) {
        for (const char* name : table) names.push_back(name);
    };
    // clang-format off
    add(sdk::kArdenaCommandNames); add(sdk::kBriselCommandNames); add(sdk::kCortalCommandNames);
    add(sdk::kDunmarCommandNames); add(sdk::kElvistCommandNames); add(sdk::kFaydraCommandNames);
    add(sdk::kGavrelCommandNames); add(sdk::kKestorCommandNames); add(sdk::kLunderCommandNames);
    add(sdk::kMulvarCommandNames); add(sdk::kPimselCommandNames); add(sdk::kQuarnelCommandNames);
    add(sdk::kSorvadCommandNames); add(sdk::kTelborCommandNames); add(sdk::kVintorCommandNames);
    add(sdk::kWendraCommandNames); add(sdk::kYestalCommandNames); add(sdk::kZerithCommandNames);
    // clang-format on
    return names;
}

}  // namespace

TEST(HostHandlerTable, ServesEveryNameOnceWithEachFeatureAsOneRow) {
    // clang-format off
    static const char* const kExpected[] = {
        "MAIN_COMMAND_CREATE_WINDOW", "MAIN_COMMAND_CHANGE_SIZE", "ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER",
        "ZERITH_COMMAND_RECV_INSTALL_DRIVER", "ZERITH_COMMAND_PRE_INSTALL_DRIVER",
        "ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER", "ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED",
        "ZERITH_COMMAND_RECV_START_ITUNES_DLL", "ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL",
        "ZERITH_COMMAND_START_LOAD_ITUNES_DLL", "ZERITH_COMMAND_START_CONNECT_DEVICE",
        "ZERITH_COMMAND_CONNECT_DEVICE_FAIL", "ZERITH_COMMAND_NOT_PAIR", "ZERITH_COMMAND_FINISH_CONNECT_DEVICE",
        "LUNDER_COMMAND_PRESS_MAX_OR_RESET", "LUNDER_COMMAND_OPEN_ABOUT", "LUNDER_COMMAND_CHANGE_TYPE",
        "LUNDER_COMMAND_CHECK_FOR_UPDATE", "LUNDER_COMMAND_OPEN_FEEDBACK", "LUNDER_COMMAND_CHANGE_DEVICE",
        "YESTAL_COMMAND_DEVICE_DETECT_SUPPORT", "YESTAL_COMMAND_CHANGE_DEVICE_NAME",
        "YESTAL_COMMAND_EDIT_DEVICE_NAME", "QUARNEL_COMMAND_SELECT_ITEM", "YESTAL_COMMAND_ADDED_DEVICE",
        "YESTAL_COMMAND_CHANGE_SIZE", "ZERITH_COMMAND_DEVICE_DISCONNECT", "ZERITH_COMMAND_DO_BASICINFO",
        "ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR", "ZERITH_COMMAND_EXIT_SERVER",
        "ZERITH_COMMAND_CHECK_FOR_UPDATE", "ZERITH_COMMAND_DOWNLOAD_UPDATE", "ZERITH_COMMAND_NOTIFY_PROGRESS",
        "ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH", "ZERITH_COMMAND_SCAN_USB_DEVICE", "ZERITH_COMMAND_SERVER_CRASH",
        "ZERITH_COMMAND_READY_START_SERVER", "ZERITH_COMMAND_DEVICE_CONNECTED", "ZERITH_COMMAND_GET_DEVICE_INFO",
        "ZERITH_COMMAND_SCAN_PROGRESS", "ZERITH_COMMAND_GET_OWNER", "CORTAL_COMMAND_GET_iOS_PRODUCTVERSION",
        "ZERITH_COMMAND_UPDATE_SECTION_TYPE", "ZERITH_COMMAND_DO_BOOKMARK", "DUNMAR_COMMAND_DO_BOOKMARK",
        "ELVIST_COMMAND_DO_RECORDING", "ZERITH_COMMAND_DO_RECORDING", "FAYDRA_COMMAND_DO_RINGTONE",
        "ZERITH_COMMAND_DO_RINGTONE", "TELBOR_COMMAND_DO_BOOK", "ZERITH_COMMAND_DO_BOOK",
        "WENDRA_COMMAND_DO_CALENDAR", "ZERITH_COMMAND_DO_CALENDAR", "ZERITH_COMMAND_DO_NOTE",
        "CORTAL_COMMAND_DO_NOTE", "ZERITH_COMMAND_DO_CONTACT", "ARDENA_COMMAND_DO_CONTACT",
        "ZERITH_COMMAND_DO_SMS", "SORVAD_COMMAND_DO_SMS", "ZERITH_COMMAND_DO_MUSIC", "MULVAR_COMMAND_DO_MUSIC",
        "VINTOR_COMMAND_DO_VIDEO", "ZERITH_COMMAND_DO_VIDEO", "PIMSEL_COMMAND_DO_PHOTO", "ZERITH_COMMAND_DO_PHOTO",
        "GAVREL_COMMAND_DO_APP", "ZERITH_COMMAND_DO_APP", "KESTOR_COMMAND_START_TOOL", "BRISEL_COMMAND_DO_BACKUP",
        "ZERITH_COMMAND_DO_BACKUP", "ZERITH_COMMAND_DO_FILE",
    };
    // clang-format on
    size_t count = 0;
    const trv::HostCommandEntry* table = trv::HostCommandTable(count);
    size_t featureCount = 0;
    const trv::FeatureRow* features = trv::FeatureRows(featureCount);
    std::vector<std::string> filed;
    for (size_t i = 0; i < count; ++i) {
        EXPECT_NE(table[i].handler, nullptr) << table[i].name;
        filed.push_back(table[i].name);
    }
    for (size_t i = 0; i < featureCount; ++i) {
        filed.push_back(features[i].page);
        filed.push_back(features[i].relay);
    }
    std::vector<std::string> expected(std::begin(kExpected), std::end(kExpected));
    std::sort(filed.begin(), filed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filed, expected);
    trv::CommandBus bus;
    trv::RegisterHostCommands(bus);
    for (const std::string& name : expected) EXPECT_TRUE(bus.HasHostHandler(name.c_str())) << name;
    EXPECT_EQ(bus.HostHandlerNames().size(), 71u);  // no name twice
}

TEST_F(Routing, SectionListRecordHoldsTheTwentyTwoSections) {
    m_bus.AddImage("common\\section\\section-contacts.png", reinterpret_cast<Gdiplus::Bitmap*>(0x77));
    SectionListRecord record;
    trv::FillSectionListRecord(record, 480);
    EXPECT_EQ(record.left, 0);
    EXPECT_EQ(record.top, 0);
    EXPECT_EQ(record.width, 200);
    EXPECT_EQ(record.height, 480);
    EXPECT_EQ(record.rowValue, 30);
    EXPECT_EQ(record.tailValue, 0);
    EXPECT_EQ(record.highestId, 21);
    struct Row {
        int32_t id, parent;
        const wchar_t* text;
        int32_t left, indent;
        uint32_t colour;
        uint8_t selectable;
    };
    // clang-format off
    const Row rows[] = {
        {0, 0, L"Summary", 10, 0, 0, 1}, {1, 0, L"Info", 10, 0, 0x7F7F7F, 0}, {2, 0, L"Contacts", 40, 0, 0, 1},
        {3, 0, L"Messages", 40, 0, 0, 1}, {4, 0, L"Notes", 40, 0, 0, 1}, {5, 0, L"Calendars", 40, 0, 0, 1},
        {6, 0, L"Bookmarks", 40, 0, 0, 1}, {7, 0, L"Media", 10, 0, 0x7F7F7F, 0}, {8, 0, L"Music", 40, 20, 0, 1},
        {9, 8, L"Songs", 70, 0, 0, 1}, {10, 8, L"Voice Memos", 70, 0, 0, 1}, {11, 8, L"Tones", 70, 0, 0, 1},
        {12, 0, L"Videos", 40, 20, 0, 1}, {13, 12, L"Movies", 70, 0, 0, 1}, {14, 12, L"TV Shows", 70, 0, 0, 1},
        {15, 12, L"Music Videos", 70, 0, 0, 1}, {16, 0, L"Photos", 40, 20, 0, 1}, {17, 16, L"Photos", 70, 0, 0, 1},
        {18, 16, L"Albums", 70, 0, 0, 1}, {19, 0, L"Books", 40, 0, 0, 1}, {20, 0, L"Apps", 10, 0, 0x7F7F7F, 0},
        {21, 0, L"Apps", 40, 0, 0, 1},
    };
    // clang-format on
    for (size_t i = 0; i < 22; ++i) {
        const SectionEntry& entry = record.entries[i];
        EXPECT_EQ(entry.id, rows[i].id) << i;
        EXPECT_EQ(entry.parentId, rows[i].parent) << i;
        EXPECT_EQ(entry.value, -1) << i;
        EXPECT_STREQ(entry.text, rows[i].text) << i;
        EXPECT_EQ(entry.left, rows[i].left) << i;
        EXPECT_EQ(entry.childIndent, rows[i].indent) << i;
        EXPECT_EQ(entry.textColour, rows[i].colour) << i;
        EXPECT_EQ(entry.selectable, rows[i].selectable) << i;
        EXPECT_EQ(entry.font, Window(0x50)) << i;
    }
    EXPECT_EQ(record.entries[2].image, reinterpret_cast<void*>(0x77));  // from the image cache
    EXPECT_EQ(record.entries[0].image, nullptr);                        // not loaded: no image
    EXPECT_EQ(record.entries[22].text, nullptr);                        // unused slots stay zero
}

TEST_F(Routing, SelectingASectionShowsItsPageAndLoadsOnlyWhatTheRelayLacks) {
    Own(AllOwnedNames());
    struct Case {
        const wchar_t* device;
        int64_t section;
        int64_t relayAnswer;                // the relay's `status` answer to the query
        std::vector<std::string> expected;  // "NAME code status" of every delivery after the device query
    };
    // clang-format off
    const Case cases[] = {
        {nullptr, 2, 0, {}},
        {L"No detected device", 0, 0, {}},
        {L"dev-1", 0, 0,
         {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0",
          "YESTAL_COMMAND_HIDE_CONNECT_CHILD 0 0", "YESTAL_COMMAND_SWITCH_STATUS 0 7", "ZERITH_COMMAND_SHOW_WINDOW 0 5"}},
        {L"dev-1", 2, 1,
         {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0",
          "YESTAL_COMMAND_SWITCH_STATUS 0 8", "YESTAL_COMMAND_HIDE_CONNECT_CHILD 0 8",
          "ARDENA_COMMAND_SHOW_WINDOW 0 8", "ZERITH_COMMAND_DO_CONTACT 1 0", "ZERITH_COMMAND_SHOW_WINDOW 1 5"}},
        {L"dev-1", 2, 0,
         {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0",
          "YESTAL_COMMAND_SWITCH_STATUS 0 8", "YESTAL_COMMAND_HIDE_CONNECT_CHILD 0 8",
          "ARDENA_COMMAND_SHOW_WINDOW 0 8", "ZERITH_COMMAND_DO_CONTACT 1 0", "ZERITH_COMMAND_DO_CONTACT 2 0",
          "ZERITH_COMMAND_SHOW_WINDOW 2 5"}},
        {L"dev-1", 8, 0, {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0"}},
        {L"dev-1", 22, 0, {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0"}},
        {L"dev-1", 14, 0,
         {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0",
          "YESTAL_COMMAND_SWITCH_STATUS 0 8", "YESTAL_COMMAND_HIDE_CONNECT_CHILD 0 8",
          "VINTOR_COMMAND_SHOW_WINDOW 14 8", "ZERITH_COMMAND_DO_MEDIA 90 14", "ZERITH_COMMAND_DO_MEDIA 92 14",
          "ZERITH_COMMAND_SHOW_WINDOW 92 5"}},
        {L"dev-1", 18, 0,
         {"YESTAL_COMMAND_GET_CURRENT_CONNECT 0 0", "ZERITH_COMMAND_RECORD_TYPE 0 0",
          "YESTAL_COMMAND_SWITCH_STATUS 0 8", "YESTAL_COMMAND_HIDE_CONNECT_CHILD 0 8",
          "PIMSEL_COMMAND_SHOW_WINDOW 1 8", "ZERITH_COMMAND_DO_PHOTO 127 1", "PIMSEL_COMMAND_DO_PHOTO 11 1",
          "ZERITH_COMMAND_DO_PHOTO 129 1", "ZERITH_COMMAND_SHOW_WINDOW 129 5"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        g_seen.clear();
        TitleBarAnswers(c.device);
        const int64_t answer = c.relayAnswer;
        for (const char* relay : {ZERITH_COMMAND_DO_CONTACT, ZERITH_COMMAND_DO_MEDIA, ZERITH_COMMAND_DO_PHOTO}) {
            g_answers[relay] = [answer](CommandMessage* m) {
                if (m->code == 1 || m->code == 90 || m->code == 127) m->status = answer;
            };
        }
        CommandMessage message{};
        message.value4 = c.section;
        Invoke(QUARNEL_COMMAND_SELECT_ITEM, message);
        ASSERT_FALSE(g_seen.empty());
        EXPECT_EQ(g_seen[0].name, LUNDER_COMMAND_GET_CURRENT_DEVICE);
        std::vector<std::string> got;
        for (size_t i = 1; i < g_seen.size(); ++i) {
            got.push_back(g_seen[i].name + " " + std::to_string(g_seen[i].code) + " " +
                          std::to_string(g_seen[i].status));
            // Every module after the title bar sees the current device as the page key.
            EXPECT_EQ(g_seen[i].key, c.device) << g_seen[i].name;
        }
        EXPECT_EQ(got, c.expected) << "section " << c.section;
        EXPECT_EQ(message.wideText, nullptr) << "the device string is the host's to free";
    }
}

TEST_F(Routing, AddedDeviceCreatesEveryPageInOrderInsideTheContainer) {
    Own(AllOwnedNames());
    const TrvWindow container = Window(0x600);
    m_platform.clients[container] = TrvRect{0, 0, 698, 483};
    g_rectNames = {ARDENA_COMMAND_SHOW_WINDOW, CORTAL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_SHOW_WINDOW};
    // The contacts page answers its own window, which must not become the next page's parent.
    g_answers[ARDENA_COMMAND_SHOW_WINDOW] = [](CommandMessage* m) { m->window = Window(0x700); };
    int callersRect = 0;
    CommandMessage message{};
    message.window = container;
    message.code = 7;
    message.data = &callersRect;
    message.wideText = const_cast<wchar_t*>(L"dev-1");
    Invoke(YESTAL_COMMAND_ADDED_DEVICE, message);

    // clang-format off
    const std::vector<std::pair<std::string, int64_t>> expected = {
        {CORTAL_COMMAND_SHOW_WINDOW, 7}, {WENDRA_COMMAND_SHOW_WINDOW, 7}, {TELBOR_COMMAND_SHOW_WINDOW, 7},
        {FAYDRA_COMMAND_SHOW_WINDOW, 7}, {ELVIST_COMMAND_SHOW_WINDOW, 7}, {VINTOR_COMMAND_SHOW_WINDOW, 13},
        {VINTOR_COMMAND_SHOW_WINDOW, 15}, {VINTOR_COMMAND_SHOW_WINDOW, 14}, {MULVAR_COMMAND_SHOW_WINDOW, 9},
        {DUNMAR_COMMAND_SHOW_WINDOW, 6}, {ARDENA_COMMAND_SHOW_WINDOW, 2}, {SORVAD_COMMAND_SHOW_WINDOW, 3},
        {GAVREL_COMMAND_SHOW_WINDOW, 21}, {PIMSEL_COMMAND_SHOW_WINDOW, 0}, {PIMSEL_COMMAND_SHOW_WINDOW, 1},
    };
    // clang-format on
    ASSERT_EQ(g_seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(g_seen[i].name, expected[i].first) << i;
        EXPECT_EQ(g_seen[i].code, expected[i].second) << i;
        EXPECT_EQ(g_seen[i].window, container) << i;
        EXPECT_EQ(g_seen[i].key, L"dev-1") << i;
    }
    for (size_t i : {size_t{0}, size_t{10}, size_t{14}}) {
        EXPECT_EQ(g_seen[i].rect.right, 698) << i;
        EXPECT_EQ(g_seen[i].rect.bottom, 483) << i;
    }
    EXPECT_EQ(message.data, &callersRect);  // the lent rectangles do not outlive the call
}

TEST_F(Routing, MainSizeFansOutLessTheTitleBar) {
    Own(AllOwnedNames());
    m_bus.RegisterWindow(3, Window(0x300));
    std::vector<std::string> sizes;
    for (const char* name : {LUNDER_COMMAND_CHANGE_SIZE, YESTAL_COMMAND_CHANGE_SIZE, KESTOR_COMMAND_CHANGE_SIZE}) {
        g_answers[name] = [&sizes](CommandMessage* m) {
            const auto* size = static_cast<const PageSize*>(m->data);
            sizes.push_back(std::string(m->name) + " " + std::to_string(size->width) + "x" +
                            std::to_string(size->height));
        };
    }
    PageSize viewSize{900, 566};
    CommandMessage message{};
    message.data = &viewSize;
    Invoke(MAIN_COMMAND_CHANGE_SIZE, message);
    EXPECT_EQ(Names(), (std::vector<std::string>{LUNDER_COMMAND_CHANGE_SIZE, YESTAL_COMMAND_CHANGE_SIZE,
                                                 KESTOR_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_MOVE_WINDOW}));
    EXPECT_EQ(sizes,
              (std::vector<std::string>{"LUNDER_COMMAND_CHANGE_SIZE 900x566", "YESTAL_COMMAND_CHANGE_SIZE 898x483",
                                        "KESTOR_COMMAND_CHANGE_SIZE 898x483"}));
    EXPECT_EQ(g_seen[0].window, Window(0x300));
    EXPECT_EQ(g_seen[1].window, nullptr);
    EXPECT_EQ(m_platform.sheetLayouts, 1);
    EXPECT_EQ(viewSize.width, 900);  // the view's own record keeps its real size
    EXPECT_EQ(viewSize.height, 566);
}

TEST_F(Routing, DevicePageSizeReachesEveryPageThenTheSectionList) {
    Own(AllOwnedNames());
    DevicePageLayout layout{};
    layout.container = Window(0x600);
    m_platform.clients[layout.container] = TrvRect{0, 0, 698, 480};
    g_rectNames = {ARDENA_COMMAND_CHANGE_SIZE, QUARNEL_COMMAND_CHANGE_SIZE};
    CommandMessage message{};
    message.extra = &layout;
    message.window = Window(0x650);
    message.wideText = const_cast<wchar_t*>(L"dev-2");
    Invoke(YESTAL_COMMAND_CHANGE_SIZE, message);
    ASSERT_EQ(g_seen.size(), 16u);
    const int64_t codes[] = {0, 0, 0, 0, 0, 13, 15, 14, 9, 6, 2, 3, 21, 0, 1};
    for (size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(g_seen[i].code, codes[i]) << g_seen[i].name;
        EXPECT_EQ(g_seen[i].window, layout.container) << g_seen[i].name;
        EXPECT_EQ(g_seen[i].key, L"dev-2") << g_seen[i].name;
    }
    EXPECT_EQ(g_seen[10].name, ARDENA_COMMAND_CHANGE_SIZE);
    EXPECT_EQ(g_seen[10].rect.right, 698);
    EXPECT_EQ(g_seen[15].name, QUARNEL_COMMAND_CHANGE_SIZE);
    EXPECT_EQ(g_seen[15].window, Window(0x650));
    EXPECT_EQ(g_seen[15].rect.right, 200);
    EXPECT_EQ(g_seen[15].rect.bottom, 480);
}

TEST_F(Routing, MaximiseUsesTheWorkAreaOriginAndRestoresExactly) {
    m_platform.frame = TrvRect{510, 257, 1410, 823};
    m_platform.work = TrvRect{0, 40, 1920, 1080};  // a task bar across the top
    CommandMessage message{};
    Invoke(LUNDER_COMMAND_PRESS_MAX_OR_RESET, message);
    EXPECT_EQ(m_platform.frame.left, 0);
    EXPECT_EQ(m_platform.frame.top, 40);
    EXPECT_EQ(m_platform.frame.right, 1920);
    EXPECT_EQ(m_platform.frame.bottom, 1080);
    Invoke(LUNDER_COMMAND_PRESS_MAX_OR_RESET, message);
    EXPECT_EQ(m_platform.frame.left, 510);
    EXPECT_EQ(m_platform.frame.top, 257);
    EXPECT_EQ(m_platform.frame.right, 1410);
    EXPECT_EQ(m_platform.frame.bottom, 823);
    EXPECT_EQ(m_platform.placedViews, (std::vector<std::pair<int32_t, int32_t>>{{1920, 1040}, {900, 566}}));
}

TEST_F(Routing, ViewSwitchShowsAndHidesThePages) {
    Own(AllOwnedNames());
    struct Case {
        int64_t view;
        std::vector<int64_t> shows;  // device page, relay window, toolkit
    };
    const Case cases[] = {{0, {5, 5, 0}}, {1, {0, 0, 5}}, {2, {0, 0, 0}}, {3, {}}, {-1, {}}};
    for (const Case& c : cases) {
        g_seen.clear();
        CommandMessage message{};
        message.status = c.view;
        Invoke(LUNDER_COMMAND_CHANGE_TYPE, message);
        std::vector<int64_t> shows;
        for (const Seen& seen : g_seen) shows.push_back(seen.status);
        EXPECT_EQ(shows, c.shows) << "view " << c.view;
        if (!c.shows.empty()) {
            EXPECT_EQ(Names(), (std::vector<std::string>{YESTAL_COMMAND_SHOW_WINDOW, ZERITH_COMMAND_SHOW_WINDOW,
                                                         KESTOR_COMMAND_SHOW_WINDOW}));
        }
    }
}

TEST_F(Routing, OwnerQuestionsGoToThePageOfTheSection) {
    Own(AllOwnedNames());
    struct Case {
        int64_t section;
        std::string page;
        int64_t code;
        int64_t status;
    };
    // clang-format off
    const Case cases[] = {{9, MULVAR_COMMAND_DO_MUSIC, 17, 0}, {11, FAYDRA_COMMAND_DO_RINGTONE, 8, 0},
                          {13, VINTOR_COMMAND_DO_VIDEO, 9, 13}, {15, VINTOR_COMMAND_DO_VIDEO, 9, 15},
                          {19, TELBOR_COMMAND_DO_BOOK, 8, 0},  {2, "", 0, 0},
                          {16, "", 0, 0}};
    // clang-format on
    for (const Case& c : cases) {
        g_seen.clear();
        CommandMessage message{};
        message.code = c.section;
        Invoke(ZERITH_COMMAND_GET_OWNER, message);
        if (c.page.empty()) {
            EXPECT_TRUE(g_seen.empty()) << c.section;
            continue;
        }
        ASSERT_EQ(g_seen.size(), 1u) << c.section;
        EXPECT_EQ(g_seen[0].name, c.page);
        EXPECT_EQ(g_seen[0].code, c.code);
        EXPECT_EQ(g_seen[0].status, c.status);
    }
    for (const char* text : {"dev-1", static_cast<const char*>(nullptr)}) {
        g_seen.clear();
        CommandMessage message{};
        message.text = text;
        Invoke(ZERITH_COMMAND_UPDATE_SECTION_TYPE, message);
        EXPECT_EQ(Names(), std::vector<std::string>{text ? QUARNEL_COMMAND_SELECT_ITEM : QUARNEL_COMMAND_RESET_NUMBER});
    }
}

TEST_F(Routing, ArrivingDevicesJoinTheSwitcherAndReplaceOnlyAGoneCurrentDevice) {
    Own(AllOwnedNames());
    m_bus.Subscribe(ZERITH_COMMAND_DEVICE_CONNECTED, &trv::OnDeviceConnectedListener);
    struct Case {
        const wchar_t* current;    // the title bar's current device before the arrival
        int64_t currentConnected;  // the relay's answer about it
        bool switches;
    };
    const Case cases[] = {{nullptr, 0, false}, {L"new-1", 0, false}, {L"old-1", 1, false}, {L"old-1", 0, true}};
    for (const Case& c : cases) {
        g_seen.clear();
        TitleBarAnswers(c.current);
        std::vector<WideStringPair> entries;
        std::vector<DeviceRecord> pages;
        std::wstring switchedTo;
        g_answers[LUNDER_COMMAND_ADD_DEVICE] = [&entries](CommandMessage* m) {
            std::unique_ptr<WideStringPair> entry(static_cast<WideStringPair*>(m->data));  // handed over
            entries.push_back(*entry);
        };
        g_answers[YESTAL_COMMAND_ADDED_DEVICE] = [&pages](CommandMessage* m) {
            std::unique_ptr<DeviceRecord> record(static_cast<DeviceRecord*>(m->data));
            pages.push_back(*record);
        };
        const int64_t connected = c.currentConnected;
        g_answers[ZERITH_COMMAND_IS_DEVICE_CONNECTED] = [connected](CommandMessage* m) { m->status = connected; };
        g_answers[LUNDER_COMMAND_CHANGE_DEVICE] = [&switchedTo](CommandMessage* m) { switchedTo = m->wideText; };

        DeviceRecord device{"new-1", {{"ProductType", "iPhone9,3"}, {"DeviceName", "x"}}};
        CommandMessage message{};
        message.data = &device;
        Invoke(ZERITH_COMMAND_DEVICE_CONNECTED, message);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0], (WideStringPair{L"new-1", L"iPhone9,3"}));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].identifier, "new-1");
        EXPECT_EQ(pages[0].properties.size(), 2u);
        EXPECT_EQ(switchedTo, c.switches ? L"new-1" : L"");
    }
}

TEST_F(Routing, PayloadsAreMadeOnlyForAReceiver) {
    // Nobody owns the title bar's or the device page's names: nothing is allocated that could leak (the
    // sanitizer build checks), and the arrival does not fail.
    m_bus.Subscribe(ZERITH_COMMAND_DEVICE_CONNECTED, &trv::OnDeviceConnectedListener);
    DeviceRecord device{"new-1", {}};
    CommandMessage message{};
    message.data = &device;
    Invoke(ZERITH_COMMAND_DEVICE_CONNECTED, message);
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(Routing, RepliesReachThePageOnlyForTheCurrentDevice) {
    Own(AllOwnedNames());
    TitleBarAnswers(L"dev-1");
    for (const char* about : {"dev-1", "dev-2", "", static_cast<const char*>(nullptr)}) {
        g_seen.clear();
        CommandMessage reply{};
        reply.code = 101;
        reply.text = about;
        Invoke(ZERITH_COMMAND_DO_BOOKMARK, reply);
        const std::vector<std::string> names = Names();
        const bool delivered =
            std::find(names.begin(), names.end(), std::string(DUNMAR_COMMAND_DO_BOOKMARK)) != names.end();
        if (about == nullptr || std::strcmp(about, "dev-1") != 0) {
            EXPECT_FALSE(delivered) << (about != nullptr ? about : "(null)");
            continue;
        }
        ASSERT_TRUE(delivered);
        EXPECT_EQ(g_seen.back().key, L"dev-1");
        EXPECT_EQ(g_seen.back().code, 7);
        EXPECT_EQ(reply.wideText, nullptr);
    }
}

TEST_F(Routing, RequestsGoToTheRelayWithTheCurrentDevice) {
    Own(AllOwnedNames());
    for (const wchar_t* device : {static_cast<const wchar_t*>(nullptr), L"dev-1"}) {
        g_seen.clear();
        TitleBarAnswers(device);
        wchar_t callers[] = L"page";
        CommandMessage request{};
        request.code = 1;
        request.wideText = callers;
        Invoke(DUNMAR_COMMAND_DO_BOOKMARK, request);
        if (device == nullptr) {
            EXPECT_EQ(Names(), std::vector<std::string>{LUNDER_COMMAND_GET_CURRENT_DEVICE});
        } else {
            ASSERT_EQ(Names().back(), ZERITH_COMMAND_DO_BOOKMARK);
            EXPECT_EQ(g_seen.back().key, L"dev-1");
        }
        EXPECT_EQ(request.wideText, callers);
    }
}

namespace {

// A row with a counting release stands for any feature: what it drops, it releases.
struct Released {
    PayloadLeg leg;
    int64_t code;
    void* payload;
    bool operator==(const Released& o) const { return leg == o.leg && code == o.code && payload == o.payload; }
};
std::vector<Released> g_released;
void CountRelease(PayloadLeg leg, int64_t code, void* payload) { g_released.push_back({leg, code, payload}); }

}  // namespace

TEST_F(Routing, DroppedTrafficReleasesItsPayload) {
    Own(AllOwnedNames());
    const trv::FeatureRow row{CORTAL_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_NOTE, true, &trv::kCalendarsCodeMap,
                              &CountRelease, sdk::kSectionCalendars, nullptr};
    int payload = 0;
    TitleBarAnswers(L"dev-1");
    for (const char* about : {"dev-1", "dev-2", "", static_cast<const char*>(nullptr)}) {
        g_released.clear();
        CommandMessage reply{};
        reply.name = ZERITH_COMMAND_DO_NOTE;
        reply.code = 65;
        reply.text = about;
        reply.extra = &payload;
        trv::RelayFeatureReply(row, &reply);
        const bool current = about != nullptr && std::strcmp(about, "dev-1") == 0;
        const std::vector<Released> dropped{{PayloadLeg::RelayReply, 65, &payload}};
        EXPECT_EQ(g_released, current ? std::vector<Released>() : dropped) << (about != nullptr ? about : "(null)");
    }
    for (const wchar_t* device : {static_cast<const wchar_t*>(nullptr), L"dev-1"}) {
        g_released.clear();
        TitleBarAnswers(device);
        CommandMessage request{};
        request.name = CORTAL_COMMAND_DO_NOTE;
        request.code = 1;
        request.data = &payload;
        trv::RelayFeatureRequest(row, &request);
        const std::vector<Released> dropped{{PayloadLeg::PageRequest, 1, &payload}};
        EXPECT_EQ(g_released, device != nullptr ? std::vector<Released>() : dropped);
    }
}

TEST_F(Routing, NotesCodesAreTranslatedBothWays) {
    Own(AllOwnedNames());
    TitleBarAnswers(L"dev-1");
    // The fake relay module takes the chosen paths of an import as the real one does; the checked notes of
    // an export are only lent to it (the host frees them, which the sanitizer build checks).
    g_answers[ZERITH_COMMAND_DO_NOTE] = [](CommandMessage* m) {
        if (m->code == sdk::notes::kRelayImportXml)
            sdk::notes::ReleasePayload(PayloadLeg::RelayRequest, m->code, m->data);
    };
    NoteItem checked;
    const std::pair<int64_t, int64_t> requests[] = {{1, 58}, {2, 61}, {3, 60}, {4, 62}, {7, 59}, {5, -1}};
    for (const auto& c : requests) {
        g_seen.clear();
        CommandMessage request{};
        request.code = c.first;
        if (c.first == sdk::notes::kRequestExport || c.first == sdk::notes::kRequestBackupXml) {
            request.data = new std::vector<NoteItem*>{&checked};
            request.count = 1;
        }
        Invoke(CORTAL_COMMAND_DO_NOTE, request);
        if (c.second < 0) {
            EXPECT_EQ(Names(), std::vector<std::string>{}) << c.first;
            continue;
        }
        ASSERT_EQ(Names().back(), ZERITH_COMMAND_DO_NOTE) << c.first;
        EXPECT_EQ(g_seen.back().code, c.second);
        EXPECT_EQ(g_seen.back().key, L"dev-1");
    }
    struct Reply {
        int64_t relayCode;
        int64_t value2, value3;
        std::vector<std::string> names;  // the deliveries after the device query
        int64_t pageCode;
    };
    const std::string counter = QUARNEL_COMMAND_UPDATE_ITEM, page = CORTAL_COMMAND_DO_NOTE;
    // clang-format off
    const Reply replies[] = {{57, 0, -1, {counter, page}, 11}, {57, 0, 3, {counter, page}, 10},
                             {58, 0, 0, {page}, 1},           {59, 4, 0, {counter, page}, 7},
                             {62, 5, 0, {counter, page}, 7},  {60, 0, 0, {}, 0},
                             {61, 0, 0, {}, 0}};
    // clang-format on
    for (const Reply& c : replies) {
        g_seen.clear();
        CommandMessage reply{};
        reply.code = c.relayCode;
        reply.value2 = c.value2;
        reply.value3 = c.value3;
        reply.text = "dev-1";
        Invoke(ZERITH_COMMAND_DO_NOTE, reply);
        std::vector<std::string> names = Names();
        names.erase(std::remove(names.begin(), names.end(), std::string(LUNDER_COMMAND_GET_CURRENT_DEVICE)),
                    names.end());
        EXPECT_EQ(names, c.names) << c.relayCode;
        if (!c.names.empty()) {
            EXPECT_EQ(g_seen.back().code, c.pageCode) << c.relayCode;
        }
    }
}

TEST_F(Routing, BackupTrafficNeedsNoCurrentDevice) {
    Own(AllOwnedNames());
    TitleBarAnswers(nullptr);
    g_answers[ZERITH_COMMAND_DO_BACKUP] = [](CommandMessage* m) {
        sdk::backups::ReleasePayload(PayloadLeg::RelayRequest, m->code, m->data);
    };
    CommandMessage request{};
    request.code = 4;
    Invoke(BRISEL_COMMAND_DO_BACKUP, request);
    g_answers.erase(ZERITH_COMMAND_DO_BACKUP);
    CommandMessage reply{};
    reply.code = 136;
    reply.text = "dev-9";
    Invoke(ZERITH_COMMAND_DO_BACKUP, reply);
    EXPECT_EQ(Names(), (std::vector<std::string>{ZERITH_COMMAND_DO_BACKUP, BRISEL_COMMAND_DO_BACKUP}));
    EXPECT_EQ(g_seen[0].code, 136);
    EXPECT_EQ(g_seen[1].code, 1) << "one backup of the list";
}

TEST_F(Routing, ConnectionReportsSetTheDevicePageState) {
    Own(AllOwnedNames());
    // clang-format off
    const std::pair<const char*, int64_t> cases[] = {
        {ZERITH_COMMAND_START_LOAD_ITUNES_DLL, 1}, {ZERITH_COMMAND_START_CONNECT_DEVICE, 1},
        {ZERITH_COMMAND_NOT_PAIR, 3}, {ZERITH_COMMAND_CONNECT_DEVICE_FAIL, 5}, {ZERITH_COMMAND_FINISH_CONNECT_DEVICE, 6}};
    // clang-format on
    for (const auto& c : cases) {
        g_seen.clear();
        CommandMessage message{};
        Invoke(c.first, message);
        ASSERT_EQ(Names(), std::vector<std::string>{YESTAL_COMMAND_SWITCH_STATUS}) << c.first;
        EXPECT_EQ(g_seen[0].status, c.second) << c.first;
    }
    for (const char* name : {ZERITH_COMMAND_READY_START_SERVER, ZERITH_COMMAND_SERVER_CRASH}) {
        CommandMessage message{};
        message.status = (int64_t{1} << 32) | 7;  // the low 32 bits travel
        Invoke(name, message);
    }
    EXPECT_EQ(m_platform.posted,
              (std::vector<std::string>{"ZERITH_COMMAND_READY_START_SERVER=7", "ZERITH_COMMAND_SERVER_CRASH=7"}));
}

TEST_F(Routing, DisconnectShowsTheNoticeAndTellsTheRelay) {
    Own(AllOwnedNames());
    m_bus.Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &trv::OnDeviceRemovedRelayListener);
    WideStringPair pair{L"dev-1", L"X"};
    const void* relayData = nullptr;
    const void* relayExtra = &pair;
    g_answers[ZERITH_COMMAND_DEVICE_DISCONNECT] = [&](CommandMessage* m) {
        relayData = m->data;
        relayExtra = m->extra;
    };
    CommandMessage message{};
    message.extra = &pair;
    Invoke(ZERITH_COMMAND_DEVICE_DISCONNECT, message);
    EXPECT_EQ(m_platform.notices, std::vector<std::wstring>{L"X  is disconnected."});
    EXPECT_EQ(relayData, &pair);
    EXPECT_EQ(relayExtra, nullptr);
    EXPECT_EQ(message.extra, &pair);  // the listener worked on its own copy

    // Without its device pair nothing says which device left: no notice, no listener, nothing relayed.
    relayExtra = &pair;
    CommandMessage unnamed{};
    Invoke(ZERITH_COMMAND_DEVICE_DISCONNECT, unnamed);
    EXPECT_EQ(m_platform.notices.size(), 1u);
    EXPECT_EQ(relayExtra, &pair);
}

TEST_F(Routing, PendingHostActionsLeaveTheRecordAndTheModulesAlone) {
    Own(AllOwnedNames());
    for (const char* name : {ZERITH_COMMAND_SCAN_USB_DEVICE}) {
        CommandMessage message{};
        message.code = 3;
        Invoke(name, message);
        EXPECT_EQ(message.code, 3) << name;
        EXPECT_STREQ(message.name, name);
    }
    EXPECT_TRUE(g_seen.empty());
}
