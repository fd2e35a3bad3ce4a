// The device end of a service connection (see md_service.h). Every wait polls the socket together
// with the connection's stop eventfd, so a stopped connection ends any handler promptly.
// Threads: used only by its connection's device thread.
#include "md/md_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

MDDeviceStream::MDDeviceStream(int fd, int stopFd, int64_t dropAfterBytes)
    : m_fd(fd), m_stopFd(stopFd), m_sendBudget(dropAfterBytes) {}

bool MDDeviceStream::WaitFor(short events) {
  for (;;) {
    struct pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;  // ready, or an error/hang-up that the next call reports
  }
}

ssize_t MDDeviceStream::ReadSome(void* buffer, size_t length) {
  if (m_hungUp) return -1;
  if (length == 0) return 0;
  for (;;) {
    ssize_t n = ::recv(m_fd, buffer, length, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!WaitFor(POLLIN)) return -1;
  }
}

bool MDDeviceStream::ReadExact(void* buffer, size_t length) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ReadSome(bytes + done, length - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool MDDeviceStream::WriteAll(const void* bytes, size_t length) {
  if (m_hungUp) return false;
  const auto* data = static_cast<const unsigned char*>(bytes);
  size_t allowed = length;
  bool dropAfter = false;
  if (m_sendBudget >= 0 && static_cast<uint64_t>(m_sendBudget) < length) {
    allowed = static_cast<size_t>(m_sendBudget);
    dropAfter = true;
  }
  size_t done = 0;
  while (done < allowed) {
    ssize_t n = ::send(m_fd, data + done, allowed - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(POLLOUT)) return false;
      continue;
    }
    return false;
  }
  if (m_sendBudget >= 0) m_sendBudget -= static_cast<int64_t>(done);
  if (dropAfter) {
    HangUp();
    return false;
  }
  return true;
}

void MDDeviceStream::HangUp() {
  if (m_hungUp) return;
  m_hungUp = true;
  ::shutdown(m_fd, SHUT_RDWR);
}
