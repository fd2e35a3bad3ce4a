// Host start-up and shut-down; see host_startup.h.
#include "host_startup.h"

#include <cstdlib>
#include <memory>

#include <glog/logging.h>
#include <vornel/VNLDbgReport.h>
#include <vornel/VNLUserDefaults.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilityFile.h>
#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilitySys.h>

#include "command_names.h"
#include "command_bus.h"
#include "crash_report.h"
#include "host_alert.h"
#include "host_paths.h"
#include "host_state.h"
#include "product_identity.h"
#include "theme_images.h"

namespace trv {
namespace {

std::wstring Now(const wchar_t* format) {
    wchar_t buffer[64] = {};
    VNLUtilitySys::GetNowDateTime(buffer, 64, format);
    return buffer;
}

bool FolderHasVisibleEntries(const std::wstring& folder) {
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return false;  // a folder that cannot be listed counts as empty
    }
    bool visible = false;
    do {
        if (!IsIgnoredLogEntry(entry.cFileName)) {
            visible = true;
        }
    } while (!visible && FindNextFileW(find, &entry));
    FindClose(find);
    return visible;
}

}  // namespace

HostState& TheHostState() {
    static HostState* state = new HostState();
    return *state;
}

HANDLE SingleInstanceGuard() {
    // One create, and "already exists" means another copy: opening first and creating afterwards leaves a
    // gap in which two copies started together both find no mutex and both run.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, SingleInstanceMutexName().c_str());
    if (mutex == nullptr) {
        LOG(ERROR) << "single-instance mutex not created, error " << GetLastError();
        return nullptr;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

std::wstring CreateLogFolder() {
    wchar_t temp[261] = {};
    GetTempPathW(260, temp);
    const std::wstring folder = LogFolderPath(temp, BrandWordW(), Now(L"%Y%m%d"));
    // Every missing level, not just the last one: on a machine's first run the brand folder does not exist
    // either, and a single create would leave the program without its log and crash dumps.
    for (const std::wstring& level : FolderLevels(folder)) {
        CreateDirectoryW(level.c_str(), nullptr);
    }
    return folder;
}

std::wstring PreferencesPath() {
    return PreferencesPathFor(VNLTakeText(VNLUtilitySys::GetAppDataDir()), BrandWordW(),
                              VNLTakeText(VNLUtilityApp::GetProductInstallDir()),
                              [](const std::wstring& path) { return VNLUtilityFile::IsFileExist(path.c_str()); });
}

bool InitApplication() {
    HostState& state = TheHostState();
    CommandBus& bus = CommandBus::Instance();
    LoadThemeImages(bus, VNLTakeText(VNLUtilityApp::GetProductThemesDir()), AlertImagePaths());

    state.dumpPath = DumpPathIn(state.logFolder, Now(L"%Y%m%d%H%M%S"));
    if (!VNLDbgReport::RegisterCrashFilter(state.dumpPath.c_str(), &OnCrashReport, &OnCrashDescription)) {
        LOG(WARNING) << "crash filter not registered";
    }

    const std::wstring product = ProductNameW();
    if (!VNLUserDefaults::InitStandardUserDefaults(BrandWordW().c_str(), product.c_str())) {
        LOG(WARNING) << "user settings unreadable; starting from defaults";
    }

    const std::wstring optionPath = VNLTakeText(VNLUtilityApp::GetProductInstallDir()) + L"Option.json";
    if (VNLUserDefaults::InitUserDefaults("url", optionPath.c_str())) {
        state.productType = VNLUserDefaults::GetUserDefaults("url")->GetInt("product:type", 0);
        if (state.productType == 1) {
            state.preferencesPath = PreferencesPath();
        }
        LOG(INFO) << "configuration loaded, product type " << state.productType;
        return true;
    }

    LOG(ERROR) << "Option.json could not be loaded";
    AlertRequest alert;
    alert.owner = GetActiveWindow();
    alert.text = L"Load Option.json Fail:\n" + optionPath;
    alert.width = 520;
    alert.height = 140;
    alert.centre = true;
    ShowHostAlert(alert);
    VNLUtilityApp::OpenFolder(FolderOfPath(optionPath).c_str());
    return false;
}

void ShutdownApplication() {
    CommandMessage message{};
    SendToOwner(ZERITH_COMMAND_DESTROY_RESOURCE, &message);

    if (!VNLUserDefaults::WriteAll()) {
        LOG(WARNING) << "user settings not saved";
    }

    const std::wstring logFolder = FolderOfPath(TheHostState().dumpPath);
    if (!logFolder.empty() && !FolderHasVisibleEntries(logFolder)) {
        RemoveDirectoryW(logFolder.c_str());
    }
}

}  // namespace trv
