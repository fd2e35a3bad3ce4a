// The XML property-list writer. Output layout: the XML declaration, the standard PLIST 1.0 document
// type, <plist version="1.0">, one element per line indented by tabs, dictionary keys sorted by their
// UTF-8 bytes, empty containers as <dict/> and <array/>, data as base64 lines between <data> lines,
// dates as "YYYY-MM-DDThh:mm:ssZ" without a fraction, reals in the shortest text that reads back to
// the same double. This is byte for byte the layout Python's plistlib writes, which the tests rely on.
//
// In text, & < > are escaped, and so are control characters other than tab and newline (as numeric
// references): a raw carriage return would come back as a newline and a raw NUL would cut the text
// short for C-string readers.
//
// Threads: any; one writer per call.
#include "cf/cf_plist.h"

#include "cf/cf_date.h"
#include "cf/cf_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

namespace cf {
namespace {

constexpr std::string_view kXmlHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr std::string_view kXmlFooter = "</plist>\n";

// Most elements one document may hold. A tree shares no nodes, but a structure made of shared
// containers (a parsed binary list may be one) can describe an exponentially large document; its
// size is counted before anything is written.
constexpr size_t kMaxWrittenElements = size_t{1} << 22;

// The number of elements the document of `object` would hold, computed once per distinct container
// and saturating just above kMaxWrittenElements. Cycles and excessive depth count as too large.
size_t ExpandedSize(const Object* object, int depth, std::unordered_map<const Object*, size_t>& memo) {
  constexpr size_t kTooLarge = kMaxWrittenElements + 1;
  if (object == nullptr) return 1;
  if (depth > kMaxDepth) return kTooLarge;
  const bool isArray = object->m_type == TypeId::kArray;
  if (!isArray && object->m_type != TypeId::kDictionary) return 1;
  if (auto found = memo.find(object); found != memo.end()) return found->second;
  size_t total = 1;
  auto add = [&](const Object* child) { total = std::min(kTooLarge, total + ExpandedSize(child, depth + 1, memo)); };
  if (isArray) {
    for (const Object* item : static_cast<const ArrayObj*>(object)->m_items) add(item);
  } else {
    for (const auto& entry : static_cast<const DictionaryObj*>(object)->m_entries) add(entry.second);
  }
  memo[object] = total;
  return total;
}

// Base64 lines stay within 76 columns with a tab counted as 8, and never shorter than 16 characters.
size_t Base64LineLength(int depth) noexcept {
  const long length = 76 - 8L * depth;
  return static_cast<size_t>(std::max(16L, length));
}

void AppendEscaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        if (byte < 0x20 && c != '\t' && c != '\n') {
          out += "&#";
          out += std::to_string(byte);
          out += ';';
        } else {
          out.push_back(c);
        }
    }
  }
}

// The shortest digits that read back to `value`, laid out as Python's repr lays out a float: plain
// notation with at least one fractional digit when the decimal exponent is within [-4, 16), scientific
// with a signed two-digit (or longer) exponent otherwise; "nan", "inf" and "-inf" for the rest.
void AppendReal(double value, std::string& out) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "inf" : "-inf";
    return;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  if (!text.empty() && text.front() == '-') {
    out.push_back('-');
    text.remove_prefix(1);
  }
  const size_t exponentAt = text.find('e');
  std::string digits;
  for (const char c : text.substr(0, exponentAt)) {
    if (c != '.') digits.push_back(c);
  }
  const int exponent = std::atoi(std::string(text.substr(exponentAt + 1)).c_str());
  const int pointPosition = exponent + 1;  // digits before the decimal point
  const int digitCount = static_cast<int>(digits.size());
  if (pointPosition > -4 && pointPosition <= 16) {
    if (pointPosition <= 0) {
      out += "0.";
      out.append(static_cast<size_t>(-pointPosition), '0');
      out += digits;
    } else if (pointPosition >= digitCount) {
      out += digits;
      out.append(static_cast<size_t>(pointPosition - digitCount), '0');
      out += ".0";
    } else {
      out += digits.substr(0, static_cast<size_t>(pointPosition));
      out.push_back('.');
      out += digits.substr(static_cast<size_t>(pointPosition));
    }
    return;
  }
  out.push_back(digits[0]);
  if (digitCount > 1) {
    out.push_back('.');
    out += digits.substr(1);
  }
  const int shown = pointPosition - 1;
  out += shown < 0 ? "e-" : "e+";
  const int magnitude = std::abs(shown);
  if (magnitude < 10) out.push_back('0');
  out += std::to_string(magnitude);
}

class XmlWriter {
 public:
  explicit XmlWriter(std::string& out) : m_out(out) {}

  bool Write(const Object* root, std::string* error) {
    std::unordered_map<const Object*, size_t> memo;
    if (ExpandedSize(root, 0, memo) > kMaxWrittenElements) {
      if (error != nullptr) *error = "structure too large, too deep or cyclic";
      return false;
    }
    m_out += kXmlHeader;
    if (!WriteValue(root, 0)) {
      if (error != nullptr) *error = m_error;
      return false;
    }
    m_out += kXmlFooter;
    return true;
  }

 private:
  bool Fail(const char* reason) {
    m_error = reason;
    return false;
  }

  void Indent(int depth) { m_out.append(static_cast<size_t>(depth), '\t'); }

  void Line(int depth, std::string_view tag, std::string_view escapedText) {
    Indent(depth);
    m_out += '<';
    m_out += tag;
    m_out += '>';
    m_out += escapedText;
    m_out += "</";
    m_out += tag;
    m_out += ">\n";
  }

  bool WriteValue(const Object* object, int depth) {
    if (object == nullptr) return Fail("null value");
    if (depth > kMaxDepth) return Fail("nesting too deep or cyclic");
    std::string text;
    switch (object->m_type) {
      case TypeId::kString:
        AppendEscaped(static_cast<const StringObj*>(object)->View(), text);
        Line(depth, "string", text);
        return true;
      case TypeId::kBoolean:
        Indent(depth);
        m_out += static_cast<const BooleanObj*>(object)->m_value ? "<true/>\n" : "<false/>\n";
        return true;
      case TypeId::kNumber: {
        const auto* number = static_cast<const NumberObj*>(object);
        switch (number->m_kind) {
          case NumberObj::Kind::kSigned: Line(depth, "integer", std::to_string(number->m_signed)); break;
          case NumberObj::Kind::kBigUnsigned: Line(depth, "integer", std::to_string(number->m_unsigned)); break;
          case NumberObj::Kind::kReal:
            AppendReal(number->m_real, text);
            Line(depth, "real", text);
            break;
        }
        return true;
      }
      case TypeId::kDate:
        if (!FormatIsoDate(static_cast<const DateObj*>(object)->m_time, text)) return Fail("date out of range");
        Line(depth, "date", text);
        return true;
      case TypeId::kData: WriteData(static_cast<const DataObj*>(object)->m_bytes, depth); return true;
      case TypeId::kUID: {
        // Keyed archives spell a UID in XML as a dictionary with the single key "CF$UID".
        Indent(depth);
        m_out += "<dict>\n";
        Line(depth + 1, "key", "CF$UID");
        Line(depth + 1, "integer", std::to_string(static_cast<const UIDObj*>(object)->m_value));
        Indent(depth);
        m_out += "</dict>\n";
        return true;
      }
      case TypeId::kArray: return WriteArray(static_cast<const ArrayObj*>(object), depth);
      case TypeId::kDictionary: return WriteDictionary(static_cast<const DictionaryObj*>(object), depth);
      case TypeId::kURL:
      case TypeId::kWriteStream:
      case TypeId::kError: break;
    }
    return Fail("object cannot be in a property list");
  }

  void WriteData(const std::vector<uint8_t>& bytes, int depth) {
    Indent(depth);
    m_out += "<data>\n";
    const std::string encoded = EncodeBase64(bytes.data(), bytes.size());
    const size_t lineLength = Base64LineLength(depth);
    for (size_t at = 0; at < encoded.size(); at += lineLength) {
      Indent(depth);
      m_out.append(encoded, at, lineLength);
      m_out += '\n';
    }
    Indent(depth);
    m_out += "</data>\n";
  }

  bool WriteArray(const ArrayObj* array, int depth) {
    Indent(depth);
    if (array->m_items.empty()) {
      m_out += "<array/>\n";
      return true;
    }
    m_out += "<array>\n";
    for (const Object* item : array->m_items) {
      if (!WriteValue(item, depth + 1)) return false;
    }
    Indent(depth);
    m_out += "</array>\n";
    return true;
  }

  bool WriteDictionary(const DictionaryObj* dictionary, int depth) {
    Indent(depth);
    if (dictionary->m_entries.empty()) {
      m_out += "<dict/>\n";
      return true;
    }
    std::vector<std::pair<std::string_view, const Object*>> sorted;
    sorted.reserve(dictionary->m_entries.size());
    for (const auto& [key, value] : dictionary->m_entries) {
      if (key->m_type != TypeId::kString) return Fail("dictionary key is not a string");
      sorted.emplace_back(static_cast<const StringObj*>(key)->View(), value);
    }
    // string_view compares as unsigned bytes, which for UTF-8 is code-point order.
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    m_out += "<dict>\n";
    for (const auto& [key, value] : sorted) {
      std::string escaped;
      AppendEscaped(key, escaped);
      Line(depth + 1, "key", escaped);
      if (!WriteValue(value, depth + 1)) return false;
    }
    Indent(depth);
    m_out += "</dict>\n";
    return true;
  }

  std::string& m_out;
  std::string m_error;
};

}  // namespace

bool WriteXmlPlist(const Object* root, std::string& out, std::string* error) {
  return XmlWriter(out).Write(root, error);
}

}  // namespace cf
