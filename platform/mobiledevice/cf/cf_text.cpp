// UTF-8, UTF-16 and base64 conversions of the CoreFoundation library (see cf_text.h).
// Pure functions; any thread.
#include "cf/cf_text.h"

#include "vnl_utf8.h"

namespace cf {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) noexcept {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsXmlSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void PushUnit(uint16_t unit, std::vector<uint8_t>& out) {
  out.push_back(static_cast<uint8_t>(unit >> 8));
  out.push_back(static_cast<uint8_t>(unit & 0xFF));
}

}  // namespace

bool InspectUtf8(std::string_view text, size_t* utf16Length, bool* isAscii) noexcept {
  size_t units = 0;
  bool ascii = true;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      ++units;
      continue;
    }
    ascii = false;
    size_t extra = 0;
    uint32_t codePoint = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      codePoint = lead & 0x1F;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      codePoint = lead & 0x0F;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      codePoint = lead & 0x07;
      minimum = 0x10000;
    } else {
      return false;  // continuation byte, overlong two-byte lead or beyond U+10FFFF
    }
    if (size - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
    units += codePoint >= 0x10000 ? 2 : 1;
    i += extra + 1;
  }
  if (utf16Length != nullptr) *utf16Length = units;
  if (isAscii != nullptr) *isAscii = ascii;
  return true;
}

bool AppendUtf16BEAsUtf8(const uint8_t* bytes, size_t units, std::string& out) {
  for (size_t i = 0; i < units; ++i) {
    const uint32_t unit = (static_cast<uint32_t>(bytes[2 * i]) << 8) | bytes[2 * i + 1];
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // trailing surrogate without a lead
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= units) return false;
      const uint32_t low = (static_cast<uint32_t>(bytes[2 * i + 2]) << 8) | bytes[2 * i + 3];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      vnl::AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      ++i;
      continue;
    }
    vnl::AppendUtf8(out, unit);
  }
  return true;
}

void AppendUtf8AsUtf16BE(std::string_view text, std::vector<uint8_t>& out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = bytes[i];
    uint32_t codePoint = 0;
    size_t extra = 0;
    if (lead < 0x80) {
      codePoint = lead;
    } else if (lead < 0xE0) {
      codePoint = lead & 0x1F;
      extra = 1;
    } else if (lead < 0xF0) {
      codePoint = lead & 0x0F;
      extra = 2;
    } else {
      codePoint = lead & 0x07;
      extra = 3;
    }
    for (size_t k = 1; k <= extra && i + k < text.size(); ++k) codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
    i += extra + 1;
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      PushUnit(static_cast<uint16_t>(0xD800 + (codePoint >> 10)), out);
      PushUnit(static_cast<uint16_t>(0xDC00 + (codePoint & 0x3FF)), out);
    } else {
      PushUnit(static_cast<uint16_t>(codePoint), out);
    }
  }
}

std::string EncodeBase64(const uint8_t* bytes, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t group =
        (static_cast<uint32_t>(bytes[i]) << 16) | (static_cast<uint32_t>(bytes[i + 1]) << 8) | bytes[i + 2];
    out.push_back(kBase64Alphabet[(group >> 18) & 0x3F]);
    out.push_back(kBase64Alphabet[(group >> 12) & 0x3F]);
    out.push_back(kBase64Alphabet[(group >> 6) & 0x3F]);
    out.push_back(kBase64Alphabet[group & 0x3F]);
  }
  const size_t rest = size - i;
  if (rest > 0) {
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    out.push_back(kBase64Alphabet[(group >> 18) & 0x3F]);
    out.push_back(kBase64Alphabet[(group >> 12) & 0x3F]);
    out.push_back(rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=');
    out.push_back('=');
  }
  return out;
}

bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  uint32_t group = 0;
  size_t inGroup = 0;
  size_t padding = 0;
  for (const char c : text) {
    if (IsXmlSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding > 0) return false;
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++inGroup == 4) {
      out.push_back(static_cast<uint8_t>(group >> 16));
      out.push_back(static_cast<uint8_t>(group >> 8));
      out.push_back(static_cast<uint8_t>(group));
      group = 0;
      inGroup = 0;
    }
  }
  switch (inGroup) {
    case 0: return padding == 0;
    case 1: return false;
    case 2:
      if (padding != 0 && padding != 2) return false;
      out.push_back(static_cast<uint8_t>(group >> 4));
      return true;
    case 3:
      if (padding != 0 && padding != 1) return false;
      out.push_back(static_cast<uint8_t>(group >> 10));
      out.push_back(static_cast<uint8_t>(group >> 2));
      return true;
  }
  return false;
}

}  // namespace cf
