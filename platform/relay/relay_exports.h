#pragma once
// The relay module's exports of device files in service mode. The host sends ZERITH_COMMAND_DO_FILE code
// 109 for a page's Export once the user has chosen a folder: `data` holds the checked rows as (name, key)
// pairs, the key being the file's path on the device (the voice-memo and ringtone listings give it),
// `extra` the chosen folder and `wideText` the device. It becomes one export request (701) whose items are
// [name, device path, the folder as the service names it]; the service copies each file over AFC and
// reports each one, and the relay answers the end under ZERITH_COMMAND_DO_FILE with code 109, the service's
// result in `value2`, the count of files that arrived whole in `value3` and the chosen folder in `wideText`
// (lent for the call), which the host tells the user.
// The voice-memo and ringtone pages and the music, videos and books stand-ins export through this relay,
// each with (name, key) pairs.
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "command_message.h"
#include "relay_feature.h"
#include "relay_wire.h"
#include "wide_pair.h"

namespace relay {

constexpr std::int64_t kExportFilesCode = 109;

// The items of an export request (701): [name, device path, folder] for each (name, device path) pair,
// `folder` as the service names it.
std::string ExportItemsJson(const std::vector<WideStringPair>& pairs, const std::wstring& folder);

// Tells the host how an export into `folder` for `device` ended: the service's result and the count of
// files that arrived whole.
void AnswerFilesExported(RelayLink& link, const std::string& device, const std::wstring& folder,
                         std::int64_t serviceCode, std::int64_t arrived);

class ExportService final : public RelayFeature {
public:
    explicit ExportService(RelayLink& link) : m_link(link) {}

    // A host request under `message.name`; false when it is not an export. An export's pairs are taken
    // over and freed here, whatever becomes of the request.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers none of this service's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: every export in flight ends with its code 2.
    void OnServiceGone() override;

private:
    struct Export {
        std::string device;
        std::wstring folder;       // as the user chose it
        std::int64_t arrived = 0;  // files the service reported as copied whole
    };
    void Finish(const Export& job, std::int64_t serviceCode);

    RelayLink& m_link;
    std::map<std::uint64_t, Export> m_inFlight;  // by request id
};

}  // namespace relay
