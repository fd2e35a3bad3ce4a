// The relay's calendars: calendars and events (1500); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_CALENDAR, 65, 1500, ZERITH_COMMAND_DO_CALENDAR, 65, 64, kRequestStatus},
};
const std::int64_t kQueries[] = {63};

}  // namespace

const ListFeature kCalendarsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
