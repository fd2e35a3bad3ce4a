// The loopback IPC channel: TCP connections to and from 127.0.0.1, the receive, accept, heartbeat and
// dispatch threads, the per-connection send lock, and the hand-over of complete packets to the
// owner's packet callback. Packet framing lives in hlx_packet; this file never looks inside a body
// and knows no request codes.
//
// Threads, per channel: the receive thread (started by the constructor), the accept thread (started
// by the first Listen), one heartbeat thread per connection made by Connect, and, for
// vnl::IPCPacketChannel, the dispatch thread that runs the packet callback (unless the channel hands
// packets over on the receive thread). Sends come from any thread (the workers, the
// device-notification callback, the heartbeat threads).
//
// Lock order: each lock below is taken alone; none is held while another is taken or while a
// callback runs. The channel mutex guards the connection set and the listener; a connection's send
// mutex guards writes to its socket; the queue mutex guards the packet queue.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "utility/hlx_lock_order.h"
#include "utility/hlx_packet.h"

namespace vnl {

// Owns one descriptor (a socket, or the channel's wake-up eventfd); closes it on destruction.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : m_fd(fd) {}
  ~ScopedFd();
  ScopedFd(ScopedFd&& other) noexcept : m_fd(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept;
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace vnl

// Values of IPCConnection::kind; the client picks its reply targets by them.
enum class IPCConnectionKind : int32_t {
  kOutgoing = 0,  // made by vnl::IPCChannel::Connect
  kAccepted = 1,  // accepted by the accept thread, or the listening socket itself
};

// One connection, or a channel's listening socket. Shared between the channel, the packets that
// came from it or go to it, and its heartbeat thread; the socket is closed when the last of them
// lets go, so a worker still holding a packet never writes to a descriptor number that the system
// has meanwhile given to another file. A channel shuts the socket down (both directions) when the
// connection ends, so late sends fail instead of reaching anybody.
// Threads: any; the fields below say who writes them.
class IPCConnection {
 public:
  IPCConnection(vnl::ScopedFd socket, int32_t connectedPort, std::string connectedHost,
                IPCConnectionKind connectionKind);
  IPCConnection(const IPCConnection&) = delete;
  IPCConnection& operator=(const IPCConnection&) = delete;

  int32_t socket() const { return m_socket.get(); }

  const int32_t port;            // the port connected to, or the listener's port when accepted
  const std::string host;        // "127.0.0.1" for Connect and Listen, empty when accepted
  const IPCConnectionKind kind;  // fixed when the connection is made
  // A number above 0 that names this connection to peers (the helper instance's replies name the
  // desktop connection they go to): unique in the process, never reused, and no memory address.
  const int64_t token;

  // Seconds since the epoch of the last send or receive; 0 = nothing since the last heartbeat tick.
  // Written by senders and the receive thread, swapped to 0 by the heartbeat thread.
  std::atomic<int64_t> activityStamp{0};
  // Set once the close record has been queued; never cleared. Close() leaves it alone (it queues no
  // close records).
  std::atomic<bool> closed{false};
  // Set once the receive thread has taken the socket into its poll set. Receive thread only.
  bool inReadSet = false;

  // Serialises writes to the socket, so that packets and heartbeats never interleave. Lives here
  // rather than in a process-wide registry so that it goes away with the connection.
  // guards: writes to m_socket (SendAllLocked requires it)
  hlx::Mutex sendMutex;

 private:
  vnl::ScopedFd m_socket;
};

// A packet in memory, received or to be sent. Owned through std::unique_ptr by whoever holds it:
// the channel until the packet callback is called, then the callback's receiver.
// A packet whose id, status, command and body are all zero or empty, with a connection, is a close
// record: that connection ended.
// Threads: one owner at a time; Send and SendHead from any thread.
struct IPCPacket1 {
  uint64_t id = 0;
  uint16_t status = 0;
  uint32_t command = 0;
  // The body bytes; body.c_str() has a NUL after the last byte, so a text body is a C string.
  // Empty when the length is 0.
  std::string body;
  std::shared_ptr<IPCConnection> connection;

  uint64_t bodyLength() const { return body.size(); }
  bool IsCloseRecord() const { return connection && id == 0 && status == 0 && command == 0 && body.empty(); }

  // Writes the header and the body on the packet's connection in one locked send. False when there
  // is no connection or the connection failed.
  [[nodiscard]] bool Send() const;
  // Writes a header that announces body.size() + dataLength bytes, then the body, in one locked
  // send; the caller sends the dataLength bytes of the data part next with SendOnConnection, holding
  // its own lock across both so that no other packet of its comes between. A heartbeat stays out of
  // the gap as long as the data part is sent within one heartbeat tick of the head.
  [[nodiscard]] bool SendHead(uint64_t dataLength) const;
  // Header, body and a data part of dataLength bytes in one locked write: one packet whose body is
  // body + data, without copying the data into the body first.
  [[nodiscard]] bool SendWithData(const void* data, size_t dataLength) const;
};

// Writes all `length` bytes to the connection under its send mutex, looping over partial writes,
// and stamps its activity. A peer that went away yields false, never a signal.
[[nodiscard]] bool SendOnConnection(const std::shared_ptr<IPCConnection>& connection, const void* bytes, size_t length);

// A loopback TCP port that was free a moment ago, or -1. Prefer vnl::IPCChannel::Listen(0), which
// cannot lose the port to another program between the two calls.
[[nodiscard]] int32_t FindFreePort();

enum class IPCChannelEventKind : int32_t {
  kAcceptWaiting = 0,       // the accept thread is about to wait; connection: the listener
  kConnectionAccepted = 1,  // connection: the new one
  kHeartbeatDue = 2,        // a non-zero callback result suppresses this heartbeat
  kHeartbeatTick = 3,       // tickCount 1, 2, ... (after 1073741824 it starts again at 1)
  kLog = 4,                 // text holds the message
};

// Handed to a channel's event callback; valid only during the call.
struct IPCChannelEvent {
  IPCChannelEventKind kind = IPCChannelEventKind::kLog;
  std::shared_ptr<IPCConnection> connection;  // null for log texts without a connection
  int32_t tickCount = 0;                      // kHeartbeatTick only
  const char* text = nullptr;                 // kLog only, NUL-terminated
};

namespace vnl {

// Connections, sockets and the channel threads; the data of each read goes to OnData.
// Threads: the owner calls the public functions from any thread; OnData runs on the receive thread;
// the event callback runs on the receive, accept and heartbeat threads and on the caller of Connect.
// The destructor must not run on one of the channel's own threads.
class IPCChannel {
 public:
  using EventCallback = std::function<int(const IPCChannelEvent& event)>;

  static constexpr int64_t kDefaultHeartbeatIntervalMs = 30000;
  // Connections beyond this many are accepted but not read until another one ends. The read set
  // has always held 64 sockets; the service has one or two peers, so the cap only bounds the cost
  // of a misbehaving one.
  static constexpr size_t kMaxReadConnections = 64;
  // Large enough that a peer uploading a file costs a few reads per MiB, not one per page.
  static constexpr size_t kReceiveChunkBytes = 256 * 1024;

  IPCChannel();
  // Closes the channel and joins its threads. The service keeps its channels for the process
  // lifetime; tests and tools destroy theirs.
  virtual ~IPCChannel();
  IPCChannel(const IPCChannel&) = delete;
  IPCChannel& operator=(const IPCChannel&) = delete;

  // Stops the channel: shuts down every connection and the listener and wakes every thread. No
  // close records are queued. Connect and Listen fail afterwards. Callable from any thread,
  // including the channel's own callbacks; joining is left to the destructor.
  virtual void Close();

  // Set before Connect or Listen; may be replaced later.
  void SetEventCallback(EventCallback callback);
  // Tests shorten the tick; it applies from the next wait on.
  void SetHeartbeatIntervalMs(int64_t intervalMs);

  // Connects to 127.0.0.1:port and starts the connection's heartbeat thread. Null on failure, after
  // the log event "connect error: %d" (errno).
  [[nodiscard]] std::shared_ptr<IPCConnection> Connect(int32_t port);
  // Listens on 127.0.0.1:port (0 = a port the system picks; the record's port is the real one) with
  // a backlog of 4 and starts the accept thread. A second Listen replaces the first listener, which
  // is shut down. Null on failure.
  [[nodiscard]] std::shared_ptr<IPCConnection> Listen(int32_t port);

  // Snapshot of the connection set, ordered by address.
  std::vector<std::shared_ptr<IPCConnection>> Connections() const;
  bool HasConnections() const;
  std::shared_ptr<IPCConnection> ListeningConnection() const;
  bool IsStopped() const { return m_stop.load(); }

 protected:
  // The bytes of one read (1 to kReceiveChunkBytes), or no bytes (null, 0) once when the
  // connection ended. Receive thread only.
  virtual void OnData(const std::shared_ptr<IPCConnection>& connection, const uint8_t* bytes, size_t length) = 0;

  // Ends a connection: takes it out of the set, shuts its socket down and, unless already done,
  // marks it closed and calls OnData(connection, null, 0). Receive thread only.
  void Disconnect(const std::shared_ptr<IPCConnection>& connection);
  // Formats a kind-4 event text into a 260-byte buffer; the texts themselves are fixed wording.
  void EmitLogEvent(const std::shared_ptr<IPCConnection>& connection, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  // Close() and join the receive, accept and heartbeat threads. Idempotent. A derived class calls it
  // first in its destructor, so that OnData never runs on a half-destroyed object.
  void StopAndJoin();

 private:
  struct HeartbeatThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  int EmitEvent(const IPCChannelEvent& event) HLX_EXCLUDES(m_callbackMutex, m_mutex);
  bool IsInSet(const std::shared_ptr<IPCConnection>& connection) const HLX_REQUIRES(m_mutex);
  bool HeartbeatEnded(const std::shared_ptr<IPCConnection>& connection) const HLX_REQUIRES(m_mutex);
  void WakeThreads();
  void WaitForStop(std::chrono::milliseconds duration) HLX_EXCLUDES(m_mutex);

  void ReceiveLoop();
  void ReadConnection(const std::shared_ptr<IPCConnection>& connection, uint8_t* buffer);
  void AcceptLoop();
  void AcceptOne(const std::shared_ptr<IPCConnection>& listener);
  void HeartbeatLoop(std::shared_ptr<IPCConnection> connection);
  void SendHeartbeat(const std::shared_ptr<IPCConnection>& connection);

  hlx::Mutex m_callbackMutex;
  // guards: m_eventCallback
  EventCallback m_eventCallback HLX_GUARDED_BY(m_callbackMutex);

  mutable hlx::Mutex m_mutex;
  // Signalled when a connection is added, when one leaves and on Close.
  hlx::CondVar m_changed;
  // guards: m_connections, m_listening, m_acceptThread, m_heartbeatThreads
  std::set<std::shared_ptr<IPCConnection>> m_connections HLX_GUARDED_BY(m_mutex);
  std::shared_ptr<IPCConnection> m_listening HLX_GUARDED_BY(m_mutex);
  std::thread m_acceptThread HLX_GUARDED_BY(m_mutex);
  std::vector<HeartbeatThread> m_heartbeatThreads HLX_GUARDED_BY(m_mutex);

  std::atomic<bool> m_stop{false};
  std::atomic<int64_t> m_heartbeatIntervalMs{kDefaultHeartbeatIntervalMs};
  // Written to wake the receive and accept threads out of poll (a new connection, a new listener,
  // Close). Invalid when eventfd failed; poll then falls back on its timeout.
  ScopedFd m_receiveWake;
  ScopedFd m_acceptWake;
  std::thread m_receiveThread;
};

// A channel that reassembles packets from each connection's bytes and hands them, in arrival order,
// to the packet callback on its dispatch thread, or on the receive thread itself.
// Threads: OnData on the receive thread; the packet callback on the dispatch thread (or the receive
// thread); the rest as for IPCChannel.
class IPCPacketChannel : public IPCChannel {
 public:
  // Receives each packet and owns it from then on; the result is ignored (the client returns -2 for
  // a refused packet, which it frees by letting it go).
  using PacketCallback = std::function<int(std::unique_ptr<IPCPacket1> packet)>;

  enum class Dispatch {
    kOwnThread,      // the callback may take its time: the receive thread reads on meanwhile
    kReceiveThread,  // the callback only hands packets on: one thread wake-up less per packet, but
                     // nothing is read from any connection while it runs
  };

  explicit IPCPacketChannel(Dispatch dispatch = Dispatch::kOwnThread);
  ~IPCPacketChannel() override;

  // Set before Connect or Listen; may be replaced later. Packets dispatched while none is set are
  // dropped.
  void SetPacketCallback(PacketCallback callback);
  // Also stops the dispatch thread; packets still queued are dropped.
  void Close() override;

 protected:
  void OnData(const std::shared_ptr<IPCConnection>& connection, const uint8_t* bytes, size_t length) override;

 private:
  void QueuePackets(std::vector<std::unique_ptr<IPCPacket1>> packets) HLX_EXCLUDES(m_queueMutex);
  void DispatchLoop() HLX_EXCLUDES(m_queueMutex);
  void Deliver(std::unique_ptr<IPCPacket1> packet) HLX_EXCLUDES(m_queueMutex, m_packetCallbackMutex);

  hlx::Mutex m_queueMutex;
  hlx::CondVar m_queueCondition;
  // guards: m_queue
  std::deque<std::unique_ptr<IPCPacket1>> m_queue HLX_GUARDED_BY(m_queueMutex);

  hlx::Mutex m_packetCallbackMutex;
  // guards: m_packetCallback
  PacketCallback m_packetCallback HLX_GUARDED_BY(m_packetCallbackMutex);

  // One reader per connection, made on its first bytes and dropped with its close. Receive thread
  // only; keyed by the shared reference so that a freed connection's address can never be mistaken
  // for a new one's.
  std::map<std::shared_ptr<IPCConnection>, hlx::PacketReader> m_readers;
  std::vector<hlx::DecodedPacket> m_decoded;  // scratch of OnData, receive thread only

  std::thread m_dispatchThread;  // not started for Dispatch::kReceiveThread
};

}  // namespace vnl
