// The relay's photos: all photos (400) and the albums (401); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_PHOTO, 125, 400, ZERITH_COMMAND_DO_PHOTO, 125, 124, 0},
    {ZERITH_COMMAND_DO_PHOTO, 129, 401, ZERITH_COMMAND_DO_PHOTO, 129, 128, 1},
};
const std::int64_t kQueries[] = {123, 127};

}  // namespace

const ListFeature kPhotosList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
