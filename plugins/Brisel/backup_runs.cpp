// The manager's backup and restore runs; see backup_runs.h.
#include "backup_runs.h"

#include <algorithm>

namespace brisel {
namespace {

// Result codes of the device service (its reply codes) and of the device's backup service, which the
// service passes on as they came.
constexpr int64_t kCancelled = 6;
constexpr int64_t kNoDevice = 7;
constexpr int64_t kServiceNotOpened = 12;
constexpr int64_t kNoConnection = 24;
constexpr int64_t kManifestError = 42;
constexpr int64_t kDeviceGone = 45;
constexpr int64_t kDeviceLocked = 48;
constexpr int64_t kDeviceBusy = 60;
constexpr int64_t kBackupIncomplete = 61;
constexpr int64_t kDeviceDiskSpace = 105;
constexpr int64_t kDeviceWrongPassword = 207;

}  // namespace

std::wstring FailureReason(int64_t code, const std::wstring& serviceText) {
    switch (code) {
    case kCancelled: return L"it was cancelled";
    case kNoDevice:
    case kNoConnection:
    case kDeviceGone: return L"the device was disconnected";
    case kServiceNotOpened: return L"the device's backup service did not start";
    case kManifestError: return L"the backup is damaged (its Manifest.plist is missing or unreadable)";
    case kDeviceLocked: return L"the device is locked with a passcode";
    case kDeviceBusy: return L"another backup or restore of this device is running";
    case kBackupIncomplete: return L"the backup is incomplete (files it lists are missing); the device was not changed";
    case kDeviceDiskSpace: return L"the disk is full: there is not enough free space on this computer";
    case kDeviceWrongPassword: return L"the backup password is wrong";
    default: break;
    }
    std::wstring reason = L"the device service reported error " + std::to_wstring(code);
    if (!serviceText.empty()) reason += L" (" + serviceText + L")";
    return reason;
}

void BackupRuns::Start(sdk::backups::RunKind kind, const std::wstring& key, const std::wstring& name) {
    m_runs.erase(std::remove_if(m_runs.begin(), m_runs.end(), [&key](const Run& run) { return run.key == key; }),
                 m_runs.end());
    Run run;
    run.kind = kind;
    run.key = key;
    run.name = name;
    m_runs.push_back(run);
}

bool BackupRuns::Apply(const sdk::backups::BackupRunReport& report) {
    auto it = std::find_if(m_runs.begin(), m_runs.end(),
                           [&report](const Run& run) { return run.key == report.device && run.kind == report.kind; });
    if (it == m_runs.end()) {
        Start(report.kind, report.device, report.device);
        it = m_runs.end() - 1;
    }
    Run& run = *it;
    // An outcome is final: a late progress report does not undo it.
    if (run.ended) return false;
    const int percent = std::clamp<int>(report.percent, 0, 100);
    if (!report.ended && percent == run.percent) return false;
    run.percent = percent;
    run.ended = report.ended;
    run.resultCode = report.resultCode;
    run.reason = report.reason;
    return true;
}

void BackupRuns::ForgetEnded() {
    m_runs.erase(std::remove_if(m_runs.begin(), m_runs.end(), [](const Run& run) { return run.ended; }), m_runs.end());
}

std::wstring BackupRuns::LineOf(const Run& run) {
    const bool backup = run.kind == sdk::backups::RunKind::Backup;
    const std::wstring name = L"\"" + run.name + L"\"";
    if (!run.ended) {
        return (backup ? L"Backing up " : L"Restoring ") + name + L": " + std::to_wstring(run.percent) + L"%";
    }
    const std::wstring what = (backup ? L"Backup of " : L"Restore of ") + name;
    if (run.resultCode != 0) return what + L" failed: " + FailureReason(run.resultCode, run.reason) + L".";
    return backup ? what + L" finished." : what + L" finished; the device restarts now.";
}

std::vector<BackupRuns::Line> BackupRuns::Lines() const {
    std::vector<Line> lines;
    for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it)
        lines.push_back({LineOf(*it), it->ended && it->resultCode != 0});
    return lines;
}

std::wstring BackupRuns::Text() const {
    std::wstring text;
    for (const Line& line : Lines()) text += (text.empty() ? L"" : L"   ") + line.text;
    return text;
}

bool BackupRuns::HasFailure() const {
    return std::any_of(m_runs.begin(), m_runs.end(), [](const Run& run) { return run.ended && run.resultCode != 0; });
}

int BackupRuns::RunningPercent() const {
    for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it) {
        if (!it->ended) return it->percent;
    }
    return -1;
}

}  // namespace brisel
