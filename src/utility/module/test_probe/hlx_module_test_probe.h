// A module for the service's own black-box tests and benchmarks, registered only when the
// environment variable HLX_TEST_MODULES is set. It is no feature of the service.
//   9000  a long task on the service-wide task map: an intermediate reply (stage 1) when it starts,
//         then it waits until cancelled (final code 6) or for {"ms": N} milliseconds (final code 0).
//   9001  a final reply with {"size": N} bytes of data (pattern bytes), {"type": T} as the data type.
//
// Threads: any worker.
#pragma once

#include "utility/hlx_module.h"

namespace hlx {

class HLXModuleTestProbe : public HLXModule {
 public:
  int HandleRequest(const IPCPacket1& request) override;
};

}  // namespace hlx
