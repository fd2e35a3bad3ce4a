// The relays between the feature pages and the relay module, driven by the feature rows
// (feature_table.h), and the names whose host action is not served yet. A page's request goes to the relay
// module under the relay name and code its rule gives, with the current device, after the host has asked
// what the rule asks (a selection, a confirmation, a folder, files) or is answered in place by the rule's
// hook; a relay answer keeps its section counter current and goes back to the page under the page's name
// and code when it is about the current device, with that device as the page key (the backup manager's
// traffic names no current device: its dialogs choose the device themselves). Payloads that do not travel
// on (a refused request, no device, an answer about another device or none) are freed through the row's
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
#include "feature_codes.h"
#include "feature_table.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "vnl_utf8.h"

namespace trv {
namespace {

constexpr int64_t kStartBackupManager = 5011;
constexpr int32_t kQuestionWidth = 400;
constexpr int32_t kQuestionHeight = 120;
const wchar_t kNothingChecked[] = L"Nothing is checked.";

std::wstring FilesText(int64_t count) { return count == 1 ? L"1 file" : std::to_wstring(count) + L" files"; }

// What the user is told once an export's relay call has said whether it wrote its files into `folder`.
void TellExportOutcome(int64_t answered, int64_t sent, const std::wstring& folder) {
    if (answered == sent) return;  // the relay module tells nothing in place
    if (answered == kExportWritten) {
        CurrentHostPlatform().ShowNotice(L"Exported to " + folder);
    } else if (answered == kExportNotWritten) {
        CurrentHostPlatform().ShowNotice(L"Nothing could be exported to " + folder);
    }
}

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

const RequestRule* FindRequestRule(const FeatureCodeMap& codes, int64_t code) {
    if (!IsOurCode(code)) return nullptr;
    for (size_t i = 0; i < codes.requestCount; ++i) {
        if (codes.requests[i].pageCode == code) return &codes.requests[i];
    }
    return nullptr;
}

// The chosen files as the relay takes them: the path list, or with the page's records as one import pair.
void* HandOverFiles(const FileChoice& files, std::unique_ptr<std::vector<std::wstring>> paths, void* pageRecords) {
    if (!files.withPageRecords) return paths.release();
    auto import =
        std::make_unique<sdk::BookmarkImport>(static_cast<std::vector<BookmarkItem*>*>(pageRecords), paths.release());
    return import.release();
}

void RelayMappedRequest(const FeatureRow& row, CommandMessage* message) {
    const FeatureCodeMap& codes = *row.codes;
    const RequestRule* rule = FindRequestRule(codes, message->code);
    if (rule == nullptr) return;  // codes outside the table are ignored, payload and all
    const int64_t pageCode = message->code;
    std::shared_ptr<void> keep;
    if (codes.detachPayload != nullptr) codes.detachPayload(*rule, *message, keep);
    auto refuse = [&]() { Release(row, PayloadLeg::PageRequest, pageCode, message->data); };

    // The backup manager's dialogs choose the device themselves and own the questions asked for them.
    std::wstring device;
    TrvWindow owner = nullptr;
    if (row.forCurrentDevice) {
        device = CurrentDevice();
        if (device.empty()) return refuse();
    } else {
        owner = message->window;
    }
    if (rule->hook != nullptr) {
        const HookResult result = rule->hook(*message);
        if (result != HookResult::Forward) return;
    }
    HostPlatform& platform = CurrentHostPlatform();
    if (rule->selection != Selection::Any && message->count == 0) {
        if (rule->selection == Selection::Notice) platform.ShowAlert(kNothingChecked, owner);
        return refuse();
    }
    if (rule->question != nullptr && !platform.Confirm(rule->question, kQuestionWidth, kQuestionHeight, owner)) {
        return refuse();
    }
    std::wstring folder;
    if (rule->folder) {
        folder = platform.ChooseFolder(owner, std::wstring());
        if (folder.empty()) return refuse();
    }
    const int64_t relayCode = rule->relayCode == kCodeFromHook ? message->code : rule->relayCode;
    if (rule->files != nullptr) {
        const FileChoice& files = *rule->files;
        auto paths = std::make_unique<std::vector<std::wstring>>(
            platform.ChooseFiles(files.title, files.filterName, files.pattern, files.multiple));
        if (paths->empty()) return refuse();
        message->count = static_cast<int64_t>(paths->size());
        message->data = HandOverFiles(files, std::move(paths), message->data);  // the relay module's from here
    }
    const char* relay = rule->relay != nullptr ? rule->relay : row.relay;
    if (!CanDeliver(relay)) {
        Release(row, PayloadLeg::RelayRequest, relayCode, message->data);
        message->data = nullptr;
        return;
    }
    wchar_t* const callersText = message->wideText;
    void* const callersExtra = message->extra;
    if (row.forCurrentDevice) message->wideText = const_cast<wchar_t*>(device.c_str());
    if (rule->folder) message->extra = const_cast<wchar_t*>(folder.c_str());  // lent for the call
    message->code = relayCode;
    const int64_t sentStatus = message->status;
    SendToOwner(relay, message);
    if (row.forCurrentDevice && message->wideText == device.c_str()) message->wideText = callersText;
    if (rule->folder && message->extra == folder.c_str()) message->extra = callersExtra;
    if (rule->folder) TellExportOutcome(message->status, sentStatus, folder);
    if (rule->after != nullptr) rule->after(*message, sentStatus);
}

void UpdateSectionCounter(int32_t sectionId, CommandMessage* message, int64_t count) {
    SectionCount record{sectionId, static_cast<uint32_t>(static_cast<uint64_t>(count)), 0,
                        static_cast<uint32_t>(static_cast<uint64_t>(count) >> 32)};
    void* const extra = message->extra;
    message->extra = &record;
    SendToOwner(QUARNEL_COMMAND_UPDATE_ITEM, message);
    message->extra = extra;
}

const ReplyRule* FindReplyRule(const FeatureCodeMap& codes, int64_t code) {
    if (!IsOurCode(code)) return nullptr;
    for (size_t i = 0; i < codes.replyCount; ++i) {
        if (codes.replies[i].relayCode == code) return &codes.replies[i];
    }
    return nullptr;
}

// Sends `message` to the page with `pageCode`, the device `about` and the rule's status; the message's own
// fields are put back afterwards.
void SendToPage(const FeatureRow& row, const ReplyRule& rule, CommandMessage* message, int64_t pageCode,
                const std::wstring& about) {
    const CommandMessage callers = *message;
    message->code = pageCode;
    message->wideText = const_cast<wchar_t*>(about.c_str());
    if (rule.pageStatus != kKeepStatus) message->status = rule.pageStatus;
    SendToOwner(row.page, message);
    message->wideText = callers.wideText;
    message->status = callers.status;
}

void RelayMappedReply(const FeatureRow& row, CommandMessage* message) {
    const FeatureCodeMap& codes = *row.codes;
    const ReplyRule* rule = FindReplyRule(codes, message->code);
    if (rule == nullptr) return;  // outside the table: the payload's type is unknown, so it stays the sender's

    const int64_t relayCode = message->code;
    if (rule->counter != CounterField::None) {
        UpdateSectionCounter(rule->sectionId != 0 ? rule->sectionId : row.sectionId, message,
                             rule->counter == CounterField::Value3 ? message->value3 : message->value2);
    }
    const int64_t pageCode = rule->pickPageCode != nullptr ? rule->pickPageCode(*message) : rule->pageCode;
    auto drop = [&]() { Release(row, PayloadLeg::RelayReply, relayCode, message->extra); };
    if (rule->delivery == Delivery::CountOnly) return drop();
    if (rule->delivery == Delivery::Unchanged) {
        // The page code tells the payload apart where the relay code alone does not (the backup list's 136).
        if (!CanDeliver(row.page)) return Release(row, PayloadLeg::PageReply, pageCode, message->extra);
        message->code = pageCode;
        SendToOwner(row.page, message);
        return;
    }
    // A null or empty device is never the current one.
    const std::wstring about = vnl::WideFromUtf8(message->text);
    if (rule->delivery == Delivery::AnyDevice) {
        if (!CanDeliver(row.page)) return drop();
        SendToPage(row, *rule, message, pageCode, about);
        return;
    }
    if (about.empty() || CurrentDevice() != about || (rule->needsExtra && message->extra == nullptr) ||
        !CanDeliver(row.page)) {
        return drop();
    }
    switch (rule->delivery) {
    case Delivery::Itself: SendToPage(row, *rule, message, pageCode, about); break;
    case Delivery::TwiceForPhotos: {
        CommandMessage first = *message;
        first.status = 0;
        SendToPage(row, *rule, &first, pageCode, about);
        CommandMessage second = *message;
        second.status = 1;
        second.extra = message->extra != nullptr ? HeapWideCopy(static_cast<const wchar_t*>(message->extra)) : nullptr;
        SendToPage(row, *rule, &second, pageCode, about);
        break;
    }
    default: {
        CommandMessage copy = *message;
        SendToPage(row, *rule, &copy, pageCode, about);
        break;
    }
    }
}

}  // namespace

extern "C" void TRV_CALL OnFilesExported(CommandMessage* message) {
    try {
        if (message == nullptr || message->code != sdk::files::kRelayExportFiles || message->wideText == nullptr) return;
        const std::wstring folder = message->wideText;
        const int64_t arrived = message->value3;
        if (arrived <= 0) {
            CurrentHostPlatform().ShowNotice(L"Nothing could be exported to " + folder);
        } else if (message->value2 == 0) {
            CurrentHostPlatform().ShowNotice(FilesText(arrived) + L" exported to " + folder);
        } else {
            CurrentHostPlatform().ShowNotice(L"Only " + FilesText(arrived) + L" could be exported to " + folder);
        }
    } catch (...) {
        LOG(ERROR) << "export notice failed";
    }
}

const char* FeatureCounterpart(const char* name) {
    const FeatureRow* row = FindFeatureRow(name);
    if (row == nullptr) {
        return nullptr;
    }
    return std::strcmp(name, row->page) == 0 ? row->relay : row->page;
}

void RelayFeatureRequest(const FeatureRow& row, CommandMessage* message) {
    if (row.codes != nullptr) RelayMappedRequest(row, message);
}

void RelayFeatureReply(const FeatureRow& row, CommandMessage* message) {
    if (row.codes != nullptr) RelayMappedReply(row, message);
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

extern "C" void TRV_CALL OnUsbScanResult(CommandMessage* message) {
    // The pages learn of devices from the connection reports; the scan's result changes nothing the host
    // shows, so it is only logged. It is never relayed back: the relay module would take its own report
    // for a new scan request and start one again.
    if (message != nullptr && message->name != nullptr) {
        LOG(INFO) << message->name << " status " << message->status;
    }
}

}  // namespace trv
