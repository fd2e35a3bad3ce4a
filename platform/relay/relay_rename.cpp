// The device rename in service mode; see relay_rename.h.
#include "relay_rename.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr std::int64_t kServiceSuccess = 0;

}  // namespace

bool RenameService::Handle(CommandMessage& message) {
    if (message.name == nullptr || std::strcmp(message.name, ZERITH_COMMAND_DO_BASICINFO) != 0 ||
        message.code != kRenameCode) {
        return false;
    }
    const auto* newName = static_cast<const wchar_t*>(message.extra);
    if (message.wideText == nullptr || newName == nullptr || *message.wideText == L'\0' || *newName == L'\0') {
        return true;  // nothing to rename, or no name to give
    }
    Rename rename{vnl::Utf8FromWide(message.wideText), vnl::Utf8FromWide(newName)};
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("name");
    writer.String(rename.name.c_str(), static_cast<rapidjson::SizeType>(rename.name.size()));
    writer.EndObject();
    const std::uint64_t id = m_link.SendRequest(kRequestRenameDevice, rename.device, json.GetString());
    if (id != 0) {
        m_inFlight[id] = std::move(rename);
    }
    return true;
}

bool RenameService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& /*data*/) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) {
        return false;
    }
    if (!IsLastReply(packet.header)) {
        return true;
    }
    const Rename done = std::move(it->second);
    m_inFlight.erase(it);
    if (frame.code != kServiceSuccess || !m_devices.AddProperties(done.device, {{"DeviceName", done.name}})) {
        return true;  // refused, or the device left meanwhile
    }
    RelayAnswer answer;
    answer.device = done.device;
    answer.code = kRenameCode;
    answer.name = ZERITH_COMMAND_DO_BASICINFO;
    answer.payload = HeapCopy(vnl::WideFromUtf8(done.name));  // the host frees it
    answer.release = &ReleaseHeapText;
    m_link.Answer(answer);
    return true;
}

}  // namespace relay
