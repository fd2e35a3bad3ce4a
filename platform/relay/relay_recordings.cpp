// The relay's voice memos: the memos (1002) as the voice-memo page's records; see relay_lists.h. Their
// export is the file relay's (relay_exports.h), as the ringtones' is.
#include <iterator>
#include <memory>
#include <string>

#include "command_names.h"
#include "relay_lists.h"

namespace relay {
namespace {

// A memo the user never named is known by its file's name ("20240501 101500.m4a" as "20240501 101500").
std::wstring FileStem(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'/');
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    return name;
}

std::shared_ptr<RecordingItem> RecordingOf(const rapidjson::Value& record) {
    auto memo = std::make_shared<RecordingItem>();
    memo->key = WideMember(record, "path");
    memo->size = NumberMember(record, "size");
    memo->name = WideMember(record, "label");
    if (memo->name.empty()) memo->name = FileStem(memo->key);
    memo->time = WideMember(record, "duration");
    memo->dateCreated = WideMember(record, "date");
    return memo;
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_RECORDING, sdk::recordings::kRelayLoaded, 1002, ZERITH_COMMAND_DO_RECORDING,
     sdk::recordings::kRelayLoaded, 82, kRequestStatus, &kRecordingBatches, kAnySection},
};
const std::int64_t kQueries[] = {81};

}  // namespace

const BatchReader kRecordingBatches = {&ReadRecordBatch<RecordingItem, &RecordingOf>, &sdk::recordings::ReleasePayload};
const ListFeature kRecordingsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
