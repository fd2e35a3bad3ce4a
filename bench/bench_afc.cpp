// AFC transfer throughput through the simulated device library, beside a plain file copy of the
// same file in the same run.
//
//   bench_afc [MiB, default 256] [rounds, default 7]
//   bench_afc --copy <from> <to>   the baseline, run by the benchmark in a process of its own
//
// Upload: a PC file is written to the device with AFCFileRefWrite in 4 MiB pieces (the service's
// transfer buffer); download: the device file is read back with AFCFileRefRead into a PC file. The
// baseline copies the same PC file to another PC file with read/write in 4 MiB pieces, in a process
// of its own (this program started again), which times the copy and prints its seconds. Each figure is
// the median of the warm rounds with min and max; the aim is at least 80 % of the baseline's
// throughput, for upload and for download. The files live in the
// page cache, so the figures compare the work around the copies, not the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cf/cf_internal.h"
#include "md/md_test_control.h"
#include "mobiledevice.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kChunkBytes = 4u << 20;

struct Arrival {
  std::mutex mutex;
  std::condition_variable changed;
  AMDeviceRef device = nullptr;
};

void OnNotification(am_device_notification_callback_info* info, void* context) {
  auto* arrival = static_cast<Arrival*>(context);
  if (info->msg != kAMDeviceNotificationConnected) return;
  std::lock_guard<std::mutex> lock(arrival->mutex);
  arrival->device = info->dev;
  arrival->changed.notify_all();
}

bool Fail(const char* what) {
  std::fprintf(stderr, "bench_afc: %s\n", what);
  return false;
}

// For main: reports and gives the exit status of a run that could not measure.
int Abort(const char* what) {
  Fail(what);
  return 2;
}

bool CopyPlain(const std::string& from, const std::string& to, std::vector<char>& buffer) {
  int in = ::open(from.c_str(), O_RDONLY);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && out >= 0;
  while (ok) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = ::write(out, buffer.data(), static_cast<size_t>(n)) == n;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

bool Upload(AFCConnectionRef afc, const std::string& from, const char* to, std::vector<char>& buffer) {
  int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) return Fail("cannot open the PC file");
  AFCFileRef file = 0;
  bool ok = AFCFileRefOpen(afc, to, kAFCFileModeReadWrite, &file) == 0 && AFCFileRefSetFileSize(afc, file, 0) == 0;
  while (ok) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = AFCFileRefWrite(afc, file, buffer.data(), static_cast<uint32_t>(n)) == 0;
  }
  if (file != 0) AFCFileRefClose(afc, file);
  ::close(in);
  return ok || Fail("upload failed");
}

bool Download(AFCConnectionRef afc, const char* from, const std::string& to, std::vector<char>& buffer) {
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return Fail("cannot create the PC file");
  AFCFileRef file = 0;
  bool ok = AFCFileRefOpen(afc, from, kAFCFileModeRead, &file) == 0;
  while (ok) {
    uint32_t length = static_cast<uint32_t>(buffer.size());
    ok = AFCFileRefRead(afc, file, buffer.data(), &length) == 0;
    if (!ok || length == 0) break;
    ok = ::write(out, buffer.data(), length) == static_cast<ssize_t>(length);
  }
  if (file != 0) AFCFileRefClose(afc, file);
  ::close(out);
  return ok || Fail("download failed");
}

bool SameContents(const std::string& a, const std::string& b) {
  std::string command = "cmp -s '" + a + "' '" + b + "'";
  return std::system(command.c_str()) == 0;
}

// The baseline in a process of its own: this program with --copy, which prints the copy's seconds.
// Seconds, or a negative number when it failed.
double CopyInOwnProcess(const std::string& from, const std::string& to) {
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return -1;
  self[length] = '\0';
  ::sync();  // as TimeRun does for the other runs
  const std::string command = std::string("'") + self + "' --copy '" + from + "' '" + to + "'";
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  double seconds = -1;
  if (std::fscanf(child, "%lf", &seconds) != 1) seconds = -1;
  return ::pclose(child) == 0 ? seconds : -1;
}

// Seconds of one run, or a negative number when it failed. Dirty pages of the previous run are
// written out first (untimed), so that no run pays for another one's write-back.
double TimeRun(const std::function<bool()>& run) {
  ::sync();
  auto start = Clock::now();
  if (!run()) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--copy") == 0) {
    std::vector<char> buffer(kChunkBytes);
    const auto start = Clock::now();
    if (!CopyPlain(argv[2], argv[3], buffer)) return 1;
    std::printf("%.6f\n", std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
  }
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  if (mib == 0 || rounds <= 0) return Abort("usage: bench_afc [MiB] [rounds]");
  alarm(1200);  // a time-out for the whole run: a hung transfer ends it
  const size_t bytes = mib << 20;

  char pattern[] = "/tmp/bench-afc-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) return Abort("cannot make a temporary folder");
  const std::string temp = made;
  const std::string root = temp + "/root";
  const std::string udid = "BENCH-AFC";
  std::filesystem::create_directories(root);
  // The device image comes from the seeded maker, like every fixture.
  std::string makeImage = std::string(HLX_PYTHON) + " '" + HLX_TOOLS_DIR + "/make_device_image.py' '" + root + "/" +
                          udid + "' --udid " + udid + " --capacity " + std::to_string(bytes * 4) + " --free " +
                          std::to_string(bytes * 2) + " >/dev/null";
  if (std::system(makeImage.c_str()) != 0) return Abort("the image maker failed");

  const std::string source = temp + "/source.bin";
  {
    std::vector<char> block(kChunkBytes);
    uint32_t state = 12345;
    for (char& c : block) {
      state = state * 1103515245 + 12345;
      c = static_cast<char>(state >> 24);
    }
    FILE* file = std::fopen(source.c_str(), "wb");
    for (size_t done = 0; file != nullptr && done < bytes; done += block.size()) {
      std::fwrite(block.data(), 1, std::min(block.size(), bytes - done), file);
    }
    if (file == nullptr || std::fclose(file) != 0) return Abort("cannot write the source file");
  }

  HLXMDTestSetDeviceRoot(root.c_str());
  Arrival arrival;
  AMDeviceNotificationRef subscription = nullptr;
  if (AMDeviceNotificationSubscribe(&OnNotification, 0, 0, &arrival, &subscription) != 0) {
    return Abort("cannot subscribe to device notifications");
  }
  AMDeviceRef device = nullptr;
  {
    std::unique_lock<std::mutex> lock(arrival.mutex);
    arrival.changed.wait_for(lock, std::chrono::seconds(15), [&] { return arrival.device != nullptr; });
    device = arrival.device;
  }
  if (device == nullptr) return Abort("the device did not arrive");
  CFStringRef afcName = CFStringCreateWithCString(nullptr, "com.apple.afc", kCFStringEncodingUTF8);
  AMDServiceConnectionRef service = nullptr;
  AFCConnectionRef afc = nullptr;
  if (AMDeviceConnect(device) != 0 || AMDeviceStartSession(device) != 0 ||
      AMDeviceSecureStartService(device, afcName, nullptr, &service) != 0 ||
      AFCConnectionOpen(AMDServiceConnectionGetSocket(service), 0, &afc) != 0) {
    return Abort("cannot open AFC");
  }
  CFRelease(afcName);

  std::vector<char> buffer(kChunkBytes);
  const std::string copy = temp + "/copy.bin";
  const std::string downloaded = temp + "/downloaded.bin";
  // Rounds interleave the three transfers, the order turning each round, so that each sees the same
  // state of the machine; the first round is reported apart as the cold one.
  std::vector<double> rates[3];
  const std::function<double()> runs[3] = {
      [&] { return CopyInOwnProcess(source, copy); },
      [&] { return TimeRun([&] { return Upload(afc, source, "/Downloads/bench.bin", buffer); }); },
      [&] { return TimeRun([&] { return Download(afc, "/Downloads/bench.bin", downloaded, buffer); }); },
  };
  for (int round = 0; round < rounds; ++round) {
    // Download reads what upload wrote, so upload stays before download; the copy moves around.
    const int order[2][3] = {{0, 1, 2}, {1, 2, 0}};
    for (int i : order[round % 2]) {
      const double seconds = runs[i]();
      if (seconds <= 0) return Abort("a transfer failed");
      rates[i].push_back(static_cast<double>(bytes) / (1 << 20) / seconds);
    }
  }
  const bool intact = SameContents(source, root + "/" + udid + "/fs/Downloads/bench.bin") &&
                      SameContents(source, downloaded) && SameContents(source, copy);

  auto warm = [](std::vector<double> values) {
    if (values.size() > 1) values.erase(values.begin());
    std::sort(values.begin(), values.end());
    return values;
  };
  auto median = [&](const std::vector<double>& values) {
    std::vector<double> w = warm(values);
    return w.size() % 2 ? w[w.size() / 2] : (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
  };
  const char* names[3] = {"plain copy, own process", "AFC upload", "AFC download"};
  std::printf("AFC transfer of %zu MiB, %d rounds (the first cold), order turning each round\n", mib, rounds);
  bool allMet = true;
  for (int i = 0; i < 3; ++i) {
    const std::vector<double> w = warm(rates[i]);
    std::printf("  %-27s median %7.1f MiB/s (min %.1f, max %.1f; cold %.1f)\n", names[i], median(rates[i]),
                w.front(), w.back(), rates[i].front());
    if (i == 0) continue;
    const double share = median(rates[i]) / median(rates[0]);
    const bool met = share >= 0.8;
    allMet &= met;
    std::printf("  aim: %s at least 80%% of the baseline (%.0f %%, cold %.0f %%): %s\n", names[i], 100 * share,
                100 * rates[i].front() / rates[0].front(), met ? "met" : "not met");
  }
  std::printf("  contents intact: %s\n", intact ? "yes" : "NO");

  AFCConnectionClose(afc);
  AMDServiceConnectionInvalidate(service);
  AMDeviceStopSession(device);
  AMDeviceDisconnect(device);
  AMDeviceNotificationUnsubscribe(subscription);
  std::filesystem::remove_all(temp);
  return intact && allMet ? 0 : 1;
}
