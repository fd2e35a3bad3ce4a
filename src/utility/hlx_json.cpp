// JSON reading and writing (see hlx_json.h).
#include "utility/hlx_json.h"

#include <cstring>
#include <vector>

namespace hlx {

bool ParseJsonText(rapidjson::Document* document, const char* text, size_t length) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
  return !document->Parse<kFlags>(text, length).HasParseError();
}

bool HasTextWithNul(const rapidjson::Value& value) {
  auto holdsNul = [](const rapidjson::Value& text) {
    return std::memchr(text.GetString(), 0, text.GetStringLength()) != nullptr;
  };
  std::vector<const rapidjson::Value*> pending{&value};
  while (!pending.empty()) {
    const rapidjson::Value* current = pending.back();
    pending.pop_back();
    if (current->IsString() && holdsNul(*current)) return true;
    if (current->IsArray()) {
      for (const rapidjson::Value& element : current->GetArray()) pending.push_back(&element);
    } else if (current->IsObject()) {
      for (const auto& member : current->GetObject()) {
        if (holdsNul(member.name)) return true;
        pending.push_back(&member.value);
      }
    }
  }
  return false;
}

std::string JsonValueToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer(nullptr, 256);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  // The writer refuses NaN and infinity; a half-written text would not be JSON.
  if (!value.Accept(writer)) return {};
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace hlx
