// Text helpers: our own UTF-8 validator and UTF-8/UTF-16 converter (strict on input: invalid text
// converts to nothing rather than to a guess), ReplaceAll, TryAllocBuffer, number and size texts.
// No state, any thread.
#include "utility/hlx_text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace hlx {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the UTF-16 form of `length` bytes of UTF-8 to *out (when not null); false at the first
// invalid sequence.
bool DecodeUtf8(const char* text, size_t length, std::u16string* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      if (out) out->push_back(static_cast<char16_t>(lead));
      ++i;
      continue;
    }
    size_t extra;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
      return false;  // a continuation byte, C0/C1 (always overlong) or F5..FF
    }
    if (length - i - 1 < extra) return false;  // truncated at the end
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    if (out == nullptr) {
      // validation only: nothing to append
    } else if (value >= 0x10000) {
      value -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(value));
    }
    i += extra + 1;
  }
  return true;
}

void AppendUtf8(char32_t value, std::string* out) {
  if (value < 0x80) {
    out->push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (value >> 6)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (value >> 12)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (value >> 18)));
    out->push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

std::string EncodeUtf8(const char16_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), &out);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(kReplacementCharacter, &out);  // unpaired surrogate
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

size_t WideLength(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// A malloc'ed copy with `padding` zero bytes after the text (at least the terminator).
template <typename Char>
Char* MallocCopy(const Char* text, size_t length, size_t padding) {
  size_t bytes = (length + padding) * sizeof(Char);
  auto* copy = static_cast<Char*>(std::calloc(1, bytes));
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length * sizeof(Char));
  return copy;
}

}  // namespace

std::u16string Utf8ToWide(const char* text) {
  std::u16string wide;
  if (text == nullptr || !DecodeUtf8(text, std::strlen(text), &wide)) return {};
  return wide;
}

std::u16string Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

std::string WideToUtf8(const char16_t* text) {
  if (text == nullptr) return {};
  return EncodeUtf8(text, WideLength(text));
}

std::string WideToUtf8(const std::u16string& text) { return WideToUtf8(text.c_str()); }

char16_t* Utf8ToWideDup(const char* text) {
  std::u16string wide = Utf8ToWide(text);
  return MallocCopy(wide.data(), wide.size(), 1);
}

char* WideToAnsiDup(const char16_t* text) {
  // Two zero bytes for null: callers may read the empty result as narrow or as wide text.
  if (text == nullptr) return static_cast<char*>(std::calloc(2, 1));
  std::string ansi = WideToUtf8(text);
  return MallocCopy(ansi.data(), ansi.size(), 1);
}

char* WideToUtf8Dup(const char16_t* text) {
  std::string utf8 = WideToUtf8(text);
  return MallocCopy(utf8.data(), utf8.size(), 1);
}

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string result = text;
  // An empty search string would match at every position without end.
  if (from.empty()) return result;
  for (size_t position = result.find(from); position != std::string::npos;
       position = result.find(from, position + to.size())) {
    result.replace(position, from.size(), to);
  }
  return result;
}

std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool TryAllocBuffer(uint8_t** out, size_t count) {
  *out = new (std::nothrow) uint8_t[count];
  return *out != nullptr;
}

// Reads a number as atoi does (leading blanks, a sign, digits; anything else ends it), clamped to
// the int range instead of atoi's undefined overflow.
bool IsValidUtf8(std::string_view text) { return DecodeUtf8(text.data(), text.size(), nullptr); }

namespace {

// How many bytes at `i` form one well-formed sequence (> 0), or minus the length of its ill-formed
// prefix (at least 1 byte), by the ranges of the Unicode standard's table of well-formed UTF-8.
int Utf8SequenceAt(const unsigned char* bytes, size_t length, size_t i) {
  const unsigned char lead = bytes[i];
  if (lead < 0x80) return 1;
  int extra;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    if (i + static_cast<size_t>(k) >= length) return -k;
    const unsigned char next = bytes[i + static_cast<size_t>(k)];
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return -k;
  }
  return extra + 1;
}

}  // namespace

std::string ToValidUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string valid;
  valid.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size();) {
    const int sequence = Utf8SequenceAt(bytes, text.size(), i);
    if (sequence > 0) {
      valid.append(text.data() + i, static_cast<size_t>(sequence));
      i += static_cast<size_t>(sequence);
    } else {
      valid += "\xEF\xBF\xBD";  // U+FFFD
      i += static_cast<size_t>(-sequence);
    }
  }
  return valid;
}

int ReadLeadingInt(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    ++text;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

std::string FormatByteSize(uint64_t byteCount) {
  constexpr uint64_t kKilo = 1024;
  double count = static_cast<double>(byteCount);
  char text[64];
  if (byteCount < kKilo) {
    std::snprintf(text, sizeof(text), "%.2f B", count);
  } else if (byteCount < kKilo * kKilo) {
    std::snprintf(text, sizeof(text), "%.2f KB", count / kKilo);
  } else if (byteCount < kKilo * kKilo * kKilo) {
    std::snprintf(text, sizeof(text), "%.2f MB", count / (kKilo * kKilo));
  } else {
    std::snprintf(text, sizeof(text), "%.2f GB", count / (kKilo * kKilo * kKilo));
  }
  return text;
}

// The Unix seconds of a UTC time text "YYYY-MM-DDThh:mm:ss..." (at least 19 characters); false for

}  // namespace hlx
