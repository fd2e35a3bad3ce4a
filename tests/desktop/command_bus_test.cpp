// The command bus's routing rules: registration, delivery, invocation, fan-out and the registries.
#include <gtest/gtest.h>

#include <cstring>

#include "bus_test_support.h"
#include "command_names.h"

using trv::test::DeliveriesOf;
using trv::test::TestBus;

namespace {

int g_handlerCalls = 0;
void TRV_CALL CountingHandler(CommandMessage* message) {
    ++g_handlerCalls;
    message->value2 = 77;
}

std::vector<int64_t> g_listenerSaw;
void TRV_CALL ListenerA(CommandMessage* copy) {
    g_listenerSaw.push_back(copy->code);
    copy->code = -1;  // must reach neither the caller nor the next listener
    copy->status = -1;
}
void TRV_CALL ListenerB(CommandMessage* copy) { g_listenerSaw.push_back(copy->code * 10 + copy->status); }

}  // namespace

TEST(CommandBus, LastRegistrationOwnsTheName) {
    TestBus t;
    t.AddFakeModule(0, {ZERITH_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_APP});
    t.AddFakeModule(1, {ZERITH_COMMAND_DO_NOTE});

    CommandMessage message{};
    message.code = 5;
    t.bus().SendToOwner(ZERITH_COMMAND_DO_NOTE, &message);
    t.bus().SendToOwner(ZERITH_COMMAND_DO_APP, &message);

    ASSERT_EQ(DeliveriesOf(1).size(), 1u);
    EXPECT_EQ(DeliveriesOf(1)[0].name, ZERITH_COMMAND_DO_NOTE);
    ASSERT_EQ(DeliveriesOf(0).size(), 1u);
    EXPECT_EQ(DeliveriesOf(0)[0].name, ZERITH_COMMAND_DO_APP);
    EXPECT_EQ(t.bus().OwnerOf(ZERITH_COMMAND_DO_NOTE), trv::test::FakeModuleHandle(1));
}

TEST(CommandBus, DeliverySetsNameAndReturnsTheAnswer) {
    TestBus t;
    t.AddFakeModule(2, {LUNDER_COMMAND_GET_CURRENT_DEVICE, ZERITH_COMMAND_DO_CONTACT});
    CommandMessage message{};
    message.name = "ARDENA_COMMAND_DO_CONTACT";
    // One record reused for two names in a row, as the relays do.
    t.bus().SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, &message);
    EXPECT_STREQ(message.name, LUNDER_COMMAND_GET_CURRENT_DEVICE);
    EXPECT_EQ(message.status, 1002);
    t.bus().SendToOwner(ZERITH_COMMAND_DO_CONTACT, &message);
    ASSERT_EQ(DeliveriesOf(2).size(), 2u);
    EXPECT_EQ(DeliveriesOf(2)[1].name, ZERITH_COMMAND_DO_CONTACT);
}

TEST(CommandBus, UndeliverableMessagesStayUntouched) {
    struct Case {
        const char* what;
        bool registerName;
        bool withReceiver;
    };
    const Case cases[] = {
        {"nobody registered the name", false, true},
        {"owner has not set its receiver", true, false},
    };
    for (const Case& c : cases) {
        TestBus t;
        t.AddFakeModule(
            0, c.registerName ? std::vector<std::string>{YESTAL_COMMAND_SHOW_WINDOW} : std::vector<std::string>{},
            c.withReceiver);
        CommandMessage message{};
        const char* original = "ORIGINAL";
        message.name = original;
        t.bus().SendToOwner(YESTAL_COMMAND_SHOW_WINDOW, &message);
        EXPECT_EQ(message.name, original) << c.what;
        EXPECT_EQ(message.window, nullptr) << c.what;
        EXPECT_EQ(message.status, 0) << c.what;
        EXPECT_TRUE(DeliveriesOf(0).empty()) << c.what;
    }
}

TEST(CommandBus, NullRecordReachesTheReceiverAsNull) {
    TestBus t;
    t.AddFakeModule(3, {ZERITH_COMMAND_EXIT_SERVER});
    t.bus().SendToOwner(ZERITH_COMMAND_EXIT_SERVER, nullptr);
    ASSERT_EQ(DeliveriesOf(3).size(), 1u);
    EXPECT_EQ(DeliveriesOf(3)[0].name, "(null)");
}

TEST(CommandBus, RegistrationFromAnUnknownModuleIsRefused) {
    TestBus t;
    char stranger = 0;
    CommandMessage message{};
    message.kind = COMMAND_KIND_REGISTER;
    message.name = ZERITH_COMMAND_DO_SMS;
    message.owner = &stranger;
    trv::SendCommand(&message);
    EXPECT_EQ(t.bus().OwnerRecordOf(ZERITH_COMMAND_DO_SMS), nullptr);
    EXPECT_EQ(t.bus().OwnerOf(ZERITH_COMMAND_DO_SMS), nullptr);
}

TEST(CommandBus, InvocationCallsTheHandlerOfExactlyThatName) {
    TestBus t;
    t.bus().RegisterHostHandler(ARDENA_COMMAND_DO_CONTACT, &CountingHandler);
    struct Case {
        const char* name;
        uint8_t kind;
        int calls;
    };
    const Case cases[] = {
        {ARDENA_COMMAND_DO_CONTACT, COMMAND_KIND_INVOKE, 1},
        {"ardena_command_do_contact", COMMAND_KIND_INVOKE, 0},  // byte-exact names
        {"ARDENA_COMMAND_DO_CONTACT ", COMMAND_KIND_INVOKE, 0},
        {ARDENA_COMMAND_DO_CONTACT, 2, 0},  // unknown kinds do nothing
        {nullptr, COMMAND_KIND_INVOKE, 0},
    };
    for (const Case& c : cases) {
        g_handlerCalls = 0;
        CommandMessage message{};
        message.kind = c.kind;
        message.name = c.name;
        trv::SendCommand(&message);
        EXPECT_EQ(g_handlerCalls, c.calls) << (c.name ? c.name : "null") << " kind " << int(c.kind);
        EXPECT_EQ(message.value2, c.calls ? 77 : 0);
    }
    trv::SendCommand(nullptr);  // must not crash
}

TEST(CommandBus, NotifyGivesEachListenerItsOwnCopy) {
    TestBus t;
    t.bus().Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &ListenerA);
    t.bus().Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &ListenerB);
    t.bus().Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &ListenerA);  // the same listener may stand twice
    g_listenerSaw.clear();
    CommandMessage message{};
    message.code = 4;
    message.status = 2;
    t.bus().Notify(&message, ZERITH_COMMAND_DEVICE_DISCONNECT);
    EXPECT_EQ(g_listenerSaw, (std::vector<int64_t>{4, 42, 4}));
    EXPECT_EQ(message.code, 4);
    EXPECT_EQ(message.status, 2);

    g_listenerSaw.clear();
    t.bus().Notify(&message, ZERITH_COMMAND_DEVICE_CONNECTED);
    EXPECT_TRUE(g_listenerSaw.empty());
}

TEST(CommandBus, RegistriesAnswerNothingForUnknownKeys) {
    TestBus t;
    int window = 0;
    t.bus().RegisterWindow(2, &window);
    EXPECT_EQ(t.bus().GetWindowById(2), &window);
    EXPECT_EQ(t.bus().GetWindowById(4), nullptr);
    EXPECT_EQ(t.bus().GetDialogById(5), nullptr);
    EXPECT_EQ(t.bus().GetImage("common\\never-loaded.png"), nullptr);
    EXPECT_EQ(t.bus().FindProgressKey(L"any"), 0);
    EXPECT_EQ(t.bus().FindProgressKey(L""), 0);
    int icon = 0;
    t.bus().SetNamedIcon("LOGO_ICON", &icon);
    EXPECT_EQ(t.bus().GetNamedIcon("LOGO_ICON"), &icon);
    EXPECT_EQ(t.bus().GetNamedIcon("OTHER"), nullptr);
}

TEST(CommandBus, PluginSubscriptOnTheLentCacheYieldsNullForUnknownPaths) {
    TestBus t;
    ModuleRecord* record = t.AddFakeModule(0, {});
    record->images = &t.bus().Images();
    ImageCache* cache = ImageCacheOf(record);
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ((*cache)["common\\alert.png"], nullptr);  // the map's own subscript, as plug-ins use it
    EXPECT_EQ(t.bus().GetImage("common\\alert.png"), nullptr);
    EXPECT_EQ(ImageCacheOf(nullptr), nullptr);
}
