// The relay's backups; see relay_backups.h.
#include "relay_backups.h"

#include <cstring>
#include <memory>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "feature_codes.h"
#include "relay_paths.h"
#include "vnl_device_models.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr std::int64_t kListCode = 136;
constexpr std::int64_t kDeleteCode = 137;
constexpr std::int64_t kBackupCode = 138;
constexpr std::int64_t kDefaultFolderCode = 139;
constexpr std::int64_t kRestoreCode = 140;
constexpr std::int64_t kListRecord = 0;
constexpr std::int64_t kListSize = 1;
constexpr std::int64_t kListComplete = 2;
constexpr std::uint32_t kRequestBackup = 1600;
constexpr std::uint32_t kRequestRestore = 1601;
constexpr std::uint32_t kRequestList = 1602;
constexpr std::int64_t kServiceSuccess = 0;
constexpr std::int64_t kTaskError = 2;
// Progress replies carry hundredths of a percent in their code.
constexpr std::int64_t kProgressScale = 100;
const wchar_t kServiceGoneText[] = L"The device service stopped.";

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteText(JsonWriter& writer, const char* key, const std::string& value) {
    writer.Key(key);
    writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

std::string Text(const rapidjson::Value& record, const char* name) {
    auto member = record.FindMember(name);
    return member != record.MemberEnd() && member->value.IsString()
               ? std::string(member->value.GetString(), member->value.GetStringLength())
               : std::string();
}

std::wstring WideText(const rapidjson::Value& record, const char* name) {
    return vnl::WideFromUtf8(Text(record, name).c_str());
}

// One record of the service's list: a backup as its first report has it, or, with "Size", its size.
// Null (and `status` untouched) for a record without its folder or with a size that is no byte count.
void* ReadListRecord(const std::string& json, std::int64_t& status) {
    rapidjson::Document record;
    record.Parse(json.c_str(), json.size());
    if (record.HasParseError() || !record.IsObject()) return nullptr;
    const std::wstring key = WideText(record, "Path");
    if (key.empty()) return nullptr;
    auto size = record.FindMember("Size");
    if (size != record.MemberEnd()) {
        if (!size->value.IsInt64() || size->value.GetInt64() < 0) return nullptr;
        status = kListSize;
        return new BackupSizeUpdate{key, size->value.GetInt64()};
    }
    auto backup = std::make_unique<iOSBackup>();
    backup->key = key;
    backup->name = WideText(record, "Device Name");
    backup->path = key;
    backup->productVersion = WideText(record, "Product Version");
    backup->buildVersion = WideText(record, "Build Version");
    backup->model = vnl::ModelName(vnl::Utf8FromWide(WideText(record, "Product Type")));
    backup->serialNumber = WideText(record, "Serial Number");
    backup->deviceIdentifier = WideText(record, "Unique Identifier");
    backup->time = WideText(record, "Last Backup Date");
    auto encrypted = record.FindMember("IsEncrypted");
    backup->encrypted = encrypted != record.MemberEnd() && encrypted->value.IsBool() && encrypted->value.GetBool();
    auto incomplete = record.FindMember("IsIncomplete");
    backup->incomplete =
        incomplete != record.MemberEnd() && incomplete->value.IsBool() && incomplete->value.GetBool();
    status = kListRecord;
    return backup.release();
}

// What the list's answers carry, by `status` (the host tells them apart by it; see backup_records.h).
void ReleaseListRecord(std::int64_t status, void* payload) {
    if (status == kListRecord) delete static_cast<iOSBackup*>(payload);
    if (status == kListSize) delete static_cast<BackupSizeUpdate*>(payload);
    if (status == sdk::backups::kBackupRunReport) delete static_cast<sdk::backups::BackupRunReport*>(payload);
}

void ReleaseBackup(PayloadLeg, std::int64_t, void* payload) { ReleaseListRecord(kListRecord, payload); }
void ReleaseSize(PayloadLeg, std::int64_t, void* payload) { ReleaseListRecord(kListSize, payload); }
void ReleaseReport(PayloadLeg, std::int64_t, void* payload) {
    ReleaseListRecord(sdk::backups::kBackupRunReport, payload);
}

ReleasePayloadFunction ReleaseFor(std::int64_t status) {
    return status == kListRecord ? &ReleaseBackup : status == kListSize ? &ReleaseSize : &ReleaseReport;
}

// The folder a backup announces at its start: {"BackupDir": folder}.
std::string AnnouncedFolder(const std::string& json) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    return !document.HasParseError() && document.IsObject() ? Text(document, "BackupDir") : std::string();
}

// The service's words for a failure: the final reply's {"error": text}.
std::wstring ErrorText(const ReplyFrame& frame) {
    JsonObjectView info;
    std::string text;
    if (!frame.hasInfo || !info.Parse(frame.infoJson) || !info.GetString("error", text)) return std::wstring();
    return vnl::WideFromUtf8(text.c_str());
}

}  // namespace

bool BackupService::Handle(CommandMessage& message) {
    if (message.name == nullptr || std::strcmp(message.name, ZERITH_COMMAND_DO_BACKUP) != 0) return false;
    const std::int64_t code = message.code;
    if (code != kListCode && code != kDeleteCode && code != kBackupCode && code != kDefaultFolderCode &&
        code != kRestoreCode) {
        return false;
    }
    if (code == kListCode && message.data == nullptr) {
        List({std::string()});
    } else if (code == kListCode) {
        std::vector<std::string> paths;
        for (const std::wstring& folder : *static_cast<const std::vector<std::wstring>*>(message.data)) {
            const std::string path = vnl::Utf8FromWide(ToServicePath(folder));
            if (!path.empty()) paths.push_back(path);
        }
        List(paths);
    } else if (code == kDeleteCode) {
        if (message.data != nullptr) Delete(*static_cast<const std::vector<std::wstring>*>(message.data));
    } else if (code == kDefaultFolderCode) {
        const std::wstring folder = m_files.DefaultBackupFolder();
        message.extra = new std::vector<std::wstring>(folder.empty() ? 0 : 1, folder);  // the asker frees it
    } else if (code == kBackupCode && message.data != nullptr) {
        const auto& target = *static_cast<const WideStringPair*>(message.data);
        const std::wstring folder = target.second.empty() ? std::wstring() : ToServicePath(target.second);
        // No device, or a folder the service cannot reach: nothing is backed up.
        if (!target.first.empty() && (target.second.empty() || !folder.empty())) {
            rapidjson::StringBuffer json;
            JsonWriter writer(json);
            writer.StartObject();
            WriteText(writer, "path", vnl::Utf8FromWide(folder));
            writer.EndObject();
            StartRun(sdk::backups::RunKind::Backup, kRequestBackup, vnl::Utf8FromWide(target.first), json.GetString());
        }
    } else if (code == kRestoreCode && message.data != nullptr) {
        const auto& request = *static_cast<const sdk::backups::RestoreRequest*>(message.data);
        rapidjson::StringBuffer json;
        JsonWriter writer(json);
        writer.StartObject();
        WriteText(writer, "path", vnl::Utf8FromWide(request.backupFolder));
        WriteText(writer, "sourceDeviceId", vnl::Utf8FromWide(request.sourceDevice));
        WriteText(writer, "password", vnl::Utf8FromWide(request.password));
        writer.EndObject();
        StartRun(sdk::backups::RunKind::Restore, kRequestRestore, vnl::Utf8FromWide(request.device), json.GetString());
    }
    // Whatever the request handed over is this service's from here on, and freed as it was made.
    sdk::backups::ReleasePayload(PayloadLeg::RelayRequest, code, message.data);
    message.data = nullptr;
    return true;
}

void BackupService::List(const std::vector<std::string>& paths) {
    rapidjson::StringBuffer json;
    JsonWriter writer(json);
    writer.StartObject();
    writer.Key("paths");
    writer.StartArray();
    for (const std::string& path : paths) writer.String(path.c_str(), static_cast<rapidjson::SizeType>(path.size()));
    writer.EndArray();
    writer.EndObject();
    const std::uint64_t id = m_link.SendRequest(kRequestList, std::string(), json.GetString());
    if (id == 0) {
        AnswerList(kListComplete, nullptr, kTaskError);
    } else {
        m_listings.insert(id);
    }
}

void BackupService::Delete(const std::vector<std::wstring>& keys) {
    for (const std::wstring& key : keys) {
        const std::wstring folder = ToDesktopPath(key);
        if (folder.empty() || !m_files.DeleteBackupFolder(folder)) continue;  // the row stays: it is still there
        RelayAnswer answer;
        answer.code = kDeleteCode;
        answer.name = ZERITH_COMMAND_DO_BACKUP;
        answer.payload = HeapCopy(key);  // the host frees it
        answer.release = &ReleaseHeapText;
        m_link.Answer(answer);
    }
}

void BackupService::StartRun(sdk::backups::RunKind kind, std::uint32_t serviceCode, const std::string& device,
                             const std::string& json) {
    Run run{kind, device, std::string()};
    run.percent = 0;
    const std::uint64_t id = m_link.SendRequest(serviceCode, device, json);
    if (id == 0) {
        Report(run, true, kTaskError, kServiceGoneText);  // the manager hears that nothing started
        return;
    }
    m_runs[id] = run;
    Report(m_runs[id], false, 0, std::wstring());  // under way, at 0%
}

void BackupService::AnswerList(std::int64_t status, void* record, std::int64_t serviceCode) {
    RelayAnswer answer;
    answer.code = kListCode;
    answer.name = ZERITH_COMMAND_DO_BACKUP;
    answer.status = status;
    answer.payload = record;
    answer.resultOrCount = serviceCode;
    answer.release = ReleaseFor(status);
    m_link.Answer(answer);
}

void BackupService::Report(const Run& run, bool ended, std::int64_t resultCode, const std::wstring& reason) {
    auto report = std::make_unique<sdk::backups::BackupRunReport>();
    report->kind = run.kind;
    report->device = vnl::WideFromUtf8(run.device.c_str());
    report->percent = run.percent < 0 ? 0 : run.percent;
    report->ended = ended;
    report->resultCode = resultCode;
    report->reason = reason;
    RelayAnswer answer;
    answer.device = run.device;
    answer.code = kListCode;
    answer.name = ZERITH_COMMAND_DO_BACKUP;
    answer.status = sdk::backups::kBackupRunReport;
    answer.payload = report.release();  // the host's, or freed by `release` when undelivered
    answer.release = &ReleaseReport;
    m_link.Answer(answer);
}

bool BackupService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    return OnListReply(packet, frame, data) || OnRunReply(packet, frame, data);
}

bool BackupService::OnListReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_listings.find(packet.header.id);
    if (it == m_listings.end()) return false;
    if (!data.empty()) {
        std::int64_t status = kListRecord;
        if (void* record = ReadListRecord(data, status)) AnswerList(status, record, 0);
    }
    if (IsLastReply(packet.header)) {
        m_listings.erase(it);
        AnswerList(kListComplete, nullptr, frame.code);
    }
    return true;
}

bool BackupService::OnRunReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_runs.find(packet.header.id);
    if (it == m_runs.end()) return false;
    Run& run = it->second;
    if (!IsLastReply(packet.header)) {
        if (!data.empty()) {
            if (run.folder.empty()) run.folder = AnnouncedFolder(data);
        } else if (frame.code >= 0 && frame.code <= 100 * kProgressScale) {
            // A report per whole percent, not per progress reply (a large backup sends thousands).
            const int percent = static_cast<int>(frame.code / kProgressScale);
            if (percent > run.percent) {
                run.percent = percent;
                Report(run, false, 0, std::wstring());
            }
        }
        return true;
    }
    const Run done = run;
    m_runs.erase(it);
    Report(done, true, frame.code, ErrorText(frame));
    // A finished backup joins the manager's list.
    if (done.kind == sdk::backups::RunKind::Backup && frame.code == kServiceSuccess && !done.folder.empty()) {
        List({done.folder});
    }
    return true;
}

void BackupService::OnServiceGone() {
    std::set<std::uint64_t> listings;
    listings.swap(m_listings);
    for (std::size_t i = 0; i < listings.size(); ++i) AnswerList(kListComplete, nullptr, kTaskError);
    std::map<std::uint64_t, Run> runs;
    runs.swap(m_runs);
    for (const auto& entry : runs) Report(entry.second, true, kTaskError, kServiceGoneText);
}

}  // namespace relay
