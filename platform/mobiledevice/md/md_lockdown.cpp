// The lockdown half of the exported device calls: connecting, pairing and trust, sessions, and
// lockdown values. Connections and sessions are reference counts per device arrival: a caller that
// renews its session (start, stop, start) while an older holder still runs keeps the device's
// session alive until the last holder stops. Values can be read only inside a session, as on a
// device; they come from the image's lockdown.plist through MDLockdownStore.
// Threads: any caller thread, the notification callback included.
#include "mobiledevice.h"

#include <string>

#include "md/md_base.h"
#include "md/md_cf_util.h"
#include "md/md_codes.h"
#include "md/md_device.h"

namespace {

// Finds the device and applies the call gate; 0 to go on, or the code to return.
int Enter(AMDeviceRef deviceRef, const char* function, std::shared_ptr<MDDevice>* device) {
  *device = MDFindDevice(deviceRef);
  if (!*device) return kAMDInvalidArgumentError;
  switch ((*device)->EnterCall(function)) {
    case MDCallGate::kDetached: return kAMDNotConnectedError;
    case MDCallGate::kFailed: return kAMDInjectedFaultError;
    case MDCallGate::kProceed: break;
  }
  return 0;
}

// A write into the image failed: the device is gone, or its image is broken.
int ImageWriteFailure(MDDevice& device) {
  return device.CheckImagePresent() ? kAMDImageUnreadableError : kAMDNotConnectedError;
}

int LoadState(MDDevice& device, MDDeviceState* state) {
  int error = device.Image().LoadState(state);
  if (error == 0) return 0;
  return device.IsAttached() ? kAMDImageUnreadableError : kAMDNotConnectedError;
}

// Reads an optional CF string argument: null stays absent; anything but a string is refused.
bool ReadOptionalName(CFStringRef name, std::string* text, const std::string** pointer) {
  *pointer = nullptr;
  if (name == nullptr) return true;
  if (!MDCFStringToUtf8(name, text)) return false;
  *pointer = text;
  return true;
}

// Values a connected device gives before pairing, without a session: the no-domain identity keys.
bool IsPublicValue(const std::string* domain, const std::string* key) {
  if ((domain && !domain->empty()) || !key) return false;
  static const char* const kPublicKeys[] = {"DeviceName",  "UniqueDeviceID", "ProductVersion",
                                            "ProductType", "DeviceClass",    "BuildVersion"};
  for (const char* name : kPublicKeys) {
    if (*key == name) return true;
  }
  return false;
}

}  // namespace

extern "C" {

MD_EXPORT int AMDeviceGetInterfaceType(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceGetInterfaceType", 0, [&] {
    std::shared_ptr<MDDevice> device;
    if (Enter(deviceRef, "AMDeviceGetInterfaceType", &device) != 0) {
      return device ? device->LastInterfaceType() : 0;
    }
    MDDeviceState state;
    if (LoadState(*device, &state) != 0) return device->LastInterfaceType();
    device->RememberInterfaceType(state.interfaceType);
    return state.interfaceType;
  });
}

MD_EXPORT int AMDeviceConnect(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceConnect", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device;
    if (int error = Enter(deviceRef, "AMDeviceConnect", &device)) return error;
    device->Connect();
    return kAMDSuccess;
  });
}

MD_EXPORT int AMDeviceDisconnect(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceDisconnect", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device = MDFindDevice(deviceRef);
    if (!device) return kAMDInvalidArgumentError;
    // Not gated: disconnecting a device that is gone is how callers clean up, and must succeed.
    device->Disconnect();
    return kAMDSuccess;
  });
}

MD_EXPORT uint32_t AMDeviceGetConnectionID(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceGetConnectionID", 0u, [&] {
    std::shared_ptr<MDDevice> device = MDFindDevice(deviceRef);
    return device ? device->ConnectionId() : 0u;
  });
}

MD_EXPORT int AMDeviceIsPaired(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceIsPaired", 0, [&] {
    std::shared_ptr<MDDevice> device;
    if (Enter(deviceRef, "AMDeviceIsPaired", &device) != 0) return 0;
    MDDeviceState state;
    if (LoadState(*device, &state) != 0) return 0;
    return state.paired ? 1 : 0;
  });
}

MD_EXPORT int AMDeviceValidatePairing(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceValidatePairing", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device;
    if (int error = Enter(deviceRef, "AMDeviceValidatePairing", &device)) return error;
    MDDeviceState state;
    if (int error = LoadState(*device, &state)) return error;
    return state.paired && state.trusted ? kAMDSuccess : kAMDInvalidPairRecordError;
  });
}

// On a device that has not trusted this computer, pairing shows the trust prompt on the device
// (counted in counters.json as "pairPrompts") and answers that the user's response is pending; the
// answer arrives later as message 4. On a trusted device it records the pairing.
MD_EXPORT int AMDevicePair(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDevicePair", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device;
    if (int error = Enter(deviceRef, "AMDevicePair", &device)) return error;
    MDDeviceState state;
    if (int error = LoadState(*device, &state)) return error;
    if (!state.trusted) {
      if (device->Image().CountPairPrompt() != 0) return ImageWriteFailure(*device);
      return kAMDPairingDialogResponsePendingError;
    }
    if (state.paired) return kAMDSuccess;
    if (device->Image().SetPaired(true) != 0) return ImageWriteFailure(*device);
    return kAMDSuccess;
  });
}

MD_EXPORT int AMDeviceStartSession(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceStartSession", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device;
    if (int error = Enter(deviceRef, "AMDeviceStartSession", &device)) return error;
    if (!device->IsConnected()) return kAMDNotConnectedError;
    MDDeviceState state;
    if (int error = LoadState(*device, &state)) return error;
    if (!state.paired || !state.trusted) return kAMDInvalidPairRecordError;
    device->StartSession();
    return kAMDSuccess;
  });
}

MD_EXPORT int AMDeviceStopSession(AMDeviceRef deviceRef) {
  return MDCallGuarded("AMDeviceStopSession", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device = MDFindDevice(deviceRef);
    if (!device) return kAMDInvalidArgumentError;
    // Not gated by faults or detach, like AMDeviceDisconnect: releasing must always work.
    return device->StopSession() ? kAMDSuccess : kAMDSessionInactiveError;
  });
}

MD_EXPORT CFTypeRef AMDeviceCopyValue(AMDeviceRef deviceRef, CFStringRef domain, CFStringRef key) {
  return MDCallGuarded("AMDeviceCopyValue", static_cast<CFTypeRef>(nullptr), [&]() -> CFTypeRef {
    std::shared_ptr<MDDevice> device;
    if (Enter(deviceRef, "AMDeviceCopyValue", &device) != 0) return nullptr;
    std::string domainText, keyText;
    const std::string* domainName = nullptr;
    const std::string* keyName = nullptr;
    if (!ReadOptionalName(domain, &domainText, &domainName) || !ReadOptionalName(key, &keyText, &keyName)) {
      return nullptr;
    }
    // Without a session a device still answers a few values that identify it (an untrusted device
    // can say who it is); everything else needs the session.
    if (!device->HasSession() && !IsPublicValue(domainName, keyName)) return nullptr;
    int error = 0;
    return device->Lockdown().CopyValue(domainName, keyName, &error);
  });
}

MD_EXPORT int AMDeviceSetValue(AMDeviceRef deviceRef, CFStringRef domain, CFStringRef key, CFTypeRef value) {
  return MDCallGuarded("AMDeviceSetValue", kAMDUndefinedError, [&] {
    std::shared_ptr<MDDevice> device;
    if (int error = Enter(deviceRef, "AMDeviceSetValue", &device)) return error;
    if (!device->HasSession()) return kAMDSessionInactiveError;
    std::string domainText, keyText;
    const std::string* domainName = nullptr;
    const std::string* keyName = nullptr;
    if (!ReadOptionalName(domain, &domainText, &domainName) || !ReadOptionalName(key, &keyText, &keyName) ||
        keyName == nullptr || keyName->empty() || value == nullptr) {
      return kAMDInvalidArgumentError;
    }
    MDDeviceState state;
    if (int error = LoadState(*device, &state)) return error;
    if (state.refuseSetValue) return kAMDSetValueProhibitedError;
    return device->Lockdown().SetValue(domainName, *keyName, value);
  });
}

}  // extern "C"
