// JSON reading and writing (see hlx_json.h).
#include "utility/hlx_json.h"

#include <cstring>
#include <utility>
#include <vector>

#include "utility/hlx_text.h"

namespace hlx {

bool ParseJsonText(rapidjson::Document* document, const char* text, size_t length) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
  return !document->Parse<kFlags>(text, length).HasParseError();
}

bool IsCleanPeerJson(const rapidjson::Value& value) {
  auto holdsNul = [](const rapidjson::Value& text) {
    return std::memchr(text.GetString(), 0, text.GetStringLength()) != nullptr;
  };
  std::vector<std::pair<const rapidjson::Value*, size_t>> pending{{&value, 1}};  // value, its depth
  while (!pending.empty()) {
    const auto [current, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxPeerJsonDepth) return false;
    if (current->IsString() && holdsNul(*current)) return false;
    if (current->IsArray()) {
      for (const rapidjson::Value& element : current->GetArray()) pending.emplace_back(&element, depth + 1);
    } else if (current->IsObject()) {
      for (const auto& member : current->GetObject()) {
        if (holdsNul(member.name)) return false;
        pending.emplace_back(&member.value, depth + 1);
      }
    }
  }
  return true;
}

const rapidjson::Value* FindStringMember(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  auto it = object.FindMember(name);
  return it != object.MemberEnd() && it->value.IsString() ? &it->value : nullptr;
}

void JsonTextWriter::String(std::string_view text) {
  if (IsValidUtf8(text)) {
    m_writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return;
  }
  const std::string valid = ToValidUtf8(text);
  m_writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

std::string CountInfo(int64_t count) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("Count");
  json->Int64(count);
  json->EndObject();
  return json.Text();
}

std::string JsonValueToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer(nullptr, 256);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  // The writer refuses NaN and infinity; a half-written text would not be JSON.
  if (!value.Accept(writer)) return {};
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace hlx
