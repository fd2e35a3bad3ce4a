// Property-list conversions through the binding's CoreFoundation functions, and the walk of the
// library's XML form into PlistVariant trees. Every CoreFoundation object is owned by a CFPtr from
// the line that made it, so each failure path releases what was made before it.
#include "utility/hlx_plist.h"

#include <tinyxml.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <new>

#include "utility/hlx_text.h"

namespace hlx {
namespace {

// TinyXML recurses once per element level, and so does the walk below. Property lists of devices
// and backups nest a dozen levels; a list nested deeper than this comes from a broken or hostile
// peer and is refused before it can exhaust a worker's stack.
constexpr int kMaxPlistNesting = 512;

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
  for (const TiXmlElement* child = parent->FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
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

// The library's XML form of a list in any form, as a NUL-terminated text for TinyXML; false when the
// library rejects the bytes.
bool CopyXmlForm(const uint8_t* bytes, size_t length, std::string* xml) {
  if (bytes == nullptr && length != 0) return false;
  if (!FitsLength32(length)) return false;
  CMobileExportFun& md = Md();
  CFPtr<CFDataRef> data(md.CFDataCreate(nullptr, bytes, static_cast<CFIndex>(length)));
  if (!data) return false;
  CFPtr<CFPropertyListRef> list(md.CFPropertyListCreateWithData(nullptr, data.get(), kCFPropertyListImmutable,
                                                                nullptr, nullptr));
  data.reset();
  if (!list) return false;
  CFPtr<CFDataRef> xmlData(md.CFPropertyListCreateXMLData(nullptr, list.get()));
  list.reset();
  if (!xmlData) return false;
  const CFIndex xmlLength = md.CFDataGetLength(xmlData.get());
  const UInt8* xmlBytes = md.CFDataGetBytePtr(xmlData.get());
  if (xmlLength < 0 || (xmlBytes == nullptr && xmlLength != 0)) return false;
  xml->assign(reinterpret_cast<const char*>(xmlBytes), static_cast<size_t>(xmlLength));
  return true;
}

bool ParseXml(const std::string& xml, TiXmlDocument* document) {
  if (!NestingWithin(xml, kMaxPlistNesting)) return false;
  KeepWhiteSpaceInXmlText();
  // Property-list XML is UTF-8 by definition. Left to guess, TinyXML would turn a character
  // reference such as "&#x4E2D;" into one truncated byte in text without a declaration.
  document->Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
  return true;
}

bool ReadXmlTree(const std::string& xml, PlistVariant* out) {
  TiXmlDocument document;
  if (!ParseXml(xml, &document)) return false;
  const TiXmlElement* plist = FirstChildElementNamed(&document, "plist");
  if (plist == nullptr) return false;
  *out = ReadPlistArray(plist);
  return true;
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
  CFPtr<CFDataRef> data(
      md.CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text), static_cast<CFIndex>(length)));
  if (!data) return nullptr;
  return CFPtr<CFPropertyListRef>(
      md.CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr));
}

BinaryPlistPtr SerializePlist(CFPropertyListRef list, CFPropertyListFormat format) {
  if (list == nullptr) return nullptr;
  CMobileExportFun& md = Md();
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
    std::string xml;
    if (!CopyXmlForm(bytes, length, &xml)) return false;
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
  return ParsePlistToVariant(buffer.get(), length, out);
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

}  // namespace hlx
