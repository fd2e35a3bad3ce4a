// Where replies leave the service. The client (hlx_client) implements the sink and installs it at
// start-up; the module frame and the modules send through it, so the core never reaches up into
// the client.
//
// Threads: installed on the main thread before the first request can arrive (modules are
// registered and the sink set before the peer connection opens); then called from any worker.
#pragma once

#include <cstdint>

#include "utility/hlx_reply.h"

struct IPCPacket1;

namespace hlx {

class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // Sends one reply: the record's text and data part in a packet with the given packet's id,
  // command and status. 0, or -1 when there is no peer to send to.
  virtual int SendReply(const ReplyRecord& record, const IPCPacket1& packet) = 0;
};

// Installs the sink (it lives until the process ends); null drops every reply.
void SetReplySink(ReplySink* sink);
// Sends through the installed sink; -1 when none is installed.
int SendThroughSink(const ReplyRecord& record, const IPCPacket1& packet);

}  // namespace hlx
