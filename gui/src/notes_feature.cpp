// The notes feature's code map; see notes_feature.h.
#include "notes_feature.h"

namespace trv {
namespace {

using namespace notes;

const RequestRule kRequests[] = {
    {kRequestLoad, kRelayLoad, false, nullptr, false, false},
    {kRequestExport, kRelayExport, false, nullptr, true, false},
    {kRequestBackupXml, kRelayBackupXml, false, nullptr, true, false},
    {kRequestImportXml, kRelayImportXml, false, nullptr, false, true},
    {kRequestSave, kRelaySave, false, nullptr, false, false},
};

// The iCloud state: a negative count means the device keeps its notes in iCloud.
int64_t CloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? kReplyHideCloudNotice : kReplyShowCloudNotice;
}

// The answers to the folder requests (60, 61) have no page code: they are dropped.
const ReplyRule kReplies[] = {
    {kRelayCloudState, 0, &CloudNotice, CounterField::Value3, true, false},
    {kRelayLoaded, kReplyLoaded, nullptr, CounterField::None, true, false},
    {kRelaySaved, kReplyChanged, nullptr, CounterField::Value2, true, false},
    {kRelayImported, kReplyChanged, nullptr, CounterField::Value2, true, false},
};

}  // namespace

const FeatureCodeMap kNotesCodeMap = {nullptr,
                                      kRequests,
                                      sizeof(kRequests) / sizeof(kRequests[0]),
                                      kReplies,
                                      sizeof(kReplies) / sizeof(kReplies[0]),
                                      kNotesSectionId};

}  // namespace trv
