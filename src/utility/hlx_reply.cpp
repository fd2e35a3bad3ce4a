// Reply frame serialisation. The JSON record goes through RapidJSON's writer, so a uuid holding a
// quote or a backslash still gives a reply that parses; ordinary values come out byte for byte as
// the desktop side expects them ({"stage":0,"code":7,"uuid":"","type":0}).
#include "utility/hlx_reply.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>

#include "utility/hlx_zlib.h"

namespace hlx {

std::string ReplyRecord::SerializeText() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("stage");
  writer.Int(stage);
  writer.Key("code");
  writer.Int64(code);
  writer.Key("uuid");
  writer.String(uuid ? uuid : "");
  writer.Key("type");
  writer.Int(type);
  if (info) {
    writer.Key("info");
    if (*info) {
      writer.RawValue(info, std::strlen(info), rapidjson::kObjectType);
    } else {
      writer.String("");
    }
  }
  writer.EndObject();

  std::string text = std::to_string(flag);
  text.push_back('\0');
  text.append(buffer.GetString(), buffer.GetSize());
  text.push_back('\0');
  return text;
}

bool ReplyRecord::SerializeData(std::string* out) const {
  out->clear();
  if (!data || dataLength <= 0) return true;
  if (type != 0) {
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
