// Base of the modules whose features have not landed yet: each stands in the registry under its
// own class name and answers every request with one final reply, so that no request is left
// unanswered: the frame's 21, 8 and 7 (when the module works on a device), and otherwise 2 (task
// error), whatever the sub-command.
//
// Threads: any worker.
#pragma once

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleUnbuilt : public HLXFeatureModule {
 public:
  explicit HLXModuleUnbuilt(bool needsDevice = true) : m_needsDevice(needsDevice) {}

 protected:
  bool NeedsDevice(const FeatureRequest& /*request*/) const override { return m_needsDevice; }
  bool RunsEverySubCommand() const override { return true; }
  int Run(FeatureRequest& request) override;

 private:
  const bool m_needsDevice;
};

}  // namespace hlx
