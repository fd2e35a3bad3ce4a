// The per-arrival device object (see md_device.h). Threads: any; m_mutex is a leaf and is released
// before listeners run.
#include "md/md_device.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "md/md_notifier.h"

MDDevice::MDDevice(uintptr_t handle, std::string udid, std::string folder, uint32_t connectionId, dev_t folderDevice,
                   ino_t folderInode)
    : m_handle(handle),
      m_udid(std::move(udid)),
      m_connectionId(connectionId),
      m_folderDevice(folderDevice),
      m_folderInode(folderInode),
      m_image(folder),
      m_lockdown(folder) {}

void MDDevice::MarkDetached() {
  if (m_attached.exchange(false) == false) return;
  std::vector<std::weak_ptr<MDDetachListener>> listeners;
  std::map<std::string, uint64_t> callCounts;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    listeners.swap(m_listeners);
    callCounts.swap(m_callCounts);
    m_connectCount = 0;
    m_sessionCount = 0;
  }
  for (const auto& weak : listeners) {
    if (auto listener = weak.lock()) listener->OnDeviceDetached();
  }
  // The handle stays valid for the rest of the process (calls on it answer "not connected"), so
  // what only an attached device needs is freed now.
  m_image.ReleaseCache();
  m_lockdown.ReleaseCache();
}

void MDDevice::DetachByFault() {
  const std::string& folder = m_image.Folder();
  size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos) {
    std::string parked = folder.substr(0, slash) + "/.detached";
    if (::mkdir(parked.c_str(), 0755) != 0 && errno != EEXIST) {
      MDLog("detach fault: cannot make the parking folder (errno %d)", errno);
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%lx", static_cast<unsigned long>(m_handle));
    std::string target = parked + "/" + m_udid + suffix;
    if (std::rename(folder.c_str(), target.c_str()) != 0) {
      MDLog("detach fault: cannot move the image of %s away (errno %d)", m_udid.c_str(), errno);
    }
  }
  MarkDetached();
  MDNotifierWake();
}

bool MDDevice::CheckImagePresent() {
  if (!IsAttached()) return false;
  struct stat info {};
  if (::stat(m_image.Folder().c_str(), &info) == 0 && info.st_dev == m_folderDevice && info.st_ino == m_folderInode) {
    return true;
  }
  MDLog("the image of %s went away", m_udid.c_str());
  MarkDetached();
  MDNotifierWake();
  return false;
}

MDCallGate MDDevice::EnterCall(const char* function) {
  if (!CheckImagePresent()) return MDCallGate::kDetached;
  MDDeviceState state;
  const bool haveState = m_image.LoadState(&state) == 0;
  uint64_t call = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    call = ++m_callCounts[function];
  }
  if (!haveState) return MDCallGate::kProceed;  // the call itself reports the unreadable image
  const MDFaultPlan& faults = state.faults;
  auto detach = faults.detachOnCall.find(function);
  if (detach != faults.detachOnCall.end() && detach->second == call) {
    MDLog("fault: call %llu of %s detaches %s", static_cast<unsigned long long>(call), function, m_udid.c_str());
    DetachByFault();
    return MDCallGate::kDetached;
  }
  auto fail = faults.failCalls.find(function);
  if (fail != faults.failCalls.end() &&
      std::find(fail->second.begin(), fail->second.end(), call) != fail->second.end()) {
    MDLog("fault: call %llu of %s fails", static_cast<unsigned long long>(call), function);
    return MDCallGate::kFailed;
  }
  return MDCallGate::kProceed;
}

void MDDevice::Connect() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_connectCount;
}

void MDDevice::Disconnect() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_connectCount > 0) --m_connectCount;
}

bool MDDevice::IsConnected() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_connectCount > 0;
}

void MDDevice::StartSession() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_sessionCount;
}

bool MDDevice::StopSession() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_sessionCount == 0) return false;
  --m_sessionCount;
  return true;
}

bool MDDevice::HasSession() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sessionCount > 0;
}

void MDDevice::AddDetachListener(const std::shared_ptr<MDDetachListener>& listener) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (IsAttached()) {
      // Drop entries of listeners that are gone so a long-lived device does not collect them.
      m_listeners.erase(std::remove_if(m_listeners.begin(), m_listeners.end(),
                                       [](const std::weak_ptr<MDDetachListener>& weak) { return weak.expired(); }),
                        m_listeners.end());
      m_listeners.push_back(listener);
      return;
    }
  }
  listener->OnDeviceDetached();
}

MDHandleTable<MDDevice>& MDDeviceTable() {
  static auto* table = new MDHandleTable<MDDevice>();  // never destroyed: handles live for the process
  return *table;
}

std::shared_ptr<MDDevice> MDFindDevice(AMDeviceRef device) { return MDDeviceTable().Find(device); }
