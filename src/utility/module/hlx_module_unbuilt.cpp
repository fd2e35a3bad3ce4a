// Final "task error" reply of modules not built yet.
#include "utility/module/hlx_module_unbuilt.h"

#include <rapidjson/document.h>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_reply.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {

int HLXModuleUnbuilt::HandleRequest(const IPCPacket1& request) {
  RequestPayload payload = RequestPayload::Parse(request.body);
  rapidjson::Document json;
  if (json.Parse(payload.json.c_str()).HasParseError() || !json.IsObject()) {
    SendReply(request, "", static_cast<int32_t>(kReplyBadRequest), nullptr);
    return 0;
  }
  std::string uuid;
  if (json.HasMember("uuid") && json["uuid"].IsString()) uuid = json["uuid"].GetString();
  if (m_needsDevice && !HLXDeviceMonitor::GetInstance().FindDeviceByUdid(uuid)) {
    SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyNoDevice), nullptr);
    return 0;
  }
  SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyTaskError), nullptr);
  return 0;
}

}  // namespace hlx
