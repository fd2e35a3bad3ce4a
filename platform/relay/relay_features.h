#pragma once
// The relay's features, each once, in the one order the link consults them (relay_feature.h): the link
// (relay_link.cpp) holds one of these and hands it every host command it does not answer itself, every
// reply that is not its own, every device that leaves and the loss of the service.
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <string>

#include "command_message.h"
#include "relay_actions.h"
#include "relay_backups.h"
#include "relay_contacts.h"
#include "relay_devices.h"
#include "relay_drivers.h"
#include "relay_exports.h"
#include "relay_feature.h"
#include "relay_lists.h"
#include "relay_rename.h"
#include "relay_wire.h"

namespace relay {

class RelayFeatures {
public:
    // `devices` is the link's table, which a rename updates; `backupFiles` the desktop's backup folders.
    RelayFeatures(RelayLink& link, DeviceTable& devices, BackupFiles& backupFiles);
    RelayFeatures(const RelayFeatures&) = delete;
    RelayFeatures& operator=(const RelayFeatures&) = delete;

    // As RelayFeatureList: to the first feature that takes it, or to every one.
    bool Handle(CommandMessage& message) { return m_list.Handle(message); }
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
        return m_list.OnReply(packet, frame, data);
    }
    void OnDeviceGone(const std::string& device) { m_list.OnDeviceGone(device); }
    void OnServiceGone() { m_list.OnServiceGone(); }

private:
    ContactsService m_contacts;
    ListsService m_lists;
    ActionsService m_actions;  // relists through m_lists
    RenameService m_renames;
    ExportService m_exports;
    DriverService m_drivers;
    BackupService m_backups;
    RelayFeatureList m_list;
};

}  // namespace relay
