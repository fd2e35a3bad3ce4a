// Main loop, watchdog, child-process table and the self-test mode's checks. The watchdog compares
// the watched process's start time with the one seen when watching began, so a recycled process id
// never passes for the desktop process.
#include "utility/hlx_service.h"

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>

#include "os/hlx_os.h"
#include "utility/hlx_lock_order.h"
#include "utility/hlx_log.h"
#include "utility/hlx_module.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_regex.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_startup_state.h"
#include "utility/hlx_task.h"
#include "utility/hlx_text.h"
#include "utility/hlx_thread_pool.h"
#include "utility/hlx_time.h"
#include "utility/hlx_version.h"
#include "utility/ios/hlx_client.h"
#include "utility/ios/hlx_device_monitor.h"
#include "utility/module/basicinfo/hlx_module_basicinfo.h"
#include "utility/module/connect/hlx_module_connect.h"

namespace hlx {
namespace {

struct QuitSignal {
  Mutex mutex;
  CondVar changed;  // signalled once, by QuitMainLoop
};

QuitSignal& GetQuitSignal() {
  static QuitSignal* signal = new QuitSignal();
  return *signal;
}

struct Watchdog {
  Mutex mutex;
  CondVar retargeted;
  // guards: the fields below
  int32_t processId HLX_GUARDED_BY(mutex) = 0;
  // of processId when watching began; 0 when it was not running
  uint64_t startTicks HLX_GUARDED_BY(mutex) = 0;
  uint64_t generation HLX_GUARDED_BY(mutex) = 0;  // bumped by every StartWatchdog call
  std::function<void()> onGone HLX_GUARDED_BY(mutex);
  int32_t pollMs HLX_GUARDED_BY(mutex) = 500;
  bool running HLX_GUARDED_BY(mutex) = false;
};

Watchdog& GetWatchdog() {
  static Watchdog* watchdog = new Watchdog();
  return *watchdog;
}

void RunWatchdog() {
  Watchdog& dog = GetWatchdog();
  while (true) {
    uint64_t generation = 0;
    std::function<void()> onGone;
    {
      MutexLock lock(dog.mutex);
      generation = dog.generation;
      bool alive =
          dog.processId == 0 || (dog.startTicks != 0 && os::Os().processStartTicks(dog.processId) == dog.startTicks);
      if (alive) {
        (void)dog.retargeted.WaitUntil(dog.mutex,
                                       std::chrono::steady_clock::now() + std::chrono::milliseconds(dog.pollMs));
        continue;
      }
      HLX_LOG(INFO) << "watched process " << dog.processId << " is gone";
      onGone = dog.onGone;
    }
    if (onGone) onGone();
    // Sleep until someone points the watchdog at another process.
    MutexLock lock(dog.mutex);
    while (dog.generation == generation) dog.retargeted.Wait(dog.mutex);
  }
}

struct ChildProcessTable {
  Mutex mutex;
  // guards: folders
  std::map<int32_t, std::string> folders HLX_GUARDED_BY(mutex);  // process id -> work folder
};

ChildProcessTable& GetChildProcessTable() {
  static ChildProcessTable* table = new ChildProcessTable();
  return *table;
}

}  // namespace

void QuitMainLoop() {
  QuitSignal& signal = GetQuitSignal();
  {
    MutexLock lock(signal.mutex);
    GetStartupState().quitting = true;
  }
  signal.changed.NotifyAll();
}

void RunMainLoop() {
  while (!WaitForQuit(3600 * 1000)) {
  }
}

bool WaitForQuit(int32_t timeoutMs) {
  QuitSignal& signal = GetQuitSignal();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  MutexLock lock(signal.mutex);
  while (!GetStartupState().quitting.load() && signal.changed.WaitUntil(signal.mutex, deadline)) {
  }
  return GetStartupState().quitting.load();
}

void StartWatchdog(int32_t processId, int32_t pollMs, std::function<void()> onGone) {
  Watchdog& dog = GetWatchdog();
  bool startThread = false;
  {
    MutexLock lock(dog.mutex);
    dog.processId = processId;
    dog.startTicks = processId == 0 ? 0 : os::Os().processStartTicks(processId);
    dog.pollMs = pollMs > 0 ? pollMs : 500;
    dog.onGone = std::move(onGone);
    ++dog.generation;
    if (!dog.running) {
      dog.running = true;
      startThread = true;
    }
  }
  dog.retargeted.NotifyAll();
  if (startThread) std::thread(RunWatchdog).detach();
}

void AddChildProcess(int32_t processId, const std::string& folder) {
  ChildProcessTable& table = GetChildProcessTable();
  MutexLock lock(table.mutex);
  table.folders[processId] = folder;
}

bool RemoveChildProcess(int32_t processId) {
  ChildProcessTable& table = GetChildProcessTable();
  MutexLock lock(table.mutex);
  return table.folders.erase(processId) == 1;
}

void TerminateChildProcesses() {
  ChildProcessTable& table = GetChildProcessTable();
  MutexLock lock(table.mutex);
  for (const auto& [processId, folder] : table.folders) {
    if (!os::Os().terminateProcess(processId)) {
      HLX_LOG(WARNING) << "child process " << processId << " could not be terminated";
    }
    if (!folder.empty() && !os::Os().deleteTree(folder)) {
      HLX_LOG(WARNING) << "work folder of child process " << processId << " could not be deleted";
    }
  }
  table.folders.clear();
}

}  // namespace hlx

namespace hlx {

void StartLogging(const StartupState& state) {
  // With TZ unset the C library checks the zone file again on every local-time conversion, one
  // stat per log line; named once here (before any other thread runs) it is read once.
  setenv("TZ", ":/etc/localtime", 0);
  tzset();
  google::InitGoogleLogging("Harlix");
  if (!state.loggingEnabled) {
    FLAGS_minloglevel = google::NUM_SEVERITIES;  // HLX_LOG builds no message at all
    // glog writes somewhere by default; with logging off the service writes nothing at all.
    for (int severity = google::GLOG_INFO; severity < google::NUM_SEVERITIES; ++severity) {
      google::SetLogDestination(severity, "");
    }
    FLAGS_stderrthreshold = google::NUM_SEVERITIES;
    return;
  }
  FLAGS_log_dir = state.logFolder;
  FLAGS_logbufsecs = 0;     // every line reaches the file at once
  FLAGS_max_log_size = 20;  // megabytes
  FLAGS_alsologtostderr = state.consoleEnabled;
  // One file holds every severity: glog writes each line to the file of its own severity and of
  // every lower one, so the INFO file has them all. Giving the others the same name made each of
  // them try to create the INFO file again ("COULD NOT CREATE LOGFILE ... File exists").
  google::SetLogDestination(google::GLOG_INFO, (state.logFolder + "/Harlix.").c_str());
  for (int severity = google::GLOG_WARNING; severity < google::NUM_SEVERITIES; ++severity) {
    google::SetLogDestination(severity, "");
  }
  HLX_LOG(INFO) << "Harlix started: port " << state.desktopPort << ", watching " << state.watchedProcessId << ", mode "
                << state.instanceMode << ", pid " << os::Os().currentProcessId();
}

void StopLogging() {
  StartupState& state = GetStartupState();
  if (state.loggingShutDown.exchange(true)) return;
  HLX_LOG(INFO) << "Harlix stopping";
  google::ShutdownGoogleLogging();
}

}  // namespace hlx

namespace hlx {

int StartDeviceService() {
  VNLThreadPool::GetInstance().Start();
  (void)GetServiceTaskMap();
  // Modules first: a request may arrive the instant the connection is up.
  RegisterModules();
  HLXClient& client = HLXClient::GetInstance();
  (void)client.Connect();  // without a peer the service still runs, and still follows the watchdog
  HLXDeviceMonitor& monitor = HLXDeviceMonitor::GetInstance();
  monitor.AddCallback(&client);
  const int code = monitor.Start();
  if (code != 0) {
    // The service runs on without devices; the connect request can start the monitor later.
    HLX_LOG(WARNING) << "device monitor did not start: " << code << " (" << ReplyCodeName(code) << ")";
    ReportMonitorStatus(code);
  }
  if (GetStartupState().selfTest) {
    VNLThreadPool::GetInstance().AddTask([] { RunSelfTestTask(nullptr); });
  }
  return code;
}

void StopDeviceService() {
  if (GetStartupState().loggingEnabled) StopLogging();
  TerminateChildProcesses();
  DeleteProcessTempFolder();
}

void RunSelfTestTask(std::shared_ptr<HLXDevice> device) {
  HLX_LOG(INFO) << "TestModule Begin";
  if (device) {
    auto* basicInfo = dynamic_cast<HLXModuleBasicInfo*>(ModuleRegistry::GetInstance().Find(kRequestDeviceInfo));
    if (basicInfo) VNLThreadPool::GetInstance().AddTask([basicInfo, device] { basicInfo->RunSelfTest(device); });
    HLX_LOG(INFO) << "TestModule Finish";
    return;
  }
  for (const char* version : {"10.2.1", "9.1.1", "8.1.2", "3.1.2"}) {
    (void)OrderMajorVersionsFor(version);
  }
  (void)RegexReplaceAll("Apple iPhone 12,1 (iOS 14.2)", "[0-9]+", "#");
  const int64_t now = os::Os().currentTime();
  std::tm local{};
  char text[64] = "";
  if (os::Os().localTime(now, &local)) {
    std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  }
  std::unique_ptr<char, FreeDeleter> appleEpoch(AppleTimeToLocalText(0));
  std::unique_ptr<char, FreeDeleter> utc(UtcTextToLocalText("2020-02-29T12:30:45Z"));
  std::printf("date1: %s\ndate2: %s\ndate3: %s\n", text, appleEpoch.get(), utc.get());
  std::fflush(stdout);
  auto* connect = dynamic_cast<HLXModuleConnect*>(ModuleRegistry::GetInstance().Find(kRequestDownloadDrivers));
  if (connect) connect->RunSelfTest();
}

}  // namespace hlx
