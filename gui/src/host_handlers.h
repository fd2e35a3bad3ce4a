#pragma once
// The host handlers filed in HostHandlerTable (host_commands.cpp). Each takes the invoking module's
// CommandMessage, runs on the invoker's thread and reaches other modules only through SendToOwner on the
// process's bus. Handlers that work on windows do it through CurrentHostPlatform().
//
// Grouped by concern: window creation and size fan-out (window_layout.cpp), section list and page
// switching (section_routing.cpp), connection and device state (device_handlers.cpp), and the relays
// between pages and the relay module (feature_relay.cpp).

#include <string>

#include "command_message.h"
#include "page_records.h"

namespace trv {

class CommandBus;
struct FeatureRow;

// Window creation and size fan-out.
extern "C" void TRV_CALL OnCreateWindow(CommandMessage* message);
extern "C" void TRV_CALL OnMainChangeSize(CommandMessage* message);
extern "C" void TRV_CALL OnDevicePageChangeSize(CommandMessage* message);
extern "C" void TRV_CALL OnPressMaxOrReset(CommandMessage* message);
extern "C" void TRV_CALL OnChangeType(CommandMessage* message);
// The section width that the title bar, the device page and the page sizes share (200).
int32_t* SharedSectionWidth();
// The device page's layout record, kept by the host for the life of the process.
DevicePageLayout* TheDevicePageLayout();
// Where the notice sheet (`height` high) goes in the main view whose client rectangle is `view` (in any
// coordinates, the result in the same): over the feature pages alone, right of the section list and just
// below the pages' toolbar band, across the pages' width, so that it covers neither the section list nor a
// toolbar; in a view too low for that, at the bottom of the pages' area.
TrvRect NoticeSheetPlace(const TrvRect& view, int32_t height);
// Forgets the maximised state (tests only).
void ResetMaximiseState();

// Section list and page switching.
void BuildSectionList(TrvWindow parent);
// Fills `record` as BuildSectionList sends it (exposed for tests).
void FillSectionListRecord(SectionListRecord& record, int32_t parentHeight);
extern "C" void TRV_CALL OnSelectItem(CommandMessage* message);
extern "C" void TRV_CALL OnAddedDevice(CommandMessage* message);
extern "C" void TRV_CALL OnUpdateSectionType(CommandMessage* message);
extern "C" void TRV_CALL OnGetOwner(CommandMessage* message);

// Connection and device state.
extern "C" void TRV_CALL OnConnectingProgress(CommandMessage* message);
extern "C" void TRV_CALL OnConnectDeviceFail(CommandMessage* message);
extern "C" void TRV_CALL OnNotPaired(CommandMessage* message);
extern "C" void TRV_CALL OnFinishConnectDevice(CommandMessage* message);
extern "C" void TRV_CALL OnDeviceConnected(CommandMessage* message);
extern "C" void TRV_CALL OnDeviceDisconnect(CommandMessage* message);
extern "C" void TRV_CALL OnGetDeviceInfo(CommandMessage* message);
extern "C" void TRV_CALL OnChangeDevice(CommandMessage* message);
extern "C" void TRV_CALL OnOverviewChangeDeviceName(CommandMessage* message);
extern "C" void TRV_CALL OnBasicInfo(CommandMessage* message);
extern "C" void TRV_CALL OnScanProgress(CommandMessage* message);
extern "C" void TRV_CALL OnServerState(CommandMessage* message);
extern "C" void TRV_CALL OnGetProductVersion(CommandMessage* message);
extern "C" void TRV_CALL OnCheckForUpdateByUser(CommandMessage* message);
// Listeners subscribed by the main view.
extern "C" void TRV_CALL OnDeviceConnectedListener(CommandMessage* copy);
extern "C" void TRV_CALL OnDeviceRemovedRelayListener(CommandMessage* copy);
// True once the user has asked for an update check from the title bar; never cleared.
bool UserAskedForUpdate();

// Relays between a page and the relay module, and names whose host action has no handler yet.
extern "C" void TRV_CALL OnFeatureRequest(CommandMessage* message);
extern "C" void TRV_CALL OnFeatureReply(CommandMessage* message);
extern "C" void TRV_CALL OnStartTool(CommandMessage* message);
// The relay module's end of a copy of device files into a chosen folder (code 109: the service's result
// in `value2`, the files that arrived in `value3`, the folder in `wideText`): the user is told in a notice.
extern "C" void TRV_CALL OnFilesExported(CommandMessage* message);
extern "C" void TRV_CALL OnUsbScanResult(CommandMessage* message);
// The same relays for a given row (the two handlers look the row up by the message's name).
void RelayFeatureRequest(const FeatureRow& row, CommandMessage* message);
void RelayFeatureReply(const FeatureRow& row, CommandMessage* message);
// The relay name a page request goes to, or the page name a relay reply goes to; null when none.
const char* FeatureCounterpart(const char* name);
// Files OnFeatureRequest under every feature row's page name and OnFeatureReply under its relay name.
void RegisterFeatureRelays(CommandBus& bus);

}  // namespace trv
