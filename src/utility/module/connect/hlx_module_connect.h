// The connect module: what a PC needs before devices can be reached.
//   10  start the device monitor; the final code is its start result (0, 9, 11 or 14).
//   16  download the three driver packages below the base URL of "info" {"url"}: each package is
//       checked against the MD5 text of its ".txt" side file and skipped when the local copy in the
//       driver folder matches already. Progress (stage 2) {"total","step","index","count"} at most
//       every three seconds of the clock and after each package; then a stage 3 reply whose info
//       lists the verified local paths; final code 0, 6 (cancelled by 600), 8 or 50.
//   17  install the packages of "info" (paths) with the package installer, 18 ask the store query
//       whether the store edition is installed. Both need raised rights: the first instance starts
//       an elevated helper instance of itself (mode 2), keeps the request until the helper
//       connects and forwards it there with the desktop connection's token in "code"; the helper's
//       replies come back on the helper channel and go to that desktop connection unchanged.
//       Helper replies: stage 2 progress {"index","count"} (17), then {"error":R} with packet status
//       1 (R 0) or 6. R: 51 installer failed or the device support service is not running, 54 the
//       store edition is installed, 2 the store query did not run. First instance: 52 no helper
//       port, 53 helper not started, 51 request not forwardable.
// In self-test mode the start-up self-test hands the module a request 16 of its own making
// (RunSelfTest): the driver download from the test server at kSelfTestDriverUrl on this machine,
// answered to the desktop like any request 16, under an id of the service's own counter.
// The package installer and the store query are found in the system folder ($HLX_SYSTEM_FOLDER,
// default /opt/Windows/System32) as "msiexec.exe" and "wbem/WMIC.exe", and started with argument
// vectors.
//
// Threads: any worker; downloads poll their task (service-wide task map) for a cancel.
#pragma once

#include <string>

#include "utility/hlx_feature_module.h"

namespace hlx {

// The base URL of the self-test's download: a test server on the loopback address.
inline constexpr char kSelfTestDriverUrl[] = "http://127.0.0.1/ios_driver";

class HLXModuleConnect : public HLXFeatureModule {
 public:
  int HandleHelperRequest(const IPCPacket1& packet) override;
  // Runs request 16 for kSelfTestDriverUrl on the calling thread, as if the desktop had sent it.
  void RunSelfTest();

 protected:
  bool NeedsDevice(const FeatureRequest& /*request*/) const override { return false; }
  bool RunsEverySubCommand() const override { return true; }
  int Run(FeatureRequest& request) override;

 private:
  int DownloadDrivers(FeatureRequest& request);
  int InstallDrivers(FeatureRequest& request);
  int CheckStoreITunes(FeatureRequest& request);
  int ForwardToHelper(FeatureRequest& request);
  int LaunchHelper(FeatureRequest& request);
};

// The program at the system folder's relative path (see above).
std::string SystemProgramPath(const std::string& relativePath);

}  // namespace hlx
