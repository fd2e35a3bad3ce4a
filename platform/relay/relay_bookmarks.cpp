// The relay's bookmarks: the bookmark tree as sent (1400); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_BOOKMARK, 101, 1400, ZERITH_COMMAND_DO_BOOKMARK, 101, 100, kRequestStatus},
};
const std::int64_t kQueries[] = {99};

}  // namespace

const ListFeature kBookmarksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
