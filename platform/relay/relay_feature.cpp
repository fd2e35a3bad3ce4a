// What the relay's features share; see relay_feature.h.
#include "relay_feature.h"

#include <cstdlib>
#include <cwchar>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace relay {

void ReleaseRelayAnswer(RelayAnswer& answer) {
    void* payload = answer.payload;
    answer.payload = nullptr;
    if (payload != nullptr && answer.release != nullptr) answer.release(PayloadLeg::RelayReply, answer.code, payload);
}

wchar_t* HeapCopy(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void ReleaseHeapText(PayloadLeg, std::int64_t, void* payload) { std::free(payload); }

std::uint64_t RelayLink::SendInfoRequest(std::uint32_t code, const std::string& device, const std::string& info) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("uuid");
    writer.String(device.c_str(), static_cast<rapidjson::SizeType>(device.size()));
    writer.Key("info");
    writer.RawValue(info.c_str(), info.size(), rapidjson::kObjectType);
    writer.EndObject();
    return SendJsonRequest(code, std::string(json.GetString(), json.GetSize()));
}

bool WriteExport(RelayLink& link, const std::wstring& folder, const std::wstring& fileName, const std::string& bytes) {
    constexpr int kMaxTries = 100;
    const std::size_t dot = fileName.rfind(L'.');
    const std::wstring stem = fileName.substr(0, dot);
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : fileName.substr(dot);
    for (int attempt = 1; attempt <= kMaxTries; ++attempt) {
        const std::wstring name = attempt == 1 ? fileName : stem + L" (" + std::to_wstring(attempt) + L")" + extension;
        if (link.WriteNewFile(folder, name, bytes)) return true;
    }
    return false;
}

bool RelayFeatureList::Handle(CommandMessage& message) {
    for (RelayFeature* feature : m_order) {
        if (feature->Handle(message)) return true;
    }
    return false;
}

bool RelayFeatureList::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    for (RelayFeature* feature : m_order) {
        if (feature->OnReply(packet, frame, data)) return true;
    }
    return false;
}

void RelayFeatureList::OnDeviceGone(const std::string& device) {
    for (RelayFeature* feature : m_order) feature->OnDeviceGone(device);
}

void RelayFeatureList::OnServiceGone() {
    for (RelayFeature* feature : m_order) feature->OnServiceGone();
}

}  // namespace relay
