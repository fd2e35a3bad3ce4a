// Round trip and compressed replies through the real Harlix process, each beside a baseline
// measured in the same run.
//
//   bench_ipc [--replies DIR] <path to Harlix> [rounds, default 7]
//   bench_ipc --echo <port>      the baseline peer (started by the benchmark itself)
//
// Round trip: request 600 for an unknown device (the cheapest request there is, answered where it
// is received), one at a time, against Harlix with logging off and against a plain echo peer in a
// process of its own that answers each request packet with the same reply bytes at once; then
// request 100 for an unknown device, which goes through a worker thread like every feature request. Compressed replies: 1 MiB of contact-like
// JSON from the test probe module (request 9001, data type 0), through Harlix with logging on as the
// desktop starts it, beside compressing the same bytes alone with the service's compressor in this
// process. The compressor itself is compared with zlib level 9 on the same JSON, and, given --replies,
// on the service's own replies: the inflated data parts of a real listing, one file each (as
// bench_contacts.py --save-replies writes them), each compressed on its own as the service does.
// The compressor's aim is judged on the real replies when there are any.
//
// Every participant runs once per round, the order turning each round; the first round is reported
// apart as the cold one, the others give medians with min and max. Every socket wait has a time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
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

// The baseline peer: connects like Harlix does and answers every packet at once with the reply
// Harlix gives to an unknown device.
int RunEcho(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return 1;
  SetTimeouts(fd);
  hlx::ReplyRecord record;
  record.code = 7;
  record.uuid = "bench-unknown";
  const std::string reply = hlx::ReplyRecord::Serialize(record);
  hlx::IPCPacketHeader header;
  std::string body;
  while (ReadPacket(fd, &header, &body)) {
    if (!WriteAll(fd, Packet(header.id, header.command, 1, reply))) break;
  }
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

// Uncompressed MiB/s of JSON replies through Harlix's compressed path.
double CompressedReplies(Peer* peer) {
  const auto start = Clock::now();
  for (int i = 0; i < kRepliesPerRound; ++i) Ask(peer, 9001, kJsonReplyRequest);
  return MiBPerSecond(kReplyBytes * kRepliesPerRound, Seconds(start));
}

using Compressor = std::function<bool(std::string* out, const char* data, size_t length)>;

// MiB/s of a compressor alone on a corpus (each piece compressed on its own, as one reply's data part),
// passed over `passes` times; `size` gets the output bytes of one pass.
double CompressAlone(const Compressor& compress, const std::vector<std::string>& corpus, int passes, size_t* size) {
  std::string out;
  size_t input = 0;
  const auto start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    *size = 0;
    for (const std::string& piece : corpus) {
      out.clear();
      if (!compress(&out, piece.data(), piece.size())) Die("compression failed");
      *size += out.size();
      input += piece.size();
    }
  }
  return MiBPerSecond(input, Seconds(start));
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

bool PrintAim(const char* what, bool met) {
  std::printf("  aim: %s: %s\n", what, met ? "met" : "not met");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--echo") == 0) return RunEcho(std::atoi(argv[2]));
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
  auto harlix = [&](const char* logging) {
    return StartPeer(listener, {argv[1], port, self, "0", "0", logging, "bench", "BenchLogs", "Bench", "0"});
  };
  Peer quiet = harlix("0");
  Peer logged = harlix("1");
  Peer echo = StartPeer(listener, {argv[0], "--echo", port});

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

  Series harlixRtt, workerRtt, echoRtt, harlixReplies, alone, level9, realAlone, realLevel9;
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
  std::vector<std::function<void()>> steps = {
      [&] { harlixRtt.values.push_back(RoundTripMicros(&quiet)); },
      [&] { workerRtt.values.push_back(RoundTripMicros(&quiet, 100)); },
      [&] { echoRtt.values.push_back(RoundTripMicros(&echo)); },
      [&] { harlixReplies.values.push_back(CompressedReplies(&logged)); },
      [&] { alone.values.push_back(CompressAlone(serviceCompress, synthetic, kRepliesPerRound, &serviceSize)); },
      [&] { level9.values.push_back(CompressAlone(level9Compress, synthetic, kRepliesPerRound, &level9Size)); },
  };
  if (!realReplies.empty()) {
    steps.push_back([&] {
      realAlone.values.push_back(CompressAlone(serviceCompress, realReplies, realPasses, &realServiceSize));
    });
    steps.push_back([&] {
      realLevel9.values.push_back(CompressAlone(level9Compress, realReplies, realPasses, &realLevel9Size));
    });
  }
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      for (auto& step : steps) step();
    } else {
      for (auto it = steps.rbegin(); it != steps.rend(); ++it) (*it)();
    }
  }
  StopPeer(&quiet);
  StopPeer(&logged);
  StopPeer(&echo);

  bool allMet = true;
  std::printf("bench_ipc: %d rounds (the first cold), order turning each round\n", rounds);
  std::printf("  round trip, Harlix (logging off): %s\n", harlixRtt.Text("us").c_str());
  std::printf("  round trip, echo process:         %s\n", echoRtt.Text("us").c_str());
  const double rttRatio = harlixRtt.Median() / echoRtt.Median();
  std::printf("  ratio %.2f warm, %.2f cold\n", rttRatio, harlixRtt.Cold() / echoRtt.Cold());
  allMet &= PrintAim("round trip median within 1.5x of the echo", rttRatio <= 1.5);
  std::printf("  round trip through a worker, Harlix (request 100): %s\n", workerRtt.Text("us").c_str());
  const double workerRatio = workerRtt.Median() / echoRtt.Median();
  // Shown beside the aim, not judged by it: the thread hand-over every feature request pays.
  std::printf("  ratio %.2f warm, %.2f cold\n", workerRatio, workerRtt.Cold() / echoRtt.Cold());

  std::printf("  1 MiB JSON replies, Harlix (logging on), compressed path: %s\n", harlixReplies.Text("MiB/s").c_str());
  std::printf("  the service's compressor alone on the same bytes:         %s\n", alone.Text("MiB/s").c_str());
  const double pathShare = harlixReplies.Median() / alone.Median();
  std::printf("  share %.0f%%\n", 100 * pathShare);
  allMet &= PrintAim("compressed reply path at least 80% of the compressor alone", pathShare >= 0.8);

  std::printf("  synthetic contact-like JSON, 1 MiB:\n");
  std::printf("    zlib level 9 on the same bytes: %s, %zu bytes; the service's compressor %zu bytes\n",
              level9.Text("MiB/s").c_str(), level9Size, serviceSize);
  double speedup = alone.Median() / level9.Median();
  double growth = static_cast<double>(serviceSize) / level9Size;
  std::printf("    speed %.1fx of level 9, output %.1f%% of level 9's\n", speedup, 100 * growth);
  if (!realReplies.empty()) {
    std::printf("  the service's own replies: %zu data parts, %zu bytes in all, %d passes a round:\n",
                realReplies.size(), TotalBytes(realReplies), realPasses);
    std::printf("    the service's compressor: %s, %zu bytes\n", realAlone.Text("MiB/s").c_str(), realServiceSize);
    std::printf("    zlib level 9:             %s, %zu bytes\n", realLevel9.Text("MiB/s").c_str(), realLevel9Size);
    speedup = realAlone.Median() / realLevel9.Median();
    growth = static_cast<double>(realServiceSize) / realLevel9Size;
    std::printf("    speed %.1fx of level 9 (min/max pairing: %.1fx to %.1fx), output %.1f%% of level 9's\n", speedup,
                realAlone.Min() / realLevel9.Max(), realAlone.Max() / realLevel9.Min(), 100 * growth);
  }
  const char* corpus = realReplies.empty() ? "synthetic JSON" : "the service's own replies";
  std::printf("  compressor aims judged on %s\n", corpus);
  allMet &= PrintAim("compressor at least 5x faster than zlib level 9", speedup >= 5);
  allMet &= PrintAim("output at most 10% larger than level 9's", growth <= 1.10);
  return allMet ? 0 : 1;
}
