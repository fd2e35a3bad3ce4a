// Base of the modules whose features have not landed yet: each stands in the registry under its
// own class name and answers every request with one final reply, so that no request is left
// unanswered: 21 for a JSON text that does not parse, 7 when the module works on a device and the
// uuid names none, and otherwise 2 (task error).
//
// Threads: any worker.
#pragma once

#include "utility/hlx_module.h"

namespace hlx {

class HLXModuleUnbuilt : public HLXModule {
 public:
  explicit HLXModuleUnbuilt(bool needsDevice = true) : m_needsDevice(needsDevice) {}
  int Notify(void*) override { return 0; }
  int HandleRequest(const IPCPacket1& request) override;

 private:
  const bool m_needsDevice;
};

}  // namespace hlx
