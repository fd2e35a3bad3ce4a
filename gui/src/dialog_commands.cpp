// Dialog commands; see dialog_commands.h.
#include "dialog_commands.h"

#include <cstring>
#include <string>

#include <glog/logging.h>

#include "command_bus.h"
#include "command_names.h"
#include "host_platform.h"
#include "host_ui.h"
#include "product_identity.h"
#include "progress_state.h"
#include "update_flow.h"

namespace trv {
namespace {

constexpr int64_t kDownloadFinished = 0;
constexpr int64_t kDownloadRunning = 2;
constexpr int64_t kDownloadFailed = 3;
constexpr int kReportWindowId = 7;

const wchar_t kInstallerFailedText[] = L"Installation failed! The downloaded installer could not be started.";

void PostToView(const char* name, const CommandMessage& message) {
    if (!CurrentHostUi().PostCopyToView(name, message)) {
        LOG(WARNING) << name << " not posted to the main view";
    }
}

}  // namespace

extern "C" void TRV_CALL OnEditDeviceName(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    LineQuestion question;
    question.label = L"Name:";
    std::wstring typed;
    if (!AskLine(question, typed)) {
        return;
    }
    const std::wstring name = TrimWhiteSpace(typed);
    if (name.empty()) {
        return;
    }
    wchar_t* copy = HeapWideCopy(name);
    if (copy == nullptr) {
        return;
    }
    message->status = 1;
    message->wideText = copy;
}

extern "C" void TRV_CALL OnUpdateCheckResult(CommandMessage* message) {
    if (message != nullptr) {
        PostToView(ZERITH_COMMAND_CHECK_FOR_UPDATE, *message);
    }
}

extern "C" void TRV_CALL OnDownloadUpdate(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    if (message->status == kDownloadRunning) {
        // Byte counts: the whole 64-bit values, a download of more than 4 GiB included.
        if (ProgressState* download = CurrentHostUi().DownloadProgress()) {
            download->done = message->value4;
            download->total = message->value3;
        }
    } else if (message->status == kDownloadFinished || message->status == kDownloadFailed) {
        PostToView(ZERITH_COMMAND_DOWNLOAD_UPDATE, *message);
    }
}

extern "C" void TRV_CALL OnExitServer(CommandMessage*) {
    HostUi& ui = CurrentHostUi();
    const std::wstring installer = ui.DownloadedInstaller();
    if (installer.empty()) {
        return;  // no update was downloaded: the service stopped for another reason
    }
    if (!RunDownloadedInstaller(installer, ui.UrlDefaultInt("product:type"), ui.PreferencesPath(), ProductNameW())) {
        LOG(ERROR) << "the downloaded installer did not start";
        ui.RunOnUiThread([] { CurrentHostUi().FailDownload(kInstallerFailedText); });
    }
}

extern "C" void TRV_CALL OnProgressReport(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return;
    }
    CommandBus& bus = CommandBus::Instance();
    int windowId = 0;
    if (message->code == 0) {
        windowId = bus.FindProgressKey(message->wideText != nullptr ? message->wideText : L"");
    } else if (message->code == 1) {
        windowId = kReportWindowId;
    }
    TrvWindow window = windowId != 0 ? bus.GetWindowById(windowId) : nullptr;
    ProgressState* progress = window != nullptr ? CurrentHostUi().ProgressOf(window) : nullptr;
    if (progress == nullptr) {
        return;
    }
    if (message->value4 != 0) progress->done = message->value4;
    if (message->value3 != 0) progress->total = message->value3;
    if (message->status != 0) progress->failed += message->status;
    if (message->data != nullptr) progress->SetStatusText(static_cast<const wchar_t*>(message->data));
    if (std::strcmp(message->name, ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH) == 0) {
        progress->finished = true;
    }
}

extern "C" void TRV_CALL OnOpenAbout(CommandMessage*) { CurrentHostUi().ShowAbout(); }

extern "C" void TRV_CALL OnOpenFeedback(CommandMessage*) {
    HostUi& ui = CurrentHostUi();
    ui.OpenUrl(ui.UrlDefault("url:feedback") + "?version=" + VersionA());
}

}  // namespace trv
