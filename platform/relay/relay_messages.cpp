// The relay's messages: the conversations (201); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_SMS, 24, 201, ZERITH_COMMAND_DO_SMS, 24, 23, kRequestStatus},
};
const std::int64_t kQueries[] = {22};

}  // namespace

const ListFeature kMessagesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
