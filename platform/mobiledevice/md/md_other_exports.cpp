// Exported entry points that the service must be able to bind but never calls, or calls only for a
// text: restore-mode devices, the notification proxy, application lookup and uninstall, path
// transfer and the legacy non-secure service start. They answer "unsupported" (or nothing to do)
// without touching any device, so a caller that does call them gets a clean failure code.
// AMDCopyErrorText gives the name of a MobileDevice code.
// Threads: any.
#include "mobiledevice.h"

#include "md/md_base.h"
#include "md/md_cf_util.h"
#include "md/md_codes.h"

extern "C" {

MD_EXPORT AMRestoreModeDeviceRef AMRestoreModeDeviceCreate(uint32_t, uint32_t, uint32_t) { return nullptr; }

MD_EXPORT int AMRestoreRegisterForDeviceNotifications(void*, void*, void*, void*, uint32_t, void*) {
  return kAMDSuccess;  // no device ever enters restore mode here, so there is nothing to announce
}

// The legacy start hands out a bare socket handle; only the secure start is simulated.
MD_EXPORT int AMDeviceStartService(AMDeviceRef, CFStringRef, void* handle, uint32_t*) {
  if (handle != nullptr) *static_cast<int*>(handle) = -1;
  return kAMDInvalidServiceError;
}

MD_EXPORT int AMDPostNotification(AMDServiceConnectionRef, CFStringRef, CFStringRef) { return kAMDInvalidServiceError; }
MD_EXPORT int AMDShutdownNotificationProxy(AMDServiceConnectionRef) { return kAMDInvalidServiceError; }
MD_EXPORT int AMDListenForNotifications(AMDServiceConnectionRef, void*, void*) { return kAMDInvalidServiceError; }
MD_EXPORT int AMDObserveNotification(AMDServiceConnectionRef, CFStringRef) { return kAMDInvalidServiceError; }

MD_EXPORT int AMDeviceLookupApplications(AMDeviceRef, CFDictionaryRef, CFDictionaryRef* result) {
  if (result != nullptr) *result = nullptr;
  return kAMDInvalidServiceError;
}

MD_EXPORT int AMDeviceSecureUninstallApplication(AMDServiceConnectionRef, AMDeviceRef, CFStringRef, CFDictionaryRef,
                                                 void*, void*) {
  return kAMDInvalidServiceError;
}

MD_EXPORT int AMDeviceSecureTransferPath(int, AMDeviceRef, CFURLRef, CFDictionaryRef, void*, void*) {
  return kAMDInvalidServiceError;
}

MD_EXPORT CFStringRef AMDCopyErrorText(int error) {
  return MDCallGuarded("AMDCopyErrorText", static_cast<CFStringRef>(nullptr),
                       [&] { return static_cast<CFStringRef>(MDCFStringCreate(AMDErrorName(error)).release()); });
}

}  // extern "C"
