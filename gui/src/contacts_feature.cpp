// The contacts feature's code map; see contacts_feature.h.
#include "contacts_feature.h"

#include <memory>
#include <vector>

namespace trv {
namespace {

using namespace contacts;

const wchar_t kDeleteContactsQuestion[] = L"Do you really want to delete the checked contact(s)?";
const wchar_t kDeleteGroupQuestion[] = L"Do you really want to delete the group?";

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

// The iCloud state: a negative count means the device keeps its contacts in iCloud.
int64_t CloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice;
}

const ReplyRule kReplies[] = {
    {kRelayCloudState, 0, &CloudNotice, CounterField::Value3, true, false},
    {kRelayContactsBatch, kReplyContactsLoaded, nullptr, CounterField::None, true, false},
    {kRelayGroupsBatch, kReplyGroupsLoaded, nullptr, CounterField::None, true, false},
    {kRelayContactAdded, kReplyContactAdded, nullptr, CounterField::Value3, true, false},
    {kRelayContactRemoved, kReplyContactRemoved, nullptr, CounterField::Value2, true, false},
    {kRelaySaved, kReplyCloseEditor, nullptr, CounterField::None, false, false},
    {kRelayGroupRemoved, kReplyGroupRemoved, nullptr, CounterField::None, true, false},
    {kRelayGroupCreated, kReplyGroupChanged, nullptr, CounterField::None, true, true},
    {kRelayGroupChanged, kReplyGroupChanged, nullptr, CounterField::None, true, true},
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
                                         sizeof(kReplies) / sizeof(kReplies[0]),
                                         kContactsSectionId};

}  // namespace trv
