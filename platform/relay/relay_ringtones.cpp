// The relay's ringtones: the ringtone section (1003) of the books-and-ringtones listing (1001), asked under
// the iTunes command, as the ringtone page's records; see relay_lists.h. Their export is the file relay's
// (relay_exports.h): the key is the ringtone's device path.
#include <iterator>
#include <memory>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

constexpr std::uint32_t kRingtoneSection = 1003;

std::shared_ptr<RingtoneItem> RingtoneOf(const rapidjson::Value& record) {
    auto tone = std::make_shared<RingtoneItem>();
    tone->key = WideMember(record, "path");
    tone->title = WideMember(record, "title");
    tone->size = NumberMember(record, "size");
    tone->timeValue = NumberMember(record, "duration");
    tone->time = DurationText(tone->timeValue);
    return tone;
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_ITUNES, sdk::ringtones::kRelayLoaded, 1001, ZERITH_COMMAND_DO_RINGTONE,
     sdk::ringtones::kRelayLoaded, 79, kRequestStatus, &kRingtoneBatches, kRingtoneSection},
};
const std::int64_t kQueries[] = {78};

}  // namespace

const BatchReader kRingtoneBatches = {&ReadRecordBatch<RingtoneItem, &RingtoneOf>, &sdk::ringtones::ReleasePayload};
const ListFeature kRingtonesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
