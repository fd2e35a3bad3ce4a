// UTF-8 <-> wide text; see vnl_utf8.h.
#include "vnl_utf8.h"

namespace vnl {
namespace {

void AppendWide(std::wstring& out, char32_t codePoint) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (codePoint >= 0x10000) {
            const char32_t offset = codePoint - 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(codePoint));
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    const size_t size = text.size();
    size_t i = 0;
    auto byteAt = [text](size_t at) { return static_cast<unsigned char>(text[at]); };
    while (i < size) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        // Continuation bytes and the range of the first one, by lead byte (no overlongs, no surrogates,
        // nothing past U+10FFFF). A broken sequence is one U+FFFD and reading resumes at the byte that broke it.
        size_t count = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            count = 1;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            count = 2;
            codePoint = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            count = 3;
            codePoint = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            AppendWide(out, kReplacementCharacter);
            ++i;
            continue;
        }
        size_t taken = 1;
        bool complete = true;
        for (; taken <= count; ++taken) {
            if (i + taken >= size) {
                complete = false;
                break;
            }
            const unsigned char next = byteAt(i + taken);
            if (next < low || next > high) {
                complete = false;
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        AppendWide(out, complete ? codePoint : kReplacementCharacter);
        i += complete ? count + 1 : taken;
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&out](char32_t c) { AppendUtf8(out, c); });
    return out;
}

}  // namespace vnl
