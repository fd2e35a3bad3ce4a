// A test module for the backup manager scenario: from inside the running host, once the file
// "<report>.open.done" exists, it opens the manager with the toolkit's start-tool command, waits for the list to hold TREVANE_PROBE_BACKUPS rows with their sizes,
// reports each row's texts ("row <name>\t<time>\t<size>\t<version>\t<model>\t<serial>"), asks for a
// screenshot ("shot <name>", answered by the file "<report>.<name>.done"), checks that the host window is
// disabled while the manager shows and enabled again after its close button, then writes "done". Check
// lines are "ok <check>" or "FAIL <check>: <what it saw>". UI thread of the host.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "command_names.h"
#include "probe_support.h"
#include "vnl_utf8.h"

namespace {

constexpr UINT_PTR kTimer = 1;
constexpr UINT kTickMs = 200;
constexpr int kTimeoutTicks = 90 * 1000 / kTickMs;
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
            for (int column = 1; column <= 6; ++column) text += (column > 1 ? L"\t" : L"") + probe::CellText(list, row, column);
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
        if (close != nullptr) SendMessageW(manager, WM_COMMAND, MAKEWPARAM(5000, BN_CLICKED), reinterpret_cast<LPARAM>(close));
        Line(probe::CheckLine(close != nullptr && Manager() == nullptr, "close hides the manager", ""));
        Line(probe::CheckLine(frame != nullptr && IsWindowEnabled(frame), "host window enabled again", ""));
        g_step = 3;
    }
    if (g_step == 3) {
        KillTimer(timerWindow, kTimer);
        Line("done");
    }
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimer) {
        if (++g_ticks > kTimeoutTicks) {
            KillTimer(window, kTimer);
            HWND manager = Manager();
            HWND list = manager != nullptr ? probe::First(probe::Descendants(manager, L"SysListView32")) : nullptr;
            Line(probe::CheckLine(false, "backup manager",
                                  "timed out at step " + std::to_string(g_step) + (manager ? ", shown" : ", not shown") +
                                      ", rows " + std::to_string(list ? probe::RowCount(list) : -1)));
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
    HWND window = probe::RegisterProbe(record, L"TrevaneBackupProbe", &ProbeWindowProc);
    if (window != nullptr) SetTimer(window, kTimer, kTickMs, nullptr);
}
