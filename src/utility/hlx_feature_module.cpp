// The request frame of the feature modules (see hlx_feature_module.h).
#include "utility/hlx_feature_module.h"

#include <chrono>
#include <exception>
#include <sstream>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_device.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply_sink.h"
#include "utility/hlx_zlib.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {

uint32_t FeatureRequest::Command() const { return m_packet.command; }

int FeatureRequest::ReadDataText(std::string* text) const {
  return ZlibInflate(*text, m_payload.data.data(), m_payload.data.size(), kMaxRequestDataBytes) == InflateResult::kOk
             ? kReplySuccess
             : kReplyBadData;
}

int FeatureRequest::ReadData(rapidjson::Document* data) const {
  std::string inflated;
  if (ReadDataText(&inflated) != kReplySuccess) return kReplyBadData;
  if (!ParseJsonText(data, inflated) || !data->IsObject() || !IsCleanPeerJson(*data)) return kReplyBadData;
  return kReplySuccess;
}

int FeatureRequest::SendProgress(uint32_t command, int32_t stage, const std::string* info, const std::string* data,
                                 int64_t code) const {
  return SendReplyRecord(command, static_cast<uint16_t>(PacketStatus::kInProgress), stage, code, 0, info,
                         data != nullptr ? data->data() : nullptr, data != nullptr ? data->size() : 0);
}

int FeatureRequest::SendCompressedProgress(uint32_t command, int32_t stage, const std::string* info,
                                           const std::string& compressed, int64_t code) const {
  return SendRecord(command, static_cast<uint16_t>(PacketStatus::kInProgress), stage, code, 0, info, compressed.data(),
                    compressed.size(), true);
}

int FeatureRequest::SendReplyRecord(uint32_t command, uint16_t status, int32_t stage, int64_t code, int32_t type,
                                    const std::string* info, const void* data, size_t dataLength) const {
  return SendRecord(command, status, stage, code, type, info, data, dataLength, false);
}

int FeatureRequest::SendRecord(uint32_t command, uint16_t status, int32_t stage, int64_t code, int32_t type,
                               const std::string* info, const void* data, size_t dataLength,
                               bool dataCompressed) const {
  // Intermediate replies describe the device: they carry its UDID, also when the request found it
  // another way (by handle, for basic information).
  const std::string uuid = m_device ? m_device->Udid() : m_uuid;
  ReplyRecord record;
  record.stage = stage;
  record.code = code;
  record.uuid = uuid.c_str();
  record.type = type;
  record.info = info != nullptr ? info->c_str() : nullptr;
  if (data != nullptr) {
    record.data = static_cast<const uint8_t*>(data);
    record.dataLength = static_cast<int64_t>(dataLength);
    record.dataCompressed = dataCompressed;
  }
  IPCPacket1 packet;
  packet.id = m_packet.id;
  packet.command = command;
  packet.status = status;
  return SendThroughSink(record, packet);
}

std::shared_ptr<HLXDevice> HLXFeatureModule::FindDevice(const FeatureRequest& request) const {
  return HLXDeviceMonitor::GetInstance().FindDeviceByUdid(request.Uuid());
}

int HLXFeatureModule::HandleRequest(const IPCPacket1& packet) {
  const auto started = std::chrono::steady_clock::now();
  FeatureRequest request(packet, RequestPayload::Parse(packet.body));
  int code = kReplyTaskError;
  ForgetLockRefusal();
  try {
    code = request.m_payload.ReadJson(&request.m_json, &request.m_uuid);
    if (code == kReplySuccess && NeedsDevice(request)) {
      // No device exists before the library is bound; a request that needs one is told so at once
      // instead of reaching a slot that is not filled yet (or never will be).
      if (!CMobileExportFun::GetInstance().IsLoaded()) {
        code = kReplyLibraryNotBound;
      } else {
        request.m_device = FindDevice(request);
        if (!request.m_device) code = kReplyNoDevice;
      }
    }
    if (code == kReplySuccess && (request.SubCommand() == 1 || RunsEverySubCommand())) code = Run(request);
  } catch (const std::exception& error) {
    HLX_LOG(ERROR) << "request " << packet.id << " code " << packet.command << " threw: " << error.what();
    code = kReplyTaskError;
  } catch (...) {
    HLX_LOG(ERROR) << "request " << packet.id << " code " << packet.command << " threw";
    code = kReplyTaskError;
  }
  // The module saw only that a service did not open; the person needs to know the device must be unlocked.
  if (code != kReplySuccess && code != kReplyCancelled && ServiceRefusedForLock()) code = kReplyDeviceLocked;
  // The line is built only when it is written: with logging off a stream costs a short request
  // more than its work.
  if (code == kReplySuccess ? HLX_LOG_IS_ON(INFO) : HLX_LOG_IS_ON(ERROR)) {
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::ostringstream line;
    line << "request " << packet.id << " code " << packet.command << " sub " << request.SubCommand() << " device "
         << request.Uuid() << " result " << code << " (" << ReplyCodeName(code) << ") in " << elapsedMs << " ms";
    if (code == kReplySuccess) {
      HLX_LOG(INFO) << line.str();
    } else {
      HLX_LOG(ERROR) << line.str();
    }
  }
  if (request.m_finalReply) {
    SendReply(packet, request.Uuid().c_str(), code,
              request.m_finalInfo.empty() ? nullptr : request.m_finalInfo.c_str());
  }
  return 0;
}

}  // namespace hlx
