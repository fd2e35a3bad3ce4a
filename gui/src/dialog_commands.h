#pragma once
// The host handlers that answer with dialogs or run programs: the device rename question, the update
// reports and the installer run, the progress reports and the title bar's about and feedback commands.
// They reach windows and programs only through CurrentHostUi() (host_ui.h); reports of the relay module
// arrive on its threads and touch the dialogs only through their progress state or through work posted to
// the UI thread.

#include "command_message.h"

namespace trv {

// YESTAL_COMMAND_EDIT_DEVICE_NAME: asks "Name:"; a confirmed, non-blank name (trimmed) sets `status` 1 and
// `wideText` to a copy on the shared heap that the asking page frees.
extern "C" void TRV_CALL OnEditDeviceName(CommandMessage* message);
// ZERITH_COMMAND_CHECK_FOR_UPDATE (a result): posted to the main view, shown there.
extern "C" void TRV_CALL OnUpdateCheckResult(CommandMessage* message);
// ZERITH_COMMAND_DOWNLOAD_UPDATE: status 2 moves the download's counters; 0 (finished) and 3 (failed) are
// posted to the main view; anything else is ignored.
extern "C" void TRV_CALL OnDownloadUpdate(CommandMessage* message);
// ZERITH_COMMAND_EXIT_SERVER: the device service has stopped; the downloaded installer runs.
extern "C" void TRV_CALL OnExitServer(CommandMessage* message);
// ZERITH_COMMAND_NOTIFY_PROGRESS and ..._FINISH: counters and status of the progress dialog of the
// window the report names.
extern "C" void TRV_CALL OnProgressReport(CommandMessage* message);
extern "C" void TRV_CALL OnOpenAbout(CommandMessage* message);
// The driver installation's reports (RECV_/PRE_ DOWNLOAD and INSTALL_DRIVER, RECV_STORE_ITUNES_IS_INSTALLED,
// RECV_START_ITUNES_DLL), the failed load of the device library, and the not-recognized notice
// (YESTAL_COMMAND_DEVICE_DETECT_SUPPORT, the help page address in `wideText`).
extern "C" void TRV_CALL OnDriverReport(CommandMessage* message);
extern "C" void TRV_CALL OnDeviceLibraryLoadFailed(CommandMessage* message);
extern "C" void TRV_CALL OnDetectSupport(CommandMessage* message);
extern "C" void TRV_CALL OnOpenFeedback(CommandMessage* message);

}  // namespace trv
