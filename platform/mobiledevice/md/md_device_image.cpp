// Parsing and editing of an image's state.json and counters.json (see md_device_image.h).
// Every value read from the files is type-checked; a wrong type makes the whole file malformed
// rather than half-applied. Threads: any; m_cacheMutex guards the parsed-state cache.
#include "md/md_device_image.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <utility>

namespace {

using rapidjson::Document;
using rapidjson::Value;

bool ReadBool(const Value& object, const char* key, bool* out) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return true;
  if (!it->value.IsBool()) return false;
  *out = it->value.GetBool();
  return true;
}

bool ReadNonNegativeInt64(const Value& value, int64_t* out) {
  if (!value.IsInt64() || value.GetInt64() < 0) return false;
  *out = value.GetInt64();
  return true;
}

bool ReadInt64Member(const Value& object, const char* key, int64_t* out) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return true;
  return ReadNonNegativeInt64(it->value, out);
}

bool ReadStringMember(const Value& object, const char* key, std::string* out) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return true;
  if (!it->value.IsString()) return false;
  out->assign(it->value.GetString(), it->value.GetStringLength());
  return true;
}

bool ReadStringList(const Value& object, const char* key, std::vector<std::string>* out) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return true;
  if (!it->value.IsArray()) return false;
  out->clear();
  for (const Value& item : it->value.GetArray()) {
    if (!item.IsString()) return false;
    out->emplace_back(item.GetString(), item.GetStringLength());
  }
  return true;
}

bool ReadFrameScript(const Value& object, MDTestFrameScript* script) {
  auto it = object.FindMember("testFrames");
  if (it == object.MemberEnd()) return true;
  const Value& frames = it->value;
  if (!frames.IsObject()) return false;
  script->present = true;
  auto sizes = frames.FindMember("sizes");
  if (sizes != frames.MemberEnd()) {
    if (!sizes->value.IsArray() || sizes->value.Size() > kMDMaxScriptFrames) return false;
    for (const Value& size : sizes->value.GetArray()) {
      if (!size.IsUint64() || size.GetUint64() > kMDMaxScriptFrameBytes) return false;
      script->sizes.push_back(size.GetUint64());
    }
  }
  int64_t chunk = script->chunkBytes;
  if (!ReadInt64Member(frames, "chunkBytes", &chunk) || chunk < 1 || chunk > (16 << 20)) return false;
  script->chunkBytes = static_cast<uint32_t>(chunk);
  std::string end = "close";
  if (!ReadStringMember(frames, "end", &end)) return false;
  if (end != "close" && end != "wait") return false;
  script->closeAtEnd = end == "close";
  std::string trigger = "request";
  if (!ReadStringMember(frames, "trigger", &trigger)) return false;
  if (trigger != "request" && trigger != "connect") return false;
  script->sendOnConnect = trigger == "connect";
  return true;
}

bool ReadFaults(const Value& object, MDFaultPlan* plan) {
  auto it = object.FindMember("faults");
  if (it == object.MemberEnd()) return true;
  const Value& faults = it->value;
  if (!faults.IsObject()) return false;
  auto fail = faults.FindMember("failCalls");
  if (fail != faults.MemberEnd()) {
    if (!fail->value.IsObject()) return false;
    for (const auto& entry : fail->value.GetObject()) {
      std::vector<uint64_t> calls;
      if (entry.value.IsUint64()) {
        calls.push_back(entry.value.GetUint64());
      } else if (entry.value.IsArray()) {
        for (const Value& call : entry.value.GetArray()) {
          if (!call.IsUint64()) return false;
          calls.push_back(call.GetUint64());
        }
      } else {
        return false;
      }
      plan->failCalls[std::string(entry.name.GetString(), entry.name.GetStringLength())] = std::move(calls);
    }
  }
  auto detach = faults.FindMember("detachOnCall");
  if (detach != faults.MemberEnd()) {
    if (!detach->value.IsObject()) return false;
    for (const auto& entry : detach->value.GetObject()) {
      if (!entry.value.IsUint64()) return false;
      plan->detachOnCall[std::string(entry.name.GetString(), entry.name.GetStringLength())] = entry.value.GetUint64();
    }
  }
  auto drop = faults.FindMember("dropAfterBytes");
  if (drop != faults.MemberEnd()) {
    if (!drop->value.IsObject()) return false;
    if (!ReadInt64Member(drop->value, "afcRead", &plan->dropAfterAfcReadBytes) ||
        !ReadInt64Member(drop->value, "afcWrite", &plan->dropAfterAfcWriteBytes) ||
        !ReadInt64Member(drop->value, "serviceStream", &plan->dropAfterServiceStreamBytes)) {
      return false;
    }
  }
  return true;
}

std::string WriteJson(const Document& document) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 2);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

// Read-modify-write of one JSON object file of the image under the image lock. A missing file
// starts as {} when `createIfMissing`; `edit` returns 0 to write, or an errno to abandon.
int EditJsonFile(const std::string& folder, const std::string& path, bool createIfMissing,
                 const std::function<int(Document&)>& edit) {
  MDImageLock lock(folder);
  if (!lock.IsHeld()) return ENOENT;
  std::string text;
  int error = MDReadFile(path, kMDMaxStateFileBytes, &text);
  Document document;
  if (error == ENOENT && createIfMissing) {
    document.SetObject();
  } else if (error != 0) {
    return error;
  } else if (document.Parse(text.c_str(), text.size()).HasParseError() || !document.IsObject()) {
    return EINVAL;
  }
  error = edit(document);
  if (error != 0) return error;
  return MDWriteFileAtomic(path, WriteJson(document));
}

Value& ObjectMember(Document& document, Value& parent, const char* key) {
  auto it = parent.FindMember(key);
  if (it != parent.MemberEnd()) {
    if (!it->value.IsObject()) it->value.SetObject();
    return it->value;
  }
  parent.AddMember(Value(key, document.GetAllocator()), Value(rapidjson::kObjectType), document.GetAllocator());
  return parent[key];
}

void IncrementMember(Document& document, Value& object, const std::string& key) {
  auto it = object.FindMember(key.c_str());
  if (it != object.MemberEnd() && it->value.IsInt64()) {
    it->value.SetInt64(it->value.GetInt64() + 1);
    return;
  }
  if (it != object.MemberEnd()) object.RemoveMember(it);
  object.AddMember(Value(key.c_str(), static_cast<rapidjson::SizeType>(key.size()), document.GetAllocator()),
                   Value(int64_t{1}), document.GetAllocator());
}

}  // namespace

bool MDParseDeviceState(const std::string& json, MDDeviceState* state) {
  Document document;
  if (document.Parse(json.c_str(), json.size()).HasParseError() || !document.IsObject()) return false;
  MDDeviceState parsed;
  int64_t interfaceType = parsed.interfaceType;
  if (!ReadBool(document, "paired", &parsed.paired) || !ReadBool(document, "trusted", &parsed.trusted) ||
      !ReadBool(document, "passcodeLocked", &parsed.passcodeLocked) ||
      !ReadBool(document, "jailbroken", &parsed.jailbroken) ||
      !ReadBool(document, "refuseSetValue", &parsed.refuseSetValue) ||
      !ReadInt64Member(document, "interfaceType", &interfaceType) ||
      !ReadStringMember(document, "model", &parsed.model) ||
      !ReadInt64Member(document, "totalBytes", &parsed.totalBytes) ||
      !ReadInt64Member(document, "freeBytes", &parsed.freeBytes) ||
      !ReadStringList(document, "services", &parsed.services) ||
      !ReadStringList(document, "sslServices", &parsed.sslServices) || !ReadFrameScript(document, &parsed.testFrames) ||
      !ReadFaults(document, &parsed.faults)) {
    return false;
  }
  if (interfaceType != kMDInterfaceUsb && interfaceType != kMDInterfaceWiFi) return false;
  parsed.interfaceType = static_cast<int>(interfaceType);
  *state = std::move(parsed);
  return true;
}

MDDeviceImage::MDDeviceImage(std::string folder) : m_folder(std::move(folder)) {}

int MDDeviceImage::LoadState(MDDeviceState* state) const {
  const std::string path = PathOf("state.json");
  MDFileIdentity identity;
  int error = MDGetFileIdentity(path, &identity);
  if (error != 0) return error;
  {
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    if (m_hasCache && m_cachedIdentity == identity) {
      *state = m_cachedState;
      return 0;
    }
  }
  std::string text;
  error = MDReadFile(path, kMDMaxStateFileBytes, &text);
  if (error == EFBIG) return EINVAL;
  if (error != 0) return error;
  MDDeviceState parsed;
  if (!MDParseDeviceState(text, &parsed)) return EINVAL;
  // The identity was taken before the read: if the file changed in between, the next call sees a
  // new identity and parses again, so the cache never pins a stale version.
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  m_cachedIdentity = identity;
  m_cachedState = parsed;
  m_hasCache = true;
  *state = std::move(parsed);
  return 0;
}

void MDDeviceImage::ReleaseCache() {
  MDDeviceState empty;
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  m_hasCache = false;
  m_cachedIdentity = MDFileIdentity();
  std::swap(m_cachedState, empty);
}

int MDDeviceImage::ChangeUsedBytes(int64_t usedDelta) {
  if (usedDelta == 0) return 0;
  return EditJsonFile(m_folder, PathOf("state.json"), false, [usedDelta](Document& document) {
    int64_t freeBytes = MDDeviceState().freeBytes;
    auto it = document.FindMember("freeBytes");
    if (it != document.MemberEnd()) {
      if (!it->value.IsInt64()) return EINVAL;
      freeBytes = it->value.GetInt64();
    }
    const int64_t updated = usedDelta > freeBytes ? 0 : freeBytes - usedDelta;
    if (it != document.MemberEnd()) {
      it->value.SetInt64(updated);
    } else {
      document.AddMember("freeBytes", Value(updated), document.GetAllocator());
    }
    return 0;
  });
}

int MDDeviceImage::SetPaired(bool paired) {
  return EditJsonFile(m_folder, PathOf("state.json"), false, [paired](Document& document) {
    auto it = document.FindMember("paired");
    if (it != document.MemberEnd()) {
      it->value.SetBool(paired);
    } else {
      document.AddMember("paired", Value(paired), document.GetAllocator());
    }
    return 0;
  });
}

int MDDeviceImage::CountServiceStartAttempt(const std::string& serviceName) {
  return EditJsonFile(m_folder, PathOf("counters.json"), true, [&serviceName](Document& document) {
    Value& attempts = ObjectMember(document, document, "serviceStartAttempts");
    IncrementMember(document, attempts, serviceName);
    return 0;
  });
}

int MDDeviceImage::CountPairPrompt() {
  return EditJsonFile(m_folder, PathOf("counters.json"), true, [](Document& document) {
    IncrementMember(document, document, "pairPrompts");
    return 0;
  });
}

int MDDeviceImage::TakeCounterRange(const std::string& name, int64_t floor, int64_t count, int64_t* first) {
  if (count < 0 || floor < 0) return EINVAL;
  int64_t taken = 0;
  const int error = EditJsonFile(m_folder, PathOf("counters.json"), true, [&](Document& document) {
    Value& ranges = ObjectMember(document, document, "ranges");
    auto it = ranges.FindMember(name.c_str());
    int64_t next = floor;
    if (it != ranges.MemberEnd() && it->value.IsInt64() && it->value.GetInt64() > next) next = it->value.GetInt64();
    if (next > INT64_MAX - count) return ERANGE;
    if (it != ranges.MemberEnd()) ranges.RemoveMember(it);
    ranges.AddMember(Value(name.c_str(), static_cast<rapidjson::SizeType>(name.size()), document.GetAllocator()),
                     Value(next + count), document.GetAllocator());
    taken = next;
    return 0;
  });
  if (error == 0) *first = taken;
  return error;
}
