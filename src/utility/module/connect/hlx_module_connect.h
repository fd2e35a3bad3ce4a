// The connect module. Until its feature lands it answers every request with a final "task error".
//
// Threads: any worker.
#pragma once

#include "utility/module/hlx_module_unbuilt.h"

namespace hlx {

// Its requests (driver set-up) need no device.
class HLXModuleConnect : public HLXModuleUnbuilt {
 public:
  HLXModuleConnect() : HLXModuleUnbuilt(false) {}
};

}  // namespace hlx
