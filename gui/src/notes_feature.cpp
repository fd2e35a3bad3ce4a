// The notes feature's code map; see notes_feature.h.
#include "notes_feature.h"

#include "feature_maps.h"
#include "wide_pair.h"

namespace trv {
namespace {

using namespace notes;

// A new note's subject and content: `data` is the page's pair, the two labels in, the trimmed texts out;
// `status` comes back 1 when at least one of them is not empty.
HookResult AskNote(CommandMessage& message) {
    auto* pair = static_cast<WideStringPair*>(message.data);
    WideStringPair entered;
    if (pair == nullptr || !AskTrimmedTexts(*pair, 200, entered)) return HookResult::Answered;
    if (!entered.first.empty() || !entered.second.empty()) {
        message.status = 1;
        *pair = entered;
    }
    return HookResult::Answered;
}

const RequestRule kRequests[] = {
    {kRequestLoad, kRelayLoad, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestExport, kRelayExport, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {kRequestBackupXml, kRelayBackupXml, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {kRequestImportXml, kRelayImportXml, nullptr, Selection::Any, nullptr, false, &kXmlFileChoice, nullptr, nullptr},
    {kRequestSave, kRelaySave, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, nullptr},
    {kRequestAskNote, 0, nullptr, Selection::Any, nullptr, false, nullptr, &AskNote, nullptr},
};

// The iCloud state: a negative count means the device keeps its notes in iCloud.
int64_t CloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice;
}

// The answers to the folder requests (60, 61) have no page code: they are dropped.
const ReplyRule kReplies[] = {
    {kRelayCloudState, 0, &CloudNotice, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayLoaded, kReplyLoaded, nullptr, CounterField::None, Delivery::Copy, false, 0, kKeepStatus},
    {kRelaySaved, kReplyChanged, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
    {kRelayImported, kReplyChanged, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
};

}  // namespace

const FeatureCodeMap kNotesCodeMap = {nullptr,
                                      kRequests,
                                      sizeof(kRequests) / sizeof(kRequests[0]),
                                      kReplies,
                                      sizeof(kReplies) / sizeof(kReplies[0]),
                                      kNotesSectionId};

}  // namespace trv
