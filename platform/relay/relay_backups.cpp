// The relay's backups: the backups on this computer (1602) in the default folder (an empty path), listed for
// no device in particular; the list answers as a backup that started (`status` 0); see relay_lists.h. The
// other backup requests are BackupService's; see relay_backups.h.
#include "relay_backups.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_paths.h"
#include "vnl_utf8.h"

namespace trv::relay {
namespace {

constexpr std::int64_t kListCode = 136;
constexpr std::int64_t kDeleteCode = 137;
constexpr std::int64_t kBackupCode = 138;
constexpr std::int64_t kDefaultFolderCode = 139;
constexpr std::int64_t kRestoreCode = 140;
constexpr std::uint32_t kRequestBackup = 1600;
constexpr std::uint32_t kRequestRestore = 1601;
constexpr std::int64_t kServiceSuccess = 0;

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_BACKUP, kListCode, 1602, ZERITH_COMMAND_DO_BACKUP, kListCode, kNoCount, 0, &kTextBatches,
     kAnySection, true, R"({"paths":[""]})"},
};

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteText(JsonWriter& writer, const char* key, const std::string& value) {
    writer.Key(key);
    writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

// The folder a backup announces at its start: {"BackupDir": folder}.
std::string AnnouncedFolder(const std::string& json) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsObject()) return std::string();
    auto member = document.FindMember("BackupDir");
    return member != document.MemberEnd() && member->value.IsString()
               ? std::string(member->value.GetString(), member->value.GetStringLength())
               : std::string();
}

}  // namespace

const ListFeature kBackupsList = {kRoutes, std::size(kRoutes), nullptr, 0};
const ListRoute& kBackupListRoute = kRoutes[0];

bool BackupService::Handle(CommandMessage& message) {
    if (message.name == nullptr || std::strcmp(message.name, ZERITH_COMMAND_DO_BACKUP) != 0) return false;
    const std::int64_t code = message.code;
    if (code == kListCode && message.data == nullptr) return false;  // the plain list
    if (code != kListCode && code != kDeleteCode && code != kBackupCode && code != kDefaultFolderCode &&
        code != kRestoreCode) {
        return false;
    }
    // Whatever the request hands over is this service's from here on, and freed as it was made.
    const auto release = [&message, code] {
        backups::ReleasePayload(PayloadLeg::RelayRequest, code, message.data);
        message.data = nullptr;
    };
    if (code == kListCode) {
        ListFolders(*static_cast<const std::vector<std::wstring>*>(message.data));
    } else if (code == kDeleteCode) {
        if (message.data != nullptr) Delete(*static_cast<const std::vector<std::wstring>*>(message.data));
    } else if (code == kDefaultFolderCode) {
        const std::wstring folder = m_files.DefaultBackupFolder();
        message.extra = new std::vector<std::wstring>(folder.empty() ? 0 : 1, folder);  // the asker frees it
    } else if (code == kBackupCode && message.data != nullptr) {
        const auto& target = *static_cast<const WideStringPair*>(message.data);
        const std::wstring folder = target.second.empty() ? std::wstring() : ToServicePath(target.second);
        if (target.first.empty() || (!target.second.empty() && folder.empty())) {
            release();  // no device, or a folder the service cannot reach: nothing is backed up
            return true;
        }
        rapidjson::StringBuffer json;
        JsonWriter writer(json);
        writer.StartObject();
        WriteText(writer, "path", vnl::Utf8FromWide(folder));
        writer.EndObject();
        const std::uint64_t id = m_link.SendRequest(kRequestBackup, vnl::Utf8FromWide(target.first), json.GetString());
        if (id != 0) m_inFlight[id] = std::string();
    } else if (code == kRestoreCode && message.data != nullptr) {
        const auto& request = *static_cast<const backups::RestoreRequest*>(message.data);
        rapidjson::StringBuffer json;
        JsonWriter writer(json);
        writer.StartObject();
        WriteText(writer, "path", vnl::Utf8FromWide(request.backupFolder));
        WriteText(writer, "sourceDeviceId", vnl::Utf8FromWide(request.sourceDevice));
        WriteText(writer, "password", vnl::Utf8FromWide(request.password));
        writer.EndObject();
        const std::uint64_t id = m_link.SendRequest(kRequestRestore, vnl::Utf8FromWide(request.device), json.GetString());
        if (id != 0) m_inFlight[id] = std::string();
    }
    release();
    return true;
}

void BackupService::ListFolders(const std::vector<std::wstring>& desktopFolders) {
    rapidjson::StringBuffer json;
    JsonWriter writer(json);
    writer.StartObject();
    writer.Key("paths");
    writer.StartArray();
    for (const std::wstring& folder : desktopFolders) {
        const std::string path = vnl::Utf8FromWide(ToServicePath(folder));
        if (!path.empty()) writer.String(path.c_str(), static_cast<rapidjson::SizeType>(path.size()));
    }
    writer.EndArray();
    writer.EndObject();
    m_lists.StartListing(kBackupListRoute, json.GetString());
}

void BackupService::Delete(const std::vector<std::wstring>& keys) {
    for (const std::wstring& key : keys) {
        const std::wstring folder = ToDesktopPath(key);
        if (folder.empty() || !m_files.DeleteBackupFolder(folder)) continue;  // the row stays: it is still there
        ContactsAnswer answer;
        answer.code = kDeleteCode;
        answer.name = ZERITH_COMMAND_DO_BACKUP;
        answer.extra = HeapCopy(key);  // the host frees it
        answer.release = &ReleaseHeapText;
        m_link.Answer(answer);
    }
}

bool BackupService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) return false;
    if (!IsLastReply(packet.header)) {
        if (!data.empty() && it->second.empty()) it->second = AnnouncedFolder(data);
        return true;
    }
    const std::string folder = it->second;
    m_inFlight.erase(it);
    // A finished backup joins the manager's list; its folder is a service path, listed as its desktop form.
    if (frame.code == kServiceSuccess && !folder.empty()) {
        ListFolders({ToDesktopPath(vnl::WideFromUtf8(folder))});
    }
    return true;
}

}  // namespace trv::relay
