// Test probe module.
#include "utility/module/test_probe/hlx_module_test_probe.h"

#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_reply_sink.h"
#include "utility/hlx_task.h"

namespace hlx {
namespace {

int64_t ReadMember(const rapidjson::Document& json, const char* name, int64_t fallback) {
  if (json.IsObject() && json.HasMember(name) && json[name].IsInt64()) return json[name].GetInt64();
  return fallback;
}

// A few milliseconds of small allocations and log lines, so that the thread is nearly always inside
// the allocator or the log's lock: what a crash report must not depend on.
void Churn() {
  std::vector<std::unique_ptr<char[]>> blocks(64);
  for (int round = 0; round < 200; ++round) {
    const size_t slot = static_cast<size_t>(round) % blocks.size();
    blocks[slot] = std::make_unique<char[]>(16 + static_cast<size_t>(round * 37) % 4096);
    blocks[slot][0] = static_cast<char>(round);
    if (round % 20 == 0) HLX_LOG(INFO) << "test probe churn " << round;
  }
}

}  // namespace

const std::string& TestProbeJson() {
  static const std::string* json = [] {
    auto* text = new std::string("[");
    static const char* const kNames[] = {"Anna", "Bernd", "Chiara", "Dmitri", "Elif", "Farid", "Greta", "Hiro"};
    static const char* const kLabels[] = {"mobile", "home", "work", "iPhone"};
    uint64_t seed = 88172645463325252ull;  // xorshift: fixed, varied digits
    auto next = [&seed] {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      return seed;
    };
    for (size_t id = 1; text->size() < (size_t{64} << 20); ++id) {
      const uint64_t r = next();
      if (id > 1) text->push_back(',');
      *text += "{\"id\":" + std::to_string(id) + ",\"first\":\"" + kNames[r % 8] + "\",\"last\":\"" +
               kNames[(r >> 3) % 8] + "son" + std::to_string(r % 997) + "\",\"phones\":[{\"label\":\"" +
               kLabels[(r >> 6) % 4] + "\",\"value\":\"+49 " + std::to_string(next() % 10000000000ull) +
               "\"}],\"emails\":[{\"label\":\"work\",\"value\":\"" + kNames[(r >> 9) % 8] + "." +
               std::to_string(r % 9973) + "@example.org\"}],\"note\":\"met on " + std::to_string(r % 28 + 1) + "." +
               std::to_string((r >> 5) % 12 + 1) + ".20" + std::to_string(10 + (r >> 7) % 15) + "\"}";
    }
    text->push_back(']');
    return text;
  }();
  return *json;
}

int HLXModuleTestProbe::HandleRequest(const IPCPacket1& request) {
  rapidjson::Document json;
  if (!ParseJsonText(&json, RequestPayload::Parse(request.body).json) || !json.IsObject()) {
    SendReply(request, "", static_cast<int32_t>(kReplyBadRequest), nullptr);
    return 0;
  }

  if (request.command == static_cast<uint32_t>(kRequestTestDataReply)) {
    const int64_t size = ReadMember(json, "size", 0);
    if (size < 0 || size > (int64_t{64} << 20)) {
      SendReply(request, "", static_cast<int32_t>(kReplyBadRequest), nullptr);
      return 0;
    }
    // Made once: the benchmarks measure the reply path, not the making of test bytes.
    static const std::vector<uint8_t>* pattern = [] {
      auto* bytes = new std::vector<uint8_t>(size_t{64} << 20);
      for (size_t i = 0; i < bytes->size(); ++i) (*bytes)[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
      return bytes;
    }();
    ReplyRecord record;
    record.type = static_cast<int32_t>(ReadMember(json, "type", 0));
    record.uuid = "";
    record.data =
        ReadMember(json, "json", 0) != 0 ? reinterpret_cast<const uint8_t*>(TestProbeJson().data()) : pattern->data();
    record.dataLength = size;  // the first `size` bytes of the pattern
    IPCPacket1 packet;
    packet.id = request.id;
    packet.command = request.command;
    packet.status = static_cast<uint16_t>(PacketStatus::kDone);
    SendThroughSink(record, packet);
    return 0;
  }

  DeviceTaskMap& tasks = GetServiceTaskMap();
  const int64_t taskId = static_cast<int64_t>(request.id);
  if (!tasks.Register(taskId)) {  // cancelled while it waited for a worker: answered like a cancelled run
    SendReply(request, "", static_cast<int32_t>(kReplyCancelled), nullptr);
    return 0;
  }
  ReplyRecord started;
  started.stage = 1;
  started.uuid = "";
  IPCPacket1 progress;
  progress.id = request.id;
  progress.command = request.command;
  progress.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  SendThroughSink(started, progress);

  const int64_t ms = ReadMember(json, "ms", -1);
  const bool churn = ReadMember(json, "churn", 0) != 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  int32_t code = static_cast<int32_t>(kReplySuccess);
  while (ms < 0 || std::chrono::steady_clock::now() < deadline) {
    if (tasks.IsCancelled(taskId)) {
      code = static_cast<int32_t>(kReplyCancelled);
      break;
    }
    if (churn) {
      Churn();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the task's checkpoint interval
    }
  }
  tasks.Remove(taskId);
  SendReply(request, "", code, nullptr);
  return 0;
}

}  // namespace hlx
