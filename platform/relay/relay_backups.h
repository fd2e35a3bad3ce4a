#pragma once
// The relay's backup requests in service mode: the list of the backups on this computer (136: the default
// folder, or with a vector of desktop folders the manager's import; service request 1602), answered per
// backup found as 136 `status` 0 with an iOSBackup, then 136 `status` 1 with its BackupSizeUpdate, and
// 136 `status` 2 once the list is complete (`value2` the service's result code); deletion (137 with the
// keys of the backups, which are their folders as the service named them; each deleted folder is answered
// 137 with a malloc copy of its key); a new backup (138 with (device, target folder): service request 1600,
// and once it has succeeded the new backup's folder is listed, so that it joins the manager's list); the
// default folder (139, answered in place with a vector of one desktop folder) and a restore (140 with a
// sdk::backups::RestoreRequest: service request 1601). A target folder the service cannot reach is refused
// rather than replaced by the default one. A backup or restore reports its progress while it runs and its
// outcome when it ends as 136 `status` sdk::backups::kBackupRunReport with a BackupRunReport (backup_records.h).
//
// UI thread only; reaches the service and the host through RelayLink and the desktop's files through
// BackupFiles, so that it is tested natively.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backup_records.h"
#include "command_message.h"
#include "relay_feature.h"
#include "relay_wire.h"

namespace relay {

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

class BackupService final : public RelayFeature {
public:
    BackupService(RelayLink& link, BackupFiles& files) : m_link(link), m_files(files) {}

    // A host request; false when it is none of the above. Takes over the payloads the requests hand over.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers no request of this service.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: every list in flight is complete, every run ends as failed.
    void OnServiceGone() override;

private:
    // A backup or restore in flight.
    struct Run {
        sdk::backups::RunKind kind;
        std::string device;
        std::string folder;  // a backup's folder as the service announced it
        int percent = -1;    // as last reported
    };
    // `paths`: service paths; "" stands for the default folder.
    void List(const std::vector<std::string>& paths);
    void Delete(const std::vector<std::wstring>& keys);
    void StartRun(sdk::backups::RunKind kind, std::uint32_t serviceCode, const std::string& device,
                  const std::string& json);
    void AnswerList(std::int64_t status, void* record, std::int64_t serviceCode);
    void Report(const Run& run, bool ended, std::int64_t resultCode, const std::wstring& reason);
    bool OnListReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    bool OnRunReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);

    RelayLink& m_link;
    BackupFiles& m_files;
    std::set<std::uint64_t> m_listings;   // request ids of the lists in flight
    std::map<std::uint64_t, Run> m_runs;  // by request id
};

}  // namespace relay
