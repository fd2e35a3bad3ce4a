// The relay's features in their order; see relay_features.h.
#include "relay_features.h"

namespace relay {

RelayFeatures::RelayFeatures(RelayLink& link, DeviceTable& devices, BackupFiles& backupFiles)
    : m_contacts(link),
      m_lists(link),
      m_actions(link, m_lists),
      m_renames(link, devices),
      m_exports(link),
      m_drivers(link),
      m_backups(link, backupFiles),
      // No two features take the same command (each its own names and codes; the tests check it) or the same
      // reply (each its own request ids), so the order fixes only the order of their answers at the service's loss.
      m_list({&m_contacts, &m_lists, &m_actions, &m_renames, &m_exports, &m_drivers, &m_backups}) {
    // A listing of the apps is followed by their icons.
    m_lists.OnListed([this](const ListRoute& route, const std::string& device, const std::vector<WideStringPair>& rows) {
        if (route.listCode != sdk::apps::kRelayLoaded || rows.empty()) return;
        m_actions.KeepNames(device, rows);
        std::vector<std::wstring> apps;
        for (const WideStringPair& row : rows) apps.push_back(row.first);
        FetchAppIcons(m_actions, device, apps);
    });
}

}  // namespace relay
