// The contacts plug-in's entry and receiver, loaded from the built plug-in folder as the host loads it:
// what it registers, when it makes, moves and shows a page window, and which replies reach the page (as
// posted WM_HOST_REPLY messages) or are answered at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "command_message.h"
#include "command_names.h"
#include "host_messages.h"
#include "contact_records.h"
#include "item_batch.h"

#include "ardena_harness.h"

namespace {

using ArdenaModule = ardena_test::Harness;

CommandMessage Message(const char* name, const wchar_t* key) {
    CommandMessage message{};
    message.name = name;
    message.wideText = const_cast<wchar_t*>(key);
    return message;
}

HWND Show(const wchar_t* key, RECT* rect) {
    ArdenaModule& module = ArdenaModule::Get();
    CommandMessage message = Message(ARDENA_COMMAND_SHOW_WINDOW, key);
    message.window = module.parent;
    message.data = rect;
    module.record.receive(&message);
    return message.window == module.parent ? nullptr : message.window;
}

struct Posted {
    bool found = false;
    WPARAM code = 0;
    LPARAM payload = 0;
};

// Takes the next WM_HOST_REPLY posted to `page` and lets the page handle it (which releases its payload).
Posted TakeReply(HWND page) {
    Posted posted;
    MSG msg = {};
    if (PeekMessageW(&msg, page, WM_HOST_REPLY, WM_HOST_REPLY, PM_REMOVE)) {
        posted = Posted{true, msg.wParam, msg.lParam};
        DispatchMessageW(&msg);
    }
    return posted;
}

int64_t SequenceOf(const wchar_t* key) {
    CommandMessage query = Message(ARDENA_COMMAND_DO_CONTACT, key);
    query.code = 13;
    query.status = -99;
    ArdenaModule::Get().record.receive(&query);
    return query.status;
}

wchar_t* HeapText(const wchar_t* text) { return _wcsdup(text); }

}  // namespace

TEST(ArdenaModule, RegistersItsFourNamesInOrderAsItsOwnModule) {
    ArdenaModule& module = ArdenaModule::Get();
    ASSERT_NE(module.library, nullptr);
    ASSERT_NE(module.record.receive, nullptr);
    const char* expected[] = {"ARDENA_COMMAND_SHOW_WINDOW", "ARDENA_COMMAND_CHANGE_SIZE", "ARDENA_COMMAND_HIDE_WINDOW",
                              "ARDENA_COMMAND_DO_CONTACT"};
    ASSERT_EQ(module.registrations.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_STREQ(module.registrations[i].name, expected[i]);
        EXPECT_EQ(module.registrations[i].kind, COMMAND_KIND_REGISTER);
        EXPECT_EQ(module.registrations[i].owner, module.library);
    }
}

TEST(ArdenaModule, OnePagePerDeviceMadeWhereTheHostSaysAndShownLater) {
    ArdenaModule& module = ArdenaModule::Get();
    RECT rect = {200, 80, 900, 560};
    EXPECT_EQ(Show(L"dev-a", nullptr), nullptr) << "no rectangle, no page";
    CommandMessage early = Message(ARDENA_COMMAND_CHANGE_SIZE, L"dev-a");
    early.data = &rect;
    module.record.receive(&early);  // no page: nothing to move

    ASSERT_EQ(Show(L"dev-b", &rect), nullptr) << "the creating call answers no window";
    CommandMessage answer = Message(ARDENA_COMMAND_SHOW_WINDOW, L"dev-b");
    RECT elsewhere = {0, 0, 10, 10};
    answer.data = &elsewhere;
    answer.window = module.parent;
    module.record.receive(&answer);
    HWND page = answer.window;
    ASSERT_NE(page, module.parent);
    wchar_t className[64] = {};
    GetClassNameW(page, className, 64);
    EXPECT_STREQ(className, L"DhContactsDelegate");
    EXPECT_EQ(GetParent(page), module.parent);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(page, GWL_STYLE)) & (WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN),
              static_cast<DWORD>(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
    // The page takes dropped files; nothing else of the extended styles is set.
    EXPECT_EQ(GetWindowLongW(page, GWL_EXSTYLE) & ~(WS_EX_NOPARENTNOTIFY | WS_EX_ACCEPTFILES), 0);
    EXPECT_NE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    EXPECT_TRUE(IsWindowVisible(page)) << "the second SHOW_WINDOW shows the page";
    RECT placed = {};
    GetWindowRect(page, &placed);
    MapWindowPoints(nullptr, module.parent, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, 200) << "a known page is not moved by SHOW_WINDOW";
    EXPECT_EQ(placed.right, 900);

    EXPECT_EQ(Show(L"dev-b", &rect), page) << "no second window for a known device";
    EXPECT_EQ(Show(L"dev-a", nullptr), nullptr);

    RECT moved = {210, 90, 610, 390};
    CommandMessage size = Message(ARDENA_COMMAND_CHANGE_SIZE, L"dev-b");
    size.data = &moved;
    module.record.receive(&size);
    GetWindowRect(page, &placed);
    MapWindowPoints(nullptr, module.parent, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, 210);
    EXPECT_EQ(placed.top, 90);
    EXPECT_EQ(placed.right - placed.left, 400);
    EXPECT_EQ(placed.bottom - placed.top, 300);

    // The names it owns but ignores, and names it does not own, change nothing.
    for (const char* name : {ARDENA_COMMAND_HIDE_WINDOW, CORTAL_COMMAND_SHOW_WINDOW}) {
        CommandMessage other = Message(name, L"dev-b");
        other.window = module.parent;
        module.record.receive(&other);
        EXPECT_EQ(other.window, module.parent) << name;
        EXPECT_TRUE(IsWindowVisible(page)) << name;
    }
}

TEST(ArdenaModule, RepliesArePostedToThePageOrAnsweredAtOnce) {
    ArdenaModule& module = ArdenaModule::Get();
    RECT rect = {0, 0, 300, 200};
    Show(L"dev-c", &rect);
    HWND page = Show(L"dev-c", nullptr);
    ASSERT_NE(page, nullptr);
    while (TakeReply(page).found) {
    }

    struct Case {
        int64_t code;
        bool withText;  // a malloc'd identifier travels in `extra`
        bool posted;
        bool emptyPayload;
    };
    // clang-format off
    const Case cases[] = {
        {6, true, true, false},   {19, true, true, false}, {14, false, true, false}, {15, false, true, false},
        {11, false, true, true},  {2, false, false, false}, {16, false, false, false},
        {(int64_t{1} << 32) + 6, true, false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        CommandMessage reply = Message(ARDENA_COMMAND_DO_CONTACT, L"dev-c");
        reply.code = c.code;
        wchar_t* text = c.withText ? HeapText(L"contact-1") : nullptr;
        reply.extra = text;
        module.record.receive(&reply);
        const Posted posted = TakeReply(page);
        EXPECT_EQ(posted.found, c.posted) << c.code;
        if (posted.found) {
            EXPECT_EQ(static_cast<int64_t>(posted.code), c.code);
            EXPECT_EQ(posted.payload, c.emptyPayload ? 0 : reinterpret_cast<LPARAM>(text)) << c.code;
        } else {
            std::free(text);  // not taken by anyone
        }
    }

    CommandMessage stranger = Message(ARDENA_COMMAND_DO_CONTACT, L"dev-unknown");
    stranger.code = 14;
    module.record.receive(&stranger);
    EXPECT_FALSE(TakeReply(page).found);
}

TEST(ArdenaModule, BatchesOlderThanThePageAreDropped) {
    ArdenaModule& module = ArdenaModule::Get();
    RECT rect = {0, 0, 300, 200};
    Show(L"dev-d", &rect);
    HWND page = Show(L"dev-d", nullptr);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(SequenceOf(L"dev-d"), 0);
    EXPECT_FALSE(TakeReply(page).found) << "the sequence query posts nothing";

    struct Case {
        int64_t code;
        int64_t sequence;  // -100: no batch
        bool posted;
        int64_t pageSequenceAfter;
    };
    const Case cases[] = {
        {1, 5, true, 5},     // newer: delivered, the page adopts it
        {1, 5, true, 5},     // equal: delivered
        {1, 4, false, 5},    // older: dropped
        {12, 4, false, 5},   // groups are checked against the same sequence
        {12, 7, true, 5},    // groups do not move the contacts sequence
        {1, -100, true, 5},  // loading finished: posted without a batch
    };
    for (const Case& c : cases) {
        CommandMessage reply = Message(ARDENA_COMMAND_DO_CONTACT, L"dev-d");
        reply.code = c.code;
        if (c.sequence != -100 && c.code == 1) {
            auto* batch = new ItemBatch<iOSContact>();
            batch->sequence = c.sequence;
            reply.extra = batch;
        } else if (c.sequence != -100) {
            auto* batch = new ItemBatch<iOSContactGroup>();
            batch->sequence = c.sequence;
            reply.extra = batch;
        }
        module.record.receive(&reply);
        const Posted posted = TakeReply(page);
        EXPECT_EQ(posted.found, c.posted) << c.code << "/" << c.sequence;
        if (posted.found) {
            EXPECT_EQ(posted.payload, reinterpret_cast<LPARAM>(reply.extra));
        }
        EXPECT_EQ(SequenceOf(L"dev-d"), c.pageSequenceAfter) << c.code << "/" << c.sequence;
    }
}
