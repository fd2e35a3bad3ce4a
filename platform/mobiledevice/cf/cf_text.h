// Text encodings of the CoreFoundation library: UTF-8 validation, UTF-8 <-> UTF-16 (big-endian, as
// binary property lists store it) and base64 (XML property-list data). The one home for these in
// the library. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cf {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
// *utf16Length receives the count of UTF-16 units the text needs; *isAscii whether all bytes are < 0x80.
bool InspectUtf8(std::string_view text, size_t* utf16Length, bool* isAscii) noexcept;

// Appends `units` big-endian UTF-16 units as UTF-8; false on an unpaired surrogate.
bool AppendUtf16BEAsUtf8(const uint8_t* bytes, size_t units, std::string& out);

// Appends valid UTF-8 text as big-endian UTF-16 units.
void AppendUtf8AsUtf16BE(std::string_view text, std::vector<uint8_t>& out);

// Standard alphabet with '=' padding, no line breaks.
std::string EncodeBase64(const uint8_t* bytes, size_t size);

// Decodes standard base64, skipping ASCII whitespace anywhere; the final padding may be missing.
// False for any other character, padding in the middle, or a dangling single character.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out);

}  // namespace cf
