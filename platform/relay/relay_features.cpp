// The relay's features in their order; see relay_features.h.
#include "relay_features.h"

#include <cstring>

#include "command_names.h"

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
    // A listing of the apps is followed by their icons, a listing of photos by their thumbnails.
    m_lists.OnListed([this](const ListRoute& route, const std::string& device, const std::vector<WideStringPair>& rows) {
        std::vector<std::wstring> keys;
        for (const WideStringPair& row : rows) keys.push_back(row.first);
        if (std::strcmp(route.answerName, ZERITH_COMMAND_DO_PHOTO) == 0) {
            FetchPhotoThumbnails(m_actions, device, keys);
        } else if (route.listCode == sdk::apps::kRelayLoaded && !rows.empty()) {
            m_actions.KeepNames(device, rows);
            FetchAppIcons(m_actions, device, keys);
        }
    });
}

}  // namespace relay
