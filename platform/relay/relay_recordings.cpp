// The relay's voice memos: the recordings (1002); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_RECORDING, 83, 1002, ZERITH_COMMAND_DO_RECORDING, 83, 82, kRequestStatus},
};
const std::int64_t kQueries[] = {81};

}  // namespace

const ListFeature kRecordingsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
