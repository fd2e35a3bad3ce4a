// Client: connection to the desktop peer, dispatch of packets to modules, replies, device events.
#include "utility/ios/hlx_client.h"

#include "os/hlx_os.h"
#include "utility/hlx_device.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_module.h"
#include "utility/hlx_service.h"
#include "utility/hlx_startup_state.h"
#include "utility/hlx_text.h"
#include "utility/hlx_thread_pool.h"

namespace hlx {
namespace {

// Requests that query copies of device databases (messages, photos, the media library) can be held up
// by a hostile file for as long as their time bound allows: each such code of each device is a pool
// kind of its own, so that requests of one code for one device never hold more than half the
// workers, and a device whose listings wait behind one another never holds back another device's.
// The device is named by the request's "uuid", taken by its 32-bit FNV-1a hash (two devices whose
// hashes meet share one bound, nothing worse). Every other request is unbounded.
PoolTaskKind PoolKindOf(const IPCPacket1& packet) {
  const uint32_t command = packet.command;
  const bool queriesDatabase = command == kRequestListMessages ||
                               (command >= kRequestListPhotos && command <= kRequestPortableDeviceCheck) ||
                               (command >= kRequestMediaLibrary && command <= kRequestDeleteBooks);
  if (!queriesDatabase) return kNoKind;
  uint32_t device = 2166136261u;
  for (unsigned char c : RequestPayload::UuidOf(packet.body)) device = (device ^ c) * 16777619u;
  return static_cast<PoolTaskKind>(uint64_t{command} << 32 | device);
}

int OnDesktopPacket(std::unique_ptr<IPCPacket1> packet) {
  if (GetStartupState().quitting) return -2;
  if (packet->command == static_cast<uint32_t>(kRequestCancel)) {
    // A cancel only marks a task; running it here means it is never stuck behind ten busy workers.
    RunRequestTask(std::move(packet));
    return 0;
  }
  const PoolTaskKind kind = PoolKindOf(*packet);
  // Held shared until the task runs: a task the pool drops (at quit) frees its packet with it.
  auto held = std::make_shared<std::unique_ptr<IPCPacket1>>(std::move(packet));
  VNLThreadPool::GetInstance().AddTask([held] { RunRequestTask(std::move(*held)); }, kind);
  return 0;
}

int OnHelperPacket(std::unique_ptr<IPCPacket1> packet) {
  if (GetStartupState().quitting) return -2;
  // Relayed here, one at a time: a helper's progress and final replies must reach the desktop in the order
  // the helper sent them, which parallel workers would not keep.
  RunHelperPacketTask(std::move(packet));
  return 0;
}

std::string DeviceReadyInfo(const HLXDevice& device) {
  const DeviceProperties properties = device.Properties();
  const StartupState& state = GetStartupState();
  JsonTextWriter json;
  json->StartObject();
  json.Key("Model");
  json.String(properties.model.c_str());
  json.Key("FirmVersion");
  json.String(properties.productVersion.c_str());
  json.Key("Type");
  json.String(properties.deviceClass.c_str());
  json.Key("Data_FreeSize");
  json->Uint64(static_cast<uint64_t>(properties.freeBytes < 0 ? 0 : properties.freeBytes));
  json.Key("Data_PhysicalSize");
  json->Uint64(static_cast<uint64_t>(properties.totalBytes < 0 ? 0 : properties.totalBytes));
  json.Key("Pid");
  json->Uint64(static_cast<uint64_t>(os::Os().currentProcessId()));
  json.Key("TaskId");
  json->Int64(state.taskId);
  json.Key("SerialNumber");
  json.String(properties.serialNumber.c_str());
  json->EndObject();
  return json.Text();
}

std::string DeviceRemovedInfo() {
  JsonTextWriter json;
  json->StartObject();
  json.Key("PID");
  json->Uint64(static_cast<uint64_t>(os::Os().currentProcessId()));
  json->EndObject();
  return json.Text();
}

void SendStatusPacket(uint32_t command, uint64_t code) {
  ReplyRecord record;
  record.code = static_cast<int64_t>(code);
  record.uuid = "";
  IPCPacket1 packet;
  packet.command = command;
  packet.status = static_cast<uint16_t>(PacketStatus::kStatusReport);
  HLXClient::GetInstance().SendReply(record, packet);
}

void RunModule(std::unique_ptr<IPCPacket1> packet, bool fromHelper) {
  if (packet->IsCloseRecord()) return;
  HLXModule* module = ModuleRegistry::GetInstance().Find(static_cast<int32_t>(packet->command));
  if (!module) {
    HLX_LOG(WARNING) << "request " << packet->id << " has unknown code " << packet->command;
    if (!fromHelper) SendFinalReply(*packet, "", kReplyTaskError, nullptr);
    return;
  }
  // Feature modules log each request's one line themselves (hlx_feature_module.h).
  try {
    if (fromHelper) {
      module->HandleHelperRequest(*packet);
    } else {
      module->HandleRequest(*packet);
    }
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "request " << packet->id << " code " << packet->command << " failed: " << error.what();
  }
}

}  // namespace

HLXClient::HLXClient() {
  const int32_t heartbeatMs = GetStartupState().heartbeatIntervalMs;
  m_desktop.SetHeartbeatIntervalMs(heartbeatMs);
  m_helper.SetHeartbeatIntervalMs(heartbeatMs);
  SetReplySink(this);  // the client lives until the process ends
}

HLXClient& HLXClient::GetInstance() {
  static HLXClient* client = new HLXClient();  // lives until the process ends
  return *client;
}

bool HLXClient::Connect() {
  m_desktop.SetPacketCallback(OnDesktopPacket);
  const StartupState& state = GetStartupState();
  if (state.desktopPort == 0) {
    HLX_LOG(INFO) << "no desktop port: running without a peer";
    return false;
  }
  for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
    if (m_desktop.Connect(state.desktopPort)) {
      HLX_LOG(INFO) << "connected to the desktop peer on attempt " << attempt;
      return true;
    }
    HLX_LOG(WARNING) << "desktop connect attempt " << attempt << " of " << kConnectAttempts << " failed";
    if (attempt < kConnectAttempts && WaitForQuit(state.connectIntervalMs)) return false;
  }
  HLX_LOG(WARNING) << "no desktop peer after " << kConnectAttempts << " attempts";
  return false;
}

int HLXClient::SendReply(const ReplyRecord& record, const IPCPacket1& packet) {
  IPCPacket1 head;
  head.id = packet.id;
  head.command = packet.command;
  head.status = packet.status;
  const bool hasData = record.data && record.dataLength > 0;
  if (hasData && record.type != 0) {
    // Raw data parts (icons, files) go out from the caller's buffer as they are, without a copy.
    head.body = record.SerializeText();
    return SendOnChannel(std::move(head), record.data, static_cast<size_t>(record.dataLength));
  }
  std::string compressed;
  if (record.SerializeData(&compressed)) {
    head.body = record.SerializeText();
  } else {
    HLX_LOG(ERROR) << "reply data of request " << packet.id << " could not be compressed";
    ReplyRecord failed = record;
    failed.code = kReplyTaskError;
    failed.data = nullptr;
    failed.dataLength = 0;
    head.body = failed.SerializeText();
    head.status = static_cast<uint16_t>(PacketStatus::kFailed);
    compressed.clear();
  }
  return SendOnChannel(std::move(head), compressed.data(), compressed.size());
}

int HLXClient::SendOnChannel(IPCPacket1 packet, const void* data, size_t dataLength) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::shared_ptr<IPCConnection>> connections = m_desktop.Connections();
  if (connections.empty()) return -1;
  for (const auto& connection : connections) {
    if (connection->kind != IPCConnectionKind::kOutgoing) continue;
    packet.connection = connection;
    if (!packet.SendWithData(data, dataLength)) {
      HLX_LOG(WARNING) << "reply to request " << packet.id << " could not be sent";
    }
  }
  return 0;
}

bool HLXClient::IsHelperChannelIdle() const {
  if (!m_helper.ListeningConnection()) return true;
  return !m_helper.HasConnections();
}

bool HLXClient::ListenForHelper() {
  // Two helper requests at once must not both listen: a second listen closes the first port, and
  // the helper started on it for the first request would then never reach this instance.
  std::lock_guard<std::mutex> setUp(m_mutex);
  if (m_helper.ListeningConnection()) return true;
  m_helper.SetPacketCallback(OnHelperPacket);
  m_helper.SetEventCallback([this](const IPCChannelEvent& event) {
    if (event.kind != IPCChannelEventKind::kConnectionAccepted) return 0;
    std::deque<std::unique_ptr<IPCPacket1>> pending;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      pending.swap(m_pending);
    }
    for (auto& packet : pending) {
      auto* raw = packet.release();
      VNLThreadPool::GetInstance().AddTask([raw] { RunRequestTask(std::unique_ptr<IPCPacket1>(raw)); });
    }
    return 0;
  });
  // Listening on port 0 lets the system choose, so the port cannot be taken between choosing and
  // listening.
  std::shared_ptr<IPCConnection> listener = m_helper.Listen(0);
  if (!listener) return false;
  m_helperPort = listener->port;
  return true;
}

void HLXClient::SendToHelper(const IPCPacket1& packet) {
  std::lock_guard<std::mutex> lock(m_mutex);
  IPCPacket1 out;
  out.id = packet.id;
  out.command = packet.command;
  out.status = packet.status;
  out.body = packet.body;
  for (const auto& connection : m_helper.Connections()) {
    if (connection->kind != IPCConnectionKind::kAccepted) continue;
    out.connection = connection;
    if (!out.Send()) HLX_LOG(WARNING) << "request " << packet.id << " could not reach the helper";
  }
}

void HLXClient::AddPendingRequest(std::unique_ptr<IPCPacket1> packet) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pending.push_back(std::move(packet));
}

bool HLXClient::QueueForHelper(const std::function<bool()>& startHelper, std::unique_ptr<IPCPacket1> packet) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pending.empty() && m_helper.HasConnections()) {
    // The helper connected after the caller found the channel idle, and took the requests kept for
    // it already: a second helper would answer every forwarded request again. The request runs
    // again instead, and is forwarded.
    IPCPacket1* raw = packet.release();
    VNLThreadPool::GetInstance().AddTask([raw] { RunRequestTask(std::unique_ptr<IPCPacket1>(raw)); });
    return true;
  }
  if (m_pending.empty() && !startHelper()) return false;
  m_pending.push_back(std::move(packet));
  return true;
}

void HLXClient::OnDeviceEvent(const std::shared_ptr<HLXDevice>& device, int event) {
  if (event != HLXDeviceMonitor::kEventReady && event != HLXDeviceMonitor::kEventRemoved) return;
  const StartupState& state = GetStartupState();
  if (event == HLXDeviceMonitor::kEventReady && state.selfTest) {
    VNLThreadPool::GetInstance().AddTask([device] { RunSelfTestTask(device); });
  }
  const std::string info = event == HLXDeviceMonitor::kEventReady ? DeviceReadyInfo(*device) : DeviceRemovedInfo();
  const std::string udid = device->Udid();
  ReplyRecord record;
  record.stage = state.instanceMode;
  record.code = static_cast<int64_t>(device->Handle());
  record.uuid = udid.c_str();
  record.info = info.c_str();
  IPCPacket1 packet;
  packet.command = event == HLXDeviceMonitor::kEventReady ? kEventDeviceReady : kEventDeviceRemoved;
  packet.status = static_cast<uint16_t>(PacketStatus::kInProgress);
  SendReply(record, packet);
}

void ReportMonitorStatus(int32_t code) { SendStatusPacket(static_cast<uint32_t>(code), 0); }

void ReportDeviceStatus(uint64_t deviceHandle, uint32_t status) { SendStatusPacket(status, deviceHandle); }

void ReportDeviceError(const HLXDevice& device, int32_t code) {
  HLX_LOG(INFO) << "error code: " << code;
  const DeviceProperties properties = device.Properties();
  // The device code travels as a JSON string.
  JsonTextWriter info;
  info.String(std::to_string(code));
  JsonTextWriter json;
  json->StartObject();
  json.Key("DeviceName");
  json.String(properties.deviceName.c_str());
  json->EndObject();
  ReplyRecord record;
  record.code = static_cast<int64_t>(device.Handle());
  record.uuid = properties.udid.c_str();
  const std::string infoText = info.Text();
  const std::string data = json.Text();
  record.info = infoText.c_str();
  record.data = reinterpret_cast<const uint8_t*>(data.data());
  record.dataLength = static_cast<int64_t>(data.size());
  IPCPacket1 packet;
  packet.command = HLXClient::kDeviceErrorReport;
  packet.status = static_cast<uint16_t>(PacketStatus::kStatusReport);
  HLXClient::GetInstance().SendReply(record, packet);
}

void RunRequestTask(std::unique_ptr<IPCPacket1> packet) { RunModule(std::move(packet), false); }

void RunHelperPacketTask(std::unique_ptr<IPCPacket1> packet) { RunModule(std::move(packet), true); }

}  // namespace hlx
