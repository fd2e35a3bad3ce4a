// Base of the modules whose features have not landed yet: each stands in the registry under its
// own class name and answers every request with one final reply carrying code 2, so that no request
// is left unanswered.
//
// Threads: any worker.
#pragma once

#include "utility/hlx_module.h"

namespace hlx {

class HLXModuleUnbuilt : public HLXModule {
 public:
  int Notify(void*) override { return 0; }
  int HandleRequest(const IPCPacket1& request) override;
};

}  // namespace hlx
