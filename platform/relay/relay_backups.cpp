// The relay's backups: the backups on this computer (1602) in the default folder (an empty path), listed for
// no device in particular; the list answers as a backup that started (`status` 0); see relay_lists.h.
#include "relay_lists.h"

#include <iterator>

#include "command_names.h"

namespace trv::relay {
namespace {

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_BACKUP, 136, 1602, ZERITH_COMMAND_DO_BACKUP, 136, kNoCount, 0, &kTextBatches, kAnySection, true,
     R"({"paths":[""]})"},
};

}  // namespace

const ListFeature kBackupsList = {kRoutes, std::size(kRoutes), nullptr, 0};

}  // namespace trv::relay
