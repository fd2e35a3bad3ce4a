// Device connections, sessions and services. Every library call goes through the binding table.
#include "utility/hlx_device_session.h"

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply_code.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

// Set when a service start on this thread is refused because the device is locked with a passcode.
thread_local bool t_refusedForLock = false;

// The device library's refusals that a start meets, in words for the log.
const char* RefusalName(int result) {
  switch (result) {
    case kAMDPasswordProtectedError: return "the device is locked with a passcode";
    case kAMDNotConnectedError: return "the device is not connected";
    case kAMDSessionInactiveError: return "no lockdown session";
    case kAMDInvalidPairRecordError: return "the pairing record is not valid";
    case kAMDPairingDialogResponsePendingError: return "the device waits for the user to trust the PC";
    case -1: return "no session to start it in";
    default: return "unknown";
  }
}

// Logs a refused start by service name, code and meaning; notes a refusal for the passcode lock. A
// service the device does not offer is a normal answer (the jailbreak test asks for one that only a
// jailbroken device has), not a problem.
void NoteRefusal(const std::string& name, int result) {
  if (result == kAMDPasswordProtectedError) t_refusedForLock = true;
  if (result == kAMDInvalidServiceError) {
    HLX_LOG(INFO) << "service " << name << " is not offered by the device (0xe8000022)";
    return;
  }
  HLX_LOG(WARNING) << "service " << name << " refused to start: 0x" << std::hex << static_cast<uint32_t>(result)
                   << std::dec << " (" << RefusalName(result) << ")";
}

// The service's "com.apple.afc" starts are serialised with every other start: one mutex for all
// devices, as the device library expects starts one at a time.
struct ServiceCache {
  std::mutex mutex;
  std::condition_variable released;
  // guards: afc, busy
  std::map<AMDeviceRef, std::weak_ptr<HLXDeviceService>> afc;
  std::set<std::string> busy;  // "<service>-<device>" keys of services that others must wait for
};

struct SessionCache {
  std::mutex mutex;
  // guards: sessions
  std::map<AMDeviceRef, std::weak_ptr<HLXDeviceSession>> sessions;
};

struct ConnectionCache {
  std::mutex mutex;
  // guards: connections
  std::map<AMDeviceRef, std::weak_ptr<HLXDeviceConnection>> connections;
};

ServiceCache& Services() {
  static ServiceCache* cache = new ServiceCache();
  return *cache;
}
SessionCache& Sessions() {
  static SessionCache* cache = new SessionCache();
  return *cache;
}
ConnectionCache& Connections() {
  static ConnectionCache* cache = new ConnectionCache();
  return *cache;
}

const char kAfcServiceName[] = "com.apple.afc";
const char kBackupServiceName[] = "com.apple.mobilebackup2";
constexpr int kServiceStartAttempts = 5;

std::string BusyKey(const std::string& name, AMDeviceRef device) {
  char pointer[32];
  std::snprintf(pointer, sizeof(pointer), "%p", static_cast<void*>(device));
  return name + "-" + pointer;
}

// Connects, with one disconnect-and-retry when the first connect fails. Caller holds the
// connection mutex.
std::shared_ptr<HLXDeviceConnection> ConnectLocked(AMDeviceRef device) {
  if (Md().AMDeviceConnect(device) != 0) {
    Md().AMDeviceDisconnect(device);
    if (Md().AMDeviceConnect(device) != 0) return nullptr;
  }
  auto connection = std::make_shared<HLXDeviceConnection>(device, Md().AMDeviceGetConnectionID(device));
  Connections().connections[device] = connection;
  return connection;
}

}  // namespace

HLXDeviceConnection::~HLXDeviceConnection() { Md().AMDeviceDisconnect(m_device); }

HLXDeviceSession::~HLXDeviceSession() { Md().AMDeviceStopSession(m_device); }

HLXDeviceService::HLXDeviceService(AMDServiceConnectionRef serviceConnection, AFCConnectionRef afcConnection,
                                   std::string name, AMDeviceRef device, std::shared_ptr<HLXDeviceSession> session)
    : m_serviceConnection(serviceConnection),
      m_afcConnection(afcConnection),
      m_name(std::move(name)),
      m_device(device),
      m_session(std::move(session)) {
  VLOG(1) << "HLXDeviceService: " << this << " name: " << m_name;
}

HLXDeviceService::~HLXDeviceService() {
  VLOG(1) << "~HLXDeviceService: " << this << " name: " << m_name;
  Close();
}

void HLXDeviceService::Close() {
  if (m_afcConnection) {
    Md().AFCConnectionClose(m_afcConnection);
    m_afcConnection = nullptr;
  }
  if (m_serviceConnection) {
    Md().AMDServiceConnectionInvalidate(m_serviceConnection);
    m_serviceConnection = nullptr;
  }
  if (m_name == kBackupServiceName) {
    ServiceCache& cache = Services();
    {
      std::lock_guard<std::mutex> lock(cache.mutex);
      cache.busy.erase(BusyKey(m_name, m_device));
    }
    cache.released.notify_all();
  }
}

std::shared_ptr<HLXDeviceConnection> GetDeviceConnection(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(Connections().mutex);
  auto found = Connections().connections.find(device);
  if (found != Connections().connections.end()) {
    if (auto live = found->second.lock()) return live;
  }
  auto connection = ConnectLocked(device);
  if (!connection) Connections().connections[device].reset();
  return connection;
}

std::shared_ptr<HLXDeviceConnection> CreateDeviceConnection(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(Connections().mutex);
  return ConnectLocked(device);
}

void DropDeviceConnection(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(Connections().mutex);
  Connections().connections.erase(device);
}

void DropDeviceSession(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(Sessions().mutex);
  Sessions().sessions.erase(device);
}

std::shared_ptr<HLXDeviceSession> StartDeviceSession(AMDeviceRef device, int32_t* error) {
  std::shared_ptr<HLXDeviceConnection> connection = GetDeviceConnection(device);
  if (!connection) connection = CreateDeviceConnection(device);
  if (!connection) {
    *error = kReplyNoConnection;
    return nullptr;
  }
  if (!Md().AMDeviceIsPaired(device)) {
    // Shows the trust prompt on the device; the answer arrives later as a notification.
    (void)Md().AMDevicePair(device);
    *error = kReplyNotPaired;
    return nullptr;
  }
  if (Md().AMDeviceValidatePairing(device) != 0) {
    *error = kReplyPairingInvalid;
    return nullptr;
  }
  // The first start may find a session left over from an earlier process; stopping it and
  // starting again gives a session of our own.
  (void)Md().AMDeviceStartSession(device);
  Md().AMDeviceStopSession(device);
  if (Md().AMDeviceStartSession(device) != 0) {
    *error = kReplySessionNotStarted;
    return nullptr;
  }
  *error = kReplySuccess;
  return std::make_shared<HLXDeviceSession>(device, std::move(connection));
}

std::shared_ptr<HLXDeviceSession> GetDeviceSession(AMDeviceRef device, int32_t* error) {
  std::lock_guard<std::mutex> lock(Sessions().mutex);
  auto found = Sessions().sessions.find(device);
  if (found != Sessions().sessions.end()) {
    if (auto live = found->second.lock()) return live;
  }
  std::shared_ptr<HLXDeviceSession> session = StartDeviceSession(device, error);
  Sessions().sessions[device] = session;
  return session;
}

std::shared_ptr<HLXDeviceSession> RenewDeviceSession(AMDeviceRef device, int32_t* error) {
  std::lock_guard<std::mutex> lock(Sessions().mutex);
  std::shared_ptr<HLXDeviceSession> session = StartDeviceSession(device, error);
  if (session) Sessions().sessions[device] = session;
  return session;
}

std::shared_ptr<HLXDeviceService> HLXDeviceService::Start(AMDeviceRef device, int32_t* error, const std::string& name,
                                                          CFDictionaryRef options, bool wantAfc) {
  CFStringRef cfName = Md().__CFStringMakeConstantString(name.c_str());
  if (!cfName) return nullptr;
  std::shared_ptr<HLXDeviceSession> session = GetDeviceSession(device, error);
  if (!session) session = RenewDeviceSession(device, error);
  if (!session) return nullptr;

  AMDServiceConnectionRef serviceConnection = nullptr;
  int result = -1;
  for (int attempt = 0; attempt < kServiceStartAttempts && result != 0; ++attempt) {
    result = Md().AMDeviceSecureStartService(device, cfName, options, &serviceConnection);
  }
  if (result != 0) {
    if (result == kAMDPasswordProtectedError) *error = kReplyDeviceLocked;
    NoteRefusal(name, result);
    return nullptr;
  }
  AFCConnectionRef afc = nullptr;
  if (wantAfc) {
    if (Md().AMDServiceConnectionGetSecureIOContext(serviceConnection) != nullptr) {
      // AFC cannot run over an SSL service connection.
      Md().AMDServiceConnectionInvalidate(serviceConnection);
      return nullptr;
    }
    (void)Md().AFCConnectionOpen(Md().AMDServiceConnectionGetSocket(serviceConnection), 0, &afc);
  }
  return std::make_shared<HLXDeviceService>(serviceConnection, afc, name, device, std::move(session));
}

std::shared_ptr<HLXDeviceService> OpenDeviceService(AMDeviceRef device, int32_t* error, const std::string& name,
                                                    CFDictionaryRef options, bool wantAfc) {
  ServiceCache& cache = Services();
  std::unique_lock<std::mutex> lock(cache.mutex);
  if (name == kAfcServiceName) {
    auto found = cache.afc.find(device);
    if (found != cache.afc.end()) {
      if (auto live = found->second.lock()) return live;
    }
    std::shared_ptr<HLXDeviceService> service = HLXDeviceService::Start(device, error, kAfcServiceName, nullptr, true);
    cache.afc[device] = service;
    return service;
  }
  const std::string busyKey = BusyKey(kBackupServiceName, device);
  cache.released.wait(lock, [&] { return cache.busy.count(busyKey) == 0; });
  return HLXDeviceService::Start(device, error, name, options, wantAfc);
}

std::shared_ptr<HLXDeviceService> StartServiceWithRenewal(AMDeviceRef device, const std::string& name) {
  CFStringRef cfName = Md().__CFStringMakeConstantString(name.c_str());
  if (!cfName) return nullptr;
  ServiceCache& cache = Services();
  std::unique_lock<std::mutex> lock(cache.mutex);
  const std::string busyKey = BusyKey(kBackupServiceName, device);
  cache.released.wait(lock, [&] { return cache.busy.count(busyKey) == 0; });
  int32_t error = kReplySuccess;
  std::shared_ptr<HLXDeviceSession> session = GetDeviceSession(device, &error);
  AMDServiceConnectionRef connection = nullptr;
  int result = session ? Md().AMDeviceSecureStartService(device, cfName, nullptr, &connection) : -1;
  if (result != 0) {
    session = RenewDeviceSession(device, &error);
    if (session) result = Md().AMDeviceSecureStartService(device, cfName, nullptr, &connection);
  }
  if (result != 0 || !connection) {
    NoteRefusal(name, result);
    return nullptr;
  }
  return std::make_shared<HLXDeviceService>(connection, nullptr, name, device, std::move(session));
}

void ForgetLockRefusal() { t_refusedForLock = false; }

bool ServiceRefusedForLock() { return t_refusedForLock; }

}  // namespace hlx
