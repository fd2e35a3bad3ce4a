// The contacts feature's code map; see contacts_feature.h.
#include "contacts_feature.h"

#include <memory>
#include <vector>

namespace trv {
namespace {

using namespace sdk::contacts;

const wchar_t kDeleteContactsQuestion[] = L"Do you really want to delete the checked contact(s)?";
const wchar_t kDeleteGroupQuestion[] = L"Do you really want to delete the group?";

const RequestRule kRequests[] = {
    {kRequestLoad, kRelayLoad, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestExportCsv, kRelayExportCsv, nullptr, Selection::Notice, nullptr, true, nullptr, nullptr, nullptr},
    {kRequestBackupXml, kRelayBackupXml, nullptr, Selection::Notice, nullptr, true, nullptr, nullptr, nullptr},
    {kRequestExportVcards, kRelayExportVcards, nullptr, Selection::Notice, nullptr, true, nullptr, nullptr, nullptr},
    {kRequestImportXml, kRelayImportXml, nullptr, Selection::Any, nullptr, false, &kXmlFileChoice, nullptr, nullptr},
    {kRequestDelete, kRelayRemove, nullptr, Selection::Notice, kDeleteContactsQuestion, false, nullptr, nullptr,
     nullptr},
    {kRequestSaveEdited, kRelaySaveEdited, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestSaveNew, kRelaySaveNew, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestCountries, kRelayCountries, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestChangeGroup, kRelayChangeGroup, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestCreateGroup, kRelayCreateGroup, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestRemoveGroup, kRelayRemoveGroup, nullptr, Selection::Any, kDeleteGroupQuestion, false, nullptr, nullptr,
     nullptr},
};

// The iCloud state: a negative count means the device keeps its contacts in iCloud.
int64_t CloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice;
}

const ReplyRule kReplies[] = {
    {kRelayCloudState, 0, &CloudNotice, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayContactsBatch, kReplyContactsLoaded, nullptr, CounterField::None, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayGroupsBatch, kReplyGroupsLoaded, nullptr, CounterField::None, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayContactAdded, kReplyContactAdded, nullptr, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayContactRemoved, kReplyContactRemoved, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
    {kRelaySaved, kReplyCloseEditor, nullptr, CounterField::None, Delivery::AnyDevice, false, 0, kKeepStatus},
    {kRelayGroupRemoved, kReplyGroupRemoved, nullptr, CounterField::None, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayGroupCreated, kReplyGroupChanged, nullptr, CounterField::None, Delivery::Copy, true, 0, kKeepStatus},
    {kRelayGroupChanged, kReplyGroupChanged, nullptr, CounterField::None, Delivery::Copy, true, 0, kKeepStatus},
};

// The checked rows of an export are the page's records, which the page may free while the folder dialog
// runs its message loop (an answer that removes or replaces them, a reload): the relay is handed copies,
// kept until it has written them during the call.
void CopyExportedRows(const RequestRule& rule, CommandMessage& message, std::shared_ptr<void>& keep) {
    if (!rule.folder || message.data == nullptr) return;
    std::unique_ptr<std::vector<iOSContact*>> rows(static_cast<std::vector<iOSContact*>*>(message.data));
    auto copies = std::make_shared<std::vector<std::unique_ptr<iOSContact>>>();
    auto list = std::make_unique<std::vector<iOSContact*>>();
    for (const iOSContact* row : *rows) {
        if (row == nullptr) continue;
        copies->push_back(std::make_unique<iOSContact>(*row));
        list->push_back(copies->back().get());
    }
    keep = copies;
    message.data = list.release();
}

}  // namespace

const FeatureCodeMap kContactsCodeMap = {&CopyExportedRows,
                                         kRequests,
                                         sizeof(kRequests) / sizeof(kRequests[0]),
                                         kReplies,
                                         sizeof(kReplies) / sizeof(kReplies[0])};

}  // namespace trv
