// The contacts relays; see contacts_relay.h.
#include "contacts_relay.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../sdk/command_names.h"
#include "../sdk/contact_codes.h"
#include "../sdk/contact_records.h"
#include "../sdk/item_batch.h"
#include "command_bus.h"
#include "host_platform.h"

namespace trv {
namespace {

using namespace contacts;

// The record QUARNEL_COMMAND_UPDATE_ITEM reads from `extra`: the section id, the count's low half, an unset
// word and the count's high half.
struct SectionCount {
    int32_t id;
    uint32_t low;
    uint32_t unset;
    uint32_t high;
};
static_assert(sizeof(SectionCount) == 16, "four 32-bit words");

const wchar_t kDeleteContactsQuestion[] = L"Do you really want to delete the checked contact(s)?";
const wchar_t kDeleteGroupQuestion[] = L"Do you really want to delete the group?";

// What a page request carries in `data`, so that a dropped request frees it.
void ReleaseRequestPayload(int64_t code, void* data) {
    if (data == nullptr) return;
    switch (code) {
    case kRequestExportCsv:
    case kRequestBackupXml:
    case kRequestExportVcards:
        delete static_cast<std::vector<iOSContact*>*>(data);  // the records stay the page's
        break;
    case kRequestDelete:
        delete static_cast<std::vector<std::wstring>*>(data);
        break;
    case kRequestSaveEdited:
    case kRequestSaveNew:
        delete static_cast<iOSContact*>(data);
        break;
    case kRequestChangeGroup:
    case kRequestCreateGroup:
        delete static_cast<iOSContactGroup*>(data);
        break;
    case kRequestRemoveGroup:
        std::free(data);
        break;
    default:
        break;  // code 16's list is lent by the page
    }
}

// What a relay answer carries in `extra`, so that a dropped answer frees it.
void ReleaseReplyPayload(int64_t code, void* extra) {
    if (extra == nullptr) return;
    switch (code) {
    case kRelayContactsBatch:
        delete static_cast<ItemBatch<iOSContact>*>(extra);
        break;
    case kRelayGroupsBatch:
        delete static_cast<ItemBatch<iOSContactGroup>*>(extra);
        break;
    case kRelayContactAdded:
        delete static_cast<std::shared_ptr<iOSContact>*>(extra);
        break;
    case kRelayContactRemoved:
    case kRelayGroupRemoved:
        std::free(extra);
        break;
    case kRelayGroupCreated:
    case kRelayGroupChanged:
        delete static_cast<iOSContactGroup*>(extra);
        break;
    default:
        break;
    }
}

// The current device's identifier, freed here; empty when there is none.
std::wstring CurrentDevice() {
    CommandMessage query{};
    SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, &query);
    std::wstring device = query.wideText != nullptr ? query.wideText : L"";
    std::free(query.wideText);
    return device;
}

struct RequestRule {
    int64_t page;
    int64_t relay;
    bool needsSelection;
    const wchar_t* question;  // null: no confirmation
    bool folder;
    bool files;
};

const RequestRule kRequests[] = {
    {kRequestLoad, kRelayLoad, false, nullptr, false, false},
    {kRequestExportCsv, kRelayExportCsv, true, nullptr, true, false},
    {kRequestBackupXml, kRelayBackupXml, true, nullptr, true, false},
    {kRequestExportVcards, kRelayExportVcards, true, nullptr, true, false},
    {kRequestImportXml, kRelayImportXml, false, nullptr, false, true},
    {kRequestDelete, kRelayRemove, true, kDeleteContactsQuestion, false, false},
    {kRequestSaveEdited, kRelaySaveEdited, false, nullptr, false, false},
    {kRequestSaveNew, kRelaySaveNew, false, nullptr, false, false},
    {kRequestCountries, kRelayCountries, false, nullptr, false, false},
    {kRequestChangeGroup, kRelayChangeGroup, false, nullptr, false, false},
    {kRequestCreateGroup, kRelayCreateGroup, false, nullptr, false, false},
    {kRequestRemoveGroup, kRelayRemoveGroup, false, kDeleteGroupQuestion, false, false},
};

const RequestRule* FindRequest(int64_t code) {
    for (const RequestRule& rule : kRequests) {
        if (rule.page == code) return &rule;
    }
    return nullptr;
}

struct ReplyRule {
    int64_t relay;
    int64_t page;          // -1: by value3 (the iCloud state)
    int counter;           // 0 none, 2 value2, 3 value3
    bool deviceCheck;
    bool needsExtra;
};

const ReplyRule kReplies[] = {
    {kRelayCloudState, -1, 3, true, false},
    {kRelayContactsBatch, kReplyContactsLoaded, 0, true, false},
    {kRelayGroupsBatch, kReplyGroupsLoaded, 0, true, false},
    {kRelayContactAdded, kReplyContactAdded, 3, true, false},
    {kRelayContactRemoved, kReplyContactRemoved, 2, true, false},
    {kRelaySaved, kReplyCloseEditor, 0, false, false},
    {kRelayGroupRemoved, kReplyGroupRemoved, 0, true, false},
    {kRelayGroupCreated, kReplyGroupChanged, 0, true, true},
    {kRelayGroupChanged, kReplyGroupChanged, 0, true, true},
};

}  // namespace

void RelayContactsRequest(CommandMessage* message) {
    if (message == nullptr || (static_cast<uint64_t>(message->code) >> 32) != 0) return;
    const RequestRule* rule = FindRequest(message->code);
    if (rule == nullptr) return;  // codes outside the table are ignored, payload and all
    void* payload = rule->page == kRequestCountries ? nullptr : message->data;
    const int64_t pageCode = message->code;

    // The checked rows of an export are the page's records, which the page may free while the folder
    // dialog below runs its message loop (an answer that removes or replaces them, a reload): the relay is
    // handed copies, kept here until it has written them during the call.
    std::vector<std::unique_ptr<iOSContact>> exported;
    if (rule->folder && payload != nullptr) {
        std::unique_ptr<std::vector<iOSContact*>> rows(static_cast<std::vector<iOSContact*>*>(payload));
        auto copies = std::make_unique<std::vector<iOSContact*>>();
        for (const iOSContact* row : *rows) {
            if (row == nullptr) continue;
            exported.push_back(std::make_unique<iOSContact>(*row));
            copies->push_back(exported.back().get());
        }
        payload = copies.release();
        message->data = payload;
    }

    const std::wstring device = CurrentDevice();
    if (device.empty()) {
        ReleaseRequestPayload(pageCode, payload);
        return;
    }
    HostPlatform& platform = CurrentHostPlatform();
    if (rule->needsSelection && message->count == 0) {
        platform.ShowNothingChecked();
        ReleaseRequestPayload(pageCode, payload);
        return;
    }
    if (rule->question != nullptr && !platform.Confirm(rule->question)) {
        ReleaseRequestPayload(pageCode, payload);
        return;
    }
    std::wstring folder;
    if (rule->folder) {
        folder = platform.ChooseFolder();
        if (folder.empty()) {
            ReleaseRequestPayload(pageCode, payload);
            return;
        }
    }
    if (rule->files) {
        auto paths = std::make_unique<std::vector<std::wstring>>(
            platform.ChooseFiles(L"Please select XML files.", L"XML Files", L"*.xml", false));
        if (paths->empty()) return;
        message->count = static_cast<int64_t>(paths->size());
        message->data = paths.release();  // the relay module's from here
    }
    if (!CanDeliver(ZERITH_COMMAND_DO_CONTACT)) {
        if (rule->files) {
            delete static_cast<std::vector<std::wstring>*>(message->data);
            message->data = nullptr;
        } else {
            ReleaseRequestPayload(pageCode, payload);
        }
        return;
    }
    wchar_t* const callersText = message->wideText;
    void* const callersExtra = message->extra;
    message->wideText = const_cast<wchar_t*>(device.c_str());
    if (rule->folder) message->extra = const_cast<wchar_t*>(folder.c_str());  // lent for the call
    message->code = rule->relay;
    SendToOwner(ZERITH_COMMAND_DO_CONTACT, message);
    if (message->wideText == device.c_str()) message->wideText = callersText;
    if (rule->folder && message->extra == folder.c_str()) message->extra = callersExtra;
}

void RelayContactsReply(CommandMessage* message) {
    if (message == nullptr) return;
    const ReplyRule* rule = nullptr;
    if ((static_cast<uint64_t>(message->code) >> 32) == 0) {
        for (const ReplyRule& candidate : kReplies) {
            if (candidate.relay == message->code) rule = &candidate;
        }
    }
    if (rule == nullptr) return;  // outside the table: the payload's type is unknown, so it stays the sender's

    if (rule->counter != 0) {
        const int64_t count = rule->counter == 3 ? message->value3 : message->value2;
        SectionCount record{kContactsSectionId, static_cast<uint32_t>(static_cast<uint64_t>(count)), 0,
                            static_cast<uint32_t>(static_cast<uint64_t>(count) >> 32)};
        void* const extra = message->extra;
        message->extra = &record;
        SendToOwner(QUARNEL_COMMAND_UPDATE_ITEM, message);
        message->extra = extra;
    }

    const std::wstring about = CurrentHostPlatform().Utf8ToWide(message->text);
    if (!rule->deviceCheck) {
        // The editor closes whatever device the save was for.
        wchar_t* const callersText = message->wideText;
        message->wideText = const_cast<wchar_t*>(about.c_str());
        message->code = rule->page;
        SendToOwner(ARDENA_COMMAND_DO_CONTACT, message);
        message->wideText = callersText;
        return;
    }
    if (about.empty() || CurrentDevice() != about || (rule->needsExtra && message->extra == nullptr) ||
        !CanDeliver(ARDENA_COMMAND_DO_CONTACT)) {
        ReleaseReplyPayload(message->code, message->extra);
        return;
    }
    CommandMessage copy = *message;
    copy.code = rule->page >= 0 ? rule->page : (message->value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice);
    copy.wideText = const_cast<wchar_t*>(about.c_str());
    SendToOwner(ARDENA_COMMAND_DO_CONTACT, &copy);
}

}  // namespace trv
