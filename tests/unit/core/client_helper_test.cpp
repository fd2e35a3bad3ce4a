// The helper channel of the client: requests kept while the elevated helper starts run once it
// connects, the channel's idle state, and packets forwarded to the helper.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_module.h"
#include "utility/hlx_thread_pool.h"
#include "utility/ios/hlx_client.h"

namespace hlx {
namespace {

// Records the ids of the requests it handles.
class RecordingModule : public HLXModule {
 public:
  int HandleRequest(const IPCPacket1& request) override {
    {
      std::lock_guard<std::mutex> lock(m_idsMutex);
      m_ids.insert(request.id);
    }
    m_changed.notify_all();
    return 0;
  }
  bool WaitFor(const std::set<uint64_t>& ids) {
    std::unique_lock<std::mutex> lock(m_idsMutex);
    return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_ids == ids; });
  }
  std::set<uint64_t> Ids() {
    std::lock_guard<std::mutex> lock(m_idsMutex);
    return m_ids;
  }

 private:
  std::mutex m_idsMutex;
  std::condition_variable m_changed;
  std::set<uint64_t> m_ids;
};

std::unique_ptr<IPCPacket1> Request(uint64_t id, uint32_t command) {
  auto packet = std::make_unique<IPCPacket1>();
  packet->id = id;
  packet->command = command;
  packet->body = std::string("1\0{}\0", 5);
  return packet;
}

TEST(HLXClientHelperChannel, PendingRequestsRunWhenTheHelperConnectsAndPacketsReachIt) {
  static RecordingModule* module = new RecordingModule();  // the registry keeps it for the process
  ModuleRegistry::GetInstance().Enter(17, module);
  ModuleRegistry::GetInstance().Enter(18, module);
  VNLThreadPool::GetInstance().Start();

  HLXClient& client = HLXClient::GetInstance();
  EXPECT_TRUE(client.IsHelperChannelIdle()) << "nothing listens yet";
  ASSERT_TRUE(client.ListenForHelper());
  ASSERT_GT(client.HelperPort(), 0);
  EXPECT_TRUE(client.IsHelperChannelIdle()) << "listening, but no helper connected";

  client.AddPendingRequest(Request(1, 17));
  client.AddPendingRequest(Request(2, 18));
  client.AddPendingRequest(Request(3, 17));
  EXPECT_TRUE(module->Ids().empty()) << "pending requests wait for the helper";

  // The helper's side: it connects back to the port and receives what is forwarded to it.
  std::mutex mutex;
  std::condition_variable received;
  std::vector<uint64_t> helperPackets;
  vnl::IPCPacketChannel helper;
  helper.SetPacketCallback([&](std::unique_ptr<IPCPacket1> packet) {
    if (packet->IsCloseRecord()) return 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      helperPackets.push_back(packet->id);
    }
    received.notify_all();
    return 0;
  });
  ASSERT_NE(helper.Connect(client.HelperPort()), nullptr);
  EXPECT_TRUE(module->WaitFor({1, 2, 3}));
  EXPECT_FALSE(client.IsHelperChannelIdle());

  IPCPacket1 forwarded;
  forwarded.id = 42;
  forwarded.command = 17;
  forwarded.body = "payload";
  client.SendToHelper(forwarded);
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(received.wait_for(lock, std::chrono::seconds(20), [&] { return !helperPackets.empty(); }));
  EXPECT_EQ(helperPackets, std::vector<uint64_t>{42});
}

}  // namespace
}  // namespace hlx
