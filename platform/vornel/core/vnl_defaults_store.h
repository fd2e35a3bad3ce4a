#pragma once
// One user-defaults store as JSON text: keys are written group, colon, name ("product:type", "color:1",
// "url:itunes:32"), stored as {"group": {"name": value}}; a key without a colon is a top-level member.
// Colours are "#RRGGBB" strings. Reading checks the type of every node; malformed files are rejected whole.
// Not thread-safe: the base library guards each store with its own mutex.

#include <cstdint>
#include <string>

#include <rapidjson/document.h>

namespace vnl {

class DefaultsStore {
public:
    DefaultsStore();

    // Replaces the content with a JSON object text; false (and empty) when the text is not one.
    bool Parse(const std::string& json);
    bool IsLoaded() const { return m_loaded; }

    bool GetInt(const std::string& key, int64_t& value) const;
    bool GetString(const std::string& key, std::string& value) const;
    // The colour as a COLORREF (0x00BBGGRR).
    bool GetRGB(const std::string& key, uint32_t& colorRef) const;

    // The content as JSON indented by four blanks ("{}" for an empty store).
    std::string Serialize() const;

private:
    const rapidjson::Value* Find(const std::string& key) const;

    rapidjson::Document m_document;
    bool m_loaded = false;
};

}  // namespace vnl
