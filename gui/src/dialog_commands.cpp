// Dialog commands; see dialog_commands.h.
#include "dialog_commands.h"

#include <cstring>
#include <functional>
#include <string>

#include <glog/logging.h>

#include "command_bus.h"
#include "command_names.h"
#include "host_platform.h"
#include "host_ui.h"
#include "product_identity.h"
#include "progress_state.h"
#include "update_flow.h"
#include "vnl_utf8.h"

namespace trv {
namespace {

constexpr int64_t kDownloadFinished = 0;
constexpr int64_t kDownloadRunning = 2;
constexpr int64_t kDownloadFailed = 3;
constexpr int kReportWindowId = 7;

const wchar_t kInstallerFailedText[] = L"Installation failed! The downloaded installer could not be started.";

using DriverStage = HostUi::DriverStage;

bool Is(const CommandMessage& message, const char* name) { return std::strcmp(message.name, name) == 0; }

std::string DeviceLibraryAddress() {
    HostUi& ui = CurrentHostUi();
    return ui.UrlDefault(ui.IsWow64() ? "url:itunes:64" : "url:itunes:32");
}

// Asks the relay module, from the UI thread, to download and install the driver.
void StartDriverDownload() {
    CurrentHostUi().RunOnUiThread([address = CurrentHostUi().UrlDefault("url:ios-driver")] {
        CommandMessage message{};
        message.text = address.c_str();
        SendToOwner(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER, &message);
    });
}

void OnUi(std::function<void()> task) {
    if (!CurrentHostUi().RunOnUiThread(std::move(task))) {
        LOG(WARNING) << "driver report not posted to the UI thread";
    }
}

void ShowStage(DriverStage stage, std::wstring text = std::wstring(), std::function<void()> onCancel = nullptr) {
    OnUi([stage, text, onCancel] { CurrentHostUi().ShowDriverStage(stage, text, onCancel); });
}

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

extern "C" void TRV_CALL OnDeviceLibraryLoadFailed(CommandMessage*) { StartDriverDownload(); }

extern "C" void TRV_CALL OnDriverReport(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return;
    }
    HostUi& ui = CurrentHostUi();
    ProgressState* progress = ui.DriverProgress();
    const auto count = [&] {
        if (progress != nullptr) {
            progress->done = message->value4;
            progress->total = message->value3;
        }
    };
    // A failed step ends the run with why, in words, in place of its bar.
    const auto stop = [&](bool installing) {
        if (progress != nullptr) progress->total = 0;
        ShowStage(DriverStage::Stopped, DriverFailureText(installing, message->status));
    };
    if (Is(*message, ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER)) {
        // The new run's counters are set here, before the reports that follow it move them.
        const std::wstring text = L"Downloading the Apple Mobile Device USB driver...";
        if (progress != nullptr) {
            progress->Reset();
            progress->total = 100;
            progress->SetStatusText(text);
        }
        const int64_t status = message->status;
        ShowStage(DriverStage::Downloading, text, [status] {
            CommandMessage cancel{};
            cancel.status = status;
            SendToOwner(ZERITH_COMMAND_DO_CANCEL, &cancel);
        });
    } else if (Is(*message, ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER) || Is(*message, ZERITH_COMMAND_RECV_INSTALL_DRIVER)) {
        message->status == 0 ? count() : stop(Is(*message, ZERITH_COMMAND_RECV_INSTALL_DRIVER));
    } else if (Is(*message, ZERITH_COMMAND_PRE_INSTALL_DRIVER)) {
        ShowStage(DriverStage::Installing);
    } else if (Is(*message, ZERITH_COMMAND_RECV_START_ITUNES_DLL)) {
        if (progress != nullptr) progress->total = 0;
        ShowStage(DriverStage::Finished, message->wideText != nullptr ? message->wideText : L"");
    } else if (Is(*message, ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED)) {
        if (message->status == 1) {
            OnUi([] { CurrentHostUi().ShowInstallAlert(L"Driver installation failed!", 1); });
        } else if (message->status == 2) {
            const std::wstring address = vnl::WideFromUtf8(DeviceLibraryAddress().c_str());
            OnUi([address] { CurrentHostUi().ShowInstallAlert(StoreEditionNotice(address), 2); });
        }
    }
}

extern "C" void TRV_CALL OnDetectSupport(CommandMessage* message) {
    const std::wstring help = message != nullptr && message->wideText != nullptr ? message->wideText : L"";
    const std::wstring body =
        L"Way 1. Update the <A HREF=\"http://auto\">Apple Mobile Device driver</A>.\n\nWay 2. Download and install "
        L"<A HREF=\"http://manual\">iTunes</A> from Apple.\n\nWay 3. Click <A HREF=\"" +
        help + L"\">here</A> for more solutions.";
    OnUi([body] {
        CurrentHostUi().ShowNotRecognizedNotice(body, [](const std::wstring& link) {
            if (link == L"http://auto") {
                StartDriverDownload();
            } else if (link == L"http://manual") {
                CurrentHostUi().OpenUrl(DeviceLibraryAddress());
            } else {
                CurrentHostUi().OpenUrl(vnl::Utf8FromWide(link));
            }
        });
    });
}

extern "C" void TRV_CALL OnOpenFeedback(CommandMessage*) {
    HostUi& ui = CurrentHostUi();
    ui.OpenUrl(ui.UrlDefault("url:feedback") + "?version=" + VersionA());
}

}  // namespace trv
