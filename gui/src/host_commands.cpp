// The host's handler table; see host_commands.h. The order is the table's registration order; the feature
// relays follow, one pair per feature row (feature_table.h). Every name the relay module and the pages
// invoke has its row, so that no command is dropped unheard.
#include "host_commands.h"

#include <glog/logging.h>

#include "command_names.h"
#include "command_bus.h"
#include "dialog_commands.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "product_identity.h"

namespace trv {
namespace {

const HostCommandEntry kHostCommands[] = {
    {MAIN_COMMAND_CREATE_WINDOW, &OnCreateWindow},
    {MAIN_COMMAND_CHANGE_SIZE, &OnMainChangeSize},
    {ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, &OnDriverReport},
    {ZERITH_COMMAND_RECV_INSTALL_DRIVER, &OnDriverReport},
    {ZERITH_COMMAND_PRE_INSTALL_DRIVER, &OnDriverReport},
    {ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER, &OnDriverReport},
    {ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, &OnDriverReport},
    {ZERITH_COMMAND_RECV_START_ITUNES_DLL, &OnDriverReport},
    {ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, &OnDeviceLibraryLoadFailed},
    {ZERITH_COMMAND_START_LOAD_ITUNES_DLL, &OnConnectingProgress},
    {ZERITH_COMMAND_START_CONNECT_DEVICE, &OnConnectingProgress},
    {ZERITH_COMMAND_CONNECT_DEVICE_FAIL, &OnConnectDeviceFail},
    {ZERITH_COMMAND_NOT_PAIR, &OnNotPaired},
    {ZERITH_COMMAND_FINISH_CONNECT_DEVICE, &OnFinishConnectDevice},
    {LUNDER_COMMAND_PRESS_MAX_OR_RESET, &OnPressMaxOrReset},
    {LUNDER_COMMAND_OPEN_ABOUT, &OnOpenAbout},
    {LUNDER_COMMAND_CHANGE_TYPE, &OnChangeType},
    {LUNDER_COMMAND_CHECK_FOR_UPDATE, &OnCheckForUpdateByUser},
    {LUNDER_COMMAND_OPEN_FEEDBACK, &OnOpenFeedback},
    {LUNDER_COMMAND_CHANGE_DEVICE, &OnChangeDevice},
    {YESTAL_COMMAND_DEVICE_DETECT_SUPPORT, &OnDetectSupport},
    {YESTAL_COMMAND_CHANGE_DEVICE_NAME, &OnOverviewChangeDeviceName},
    {YESTAL_COMMAND_EDIT_DEVICE_NAME, &OnEditDeviceName},
    {QUARNEL_COMMAND_SELECT_ITEM, &OnSelectItem},
    {YESTAL_COMMAND_ADDED_DEVICE, &OnAddedDevice},
    {YESTAL_COMMAND_CHANGE_SIZE, &OnDevicePageChangeSize},
    {ZERITH_COMMAND_DEVICE_DISCONNECT, &OnDeviceDisconnect},
    {ZERITH_COMMAND_DO_BASICINFO, &OnBasicInfo},
    {ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR, &OnGetPersonalProductDir},
    {ZERITH_COMMAND_EXIT_SERVER, &OnExitServer},
    {ZERITH_COMMAND_CHECK_FOR_UPDATE, &OnUpdateCheckResult},
    {ZERITH_COMMAND_DOWNLOAD_UPDATE, &OnDownloadUpdate},
    {ZERITH_COMMAND_NOTIFY_PROGRESS, &OnProgressReport},
    {ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, &OnProgressReport},
    {ZERITH_COMMAND_SCAN_USB_DEVICE, &OnUsbScanResult},
    {ZERITH_COMMAND_SERVER_CRASH, &OnServerState},
    {ZERITH_COMMAND_READY_START_SERVER, &OnServerState},
    {ZERITH_COMMAND_DEVICE_CONNECTED, &OnDeviceConnected},
    {ZERITH_COMMAND_GET_DEVICE_INFO, &OnGetDeviceInfo},
    {ZERITH_COMMAND_SCAN_PROGRESS, &OnScanProgress},
    {ZERITH_COMMAND_GET_OWNER, &OnGetOwner},
    {CORTAL_COMMAND_GET_iOS_PRODUCTVERSION, &OnGetProductVersion},
    {ZERITH_COMMAND_UPDATE_SECTION_TYPE, &OnUpdateSectionType},
    {KESTOR_COMMAND_START_TOOL, &OnStartTool},
    {ZERITH_COMMAND_DO_FILE, &OnFilesExported},
};

}  // namespace

extern "C" void TRV_CALL OnGetPersonalProductDir(CommandMessage* message) {
    try {
        if (message != nullptr) {
            message->wideText = HeapWideCopy(PersonalProductFolder());
        }
    } catch (...) {
        LOG(ERROR) << "personal product folder handler failed";
    }
}

const HostCommandEntry* HostCommandTable(size_t& count) {
    count = sizeof(kHostCommands) / sizeof(kHostCommands[0]);
    return kHostCommands;
}

void RegisterHostCommands(CommandBus& bus) {
    size_t count = 0;
    const HostCommandEntry* table = HostCommandTable(count);
    for (size_t i = 0; i < count; ++i) {
        bus.RegisterHostHandler(table[i].name, table[i].handler);
    }
    RegisterFeatureRelays(bus);
}

}  // namespace trv
