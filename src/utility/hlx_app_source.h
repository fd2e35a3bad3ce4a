// The device's apps as other modules read them (a backup's Info.plist lists them with their store
// records and icons). The app module answers; a caller finds it in the module registry under the
// app listing's request code, so that no module includes another.
//
// Threads: any worker; each call opens its own service connection and keeps nothing.
#pragma once

#include <string>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_module.h"
#include "utility/hlx_request_code.h"

namespace hlx {

class HLXDevice;

class AppSource {
 public:
  // Appends the answer dictionaries of one Browse of the user apps, in the order the device sent
  // them, each with its "Status" and its "CurrentList" array of apps (bundle id, type, store
  // metadata, SINF, versions, path, names); the closing "Complete" answer is not kept. False when
  // the installation service does not open (nothing appended) or the device ended the Browse
  // before "Complete" (what arrived is appended).
  virtual bool BrowseUserApps(HLXDevice& device, std::vector<CFPtr<CFDictionaryRef>>* replies) = 0;

  // The springboard's answer to the icon request for one bundle id (its "pngData" holds the PNG
  // bytes; an app without icon gets an answer without it); null when the service does not open, no
  // answer arrives, the answer is no dictionary, or the id is not usable.
  virtual CFPtr<CFDictionaryRef> CopyAppIconReply(HLXDevice& device, const std::string& bundleId) = 0;

 protected:
  ~AppSource() = default;
};

// The registered app source; null when none is registered.
inline AppSource* FindAppSource() {
  return dynamic_cast<AppSource*>(ModuleRegistry::GetInstance().Find(kRequestListApps));
}

}  // namespace hlx
