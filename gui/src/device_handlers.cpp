// Connection progress and device state: the host turns the relay module's reports into states of the
// device page, entries of the title bar's device switcher and notifications of the host's listeners, and
// relays device renames and switches. Handlers run on the thread on which the relay module invokes them.
// Heap payloads handed to a module (title-bar entries, device records) are made only when a receiver owns
// the name, and belong to that receiver once delivered.
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include <glog/logging.h>

#include "command_names.h"
#include "device_record.h"
#include "wide_pair.h"
#include "command_bus.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "host_ui.h"
#include "vnl_utf8.h"

namespace trv {
namespace {

// States of the device page (YESTAL_COMMAND_SWITCH_STATUS).
constexpr int64_t kStateConnecting = 1;
constexpr int64_t kStateNotPaired = 3;
constexpr int64_t kStateFailed = 5;
constexpr int64_t kStateConnected = 6;
constexpr int64_t kRenameCode = 135;

bool g_userAskedForUpdate = false;

void SwitchOverviewState(CommandMessage* message, int64_t state) {
    if (message == nullptr) {
        return;
    }
    message->status = state;
    SendToOwner(YESTAL_COMMAND_SWITCH_STATUS, message);
}

// Hands `payload` to the owner of `name` in `data` of a copy of `message`; the payload is made only when
// somebody will receive it.
template <typename Payload, typename Make>
void HandOverCopy(const CommandMessage& message, const char* name, Make make) {
    if (!CanDeliver(name)) {
        return;
    }
    std::unique_ptr<Payload> payload = make();
    CommandMessage copy = message;
    copy.data = payload.release();  // the receiver deletes it
    SendToOwner(name, &copy);
}

// The title bar's current device (a heap string the caller frees), or null.
struct CurrentDevice {
    explicit CurrentDevice(CommandMessage* message) : m_message(message), m_callersText(message->wideText) {
        message->wideText = nullptr;
        SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, message);
        m_device = message->wideText;
    }
    ~CurrentDevice() {
        // An answer that a module wrote into `wideText` meanwhile stays for the caller.
        if (m_message->wideText == m_device) {
            m_message->wideText = m_callersText;
        }
        std::free(m_device);
    }
    CurrentDevice(const CurrentDevice&) = delete;
    CurrentDevice& operator=(const CurrentDevice&) = delete;
    wchar_t* get() const { return m_device; }

private:
    CommandMessage* m_message;
    wchar_t* m_callersText;
    wchar_t* m_device = nullptr;
};

}  // namespace

bool UserAskedForUpdate() { return g_userAskedForUpdate; }

extern "C" void TRV_CALL OnConnectingProgress(CommandMessage* message) {
    SwitchOverviewState(message, kStateConnecting);
}
extern "C" void TRV_CALL OnConnectDeviceFail(CommandMessage* message) { SwitchOverviewState(message, kStateFailed); }
extern "C" void TRV_CALL OnNotPaired(CommandMessage* message) { SwitchOverviewState(message, kStateNotPaired); }
extern "C" void TRV_CALL OnFinishConnectDevice(CommandMessage* message) {
    SwitchOverviewState(message, kStateConnected);
}

extern "C" void TRV_CALL OnDeviceConnected(CommandMessage* message) {
    if (message != nullptr) {
        Notify(message, ZERITH_COMMAND_DEVICE_CONNECTED);
    }
}

extern "C" void TRV_CALL OnDeviceConnectedListener(CommandMessage* copy) {
    if (copy == nullptr || copy->data == nullptr) {
        return;
    }
    // A device that arrives ends whatever the progress dialog showed (a driver installation among them).
    CurrentHostUi().RunOnUiThread([] { CurrentHostUi().CloseProgressDialog(); });
    const DeviceRecord device = *static_cast<const DeviceRecord*>(copy->data);
    auto type = device.properties.find("ProductType");
    const std::wstring productType =
        type == device.properties.end() ? std::wstring() : vnl::WideFromUtf8(type->second.c_str());
    const std::wstring identifier = vnl::WideFromUtf8(device.identifier.c_str());

    HandOverCopy<WideStringPair>(*copy, LUNDER_COMMAND_ADD_DEVICE,
                                 [&] { return std::make_unique<WideStringPair>(identifier, productType); });
    HandOverCopy<DeviceRecord>(*copy, YESTAL_COMMAND_ADDED_DEVICE,
                               [&] { return std::make_unique<DeviceRecord>(device); });

    CommandMessage query{};
    CurrentDevice current(&query);
    if (current.get() == nullptr || identifier == current.get()) {
        return;
    }
    query.wideText = current.get();
    query.status = 0;
    SendToOwner(ZERITH_COMMAND_IS_DEVICE_CONNECTED, &query);
    if (query.status != 0) {
        return;  // the current device is still there: the new one only joins the switcher
    }
    std::unique_ptr<wchar_t, decltype(&std::free)> newDevice(HeapWideCopy(identifier), &std::free);
    CommandMessage change{};
    change.wideText = newDevice.get();
    SendToOwner(LUNDER_COMMAND_CHANGE_DEVICE, &change);
}

extern "C" void TRV_CALL OnDeviceDisconnect(CommandMessage* message) {
    // Without its device pair nothing says which device left, and the listeners would pass on a null
    // pair: such a report is ignored.
    if (message == nullptr || message->extra == nullptr) {
        return;
    }
    const auto* pair = static_cast<const WideStringPair*>(message->extra);
    CurrentHostPlatform().ShowNotice(pair->second + L" " + L" is disconnected.");
    Notify(message, ZERITH_COMMAND_DEVICE_DISCONNECT);
}

extern "C" void TRV_CALL OnDeviceRemovedRelayListener(CommandMessage* copy) {
    if (copy == nullptr) {
        return;
    }
    copy->data = copy->extra;
    copy->extra = nullptr;
    SendToOwner(ZERITH_COMMAND_DEVICE_DISCONNECT, copy);
}

extern "C" void TRV_CALL OnGetDeviceInfo(CommandMessage* message) {
    if (message == nullptr || message->data == nullptr) {
        return;
    }
    if (message->status != 0) {
        const WideStringPair pair = *static_cast<const WideStringPair*>(message->data);
        HandOverCopy<WideStringPair>(*message, LUNDER_COMMAND_ADD_DEVICE,
                                     [&] { return std::make_unique<WideStringPair>(pair); });
        // Only this form carries a device pair, which is what the listeners read.
        Notify(message, ZERITH_COMMAND_GET_DEVICE_INFO);
        return;
    }
    const DeviceRecord device = *static_cast<const DeviceRecord*>(message->data);
    HandOverCopy<DeviceRecord>(*message, YESTAL_COMMAND_UPDATE_DEVICE_INFO,
                               [&] { return std::make_unique<DeviceRecord>(device); });
}

extern "C" void TRV_CALL OnChangeDevice(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    SendToOwner(YESTAL_COMMAND_SWITCH_DEVICE, message);
    SendToOwner(ZERITH_COMMAND_CHANGE_DEVICE, message);
}

extern "C" void TRV_CALL OnOverviewChangeDeviceName(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    message->extra = message->wideText;  // the new name
    CurrentDevice current(message);
    if (current.get() != nullptr) {
        message->wideText = current.get();
        message->code = kRenameCode;
        SendToOwner(ZERITH_COMMAND_DO_BASICINFO, message);
    }
}

extern "C" void TRV_CALL OnBasicInfo(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const std::wstring name = vnl::WideFromUtf8(message->text);
    wchar_t* const callersText = message->wideText;
    message->wideText = const_cast<wchar_t*>(name.c_str());
    SendToOwner(YESTAL_COMMAND_CHANGE_DEVICE_NAME, message);
    SendToOwner(LUNDER_COMMAND_CHANGE_DEVICE_NAME, message);
    message->wideText = callersText;
    std::free(message->extra);  // the relay's answer, on the shared heap
    message->extra = nullptr;
}

extern "C" void TRV_CALL OnScanProgress(CommandMessage* message) {
    if (message == nullptr || message->extra == nullptr) {
        return;
    }
    const int id = CommandBus::Instance().FindProgressKey(static_cast<const wchar_t*>(message->extra));
    if (id != 0) {
        message->window = CommandBus::Instance().GetWindowById(id);
    }
}

extern "C" void TRV_CALL OnServerState(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return;
    }
    if (!CurrentHostPlatform().PostValueToView(message->name, static_cast<int32_t>(message->status))) {
        LOG(WARNING) << message->name << " not posted to the main view";
    }
}

extern "C" void TRV_CALL OnGetProductVersion(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    CurrentDevice current(message);
    if (current.get() != nullptr) {
        message->wideText = current.get();
        SendToOwner(ZERITH_COMMAND_GET_iOS_PRODUCTVERSION, message);
    }
}

extern "C" void TRV_CALL OnCheckForUpdateByUser(CommandMessage*) {
    // An earlier result's list is shown again rather than asked for anew; the title bar hears that the
    // check is over, as after a result.
    g_userAskedForUpdate = true;
    CommandMessage message{};
    SendToOwner(CurrentHostUi().ReopenUpdateList() ? LUNDER_COMMAND_CHECK_FOR_UPDATE : ZERITH_COMMAND_CHECK_FOR_UPDATE,
                &message);
}

}  // namespace trv
