// The notification thread and AMDeviceNotificationSubscribe / Unsubscribe (see md_notifier.h).
//
// One scan: list the root without any lock, then under m_mutex compare with the known devices and
// queue the messages, then run the callbacks under m_dispatchMutex only. A device whose folder was
// replaced (same name, another inode) counts as removed and arrived again, so a quick detach and
// re-attach between two scans is still seen as both.
// Threads: the notification thread (started by the first Subscribe, then runs for the life of the
// process) and any subscribing thread.
#include "md/md_notifier.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "md/md_base.h"
#include "md/md_codes.h"
#include "md/md_device.h"
#include "md/md_service.h"
#include "md/md_settings.h"

namespace {

thread_local bool t_onNotificationThread = false;

struct Subscriber {
  uintptr_t handle = 0;
  am_device_notification_callback callback = nullptr;
  void* context = nullptr;
  std::atomic<bool> active{true};
  bool announced = false;  // guarded by Notifier::m_mutex
};

struct KnownDevice {
  std::shared_ptr<MDDevice> device;
  dev_t folderDevice = 0;
  ino_t folderInode = 0;
  bool trusted = false;
  uint64_t arrivalOrder = 0;
};

struct ListedImage {
  std::string udid;
  dev_t folderDevice = 0;
  ino_t folderInode = 0;
  struct timespec attachedAt {};  // the folder's status change: its rename into the root attached it
  bool stateReadable = false;
  bool trusted = false;
};

struct Message {
  std::shared_ptr<Subscriber> subscriber;
  std::shared_ptr<MDDevice> device;
  uint32_t number = 0;
};

// A UDID folder name: letters, digits, '-' and '_' only (no dots, so no "..", no hidden folders).
bool IsImageName(const char* name) {
  size_t length = 0;
  for (const char* c = name; *c != '\0'; ++c, ++length) {
    bool ok =
        (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '-' || *c == '_';
    if (!ok || length >= 128) return false;
  }
  return length > 0;
}

class Notifier {
 public:
  static Notifier& Instance() {
    static Notifier* notifier = new Notifier();  // never destroyed: its thread runs until exit
    return *notifier;
  }

  int Subscribe(am_device_notification_callback callback, void* context, AMDeviceNotificationRef* subscription) {
    if (callback == nullptr || subscription == nullptr) return kAMDInvalidArgumentError;
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->handle = MDNextHandleValue();
    subscriber->callback = callback;
    subscriber->context = context;
    // Written before the subscriber is visible, so a callback never runs before the caller has it.
    *subscription = MDHandleCast<AMDeviceNotificationRef>(subscriber->handle);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_subscribers.push_back(subscriber);
    }
    EnsureThread();
    Wake();
    return kAMDSuccess;
  }

  int Unsubscribe(AMDeviceNotificationRef subscription) {
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      for (auto it = m_subscribers.begin(); it != m_subscribers.end(); ++it) {
        if ((*it)->handle == reinterpret_cast<uintptr_t>(subscription)) {
          (*it)->active = false;
          m_subscribers.erase(it);
          found = true;
          break;
        }
      }
    }
    if (!found) return kAMDInvalidArgumentError;
    // Wait for a callback that may be running right now, so that none runs after we return. From a
    // callback itself (the notification thread) that wait would never end; the flag suffices there.
    if (!t_onNotificationThread) {
      std::lock_guard<std::mutex> wait(m_dispatchMutex);
    }
    return kAMDSuccess;
  }

  void Wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakeRequested = true;
    m_wakeCondition.notify_all();
  }

  uint64_t ScanCount() const { return m_scanCount.load(); }

  bool WaitForScans(uint64_t scans, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t target = m_scanCount.load() + scans;
    m_wakeRequested = true;
    m_wakeCondition.notify_all();
    return m_scanCondition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      if (m_scanCount.load() >= target) return true;
      m_wakeRequested = true;  // keep the thread scanning rather than resting between our scans
      m_wakeCondition.notify_all();
      return false;
    });
  }

 private:
  Notifier() = default;

  void EnsureThread() {
    std::call_once(m_threadOnce, [this] {
      PinLibrary();
      std::thread([this] { Run(); }).detach();
    });
  }

  // The service unloads the device library at exit while this thread may still run; marking the
  // library non-deletable keeps its code mapped until the process ends.
  static void PinLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&MDNotifierWake), &info) != 0 && info.dli_fname != nullptr) {
      if (::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) {
        MDLog("cannot pin the device library; unloading it while devices are watched is unsafe");
      }
    }
  }

  void Run() {
    t_onNotificationThread = true;
    for (;;) {
      try {
        ScanOnce();
      } catch (const std::exception& e) {
        MDLog("notification scan failed: %s", e.what());
      } catch (...) {
        MDLog("notification scan failed");
      }
      std::unique_lock<std::mutex> lock(m_mutex);
      m_scanCount.fetch_add(1);
      m_scanCondition.notify_all();
      m_wakeCondition.wait_for(lock, std::chrono::milliseconds(kMDScanIntervalMs), [this] { return m_wakeRequested; });
      m_wakeRequested = false;
    }
  }

  std::vector<ListedImage> ListRoot(const std::string& root, const std::map<std::string, KnownDevice>& known) {
    std::vector<ListedImage> listed;
    if (root.empty()) return listed;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(root.c_str()), &::closedir);
    if (!dir) return listed;
    while (struct dirent* entry = ::readdir(dir.get())) {
      if (!IsImageName(entry->d_name)) continue;
      const std::string folder = root + "/" + entry->d_name;
      struct stat folderInfo {};
      if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) continue;
      ListedImage image;
      image.udid = entry->d_name;
      image.folderDevice = folderInfo.st_dev;
      image.folderInode = folderInfo.st_ino;
      image.attachedAt = folderInfo.st_ctim;
      MDDeviceState state;
      auto it = known.find(image.udid);
      int error;
      if (it != known.end() && it->second.folderInode == image.folderInode &&
          it->second.folderDevice == image.folderDevice) {
        error = it->second.device->Image().LoadState(&state);  // cached parse
      } else {
        MDDeviceImage fresh(folder);
        error = fresh.LoadState(&state);
      }
      if (error == ENOENT) continue;  // not finished yet (or just going away)
      image.stateReadable = error == 0;
      image.trusted = state.trusted;
      listed.push_back(std::move(image));
    }
    // Devices already attached arrive in the order they were attached, not in the order the file system
    // happens to list its folders (newest first on some, hash order on others).
    std::sort(listed.begin(), listed.end(), [](const ListedImage& a, const ListedImage& b) {
      if (a.attachedAt.tv_sec != b.attachedAt.tv_sec) return a.attachedAt.tv_sec < b.attachedAt.tv_sec;
      if (a.attachedAt.tv_nsec != b.attachedAt.tv_nsec) return a.attachedAt.tv_nsec < b.attachedAt.tv_nsec;
      return a.udid < b.udid;
    });
    return listed;
  }

  void ScanOnce() {
    const std::string root = MDGetDeviceRoot();
    std::map<std::string, KnownDevice> knownCopy;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (root == m_knownRoot) knownCopy = m_known;
    }
    std::vector<ListedImage> listed = ListRoot(root, knownCopy);

    std::vector<std::shared_ptr<MDDevice>> removed;
    std::vector<Message> messages;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      std::vector<std::shared_ptr<Subscriber>> announced;
      for (const auto& subscriber : m_subscribers) {
        if (subscriber->announced) announced.push_back(subscriber);
      }
      auto post = [&messages](const std::vector<std::shared_ptr<Subscriber>>& to,
                              const std::shared_ptr<MDDevice>& device, uint32_t number) {
        for (const auto& subscriber : to) messages.push_back(Message{subscriber, device, number});
      };

      if (root != m_knownRoot) {
        for (auto& entry : m_known) removed.push_back(entry.second.device);
        m_known.clear();
        m_knownRoot = root;
      }
      std::map<std::string, const ListedImage*> byUdid;
      for (const ListedImage& image : listed) byUdid[image.udid] = &image;

      for (auto it = m_known.begin(); it != m_known.end();) {
        auto found = byUdid.find(it->first);
        bool same = found != byUdid.end() && found->second->folderInode == it->second.folderInode &&
                    found->second->folderDevice == it->second.folderDevice;
        if (same && it->second.device->IsAttached()) {
          ++it;
          continue;
        }
        removed.push_back(it->second.device);
        it = m_known.erase(it);
      }
      for (const auto& device : removed) post(announced, device, kAMDeviceNotificationDisconnected);

      std::vector<const ListedImage*> arrivals;
      for (const ListedImage& image : listed) {
        auto it = m_known.find(image.udid);
        if (it == m_known.end()) {
          if (image.stateReadable) arrivals.push_back(&image);
          continue;
        }
        if (!image.stateReadable) continue;  // keep the last known trust until the file reads again
        if (image.trusted && !it->second.trusted) {
          post(announced, it->second.device, kAMDeviceNotificationTrustAnswered);
        }
        it->second.trusted = image.trusted;
      }
      for (const ListedImage* image : arrivals) {
        MDFinishInterruptedRestore(root + "/" + image->udid);
        uintptr_t handle = MDNextHandleValue();
        auto device = std::make_shared<MDDevice>(handle, image->udid, root + "/" + image->udid, ++m_nextConnectionId,
                                                 image->folderDevice, image->folderInode);
        MDDeviceTable().AddWithHandle(handle, device);
        KnownDevice entry;
        entry.device = device;
        entry.folderDevice = image->folderDevice;
        entry.folderInode = image->folderInode;
        entry.trusted = image->trusted;
        entry.arrivalOrder = ++m_arrivalCounter;
        m_known.emplace(image->udid, entry);
        post(announced, device, kAMDeviceNotificationConnected);
        MDLog("device %s arrived", image->udid.c_str());
      }

      // Subscribers that joined since the last scan hear of every attached device, in arrival order.
      std::vector<const KnownDevice*> ordered;
      for (const auto& entry : m_known) ordered.push_back(&entry.second);
      std::sort(ordered.begin(), ordered.end(),
                [](const KnownDevice* a, const KnownDevice* b) { return a->arrivalOrder < b->arrivalOrder; });
      for (const auto& subscriber : m_subscribers) {
        if (subscriber->announced) continue;
        subscriber->announced = true;
        // A named one-element list: GCC 12 at -O2 misreads a braced temporary here as a bad free.
        std::vector<std::shared_ptr<Subscriber>> only;
        only.push_back(subscriber);
        for (const KnownDevice* entry : ordered) post(only, entry->device, kAMDeviceNotificationConnected);
      }
    }

    for (const auto& device : removed) {
      MDLog("device %s removed", device->Udid().c_str());
      device->MarkDetached();
    }
    Dispatch(messages);
  }

  void Dispatch(const std::vector<Message>& messages) {
    if (messages.empty()) return;
    std::lock_guard<std::mutex> lock(m_dispatchMutex);
    for (const Message& message : messages) {
      if (!message.subscriber->active) continue;
      am_device_notification_callback_info info{};
      info.dev = message.device->Ref();
      info.msg = message.number;
      info.subscription = MDHandleCast<AMDeviceNotificationRef>(message.subscriber->handle);
      MDCallGuardedVoid("device notification callback",
                        [&] { message.subscriber->callback(&info, message.subscriber->context); });
    }
  }

  std::once_flag m_threadOnce;
  std::atomic<uint64_t> m_scanCount{0};

  std::mutex m_dispatchMutex;  // lock order 1: held while callbacks run

  std::mutex m_mutex;  // lock order 2; guards: everything below
  std::condition_variable m_wakeCondition;
  std::condition_variable m_scanCondition;  // a scan completed
  bool m_wakeRequested = false;
  std::vector<std::shared_ptr<Subscriber>> m_subscribers;
  std::map<std::string, KnownDevice> m_known;  // by UDID, devices of m_knownRoot
  std::string m_knownRoot;
  uint32_t m_nextConnectionId = 0;
  uint64_t m_arrivalCounter = 0;
};

}  // namespace

void MDNotifierWake() { Notifier::Instance().Wake(); }

uint64_t MDNotifierScanCount() { return Notifier::Instance().ScanCount(); }

bool MDNotifierWaitForScans(uint64_t scans, int timeoutMs) {
  return Notifier::Instance().WaitForScans(scans, timeoutMs);
}

extern "C" {

MD_EXPORT int AMDeviceNotificationSubscribe(am_device_notification_callback callback, uint32_t, uint32_t, void* context,
                                            AMDeviceNotificationRef* subscription) {
  return MDCallGuarded("AMDeviceNotificationSubscribe", kAMDUndefinedError,
                       [&] { return Notifier::Instance().Subscribe(callback, context, subscription); });
}

MD_EXPORT int AMDeviceNotificationUnsubscribe(AMDeviceNotificationRef subscription) {
  return MDCallGuarded("AMDeviceNotificationUnsubscribe", kAMDUndefinedError,
                       [&] { return Notifier::Instance().Unsubscribe(subscription); });
}

}  // extern "C"
