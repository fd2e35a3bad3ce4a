// JSON reading and writing (see hlx_json.h).
#include "utility/hlx_json.h"

namespace hlx {

bool ParseJsonText(rapidjson::Document* document, const char* text, size_t length) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
  return !document->Parse<kFlags>(text, length).HasParseError();
}

std::string JsonValueToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer(nullptr, 256);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  // The writer refuses NaN and infinity; a half-written text would not be JSON.
  if (!value.Accept(writer)) return {};
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace hlx
