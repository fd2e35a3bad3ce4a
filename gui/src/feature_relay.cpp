// The relays between the feature pages and the relay module, driven by the feature rows
// (feature_table.h), and the names whose host action is not served yet. A page's request goes to the relay
// module under the relay's name of the same feature, with the current device; a relay reply goes back to
// the page under the page's name when it is about the current device, with that device as the page key
// (the backup manager's traffic goes both ways as it is: its dialogs choose the device themselves). A row
// with a code map has its codes translated, its questions asked and its counter kept; payloads that do not
// travel on (a refused request, no device, an answer about another device) are freed through the row's
// release. Runs on the invoking module's thread: requests on the UI thread (they may show modal dialogs),
// answers on whichever thread the relay module answers from.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include <glog/logging.h>

#include "command_bus.h"
#include "command_names.h"
#include "feature_table.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "vnl_utf8.h"

namespace trv {
namespace {

constexpr int64_t kStartBackupManager = 5011;

// The record QUARNEL_COMMAND_UPDATE_ITEM reads from `extra`: the section id, the count's low half, an unset
// word and the count's high half.
struct SectionCount {
    int32_t id;
    uint32_t low;
    uint32_t unset;
    uint32_t high;
};
static_assert(sizeof(SectionCount) == 16, "four 32-bit words");

// The current device's identifier, freed here; empty when there is none.
std::wstring CurrentDevice() {
    CommandMessage query{};
    SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, &query);
    std::wstring device = query.wideText != nullptr ? query.wideText : L"";
    std::free(query.wideText);
    return device;
}

bool IsOurCode(int64_t code) { return (static_cast<uint64_t>(code) >> 32) == 0; }

void Release(const FeatureRow& row, PayloadLeg leg, int64_t code, void* payload) {
    if (row.release != nullptr) row.release(leg, code, payload);
}

void RelayMappedRequest(const FeatureRow& row, CommandMessage* message) {
    if (!IsOurCode(message->code)) return;
    const FeatureCodeMap& codes = *row.codes;
    const RequestRule* rule = nullptr;
    for (size_t i = 0; i < codes.requestCount && rule == nullptr; ++i) {
        if (codes.requests[i].pageCode == message->code) rule = &codes.requests[i];
    }
    if (rule == nullptr) return;  // codes outside the table are ignored, payload and all
    const int64_t pageCode = message->code;
    std::shared_ptr<void> keep;
    if (codes.detachPayload != nullptr) codes.detachPayload(*rule, *message, keep);
    void* const payload = message->data;
    auto refuse = [&]() { Release(row, PayloadLeg::PageRequest, pageCode, payload); };

    const std::wstring device = CurrentDevice();
    if (device.empty()) return refuse();
    HostPlatform& platform = CurrentHostPlatform();
    if (rule->needsSelection && message->count == 0) {
        platform.ShowNothingChecked();
        return refuse();
    }
    if (rule->question != nullptr && !platform.Confirm(rule->question)) return refuse();
    std::wstring folder;
    if (rule->folder) {
        folder = platform.ChooseFolder();
        if (folder.empty()) return refuse();
    }
    if (rule->files) {
        auto paths = std::make_unique<std::vector<std::wstring>>(
            platform.ChooseFiles(L"Please select XML files.", L"XML Files", L"*.xml", false));
        if (paths->empty()) return;
        message->count = static_cast<int64_t>(paths->size());
        message->data = paths.release();  // the relay module's from here
    }
    if (!CanDeliver(row.relay)) {
        if (rule->files) {
            Release(row, PayloadLeg::RelayRequest, rule->relayCode, message->data);
            message->data = nullptr;
        } else {
            refuse();
        }
        return;
    }
    wchar_t* const callersText = message->wideText;
    void* const callersExtra = message->extra;
    message->wideText = const_cast<wchar_t*>(device.c_str());
    if (rule->folder) message->extra = const_cast<wchar_t*>(folder.c_str());  // lent for the call
    message->code = rule->relayCode;
    SendToOwner(row.relay, message);
    if (message->wideText == device.c_str()) message->wideText = callersText;
    if (rule->folder && message->extra == folder.c_str()) message->extra = callersExtra;
}

void UpdateSectionCounter(const FeatureCodeMap& codes, CommandMessage* message, int64_t count) {
    SectionCount record{codes.sectionId, static_cast<uint32_t>(static_cast<uint64_t>(count)), 0,
                        static_cast<uint32_t>(static_cast<uint64_t>(count) >> 32)};
    void* const extra = message->extra;
    message->extra = &record;
    SendToOwner(QUARNEL_COMMAND_UPDATE_ITEM, message);
    message->extra = extra;
}

void RelayMappedReply(const FeatureRow& row, CommandMessage* message) {
    const FeatureCodeMap& codes = *row.codes;
    const ReplyRule* rule = nullptr;
    if (IsOurCode(message->code)) {
        for (size_t i = 0; i < codes.replyCount && rule == nullptr; ++i) {
            if (codes.replies[i].relayCode == message->code) rule = &codes.replies[i];
        }
    }
    if (rule == nullptr) return;  // outside the table: the payload's type is unknown, so it stays the sender's

    if (rule->counter != CounterField::None) {
        UpdateSectionCounter(codes, message, rule->counter == CounterField::Value3 ? message->value3 : message->value2);
    }
    const int64_t pageCode = rule->pickPageCode != nullptr ? rule->pickPageCode(*message) : rule->pageCode;
    const std::wstring about = vnl::WideFromUtf8(message->text);
    if (!rule->currentDeviceOnly) {
        wchar_t* const callersText = message->wideText;
        message->wideText = const_cast<wchar_t*>(about.c_str());
        message->code = pageCode;
        SendToOwner(row.page, message);
        message->wideText = callersText;
        return;
    }
    if (about.empty() || CurrentDevice() != about || (rule->needsExtra && message->extra == nullptr) ||
        !CanDeliver(row.page)) {
        Release(row, PayloadLeg::RelayReply, message->code, message->extra);
        return;
    }
    CommandMessage copy = *message;
    copy.code = pageCode;
    copy.wideText = const_cast<wchar_t*>(about.c_str());
    SendToOwner(row.page, &copy);
}

}  // namespace

const char* FeatureCounterpart(const char* name) {
    const FeatureRow* row = FindFeatureRow(name);
    if (row == nullptr) {
        return nullptr;
    }
    return std::strcmp(name, row->page) == 0 ? row->relay : row->page;
}

void RelayFeatureRequest(const FeatureRow& row, CommandMessage* message) {
    if (row.codes != nullptr) {
        RelayMappedRequest(row, message);
        return;
    }
    if (!row.forCurrentDevice) {
        SendToOwner(row.relay, message);
        return;
    }
    // The identifier stays in `wideText` and travels with the request; without a device (or a relay module)
    // it is dropped, payload and all.
    const std::wstring device = CurrentDevice();
    if (device.empty() || !CanDeliver(row.relay)) {
        Release(row, PayloadLeg::PageRequest, message->code, message->data);
        return;
    }
    wchar_t* const callersText = message->wideText;
    message->wideText = const_cast<wchar_t*>(device.c_str());
    SendToOwner(row.relay, message);
    if (message->wideText == device.c_str()) {
        message->wideText = callersText;
    }
}

void RelayFeatureReply(const FeatureRow& row, CommandMessage* message) {
    if (row.codes != nullptr) {
        RelayMappedReply(row, message);
        return;
    }
    if (!row.forCurrentDevice) {
        CommandMessage copy = *message;
        SendToOwner(row.page, &copy);
        return;
    }
    // Answers about a device that is no longer the current one (or about none) are dropped, payload and all.
    const std::wstring about = vnl::WideFromUtf8(message->text);
    if (about.empty() || CurrentDevice() != about || !CanDeliver(row.page)) {
        Release(row, PayloadLeg::RelayReply, message->code, message->extra);
        return;
    }
    CommandMessage copy = *message;
    copy.wideText = const_cast<wchar_t*>(about.c_str());
    SendToOwner(row.page, &copy);
}

extern "C" void TRV_CALL OnFeatureRequest(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const FeatureRow* row = FindFeatureRow(message->name);
    if (row != nullptr) {
        RelayFeatureRequest(*row, message);
    }
}

extern "C" void TRV_CALL OnFeatureReply(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const FeatureRow* row = FindFeatureRow(message->name);
    if (row != nullptr) {
        RelayFeatureReply(*row, message);
    }
}

void RegisterFeatureRelays(CommandBus& bus) {
    size_t count = 0;
    const FeatureRow* rows = FeatureRows(count);
    for (size_t i = 0; i < count; ++i) {
        bus.RegisterHostHandler(rows[i].page, &OnFeatureRequest);
        bus.RegisterHostHandler(rows[i].relay, &OnFeatureReply);
    }
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
