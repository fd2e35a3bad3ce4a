// The test-control switches (see md_test_control.h). Threads: any.
#include "md/md_test_control.h"

#include "md/md_afc.h"
#include "md/md_codes.h"
#include "md/md_device.h"
#include "md/md_notifier.h"
#include "md/md_service_connection.h"
#include "md/md_settings.h"

#include <cstring>

extern "C" {

MD_EXPORT void HLXMDTestSetDeviceRoot(const char* root) {
  MDSetDeviceRootOverride(root);
  MDNotifierWake();
}

MD_EXPORT void HLXMDTestSetReceiveTimeoutMs(int timeoutMs) { MDSetReceiveTimeoutOverrideMs(timeoutMs); }

MD_EXPORT void HLXMDTestWakeNotifier(void) { MDNotifierWake(); }

MD_EXPORT uint64_t HLXMDTestGetScanCount(void) { return MDNotifierScanCount(); }

MD_EXPORT int HLXMDTestWaitForScans(uint64_t scans, int timeoutMs) {
  return MDNotifierWaitForScans(scans, timeoutMs) ? 0 : 1;
}

MD_EXPORT int HLXMDTestGetDeviceUdid(AMDeviceRef device, char* buffer, size_t size) {
  auto found = MDFindDevice(device);
  if (!found || buffer == nullptr || size <= found->Udid().size()) return kAMDInvalidArgumentError;
  std::memcpy(buffer, found->Udid().c_str(), found->Udid().size() + 1);
  return kAMDSuccess;
}

MD_EXPORT size_t HLXMDTestGetServiceConnectionCount(void) { return MDServiceConnectionTable().Size(); }

MD_EXPORT size_t HLXMDTestGetAfcConnectionCount(void) { return MDAfcConnectionCount(); }

}  // extern "C"
