// A test module for the backup manager scenarios: from inside the running host, once the file
// "<report>.open.done" exists, it opens the manager with the toolkit's start-tool command. Then either
// (TREVANE_PROBE_BACKUPS) it waits for the list to hold that many rows with their sizes, reports each row's
// texts ("row <name>\t<time>\t<size>\t<version>\t<model>\t<serial>"), checks that the host window is
// disabled while the manager shows and enabled again after its close button; or (TREVANE_PROBE_ROUND,
// with TREVANE_PROBE_DEVICES "<name>|<name>" and TREVANE_PROBE_PASSWORD) it backs up each device from the
// new-backup dialog, reports the rows, deletes the second device's backup, and restores the first backup
// onto the second device from the restore dialog ("detach <name>" asks for the first device to go away
// meanwhile), typing the password when the host asks for it; every
// host question on the way is accepted. With TREVANE_PROBE_ROUND "2" and three devices it shows each outcome
// on the manager's status line instead: a backup of the second device (which leaves midway) failing, a
// backup of the first finishing, its restore with a wrong password failing, and a backup of the third
// (which stalls) in progress, each reported as "status <line>" with a screenshot. Screenshots are asked for with "shot
// <name>" (answered by the file
// "<report>.<name>.done"); the report ends with "done". Check lines are "ok <check>" or
// "FAIL <check>: <what it saw>". UI thread of the host.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "probe_support.h"
#include "vnl_utf8.h"

namespace {

constexpr UINT_PTR kTimer = 1;
constexpr UINT kTickMs = 200;
constexpr int kTimeoutTicks = 90 * 1000 / kTickMs;
constexpr int kRoundTimeoutTicks = 400 * 1000 / kTickMs;
const wchar_t kShot[] = L"backup-manager.png";

ModuleRecord* g_record = nullptr;
std::wstring g_reportPath;
std::string g_report;
int g_expectedRows = 0;
int g_step = 0;
int g_ticks = 0;

void Write() {
    FILE* raw = _wfopen(g_reportPath.c_str(), L"wb");
    if (raw == nullptr) return;
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    fwrite(g_report.data(), 1, g_report.size(), file.get());
}

void Line(const std::string& line) {
    g_report += line + "\n";
    Write();
}

HWND Manager() {
    HWND manager = FindWindowW(L"DhBackupDialog", nullptr);
    return manager != nullptr && IsWindowVisible(manager) ? manager : nullptr;
}

// True once the list holds the expected rows, each with a size.
bool ListComplete(HWND list) {
    if (list == nullptr || probe::RowCount(list) != g_expectedRows) return false;
    for (int row = 0; row < g_expectedRows; ++row) {
        const std::wstring size = probe::CellText(list, row, 3);
        if (size.empty() || size == L"0 B") return false;
    }
    return true;
}

void Step(HWND timerWindow) {
    HWND frame = FindWindowW(L"TrevaneMainFrame", nullptr);
    if (g_step == 0) {
        // The scenario says when the device service is connected.
        if (GetFileAttributesW((g_reportPath + L".open.done").c_str()) == INVALID_FILE_ATTRIBUTES) return;
        CommandMessage message{};
        message.code = 5011;
        probe::Invoke(g_record, KESTOR_COMMAND_START_TOOL, message);
        g_step = 1;
    } else if (g_step == 1) {
        HWND manager = Manager();
        HWND list = manager != nullptr ? probe::First(probe::Descendants(manager, L"SysListView32")) : nullptr;
        if (!ListComplete(list)) return;
        for (int row = 0; row < g_expectedRows; ++row) {
            std::wstring text;
            for (int column = 1; column <= 6; ++column)
                text += (column > 1 ? L"\t" : L"") + probe::CellText(list, row, column);
            Line("row " + vnl::Utf8FromWide(text.c_str()));
        }
        Line(probe::CheckLine(frame != nullptr && !IsWindowEnabled(frame), "host window disabled", ""));
        RedrawWindow(manager, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Line("shot " + vnl::Utf8FromWide(kShot));
        g_step = 2;
    } else if (g_step == 2) {
        if (GetFileAttributesW((g_reportPath + L"." + kShot + L".done").c_str()) == INVALID_FILE_ATTRIBUTES) return;
        HWND manager = Manager();
        HWND close = manager != nullptr ? GetDlgItem(manager, 5000) : nullptr;
        if (close != nullptr)
            SendMessageW(manager, WM_COMMAND, MAKEWPARAM(5000, BN_CLICKED), reinterpret_cast<LPARAM>(close));
        Line(probe::CheckLine(close != nullptr && Manager() == nullptr, "close hides the manager", ""));
        Line(probe::CheckLine(frame != nullptr && IsWindowEnabled(frame), "host window enabled again", ""));
        g_step = 3;
    }
    if (g_step == 3) {
        KillTimer(timerWindow, kTimer);
        Line("done");
    }
}

// ---- The round: backup, delete and restore through the dialogs ---------------------------------------

enum ManagerId : int { kBackupButton = 5002, kDeleteButton = 5004, kRestoreButton = 5005, kOkButton = 5002 };
constexpr int kDeviceBox = 5005;
constexpr int kAcceptButton = 5051;

std::vector<std::wstring> g_devices;  // the two device names, backed up in this order
std::wstring g_password;
std::vector<std::function<bool()>> g_round;  // each returns true when its step is done
size_t g_roundStep = 0;

HWND VisibleDialog(const wchar_t* title) {
    HWND dialog = FindWindowW(L"DhDeviceDialog", title);
    return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND ManagerList() { return probe::First(probe::Descendants(Manager(), L"SysListView32")); }

// A visible question of the host: a top-level window with the accepting button.
HWND HostQuestion() {
    for (HWND window : probe::TopLevelWindows()) {
        if (IsWindowVisible(window) && GetDlgItem(window, kAcceptButton) != nullptr) return window;
    }
    return nullptr;
}

bool ShotTaken(const wchar_t* shot) {
    return GetFileAttributesW((g_reportPath + L"." + shot + L".done").c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Click(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Chooses the device `name` in a dialog's box as the user does.
bool ChooseDevice(HWND dialog, const std::wstring& name) {
    HWND box = GetDlgItem(dialog, kDeviceBox);
    const LRESULT index =
        SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
    if (index == CB_ERR) return false;
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kDeviceBox, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    return true;
}

void SetRowState(HWND list, int row, UINT mask, UINT state) {
    LVITEMW item = {};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// Accepts the host's next question; one with a text box gets the password typed first.
std::function<bool()> Accept(const std::string& what) {
    return [what] {
        HWND question = HostQuestion();
        if (question == nullptr) return false;
        HWND edit = probe::First(probe::Descendants(question, L"Edit"));
        if (edit != nullptr) SetWindowTextW(edit, g_password.c_str());
        Line("question " + what + (edit != nullptr ? " with a text box" : ""));
        probe::PressLater(GetDlgItem(question, kAcceptButton));
        return true;
    };
}

std::function<bool()> Shot(const wchar_t* shot, HWND (*window)()) {
    auto asked = std::make_shared<bool>(false);
    return [shot, window, asked] {
        if (!*asked) {
            if (HWND shown = window())
                RedrawWindow(shown, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Line("shot " + vnl::Utf8FromWide(shot));
            *asked = true;
        }
        return ShotTaken(shot);
    };
}

// True once the manager lists `rows` rows, each with its size.
bool ManagerRows(int rows) {
    HWND list = ManagerList();
    if (list == nullptr || probe::RowCount(list) != rows) return false;
    for (int row = 0; row < rows; ++row) {
        const std::wstring size = probe::CellText(list, row, 3);
        if (size.empty() || size == L"0 B") return false;
    }
    return true;
}

// Once the scenario says so, the manager opened as the toolkit opens it (start-tool 5011).
void AddOpenManagerSteps() {
    auto& r = g_round;
    r.push_back([] { return GetFileAttributesW((g_reportPath + L".open.done").c_str()) != INVALID_FILE_ATTRIBUTES; });
    r.push_back([] {
        CommandMessage message{};
        message.code = 5011;
        probe::Invoke(g_record, KESTOR_COMMAND_START_TOOL, message);
        return true;
    });
    r.push_back([] { return Manager() != nullptr; });
}

void BuildRound() {
    auto& r = g_round;
    AddOpenManagerSteps();
    for (size_t i = 0; i < g_devices.size(); ++i) {
        const std::wstring name = g_devices[i];
        r.push_back([] {
            Click(Manager(), kBackupButton);
            return true;
        });
        r.push_back([i] {
            HWND dialog = VisibleDialog(L"Backup");
            if (dialog == nullptr || SendMessageW(GetDlgItem(dialog, kDeviceBox), CB_GETCOUNT, 0, 0) != 2) return false;
            if (i == 0) {
                wchar_t folder[1024] = {};
                GetWindowTextW(probe::First(probe::Descendants(dialog, L"Edit")), folder, 1024);
                Line("folder " + vnl::Utf8FromWide(folder));
                Line(probe::CheckLine(!IsWindowEnabled(Manager()), "manager disabled under the dialog", ""));
            }
            return true;
        });
        if (i == 1) {
            // The first device's backup is listed as it already exists when that device is chosen.
            r.push_back([] { return ChooseDevice(VisibleDialog(L"Backup"), g_devices[0]); });
            r.push_back([] {
                HWND list = probe::First(probe::Descendants(VisibleDialog(L"Backup"), L"SysListView32"));
                if (list == nullptr || probe::RowCount(list) != 1) return false;
                Line("existing " + vnl::Utf8FromWide(probe::CellText(list, 0, 1).c_str()));
                return true;
            });
            r.push_back(Shot(L"backup-new.png", [] { return VisibleDialog(L"Backup"); }));
        }
        r.push_back([name] {
            HWND dialog = VisibleDialog(L"Backup");
            if (!ChooseDevice(dialog, name)) {
                Line(probe::CheckLine(false, "device in the box", vnl::Utf8FromWide(name.c_str())));
                return true;
            }
            Click(dialog, kOkButton);
            return true;
        });
        r.push_back(Accept("backup"));
        r.push_back([i] { return VisibleDialog(L"Backup") == nullptr && ManagerRows(static_cast<int>(i) + 1); });
    }
    r.push_back([] {
        HWND list = ManagerList();
        for (int row = 0; row < probe::RowCount(list); ++row) {
            std::wstring text;
            for (int column = 1; column <= 6; ++column)
                text += (column > 1 ? L"\t" : L"") + probe::CellText(list, row, column);
            Line("row " + vnl::Utf8FromWide(text.c_str()));
        }
        return true;
    });
    r.push_back(Shot(L"backup-manager-made.png", [] { return Manager(); }));
    // Delete the second device's backup.
    r.push_back([] {
        HWND list = ManagerList();
        for (int row = 0; row < probe::RowCount(list); ++row) {
            if (probe::CellText(list, row, 1) == g_devices[1])
                SetRowState(list, row, LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(2));
        }
        Click(Manager(), kDeleteButton);
        return true;
    });
    r.push_back(Accept("delete"));
    r.push_back([] {
        if (!ManagerRows(1)) return false;
        Line("left " + vnl::Utf8FromWide(probe::CellText(ManagerList(), 0, 1).c_str()));
        return true;
    });
    // Restore the first device's backup onto the second device.
    r.push_back([] {
        Click(Manager(), kRestoreButton);
        return true;
    });
    r.push_back([] {
        HWND dialog = VisibleDialog(L"Restore");
        HWND list = probe::First(probe::Descendants(dialog, L"SysListView32"));
        if (list == nullptr || probe::RowCount(list) != 1 ||
            SendMessageW(GetDlgItem(dialog, kDeviceBox), CB_GETCOUNT, 0, 0) != 2) {
            return false;
        }
        ChooseDevice(dialog, g_devices[1]);
        SetRowState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
        return true;
    });
    r.push_back(Shot(L"backup-restore.png", [] { return VisibleDialog(L"Restore"); }));
    // The first device goes away while the dialog shows: it leaves the box, the choice stays.
    r.push_back([] {
        Line("detach " + vnl::Utf8FromWide(g_devices[0].c_str()));
        return true;
    });
    r.push_back([] {
        HWND box = GetDlgItem(VisibleDialog(L"Restore"), kDeviceBox);
        if (SendMessageW(box, CB_GETCOUNT, 0, 0) != 1) return false;
        wchar_t chosen[256] = {};
        GetWindowTextW(box, chosen, 256);
        Line(probe::CheckLine(chosen == g_devices[1], "the chosen device stays chosen", vnl::Utf8FromWide(chosen)));
        return true;
    });
    r.push_back([] {
        Click(VisibleDialog(L"Restore"), kOkButton);
        return true;
    });
    r.push_back(Accept("restore"));
    r.push_back(Accept("password"));
    r.push_back([] {
        if (VisibleDialog(L"Restore") != nullptr) return false;
        Line("restore handed over");
        return true;
    });
}

// ---- The outcomes: a backup whose device leaves, a restore with a wrong password, a run in progress ----

constexpr int kStatusLine = 5007;

std::wstring StatusText() {
    wchar_t text[2048] = {};
    if (HWND manager = Manager()) GetWindowTextW(GetDlgItem(manager, kStatusLine), text, 2048);
    return text;
}

// Waits for the status line to say `words`, reports it as "status <line>" and asks for the screenshot.
void AddStatusSteps(const std::wstring& words, const wchar_t* shot) {
    g_round.push_back([words] {
        const std::wstring text = StatusText();
        if (text.find(words) == std::wstring::npos) return false;
        Line("status " + vnl::Utf8FromWide(text.c_str()));
        // The manager stays modal over the host through every question of the run.
        HWND frame = FindWindowW(L"TrevaneMainFrame", nullptr);
        Line(probe::CheckLine(frame != nullptr && !IsWindowEnabled(frame), "the host waits under the manager", ""));
        return true;
    });
    g_round.push_back(Shot(shot, [] { return Manager(); }));
}

// A backup of the device `name` started from the new-backup dialog, once it lists every device.
void AddBackupSteps(const std::wstring& name) {
    g_round.push_back([] {
        Click(Manager(), kBackupButton);
        return true;
    });
    g_round.push_back([name] {
        HWND dialog = VisibleDialog(L"Backup");
        if (dialog == nullptr ||
            SendMessageW(GetDlgItem(dialog, kDeviceBox), CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(g_devices.size())) {
            return false;
        }
        if (!ChooseDevice(dialog, name))
            Line(probe::CheckLine(false, "device in the box", vnl::Utf8FromWide(name.c_str())));
        Click(dialog, kOkButton);
        return true;
    });
    g_round.push_back(Accept("backup"));
}

// Devices: the first backs up whole (encrypted), the second leaves midway, the third stalls.
void BuildOutcomeRound() {
    auto& r = g_round;
    AddOpenManagerSteps();
    const std::wstring quoted[] = {L"\"" + g_devices[0] + L"\"", L"\"" + g_devices[1] + L"\"",
                                   L"\"" + g_devices[2] + L"\""};
    AddBackupSteps(g_devices[1]);
    AddStatusSteps(L"Backup of " + quoted[1] + L" failed: the device was disconnected.", L"backup-device-left.png");
    AddBackupSteps(g_devices[0]);
    AddStatusSteps(L"Backup of " + quoted[0] + L" finished.", L"backup-finished.png");
    r.push_back([] { return ManagerRows(1); });
    // The finished backup restored onto its device with a wrong password.
    r.push_back([] {
        Click(Manager(), kRestoreButton);
        return true;
    });
    r.push_back([] {
        HWND dialog = VisibleDialog(L"Restore");
        HWND list = probe::First(probe::Descendants(dialog, L"SysListView32"));
        if (list == nullptr || probe::RowCount(list) != 1) return false;
        ChooseDevice(dialog, g_devices[0]);
        SetRowState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
        Click(dialog, kOkButton);
        return true;
    });
    r.push_back(Accept("restore"));
    r.push_back(Accept("password"));
    AddStatusSteps(L"Restore of " + quoted[0] + L" failed: the backup password is wrong.",
                   L"restore-wrong-password.png");
    AddBackupSteps(g_devices[2]);
    AddStatusSteps(L"Backing up " + quoted[2] + L": ", L"backup-progress.png");
}

// One tick of the round: at most one step, so that what a step set off (a question ending, a click
// posted) has happened before the next step looks; true when the round has ended.
bool RoundTick() {
    if (g_roundStep < g_round.size() && g_round[g_roundStep]()) ++g_roundStep;
    return g_roundStep == g_round.size();
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimer) {
        if (!g_round.empty()) {
            if (++g_ticks > kRoundTimeoutTicks) {
                KillTimer(window, kTimer);
                Line(probe::CheckLine(false, "backup round", "timed out at step " + std::to_string(g_roundStep)));
                Line("done");
            } else if (RoundTick()) {
                KillTimer(window, kTimer);
                Line("done");
            }
            return 0;
        }
        if (++g_ticks > kTimeoutTicks) {
            KillTimer(window, kTimer);
            HWND manager = Manager();
            HWND list = manager != nullptr ? probe::First(probe::Descendants(manager, L"SysListView32")) : nullptr;
            Line(probe::CheckLine(false, "backup manager",
                                  "timed out at step " + std::to_string(g_step) +
                                      (manager ? ", shown" : ", not shown") + ", rows " +
                                      std::to_string(list ? probe::RowCount(list) : -1)));
            Line("done");
            return 0;
        }
        Step(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    g_record = record;
    record->receive = &probe::IgnoreCommand;
    wchar_t path[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"TREVANE_PROBE_REPORT", path, 1024);
    if (length == 0 || length >= 1024) return;
    g_reportPath = path;
    wchar_t rows[16] = {};
    if (GetEnvironmentVariableW(L"TREVANE_PROBE_BACKUPS", rows, 16) > 0) g_expectedRows = _wtoi(rows);
    wchar_t text[512] = {};
    wchar_t round[16] = {};
    if (GetEnvironmentVariableW(L"TREVANE_PROBE_ROUND", round, 16) > 0) {
        const DWORD devicesLength = GetEnvironmentVariableW(L"TREVANE_PROBE_DEVICES", text, 512);
        const std::wstring devices(text, devicesLength < 512 ? devicesLength : 0);
        for (size_t start = 0; start <= devices.size();) {
            const size_t bar = std::min(devices.find(L'|', start), devices.size());
            if (bar > start) g_devices.push_back(devices.substr(start, bar - start));
            start = bar + 1;
        }
        const DWORD passwordLength = GetEnvironmentVariableW(L"TREVANE_PROBE_PASSWORD", text, 512);
        g_password.assign(text, passwordLength < 512 ? passwordLength : 0);
        const bool outcomes = std::wstring(L"2") == round;
        if (!outcomes && g_devices.size() == 2) BuildRound();
        if (outcomes && g_devices.size() == 3) BuildOutcomeRound();
    }
    HWND window = probe::RegisterProbe(record, L"TrevaneBackupProbe", &ProbeWindowProc);
    if (window != nullptr) SetTimer(window, kTimer, kTickMs, nullptr);
}
