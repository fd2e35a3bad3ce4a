// A module for the service's own black-box tests and benchmarks, registered only when the
// environment variable HLX_TEST_MODULES is set. It is no feature of the service.
//   9000  a long task on the service-wide task map: an intermediate reply (stage 1) when it starts,
//         then it waits until cancelled (final code 6) or for {"ms": N} milliseconds (final code 0);
//         cancelled while it waits for a worker, it answers 6 at once, without the stage-1 reply;
//         with {"churn": 1} it allocates and frees small blocks and writes log lines all the while
//         instead of sleeping.
//   9001  a final reply with {"size": N} bytes of data (pattern bytes), {"type": T} as the data type;
//         with {"json": 1} the bytes are the first N of TestProbeJson() instead.
//
// Threads: any worker.
#pragma once

#include <string>

#include "utility/hlx_module.h"

namespace hlx {

// 64 MiB of JSON shaped like the contact listing's batches (an array of records with names, phone
// numbers, mail addresses and notes), the same bytes on every call: the benchmarks compress it
// alone and through the reply path.
const std::string& TestProbeJson();

class HLXModuleTestProbe : public HLXModule {
 public:
  int HandleRequest(const IPCPacket1& request) override;
};

}  // namespace hlx
