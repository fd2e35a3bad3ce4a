// Property-list conversions through the binding's CoreFoundation functions, and the walks into
// PlistVariant trees: straight from the library's objects, or of XML text with TinyXML. Every CoreFoundation object is
// owned by a CFPtr from the line that made it, so each failure path releases what was made before it.
#include "utility/hlx_plist.h"

#include <tinyxml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "utility/hlx_encoding.h"
#include "utility/hlx_plist_binary.h"
#include "utility/hlx_text.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

// TinyXML recurses once per element level, and so does the walk below. Property lists of devices
// and backups nest a dozen levels; a list nested deeper than this comes from a broken or hostile
// peer and is refused before it can exhaust a worker's stack.
constexpr int kMaxPlistNesting = 512;
// The most values the library's XML writer puts in one document; a list that holds more (shared
// containers make a small document hold any number) is refused.
constexpr size_t kMaxPlistValues = size_t{1} << 22;

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

bool FitsLength32(size_t length) { return length <= std::numeric_limits<uint32_t>::max(); }

// TinyXML condenses runs of blanks in text by default, which would turn "a  b\nc" into "a b c":
// property-list strings (note texts, names) must arrive as written. The setting is process-wide;
// this file is TinyXML's only user in the service, and it is set once before the first parse.
void KeepWhiteSpaceInXmlText() {
  static std::once_flag once;
  std::call_once(once, [] { TiXmlBase::SetCondenseWhiteSpace(false); });
}

bool NameEquals(const char* name, const char* expected) {
  if (name == nullptr) return false;
  for (; *name != '\0' && *expected != '\0'; ++name, ++expected) {
    char a = *name >= 'A' && *name <= 'Z' ? static_cast<char>(*name - 'A' + 'a') : *name;
    if (a != *expected) return false;
  }
  return *name == '\0' && *expected == '\0';
}

const TiXmlElement* FirstChildElementNamed(const TiXmlNode* parent, const char* lowerName) {
  for (const TiXmlElement* child = parent->FirstChildElement(); child != nullptr; child = child->NextSiblingElement()) {
    if (NameEquals(child->Value(), lowerName)) return child;
  }
  return nullptr;
}

// The element's text when its first child is a text node; null otherwise.
const char* ElementText(const TiXmlElement* element) {
  const TiXmlNode* first = element->FirstChild();
  if (first == nullptr || first->ToText() == nullptr) return nullptr;
  return first->Value();
}

// The deepest element nesting of XML text, stopping as soon as it passes `limit`. Only as exact as
// a guard needs: comments, CDATA, declarations and quoted attribute values are stepped over.
bool NestingWithin(const std::string& xml, int limit) {
  int depth = 0;
  size_t i = 0;
  const size_t n = xml.size();
  auto skipPast = [&](const char* end) {
    size_t at = xml.find(end, i);
    i = at == std::string::npos ? n : at + std::strlen(end);
  };
  while (i < n) {
    if (xml[i] != '<') {
      ++i;
      continue;
    }
    if (xml.compare(i, 4, "<!--") == 0) {
      skipPast("-->");
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      skipPast("]]>");
    } else if (i + 1 < n && (xml[i + 1] == '!' || xml[i + 1] == '?')) {
      skipPast(">");
    } else if (i + 1 < n && xml[i + 1] == '/') {
      --depth;
      skipPast(">");
    } else {
      char quote = 0;
      size_t j = i + 1;
      for (; j < n; ++j) {
        if (quote != 0) {
          if (xml[j] == quote) quote = 0;
        } else if (xml[j] == '"' || xml[j] == '\'') {
          quote = xml[j];
        } else if (xml[j] == '>') {
          break;
        }
      }
      if (j >= n) return true;  // unterminated: TinyXML rejects it without recursing
      if (xml[j - 1] != '/' && ++depth > limit) return false;
      i = j + 1;
    }
  }
  return true;
}

// "atof" without the locale: blanks, an optional sign, then a decimal or "inf"/"nan"; 0 when
// nothing reads.
double ReadDouble(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  double value = 0;
  const char* end = text + std::strlen(text);
  std::from_chars_result result = std::from_chars(text, end, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone when it overflows or underflows; strtod's results are the
    // infinities and zero. Tell them apart by the exponent's sign.
    const char* exponent = std::strpbrk(text, "eE");
    value = exponent != nullptr && exponent[1] == '-' ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (result.ec != std::errc()) {
    value = 0;
  }
  return negative ? -value : value;
}

PlistVariant ReadPlistArray(const TiXmlElement* element);
PlistVariant ReadPlistDict(const TiXmlElement* element);

// Converts one value element; false when the rules drop it.
bool ConvertElement(const TiXmlElement* element, bool inDictionary, PlistVariant* out) {
  const char* name = element->Value();
  if (NameEquals(name, "array")) {
    *out = ReadPlistArray(element);
    return true;
  }
  if (NameEquals(name, "dict")) {
    *out = ReadPlistDict(element);
    return true;
  }
  if (NameEquals(name, "true") || NameEquals(name, "false")) {
    *out = PlistVariant(NameEquals(name, "true"));
    return true;
  }
  const bool isString = NameEquals(name, "string");
  const bool isText = NameEquals(name, "date") || NameEquals(name, "data");
  const bool isInteger = NameEquals(name, "integer");
  const bool isReal = NameEquals(name, "real");
  if (!isString && !isText && !isInteger && !isReal) return false;
  if (isText && !inDictionary) return false;
  if (isReal && inDictionary) return false;
  const char* text = ElementText(element);
  if (text == nullptr || text[0] == '\0') return false;
  if (isString || isText) {
    *out = PlistVariant(std::string(text));
  } else if (isInteger) {
    // strtoll is _atoi64 with defined overflow: it saturates at the int64 limits.
    *out = PlistVariant(static_cast<int64_t>(std::strtoll(text, nullptr, 10)));
  } else {
    *out = PlistVariant(ReadDouble(text));
  }
  return true;
}

PlistVariant ReadPlistArray(const TiXmlElement* element) {
  PlistVariant::Array values;
  for (const TiXmlElement* child = element->FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    PlistVariant value;
    if (ConvertElement(child, false, &value)) values.push_back(std::move(value));
  }
  if (values.empty()) return PlistVariant();
  return PlistVariant(std::move(values));
}

PlistVariant ReadPlistDict(const TiXmlElement* element) {
  auto dictionary = std::make_shared<CIOSDictionary>();
  const TiXmlElement* key = element->FirstChildElement();
  while (key != nullptr) {
    // The first of a pair is the key whatever its tag, the next element its value.
    const TiXmlElement* value = key->NextSiblingElement();
    if (value == nullptr) break;
    const char* keyText = ElementText(key);
    PlistVariant converted;
    if (keyText != nullptr && ConvertElement(value, true, &converted)) {
      dictionary->Set(keyText, std::move(converted));
    }
    key = value->NextSiblingElement();
  }
  return PlistVariant(std::move(dictionary));
}

// The library's list parsed from bytes in any form; null when the library rejects them.
CFPtr<CFPropertyListRef> ParseWithLibrary(const uint8_t* bytes, size_t length) {
  if ((bytes == nullptr && length != 0) || !FitsLength32(length)) return nullptr;
  CMobileExportFun& md = Md();
  if (!md.IsLoaded()) return nullptr;
  CFPtr<CFDataRef> data(md.CFDataCreate(nullptr, bytes, static_cast<CFIndex>(length)));
  if (!data) return nullptr;
  return CFPtr<CFPropertyListRef>(
      md.CFPropertyListCreateWithData(nullptr, data.get(), kCFPropertyListImmutable, nullptr, nullptr));
}

// The library's XML form of a list, as a NUL-terminated text for TinyXML; false when the library
// cannot write it.
bool CopyXmlForm(CFPropertyListRef list, std::string* xml) {
  CMobileExportFun& md = Md();
  CFPtr<CFDataRef> xmlData(md.CFPropertyListCreateXMLData(nullptr, list));
  if (!xmlData) return false;
  const CFIndex xmlLength = md.CFDataGetLength(xmlData.get());
  const UInt8* xmlBytes = md.CFDataGetBytePtr(xmlData.get());
  if (xmlLength < 0 || (xmlBytes == nullptr && xmlLength != 0)) return false;
  xml->assign(reinterpret_cast<const char*>(xmlBytes), static_cast<size_t>(xmlLength));
  return true;
}

bool CopyXmlForm(const uint8_t* bytes, size_t length, std::string* xml) {
  CFPtr<CFPropertyListRef> list = ParseWithLibrary(bytes, length);
  return list && CopyXmlForm(list.get(), xml);
}

bool ParseXml(const std::string& xml, TiXmlDocument* document) {
  if (!NestingWithin(xml, kMaxPlistNesting)) return false;
  KeepWhiteSpaceInXmlText();
  // Property-list XML is UTF-8 by definition. Left to guess, TinyXML would turn a character
  // reference such as "&#x4E2D;" into one truncated byte in text without a declaration.
  document->Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
  return true;
}

// With `wellFormed`, text that TinyXML finds broken is refused, as the library refuses it, rather
// than read as far as it goes.
bool ReadXmlTree(const std::string& xml, PlistVariant* out, bool wellFormed = false) {
  TiXmlDocument document;
  if (!ParseXml(xml, &document) || (wellFormed && document.Error())) return false;
  const TiXmlElement* plist = FirstChildElementNamed(&document, "plist");
  if (plist == nullptr) return false;
  *out = ReadPlistArray(plist);
  return true;
}

// The objects of a list that the library holds, as the tree reader reads them.
class LibraryObjects {
 public:
  using Ref = CFTypeRef;

  PlistObjectKind Kind(Ref object) const {
    if (object == nullptr) return PlistObjectKind::kInvalid;
    const CFTypeID type = Md().CFGetTypeID(object);
    if (type == kHLXCFArrayTypeID) return PlistObjectKind::kArray;
    if (type == kHLXCFDictionaryTypeID) return PlistObjectKind::kDictionary;
    if (type == kHLXCFBooleanTypeID) return PlistObjectKind::kBoolean;
    if (type == kHLXCFStringTypeID) return PlistObjectKind::kString;
    if (type == kHLXCFDateTypeID) return PlistObjectKind::kDate;
    if (type == kHLXCFDataTypeID) return PlistObjectKind::kData;
    if (type == kHLXCFNumberTypeID) {
      const CFNumberType numberType = Md().CFNumberGetType(static_cast<CFNumberRef>(object));
      return numberType == kCFNumberFloat32Type || numberType == kCFNumberFloat64Type ? PlistObjectKind::kReal
                                                                                      : PlistObjectKind::kInteger;
    }
    return PlistObjectKind::kOther;  // a keyed archive's UID among them: its XML form is read instead
  }
  bool Boolean(Ref object) const { return Md().CFBooleanGetValue(static_cast<CFBooleanRef>(object)) != 0; }
  bool Text(Ref string, std::string* text) {
    CMobileExportFun& md = Md();
    const CFIndex units = md.CFStringGetLength(static_cast<CFStringRef>(string));
    if (units <= 0) return false;
    const size_t room = static_cast<size_t>(units) * 3 + 1;  // a UTF-16 unit takes at most 3 UTF-8 bytes
    // The buffer only grows: resizing it to each string's room would clear the bytes anew every time.
    if (m_buffer.size() < room) m_buffer.resize(room);
    if (!md.CFStringGetCString(static_cast<CFStringRef>(string), m_buffer.data(), static_cast<CFIndex>(room),
                               kCFStringEncodingUTF8)) {
      return false;
    }
    text->assign(m_buffer.data());
    return true;
  }
  int64_t Integer(Ref object) const {
    const auto number = static_cast<CFNumberRef>(object);
    int64_t integer = std::numeric_limits<int64_t>::max();  // an unsigned value past the int64 range
    if (Md().CFNumberGetByteSize(number) <= 8) Md().CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
    return integer;
  }
  double Real(Ref object) const {
    double real = 0;
    Md().CFNumberGetValue(static_cast<CFNumberRef>(object), kCFNumberFloat64Type, &real);
    return real;
  }
  double Date(Ref object) const { return Md().CFDateGetAbsoluteTime(static_cast<CFDateRef>(object)); }
  void Data(Ref object, const uint8_t** bytes, size_t* length) const {
    const auto data = static_cast<CFDataRef>(object);
    const CFIndex count = Md().CFDataGetLength(data);
    *bytes = Md().CFDataGetBytePtr(data);
    *length = count > 0 && *bytes != nullptr ? static_cast<size_t>(count) : 0;
  }
  uint64_t Uid(Ref) const { return 0; }  // never a kind of its own here
  size_t Count(Ref object) const {
    const CFIndex count = Md().CFGetTypeID(object) == kHLXCFArrayTypeID
                              ? Md().CFArrayGetCount(static_cast<CFArrayRef>(object))
                              : Md().CFDictionaryGetCount(static_cast<CFDictionaryRef>(object));
    return static_cast<size_t>(std::max<CFIndex>(count, 0));
  }
  Ref Element(Ref array, size_t index) const {
    return Md().CFArrayGetValueAtIndex(static_cast<CFArrayRef>(array), static_cast<CFIndex>(index));
  }
  void Entries(Ref dictionary, std::vector<Ref>* keys, std::vector<Ref>* values) const {
    const size_t count = Count(dictionary);
    keys->assign(count, nullptr);
    values->assign(count, nullptr);
    if (count > 0) {
      Md().CFDictionaryGetKeysAndValues(static_cast<CFDictionaryRef>(dictionary), keys->data(), values->data());
    }
  }

 private:
  std::vector<char> m_buffer;
};

// The tree of a list read straight from its objects, without XML text: each rule of the XML reading
// is applied to what the library's XML writer writes for the object (the header's table, TinyXML's
// dropping of blank text, the writer's base64 lines and date form), and the writer's and the
// nesting guard's limits are kept, so that the library's objects and the binary document read
// here give the tree that reading the XML form would. A keyed archive's UID reads as the
// dictionary the writer writes for it; an object of another kind leaves the list to the XML
// reading (kNeedsXml), which only a list the library holds has.
template <typename Objects>
class TreeReader {
 public:
  enum class Result { kOk, kRejected, kNeedsXml };
  using Ref = typename Objects::Ref;

  explicit TreeReader(Objects& objects) : m_objects(objects) {}

  Result Read(Ref top, PlistVariant* out) {
    PlistVariant value;
    const Step step = Convert(top, 0, false, &value);
    if (step == Step::kStop) return m_result;
    // The top-level value is read like an element of the "plist" element's array.
    *out = step == Step::kDropped ? PlistVariant() : PlistVariant(PlistVariant::Array{std::move(value)});
    return Result::kOk;
  }

 private:
  enum class Step { kKept, kDropped, kStop };

  // The deepest writer depth of an element that the nesting guard passes (the "plist" element and
  // the top-level value's own level).
  static constexpr int kMaxDepth = kMaxPlistNesting - 2;

  Step Stop(Result result) {
    m_result = result;
    return Step::kStop;
  }

  // A string's text as the XML reading keeps it; false when it is dropped: empty, or blanks alone
  // (what isspace takes in the C locale). The text ends at a NUL, as the C string does.
  bool ReadText(Ref string, std::string* text) {
    if (!m_objects.Text(string, text)) return false;
    const size_t nul = text->find('\0');
    if (nul != std::string::npos) text->resize(nul);
    for (char c : *text) {
      if (c != ' ' && (c < '\t' || c > '\r')) return true;
    }
    return false;
  }

  // The writer's data element text: a line break, then base64 lines each indented by the element's
  // depth and ended by a line break, then the indent of the closing tag.
  static std::string DataText(const uint8_t* bytes, size_t length, int depth) {
    const std::string encoded = Base64Encode(bytes, length);
    const size_t lineLength = static_cast<size_t>(std::max(16, 76 - 8 * depth));
    const std::string indent(static_cast<size_t>(depth), '\t');
    std::string text = "\n";
    for (size_t at = 0; at < encoded.size(); at += lineLength) {
      text += indent;
      text.append(encoded, at, lineLength);
      text += '\n';
    }
    return text + indent;
  }

  // The writer's date text, "YYYY-MM-DDThh:mm:ssZ" of the whole second at or before the time; false
  // outside the years 1 to 9999, which the writer refuses.
  static bool DateText(double absoluteTime, std::string* text) {
    constexpr double kFirst = -63113904000.0;     // 0001-01-01T00:00:00Z
    constexpr double kPastLast = 252423993600.0;  // 10000-01-01T00:00:00Z
    if (!std::isfinite(absoluteTime)) return false;
    const double whole = std::floor(absoluteTime);
    if (whole < kFirst || whole >= kPastLast) return false;
    const time_t unixSeconds = static_cast<time_t>(whole) + kAppleEpochUnixSeconds;
    std::tm utc{};
    if (gmtime_r(&unixSeconds, &utc) == nullptr) return false;
    char buffer[80];  // room for any int fields, though the range keeps them short
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    text->assign(buffer);
    return true;
  }

  Step Convert(Ref object, int depth, bool inDictionary, PlistVariant* out) {
    if (++m_values > kMaxPlistValues) return Stop(Result::kRejected);
    const PlistObjectKind kind = m_objects.Kind(object);
    switch (kind) {
      case PlistObjectKind::kInvalid: return Stop(Result::kRejected);
      case PlistObjectKind::kArray: return ConvertArray(object, depth, out);
      case PlistObjectKind::kDictionary: return ConvertDictionary(object, depth, out);
      case PlistObjectKind::kBoolean: *out = PlistVariant(m_objects.Boolean(object)); return Step::kKept;
      case PlistObjectKind::kOther: return Stop(Result::kNeedsXml);
      default: break;
    }
    // Every other value is an element with text, one level below the guard's limit at most (a
    // UID's dictionary holds its integer one level down).
    if (depth > kMaxDepth || (kind == PlistObjectKind::kUid && depth + 1 > kMaxDepth)) {
      return Stop(Result::kRejected);
    }
    switch (kind) {
      case PlistObjectKind::kString: {
        std::string text;
        if (!ReadText(object, &text)) return Step::kDropped;
        *out = PlistVariant(std::move(text));
        return Step::kKept;
      }
      case PlistObjectKind::kInteger: *out = PlistVariant(m_objects.Integer(object)); return Step::kKept;
      case PlistObjectKind::kReal:
        if (inDictionary) return Step::kDropped;
        *out = PlistVariant(m_objects.Real(object));
        return Step::kKept;
      case PlistObjectKind::kDate: {
        std::string text;
        if (!DateText(m_objects.Date(object), &text)) return Stop(Result::kRejected);
        if (!inDictionary) return Step::kDropped;
        *out = PlistVariant(std::move(text));
        return Step::kKept;
      }
      case PlistObjectKind::kData: {
        if (!inDictionary) return Step::kDropped;
        const uint8_t* bytes = nullptr;
        size_t length = 0;
        m_objects.Data(object, &bytes, &length);
        if (length == 0) return Step::kDropped;  // a line break and tabs only: blank text
        *out = PlistVariant(DataText(bytes, length, depth));
        return Step::kKept;
      }
      case PlistObjectKind::kUid: {
        // The writer's form: <dict><key>CF$UID</key><integer>n</integer></dict>.
        auto dictionary = std::make_shared<CIOSDictionary>();
        dictionary->Set("CF$UID", PlistVariant(static_cast<int64_t>(m_objects.Uid(object))));
        *out = PlistVariant(std::move(dictionary));
        return Step::kKept;
      }
      default: return Stop(Result::kRejected);
    }
  }

  Step ConvertArray(Ref array, int depth, PlistVariant* out) {
    const size_t count = m_objects.Count(array);
    if (count > 0 && depth > kMaxDepth) return Stop(Result::kRejected);
    PlistVariant::Array values;
    values.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      PlistVariant value;
      const Step step = Convert(m_objects.Element(array, i), depth + 1, false, &value);
      if (step == Step::kStop) return step;
      if (step == Step::kKept) values.push_back(std::move(value));
    }
    *out = values.empty() ? PlistVariant() : PlistVariant(std::move(values));
    return Step::kKept;
  }

  Step ConvertDictionary(Ref dictionary, int depth, PlistVariant* out) {
    std::vector<Ref> keys;
    std::vector<Ref> values;
    m_objects.Entries(dictionary, &keys, &values);
    // The keys are elements one level deeper than the dictionary.
    if (!keys.empty() && depth + 1 > kMaxDepth) return Stop(Result::kRejected);
    auto converted = std::make_shared<CIOSDictionary>();
    for (size_t i = 0; i < keys.size(); ++i) {
      if (m_objects.Kind(keys[i]) != PlistObjectKind::kString) return Stop(Result::kRejected);
      std::string key;
      const bool keyKept = ReadText(keys[i], &key);
      PlistVariant value;
      const Step step = Convert(values[i], depth + 1, true, &value);
      if (step == Step::kStop) return step;
      if (keyKept && step == Step::kKept) converted->Set(key, std::move(value));
    }
    *out = PlistVariant(std::move(converted));
    return Step::kKept;
  }

  Objects& m_objects;
  Result m_result = Result::kOk;
  size_t m_values = 0;
};

// The service's own reading of a list's bytes, without the library: a binary document through
// BinaryPlistObjects, anything else as XML text, which must be well formed.
bool ReadOwnPlist(const uint8_t* bytes, size_t length, PlistVariant* out) {
  BinaryPlistObjects objects;
  if (objects.Open(bytes, length)) {
    // Counted before any of the tree is made: a few hundred bytes of shared arrays would otherwise
    // make millions of values before the reader's own count refused them.
    if (objects.ExpandedValues(kMaxPlistValues) > kMaxPlistValues) return false;
    PlistVariant tree;
    using Reader = TreeReader<BinaryPlistObjects>;
    if (Reader(objects).Read(objects.Top(), &tree) != Reader::Result::kOk) return false;
    *out = std::move(tree);
    return true;
  }
  if (bytes == nullptr) return false;
  if (length >= 6 && std::memcmp(bytes, "bplist", 6) == 0) return false;  // a binary document that does not open
  return ReadXmlTree(std::string(reinterpret_cast<const char*>(bytes), length), out, true);
}

constexpr char kXmlHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\"><array>";
constexpr char kXmlTail[] = "</array></plist>";
// False for a control character that XML 1.0 has no place for, not even as a reference.
bool IsXmlText(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
  });
}

}  // namespace

// ---- Serialised lists ------------------------------------------------------------------------

void FreeBinaryPlist(BinaryPlist* plist) {
  if (plist == nullptr) return;
  if (plist->owner != nullptr) Md().CFRelease(plist->owner);
  delete plist;
}

CFPtr<CFPropertyListRef> CreatePlistFromXml(const char* text, size_t length) {
  if ((text == nullptr && length != 0) || !FitsLength32(length)) return nullptr;
  CMobileExportFun& md = Md();
  if (!md.IsLoaded()) return nullptr;
  CFPtr<CFDataRef> data(md.CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text), static_cast<CFIndex>(length)));
  if (!data) return nullptr;
  return CFPtr<CFPropertyListRef>(
      md.CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr));
}

CFPtr<CFPropertyListRef> CreatePlistFromBytes(const uint8_t* bytes, size_t length) {
  return ParseWithLibrary(bytes, length);
}

bool HoldsNulText(CFPropertyListRef list) {
  CMobileExportFun& md = Md();
  std::vector<char> buffer;
  // The C text stops at the first NUL: a string holds one when its text up to there has fewer
  // UTF-16 units than the whole string.
  auto stringHoldsNul = [&md, &buffer](CFTypeRef string) {
    const CFIndex units = md.CFStringGetLength(static_cast<CFStringRef>(string));
    if (units <= 0) return false;
    buffer.assign(static_cast<size_t>(units) * 3 + 1, '\0');  // a UTF-16 unit takes at most 3 UTF-8 bytes
    if (!md.CFStringGetCString(static_cast<CFStringRef>(string), buffer.data(), static_cast<CFIndex>(buffer.size()),
                               kCFStringEncodingUTF8)) {
      return true;  // unreadable: treated as unsafe to store
    }
    CFIndex prefixUnits = 0;
    for (const char* at = buffer.data(); *at != '\0'; ++at) {
      const auto byte = static_cast<unsigned char>(*at);
      if ((byte & 0xC0) != 0x80) prefixUnits += byte >= 0xF0 ? 2 : 1;  // four-byte sequences are surrogate pairs
    }
    return prefixUnits < units;
  };
  std::vector<std::pair<CFTypeRef, int>> pending{{list, 0}};  // value, its depth
  while (!pending.empty()) {
    const auto [value, depth] = pending.back();
    pending.pop_back();
    if (value == nullptr) continue;
    if (depth > kMaxPlistNesting) return true;
    const CFTypeID type = md.CFGetTypeID(value);
    if (type == kHLXCFStringTypeID && stringHoldsNul(value)) return true;
    if (type == kHLXCFArrayTypeID) {
      const auto array = static_cast<CFArrayRef>(value);
      for (CFIndex i = 0; i < md.CFArrayGetCount(array); ++i)
        pending.emplace_back(md.CFArrayGetValueAtIndex(array, i), depth + 1);
    } else if (type == kHLXCFDictionaryTypeID) {
      const auto dictionary = static_cast<CFDictionaryRef>(value);
      const CFIndex count = md.CFDictionaryGetCount(dictionary);
      if (count <= 0) continue;
      std::vector<const void*> keys(static_cast<size_t>(count));
      std::vector<const void*> values(keys.size());
      md.CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
      for (size_t i = 0; i < keys.size(); ++i) {
        pending.emplace_back(keys[i], depth + 1);
        pending.emplace_back(values[i], depth + 1);
      }
    }
  }
  return false;
}

BinaryPlistPtr SerializePlist(CFPropertyListRef list, CFPropertyListFormat format) {
  CMobileExportFun& md = Md();
  if (list == nullptr || !md.IsLoaded()) return nullptr;
  CFPtr<CFWriteStreamRef> stream(md.CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  if (!stream || !md.CFWriteStreamOpen(stream.get())) return nullptr;
  // Closed before it is released (declared after it, so destroyed first), on every path.
  struct StreamCloser {
    CFWriteStreamRef stream;
    ~StreamCloser() { Md().CFWriteStreamClose(stream); }
  } closer{stream.get()};
  if (md.CFPropertyListWriteToStream(list, stream.get(), format, nullptr) <= 0) return nullptr;
  CFPtr<CFDataRef> data(
      static_cast<CFDataRef>(md.CFWriteStreamCopyProperty(stream.get(), *md.kCFStreamPropertyDataWritten)));
  if (!data || md.CFGetTypeID(data.get()) != kHLXCFDataTypeID) return nullptr;
  const CFIndex length = md.CFDataGetLength(data.get());
  const UInt8* bytes = md.CFDataGetBytePtr(data.get());
  if (length <= 0 || bytes == nullptr || !FitsLength32(static_cast<size_t>(length))) return nullptr;
  BinaryPlist* record = new (std::nothrow) BinaryPlist;
  if (record == nullptr) return nullptr;
  record->bytes = bytes;
  record->length = static_cast<uint32_t>(length);
  record->owner = data.release();
  return BinaryPlistPtr(record);
}

BinaryPlistPtr XmlPlistToBinary(const char* text, size_t length) {
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(text, length);
  if (!list) return nullptr;
  return SerializePlist(list.get(), kCFPropertyListBinaryFormat_v1_0);
}

BinaryPlistPtr XmlPlistToBinary(const std::string& text) { return XmlPlistToBinary(text.data(), text.size()); }

// ---- The value tree --------------------------------------------------------------------------

const CIOSDictionary* PlistVariant::GetDictionary() const {
  const auto* dictionary = std::get_if<std::shared_ptr<CIOSDictionary>>(&m_value);
  return dictionary != nullptr ? dictionary->get() : nullptr;
}

std::shared_ptr<const CIOSDictionary> PlistVariant::ShareDictionary() const {
  const auto* dictionary = std::get_if<std::shared_ptr<CIOSDictionary>>(&m_value);
  return dictionary != nullptr ? *dictionary : nullptr;
}

const PlistVariant* CIOSDictionary::Find(const std::string& key) const {
  auto found = m_entries.find(key);
  return found != m_entries.end() ? &found->second : nullptr;
}

bool ParsePlistToVariant(const uint8_t* bytes, size_t length, PlistVariant* out) {
  try {
    // Before the library is bound (or when it never is) the service reads the bytes itself.
    if (!Md().IsLoaded()) return FitsLength32(length) && ReadOwnPlist(bytes, length, out);
    CFPtr<CFPropertyListRef> list = ParseWithLibrary(bytes, length);
    if (!list) return false;
    PlistVariant tree;
    LibraryObjects objects;
    using Reader = TreeReader<LibraryObjects>;
    switch (Reader(objects).Read(list.get(), &tree)) {
      case Reader::Result::kOk: *out = std::move(tree); return true;
      case Reader::Result::kRejected: return false;
      case Reader::Result::kNeedsXml: break;
    }
    std::string xml;
    if (!CopyXmlForm(list.get(), &xml)) return false;
    list.reset();
    return ReadXmlTree(xml, out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ParsePlistXmlToVariant(const char* xml, size_t length, PlistVariant* out) {
  if (xml == nullptr && length != 0) return false;
  try {
    // TinyXML reads up to a NUL: the copy ends with one, and a NUL inside ends the text there.
    return ReadXmlTree(std::string(xml != nullptr ? xml : "", length), out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool LoadPlistFile(const std::string& path, PlistVariant* out) {
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  file.seekg(0, std::ios::beg);
  if (end < 0 || !file || !FitsLength32(static_cast<uint64_t>(end))) return false;
  const size_t length = static_cast<size_t>(end);
  uint8_t* raw = nullptr;
  if (!TryAllocBuffer(&raw, length == 0 ? 1 : length)) return false;
  std::unique_ptr<uint8_t[]> buffer(raw);
  file.read(reinterpret_cast<char*>(buffer.get()), static_cast<std::streamsize>(length));
  if (file.gcount() != static_cast<std::streamsize>(length)) return false;
  try {
    return ReadOwnPlist(buffer.get(), length, out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string GetFirstPlistValue(const uint8_t* bytes, size_t length) {
  try {
    std::string xml;
    if (!CopyXmlForm(bytes, length, &xml)) return {};
    TiXmlDocument document;
    if (!ParseXml(xml, &document)) return {};
    const TiXmlElement* plist = FirstChildElementNamed(&document, "plist");
    const TiXmlElement* top = plist != nullptr ? plist->FirstChildElement() : nullptr;
    const TiXmlElement* key = top != nullptr ? top->FirstChildElement() : nullptr;
    const TiXmlElement* value = key != nullptr ? key->NextSiblingElement() : nullptr;
    const char* text = value != nullptr ? ElementText(value) : nullptr;
    return text != nullptr ? std::string(text) : std::string();
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string EscapeXmlText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

SyncMessageXml::SyncMessageXml(std::string_view name) { String(name); }

SyncMessageXml& SyncMessageXml::String(std::string_view text) {
  if (!IsXmlText(text)) m_convertible = false;
  m_body += "<string>" + EscapeXmlText(text) + "</string>";
  return *this;
}
SyncMessageXml& SyncMessageXml::Key(std::string_view key) {
  if (!IsXmlText(key)) m_convertible = false;
  m_body += "<key>" + EscapeXmlText(key) + "</key>";
  return *this;
}
SyncMessageXml& SyncMessageXml::Integer(int64_t value) {
  m_body += "<integer>" + std::to_string(value) + "</integer>";
  return *this;
}
SyncMessageXml& SyncMessageXml::True() {
  m_body += "<true/>";
  return *this;
}
SyncMessageXml& SyncMessageXml::False() {
  m_body += "<false/>";
  return *this;
}
SyncMessageXml& SyncMessageXml::Date(std::string_view utcText) {
  if (!IsXmlText(utcText)) m_convertible = false;
  m_body += "<date>" + EscapeXmlText(utcText) + "</date>";
  return *this;
}
SyncMessageXml& SyncMessageXml::BeginDict() {
  m_body += "<dict>";
  return *this;
}
SyncMessageXml& SyncMessageXml::EndDict() {
  m_body += "</dict>";
  return *this;
}
SyncMessageXml& SyncMessageXml::BeginArray() {
  m_body += "<array>";
  return *this;
}
SyncMessageXml& SyncMessageXml::EndArray() {
  m_body += "</array>";
  return *this;
}
std::string SyncMessageXml::Text() const { return kXmlHead + m_body + kXmlTail; }
BinaryPlistPtr SyncMessageXml::Convert() const { return m_convertible ? XmlPlistToBinary(Text()) : nullptr; }

}  // namespace hlx
