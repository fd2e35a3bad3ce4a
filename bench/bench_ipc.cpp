// Round trip and reply throughput through the real Harlix process, each beside a baseline that
// moves the same bytes over a plain loopback socket echo in the same run.
//
//   bench_ipc <path to Harlix> [round trips] [1 MiB replies]
//
// Round trip: request 600 for an unknown device (the cheapest request there is), one at a time; the
// baseline is a thread that answers each request packet with the same reply bytes at once.
// Throughput: requests for a 1 MiB raw data reply from the test probe module; the baseline answers
// each request with the same 1 MiB reply.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_packet.h"
#include "utility/hlx_reply.h"

namespace {

using Clock = std::chrono::steady_clock;

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

int ListenLoopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string RequestBody(const std::string& json) { return std::string("1\0", 2) + json + std::string("\0", 1); }

std::string ReplyBody(int64_t code, const char* uuid, const std::string& data, int32_t type) {
  hlx::ReplyRecord record;
  record.code = code;
  record.uuid = uuid;
  record.type = type;
  record.data = reinterpret_cast<const uint8_t*>(data.data());
  record.dataLength = static_cast<int64_t>(data.size());
  return hlx::ReplyRecord::Serialize(record);
}

// The baseline peer: answers every packet it reads with a fixed reply at once.
void EchoServer(int listener, std::string reply) {
  int fd = accept(listener, nullptr, nullptr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  hlx::IPCPacketHeader header;
  std::string body;
  while (ReadPacket(fd, &header, &body)) {
    if (!WriteAll(fd, Packet(header.id, header.command, 1, reply))) break;
  }
  close(fd);
}

struct RunResult {
  double medianMicros = 0;
  double mibPerSecond = 0;
};

RunResult RoundTrips(int fd, uint32_t command, const std::string& requestBody, int count) {
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(count));
  hlx::IPCPacketHeader header;
  std::string body;
  uint64_t bytes = 0;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const auto sent = Clock::now();
    if (!WriteAll(fd, Packet(static_cast<uint64_t>(i + 1), command, 0, requestBody)) ||
        !ReadPacket(fd, &header, &body)) {
      std::fprintf(stderr, "connection lost after %d requests\n", i);
      std::exit(1);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    bytes += hlx::kPacketHeaderSize + body.size();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], bytes / seconds / (1024.0 * 1024.0)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <Harlix> [round trips] [1 MiB replies]\n", argv[0]);
    return 2;
  }
  const int roundTrips = argc > 2 ? std::atoi(argv[2]) : 20000;
  const int bigReplies = argc > 3 ? std::atoi(argv[3]) : 300;
  const std::string cancelBody = RequestBody("{\"uuid\":\"bench-unknown\",\"code\":1}");
  const std::string bigBody = RequestBody("{\"size\":1048576,\"type\":1}");

  // Harlix, with the test probe module for the data replies.
  int port = 0;
  int listener = ListenLoopback(&port);
  setenv("HLX_TEST_MODULES", "1", 1);
  hlx::os::SpawnResult harlix = hlx::os::Os().spawnProcess(
      {argv[1], std::to_string(port), std::to_string(getpid()), "0", "0", "0", "bench", "BenchLogs", "Bench",
       "0"},
      hlx::os::SpawnOptions{});
  if (harlix.pid == 0) {
    std::fprintf(stderr, "Harlix did not start\n");
    return 1;
  }
  int fd = accept(listener, nullptr, nullptr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  RoundTrips(fd, 600, cancelBody, 500);   // warm-up
  RoundTrips(fd, 9001, bigBody, 5);        // warm-up: the probe makes its pattern bytes once
  RunResult harlixRtt = RoundTrips(fd, 600, cancelBody, roundTrips);
  RunResult harlixBig = RoundTrips(fd, 9001, bigBody, bigReplies);
  close(fd);
  close(listener);
  hlx::os::Os().terminateProcess(harlix.pid);

  // The baselines: the same bytes through a plain echo peer.
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7) ^ (i >> 8));
  RunResult plainRtt;
  RunResult plainBig;
  for (int pass = 0; pass < 2; ++pass) {
    int echoPort = 0;
    int echoListener = ListenLoopback(&echoPort);
    std::string reply = pass == 0 ? ReplyBody(7, "bench-unknown", "", 0) : ReplyBody(0, "", data, 1);
    std::thread server(EchoServer, echoListener, reply);
    int client = ConnectLoopback(echoPort);
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (pass == 0) {
      RoundTrips(client, 600, cancelBody, 500);
      plainRtt = RoundTrips(client, 600, cancelBody, roundTrips);
    } else {
      RoundTrips(client, 9001, bigBody, 5);
      plainBig = RoundTrips(client, 9001, bigBody, bigReplies);
    }
    close(client);
    server.join();
    close(echoListener);
  }

  std::printf("round trip median: Harlix %.1f us, plain socket echo %.1f us, ratio %.2f (aim: Harlix under 100 us)\n",
              harlixRtt.medianMicros, plainRtt.medianMicros, harlixRtt.medianMicros / plainRtt.medianMicros);
  std::printf("1 MiB replies: Harlix %.0f MiB/s, plain socket echo %.0f MiB/s, ratio %.0f%% (aim: 80%% or more)\n",
              harlixBig.mibPerSecond, plainBig.mibPerSecond, 100.0 * harlixBig.mibPerSecond / plainBig.mibPerSecond);
  return 0;
}
