// Property lists: the service's one home for conversions between XML property-list text, the
// device library's CoreFoundation lists and their binary serialisation, and the value tree that the
// modules walk to read answers and files. Every CoreFoundation call goes through the binding table
// (iOSAPI/MobileExportFun.h); before it is bound (CMobileExportFun::Init), or when it never is, the
// functions that make library objects give null and reading bytes or files into the value tree is
// done by the service's own reader (binary lists in hlx_plist_binary.h, XML with TinyXML), with
// the same result: no call ever reaches a slot that is not filled. Files on the PC are always read
// by the service's own reader, so a file reads the same whenever it is read. No state is kept
// between calls; every function may run on any worker thread at the same time. Bad input of any kind gives null, false or an empty text, never a throw
// or a crash; nothing is logged (the caller knows what the bytes were for).
//
// The value tree (PlistVariant) is a VARIANT-like tree: strings are
// held as UTF-8 (the modules write UTF-8 JSON, so UTF-16 would only be converted back), integers as
// signed 64 bits, reals as doubles, arrays as vectors and dictionaries as shared CIOSDictionary
// objects with byte-wise ordered keys. The conversion rules below are fixed, odd as some are,
// because the modules' readers depend on them:
//
//   element            in a dictionary                     in an array
//   string             kString                             kString
//   date               kString, the text as written         dropped
//   data               kString, the base64 text as written  dropped
//   integer            kInt64 (decimal, saturating)         kInt64
//   real               dropped                              kDouble
//   true / false       kBool                               kBool
//   array              kArray, or kEmpty when no element survives
//   dict               kDictionary
//   anything else      dropped                             dropped
//
// An element without text ("<string/>", "<integer></integer>") is dropped. Element names compare
// without regard to ASCII case. In a dictionary a later duplicate key replaces the earlier value; a
// key without text drops its pair. TinyXML keeps no text node that holds only blanks, so a string
// of blanks alone reads like an empty one (dropped); blanks around other text are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "iOSAPI/MobileExportFun.h"

namespace hlx {

// ---- Serialised lists ------------------------------------------------------------------------

// A serialised property list, handed to the device-link sender. The bytes belong to `owner`.
struct BinaryPlist {
  const uint8_t* bytes = nullptr;  // first byte of the serialised list; read-only
  uint32_t length = 0;             // byte count
  CFDataRef owner = nullptr;       // the CoreFoundation data that holds the bytes
};

// Releases the record's owner (CFRelease through the binding) and deletes the record. Null is fine.
void FreeBinaryPlist(BinaryPlist* plist);

struct BinaryPlistDeleter {
  void operator()(BinaryPlist* plist) const { FreeBinaryPlist(plist); }
};
using BinaryPlistPtr = std::unique_ptr<BinaryPlist, BinaryPlistDeleter>;

// The list parsed from XML property-list text (no terminating NUL needed), owned by the caller; null
// when the text is not a property list.
CFPtr<CFPropertyListRef> CreatePlistFromXml(const char* text, size_t length);

// The list parsed from bytes in any form the library reads (a binary device reply, XML), owned by
// the caller; null when the library rejects them or they are longer than 4 GiB - 1.
CFPtr<CFPropertyListRef> CreatePlistFromBytes(const uint8_t* bytes, size_t length);

// The binary serialisation (format 200) of XML property-list text: how every message that the
// modules compose as XML becomes the body of a device-service message. Null when the text is not a
// property list, is longer than 4 GiB - 1, or a step fails.
BinaryPlistPtr XmlPlistToBinary(const char* text, size_t length);
BinaryPlistPtr XmlPlistToBinary(const std::string& text);

// A CoreFoundation list serialised in the given format (kCFPropertyListBinaryFormat_v1_0 = 200,
// kCFPropertyListXMLFormat_v1_0 = 100); null when the list is null, nothing was written, or the
// result does not fit a 32-bit length.
BinaryPlistPtr SerializePlist(CFPropertyListRef list, CFPropertyListFormat format);

// Whether any string or dictionary key of the list, at any depth, holds a NUL; a list nested
// deeper than the readers accept counts as holding one. Every C-string step cuts a text at its
// NUL and XML cannot carry one, so a text the peer asks to store is refused when this holds.
bool HoldsNulText(CFPropertyListRef list);

// ---- The value tree --------------------------------------------------------------------------

class CIOSDictionary;

class PlistVariant {
 public:
  // The order is the order of the alternatives below.
  enum class Type { kEmpty, kString, kInt64, kDouble, kBool, kArray, kDictionary };
  using Array = std::vector<PlistVariant>;

  PlistVariant() = default;  // kEmpty
  explicit PlistVariant(std::string text) : m_value(std::move(text)) {}
  explicit PlistVariant(int64_t number) : m_value(number) {}
  explicit PlistVariant(double real) : m_value(real) {}
  explicit PlistVariant(bool flag) : m_value(flag) {}
  explicit PlistVariant(Array array) : m_value(std::move(array)) {}
  explicit PlistVariant(std::shared_ptr<CIOSDictionary> dictionary) : m_value(std::move(dictionary)) {}
  // A string literal is a string, not a bool.
  explicit PlistVariant(const char* text) : m_value(std::string(text)) {}

  Type type() const { return static_cast<Type>(m_value.index()); }
  bool IsEmpty() const { return type() == Type::kEmpty; }

  // The value when it has that type, else null. Pointers stay valid while this value lives.
  const std::string* GetString() const { return std::get_if<std::string>(&m_value); }
  const int64_t* GetInt64() const { return std::get_if<int64_t>(&m_value); }
  const double* GetDouble() const { return std::get_if<double>(&m_value); }
  const bool* GetBool() const { return std::get_if<bool>(&m_value); }
  const Array* GetArray() const { return std::get_if<Array>(&m_value); }
  const CIOSDictionary* GetDictionary() const;
  std::shared_ptr<const CIOSDictionary> ShareDictionary() const;

 private:
  std::variant<std::monostate, std::string, int64_t, double, bool, Array, std::shared_ptr<CIOSDictionary>> m_value;
};

// One property-list dictionary. Built by one thread (the converter), then only read, so it takes no
// lock; it is shared by shared_ptr.
class CIOSDictionary {
 public:
  // std::less<std::string> compares as unsigned bytes: keys are in byte-wise order.
  using Entries = std::map<std::string, PlistVariant>;

  // The value of a key, or null.
  const PlistVariant* Find(const std::string& key) const;
  const Entries& entries() const { return m_entries; }
  size_t size() const { return m_entries.size(); }

  // For the converters (and tests that build trees): sets a key's value, replacing an earlier one.
  void Set(const std::string& key, PlistVariant value) { m_entries[key] = std::move(value); }

 private:
  Entries m_entries;
};

// Reads a property list in any form the library reads (binary or XML) into `out`, walking the
// library's objects straight into the tree (with the same result as reading their XML form by the
// rules above, which only lists holding keyed-archive UIDs still take): an array of the
// values directly under the document's "plist" element (for a normal list one element, the
// top-level value), or kEmpty when none survives the rules above. True when the document has a
// "plist" element; false, with `out` untouched, when the library rejects the bytes, the length
// exceeds 4 GiB - 1, the list nests deeper than the service reads (see the .cpp) or memory runs out.
// Without the library bound, the service's own reader reads the bytes (XML must then be well formed).
[[nodiscard]] bool ParsePlistToVariant(const uint8_t* bytes, size_t length, PlistVariant* out);

// The same reading of XML property-list text directly, without the library: what
// ParsePlistToVariant does with the library's XML form. For XML that the service has at hand (files
// and templates) and for checking the reading rules themselves. False when the text has no "plist"
// element or nests deeper than the service reads.
[[nodiscard]] bool ParsePlistXmlToVariant(const char* xml, size_t length, PlistVariant* out);

// A whole file read into the tree by the service's own reader, without the library: a binary list
// gives the tree ParsePlistToVariant gives; an XML list must be well formed and is read as
// ParsePlistXmlToVariant reads it (date and data texts as written). False when the file cannot be
// opened or read, is larger than 4 GiB - 1, is no list, or its buffer cannot be allocated.
[[nodiscard]] bool LoadPlistFile(const std::string& path, PlistVariant* out);

// The text of the value that follows the first key of the top-level dictionary of a list in any
// form; "" when there is none (or it is not a text, such as a nested dictionary). A list of any
// size is read whole.
std::string GetFirstPlistValue(const uint8_t* bytes, size_t length);

// Composing a message of the synchronisation service as an XML property list.

// The text with &, <, > and " escaped for XML character data.
std::string EscapeXmlText(std::string_view text);

// Composes one message: the XML declaration, the DOCTYPE, <plist version="1.0"><array>, the
// elements added, </array></plist>. Texts are escaped; keys too. A text with a character that XML
// 1.0 cannot carry at all (a control character other than tab, line feed and carriage return)
// makes the message one that does not convert.
class SyncMessageXml {
 public:
  explicit SyncMessageXml(std::string_view name);
  SyncMessageXml& String(std::string_view text);
  SyncMessageXml& Key(std::string_view key);
  SyncMessageXml& Integer(int64_t value);
  SyncMessageXml& True();
  SyncMessageXml& False();
  // A date element; `utcText` is "YYYY-MM-DDThh:mm:ssZ".
  SyncMessageXml& Date(std::string_view utcText);
  SyncMessageXml& BeginDict();
  SyncMessageXml& EndDict();
  SyncMessageXml& BeginArray();
  SyncMessageXml& EndArray();
  // The whole text (the array and plist closed).
  std::string Text() const;
  // The binary message; null when the text does not convert.
  BinaryPlistPtr Convert() const;

 private:
  std::string m_body;
  bool m_convertible = true;
};

}  // namespace hlx
