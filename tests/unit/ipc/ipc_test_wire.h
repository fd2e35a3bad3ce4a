// Test helpers for the loopback wire: packets written out byte by byte here, independently of the
// codec under test, and blocking helpers on raw sockets with deadlines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace hlx::test {

inline constexpr std::chrono::seconds kTestDeadline{20};

inline void AppendLittleEndian(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A packet as a peer writes it; `announced` overrides the length field.
inline std::string WirePacket(uint64_t id, uint32_t command, uint16_t status, const std::string& body,
                              uint64_t announced = UINT64_MAX) {
  std::string out = "kCommand";
  out += std::string("\x01\x02\x03\x04\x05\x06", 6);
  AppendLittleEndian(&out, id, 8);
  AppendLittleEndian(&out, command, 4);
  AppendLittleEndian(&out, status, 2);
  AppendLittleEndian(&out, announced == UINT64_MAX ? body.size() : announced, 8);
  return out + body;
}

inline const std::string kWireHeartbeat(8, '\x16');

// Waits on `condition` until `predicate` holds or the deadline passes; returns the predicate.
template <typename Predicate>
bool WaitFor(std::mutex& mutex, std::condition_variable& condition, Predicate predicate) {
  std::unique_lock<std::mutex> lock(mutex);
  return condition.wait_for(lock, kTestDeadline, predicate);
}

// A plain socket, closed on destruction.
struct RawSocket {
  int fd = -1;
  RawSocket() = default;
  explicit RawSocket(int descriptor) : fd(descriptor) {}
  RawSocket(RawSocket&& other) noexcept : fd(other.fd) { other.fd = -1; }
  RawSocket& operator=(RawSocket&&) = delete;
  ~RawSocket() {
    if (fd >= 0) ::close(fd);
  }
};

inline sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline RawSocket RawConnect(int port) {
  RawSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = Loopback(port);
  if (::connect(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return RawSocket();
  return socket;
}

// A listening socket on a system-chosen loopback port.
inline RawSocket RawListen(int* port) {
  RawSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  if (::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(socket.fd, 8) != 0 ||
      ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return RawSocket();
  }
  *port = ntohs(address.sin_port);
  return socket;
}

inline bool RawWriteAll(const RawSocket& socket, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(socket.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads exactly `count` bytes, or fewer when the peer closes or the deadline passes.
inline std::string RawReadExactly(const RawSocket& socket, size_t count) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  char buffer[4096];
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd fd{socket.fd, POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) continue;
    const ssize_t n = ::recv(socket.fd, buffer, std::min(sizeof(buffer), count - out.size()), 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

// True when the peer closed its end (a read returns 0 or fails) before the deadline.
inline bool RawSeesClose(const RawSocket& socket) {
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  char buffer[256];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd{socket.fd, POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) continue;
    if (::recv(socket.fd, buffer, sizeof(buffer), 0) <= 0) return true;
  }
  return false;
}

}  // namespace hlx::test
