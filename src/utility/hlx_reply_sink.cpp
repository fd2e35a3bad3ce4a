// The installed reply sink (see hlx_reply_sink.h).
#include "utility/hlx_reply_sink.h"

#include <atomic>

namespace hlx {
namespace {

std::atomic<ReplySink*> installedSink{nullptr};

}  // namespace

void SetReplySink(ReplySink* sink) { installedSink.store(sink); }

int SendThroughSink(const ReplyRecord& record, const IPCPacket1& packet) {
  ReplySink* sink = installedSink.load();
  return sink != nullptr ? sink->SendReply(record, packet) : -1;
}

}  // namespace hlx
