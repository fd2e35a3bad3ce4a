// Crash callbacks; see crash_report.h. Best effort throughout: every step runs even when an earlier one
// failed, and nothing throws out of a callback.
#include "crash_report.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "crash_description.h"
#include "host_alert.h"
#include "host_paths.h"
#include "host_state.h"
#include "product_identity.h"

namespace trv {
namespace {

std::string SystemText() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return std::string();
    }
    return WindowsVersionText(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.wServicePackMajor,
                              info.wServicePackMinor);
}

void DeleteAllButArchives(const std::wstring& folder) {
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            IsCrashReportArchive(name)) {
            continue;
        }
        DeleteFileW((folder + L"\\" + name).c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

extern "C" void __cdecl OnCrashDescription(const wchar_t* crashFolder, wchar_t** extraFile) {
    try {
        if (crashFolder == nullptr || extraFile == nullptr) {
            return;
        }
        const std::wstring path = std::wstring(crashFolder) + L"Crash.json";
        const std::string text = BuildCrashDescription(ProductNameA(), VersionA(), SystemText());
        FILE* raw = _wfopen(path.c_str(), L"wb");
        if (raw != nullptr) {
            std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
            fwrite(text.data(), 1, text.size(), file.get());
        }
        *extraFile = _wcsdup(path.c_str());
    } catch (...) {
    }
}

extern "C" void __cdecl OnCrashReport(const wchar_t* reportPath) {
    try {
        if (TheHostState().normalExit.load() || reportPath == nullptr) {
            return;
        }
        const std::wstring folder = FolderOfPath(reportPath);
        if (google::IsGoogleLoggingInitialized()) {
            google::ShutdownGoogleLogging();
        }
        DeleteAllButArchives(folder);
        AlertRequest alert;
        alert.owner = GetActiveWindow();
        alert.text =
            L"Application have crashed due to some unknown reasons,Please email the zip crashing report "
            L"file that is generated in below path to us: " +
            folder;
        alert.button = L"Open";
        alert.width = 400;
        alert.height = 180;
        ShowHostAlert(alert);
        VNLUtilityApp::OpenFolder(folder.c_str());
    } catch (...) {
    }
}

}  // namespace trv
