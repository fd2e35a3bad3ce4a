// The XML property-list reader. A small hand-written XML scanner that knows exactly the property-list
// vocabulary: it accepts an XML declaration, processing instructions, comments, CDATA, character and
// the five predefined entity references, a document type declaration in any spelling the service's
// own message templates use (including "<!DOCTYPEplist PUBLIC ..." with no blank after DOCTYPE), a
// <plist> root or a bare value as the root, and whitespace between elements. Anything else, an
// unknown element, stray text, a missing end tag, invalid UTF-8, an integer outside
// [-2^63, 2^64-1] or nesting deeper than kMaxDepth, makes the whole parse fail.
//
// Line ends inside text are normalised ("\r\n" and "\r" become "\n") as every XML parser does; the
// writer keeps a carriage return by writing it as a character reference.
//
// Threads: any; one reader per call.
#include "cf/cf_plist.h"

#include "cf/cf_date.h"
#include "cf/cf_text.h"
#include "vnl_utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace cf {
namespace {

bool IsXmlSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

std::string_view Trim(std::string_view text) noexcept {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// "<integer>" text: optional sign, then decimal digits or 0x and hex digits, surrounding whitespace
// allowed. Values from -2^63 to 2^64-1; above INT64_MAX the number is kept as a big unsigned.
Ref<NumberObj> ParseInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return {};
  unsigned __int128 magnitude = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return {};
    }
    magnitude = magnitude * base + digit;
    if (magnitude > std::numeric_limits<uint64_t>::max()) return {};
  }
  if (negative) {
    if (magnitude > static_cast<unsigned __int128>(1) << 63) return {};
    return NewSigned(static_cast<int64_t>(-static_cast<__int128>(magnitude)));
  }
  return NewUnsigned(static_cast<uint64_t>(magnitude));
}

// Whether a decimal text that overflowed or underflowed the double range was too large (rather than
// too small): its decimal magnitude is positive.
bool IsHugeMagnitude(std::string_view text) noexcept {
  size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  int64_t leadingZerosAfterPoint = 0;
  int64_t integerDigits = 0;
  bool seenNonZero = false;
  bool afterPoint = false;
  for (; at < text.size() && text[at] != 'e' && text[at] != 'E'; ++at) {
    const char c = text[at];
    if (c == '.') {
      afterPoint = true;
    } else if (!seenNonZero && c == '0') {
      if (afterPoint) ++leadingZerosAfterPoint;
    } else {
      seenNonZero = true;
      if (!afterPoint) ++integerDigits;
    }
  }
  int64_t exponent = 0;
  if (at < text.size()) {
    ++at;
    bool negativeExponent = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negativeExponent = text[at++] == '-';
    for (; at < text.size(); ++at) exponent = std::min<int64_t>(exponent * 10 + (text[at] - '0'), 1000000);
    if (negativeExponent) exponent = -exponent;
  }
  const int64_t magnitude = exponent + (integerDigits > 0 ? integerDigits : -leadingZerosAfterPoint);
  return magnitude > 0;
}

// "<real>" text: a decimal number, "inf", "infinity" or "nan" in any case, with an optional sign and
// surrounding whitespace. Values beyond the double range become infinity or zero, as strtod does.
Ref<NumberObj> ParseReal(std::string_view text) {
  text = Trim(text);
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) return {};
  }
  if (digits.empty()) return {};
  double value = 0.0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ptr != digits.data() + digits.size()) return {};
  if (result.ec == std::errc::result_out_of_range) {
    const bool negative = digits.front() == '-';
    value = IsHugeMagnitude(digits) ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  } else if (result.ec != std::errc()) {
    return {};
  }
  return NewReal(value);
}

class XmlReader {
 public:
  XmlReader(std::string_view text, bool mutableContainers) : m_text(text), m_mutable(mutableContainers) {}

  Ref<Object> ParseDocument(std::string* error) {
    Ref<Object> root = ParseDocumentBody();
    if (!root && error != nullptr) *error = m_error.empty() ? "malformed XML property list" : m_error;
    return root;
  }

 private:
  struct Tag {
    std::string_view name;
    bool selfClosing = false;
  };

  Ref<Object> ParseDocumentBody() {
    if (m_text.substr(0, 3) == "\xEF\xBB\xBF") m_pos = 3;
    if (!SkipMisc(true)) return {};
    Tag tag;
    if (!ReadStartTag(&tag)) return {};
    Ref<Object> root;
    if (tag.name == "plist") {
      if (tag.selfClosing) return Fail("empty plist element");
      if (!SkipMisc(false)) return {};
      Tag valueTag;
      if (!ReadStartTag(&valueTag)) return {};
      root = ParseValue(valueTag, 0);
      if (!root || !SkipMisc(false) || !ReadEndTag("plist")) return {};
    } else {
      root = ParseValue(tag, 0);
      if (!root) return {};
    }
    // Trailing whitespace, comments and NUL bytes (callers often pass a C string with its terminator).
    while (m_pos < m_text.size()) {
      if (IsXmlSpace(m_text[m_pos]) || m_text[m_pos] == '\0') {
        ++m_pos;
      } else if (StartsWith("<!--")) {
        if (!SkipComment()) return {};
      } else if (StartsWith("<?")) {
        if (!SkipProcessingInstruction()) return {};
      } else {
        return Fail("content after the root element");
      }
    }
    return root;
  }

  std::nullptr_t Fail(const char* reason) {
    if (m_error.empty()) m_error = std::string(reason) + " at byte " + std::to_string(m_pos);
    return nullptr;
  }

  bool StartsWith(std::string_view prefix) const noexcept { return m_text.substr(m_pos, prefix.size()) == prefix; }

  bool SkipComment() {
    const size_t end = m_text.find("-->", m_pos + 4);
    if (end == std::string_view::npos) return Fail("unterminated comment"), false;
    m_pos = end + 3;
    return true;
  }

  bool SkipProcessingInstruction() {
    const size_t end = m_text.find("?>", m_pos + 2);
    if (end == std::string_view::npos) return Fail("unterminated processing instruction"), false;
    m_pos = end + 2;
    return true;
  }

  // "<!DOCTYPE" up to its closing '>', stepping over quoted literals and an internal subset. The
  // keyword may run straight into the root name ("<!DOCTYPEplist").
  bool SkipDoctype() {
    m_pos += 9;
    char quote = 0;
    int subsetDepth = 0;
    for (; m_pos < m_text.size(); ++m_pos) {
      const char c = m_text[m_pos];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++subsetDepth;
      } else if (c == ']') {
        --subsetDepth;
      } else if (c == '>' && subsetDepth <= 0) {
        ++m_pos;
        return true;
      }
    }
    return Fail("unterminated document type declaration"), false;
  }

  // Whitespace, comments and processing instructions; in the prolog also the document type.
  bool SkipMisc(bool prolog) {
    while (m_pos < m_text.size()) {
      if (IsXmlSpace(m_text[m_pos])) {
        ++m_pos;
      } else if (StartsWith("<!--")) {
        if (!SkipComment()) return false;
      } else if (StartsWith("<?")) {
        if (!SkipProcessingInstruction()) return false;
      } else if (prolog && StartsWith("<!DOCTYPE")) {
        if (!SkipDoctype()) return false;
      } else {
        return true;
      }
    }
    return true;
  }

  bool ReadStartTag(Tag* tag) {
    if (m_pos >= m_text.size() || m_text[m_pos] != '<') return Fail("expected an element"), false;
    ++m_pos;
    const size_t nameStart = m_pos;
    while (m_pos < m_text.size() && IsNameChar(m_text[m_pos])) ++m_pos;
    if (m_pos == nameStart) return Fail("expected an element name"), false;
    tag->name = m_text.substr(nameStart, m_pos - nameStart);
    // Attributes are read over and ignored (only <plist version="..."> carries any).
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (IsXmlSpace(c)) {
        ++m_pos;
      } else if (c == '>') {
        ++m_pos;
        tag->selfClosing = false;
        return true;
      } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '>') {
        m_pos += 2;
        tag->selfClosing = true;
        return true;
      } else if (IsNameChar(c)) {
        while (m_pos < m_text.size() && IsNameChar(m_text[m_pos])) ++m_pos;
        while (m_pos < m_text.size() && IsXmlSpace(m_text[m_pos])) ++m_pos;
        if (m_pos >= m_text.size() || m_text[m_pos] != '=') return Fail("attribute without a value"), false;
        ++m_pos;
        while (m_pos < m_text.size() && IsXmlSpace(m_text[m_pos])) ++m_pos;
        if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\'')) {
          return Fail("unquoted attribute value"), false;
        }
        const size_t end = m_text.find(m_text[m_pos], m_pos + 1);
        if (end == std::string_view::npos) return Fail("unterminated attribute value"), false;
        m_pos = end + 1;
      } else {
        return Fail("malformed start tag"), false;
      }
    }
    return Fail("unterminated start tag"), false;
  }

  bool ReadEndTag(std::string_view name) {
    if (!StartsWith("</")) return Fail("expected an end tag"), false;
    m_pos += 2;
    if (m_text.substr(m_pos, name.size()) != name) return Fail("mismatched end tag"), false;
    m_pos += name.size();
    while (m_pos < m_text.size() && IsXmlSpace(m_text[m_pos])) ++m_pos;
    if (m_pos >= m_text.size() || m_text[m_pos] != '>') return Fail("malformed end tag"), false;
    ++m_pos;
    return true;
  }

  bool ReadReference(std::string& out) {
    // The longest reference is "&#x10FFFF;" (a few zeros in front aside), so look no further than that.
    const size_t end = m_text.substr(0, m_pos + 13).find(';', m_pos);
    if (end == std::string_view::npos) return Fail("malformed entity reference"), false;
    const std::string_view name = m_text.substr(m_pos + 1, end - m_pos - 1);
    m_pos = end + 1;
    // clang-format off
    if (name == "amp") out.push_back('&');
    else if (name == "lt") out.push_back('<');
    else if (name == "gt") out.push_back('>');
    else if (name == "quot") out.push_back('"');
    else if (name == "apos") out.push_back('\'');
    // clang-format on
    else if (name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t codePoint = 0;
      const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), codePoint, hex ? 16 : 10);
      if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
          codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return Fail("invalid character reference"), false;
      }
      vnl::AppendUtf8(out, codePoint);
    } else {
      return Fail("unknown entity"), false;
    }
    return true;
  }

  // The character content of a leaf element up to its end tag. Elements inside are refused.
  bool ReadText(std::string_view name, std::string& out) {
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == '<') {
        if (StartsWith("</")) return ReadEndTag(name);
        if (StartsWith("<!--")) {
          if (!SkipComment()) return false;
          continue;
        }
        if (StartsWith("<![CDATA[")) {
          const size_t end = m_text.find("]]>", m_pos + 9);
          if (end == std::string_view::npos) return Fail("unterminated CDATA section"), false;
          AppendNormalised(m_text.substr(m_pos + 9, end - m_pos - 9), out);
          m_pos = end + 3;
          continue;
        }
        return Fail("element inside a text element"), false;
      }
      if (c == '&') {
        if (!ReadReference(out)) return false;
        continue;
      }
      const size_t next = m_text.find_first_of("<&", m_pos);
      const size_t end = next == std::string_view::npos ? m_text.size() : next;
      AppendNormalised(m_text.substr(m_pos, end - m_pos), out);
      m_pos = end;
    }
    return Fail("missing end tag"), false;
  }

  // Appends the runs between carriage returns whole; only the line ends themselves are rewritten.
  static void AppendNormalised(std::string_view text, std::string& out) {
    for (;;) {
      const size_t cr = text.find('\r');
      out.append(text.substr(0, cr));
      if (cr == std::string_view::npos) return;
      out.push_back('\n');
      text.remove_prefix(cr + 1);
      if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    }
  }

  // Keys and short texts repeat across the records of a large list (every record of an address book
  // names its entity under the same key): they share one string object per parse rather than one
  // allocation each. Strings are immutable, so the sharing cannot be seen through values. The table
  // stops growing at kMaxSharedStrings so that unique texts (record ids) do not swell the parse; it
  // is open-addressed and at most half full, so a lookup is a hash of a short text and a probe or two.
  Ref<StringObj> SharedString(std::string_view text) {
    if (text.size() > kMaxSharedStringBytes) return NewString(text);
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    size_t slot = static_cast<size_t>(hash) & (kSharedStringSlots - 1);
    for (; m_strings[slot]; slot = (slot + 1) & (kSharedStringSlots - 1)) {
      if (m_strings[slot]->View() == text) return m_strings[slot];
    }
    Ref<StringObj> string = NewString(text);
    if (string && m_sharedCount < kMaxSharedStrings) {
      m_strings[slot] = string;
      ++m_sharedCount;
    }
    return string;
  }

  // Text of a leaf element whose start tag has been read: a view of the document when the text is
  // plain (no reference, carriage return, comment or CDATA section), else read into `buffer`.
  bool LeafText(const Tag& tag, std::string& buffer, std::string_view* text) {
    *text = std::string_view();
    if (tag.selfClosing) return true;
    const size_t end = m_text.find('<', m_pos);
    if (end != std::string_view::npos && end + 1 < m_text.size() && m_text[end + 1] == '/') {
      const std::string_view run = m_text.substr(m_pos, end - m_pos);
      if (std::none_of(run.begin(), run.end(), [](char c) { return c == '&' || c == '\r'; })) {
        m_pos = end;
        *text = run;
        return ReadEndTag(tag.name);
      }
    }
    if (!ReadText(tag.name, buffer)) return false;
    *text = buffer;
    return true;
  }

  Ref<Object> ParseValue(const Tag& tag, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    const std::string_view name = tag.name;
    if (name == "dict") return ParseDictionary(tag, depth);
    if (name == "array") return ParseArray(tag, depth);
    std::string buffer;
    std::string_view text;
    if (name == "true" || name == "false") {
      if (!LeafText(tag, buffer, &text)) return nullptr;
      if (!Trim(text).empty()) return Fail("text inside a boolean");
      return Ref<Object>::Share(GetBoolean(name == "true"));
    }
    if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data") {
      return Fail("unknown element");
    }
    if (!LeafText(tag, buffer, &text)) return nullptr;
    Ref<Object> value;
    if (name == "string") {
      value = SharedString(text);
    } else if (name == "integer") {
      value = ParseInteger(text);
    } else if (name == "real") {
      value = ParseReal(text);
    } else if (name == "date") {
      double time = 0.0;
      if (ParseIsoDate(text, &time)) value = NewDate(time);
    } else {
      std::vector<uint8_t> bytes;
      if (DecodeBase64(text, bytes)) value = NewData(bytes.data(), bytes.size());
    }
    if (!value) return Fail("invalid element text");
    return value;
  }

  Ref<Object> ParseArray(const Tag& tag, int depth) {
    auto array = NewArray(m_mutable);
    if (tag.selfClosing) return array;
    for (;;) {
      if (!SkipMisc(false)) return nullptr;
      if (StartsWith("</")) {
        if (!ReadEndTag("array")) return nullptr;
        return array;
      }
      Tag child;
      if (!ReadStartTag(&child)) return nullptr;
      Ref<Object> value = ParseValue(child, depth + 1);
      if (!value) return nullptr;
      ArrayAppend(array.Get(), value.Get());
    }
  }

  Ref<Object> ParseDictionary(const Tag& tag, int depth) {
    auto dictionary = NewDictionary(m_mutable);
    if (tag.selfClosing) return dictionary;
    for (;;) {
      if (!SkipMisc(false)) return nullptr;
      if (StartsWith("</")) {
        if (!ReadEndTag("dict")) return nullptr;
        return dictionary;
      }
      Tag keyTag;
      if (!ReadStartTag(&keyTag)) return nullptr;
      if (keyTag.name != "key") return Fail("expected a key");
      std::string keyBuffer;
      std::string_view keyText;
      if (!LeafText(keyTag, keyBuffer, &keyText)) return nullptr;
      Ref<StringObj> key = SharedString(keyText);
      if (!key) return Fail("key is not valid UTF-8");
      if (!SkipMisc(false)) return nullptr;
      if (StartsWith("</")) return Fail("key without a value");
      Tag valueTag;
      if (!ReadStartTag(&valueTag)) return nullptr;
      Ref<Object> value = ParseValue(valueTag, depth + 1);
      if (!value) return nullptr;
      // A repeated key: the later value wins.
      DictionarySet(dictionary.Get(), key.Get(), value.Get(), true);
    }
  }

  static constexpr size_t kMaxSharedStringBytes = 64;
  static constexpr size_t kMaxSharedStrings = 256;
  static constexpr size_t kSharedStringSlots = 2 * kMaxSharedStrings;  // a power of two

  std::string_view m_text;
  size_t m_pos = 0;
  bool m_mutable;
  std::string m_error;
  std::vector<Ref<StringObj>> m_strings = std::vector<Ref<StringObj>>(kSharedStringSlots);
  size_t m_sharedCount = 0;
};

}  // namespace

Ref<Object> ParseXmlPlist(std::string_view text, bool mutableContainers, std::string* error) {
  return XmlReader(text, mutableContainers).ParseDocument(error);
}

}  // namespace cf
