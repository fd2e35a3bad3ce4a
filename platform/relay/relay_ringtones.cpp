// The relay's ringtones: the tones (1003), asked under the iTunes command; see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, 80, 1003, ZERITH_COMMAND_DO_RINGTONE, 80, 79, kRequestStatus},
};
const std::int64_t kQueries[] = {78};

}  // namespace

const ListFeature kRingtonesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
