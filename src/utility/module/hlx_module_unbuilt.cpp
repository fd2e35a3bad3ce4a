// Final "task error" reply of modules not built yet.
#include "utility/module/hlx_module_unbuilt.h"

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_reply.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {

int HLXModuleUnbuilt::HandleRequest(const IPCPacket1& request) {
  rapidjson::Document json;
  std::string uuid;
  if (!RequestPayload::Parse(request.body).ParseJson(&json, &uuid)) {
    SendReply(request, "", static_cast<int32_t>(kReplyBadRequest), nullptr);
    return 0;
  }
  if (m_needsDevice && !HLXDeviceMonitor::GetInstance().FindDeviceByUdid(uuid)) {
    SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyNoDevice), nullptr);
    return 0;
  }
  SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyTaskError), nullptr);
  return 0;
}

}  // namespace hlx
