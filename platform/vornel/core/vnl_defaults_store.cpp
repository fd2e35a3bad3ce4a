// User-defaults store; see vnl_defaults_store.h.
#include "vnl_defaults_store.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace vnl {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

DefaultsStore::DefaultsStore() { m_document.SetObject(); }

bool DefaultsStore::Parse(const std::string& json) {
    rapidjson::Document parsed;
    parsed.Parse(json.c_str(), json.size());
    if (parsed.HasParseError() || !parsed.IsObject()) {
        m_document.SetObject();
        m_loaded = false;
        return false;
    }
    m_document.Swap(parsed);
    m_loaded = true;
    return true;
}

const rapidjson::Value* DefaultsStore::Find(const std::string& key) const {
    const size_t colon = key.find(':');
    const rapidjson::Value* node = &m_document;
    std::string name = key;
    if (colon != std::string::npos) {
        const std::string group = key.substr(0, colon);
        auto it = m_document.FindMember(rapidjson::StringRef(group.c_str(), group.size()));
        if (it == m_document.MemberEnd() || !it->value.IsObject()) {
            return nullptr;
        }
        node = &it->value;
        name = key.substr(colon + 1);
    }
    auto it = node->FindMember(rapidjson::StringRef(name.c_str(), name.size()));
    return it == node->MemberEnd() ? nullptr : &it->value;
}

bool DefaultsStore::GetInt(const std::string& key, int64_t& value) const {
    const rapidjson::Value* node = Find(key);
    if (node == nullptr || !node->IsInt64()) {
        return false;
    }
    value = node->GetInt64();
    return true;
}

bool DefaultsStore::GetString(const std::string& key, std::string& value) const {
    const rapidjson::Value* node = Find(key);
    if (node == nullptr || !node->IsString()) {
        return false;
    }
    value.assign(node->GetString(), node->GetStringLength());
    return true;
}

bool DefaultsStore::GetRGB(const std::string& key, uint32_t& colorRef) const {
    std::string text;
    if (!GetString(key, text) || text.size() != 7 || text[0] != '#') {
        return false;
    }
    int digits[6];
    for (int i = 0; i < 6; ++i) {
        digits[i] = HexDigit(text[static_cast<size_t>(i) + 1]);
        if (digits[i] < 0) {
            return false;
        }
    }
    const uint32_t red = static_cast<uint32_t>(digits[0] * 16 + digits[1]);
    const uint32_t green = static_cast<uint32_t>(digits[2] * 16 + digits[3]);
    const uint32_t blue = static_cast<uint32_t>(digits[4] * 16 + digits[5]);
    colorRef = red | (green << 8) | (blue << 16);
    return true;
}

std::string DefaultsStore::Serialize() const {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 4);
    m_document.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace vnl
