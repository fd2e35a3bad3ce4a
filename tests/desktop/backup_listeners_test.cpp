// The backup manager's device listeners: what reaches the backup page and what the notifier keeps.
#include <gtest/gtest.h>

#include "backup_listeners.h"
#include "bus_test_support.h"
#include "command_names.h"
#include "wide_pair.h"

using trv::test::DeliveriesOf;
using trv::test::TestBus;

namespace {

void Subscribe(trv::CommandBus& bus) {
    bus.Subscribe(ZERITH_COMMAND_GET_DEVICE_INFO, &trv::OnBackupDeviceInfo);
    bus.Subscribe(ZERITH_COMMAND_DEVICE_DISCONNECT, &trv::OnBackupDeviceRemoved);
}

}  // namespace

TEST(BackupListeners, DeviceEventsReachTheBackupPageWithAPairItOwns) {
    struct Case {
        const char* event;
        bool inData;  // the pair travels in `data` (device info) or `extra` (removal)
        int64_t status;
        int64_t expectedCode;  // 0: nothing delivered
    };
    const Case cases[] = {
        {ZERITH_COMMAND_GET_DEVICE_INFO, true, 1, 16},
        {ZERITH_COMMAND_GET_DEVICE_INFO, true, 0, 0},  // no pair in `data` when status is 0
        {ZERITH_COMMAND_DEVICE_DISCONNECT, false, 0, 17},
    };
    for (const Case& c : cases) {
        TestBus t;
        t.AddFakeModule(1, {BRISEL_COMMAND_DO_BACKUP});
        Subscribe(t.bus());
        WideStringPair device{L"00008030-001A2B3C", L"Phone of Test"};
        CommandMessage message{};
        message.status = c.status;
        (c.inData ? message.data : message.extra) = &device;
        t.bus().Notify(&message, c.event);

        if (c.expectedCode == 0) {
            EXPECT_TRUE(DeliveriesOf(1).empty()) << c.event;
            continue;
        }
        ASSERT_EQ(DeliveriesOf(1).size(), 1u) << c.event;
        const CommandMessage& got = DeliveriesOf(1)[0].copy;
        EXPECT_EQ(DeliveriesOf(1)[0].name, BRISEL_COMMAND_DO_BACKUP);
        EXPECT_EQ(got.code, c.expectedCode);
        auto* pair = static_cast<WideStringPair*>(got.extra);
        ASSERT_NE(pair, nullptr);
        EXPECT_NE(pair, &device);  // a copy the page deletes
        EXPECT_EQ(*pair, device);
        delete pair;
        // The notifier's record is not changed by the listener.
        EXPECT_EQ(message.code, 0);
        EXPECT_EQ(message.name, nullptr);
    }
}
