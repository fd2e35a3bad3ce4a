// Round trips and compressed replies through the real Harlix process, each beside a baseline
// measured in the same run.
//
//   bench_ipc [--replies DIR] <path to Harlix> [rounds, default 7]
//   bench_ipc --echo <port>          the baseline peer that answers on its receive thread
//   bench_ipc --pool-echo <port>     the baseline peer that answers request 600 on its receive
//                                    thread and hands every other packet to a pool thread
//   bench_ipc --compress-seconds DIR the CPU seconds of compressing every file of DIR once with the
//                                    service's compressor, caches cold (median of five passes), and
//                                    their bytes
//
// Round trips, one request at a time, against Harlix with logging off, each beside its echo, with
// the reply bytes Harlix sends:
//   - request 600 for an unknown device (the cheapest request there is, answered on the receive
//     thread) beside a plain echo, a peer process that answers every packet on its receive thread;
//   - request 100 for an unknown device, which a worker thread answers like every feature request,
//     beside the pool echo's pool thread: a peer process that, like Harlix, answers request 600 on
//     the thread that read it and hands every other packet to one of a pool of ten threads (a mutex,
//     a condition variable and a queue) which writes the reply.
// The pool echo's receive thread answering request 600 is printed beside, judged by nothing:
// unpinned, a receive thread that also hands packets to a pool is placed differently by the
// scheduler from one that never does (the output explains it and measures it: request 600 in a
// Harlix that answers no worker requests, unpinned). Every peer gets every kind of round,
// interleaved alike. Aims: each at most 1.2 times its echo in every judged placement.
// Each is measured in three placements, fresh processes for each: unpinned, every process on one
// CPU, and every process on the same two CPUs (sched_setaffinity, inherited by the peers); the aims
// are judged in each. A fourth placement, judged by nothing, puts the peers on one CPU and this
// process on another, so that every wake-up crosses CPUs (on this KVM guest a cross-CPU wake-up
// costs several microseconds more than one on the same CPU). Unpinned rounds come in two speeds:
// each unpinned round is printed beside the one-CPU and the CPUs-apart figures, marked with the one
// it is nearer to, so the output shows which of the two placements the scheduler chose, and the
// output says why the scheduler comes to choose the slow one; the unpinned placement gets three
// times the rounds.
//
// Compressed replies: 1 MiB of contact-like JSON from the test probe module (request 9001, data
// type 0), through Harlix with logging on as the desktop starts it, beside compressing the same
// bytes with the service's compressor in this process and sending them as one packet to the echo
// process until its answer (the compressor alone is printed too: with a compressor this fast the
// bytes' way over loopback is a large part of the path). The compressor is compared with zlib
// level 9, each timed with the inflation the peer does (zlib's inflate, checked afterwards to give
// back the very bytes), on the same JSON and, given --replies, on the service's own replies: the
// inflated data parts of a real listing, one file each (as bench_contacts.py --save-replies writes
// them), each compressed on its own as the service does. The compressor's aims are judged on the
// real replies when there are any.
//
// Every participant runs once per round, the order turning each round; the first round is reported
// apart as the cold one, the others give medians with min and max. Every socket wait has a time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_packet.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_zlib.h"
#include "utility/module/test_probe/hlx_module_test_probe.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitSeconds = 30;  // any single socket wait longer than this ends the benchmark
constexpr size_t kReplyBytes = size_t{1} << 20;
constexpr int kRoundTripsPerRound = 2000;
constexpr int kRepliesPerRound = 30;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "bench_ipc: %s\n", what);
  std::exit(2);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void SetTimeouts(int fd) {
  timeval wait{kWaitSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait));
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadExactly(int fd, std::string* out, size_t count) {
  out->resize(count);
  size_t done = 0;
  while (done < count) {
    ssize_t n = recv(fd, out->data() + done, count - done, 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads one packet (skipping heartbeats); returns its header.
bool ReadPacket(int fd, hlx::IPCPacketHeader* header, std::string* body) {
  std::string head;
  while (true) {
    if (!ReadExactly(fd, &head, 8)) return false;
    if (head != std::string(8, '\x16')) break;
  }
  std::string rest;
  if (!ReadExactly(fd, &rest, hlx::kPacketHeaderSize - 8)) return false;
  head += rest;
  hlx::HeaderDecodeResult decoded =
      hlx::DecodePacketHeader(reinterpret_cast<const uint8_t*>(head.data()), head.size());
  if (decoded.status != hlx::DecodeStatus::kComplete) return false;
  *header = decoded.header;
  return ReadExactly(fd, body, decoded.header.bodyLength);
}

std::string Packet(uint64_t id, uint32_t command, uint16_t status, const std::string& body) {
  hlx::IPCPacketHeader header{id, command, status, body.size()};
  auto bytes = hlx::EncodePacketHeader(header);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()) + body;
}

std::string RequestBody(const std::string& json) { return std::string("1\0", 2) + json + std::string("\0", 1); }

const std::string kUnknownDeviceRequest = RequestBody("{\"uuid\":\"bench-unknown\",\"code\":1}");
const std::string kJsonReplyRequest = RequestBody("{\"size\":1048576,\"type\":0,\"json\":1}");

int ConnectBack(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) std::exit(1);
  SetTimeouts(fd);
  return fd;
}

// The reply Harlix gives to an unknown device, which the echo peers send.
std::string UnknownDeviceReply() {
  hlx::ReplyRecord record;
  record.code = 7;
  record.uuid = "bench-unknown";
  return hlx::ReplyRecord::Serialize(record);
}

// The baseline peer of request 600: connects like Harlix does and answers every packet at once, on
// the thread that read it.
int RunEcho(int port) {
  const int fd = ConnectBack(port);
  const std::string reply = UnknownDeviceReply();
  hlx::IPCPacketHeader header;
  std::string body;
  while (ReadPacket(fd, &header, &body)) {
    if (!WriteAll(fd, Packet(header.id, header.command, 1, reply))) break;
  }
  close(fd);
  return 0;
}

// The baseline peer of both round trips: as in Harlix, the receive thread answers request 600 itself
// and queues every other packet, waking one of ten pool threads, which writes the reply under a send
// lock, as the service's workers do.
int RunPoolEcho(int port) {
  constexpr int kPoolThreads = 10;
  const int fd = ConnectBack(port);
  const std::string reply = UnknownDeviceReply();
  std::mutex queueMutex, sendMutex;
  std::condition_variable queued;
  std::deque<hlx::IPCPacketHeader> pending;  // guarded by queueMutex
  bool stopping = false;                     // guarded by queueMutex
  std::vector<std::thread> pool;
  for (int i = 0; i < kPoolThreads; ++i) {
    pool.emplace_back([&] {
      while (true) {
        hlx::IPCPacketHeader header;
        {
          std::unique_lock<std::mutex> lock(queueMutex);
          queued.wait(lock, [&] { return stopping || !pending.empty(); });
          if (pending.empty()) return;
          header = pending.front();
          pending.pop_front();
        }
        std::lock_guard<std::mutex> lock(sendMutex);
        WriteAll(fd, Packet(header.id, header.command, 1, reply));
      }
    });
  }
  hlx::IPCPacketHeader header;
  std::string body;
  while (ReadPacket(fd, &header, &body)) {
    if (header.command == 600) {
      std::lock_guard<std::mutex> lock(sendMutex);
      if (!WriteAll(fd, Packet(header.id, header.command, 1, reply))) break;
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      pending.push_back(header);
    }
    queued.notify_one();
  }
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    stopping = true;
  }
  queued.notify_all();
  for (std::thread& thread : pool) thread.join();
  close(fd);
  return 0;
}

// A peer process (Harlix or the echo) that connected back to our listener.
struct Peer {
  int32_t pid = 0;
  int fd = -1;
  uint64_t nextId = 1;
};

Peer StartPeer(int listener, const std::vector<std::string>& argv) {
  Peer peer;
  peer.pid = hlx::os::Os().spawnProcess(argv, hlx::os::SpawnOptions{}).pid;
  if (peer.pid == 0) Die("a peer process did not start");
  pollfd ready{listener, POLLIN, 0};
  if (poll(&ready, 1, kWaitSeconds * 1000) != 1) Die("a peer process did not connect in time");
  peer.fd = accept(listener, nullptr, nullptr);
  SetTimeouts(peer.fd);
  return peer;
}

void StopPeer(Peer* peer) {
  close(peer->fd);
  hlx::os::Os().terminateProcess(peer->pid);
  hlx::os::Os().waitProcess(peer->pid);
}

// One request and its reply (events in between are passed over); the reply's body.
std::string Ask(Peer* peer, uint32_t command, const std::string& request) {
  const uint64_t id = peer->nextId++;
  hlx::IPCPacketHeader header;
  std::string body;
  if (!WriteAll(peer->fd, Packet(id, command, 0, request))) Die("a peer stopped reading");
  do {
    if (!ReadPacket(peer->fd, &header, &body)) Die("a peer stopped answering (or did not answer in time)");
  } while (header.id != id);
  return body;
}

// Median microseconds of one round of round trips of request `command`.
double RoundTripMicros(Peer* peer, uint32_t command = 600) {
  std::vector<double> micros(kRoundTripsPerRound);
  for (double& each : micros) {
    const auto sent = Clock::now();
    Ask(peer, command, kUnknownDeviceRequest);
    each = std::chrono::duration<double, std::micro>(Clock::now() - sent).count();
  }
  std::nth_element(micros.begin(), micros.begin() + kRoundTripsPerRound / 2, micros.end());
  return micros[kRoundTripsPerRound / 2];
}

double MiBPerSecond(size_t bytes, double seconds) { return bytes / seconds / (1024.0 * 1024.0); }

// The baseline of the compressed path: the same JSON compressed here with the service's compressor
// and sent as one packet to the echo process, until its answer; uncompressed MiB/s.
double CompressedAndSent(Peer* echo, const std::string& json) {
  std::string compressed;
  const auto start = Clock::now();
  for (int i = 0; i < kRepliesPerRound; ++i) {
    compressed.clear();
    if (!hlx::ZlibCompress(compressed, json.data(), json.size())) Die("compression failed");
    Ask(echo, 9001, compressed);
  }
  return MiBPerSecond(json.size() * kRepliesPerRound, Seconds(start));
}

// Uncompressed MiB/s of JSON replies through Harlix's compressed path.
double CompressedReplies(Peer* peer) {
  const auto start = Clock::now();
  for (int i = 0; i < kRepliesPerRound; ++i) Ask(peer, 9001, kJsonReplyRequest);
  return MiBPerSecond(kReplyBytes * kRepliesPerRound, Seconds(start));
}

using Compressor = std::function<bool(std::string* out, const char* data, size_t length)>;

// What one pass of a compressor over a corpus costs, in seconds per MiB of input.
struct PassCost {
  double compress = 0;
  double inflate = 0;  // the peer's part: zlib's inflate of the compressor's output
};

// Compresses every piece of `corpus` on its own (as one reply's data part), `passes` times, then
// inflates the last pass's outputs with zlib as the peer does, `passes` times as well; each inflated
// piece must be the very bytes compressed. `size` gets the output bytes of one pass.
PassCost CompressAndInflate(const Compressor& compress, const std::vector<std::string>& corpus, int passes,
                            size_t* size) {
  std::vector<std::string> outputs(corpus.size());
  size_t input = 0;
  auto start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    for (size_t piece = 0; piece < corpus.size(); ++piece) {
      outputs[piece].clear();
      if (!compress(&outputs[piece], corpus[piece].data(), corpus[piece].size())) Die("compression failed");
      input += corpus[piece].size();
    }
  }
  const double mib = input / (1024.0 * 1024.0);
  PassCost cost;
  cost.compress = Seconds(start) / mib;
  *size = 0;
  for (const std::string& output : outputs) *size += output.size();
  std::string inflated;
  auto inflate = [&](size_t piece) {
    uLongf length = corpus[piece].size();
    inflated.resize(std::max<size_t>(length, 1));
    return uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                      reinterpret_cast<const Bytef*>(outputs[piece].data()), outputs[piece].size()) == Z_OK &&
           length == corpus[piece].size();
  };
  start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    for (size_t piece = 0; piece < corpus.size(); ++piece) {
      if (!inflate(piece)) Die("a compressed piece does not inflate");
    }
  }
  cost.inflate = Seconds(start) / mib;
  // Checked after the clock stopped: the peer sees the very bytes compressed.
  for (size_t piece = 0; piece < corpus.size(); ++piece) {
    if (!inflate(piece) || inflated.compare(0, corpus[piece].size(), corpus[piece]) != 0) {
      Die("a compressed piece does not inflate to the bytes compressed");
    }
  }
  return cost;
}

// The files of `folder` in name order, each one piece of the corpus.
std::vector<std::string> ReadCorpus(const std::string& folder) {
  std::vector<std::filesystem::path> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path());
  }
  if (error) Die("the replies folder could not be read");
  std::sort(names.begin(), names.end());
  std::vector<std::string> corpus;
  for (const auto& name : names) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file) Die("a reply file could not be read");
    corpus.push_back(bytes.str());
  }
  if (corpus.empty()) Die("the replies folder is empty");
  return corpus;
}

size_t TotalBytes(const std::vector<std::string>& corpus) {
  size_t total = 0;
  for (const std::string& piece : corpus) total += piece.size();
  return total;
}

struct Series {
  std::vector<double> values;  // values[0] is the cold round
  double Cold() const { return values.front(); }
  std::vector<double> Warm() const {
    return values.size() > 1 ? std::vector<double>(values.begin() + 1, values.end()) : values;
  }
  double Median() const {
    std::vector<double> warm = Warm();
    std::sort(warm.begin(), warm.end());
    return warm.size() % 2 ? warm[warm.size() / 2] : (warm[warm.size() / 2 - 1] + warm[warm.size() / 2]) / 2;
  }
  double Min() const { std::vector<double> w = Warm(); return *std::min_element(w.begin(), w.end()); }
  double Max() const { std::vector<double> w = Warm(); return *std::max_element(w.begin(), w.end()); }
  std::string Text(const char* unit) const {
    char line[160];
    std::snprintf(line, sizeof(line), "median %.1f %s (min %.1f, max %.1f; cold %.1f)", Median(), unit, Min(), Max(),
                  Cold());
    return line;
  }
};

// The one-minute load average: how busy the machine was, which sways where the scheduler puts the
// round trips' threads when they are not pinned.
double LoadAverage() {
  double load = -1;
  if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(file, "%lf", &load) != 1) load = -1;
    std::fclose(file);
  }
  return load;
}

// Every round trip at most this many times its echo's (warm medians).
constexpr double kAimRatio = 1.2;

bool PrintAim(const char* what, bool met) {
  std::printf("  aim: %s: %s\n", what, met ? "met" : "not met");
  return met;
}

// The median of one pass of the service's compressor over the files of `folder` (CPU seconds of
// this thread, five passes) and their bytes, printed for the Python benchmarks, which set it beside
// the service's CPU time for the listing that sent those replies. In the service a reply's data part
// and the compressor's tables are seldom in the CPU's caches (a listing writes all its batches
// before it sends them, and other threads run in between), so before each piece the caches are
// filled with other bytes (not timed) and each piece is compressed from memory, as there.
int PrintCompressSeconds(const std::string& folder) {
  const std::vector<std::string> corpus = ReadCorpus(folder);
  std::vector<char> other(size_t{64} << 20);
  std::vector<double> seconds;
  std::string out;
  auto now = [] {
    timespec at{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &at);
    return at.tv_sec + at.tv_nsec / 1e9;
  };
  for (int pass = 0; pass < 5; ++pass) {
    double total = 0;
    for (const std::string& piece : corpus) {
      std::memset(other.data(), pass + 1, other.size());
      out.clear();
      const double start = now();
      if (!hlx::ZlibCompress(out, piece.data(), piece.size())) Die("compression failed");
      total += now() - start;
    }
    seconds.push_back(total);
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.6f %zu\n", seconds[seconds.size() / 2], TotalBytes(corpus));
  return 0;
}

// Where the round-trip processes run: the peers get `peers` (inherited from this process when
// they start), this process `self` once they have started.
struct Placement {
  std::string name;
  cpu_set_t peers;
  cpu_set_t self;
  bool judged;
  // Unpinned rounds come in two speeds, by the scheduler's choice (see the output): more of them,
  // so that the medians do not hang on which speed two or three rounds happened to get.
  int roundsFactor = 1;
};

void SetAffinity(const cpu_set_t& cpus) {
  if (sched_setaffinity(0, sizeof(cpus), &cpus) != 0) Die("sched_setaffinity failed");
}

struct RoundTrips {
  Series harlix600, poolEcho600, harlix100, poolEcho100, echo;
};

// With `workerRounds` false only request 600 and the plain echo are measured, in fresh processes:
// a Harlix whose receive thread never hands a packet to a worker.
RoundTrips MeasureRoundTrips(const Placement& placement, int rounds,
                             const std::function<Peer(const std::vector<std::string>&)>& start,
                             const std::vector<std::string>& harlixArgv, const std::string& self,
                             const std::string& port, bool workerRounds = true) {
  SetAffinity(placement.peers);
  Peer harlix = start(harlixArgv);
  Peer echo = start({self, "--echo", port});
  Peer poolEcho = start({self, "--pool-echo", port});
  SetAffinity(placement.self);
  RoundTrips result;
  std::vector<std::function<void()>> steps = {
      [&] { result.harlix600.values.push_back(RoundTripMicros(&harlix)); },
      [&] { result.echo.values.push_back(RoundTripMicros(&echo)); },
  };
  if (workerRounds) {
    steps.insert(steps.begin() + 1, [&] { result.poolEcho600.values.push_back(RoundTripMicros(&poolEcho)); });
    steps.insert(steps.begin() + 2, [&] { result.harlix100.values.push_back(RoundTripMicros(&harlix, 100)); });
    steps.insert(steps.begin() + 3, [&] { result.poolEcho100.values.push_back(RoundTripMicros(&poolEcho, 100)); });
  }
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      for (auto& step : steps) step();
    } else {
      for (auto it = steps.rbegin(); it != steps.rend(); ++it) (*it)();
    }
  }
  StopPeer(&harlix);
  StopPeer(&echo);
  StopPeer(&poolEcho);
  return result;
}

// Prints one placement's round trips; true when its aims are met (or it is not judged).
bool PrintRoundTrips(const Placement& placement, const RoundTrips& trips) {
  std::printf("  placement: %s, %zu rounds\n", placement.name.c_str(), trips.harlix600.values.size());
  std::printf("    request 600, Harlix (receive thread):  %s\n", trips.harlix600.Text("us").c_str());
  std::printf("    a plain echo, never handing over:      %s\n", trips.echo.Text("us").c_str());
  const double direct = trips.harlix600.Median() / trips.echo.Median();
  std::printf("    ratio %.2f warm, %.2f cold\n", direct, trips.harlix600.Cold() / trips.echo.Cold());
  std::printf("    request 100, Harlix (a worker thread): %s\n", trips.harlix100.Text("us").c_str());
  std::printf("    the pool echo's pool thread:           %s\n", trips.poolEcho100.Text("us").c_str());
  const double worker = trips.harlix100.Median() / trips.poolEcho100.Median();
  std::printf("    ratio %.2f warm, %.2f cold\n", worker, trips.harlix100.Cold() / trips.poolEcho100.Cold());
  std::printf("    the pool echo's receive thread, 600:   %s (request 600 %.2fx it; shown, not judged)\n",
              trips.poolEcho600.Text("us").c_str(), trips.harlix600.Median() / trips.poolEcho600.Median());
  if (!placement.judged) return true;
  bool met = PrintAim(("request 600 at most 1.2x the plain echo, " + placement.name).c_str(), direct <= kAimRatio);
  met &= PrintAim(("request 100 at most 1.2x the pool echo's pool thread, " + placement.name).c_str(),
                  worker <= kAimRatio);
  return met;
}

// Each warm round of `unpinned` set beside the figures with every process on one CPU and with this
// process apart from the peers: the nearer of the two, on a log scale, names the round.
void PrintUnpinnedRounds(const char* what, const Series& unpinned, const Series& oneCpu, const Series& apart) {
  const std::vector<double> warm = unpinned.Warm();
  int nearApart = 0;
  std::string list;
  for (double value : warm) {
    const bool isApart = std::abs(std::log(value / apart.Median())) < std::abs(std::log(value / oneCpu.Median()));
    nearApart += isApart;
    char item[32];
    std::snprintf(item, sizeof(item), " %.1f%s", value, isApart ? "*" : "");
    list += item;
  }
  std::printf("    %s: warm rounds, us:%s; %d of %zu nearer the CPUs-apart figure %.1f us (*) than the one-CPU "
              "figure %.1f us\n",
              what, list.c_str(), nearApart, warm.size(), apart.Median(), oneCpu.Median());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--echo") == 0) return RunEcho(std::atoi(argv[2]));
  if (argc == 3 && std::strcmp(argv[1], "--pool-echo") == 0) return RunPoolEcho(std::atoi(argv[2]));
  if (argc == 3 && std::strcmp(argv[1], "--compress-seconds") == 0) return PrintCompressSeconds(argv[2]);
  std::vector<std::string> realReplies;
  if (argc >= 3 && std::strcmp(argv[1], "--replies") == 0) {
    realReplies = ReadCorpus(argv[2]);
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--replies DIR] <Harlix> [rounds]\n", argv[0]);
    return 2;
  }
  const int rounds = std::max(2, argc > 2 ? std::atoi(argv[2]) : 7);
  alarm(1800);  // the whole run, whatever happens

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    Die("no loopback listener");
  }
  const std::string port = std::to_string(ntohs(address.sin_port));
  const std::string self = std::to_string(getpid());
  setenv("HLX_TEST_MODULES", "1", 1);
  // Positional command line: port, watched pid, console, self test, logging, version, log folder...
  auto harlixArgv = [&](const char* logging) {
    return std::vector<std::string>{argv[1], port, self, "0", "0", logging, "bench", "BenchLogs", "Bench", "0"};
  };
  auto start = [&](const std::vector<std::string>& peerArgv) { return StartPeer(listener, peerArgv); };

  // The placements, on the first two CPUs this process may use.
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) Die("sched_getaffinity failed");
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
  }
  if (cpus.size() < 2) Die("the placements need two CPUs");
  cpu_set_t first, second, both;
  CPU_ZERO(&first);
  CPU_ZERO(&second);
  CPU_ZERO(&both);
  CPU_SET(cpus[0], &first);
  CPU_SET(cpus[1], &second);
  CPU_SET(cpus[0], &both);
  CPU_SET(cpus[1], &both);
  const std::string a = std::to_string(cpus[0]), b = std::to_string(cpus[1]);
  const std::vector<Placement> placements = {
      {"unpinned", allowed, allowed, true, 3},
      {"one CPU (" + a + ")", first, first, true},
      {"two CPUs (" + a + "," + b + ")", both, both, true},
      {"peers on CPU " + b + ", this process on CPU " + a + " (shown, not judged)", second, first, false},
  };
  const double loadBefore = LoadAverage();
  std::vector<RoundTrips> trips;
  for (const Placement& placement : placements) {
    trips.push_back(
        MeasureRoundTrips(placement, rounds * placement.roundsFactor, start, harlixArgv("0"), argv[0], port));
  }
  const RoundTrips noWorkerRounds =
      MeasureRoundTrips(placements[0], rounds, start, harlixArgv("0"), argv[0], port, false);
  const double loadAfter = LoadAverage();
  SetAffinity(allowed);

  Peer logged = start(harlixArgv("1"));
  Peer echo = start({argv[0], "--echo", port});
  const std::string& json = hlx::TestProbeJson();
  {
    // The peer must see the very bytes after inflating.
    std::string body = Ask(&logged, 9001, kJsonReplyRequest);
    const size_t dataStart = body.find('\0', body.find('\0') + 1) + 1;
    std::string inflated;
    if (hlx::ZlibInflate(inflated, body.data() + dataStart, body.size() - dataStart, kReplyBytes * 2) !=
            hlx::InflateResult::kOk ||
        inflated != json.substr(0, kReplyBytes)) {
      Die("the compressed reply does not inflate to the JSON that was sent");
    }
  }

  Series harlixReplies, sentReplies, alone, level9, realAlone, realLevel9;
  Series aloneInflate, level9Inflate, realAloneInflate, realLevel9Inflate;
  size_t serviceSize = 0, level9Size = 0, realServiceSize = 0, realLevel9Size = 0;
  const std::vector<std::string> synthetic = {json.substr(0, kReplyBytes)};
  // The real replies are passed over until about as many bytes as the synthetic runs compress.
  const int realPasses =
      realReplies.empty() ? 0 : std::max<int>(1, kReplyBytes * kRepliesPerRound / TotalBytes(realReplies));
  const Compressor serviceCompress = [](std::string* out, const char* data, size_t length) {
    return hlx::ZlibCompress(*out, data, length);
  };
  const Compressor level9Compress = [](std::string* out, const char* data, size_t length) {
    uLongf outLength = compressBound(length);
    out->resize(outLength);
    const bool ok = compress2(reinterpret_cast<Bytef*>(out->data()), &outLength,
                              reinterpret_cast<const Bytef*>(data), length, 9) == Z_OK;
    out->resize(outLength);
    return ok;
  };
  // Series of seconds per MiB: compression alone, and the inflation beside it.
  auto measure = [](Series* compressCost, Series* inflateCost, const Compressor& compress,
                    const std::vector<std::string>& corpus, int passes, size_t* outSize) {
    const PassCost cost = CompressAndInflate(compress, corpus, passes, outSize);
    compressCost->values.push_back(cost.compress);
    inflateCost->values.push_back(cost.inflate);
  };
  std::vector<std::function<void()>> steps = {
      [&] { harlixReplies.values.push_back(CompressedReplies(&logged)); },
      [&] { sentReplies.values.push_back(CompressedAndSent(&echo, synthetic[0])); },
      [&] { measure(&alone, &aloneInflate, serviceCompress, synthetic, kRepliesPerRound, &serviceSize); },
      [&] { measure(&level9, &level9Inflate, level9Compress, synthetic, kRepliesPerRound, &level9Size); },
  };
  if (!realReplies.empty()) {
    steps.push_back(
        [&] { measure(&realAlone, &realAloneInflate, serviceCompress, realReplies, realPasses, &realServiceSize); });
    steps.push_back(
        [&] { measure(&realLevel9, &realLevel9Inflate, level9Compress, realReplies, realPasses, &realLevel9Size); });
  }
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      for (auto& step : steps) step();
    } else {
      for (auto it = steps.rbegin(); it != steps.rend(); ++it) (*it)();
    }
  }
  StopPeer(&logged);
  StopPeer(&echo);

  bool allMet = true;
  std::printf("bench_ipc: %d rounds (the first cold; %d unpinned), order turning each round; %d round trips a round\n",
              rounds, rounds * placements[0].roundsFactor, kRoundTripsPerRound);
  for (size_t i = 0; i < placements.size(); ++i) allMet &= PrintRoundTrips(placements[i], trips[i]);
  std::printf("  the unpinned placement's slow rounds, set beside the pinned figures:\n");
  PrintUnpinnedRounds("plain echo", trips[0].echo, trips[1].echo, trips[3].echo);
  PrintUnpinnedRounds("request 600", trips[0].harlix600, trips[1].harlix600, trips[3].harlix600);
  PrintUnpinnedRounds("pool echo, 600", trips[0].poolEcho600, trips[1].poolEcho600, trips[3].poolEcho600);
  PrintUnpinnedRounds("request 100", trips[0].harlix100, trips[1].harlix100, trips[3].harlix100);
  PrintUnpinnedRounds("pool echo, 100", trips[0].poolEcho100, trips[1].poolEcho100, trips[3].poolEcho100);
  std::printf("    (a round marked * costs about what the placement with the peers on one CPU and this process on "
              "another costs, where every hop wakes a thread on another CPU; the others cost what one CPU does)\n");
  std::printf("    unpinned, fresh processes, no worker rounds: request 600 %s; plain echo %s; ratio %.2f\n",
              noWorkerRounds.harlix600.Text("us").c_str(), noWorkerRounds.echo.Text("us").c_str(),
              noWorkerRounds.harlix600.Median() / noWorkerRounds.echo.Median());
  std::printf(
      "    why: per request 600 Harlix, the pool echo and the plain echo each make two wake-ups (this process's\n"
      "    send wakes the receive thread, its reply wakes this process); per request 100 Harlix and the pool\n"
      "    echo make three (the receive thread wakes one worker, the worker's reply wakes this process), and\n"
      "    Harlix wakes no other thread per request. A round is slow when this process and the thread it wakes\n"
      "    sit on different CPUs: every wake-up then crosses CPUs, several microseconds each on this virtual\n"
      "    machine, whose idle CPUs halt. The scheduler puts a woken thread back on the CPU it last ran on when\n"
      "    that CPU is idle, so either state lasts, round after round; how often the two come to share a CPU\n"
      "    depends on how many CPUs are idle, that is on the machine's load (printed below). A hand-off to a\n"
      "    worker parts them: the receive thread is still running when it wakes the worker, so the worker often\n"
      "    starts on another, idle CPU, and its reply wakes this process there, apart from the receive thread;\n"
      "    the request-600 rounds after worker rounds inherit that. A receive thread that never hands a packet\n"
      "    over is parted less often: the plain echo, and the line above, request 600 in a Harlix that answers\n"
      "    no worker requests beside the plain echo in the same rounds. Request 600 is judged against the plain\n"
      "    echo all the same: the pool echo's receive thread, which hands request 100 to its pool between its\n"
      "    rounds as Harlix does, shows what of the gap that hand-off explains.\n");
  std::printf("    load average (1 minute) before the round trips %.2f, after them %.2f, on %ld CPUs\n", loadBefore,
              loadAfter, sysconf(_SC_NPROCESSORS_ONLN));

  // Seconds per MiB as MiB/s, for the lines below.
  auto rate = [](const Series& cost) {
    Series result;
    for (double value : cost.values) result.values.push_back(1 / value);
    return result;
  };
  auto sum = [](const Series& x, const Series& y) {
    Series result;
    for (size_t i = 0; i < x.values.size(); ++i) result.values.push_back(x.values[i] + y.values[i]);
    return result;
  };
  std::printf("  1 MiB JSON replies, Harlix (logging on), compressed path: %s\n", harlixReplies.Text("MiB/s").c_str());
  std::printf("  compressed here and sent to the echo process:            %s\n", sentReplies.Text("MiB/s").c_str());
  std::printf("  the service's compressor alone on the same bytes:         %s (no aim)\n",
              rate(alone).Text("MiB/s").c_str());
  const double pathShare = harlixReplies.Median() / sentReplies.Median();
  std::printf("  share %.0f%% of compressing and sending (%.0f%% of the compressor alone)\n", 100 * pathShare,
              100 * harlixReplies.Median() / rate(alone).Median());
  allMet &= PrintAim("compressed reply path at least 80% of compressing and sending the same bytes", pathShare >= 0.8);

  auto toMs = [](const Series& cost) {
    Series result;
    for (double value : cost.values) result.values.push_back(1000 * value);
    return result;
  };
  // Judged on the service's own replies when there are any, else on the synthetic JSON.
  double costRatio = 0, growth = 0;
  auto report = [&](const char* title, const Series& compress1, const Series& inflate1, const Series& compress9,
                    const Series& inflate9, size_t size1, size_t size9) {
    const Series total1 = sum(compress1, inflate1), total9 = sum(compress9, inflate9);
    std::printf("  %s:\n", title);
    std::printf("    the service's compressor: %s, %zu bytes; the peer's inflate %s\n",
                rate(compress1).Text("MiB/s").c_str(), size1, rate(inflate1).Text("MiB/s").c_str());
    std::printf("    zlib level 9:             %s, %zu bytes; the peer's inflate %s\n",
                rate(compress9).Text("MiB/s").c_str(), size9, rate(inflate9).Text("MiB/s").c_str());
    std::printf("    compressing and inflating, ms per MiB: the service's %s; level 9 %s\n",
                toMs(total1).Text("ms").c_str(), toMs(total9).Text("ms").c_str());
    costRatio = total9.Median() / total1.Median();
    growth = static_cast<double>(size1) / size9;
    std::printf("    %.2fx cheaper than level 9 (min/max pairing: %.2fx to %.2fx; compression alone %.2fx), output "
                "%.1f%% of level 9's\n",
                costRatio, total9.Min() / total1.Max(), total9.Max() / total1.Min(),
                compress9.Median() / compress1.Median(), 100 * growth);
  };
  report("synthetic contact-like JSON, 1 MiB", alone, aloneInflate, level9, level9Inflate, serviceSize, level9Size);
  if (!realReplies.empty()) {
    char title[160];
    std::snprintf(title, sizeof(title),
                  "the service's own replies: %zu data parts, %zu bytes in all, %d passes a round", realReplies.size(),
                  TotalBytes(realReplies), realPasses);
    report(title, realAlone, realAloneInflate, realLevel9, realLevel9Inflate, realServiceSize, realLevel9Size);
  }
  const char* corpus = realReplies.empty() ? "synthetic JSON" : "the service's own replies";
  std::printf("  compressor aims judged on %s\n", corpus);
  allMet &= PrintAim("compressing plus the peer's inflating at least 5x cheaper per MiB than zlib level 9",
                     costRatio >= 5);
  allMet &= PrintAim("output at most 150% of level 9's", growth <= 1.50);
  return allMet ? 0 : 1;
}
