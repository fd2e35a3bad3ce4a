// The device end of a service connection (see md_service.h). Every wait polls the socket together
// with the connection's stop eventfd, so a stopped connection ends any handler promptly.
// Threads: used only by its connection's device thread.
#include "md/md_service.h"

#include <poll.h>
#include <sys/sendfile.h>
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
  const auto* data = static_cast<const unsigned char*>(bytes);
  return SendCounted(length, [&](size_t done, size_t wanted) {
    return ::send(m_fd, data + done, wanted, MSG_DONTWAIT | MSG_NOSIGNAL);
  });
}

bool MDDeviceStream::SendFile(int fileFd, int64_t offset, size_t length) {
  return SendCounted(length, [&](size_t done, size_t wanted) -> ssize_t {
    off_t at = static_cast<off_t>(offset + static_cast<int64_t>(done));
    const ssize_t n = ::sendfile(m_fd, fileFd, &at, wanted);
    if (n == 0) errno = EIO;  // the file is shorter than it said
    return n == 0 ? -1 : n;
  });
}

bool MDDeviceStream::SendCounted(size_t length, const std::function<ssize_t(size_t, size_t)>& step) {
  if (m_hungUp) return false;
  size_t allowed = length;
  bool dropAfter = false;
  if (m_sendBudget >= 0 && static_cast<uint64_t>(m_sendBudget) < length) {
    allowed = static_cast<size_t>(m_sendBudget);
    dropAfter = true;
  }
  size_t done = 0;
  while (done < allowed) {
    const ssize_t n = step(done, allowed - done);
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

void MDDeviceStream::WidenSendBuffer(int bytes) {
  (void)::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void MDDeviceStream::HangUp() {
  if (m_hungUp) return;
  m_hungUp = true;
  ::shutdown(m_fd, SHUT_RDWR);
}
