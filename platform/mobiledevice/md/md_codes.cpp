// Names of the result codes (see md_codes.h). Pure functions, any thread.
#include "md/md_codes.h"

const char* AMDErrorName(int code) {
  switch (code) {
    case kAMDSuccess: return "kAMDSuccess";
    case kAMDPasswordProtectedError: return "kAMDPasswordProtectedError";
    case kAMDInvalidServiceError: return "kAMDInvalidServiceError";
    case kAMDNotConnectedError: return "kAMDNotConnectedError";
    case kAMDSessionInactiveError: return "kAMDSessionInactiveError";
    case kAMDInvalidPairRecordError: return "kAMDInvalidPairRecordError";
    case kAMDPairingDialogResponsePendingError: return "kAMDPairingDialogResponsePendingError";
    case kAMDUndefinedError: return "kAMDUndefinedError";
    case kAMDInvalidArgumentError: return "kAMDInvalidArgumentError";
    case kAMDImageUnreadableError: return "kAMDImageUnreadableError";
    case kAMDSetValueProhibitedError: return "kAMDSetValueProhibitedError";
    case kAMDMissingValueError: return "kAMDMissingValueError";
    case kAMDInjectedFaultError: return "kAMDInjectedFaultError";
    default: return "unknown";
  }
}

const char* AFCErrorName(int code) {
  switch (code) {
    case kAFCSuccess: return "kAFCSuccess";
    case kAFCUnknownError: return "kAFCUnknownError";
    case kAFCReadError: return "kAFCReadError";
    case kAFCWriteError: return "kAFCWriteError";
    case kAFCInvalidArgument: return "kAFCInvalidArgument";
    case kAFCNotFound: return "kAFCNotFound";
    case kAFCObjectIsDirectory: return "kAFCObjectIsDirectory";
    case kAFCPermissionDenied: return "kAFCPermissionDenied";
    case kAFCNotConnected: return "kAFCNotConnected";
    case kAFCNoSpace: return "kAFCNoSpace";
    case kAFCObjectBusy: return "kAFCObjectBusy";
    case kAFCNotDirectory: return "kAFCNotDirectory";
    case kAFCDirectoryNotEmpty: return "kAFCDirectoryNotEmpty";
    case kAFCObjectExists: return "kAFCObjectExists";
    default: return "unknown";
  }
}
