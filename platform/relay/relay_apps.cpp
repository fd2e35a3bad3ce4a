// The relay's apps: the installed apps (501); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_APP, 52, 501, ZERITH_COMMAND_DO_APP, 52, 51, kRequestStatus},
};
const std::int64_t kQueries[] = {50};

}  // namespace

const ListFeature kAppsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
