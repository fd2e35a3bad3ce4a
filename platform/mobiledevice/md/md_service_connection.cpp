// Service connections and the exported AMDeviceSecureStartService / AMDServiceConnection* calls (see
// md_service_connection.h). Start refuses in the order a device does: gone, no session, passcode
// lock, no trust, then an unknown service; every attempt that reaches the device is counted in the
// image's counters.json so that black-box tests can count start attempts.
// Threads: any caller thread; one device thread per connection.
#include "md/md_service_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <utility>

#include "md/md_cf_util.h"
#include "md/md_codes.h"
#include "md/md_settings.h"

struct MDServiceConnection::DeviceEnd {
  MDUniqueFd fd;
  MDUniqueFd stopFd;
};

namespace {

void Signal(int eventFd) {
  uint64_t one = 1;
  ssize_t ignored = ::write(eventFd, &one, sizeof one);  // only fails when the counter is saturated
  (void)ignored;
}

// Any non-null value: the simulated library does no SSL; callers only test the pointer.
int g_secureContextMarker = 0;

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

MDServiceConnection::MDServiceConnection(uintptr_t handle, std::shared_ptr<MDDevice> device, std::string name,
                                         bool secure)
    : m_handle(handle), m_device(std::move(device)), m_name(std::move(name)), m_secure(secure) {}

int MDServiceConnection::Start(const std::shared_ptr<MDDevice>& device, const std::string& name,
                               const MDServiceHandler& handler, const MDDeviceState& state,
                               std::shared_ptr<MDServiceConnection>* connection) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return kAMDUndefinedError;
  MDUniqueFd hostFd(fds[0]);
  auto deviceEnd = std::make_shared<DeviceEnd>();
  deviceEnd->fd.Reset(fds[1]);
  // The device end never blocks: its stream waits in poll, where a stop reaches it, even while it
  // hands a file over with sendfile.
  if (::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK) != 0) return kAMDUndefinedError;
  deviceEnd->stopFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  MDUniqueFd cancelFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!deviceEnd->stopFd.IsValid() || !cancelFd.IsValid()) return kAMDUndefinedError;

  std::shared_ptr<MDServiceConnection> created(
      new MDServiceConnection(MDNextHandleValue(), device, name, Contains(state.sslServices, name)));
  created->m_hostFd = std::move(hostFd);
  created->m_cancelFd = std::move(cancelFd);
  created->m_deviceEnd = deviceEnd;

  MDServiceContext context;
  context.serviceName = name;
  context.udid = device->Udid();
  context.imageFolder = device->Image().Folder();
  context.state = state;
  const int64_t dropAfter = state.faults.dropAfterServiceStreamBytes;
  created->m_thread = std::thread([deviceEnd, handler, context, dropAfter]() mutable {
    MDDeviceStream stream(deviceEnd->fd.Get(), deviceEnd->stopFd.Get(), dropAfter);
    context.stream = &stream;
    MDCallGuardedVoid("service handler", [&] { handler(context); });
    stream.HangUp();  // a handler that returns has ended its side of the stream
  });
  MDServiceConnectionTable().AddWithHandle(created->m_handle, created);
  device->AddDetachListener(created);
  *connection = std::move(created);
  return kAMDSuccess;
}

MDServiceConnection::~MDServiceConnection() {
  Stop();
  if (m_thread.joinable()) m_thread.join();
}

int MDServiceConnection::HostSocket() const { return m_invalidated ? -1 : m_hostFd.Get(); }

bool MDServiceConnection::IsUsable() const { return !m_invalidated && !m_detached && m_device->IsAttached(); }

void MDServiceConnection::Stop() {
  if (m_cancelFd.IsValid()) Signal(m_cancelFd.Get());
  if (m_deviceEnd && m_deviceEnd->stopFd.IsValid()) Signal(m_deviceEnd->stopFd.Get());
}

void MDServiceConnection::Invalidate() {
  if (m_invalidated.exchange(true)) return;
  Stop();
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    thread = std::move(m_thread);
  }
  if (thread.joinable()) thread.join();
  // Whoever read the socket directly (through GetSocket) now sees end of stream.
  ::shutdown(m_hostFd.Get(), SHUT_RDWR);
}

void MDServiceConnection::OnDeviceDetached() {
  m_detached = true;
  Stop();
}

bool MDServiceConnection::WaitHost(short events, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    struct pollfd fds[2] = {{m_hostFd.Get(), events, 0}, {m_cancelFd.Get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

int MDServiceConnection::Send(const void* bytes, size_t length) {
  if (!IsUsable() || (bytes == nullptr && length > 0) || length > static_cast<size_t>(INT_MAX)) return -1;
  const auto* data = static_cast<const unsigned char*>(bytes);
  const int timeoutMs = MDGetReceiveTimeoutMs();
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::send(m_hostFd.Get(), data + done, length - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A device that stops reading must not hold the caller for ever either.
      if (!WaitHost(POLLOUT, timeoutMs) || !IsUsable()) return -1;
      continue;
    }
    return -1;  // the device side hung up: part of the message is lost, so the send failed
  }
  return static_cast<int>(done);
}

int MDServiceConnection::Receive(void* bytes, size_t length) {
  if (!IsUsable() || bytes == nullptr) return -1;
  if (length == 0) return 0;
  length = std::min(length, static_cast<size_t>(INT_MAX));
  const int timeoutMs = MDGetReceiveTimeoutMs();
  for (;;) {
    if (!IsUsable()) return -1;  // a detach ends the receive even when bytes are still buffered
    ssize_t n = ::recv(m_hostFd.Get(), bytes, length, MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!WaitHost(POLLIN, timeoutMs)) {
      if (IsUsable()) MDLog("receive on %s timed out after %d ms", m_name.c_str(), timeoutMs);
      return -1;
    }
  }
}

MDHandleTable<MDServiceConnection>& MDServiceConnectionTable() {
  static auto* table = new MDHandleTable<MDServiceConnection>();  // never destroyed
  return *table;
}

std::shared_ptr<MDServiceConnection> MDFindServiceConnectionBySocket(int socket) {
  if (socket < 0) return nullptr;
  for (const auto& connection : MDServiceConnectionTable().Snapshot()) {
    if (connection->HostSocket() == socket) return connection;
  }
  return nullptr;
}

namespace {

bool IsOffered(const MDDeviceState& state, const std::string& name) {
  if (name == "com.apple.afc") return true;
  if (name == "com.apple.afc2") return state.jailbroken;
  return Contains(state.services, name);
}

int StartService(AMDeviceRef deviceRef, CFStringRef nameRef, AMDServiceConnectionRef* out) {
  if (out == nullptr) return kAMDInvalidArgumentError;
  *out = nullptr;
  std::shared_ptr<MDDevice> device = MDFindDevice(deviceRef);
  std::string name;
  if (!device || !MDCFStringToUtf8(nameRef, &name) || name.empty()) return kAMDInvalidArgumentError;
  switch (device->EnterCall("AMDeviceSecureStartService")) {
    case MDCallGate::kDetached: return kAMDNotConnectedError;
    case MDCallGate::kFailed: return kAMDInjectedFaultError;
    case MDCallGate::kProceed: break;
  }
  if (!device->HasSession()) return kAMDSessionInactiveError;
  if (device->Image().CountServiceStartAttempt(name) != 0) {
    return device->IsAttached() ? kAMDImageUnreadableError : kAMDNotConnectedError;
  }
  MDDeviceState state;
  if (device->Image().LoadState(&state) != 0) return kAMDImageUnreadableError;
  if (state.passcodeLocked) return kAMDPasswordProtectedError;
  if (!state.paired || !state.trusted) return kAMDInvalidPairRecordError;
  MDServiceHandler handler = IsOffered(state, name) ? MDFindServiceHandler(name) : MDServiceHandler();
  if (!handler) return kAMDInvalidServiceError;
  std::shared_ptr<MDServiceConnection> connection;
  int result = MDServiceConnection::Start(device, name, handler, state, &connection);
  if (result != kAMDSuccess) return result;
  *out = MDHandleCast<AMDServiceConnectionRef>(connection->Handle());
  return kAMDSuccess;
}

}  // namespace

extern "C" {

MD_EXPORT int AMDeviceSecureStartService(AMDeviceRef device, CFStringRef name, CFDictionaryRef,
                                         AMDServiceConnectionRef* connection) {
  return MDCallGuarded("AMDeviceSecureStartService", kAMDUndefinedError,
                       [&] { return StartService(device, name, connection); });
}

MD_EXPORT int AMDServiceConnectionSend(AMDServiceConnectionRef connection, const void* bytes, size_t length) {
  return MDCallGuarded("AMDServiceConnectionSend", -1, [&] {
    auto found = MDServiceConnectionTable().Find(connection);
    if (!found) return -1;
    if (found->Device()->EnterCall("AMDServiceConnectionSend") != MDCallGate::kProceed) return -1;
    return found->Send(bytes, length);
  });
}

MD_EXPORT int AMDServiceConnectionReceive(AMDServiceConnectionRef connection, void* bytes, size_t length) {
  return MDCallGuarded("AMDServiceConnectionReceive", -1, [&] {
    auto found = MDServiceConnectionTable().Find(connection);
    if (!found) return -1;
    if (found->Device()->EnterCall("AMDServiceConnectionReceive") != MDCallGate::kProceed) return -1;
    return found->Receive(bytes, length);
  });
}

MD_EXPORT int AMDServiceConnectionGetSocket(AMDServiceConnectionRef connection) {
  return MDCallGuarded("AMDServiceConnectionGetSocket", -1, [&] {
    auto found = MDServiceConnectionTable().Find(connection);
    return found ? found->HostSocket() : -1;
  });
}

MD_EXPORT void* AMDServiceConnectionGetSecureIOContext(AMDServiceConnectionRef connection) {
  return MDCallGuarded("AMDServiceConnectionGetSecureIOContext", static_cast<void*>(nullptr), [&]() -> void* {
    auto found = MDServiceConnectionTable().Find(connection);
    return found && found->IsSecure() ? &g_secureContextMarker : nullptr;
  });
}

// Ends the connection and frees its handle: the service never releases service connections in any
// other way, so a later call with this handle fails instead of touching freed memory.
MD_EXPORT void AMDServiceConnectionInvalidate(AMDServiceConnectionRef connection) {
  MDCallGuardedVoid("AMDServiceConnectionInvalidate", [&] {
    auto found = MDServiceConnectionTable().Remove(connection);
    if (found) found->Invalidate();
  });
}

}  // extern "C"
