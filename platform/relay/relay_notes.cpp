// The relay's notes: the list of notes (1200); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_NOTE, 58, 1200, ZERITH_COMMAND_DO_NOTE, 58, 57, kRequestStatus},
};
const std::int64_t kQueries[] = {56};

}  // namespace

const ListFeature kNotesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
