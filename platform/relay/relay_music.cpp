// The relay's music: the songs (1004), a section of the media library's answer (1000), asked under the media
// command; see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_MEDIA, 95, 1000, ZERITH_COMMAND_DO_MUSIC, 95, 94, kRequestStatus, &kTextBatches, 1004},
};
const std::int64_t kQueries[] = {93};

}  // namespace

const ListFeature kMusicList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
