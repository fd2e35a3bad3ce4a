// Reply frame serialisation. The JSON record goes through RapidJSON's writer, so a uuid holding a
// quote or a backslash still gives a reply that parses; ordinary values come out byte for byte as
// the desktop side expects them ({"stage":0,"code":7,"uuid":"","type":0}).
#include "utility/hlx_reply.h"

#include <cstring>

#include "utility/hlx_json.h"
#include "utility/hlx_zlib.h"

namespace hlx {

std::string ReplyRecord::SerializeText() const {
  JsonTextWriter json;
  json->StartObject();
  json.Key("stage");
  json->Int(stage);
  json.Key("code");
  json->Int64(code);
  json.Key("uuid");
  json.String(uuid ? uuid : "");
  json.Key("type");
  json->Int(type);
  if (info) {
    json.Key("info");
    if (*info) {
      json->RawValue(info, std::strlen(info), rapidjson::kObjectType);
    } else {
      json.String("");
    }
  }
  json->EndObject();

  const std::string_view record = json.View();
  std::string text = std::to_string(flag);
  text.reserve(text.size() + record.size() + 2);  // one allocation, one copy of the record
  text.push_back('\0');
  text.append(record);
  text.push_back('\0');
  return text;
}

bool ReplyRecord::SerializeData(std::string* out) const {
  out->clear();
  if (!data || dataLength <= 0) return true;
  if (type != 0 || dataCompressed) {
    out->assign(reinterpret_cast<const char*>(data), static_cast<size_t>(dataLength));
    return true;
  }
  if (!ZlibCompress(*out, data, static_cast<size_t>(dataLength))) {
    out->clear();
    return false;
  }
  return true;
}

std::string ReplyRecord::Serialize(const ReplyRecord& record) {
  std::string data;
  if (!record.SerializeData(&data)) return {};
  return record.SerializeText() + data;
}

PacketStatus ReplyStatus(int64_t code) {
  if (code == kReplySuccess) return PacketStatus::kDone;
  if (code == kReplyCancelled) return PacketStatus::kCancelled;
  return PacketStatus::kFailed;
}

}  // namespace hlx
