// The IPC channel over real loopback sockets: channel to channel, and channel against plain sockets
// that write and read the wire bytes themselves. Every wait is on a condition with a deadline.
#include "utility/hlx_ipc_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "unit/ipc/ipc_test_wire.h"

namespace {

using hlx::test::kWireHeartbeat;
using hlx::test::RawConnect;
using hlx::test::RawListen;
using hlx::test::RawReadExactly;
using hlx::test::RawSocket;
using hlx::test::RawWriteAll;
using hlx::test::WirePacket;

IPCPacket1 MakePacket(uint64_t id, uint32_t command, uint16_t status, std::string body,
                      std::shared_ptr<IPCConnection> connection) {
  IPCPacket1 packet;
  packet.id = id;
  packet.command = command;
  packet.status = status;
  packet.body = std::move(body);
  packet.connection = std::move(connection);
  return packet;
}

// Collects what a channel hands out: packets from the dispatch thread, events from the others.
// Read `packets` and `events` only inside WaitUntil predicates or under Locked().
class Recorder {
 public:
  struct Event {
    IPCChannelEventKind kind;
    std::shared_ptr<IPCConnection> connection;
    int32_t tickCount;
    std::string text;
  };

  std::vector<std::unique_ptr<IPCPacket1>> packets;
  std::vector<Event> events;
  std::function<int(const IPCChannelEvent&)> onEvent;  // optional, set before Attach

  void Attach(vnl::IPCPacketChannel& channel) {
    channel.SetPacketCallback([this](std::unique_ptr<IPCPacket1> packet) {
      std::lock_guard<std::mutex> lock(m_mutex);
      packets.push_back(std::move(packet));
      m_changed.notify_all();
      return 0;
    });
    channel.SetEventCallback([this](const IPCChannelEvent& event) {
      const int result = onEvent ? onEvent(event) : 0;
      std::lock_guard<std::mutex> lock(m_mutex);
      events.push_back({event.kind, event.connection, event.tickCount, event.text ? event.text : ""});
      m_changed.notify_all();
      return result;
    });
  }
  template <typename Predicate>
  bool WaitUntil(Predicate predicate) {
    return hlx::test::WaitFor(m_mutex, m_changed, [&] { return predicate(*this); });
  }
  bool WaitForPackets(size_t count) {
    return WaitUntil([count](Recorder& r) { return r.packets.size() >= count; });
  }
  std::unique_lock<std::mutex> Locked() { return std::unique_lock<std::mutex>(m_mutex); }

  size_t CountEvents(IPCChannelEventKind kind, const std::string& text = "") const {
    size_t count = 0;
    for (const Event& e : events) count += e.kind == kind && (text.empty() || e.text == text) ? 1 : 0;
    return count;
  }
  size_t CountCloseRecords() const {
    size_t count = 0;
    for (const auto& p : packets) count += p->IsCloseRecord() ? 1 : 0;
    return count;
  }
  bool HasPacketWithId(uint64_t id) const {
    for (const auto& p : packets) {
      if (!p->IsCloseRecord() && p->id == id) return true;
    }
    return false;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

const std::string kHeartbeatEventText = "SelectRecv Heart Test Receive: 8";

// A listening channel; the recorder is declared first so that it outlives the channel's threads.
struct Server {
  Recorder recorder;
  vnl::IPCPacketChannel channel;
  int port = 0;
  explicit Server(vnl::IPCPacketChannel::Dispatch dispatch = vnl::IPCPacketChannel::Dispatch::kOwnThread)
      : channel(dispatch) {
    recorder.Attach(channel);
    auto listening = channel.Listen(0);
    if (listening) port = listening->port;
  }
};

TEST(IPCChannel, ChannelsExchangePacketsBothWays) {
  Server server;
  ASSERT_GT(server.port, 0);
  Recorder clientRecorder;
  vnl::IPCPacketChannel client;
  clientRecorder.Attach(client);
  const std::shared_ptr<IPCConnection> outgoing = client.Connect(server.port);
  ASSERT_NE(outgoing, nullptr);
  EXPECT_EQ(outgoing->kind, IPCConnectionKind::kOutgoing);

  const IPCPacket1 request = MakePacket(0x1122334455667788ULL, 300, 0, "{\"uuid\":\"\"}", outgoing);
  ASSERT_TRUE(request.Send());
  ASSERT_TRUE(server.recorder.WaitForPackets(1));
  // The accept thread reports the connection after adding it, so the first packet may be
  // dispatched before the event arrives.
  ASSERT_TRUE(server.recorder.WaitUntil(
      [](Recorder& r) { return r.CountEvents(IPCChannelEventKind::kConnectionAccepted) >= 1; }));
  std::shared_ptr<IPCConnection> accepted;
  {
    auto lock = server.recorder.Locked();
    const IPCPacket1& received = *server.recorder.packets[0];
    EXPECT_EQ(received.id, request.id);
    EXPECT_EQ(received.command, 300u);
    EXPECT_STREQ(received.body.c_str(), "{\"uuid\":\"\"}");
    accepted = received.connection;
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->kind, IPCConnectionKind::kAccepted);
    EXPECT_EQ(accepted->port, server.port);
    // The helper relay waits for this event to send what was queued for the new connection.
    ASSERT_EQ(server.recorder.CountEvents(IPCChannelEventKind::kConnectionAccepted), 1u);
    for (const auto& e : server.recorder.events) {
      if (e.kind == IPCChannelEventKind::kConnectionAccepted) {
        EXPECT_EQ(e.connection, accepted);
      }
    }
  }

  // A reply whose text is above 65535 bytes, with a data part sent after the head, then an empty one.
  const IPCPacket1 reply = MakePacket(request.id, 300, 2, std::string(70000, 't'), accepted);
  const std::string data(5000, 'd');
  ASSERT_TRUE(reply.SendHead(data.size()));
  ASSERT_TRUE(SendOnConnection(accepted, data.data(), data.size()));
  ASSERT_TRUE(MakePacket(9, 1, 0, "", accepted).Send());

  ASSERT_TRUE(clientRecorder.WaitForPackets(2));
  auto lock = clientRecorder.Locked();
  EXPECT_EQ(clientRecorder.packets[0]->status, 2);
  EXPECT_EQ(clientRecorder.packets[0]->body, reply.body + data);
  EXPECT_EQ(clientRecorder.packets[0]->connection, outgoing);
  EXPECT_EQ(clientRecorder.packets[1]->id, 9u);
  EXPECT_EQ(clientRecorder.packets[1]->bodyLength(), 0u);
  EXPECT_FALSE(clientRecorder.packets[1]->IsCloseRecord());
}

TEST(IPCChannel, SendsTheWireBytes) {
  int port = 0;
  RawSocket listener = RawListen(&port);
  vnl::IPCPacketChannel channel;
  auto connection = channel.Connect(port);
  ASSERT_NE(connection, nullptr);
  RawSocket peer(::accept(listener.fd, nullptr, nullptr));

  const IPCPacket1 packet = MakePacket(5, 17, 1, std::string("1\0{}\0", 5), connection);
  ASSERT_TRUE(packet.Send());
  EXPECT_EQ(RawReadExactly(peer, 36 + 5), WirePacket(5, 17, 1, packet.body));
  ASSERT_TRUE(packet.SendHead(3));
  ASSERT_TRUE(SendOnConnection(connection, "xyz", 3));
  EXPECT_EQ(RawReadExactly(peer, 36 + 8), WirePacket(5, 17, 1, packet.body + "xyz"));
}

TEST(IPCChannel, ConnectFailureReportsErrnoAndReturnsNull) {
  // A bound socket that does not listen refuses connections on its port.
  RawSocket bound(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = hlx::test::Loopback(0);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(bound.fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::getsockname(bound.fd, reinterpret_cast<sockaddr*>(&address), &length), 0);

  Recorder recorder;
  vnl::IPCPacketChannel channel;
  recorder.Attach(channel);
  EXPECT_EQ(channel.Connect(ntohs(address.sin_port)), nullptr);
  auto lock = recorder.Locked();
  EXPECT_EQ(recorder.CountEvents(IPCChannelEventKind::kLog, "connect error: " + std::to_string(ECONNREFUSED)), 1u);
  EXPECT_FALSE(channel.HasConnections());
}

TEST(IPCChannel, IdleOutgoingConnectionGetsHeartbeatsAndTicks) {
  int port = 0;
  RawSocket listener = RawListen(&port);
  Recorder recorder;
  vnl::IPCPacketChannel channel;
  recorder.Attach(channel);
  channel.SetHeartbeatIntervalMs(20);
  ASSERT_NE(channel.Connect(port), nullptr);
  RawSocket peer(::accept(listener.fd, nullptr, nullptr));
  EXPECT_EQ(RawReadExactly(peer, 16), kWireHeartbeat + kWireHeartbeat);
  ASSERT_TRUE(recorder.WaitUntil([](Recorder& r) { return r.CountEvents(IPCChannelEventKind::kHeartbeatDue) >= 2; }));
  auto lock = recorder.Locked();
  int32_t expectedTick = 1;
  for (const auto& e : recorder.events) {
    if (e.kind == IPCChannelEventKind::kHeartbeatTick) {
      EXPECT_EQ(e.tickCount, expectedTick++);
    }
  }
  EXPECT_GE(expectedTick, 3);
}

// The heartbeat thread is driven by its own events: what a callback sends during a tick is traffic,
// and a suppressed heartbeat sends nothing. A marker packet sent afterwards arrives after anything
// sent before it, so the server's count of heartbeats is final once the marker is in.
TEST(IPCChannel, BusyOrSuppressedConnectionSendsNoHeartbeat) {
  for (const bool busy : {true, false}) {
    Server server;
    Recorder clientRecorder;
    std::atomic<int> ticks{0};
    clientRecorder.onEvent = [&](const IPCChannelEvent& event) {
      if (event.kind == IPCChannelEventKind::kHeartbeatDue) return 1;
      if (event.kind != IPCChannelEventKind::kHeartbeatTick) return 0;
      if (busy) {
        EXPECT_TRUE(MakePacket(1000 + event.tickCount, 1, 0, "", event.connection).Send());
      }
      ++ticks;
      return 0;
    };
    vnl::IPCPacketChannel client;
    clientRecorder.Attach(client);
    client.SetHeartbeatIntervalMs(10);
    auto connection = client.Connect(server.port);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(clientRecorder.WaitUntil([&](Recorder&) { return ticks.load() >= 5; }));

    ASSERT_TRUE(MakePacket(77, 2, 0, "", connection).Send());
    ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.HasPacketWithId(77); }));
    auto serverLock = server.recorder.Locked();
    EXPECT_EQ(server.recorder.CountEvents(IPCChannelEventKind::kLog, kHeartbeatEventText), 0u) << busy;
    auto clientLock = clientRecorder.Locked();
    const size_t due = clientRecorder.CountEvents(IPCChannelEventKind::kHeartbeatDue);
    if (busy) {
      EXPECT_EQ(due, 0u);
      EXPECT_GE(server.recorder.packets.size(), 6u);
    } else {
      EXPECT_GE(due, 4u);
    }
  }
}

TEST(IPCChannel, HeartbeatsAndGarbageAroundPacketsInOneRead) {
  Server server;
  RawSocket peer = RawConnect(server.port);
  const std::string a = WirePacket(1, 10, 0, "first");
  const std::string b = WirePacket(2, 20, 0, "kCommand-looking body");
  const std::string c = WirePacket(3, 30, 0, "");
  ASSERT_TRUE(RawWriteAll(peer, kWireHeartbeat + a.substr(0, 20)));
  ASSERT_TRUE(RawWriteAll(peer, a.substr(20) + kWireHeartbeat + b + "garbage" + c + kWireHeartbeat));
  ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) {
    return r.packets.size() == 3 && r.CountEvents(IPCChannelEventKind::kLog, kHeartbeatEventText) == 3;
  }));
  auto lock = server.recorder.Locked();
  EXPECT_EQ(server.recorder.packets[0]->body, "first");
  EXPECT_EQ(server.recorder.packets[1]->body, "kCommand-looking body");
  EXPECT_EQ(server.recorder.packets[2]->id, 3u);
}

TEST(IPCChannel, OversizedHeaderClosesOnlyItsConnection) {
  Server server;
  RawSocket bad = RawConnect(server.port);
  RawSocket good = RawConnect(server.port);
  ASSERT_TRUE(RawWriteAll(good, WirePacket(1, 1, 0, "before")));
  ASSERT_TRUE(server.recorder.WaitForPackets(1));
  ASSERT_TRUE(RawWriteAll(bad, WirePacket(2, 2, 0, "", uint64_t{1} << 40) + "tail"));
  EXPECT_TRUE(hlx::test::RawSeesClose(bad));
  ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.CountCloseRecords() == 1; }));
  ASSERT_TRUE(RawWriteAll(good, WirePacket(3, 3, 0, "after")));
  ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.HasPacketWithId(3); }));
  auto lock = server.recorder.Locked();
  EXPECT_EQ(server.recorder.CountCloseRecords(), 1u);
  EXPECT_EQ(server.channel.Connections().size(), 1u);
}

// Either way of dispatching keeps the arrival order across packets and close records.
TEST(IPCChannel, PeerCloseGivesExactlyOneCloseRecordAfterItsPackets) {
  for (const auto dispatch :
       {vnl::IPCPacketChannel::Dispatch::kOwnThread, vnl::IPCPacketChannel::Dispatch::kReceiveThread}) {
    Server server(dispatch);
    {
      RawSocket leaving = RawConnect(server.port);
      ASSERT_TRUE(RawWriteAll(leaving, WirePacket(1, 5, 0, "last words")));
    }
    ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.CountCloseRecords() == 1; }));
    RawSocket other = RawConnect(server.port);
    ASSERT_TRUE(RawWriteAll(other, WirePacket(2, 5, 0, "") + WirePacket(3, 5, 0, "")));
    ASSERT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.HasPacketWithId(3); }));
    auto lock = server.recorder.Locked();
    ASSERT_EQ(server.recorder.packets.size(), 4u);
    EXPECT_EQ(server.recorder.packets[0]->body, "last words");
    EXPECT_TRUE(server.recorder.packets[1]->IsCloseRecord());
    EXPECT_EQ(server.recorder.packets[1]->connection, server.recorder.packets[0]->connection);
    EXPECT_TRUE(server.recorder.packets[1]->connection->closed.load());
    EXPECT_EQ(server.recorder.packets[2]->id, 2u);
    EXPECT_EQ(server.recorder.packets[3]->id, 3u);
  }
}

// Threads send packets of up to megabytes at once, some as head plus data part; a 1 ms heartbeat
// tick keeps the heartbeat thread trying to get in between. Any interleaving breaks the framing.
TEST(IPCChannel, ConcurrentSendersNeverInterleave) {
  constexpr int kThreads = 6;
  constexpr int kPerThread = 12;
  Server server;
  vnl::IPCPacketChannel client;
  client.SetHeartbeatIntervalMs(1);
  auto connection = client.Connect(server.port);
  ASSERT_NE(connection, nullptr);
  auto bodyFor = [](int thread, int sequence) {
    const size_t size = sequence % 3 == 0 ? 1500000 : 60000 + 997 * sequence;
    return std::string(size, static_cast<char>('A' + thread)) + std::to_string(sequence);
  };
  // Whole packets, and packets whose text and data part are separate buffers, rely on the
  // connection's send lock alone; heartbeats run every millisecond beside them.
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int s = 0; s < kPerThread; ++s) {
        const uint64_t id = (static_cast<uint64_t>(t) << 32) | static_cast<uint64_t>(s);
        const std::string body = bodyFor(t, s);
        if (s % 2 == 0) {
          EXPECT_TRUE(MakePacket(id, 1, 0, body, connection).Send());
        } else {
          EXPECT_TRUE(MakePacket(id, 1, 0, body.substr(0, 1000), connection)
                          .SendWithData(body.data() + 1000, body.size() - 1000));
        }
      }
    });
  }
  for (auto& sender : senders) sender.join();
  ASSERT_TRUE(server.recorder.WaitForPackets(kThreads * kPerThread));
  auto lock = server.recorder.Locked();
  std::vector<int> next(kThreads, 0);
  for (const auto& packet : server.recorder.packets) {
    ASSERT_FALSE(packet->IsCloseRecord());
    const int t = static_cast<int>(packet->id >> 32);
    const int s = static_cast<int>(packet->id & 0xFFFFFFFF);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(s, next[t]++) << "packets of one thread arrive in the order sent";
    EXPECT_EQ(packet->body, bodyFor(t, s));
  }
}

TEST(IPCChannel, ListenAgainReplacesTheListener) {
  Server server;
  const int oldPort = server.port;
  const int32_t freePort = FindFreePort();
  ASSERT_GT(freePort, 0);
  auto replacement = server.channel.Listen(freePort);
  ASSERT_NE(replacement, nullptr);
  EXPECT_EQ(replacement->port, freePort);
  // A port in use fails and leaves the working listener alone.
  EXPECT_EQ(server.channel.Listen(freePort), nullptr);
  EXPECT_EQ(server.channel.ListeningConnection(), replacement);
  RawSocket peer = RawConnect(replacement->port);
  ASSERT_TRUE(RawWriteAll(peer, WirePacket(8, 1, 0, "")));
  EXPECT_TRUE(server.recorder.WaitUntil([](Recorder& r) { return r.HasPacketWithId(8); }));
  EXPECT_LT(RawConnect(oldPort).fd, 0);
}

TEST(IPCChannel, SendToAVanishedPeerFailsWithoutASignal) {
  int port = 0;
  RawSocket listener = RawListen(&port);
  vnl::IPCPacketChannel channel;
  auto connection = channel.Connect(port);
  ASSERT_NE(connection, nullptr);
  { RawSocket peer(::accept(listener.fd, nullptr, nullptr)); }
  const std::string chunk(65536, 'x');
  bool failed = false;
  const auto deadline = std::chrono::steady_clock::now() + hlx::test::kTestDeadline;
  while (!failed && std::chrono::steady_clock::now() < deadline) {
    failed = !SendOnConnection(connection, chunk.data(), chunk.size());
  }
  EXPECT_TRUE(failed);
  channel.Close();
  EXPECT_FALSE(SendOnConnection(connection, "x", 1));
  EXPECT_EQ(channel.Connect(port), nullptr);
}

}  // namespace
