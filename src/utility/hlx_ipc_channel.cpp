// Sockets and threads of the loopback IPC channel. Framing is hlx_packet's; this file moves bytes.
//
// Choices made so that the channel can never crash, lose or corrupt data on this platform:
// - poll() instead of select(): FD_SET on a descriptor above 1023 writes outside the fd_set on
//   Linux. The 64-connection read cap is kept.
// - A send loops until every byte is written, with MSG_NOSIGNAL: one send() may write part of a
//   large packet, and a peer that went away must not kill the service with SIGPIPE.
// - The heartbeat is written under the connection's send lock, and only if nothing was sent since
//   the tick, so its eight bytes can never land inside a packet.
// - The send lock lives in the connection instead of a process-wide registry that never shrank.
// - Every handle is owned: a socket closes with the last reference to its connection. Close() shuts
//   sockets down at once and wakes every thread through an eventfd, and the destructor joins them.
// - A read error of EINTR or EAGAIN is retried rather than taken for the end of the connection.
//
// Threads: see the header. Callbacks run with no lock of this file held.
#include "utility/hlx_ipc_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "os/hlx_os.h"
#include "utility/hlx_log.h"

namespace vnl {

ScopedFd::~ScopedFd() {
  if (m_fd >= 0) ::close(m_fd);
}

ScopedFd& ScopedFd::operator=(ScopedFd&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.release();
  }
  return *this;
}

}  // namespace vnl

namespace {

constexpr int32_t kMaxHeartbeatTick = 1073741824;
constexpr int kListenBacklog = 4;
constexpr int kPollTimeoutMs = 1000;
// After a failing poll or accept that is not transient (EMFILE, ENOMEM), wait this long before the
// next pass instead of spinning.
constexpr std::chrono::milliseconds kFaultBackoff{100};
constexpr size_t kLogEventTextBytes = 260;
constexpr const char* kLoopbackHost = "127.0.0.1";

sockaddr_in LoopbackAddress(int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The activity stamp uses 0 for "idle", so a clock that reads 0 still counts as activity.
void StampActivity(IPCConnection& connection) {
  const int64_t now = hlx::os::Os().currentTime();
  connection.activityStamp.store(now != 0 ? now : 1);
}

// Writes every byte of the vectors, resuming after partial writes and interruptions. The caller
// holds the connection's send mutex.
bool SendAllLocked(IPCConnection& connection, iovec* vectors, size_t count) HLX_REQUIRES(connection.sendMutex) {
  const int fd = connection.socket();
  while (count > 0 && vectors[0].iov_len == 0) {
    ++vectors;
    --count;
  }
  while (count > 0) {
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t remaining = static_cast<size_t>(sent);
    while (count > 0 && remaining >= vectors[0].iov_len) {
      remaining -= vectors[0].iov_len;
      ++vectors;
      --count;
    }
    if (count > 0) {
      vectors[0].iov_base = static_cast<char*>(vectors[0].iov_base) + remaining;
      vectors[0].iov_len -= remaining;
    }
  }
  return true;
}

bool SendVectors(const std::shared_ptr<IPCConnection>& connection, iovec* vectors, size_t count) {
  if (!connection) return false;
  StampActivity(*connection);
  hlx::MutexLock lock(connection->sendMutex);
  const bool sent = SendAllLocked(*connection, vectors, count);
  // Stamped again before the lock is released: a heartbeat that waited for the lock then sees
  // traffic and stays out of a reply whose data part follows this head.
  StampActivity(*connection);
  return sent;
}

bool SendPacket(const IPCPacket1& packet, uint64_t announcedBodyLength, const void* data = nullptr,
                size_t dataLength = 0) {
  hlx::IPCPacketHeader header;
  header.id = packet.id;
  header.command = packet.command;
  header.status = packet.status;
  header.bodyLength = announcedBodyLength;
  std::array<uint8_t, hlx::kPacketHeaderSize> headerBytes = hlx::EncodePacketHeader(header);
  iovec vectors[3];
  vectors[0].iov_base = headerBytes.data();
  vectors[0].iov_len = headerBytes.size();
  vectors[1].iov_base = const_cast<char*>(packet.body.data());
  vectors[1].iov_len = packet.body.size();
  vectors[2].iov_base = const_cast<void*>(data);
  vectors[2].iov_len = dataLength;
  return SendVectors(packet.connection, vectors, data && dataLength ? 3 : 2);
}

void Wake(const vnl::ScopedFd& eventFd) {
  if (!eventFd.valid()) return;
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing to do on failure.
  (void)!::write(eventFd.get(), &one, sizeof(one));
}

void DrainWake(const vnl::ScopedFd& eventFd) {
  uint64_t value = 0;
  (void)!::read(eventFd.get(), &value, sizeof(value));
}

int64_t NextConnectionToken() {
  static std::atomic<int64_t> s_last{0};
  return ++s_last;
}

}  // namespace

IPCConnection::IPCConnection(vnl::ScopedFd socket, int32_t connectedPort, std::string connectedHost,
                             IPCConnectionKind connectionKind)
    : port(connectedPort),
      host(std::move(connectedHost)),
      kind(connectionKind),
      token(NextConnectionToken()),
      m_socket(std::move(socket)) {}

bool IPCPacket1::Send() const { return SendPacket(*this, body.size()); }

bool IPCPacket1::SendHead(uint64_t dataLength) const {
  if (dataLength > UINT64_MAX - body.size()) return false;
  return SendPacket(*this, body.size() + dataLength);
}

bool IPCPacket1::SendWithData(const void* data, size_t dataLength) const {
  if (data == nullptr && dataLength != 0) return false;
  if (dataLength > UINT64_MAX - body.size()) return false;
  return SendPacket(*this, body.size() + dataLength, data, dataLength);
}

bool SendOnConnection(const std::shared_ptr<IPCConnection>& connection, const void* bytes, size_t length) {
  if (bytes == nullptr && length != 0) return false;
  iovec vector;
  vector.iov_base = const_cast<void*>(bytes);
  vector.iov_len = length;
  return SendVectors(connection, &vector, 1);
}

int32_t FindFreePort() {
  // Bound to loopback rather than any address: the port is only ever used on 127.0.0.1.
  vnl::ScopedFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!probe.valid()) {
    std::printf("socket() error: %s\n", std::strerror(errno));
    return -1;
  }
  sockaddr_in address = LoopbackAddress(0);
  if (::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::printf("bind() error: %s\n", std::strerror(errno));
    return -1;
  }
  socklen_t length = sizeof(address);
  if (::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::printf("getsockname() error: %s\n", std::strerror(errno));
    return -1;
  }
  return ntohs(address.sin_port);
}

namespace vnl {

IPCChannel::IPCChannel()
    : m_receiveWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_acceptWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!m_receiveWake.valid() || !m_acceptWake.valid()) {
    HLX_LOG(WARNING) << "IPC channel: eventfd failed (errno " << errno
                     << "); threads notice Close within a poll timeout";
  }
  m_receiveThread = std::thread([this] { ReceiveLoop(); });
}

IPCChannel::~IPCChannel() { StopAndJoin(); }

void IPCChannel::SetEventCallback(EventCallback callback) {
  hlx::MutexLock lock(m_callbackMutex);
  m_eventCallback = std::move(callback);
}

void IPCChannel::SetHeartbeatIntervalMs(int64_t intervalMs) {
  m_heartbeatIntervalMs.store(intervalMs > 0 ? intervalMs : 1);
}

int IPCChannel::EmitEvent(const IPCChannelEvent& event) {
  EventCallback callback;
  {
    hlx::MutexLock lock(m_callbackMutex);
    callback = m_eventCallback;
  }
  if (!callback) return 0;
  try {
    return callback(event);
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "IPC event callback threw for event kind " << static_cast<int>(event.kind) << ": "
                   << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "IPC event callback threw for event kind " << static_cast<int>(event.kind);
  }
  return 0;
}

void IPCChannel::EmitLogEvent(const std::shared_ptr<IPCConnection>& connection, const char* format, ...) {
  char text[kLogEventTextBytes];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  IPCChannelEvent event;
  event.kind = IPCChannelEventKind::kLog;
  event.connection = connection;
  event.text = text;
  EmitEvent(event);
}

void IPCChannel::WakeThreads() {
  Wake(m_receiveWake);
  Wake(m_acceptWake);
}

void IPCChannel::WaitForStop(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  hlx::MutexLock lock(m_mutex);
  while (!m_stop.load() && m_changed.WaitUntil(m_mutex, deadline)) {
  }
}

bool IPCChannel::IsInSet(const std::shared_ptr<IPCConnection>& connection) const {
  return m_connections.count(connection) != 0;
}

bool IPCChannel::HeartbeatEnded(const std::shared_ptr<IPCConnection>& connection) const {
  return m_stop.load() || !IsInSet(connection) || connection->closed.load();
}

std::vector<std::shared_ptr<IPCConnection>> IPCChannel::Connections() const {
  hlx::MutexLock lock(m_mutex);
  return {m_connections.begin(), m_connections.end()};
}

bool IPCChannel::HasConnections() const {
  hlx::MutexLock lock(m_mutex);
  return !m_connections.empty();
}

std::shared_ptr<IPCConnection> IPCChannel::ListeningConnection() const {
  hlx::MutexLock lock(m_mutex);
  return m_listening;
}

void IPCChannel::Close() {
  m_stop.store(true);
  std::set<std::shared_ptr<IPCConnection>> connections;
  std::shared_ptr<IPCConnection> listening;
  {
    hlx::MutexLock lock(m_mutex);
    connections.swap(m_connections);
    listening = std::move(m_listening);
  }
  m_changed.NotifyAll();
  WakeThreads();
  // Shut down rather than closed here: threads and packets may still hold the connections, and the
  // descriptors close with their last reference.
  for (const auto& connection : connections) ::shutdown(connection->socket(), SHUT_RDWR);
  if (listening) ::shutdown(listening->socket(), SHUT_RDWR);
}

void IPCChannel::StopAndJoin() {
  Close();
  std::thread acceptThread;
  std::vector<HeartbeatThread> heartbeats;
  {
    hlx::MutexLock lock(m_mutex);
    acceptThread = std::move(m_acceptThread);
    heartbeats.swap(m_heartbeatThreads);
  }
  const std::thread::id self = std::this_thread::get_id();
  CHECK(m_receiveThread.get_id() != self && acceptThread.get_id() != self)
      << "an IPC channel must not be destroyed on one of its own threads";
  if (m_receiveThread.joinable()) m_receiveThread.join();
  if (acceptThread.joinable()) acceptThread.join();
  for (auto& heartbeat : heartbeats) {
    CHECK(heartbeat.thread.get_id() != self) << "an IPC channel must not be destroyed on one of its own threads";
    if (heartbeat.thread.joinable()) heartbeat.thread.join();
  }
}

std::shared_ptr<IPCConnection> IPCChannel::Connect(int32_t port) {
  if (port <= 0 || port > 65535) {
    EmitLogEvent(nullptr, "connect error: %d", EINVAL);
    return nullptr;
  }
  ScopedFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.valid()) {
    EmitLogEvent(nullptr, "connect error: %d", errno);
    return nullptr;
  }
  sockaddr_in address = LoopbackAddress(port);
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    EmitLogEvent(nullptr, "connect error: %d", errno);
    return nullptr;
  }
  auto connection =
      std::make_shared<IPCConnection>(std::move(socket), port, kLoopbackHost, IPCConnectionKind::kOutgoing);
  {
    hlx::MutexLock lock(m_mutex);
    if (m_stop.load()) return nullptr;
    m_connections.insert(connection);
    // Finished heartbeat threads of earlier connections are reaped here, so reconnecting for the
    // life of the process does not pile up thread stacks.
    for (auto it = m_heartbeatThreads.begin(); it != m_heartbeatThreads.end();) {
      if (it->finished->load()) {
        it->thread.join();
        it = m_heartbeatThreads.erase(it);
      } else {
        ++it;
      }
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, connection, finished] {
      HeartbeatLoop(connection);
      finished->store(true);
    });
    m_heartbeatThreads.push_back(HeartbeatThread{std::move(thread), std::move(finished)});
  }
  m_changed.NotifyAll();
  Wake(m_receiveWake);
  return connection;
}

std::shared_ptr<IPCConnection> IPCChannel::Listen(int32_t port) {
  if (port < 0 || port > 65535) return nullptr;
  // Non-blocking, so that a connection reset between poll and accept cannot hang the accept thread.
  ScopedFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!socket.valid()) return nullptr;
  sockaddr_in address = LoopbackAddress(port);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return nullptr;
  if (::listen(socket.get(), kListenBacklog) != 0) return nullptr;
  socklen_t length = sizeof(address);
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return nullptr;
  const int32_t boundPort = ntohs(address.sin_port);

  auto listening =
      std::make_shared<IPCConnection>(std::move(socket), boundPort, kLoopbackHost, IPCConnectionKind::kAccepted);
  std::shared_ptr<IPCConnection> replaced;
  {
    hlx::MutexLock lock(m_mutex);
    if (m_stop.load()) return nullptr;
    replaced = std::move(m_listening);
    m_listening = listening;
    if (!m_acceptThread.joinable()) m_acceptThread = std::thread([this] { AcceptLoop(); });
  }
  if (replaced) ::shutdown(replaced->socket(), SHUT_RDWR);
  Wake(m_acceptWake);
  return listening;
}

void IPCChannel::AcceptLoop() {
  try {
    while (!m_stop.load()) {
      std::shared_ptr<IPCConnection> listener = ListeningConnection();
      if (!listener) break;  // only after Close
      IPCChannelEvent waiting;
      waiting.kind = IPCChannelEventKind::kAcceptWaiting;
      waiting.connection = listener;
      EmitEvent(waiting);

      pollfd fds[2] = {{listener->socket(), POLLIN, 0}, {m_acceptWake.get(), POLLIN, 0}};
      const int ready = ::poll(fds, 2, kPollTimeoutMs);
      if (m_stop.load()) break;
      if (ready < 0) {
        if (errno != EINTR) WaitForStop(kFaultBackoff);
        continue;
      }
      if (fds[1].revents != 0) DrainWake(m_acceptWake);
      if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;
      if (ListeningConnection() != listener) continue;  // replaced by a later Listen
      AcceptOne(listener);
    }
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "IPC accept thread stopped: " << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "IPC accept thread stopped by an unknown exception";
  }
}

void IPCChannel::AcceptOne(const std::shared_ptr<IPCConnection>& listener) {
  // Accepted sockets do not inherit O_NONBLOCK on Linux: they are blocking, as the peer expects.
  ScopedFd socket(::accept4(listener->socket(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!socket.valid()) {
    const int error = errno;
    if (error != EINTR && error != EAGAIN && error != EWOULDBLOCK && error != ECONNABORTED) {
      HLX_LOG(WARNING) << "IPC accept failed, errno " << error;
      WaitForStop(kFaultBackoff);
    }
    return;
  }
  int keepAlive = 0;
  socklen_t optionLength = sizeof(keepAlive);
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &optionLength) == 0) {
    EmitLogEvent(nullptr, "SO_KEEPALIVE Value: %ld", static_cast<long>(keepAlive));
  }
  keepAlive = 1;
  if (::setsockopt(socket.get(), SOL_SOCKET, SO_KEEPALIVE, &keepAlive, sizeof(keepAlive)) == 0) {
    EmitLogEvent(nullptr, "Set SO_KEEPALIVE: ON");
  }
  // The text says ON but the mode set is blocking; the text is what the peer side logs.
  int nonBlocking = 0;
  if (::ioctl(socket.get(), FIONBIO, &nonBlocking) == 0) EmitLogEvent(nullptr, "Set ioctlsocket : FIONBIO ON");

  auto connection =
      std::make_shared<IPCConnection>(std::move(socket), listener->port, std::string(), IPCConnectionKind::kAccepted);
  {
    hlx::MutexLock lock(m_mutex);
    if (m_stop.load()) return;
    m_connections.insert(connection);
  }
  m_changed.NotifyAll();
  Wake(m_receiveWake);
  IPCChannelEvent accepted;
  accepted.kind = IPCChannelEventKind::kConnectionAccepted;
  accepted.connection = connection;
  EmitEvent(accepted);
}

void IPCChannel::ReceiveLoop() {
  try {
    std::vector<std::shared_ptr<IPCConnection>> polled;
    std::vector<pollfd> fds;
    std::vector<uint8_t> buffer(kReceiveChunkBytes);
    while (!m_stop.load()) {
      polled.clear();
      {
        hlx::MutexLock lock(m_mutex);
        while (!m_stop.load() && m_connections.empty()) m_changed.Wait(m_mutex);
        if (m_stop.load()) break;
        size_t reading = 0;
        for (const auto& connection : m_connections) reading += connection->inReadSet ? 1 : 0;
        for (const auto& connection : m_connections) {
          if (!connection->inReadSet && reading < kMaxReadConnections) {
            connection->inReadSet = true;
            ++reading;
          }
          if (connection->inReadSet) polled.push_back(connection);
        }
      }
      fds.clear();
      fds.push_back({m_receiveWake.get(), POLLIN, 0});
      for (const auto& connection : polled) fds.push_back({connection->socket(), POLLIN, 0});

      const int ready = ::poll(fds.data(), fds.size(), kPollTimeoutMs);
      if (m_stop.load()) break;
      if (ready < 0) {
        const int error = errno;
        if (error == EINTR) continue;
        EmitLogEvent(nullptr, "SelectRecv select() failed: %d", error);
        WaitForStop(kFaultBackoff);
        continue;
      }
      if (ready == 0) continue;
      if (fds[0].revents != 0) DrainWake(m_receiveWake);
      for (size_t i = 0; i < polled.size(); ++i) {
        if ((fds[i + 1].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) == 0) continue;
        if (m_stop.load()) break;
        ReadConnection(polled[i], buffer.data());
      }
    }
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "IPC receive thread stopped: " << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "IPC receive thread stopped by an unknown exception";
  }
}

void IPCChannel::ReadConnection(const std::shared_ptr<IPCConnection>& connection, uint8_t* buffer) {
  const ssize_t received = ::recv(connection->socket(), buffer, kReceiveChunkBytes, MSG_DONTWAIT);
  if (received > 0) {
    StampActivity(*connection);
    OnData(connection, buffer, static_cast<size_t>(received));
    return;
  }
  const int error = received < 0 ? errno : 0;
  if (received < 0 && (error == EINTR || error == EAGAIN || error == EWOULDBLOCK)) return;
  EmitLogEvent(connection, "SelectRecv recv: readed: %ld,code: %d", static_cast<long>(received), error);
  Disconnect(connection);
}

void IPCChannel::Disconnect(const std::shared_ptr<IPCConnection>& connection) {
  {
    hlx::MutexLock lock(m_mutex);
    m_connections.erase(connection);
  }
  // Wakes the connection's heartbeat thread, which ends once its connection left the set.
  m_changed.NotifyAll();
  ::shutdown(connection->socket(), SHUT_RDWR);
  if (!connection->closed.exchange(true)) OnData(connection, nullptr, 0);
}

void IPCChannel::HeartbeatLoop(std::shared_ptr<IPCConnection> connection) {
  try {
    int32_t tick = 0;
    for (;;) {
      {
        const std::chrono::milliseconds interval(m_heartbeatIntervalMs.load());
        const auto deadline = std::chrono::steady_clock::now() + interval;
        hlx::MutexLock lock(m_mutex);
        while (!HeartbeatEnded(connection) && m_changed.WaitUntil(m_mutex, deadline)) {
        }
        if (HeartbeatEnded(connection)) return;
      }
      tick = tick >= kMaxHeartbeatTick ? 1 : tick + 1;
      IPCChannelEvent tickEvent;
      tickEvent.kind = IPCChannelEventKind::kHeartbeatTick;
      tickEvent.connection = connection;
      tickEvent.tickCount = tick;
      EmitEvent(tickEvent);

      // Nothing sent or received since the previous tick: the peer is told the line is alive.
      if (connection->activityStamp.exchange(0) != 0) continue;
      IPCChannelEvent due;
      due.kind = IPCChannelEventKind::kHeartbeatDue;
      due.connection = connection;
      if (EmitEvent(due) != 0) continue;
      SendHeartbeat(connection);
    }
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "IPC heartbeat thread stopped: " << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "IPC heartbeat thread stopped by an unknown exception";
  }
}

void IPCChannel::SendHeartbeat(const std::shared_ptr<IPCConnection>& connection) {
  hlx::MutexLock lock(connection->sendMutex);
  // A send that began after the tick stamped the connection; it may be the head of a reply whose
  // data part is still to come, so the heartbeat must not go between them.
  if (connection->activityStamp.load() != 0) return;
  iovec vector;
  vector.iov_base = const_cast<uint8_t*>(hlx::kHeartbeatBytes.data());
  vector.iov_len = hlx::kHeartbeatBytes.size();
  // Deliberately not stamped: a heartbeat is not traffic, so an idle line gets one every tick.
  if (!SendAllLocked(*connection, &vector, 1)) {
    VLOG(1) << "IPC heartbeat not sent on socket " << connection->socket() << ", errno " << errno;
  }
}

IPCPacketChannel::IPCPacketChannel(Dispatch dispatch) {
  if (dispatch == Dispatch::kOwnThread) m_dispatchThread = std::thread([this] { DispatchLoop(); });
}

IPCPacketChannel::~IPCPacketChannel() {
  // The receive thread calls OnData, which uses this class's members: stop it first.
  StopAndJoin();
  CHECK(m_dispatchThread.get_id() != std::this_thread::get_id())
      << "an IPC channel must not be destroyed on its dispatch thread";
  if (m_dispatchThread.joinable()) m_dispatchThread.join();
}

void IPCPacketChannel::SetPacketCallback(PacketCallback callback) {
  hlx::MutexLock lock(m_packetCallbackMutex);
  m_packetCallback = std::move(callback);
}

void IPCPacketChannel::Close() {
  IPCChannel::Close();
  { hlx::MutexLock lock(m_queueMutex); }
  m_queueCondition.NotifyAll();
}

void IPCPacketChannel::OnData(const std::shared_ptr<IPCConnection>& connection, const uint8_t* bytes, size_t length) {
  std::vector<std::unique_ptr<IPCPacket1>> packets;
  if (bytes == nullptr || length == 0) {
    m_readers.erase(connection);
    auto closeRecord = std::make_unique<IPCPacket1>();
    closeRecord->connection = connection;
    packets.push_back(std::move(closeRecord));
    QueuePackets(std::move(packets));
    return;
  }

  hlx::PacketReader& reader = m_readers[connection];
  m_decoded.clear();
  const hlx::FeedResult result = reader.Feed(bytes, length, &m_decoded);
  packets.reserve(m_decoded.size());
  for (auto& decoded : m_decoded) {
    auto packet = std::make_unique<IPCPacket1>();
    packet->id = decoded.header.id;
    packet->status = decoded.header.status;
    packet->command = decoded.header.command;
    packet->body = std::move(decoded.body);
    packet->connection = connection;
    packets.push_back(std::move(packet));
  }
  m_decoded.clear();
  if (!packets.empty()) QueuePackets(std::move(packets));

  for (uint32_t i = 0; i < result.heartbeats; ++i) {
    EmitLogEvent(connection, "SelectRecv Heart Test Receive: %ld", static_cast<long>(hlx::kHeartbeatSize));
  }
  if (result.skippedBytes != 0) {
    HLX_LOG(WARNING) << "IPC: skipped " << result.skippedBytes
                     << " bytes that were neither a packet nor a heartbeat on socket " << connection->socket()
                     << "; resynchronised on the next header";
  }
  if (result.error != hlx::PacketError::kNone) {
    HLX_LOG(WARNING) << "IPC: closing socket " << connection->socket() << ": " << hlx::PacketErrorName(result.error)
                     << " (" << result.rejectedBodyLength << " bytes announced, limit " << hlx::kMaxPacketBodyBytes
                     << ")";
    m_readers.erase(connection);
    Disconnect(connection);  // queues the close record through OnData(connection, null, 0)
  }
}

void IPCPacketChannel::QueuePackets(std::vector<std::unique_ptr<IPCPacket1>> packets) {
  if (!m_dispatchThread.joinable()) {
    for (auto& packet : packets) {
      if (IsStopped()) return;
      Deliver(std::move(packet));
    }
    return;
  }
  {
    hlx::MutexLock lock(m_queueMutex);
    for (auto& packet : packets) m_queue.push_back(std::move(packet));
  }
  m_queueCondition.NotifyOne();
}

void IPCPacketChannel::DispatchLoop() {
  for (;;) {
    std::unique_ptr<IPCPacket1> packet;
    {
      hlx::MutexLock lock(m_queueMutex);
      while (!IsStopped() && m_queue.empty()) m_queueCondition.Wait(m_queueMutex);
      if (IsStopped()) return;
      packet = std::move(m_queue.front());
      m_queue.pop_front();
    }
    Deliver(std::move(packet));
  }
}

void IPCPacketChannel::Deliver(std::unique_ptr<IPCPacket1> packet) {
  PacketCallback callback;
  {
    hlx::MutexLock lock(m_packetCallbackMutex);
    callback = m_packetCallback;
  }
  if (!callback) return;
  try {
    callback(std::move(packet));
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "IPC packet callback threw: " << error.what();
  } catch (...) {
    HLX_LOG(ERROR) << "IPC packet callback threw an unknown exception";
  }
}

}  // namespace vnl
