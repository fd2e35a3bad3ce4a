// The relay's books: the book list (1008), a section of the books-and-ringtones answer (1001), asked under the
// iTunes command; see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, 74, 1001, ZERITH_COMMAND_DO_BOOK, 74, 73, kRequestStatus, &kTextBatches, 1008},
};
const std::int64_t kQueries[] = {72};

}  // namespace

const ListFeature kBooksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
