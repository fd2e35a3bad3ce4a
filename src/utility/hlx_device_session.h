// Connections, lockdown sessions and started device services, shared between all requests through
// per-device caches of weak references, and OpenDeviceService: the one call every module uses to get
// a started service. The AFC file service is started once per device and shared while anyone holds
// it; every other service is started anew for each caller.
//
// Threads: any worker and the device-notification thread. Lock order: the service mutex, then the
// session mutex, then the connection mutex; never the reverse. No cache lock is held while the
// device monitor's mutex is taken.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mobiledevice.h"

namespace hlx {

class HLXDeviceConnection {
 public:
  HLXDeviceConnection(AMDeviceRef device, uint32_t connectionId) : m_device(device), m_connectionId(connectionId) {}
  ~HLXDeviceConnection();  // disconnects
  HLXDeviceConnection(const HLXDeviceConnection&) = delete;
  HLXDeviceConnection& operator=(const HLXDeviceConnection&) = delete;
  uint32_t ConnectionId() const { return m_connectionId; }

 private:
  AMDeviceRef const m_device;
  const uint32_t m_connectionId;
};

class HLXDeviceSession {
 public:
  HLXDeviceSession(AMDeviceRef device, std::shared_ptr<HLXDeviceConnection> connection)
      : m_device(device), m_connection(std::move(connection)) {}
  ~HLXDeviceSession();  // stops the session, then lets go of the connection
  HLXDeviceSession(const HLXDeviceSession&) = delete;
  HLXDeviceSession& operator=(const HLXDeviceSession&) = delete;

 private:
  AMDeviceRef const m_device;
  std::shared_ptr<HLXDeviceConnection> m_connection;
};

class HLXDeviceService {
 public:
  HLXDeviceService(AMDServiceConnectionRef serviceConnection, AFCConnectionRef afcConnection, std::string name,
                   AMDeviceRef device, std::shared_ptr<HLXDeviceSession> session);
  ~HLXDeviceService();  // closes
  HLXDeviceService(const HLXDeviceService&) = delete;
  HLXDeviceService& operator=(const HLXDeviceService&) = delete;

  // Starts a service under the device's session (one is started when needed). Empty on failure,
  // with *error set to a ReplyCode when the failure has one.
  static std::shared_ptr<HLXDeviceService> Start(AMDeviceRef device, int32_t* error, const std::string& name,
                                                 CFDictionaryRef options, bool wantAfc);

  // Closes the AFC connection and invalidates the service connection; a second call does nothing.
  void Close();

  AMDServiceConnectionRef ServiceConnection() const { return m_serviceConnection; }
  AFCConnectionRef AfcConnection() const { return m_afcConnection; }
  const std::string& Name() const { return m_name; }

 private:
  AMDServiceConnectionRef m_serviceConnection;
  AFCConnectionRef m_afcConnection;
  const std::string m_name;
  AMDeviceRef const m_device;
  std::shared_ptr<HLXDeviceSession> m_session;  // keeps the session alive while the service lives
};

std::shared_ptr<HLXDeviceConnection> GetDeviceConnection(AMDeviceRef device);
std::shared_ptr<HLXDeviceConnection> CreateDeviceConnection(AMDeviceRef device);
void DropDeviceConnection(AMDeviceRef device);
void DropDeviceSession(AMDeviceRef device);

// A new session, or empty with *error set (24, 25, 26 or 27); *error is 0 after a success.
std::shared_ptr<HLXDeviceSession> StartDeviceSession(AMDeviceRef device, int32_t* error);
// The cached live session, or a newly started one (cached weakly, also when empty).
std::shared_ptr<HLXDeviceSession> GetDeviceSession(AMDeviceRef device, int32_t* error);
// Always a new session; the cache entry is replaced only when it started.
std::shared_ptr<HLXDeviceSession> RenewDeviceSession(AMDeviceRef device, int32_t* error);

// A started service; "com.apple.afc" is shared per device (always with AFC), any other name is
// started for this caller. Empty on failure, *error as for Start.
std::shared_ptr<HLXDeviceService> OpenDeviceService(AMDeviceRef device, int32_t* error, const std::string& name,
                                                    CFDictionaryRef options, bool wantAfc);

// A service started for one request the way the information readers start theirs: under the
// device's session, one start; when that fails, one renewed session and one more start (no five
// attempts, no AFC). Runs under the service mutex like every start. Empty when both starts failed;
// the service is invalidated when the last holder lets go.
std::shared_ptr<HLXDeviceService> StartServiceWithRenewal(AMDeviceRef device, const std::string& name);

// Whether a service start on the calling thread was refused because the device is locked with a passcode
// since ForgetLockRefusal(). A request that fails after such a refusal is answered "device locked" (48),
// whatever its module made of the missing service.
void ForgetLockRefusal();
bool ServiceRefusedForLock();

}  // namespace hlx
