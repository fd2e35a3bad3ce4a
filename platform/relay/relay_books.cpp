// The relay's books: the book list (1008), asked under the iTunes command; see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, 74, 1008, ZERITH_COMMAND_DO_BOOK, 74, 73, kRequestStatus},
};
const std::int64_t kQueries[] = {72};

}  // namespace

const ListFeature kBooksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
