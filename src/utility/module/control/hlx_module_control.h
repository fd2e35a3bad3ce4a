// Request 600: cancel a running task by its request id, on the device the request names or, with
// an empty uuid, among the requests that belong to no device.
//
// Threads: the desktop channel's receive thread. A cancel only marks a task, so it runs there instead
// of waiting for a free worker: with ten long requests running, a cancel must still get through. Its
// reply waits for any reply in flight (the client's send lock), and nothing is read meanwhile.
#pragma once

#include "utility/hlx_module.h"

namespace hlx {

class HLXModuleControl : public HLXModule {
 public:
  int Notify(void*) override { return 0; }
  int HandleRequest(const IPCPacket1& request) override;
};

}  // namespace hlx
