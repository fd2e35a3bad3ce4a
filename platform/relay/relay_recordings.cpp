// The relay's voice memos: the memos (1002) as the voice-memo page's records; see relay_lists.h.
#include <iterator>
#include <memory>

#include "command_names.h"
#include "relay_lists.h"

namespace trv::relay {
namespace {

std::shared_ptr<RecordingItem> RecordingOf(const rapidjson::Value& record) {
    auto memo = std::make_shared<RecordingItem>();
    memo->key = WideMember(record, "path");
    memo->size = NumberMember(record, "size");
    memo->name = WideMember(record, "label");
    memo->time = WideMember(record, "duration");
    memo->dateCreated = WideMember(record, "date");
    return memo;
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_RECORDING, recordings::kRelayLoaded, 1002, ZERITH_COMMAND_DO_RECORDING,
     recordings::kRelayLoaded, 82, kRequestStatus, &kRecordingBatches, kAnySection},
};
const std::int64_t kQueries[] = {81};

}  // namespace

const BatchReader kRecordingBatches = {&ReadRecordBatch<RecordingItem, &RecordingOf>, &recordings::ReleasePayload};
const ListFeature kRecordingsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
