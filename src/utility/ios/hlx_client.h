// The service's one link to its peers. It owns the desktop channel (it connects to the desktop
// peer at start-up) and the helper channel (it listens for an elevated helper instance of itself),
// turns every packet into a pool task that runs the module registered for the packet's command,
// sends every reply, and reports device events and status packets to the desktop.
//
// Threads: packet callbacks run on the desktop channel's receive thread and the helper channel's
// dispatch thread and only queue pool tasks (request 600 excepted: it runs there, see
// OnDesktopPacket); replies are sent from the workers and the device-notification thread. The
// client mutex serialises every send through the client, so the header, text and data part of one
// reply never interleave with another reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_reply_sink.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {

class HLXClient : public HLXDeviceCallback, public ReplySink {
 public:
  // Commands of device-event packets.
  static constexpr uint32_t kEventDeviceReady = 1;
  static constexpr uint32_t kEventDeviceRemoved = 8;
  // Command of the report of a device that could not be brought to ready.
  static constexpr uint32_t kDeviceErrorReport = 12;
  static constexpr int kConnectAttempts = 11;

  static HLXClient& GetInstance();

  // Connects to the desktop peer at the command line's port: up to 11 attempts, the connect interval
  // apart (a quit cuts the wait short). False when the port is 0 or every attempt failed.
  bool Connect();

  // Sends a reply on every outgoing connection of the desktop channel: the record's text and data
  // part (zlib-compressed when its type is 0) in a packet with the given packet's id, command and
  // status. -1 when the desktop channel has no connection, else 0. A data part that cannot be
  // compressed turns the reply into a failed one (code 2, status 6) without data.
  int SendReply(const ReplyRecord& record, const IPCPacket1& packet) override;

  // Helper channel (used by the connect module).
  bool IsHelperChannelIdle() const;
  // Listens for the helper on a port the system chooses; true also when listening already. Calls at
  // the same time listen once: all of them then see the one HelperPort.
  bool ListenForHelper();
  int32_t HelperPort() const { return m_helperPort; }
  // Sends a packet on every accepted connection of the helper channel, under the client mutex.
  void SendToHelper(const IPCPacket1& packet);
  // Keeps a request until the helper connects; it then runs in arrival order.
  void AddPendingRequest(std::unique_ptr<IPCPacket1> packet);
  // Keeps a request for a helper that is about to connect. When no request waits yet, `startHelper`
  // runs first, under the client mutex, so that a helper connecting at once cannot drain the queue
  // before the request is in it; when requests wait already, a helper is on its way and none is
  // started. When nothing waits and a helper is connected already (it connected after the caller
  // found the channel idle), none is started either: the request runs again as a pool task. False
  // (nothing queued) when `startHelper` failed.
  bool QueueForHelper(const std::function<bool()>& startHelper, std::unique_ptr<IPCPacket1> packet);

  void OnDeviceEvent(const std::shared_ptr<HLXDevice>& device, int event) override;

  vnl::IPCPacketChannel& DesktopChannel() { return m_desktop; }

 private:
  HLXClient();
  // Sends the packet (its body is the reply text) with the data part after it on every outgoing
  // desktop connection.
  int SendOnChannel(IPCPacket1 packet, const void* data, size_t dataLength);

  // Its callback only queues requests for the workers (and marks cancels), so it runs on the
  // receive thread: a request wakes one thread less on its way in.
  vnl::IPCPacketChannel m_desktop{vnl::IPCPacketChannel::Dispatch::kReceiveThread};
  vnl::IPCPacketChannel m_helper;
  std::atomic<int32_t> m_helperPort{0};  // written under m_mutex, read by any thread

  mutable std::mutex m_mutex;
  // guards: m_pending, and all sends through the client
  std::deque<std::unique_ptr<IPCPacket1>> m_pending;
};

// Status packets to the desktop (id 0, status 1, no data part).
void ReportMonitorStatus(int32_t code);
void ReportDeviceStatus(uint64_t deviceHandle, uint32_t status);
// A device that could not be brought to ready: command 12, code the device handle, uuid its UDID,
// info the device code as a JSON string, data {"DeviceName": ...}.
void ReportDeviceError(const HLXDevice& device, int32_t code);

// Pool tasks: run the module that owns the packet's command (requests from the desktop, or
// packets that came back from the helper). A request whose code has no module gets a final reply
// with code 2, so the peer never waits for one; close records get none.
void RunRequestTask(std::unique_ptr<IPCPacket1> packet);
void RunHelperPacketTask(std::unique_ptr<IPCPacket1> packet);

}  // namespace hlx
