// Request 600.
#include "utility/module/control/hlx_module_control.h"
#include "utility/hlx_log.h"

#include "utility/hlx_device.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_reply.h"
#include "utility/ios/hlx_device_monitor.h"

namespace hlx {

int HLXModuleControl::HandleRequest(const IPCPacket1& request) {
  // The sub-command is not looked at: every 600 is a cancel.
  RequestJsonDocument json;
  std::string uuid;
  const int readCode = RequestPayload::Parse(request.body).ReadJson(&json, &uuid);
  if (readCode != kReplySuccess) {
    SendReply(request, uuid.c_str(), readCode, nullptr);
    return 0;
  }
  int64_t taskId = 0;
  if (json.HasMember("code") && json["code"].IsInt64()) taskId = json["code"].GetInt64();

  if (uuid.empty()) {
    GetServiceTaskMap().Cancel(taskId);
  } else {
    std::shared_ptr<HLXDevice> device = HLXDeviceMonitor::GetInstance().FindDeviceByUdid(uuid);
    if (!device) {
      SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplyNoDevice), nullptr);
      return 0;
    }
    device->TaskMap().Cancel(taskId);
  }
  HLX_LOG(INFO) << "Cancel: " << taskId;
  SendReply(request, uuid.c_str(), static_cast<int32_t>(kReplySuccess), nullptr);
  return 0;
}

}  // namespace hlx
