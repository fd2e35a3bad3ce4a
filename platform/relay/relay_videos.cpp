// The relay's videos: movies (1005), TV shows (1006) and music videos (1007), sections of the media library's
// answer (1000), asked under the media command; each answer names its kind in `status`; see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_MEDIA, 86, 1000, ZERITH_COMMAND_DO_VIDEO, 86, 85, 13, &kTextBatches, 1005},
    {ZERITH_COMMAND_DO_MEDIA, 92, 1000, ZERITH_COMMAND_DO_VIDEO, 92, 91, 14, &kTextBatches, 1006},
    {ZERITH_COMMAND_DO_MEDIA, 89, 1000, ZERITH_COMMAND_DO_VIDEO, 89, 88, 15, &kTextBatches, 1007},
};
const std::int64_t kQueries[] = {84, 90, 87};

}  // namespace

const ListFeature kVideosList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
