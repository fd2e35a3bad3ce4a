// The notes feature's code map; see notes_feature.h.
#include "notes_feature.h"

#include <iterator>

#include "feature_maps.h"
#include "wide_pair.h"

namespace trv {
namespace {

using namespace sdk::notes;

constexpr int32_t kNoteQuestionHeight = 200;

// A new note's subject and content: `data` is the page's pair of labels, answered in place with what the
// user typed (trimmed), `status` 1 when the user confirmed a note that is not blank.
HookResult AskNote(CommandMessage& message) {
    auto* pair = static_cast<WideStringPair*>(message.data);
    message.status = 0;
    if (pair == nullptr) return HookResult::Answered;
    WideStringPair typed;
    if (!AskTrimmedTexts(*pair, kNoteQuestionHeight, typed)) return HookResult::Answered;
    if (typed.first.empty() && typed.second.empty()) return HookResult::Answered;
    *pair = typed;
    message.status = 1;
    return HookResult::Answered;
}

// The checked notes of an export are lent to the relay module for the call and freed here afterwards.
void FreeExportedNotes(CommandMessage& message, int64_t) {
    ReleasePayload(PayloadLeg::RelayRequest, message.code, message.data);
    message.data = nullptr;
}

const RequestRule kRequests[] = {
    ForwardRule(kRequestLoad, kRelayLoad),
    {kRequestExport, kRelayExport, nullptr, Selection::Notice, nullptr, true, nullptr, nullptr, &FreeExportedNotes},
    {kRequestBackupXml, kRelayBackupXml, nullptr, Selection::Notice, nullptr, true, nullptr, nullptr,
     &FreeExportedNotes},
    {kRequestImportXml, kRelayImportXml, nullptr, Selection::Any, nullptr, false, &kXmlFileChoice, nullptr, nullptr},
    ForwardRule(kRequestSave, kRelaySave),
    {kRequestAskNote, 0, nullptr, Selection::Any, nullptr, false, nullptr, &AskNote, nullptr},
};

// The iCloud state: a negative count means the device keeps its notes in iCloud.
int64_t CloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice;
}

// The answers to the folder requests (60, 61) have no page code: they are dropped.
const ReplyRule kReplies[] = {
    {kRelayCloudState, 0, &CloudNotice, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    CopyRule(kRelayLoaded, kReplyLoaded),
    {kRelaySaved, kReplyChanged, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayImported, kReplyChanged, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
};

}  // namespace

const FeatureCodeMap kNotesCodeMap = {nullptr, kRequests, std::size(kRequests), kReplies, std::size(kReplies)};

}  // namespace trv
