// Posted commands on the main view; see posted_commands.h.
#include "posted_commands.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>

#include "command_names.h"
#include "host_messages.h"
#include "server_start.h"
#include "command_bus.h"
#include "UiSheetDialog.h"
#include "host_state.h"
#include "product_identity.h"

namespace trv {
namespace {

constexpr UINT_PTR kUpdateCheckTimer = 1;
// The first automatic update check follows the server start by ten seconds.
constexpr UINT kFirstUpdateCheckDelayMs = 10000;

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
    sheet->SetText(L"Application have errors due to some unknown reasons,please email the zip crashing report "
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

void OnPostedCommand(HWND view, LPARAM parameter, const char* name) {
    if (name == nullptr) {
        return;
    }
    if (std::strcmp(name, ZERITH_COMMAND_READY_START_SERVER) == 0) {
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
