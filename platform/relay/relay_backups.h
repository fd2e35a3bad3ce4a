#pragma once
// The relay's backup requests in service mode beyond the plain list (relay_lists.h): the list of chosen
// folders (136 with a vector of desktop folders, the manager's import), deletion (137 with the keys of the
// backups, which are their folders as the service named them; each deleted folder is answered 137 with a
// malloc copy of its key), a new backup (138 with (device, target folder): service request 1600, and once
// it has succeeded the new backup's folder is listed, so that it joins the manager's list), the default
// folder (139, answered in place with a vector of one desktop folder) and a restore (140 with a
// backups::RestoreRequest: service request 1601). A target folder the service cannot reach is refused
// rather than replaced by the default one.
//
// UI thread only; reaches the service and the host through ContactsLink and the desktop's files through
// BackupFiles, so that it is tested natively.

#include <cstdint>
#include <map>
#include <string>

#include "command_message.h"
#include "relay_contacts.h"
#include "relay_lists.h"
#include "relay_wire.h"

namespace trv::relay {

// The plain list of the default folder's backups, also used for chosen folders.
extern const ListRoute& kBackupListRoute;

// The desktop's side of the backup folders.
class BackupFiles {
public:
    virtual ~BackupFiles() = default;
    // Deletes the backup folder `desktopPath` with all it holds; false when it is not a backup folder (no
    // Info.plist) or could not be deleted whole.
    virtual bool DeleteBackupFolder(const std::wstring& desktopPath) = 0;
    // The folder backups go to by default, as a desktop path; empty when there is none.
    virtual std::wstring DefaultBackupFolder() = 0;
};

// The Win32 form of BackupFiles (relay_backup_files.cpp, the module's build only).
BackupFiles& DesktopBackupFiles();

class BackupService {
public:
    BackupService(ContactsLink& link, ListsService& lists, BackupFiles& files)
        : m_link(link), m_lists(lists), m_files(files) {}

    // A host request; false when it is none of the above (the plain list goes to ListsService). Takes
    // over the payloads the requests hand over.
    bool Handle(CommandMessage& message);
    // A reply packet; false when it answers no backup or restore of this service.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    void OnServiceGone() { m_inFlight.clear(); }

private:
    void ListFolders(const std::vector<std::wstring>& desktopFolders);
    void Delete(const std::vector<std::wstring>& keys);

    ContactsLink& m_link;
    ListsService& m_lists;
    BackupFiles& m_files;
    // Backups and restores in flight by request id: the folder the service said a backup goes to.
    std::map<std::uint64_t, std::string> m_inFlight;
};

}  // namespace trv::relay
