// Posted commands on the main view; see posted_commands.h.
#include "posted_commands.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "command_names.h"
#include "host_messages.h"
#include "server_start.h"
#include "command_bus.h"
#include "UiProgressDialog.h"
#include "UiSheetDialog.h"
#include "UiUpdateListDialog.h"
#include "host_alert.h"
#include "host_handlers.h"
#include "host_state.h"
#include "host_ui.h"
#include "product_identity.h"
#include "update_flow.h"
#include "update_records.h"

namespace trv {
namespace {

constexpr UINT_PTR kUpdateCheckTimer = 1;
// The first automatic update check follows the server start by ten seconds.
constexpr UINT kFirstUpdateCheckDelayMs = 10000;

constexpr int kDownloadDialogId = 1;
constexpr int kNoticeSheetId = 2;
constexpr int kUpdateListDialogId = 3;
constexpr int64_t kDownloadFinished = 0;
constexpr int64_t kDownloadFailed = 3;

template <typename Dialog>
Dialog* DialogById(int id) {
    return static_cast<Dialog*>(CommandBus::Instance().GetDialogById(id));
}

void DeliverZeroed(const char* name) {
    CommandMessage message{};
    SendToOwner(name, &message);
}

void CancelUpdateDownload(bool) { DeliverZeroed(ZERITH_COMMAND_DOWNLOAD_UPDATE_CANCEL); }

void StartUpdateDownload() {
    auto* download = DialogById<UiUpdateDownloadDialog>(kDownloadDialogId);
    if (download == nullptr) {
        return;
    }
    download->ResetState();
    download->SetCancelCallback(&CancelUpdateDownload);
    download->State().SetStatusText(L"Downloading updated files, please wait...");
    download->Start();
    DeliverZeroed(ZERITH_COMMAND_DOWNLOAD_UPDATE);
}

void ShowUpdateList() {
    if (auto* list = DialogById<UiUpdateListDialog>(kUpdateListDialogId)) {
        list->ResetState();
        list->SetUpdateCallback(&StartUpdateDownload);
        list->Show(SW_SHOW);
    }
}

void ShowDownloadResult(const CommandMessage& result) {
    auto* download = DialogById<UiUpdateDownloadDialog>(kDownloadDialogId);
    if (result.status == kDownloadFinished) {
        if (download != nullptr) {
            download->SetDownloadedFile(result.wideText != nullptr ? result.wideText : L"");
            download->SetClosing();
        }
        std::free(result.wideText);  // the relay module's path, on the shared heap
        // The relay module stops the device service; its answer runs the installer.
        DeliverZeroed(ZERITH_COMMAND_EXIT_SERVER);
    } else if (result.status == kDownloadFailed && download != nullptr) {
        download->Fail(L"Download failed! Please check if the network is available.");
    }
}

void ShowUpdateCheckResult(HWND view, const CommandMessage& result) {
    std::unique_ptr<UpdateVersionList> versions(static_cast<UpdateVersionList*>(result.extra));
    const UpdateCheckResult check = ReadUpdateCheck(result.status, result.value2, versions.get());
    if (check.kind == UpdateCheckResult::Kind::NewVersions) {
        if (auto* list = DialogById<UiUpdateListDialog>(kUpdateListDialogId)) {
            list->SetUpdateCallback(&StartUpdateDownload);
            // Each result replaces the notes of an earlier one, so a later check does not list them twice.
            SetWindowTextW(list->NotesWindow(), L"");
            list->AppendNotes(check.listText);
        }
        if (UserAskedForUpdate()) {
            ShowUpdateList();
        } else if (auto* sheet = DialogById<UiSheetDialog>(kNoticeSheetId)) {
            if (!IsWindowVisible(sheet->m_hWnd)) {
                sheet->SetText(NewVersionNotice(check.firstVersion));
                sheet->SetClickAction([](UiSheetDialog&) { ShowUpdateList(); });
                sheet->Show(SW_SHOW);
            }
        }
    } else if (UserAskedForUpdate()) {
        AlertRequest alert;
        alert.owner = view;
        alert.text = check.kind == UpdateCheckResult::Kind::Latest
                         ? LatestVersionNotice()
                         : UpdateCheckFailedText(CurrentHostUi().UrlDefault("url:update"));
        alert.width = 440;
        alert.height = 100;
        ShowHostAlert(alert);
    }
    DeliverZeroed(LUNDER_COMMAND_CHECK_FOR_UPDATE);
}

void DeliverReadyStartServer(LPARAM value) {
    CommandMessage message{};
    message.status = static_cast<int32_t>(value);
    SendToOwner(ZERITH_COMMAND_READY_START_SERVER, &message);
}

void ShowServerCrashNotice() {
    auto* sheet = static_cast<UiSheetDialog*>(CommandBus::Instance().GetDialogById(2));
    if (sheet == nullptr) {
        return;
    }
    sheet->SetText(
        L"Application have errors due to some unknown reasons,please email the zip crashing report "
        L"file to us,click me show in folder.");
    // Nothing names the device service's crash folder to the host; the host's own log folder, where its
    // reports are written, is the folder the notice opens.
    sheet->SetClickAction([](UiSheetDialog&) { VNLUtilityApp::OpenFolder(TheHostState().logFolder.c_str()); });
    sheet->Show(SW_SHOW);
}

void StartServer(HWND view) {
    const std::wstring product = ProductNameW();
    const std::wstring brand = BrandWordW();
    const std::wstring version = VersionW();
    ServerStartRecord record{};
    record.productName = product.c_str();
    record.brandWord = brand.c_str();
    record.version = version.c_str();
    CommandMessage message{};
    message.data = &record;
    SendToOwner(ZERITH_COMMAND_START_SERVER, &message);
    SetTimer(view, kUpdateCheckTimer, kFirstUpdateCheckDelayMs, nullptr);
}

}  // namespace

bool ReopenUpdateList() {
    auto* list = DialogById<UiUpdateListDialog>(kUpdateListDialogId);
    if (list == nullptr || !list->HasNotes()) {
        return false;
    }
    ShowUpdateList();
    return true;
}

void OnPostedCommand(HWND view, LPARAM parameter, const char* name) {
    if (name == nullptr) {
        return;
    }
    if (std::strcmp(name, ZERITH_COMMAND_DOWNLOAD_UPDATE) == 0 ||
        std::strcmp(name, ZERITH_COMMAND_CHECK_FOR_UPDATE) == 0) {
        std::unique_ptr<CommandMessage, decltype(&std::free)> copy(reinterpret_cast<CommandMessage*>(parameter),
                                                                   &std::free);
        if (copy == nullptr) {
            return;
        }
        if (name[std::strlen("ZERITH_COMMAND_")] == 'D') {
            ShowDownloadResult(*copy);
        } else {
            ShowUpdateCheckResult(view, *copy);
        }
    } else if (std::strcmp(name, ZERITH_COMMAND_READY_START_SERVER) == 0) {
        DeliverReadyStartServer(parameter);
    } else if (std::strcmp(name, ZERITH_COMMAND_SERVER_CRASH) == 0) {
        ShowServerCrashNotice();
        DeliverReadyStartServer(parameter);
    } else if (std::strcmp(name, ZERITH_COMMAND_START_SERVER) == 0) {
        StartServer(view);
    }
}

bool PostCommandToView(HWND view, const char* name, LPARAM value) {
    char* copy = _strdup(name);
    if (copy == nullptr) {
        return false;
    }
    if (!PostMessageW(view, WM_POSTED_COMMAND, reinterpret_cast<WPARAM>(copy), value)) {
        LOG(ERROR) << "posting " << name << " failed, error " << GetLastError();
        std::free(copy);
        return false;
    }
    return true;
}

}  // namespace trv
