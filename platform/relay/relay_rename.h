#pragma once
// The relay's device rename in service mode: the host's ZERITH_COMMAND_DO_BASICINFO with code 135 (the
// device in `wideText`, the new name in `extra`) becomes the service's rename request (303, data
// {"name": ...}). When the service has renamed the device, the device table takes the new name and the
// host is answered under the same name and code with the device in `text` and a copy of the name in
// `extra` (which the host frees); a rename the service refused, or that never reached it, is not
// answered, so that the title bar keeps the name the device really has.
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <cstdint>
#include <map>
#include <string>

#include "command_message.h"
#include "relay_feature.h"
#include "relay_devices.h"
#include "relay_wire.h"

namespace relay {

constexpr std::int64_t kRenameCode = 135;
constexpr std::uint32_t kRequestRenameDevice = 303;

class RenameService final : public RelayFeature {
public:
    RenameService(RelayLink& link, DeviceTable& devices) : m_link(link), m_devices(devices) {}

    // A host request; false when it is not a rename.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers no rename.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: the renames in flight are forgotten (none is answered).
    void OnServiceGone() override { m_inFlight.clear(); }

private:
    struct Rename {
        std::string device;
        std::string name;
    };
    RelayLink& m_link;
    DeviceTable& m_devices;
    std::map<std::uint64_t, Rename> m_inFlight;  // by request id
};

}  // namespace relay
