// The basic device information module: what a connected device is and how it is used.
//   15   bring a device that is not ready (not trusted yet, properties not read) to ready;
//   300  the device's properties (lockdown values and a jailbreak test), then its battery and
//        storage use, as two intermediate replies (status 2, zlib JSON), then the final reply;
//   303  rename the device (zlib JSON {"name": ...} in the data part).
// The module keeps no state between requests. The property document is hlx_device_properties.h's,
// which the backup reads too.
//
// Threads: any worker, several requests at once (also for one device). The module locks nothing of
// its own; the device monitor's mutex is taken only for the device lookup.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXDevice;

class HLXModuleBasicInfo : public HLXFeatureModule {
 public:
  // Self-test mode: a request 300 of the module's own making for the device (sub-command 1), whose
  // replies go to the desktop peer like any other.
  void RunSelfTest(const std::shared_ptr<HLXDevice>& device);

 protected:
  // By UDID, or else by the handle in "code" for a device whose UDID could not be read yet.
  std::shared_ptr<HLXDevice> FindDevice(const FeatureRequest& request) const override;
  int Run(FeatureRequest& request) override;

 private:
  int HandleDeviceInfo(const FeatureRequest& request);
  int SetDeviceName(const std::shared_ptr<HLXDevice>& device, const std::string& name);
};

}  // namespace hlx
