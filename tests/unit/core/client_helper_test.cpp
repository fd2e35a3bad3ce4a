// The helper channel of the client: requests kept while the elevated helper starts run once it
// connects, the channel's idle state, and packets forwarded to the helper.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "unit/device/device_test_support.h"
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
      std::lock_guard<std::mutex> lock(m_mutex);
      m_ids.insert(request.id);
    }
    m_changed.notify_all();
    return 0;
  }
  bool WaitFor(const std::set<uint64_t>& ids) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_ids == ids; });
  }
  std::set<uint64_t> Ids() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ids;
  }

 private:
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

  // A request that found the channel idle just before the helper connected starts no second
  // helper: it runs again, to be forwarded to the one there is.
  int started = 0;
  EXPECT_TRUE(client.QueueForHelper(
      [&started] {
        ++started;
        return true;
      },
      Request(4, 18)));
  EXPECT_TRUE(module->WaitFor({1, 2, 3, 4}));
  EXPECT_EQ(started, 0);

  IPCPacket1 forwarded;
  forwarded.id = 42;
  forwarded.command = 17;
  forwarded.body = "payload";
  client.SendToHelper(forwarded);
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(received.wait_for(lock, std::chrono::seconds(20), [&] { return !helperPackets.empty(); }));
  EXPECT_EQ(helperPackets, std::vector<uint64_t>{42});
}

// Two helper requests that arrive together both ask to listen. The one port they see must be the one
// that listens: a second listen would close the port that the first request's helper is started
// with, and both requests would wait for ever. Each round in a fresh process, so that nothing
// listens yet; several rounds, since one round of a lost race may go the lucky way.
TEST(HLXClientHelperChannel, ListensOnceWhenAskedFromManyThreadsAtOnce) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    test::ExpectInFreshProcess(
        [] {
          HLXClient& client = HLXClient::GetInstance();
          constexpr int kThreads = 8;
          std::vector<int32_t> ports(kThreads, -1);
          std::atomic<int> waiting{kThreads};
          std::vector<std::thread> threads;
          for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
              waiting.fetch_sub(1);
              while (waiting.load() > 0) {
              }  // all start together
              if (client.ListenForHelper()) ports[i] = client.HelperPort();
            });
          }
          for (std::thread& thread : threads) thread.join();
          for (int32_t port : ports) {
            if (port <= 0 || port != ports[0]) return 10;
          }
          const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in address{};
          address.sin_family = AF_INET;
          address.sin_port = htons(static_cast<uint16_t>(ports[0]));
          address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          const bool reached = ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
          ::close(socket);
          return reached ? 0 : 11;
        },
        0);
  }
}

}  // namespace
}  // namespace hlx
