// Result codes of the simulated device library beyond the ones that include/mobiledevice.h fixes,
// and their names. The header's values are what the service compares against and are never
// renumbered; the extra values here are this library's own and only ever reach callers as
// "non-zero, failed". Each code set has exactly one name function, used by the logs and by
// AMDCopyErrorText / AFCCopyErrorString.
// Threads: pure functions, any thread.
#pragma once

#include "mobiledevice.h"

#include <cstdint>

// MobileDevice results (int, 0 = success). The header defines kAMDSuccess, kAMDPasswordProtectedError,
// kAMDInvalidServiceError, kAMDNotConnectedError, kAMDSessionInactiveError, kAMDInvalidPairRecordError
// and kAMDPairingDialogResponsePendingError.
constexpr int kAMDUndefinedError = static_cast<int>(0xE8000001u);
constexpr int kAMDInvalidArgumentError = static_cast<int>(0xE8000007u);
// The device image could not be read (missing or malformed state file, unreadable lockdown values).
constexpr int kAMDImageUnreadableError = static_cast<int>(0xE8000040u);
// The image refuses lockdown writes (state "refuseSetValue").
constexpr int kAMDSetValueProhibitedError = static_cast<int>(0xE8000041u);
// The image lacks a value that the call needs.
constexpr int kAMDMissingValueError = static_cast<int>(0xE8000042u);
// A fault of the image's fault table made this call fail.
constexpr int kAMDInjectedFaultError = static_cast<int>(0xE8000043u);

// AFC results. The header fixes 0, 1, 7, 8, 10, 16 and 21; these fill gaps that it leaves free.
constexpr int kAFCReadError = 4;
constexpr int kAFCWriteError = 5;
constexpr int kAFCObjectIsDirectory = 9;  // a file operation on a folder
constexpr int kAFCNotConnected = 11;      // the device went away, the transfer dropped or the service closed
constexpr int kAFCObjectBusy = 17;        // a file lock held through another reference
constexpr int kAFCNotDirectory = 20;      // a folder operation on something else
constexpr int kAFCObjectExists = 22;      // a folder create where a non-folder already stands

// Names for logs and error texts; unknown values give "unknown".
const char* AMDErrorName(int code);
const char* AFCErrorName(int code);
