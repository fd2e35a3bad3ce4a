// Module base, registry and request payload.
#include "utility/hlx_module.h"

#include <cstdlib>

#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_reply_sink.h"

namespace hlx {

RequestPayload RequestPayload::Parse(const std::string& body) {
  RequestPayload payload;
  const size_t firstNul = body.find('\0');
  payload.subCommand = std::atoi(body.substr(0, firstNul).c_str());
  if (firstNul == std::string::npos) return payload;
  const size_t jsonStart = firstNul + 1;
  const size_t secondNul = body.find('\0', jsonStart);
  if (secondNul == std::string::npos) {
    payload.json = body.substr(jsonStart);
    return payload;
  }
  payload.json = body.substr(jsonStart, secondNul - jsonStart);
  payload.data = std::string_view(body).substr(secondNul + 1);
  return payload;
}

int RequestPayload::ReadJson(rapidjson::Document* document, std::string* uuid) const {
  uuid->clear();
  // Parsing validates the UTF-8 of every text, the uuid's included.
  if (!ParseJsonText(document, json) || !document->IsObject()) return kReplyBadRequest;
  auto member = document->FindMember("uuid");
  if (member != document->MemberEnd()) {
    if (!member->value.IsString()) return kReplyBadRequest;
    std::string text(member->value.GetString(), member->value.GetStringLength());
    if (text.find('\0') != std::string::npos) return kReplyBadRequest;
    *uuid = std::move(text);
  }
  return IsCleanPeerJson(*document) ? kReplySuccess : kReplyBadData;
}

std::string RequestPayload::UuidOf(const std::string& body) {
  RequestPayload payload;
  const size_t firstNul = body.find('\0');
  if (firstNul == std::string::npos) return std::string();
  const size_t secondNul = body.find('\0', firstNul + 1);
  payload.json =
      body.substr(firstNul + 1, secondNul == std::string::npos ? std::string::npos : secondNul - firstNul - 1);
  RequestJsonDocument json;
  std::string uuid;
  if (payload.ReadJson(&json, &uuid) != kReplySuccess) uuid.clear();
  return uuid;
}

int HLXModule::Notify(void* argument) {
  if (m_notify) m_notify(argument, m_notifyUserData, 0);
  return 0;
}

int HLXModule::HandleRequest(const IPCPacket1& /*request*/) {
  if (m_notify) m_notify(nullptr, m_notifyUserData, 1);
  return 0;
}

int HLXModule::SendReply(const IPCPacket1& request, const char* uuid, int32_t code, const char* info) {
  return SendFinalReply(request, uuid, code, info);
}

int SendFinalReply(const IPCPacket1& request, const char* uuid, int32_t code, const char* info) {
  ReplyRecord record;
  record.code = code;
  record.uuid = uuid;
  record.info = info;
  IPCPacket1 packet;
  packet.id = request.id;
  packet.command = request.command;
  packet.status = static_cast<uint16_t>(ReplyStatus(code));
  return SendThroughSink(record, packet);
}

ModuleRegistry& ModuleRegistry::GetInstance() {
  static ModuleRegistry* registry = new ModuleRegistry();  // lives until the process ends
  return *registry;
}

HLXModule* ModuleRegistry::Find(int32_t code) const {
  auto found = m_modules.find(code);
  return found == m_modules.end() ? nullptr : found->second;
}

void ModuleRegistry::Enter(int32_t code, HLXModule* module) { m_modules[code] = module; }

}  // namespace hlx
