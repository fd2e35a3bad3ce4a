/* Test control of the simulated MobileDevice library: switches that tests (and the library's own
 * benchmark) use and that the service never binds. Devices are attached, detached, trusted, locked
 * and given faults by editing their image folders (tools/hlx_device.py); these functions only steer
 * the library itself.
 * Threads: every function may be called from any thread.
 */
#ifndef HLX_PLATFORM_MOBILEDEVICE_MD_TEST_CONTROL_H
#define HLX_PLATFORM_MOBILEDEVICE_MD_TEST_CONTROL_H

#include "mobiledevice.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Points the library at another device root (null: back to $HLX_DEVICE_ROOT as read at first use)
 * and wakes the notification thread: devices of the old root are removed (message 2), those of the
 * new root arrive (message 1). */
MD_EXPORT void HLXMDTestSetDeviceRoot(const char* root);

/* Replaces the receive time-out of service connections (<= 0: back to the default or the
 * environment's HLX_MD_RECEIVE_TIMEOUT_MS). */
MD_EXPORT void HLXMDTestSetReceiveTimeoutMs(int timeoutMs);

/* Wakes the notification thread for a scan now. */
MD_EXPORT void HLXMDTestWakeNotifier(void);

/* Completed scans of the notification thread, messages delivered included. */
MD_EXPORT uint64_t HLXMDTestGetScanCount(void);

/* Wakes the notification thread and waits until it has completed `scans` more scans (two make sure
 * that every change made before the call was looked at and its messages delivered). 0 on success,
 * non-zero when the time-out passed first. */
MD_EXPORT int HLXMDTestWaitForScans(uint64_t scans, int timeoutMs);

/* Copies the UDID (the image folder's name) of a device handle, removed devices included, into
 * `buffer` with a terminating NUL. 0 on success; non-zero for an unknown handle or a short buffer. */
MD_EXPORT int HLXMDTestGetDeviceUdid(AMDeviceRef device, char* buffer, size_t size);

/* Service connections not yet invalidated, and AFC connections not yet closed: leak checks. */
MD_EXPORT size_t HLXMDTestGetServiceConnectionCount(void);
MD_EXPORT size_t HLXMDTestGetAfcConnectionCount(void);

#ifdef __cplusplus
}
#endif

#endif /* HLX_PLATFORM_MOBILEDEVICE_MD_TEST_CONTROL_H */
