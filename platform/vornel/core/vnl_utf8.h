#pragma once
// The desktop's one UTF-8 <-> wide text conversion, portable so that the native unit tests run the same
// code as the deliverables: the base library's VNLUtilityString converts through it, and the relay module
// and the host call it directly. Wide text is UTF-16 where wchar_t has 16 bits (Windows) and UTF-32 where
// it has 32. Invalid input never fails: a broken UTF-8 sequence, a lone surrogate or a unit past U+10FFFF
// becomes U+FFFD. No state; any thread.

#include <string>
#include <string_view>
#include <type_traits>

namespace vnl {

constexpr char32_t kReplacementCharacter = 0xFFFD;

std::wstring WideFromUtf8(std::string_view text);
// A C string as it travels in CommandMessage.text; null gives "".
inline std::wstring WideFromUtf8(const char* text) {
    return text == nullptr ? std::wstring() : WideFromUtf8(std::string_view(text));
}
std::string Utf8FromWide(std::wstring_view text);

// Appends `codePoint` (at most U+10FFFF, no surrogate) as UTF-8. Inline so that the simulated device
// library's text code encodes with it too, without linking the desktop's base library.
inline void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Calls `take` with every code point of `text`; a lone surrogate or a unit beyond U+10FFFF is U+FFFD.
template <typename Take>
void ForEachCodePoint(std::wstring_view text, Take take) {
    using Unit = std::make_unsigned_t<wchar_t>;  // wchar_t is signed on some targets
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t unit = static_cast<char32_t>(static_cast<Unit>(text[i]));
        if (sizeof(wchar_t) == 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const char32_t next = static_cast<char32_t>(static_cast<Unit>(text[i + 1]));
            if (next >= 0xDC00 && next <= 0xDFFF) {
                take(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) unit = kReplacementCharacter;
        take(unit);
    }
}

}  // namespace vnl
