// Codes of the device layer. Modules pass them on unchanged as reply codes, and the monitor reports
// them to the desktop, so the numbers are fixed.
#pragma once

#include <cstdint>

namespace hlx {

enum DeviceErrorCode : int32_t {
  kDeviceOk = 0,
  kDeviceTooOld = 3,              // iPhone or iPod older than 4.2
  kDeviceLibraryNotBound = 9,     // the device library could not be bound
  kDeviceSubscribeFailed = 11,    // device notifications could not be subscribed to
  kDeviceAfcNotOpened = 12,       // the AFC service did not open
  kDeviceServiceNotRunning = 14,  // the device support service process is not running
  kDeviceAfcInfoUnreadable = 17,  // AFC device information could not be read
  kDeviceNoConnection = 24,       // no connection to the device
  kDeviceNotPaired = 25,          // a pairing request was sent: the user must trust this computer
  kDevicePairingInvalid = 26,     // pairing validation failed
  kDeviceSessionNotStarted = 27,  // the lockdown session did not start
  kDeviceLocked = 48,             // a service was refused: the device is locked with a passcode
  kDeviceNoSession = 49,          // no lockdown session
};

// For logs: "name" of a code, "unknown" for others.
const char* DeviceErrorName(int32_t code);

}  // namespace hlx
