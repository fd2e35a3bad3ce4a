// The relays between the feature pages and the relay module, and the names whose host action is not
// served yet. A page's request goes to the relay module under the relay's name of the same feature, with
// the current device; a relay reply goes back to the page under the page's name when it is about the
// current device, with that device as the page key (the backup manager's traffic goes both ways as it is:
// its dialogs choose the device themselves). The per-feature translation of codes and the
// questions to the user (confirmations, folders, files) join these relays feature by feature (contacts:
// contacts_relay.cpp); until then codes pass unchanged. Runs on the invoking module's thread.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <glog/logging.h>

#include "../sdk/command_names.h"
#include "command_bus.h"
#include "contacts_relay.h"
#include "host_handlers.h"
#include "host_platform.h"

namespace trv {
namespace {

constexpr int64_t kStartBackupManager = 5011;

struct FeaturePair {
    const char* page;
    const char* relay;
    bool forCurrentDevice;  // false: the backup manager, whose dialogs choose the device themselves
};

const FeaturePair kPairs[] = {
    {DUNMAR_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_BOOKMARK, true},
    {ELVIST_COMMAND_DO_RECORDING, ZERITH_COMMAND_DO_RECORDING, true},
    {FAYDRA_COMMAND_DO_RINGTONE, ZERITH_COMMAND_DO_RINGTONE, true},
    {TELBOR_COMMAND_DO_BOOK, ZERITH_COMMAND_DO_BOOK, true},
    {WENDRA_COMMAND_DO_CALENDAR, ZERITH_COMMAND_DO_CALENDAR, true},
    {CORTAL_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_NOTE, true},
    {ARDENA_COMMAND_DO_CONTACT, ZERITH_COMMAND_DO_CONTACT, true},
    {SORVAD_COMMAND_DO_SMS, ZERITH_COMMAND_DO_SMS, true},
    {MULVAR_COMMAND_DO_MUSIC, ZERITH_COMMAND_DO_MUSIC, true},
    {VINTOR_COMMAND_DO_VIDEO, ZERITH_COMMAND_DO_VIDEO, true},
    {PIMSEL_COMMAND_DO_PHOTO, ZERITH_COMMAND_DO_PHOTO, true},
    {GAVREL_COMMAND_DO_APP, ZERITH_COMMAND_DO_APP, true},
    {BRISEL_COMMAND_DO_BACKUP, ZERITH_COMMAND_DO_BACKUP, false},
};

std::wstring TakeCurrentDevice(CommandMessage& message) {
    message.wideText = nullptr;
    SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, &message);
    std::wstring device = message.wideText != nullptr ? message.wideText : L"";
    std::free(message.wideText);
    message.wideText = nullptr;
    return device;
}

const FeaturePair* FindPair(const char* name) {
    for (const FeaturePair& pair : kPairs) {
        if (name != nullptr && (std::strcmp(name, pair.page) == 0 || std::strcmp(name, pair.relay) == 0)) {
            return &pair;
        }
    }
    return nullptr;
}

}  // namespace

const char* FeatureCounterpart(const char* name) {
    const FeaturePair* pair = FindPair(name);
    if (pair == nullptr) {
        return nullptr;
    }
    return std::strcmp(name, pair->page) == 0 ? pair->relay : pair->page;
}

extern "C" void TRV_CALL OnFeatureRequest(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const FeaturePair* pair = FindPair(message->name);
    if (pair == nullptr) {
        return;
    }
    if (std::strcmp(pair->page, ARDENA_COMMAND_DO_CONTACT) == 0) {
        RelayContactsRequest(message);
        return;
    }
    if (!pair->forCurrentDevice) {
        SendToOwner(pair->relay, message);
        return;
    }
    // The identifier stays in `wideText` and travels with the request; without a device it is dropped.
    CommandMessage query{};
    const std::wstring device = TakeCurrentDevice(query);
    if (device.empty()) {
        return;
    }
    wchar_t* const callersText = message->wideText;
    message->wideText = const_cast<wchar_t*>(device.c_str());
    SendToOwner(pair->relay, message);
    if (message->wideText == device.c_str()) {
        message->wideText = callersText;
    }
}

extern "C" void TRV_CALL OnFeatureReply(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const FeaturePair* pair = FindPair(message->name);
    if (pair == nullptr) {
        return;
    }
    if (std::strcmp(pair->relay, ZERITH_COMMAND_DO_CONTACT) == 0) {
        RelayContactsReply(message);
        return;
    }
    if (!pair->forCurrentDevice) {
        CommandMessage copy = *message;
        SendToOwner(pair->page, &copy);
        return;
    }
    // Answers about a device that is no longer the current one are dropped.
    const std::wstring about = CurrentHostPlatform().Utf8ToWide(message->text);
    CommandMessage query{};
    if (about.empty() || TakeCurrentDevice(query) != about) {
        return;
    }
    CommandMessage copy = *message;
    copy.wideText = const_cast<wchar_t*>(about.c_str());
    SendToOwner(pair->page, &copy);
}

extern "C" void TRV_CALL OnStartTool(CommandMessage* message) {
    if (message == nullptr || message->code != kStartBackupManager) {
        return;
    }
    message->window = CommandBus::Instance().GetWindowById(2);
    SendToOwner(BRISEL_COMMAND_SHOW_WINDOW, message);
}

extern "C" void TRV_CALL OnPendingHostAction(CommandMessage* message) {
    // The host's action for these names needs dialogs, downloads or installers that it does not have
    // yet. Relaying them back to their owner is no stand-in: the relay module would take its own report
    // back for a new request (a check, a download) and start it again.
    if (message != nullptr && message->name != nullptr) {
        LOG(INFO) << message->name << ": no host action yet";
    }
}

}  // namespace trv
