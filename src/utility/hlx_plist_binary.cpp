// The binary property-list document, read in place (see hlx_plist_binary.h). Layout: "bplist00",
// the objects, the offset table (one offset per object, each offsetSize bytes, big-endian), and a
// 32-byte trailer: 6 unused bytes, offsetSize, refSize, then the object count, the top object's
// number and the offset table's offset, each 8 bytes big-endian. An object is a marker byte (kind
// in the high nibble, a count or size in the low one; a low nibble of 15 is followed by an integer
// object holding the count) and its contents; references inside arrays and dictionaries are
// object numbers of refSize bytes.
#include "utility/hlx_plist_binary.h"

#include <cstring>
#include <limits>

#include "utility/hlx_text.h"

namespace hlx {
namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicBytes = 8;
constexpr size_t kTrailerBytes = 32;

// Marker kinds (the high nibble).
constexpr uint8_t kSimple = 0x0;  // 0x08 false, 0x09 true; 0x00 null and 0x0F fill are not read
constexpr uint8_t kInt = 0x1;
constexpr uint8_t kRealKind = 0x2;
constexpr uint8_t kDateKind = 0x3;
constexpr uint8_t kDataKind = 0x4;
constexpr uint8_t kAscii = 0x5;
constexpr uint8_t kUtf16 = 0x6;
constexpr uint8_t kUidKind = 0x8;
constexpr uint8_t kArrayKind = 0xA;
constexpr uint8_t kDictKind = 0xD;

bool HasCount(uint8_t kind) {
  return kind == kDataKind || kind == kAscii || kind == kUtf16 || kind == kArrayKind || kind == kDictKind;
}

}  // namespace

uint64_t BinaryPlistObjects::ReadUnsigned(uint64_t at, size_t size) const {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | m_bytes[at + i];
  return value;
}

double BinaryPlistObjects::ReadDouble(uint64_t at) const {
  const uint64_t bits = ReadUnsigned(at, 8);
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

bool BinaryPlistObjects::Open(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length < kMagicBytes + kTrailerBytes || std::memcmp(bytes, kMagic, kMagicBytes) != 0) {
    return false;
  }
  m_bytes = bytes;
  const uint64_t trailer = length - kTrailerBytes;
  m_offsetSize = bytes[trailer + 6];
  m_refSize = bytes[trailer + 7];
  m_objectCount = ReadUnsigned(trailer + 8, 8);
  m_top = ReadUnsigned(trailer + 16, 8);
  m_objectsEnd = ReadUnsigned(trailer + 24, 8);
  if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8) return false;
  if (m_objectCount == 0 || m_top >= m_objectCount) return false;
  if (m_objectsEnd < kMagicBytes + 1 || m_objectsEnd > trailer) return false;
  return m_objectCount <= (trailer - m_objectsEnd) / m_offsetSize;
}

bool BinaryPlistObjects::ReadHeader(Ref object, Header* header) const {
  if (object >= m_objectCount) return false;
  const uint64_t offset = ReadUnsigned(m_objectsEnd + object * m_offsetSize, m_offsetSize);
  if (offset < kMagicBytes || offset >= m_objectsEnd) return false;
  header->marker = m_bytes[offset];
  const uint8_t kind = header->marker >> 4;
  const uint8_t low = header->marker & 0xF;
  uint64_t at = offset + 1;
  header->count = low;
  if (HasCount(kind) && low == 0xF) {
    if (at >= m_objectsEnd || (m_bytes[at] >> 4) != kInt || (m_bytes[at] & 0xF) > 3) return false;
    const size_t size = size_t{1} << (m_bytes[at] & 0xF);
    if (size > m_objectsEnd - at - 1) return false;
    header->count = ReadUnsigned(at + 1, size);
    at += 1 + size;
  }
  header->start = at;
  // The contents' size in units of `unit` bytes.
  uint64_t units = 0;
  uint64_t unit = 1;
  switch (kind) {
    case kSimple: break;
    case kInt:
      if (low > 4) return false;
      units = uint64_t{1} << low;
      break;
    case kRealKind:
      if (low != 2 && low != 3) return false;
      units = uint64_t{1} << low;
      break;
    case kDateKind:
      if (low != 3) return false;
      units = 8;
      break;
    case kDataKind:
    case kAscii: units = header->count; break;
    case kUtf16:
      units = header->count;
      unit = 2;
      break;
    case kUidKind: units = uint64_t{low} + 1; break;
    case kArrayKind:
      units = header->count;
      unit = m_refSize;
      break;
    case kDictKind:
      if (header->count > std::numeric_limits<uint64_t>::max() / 2) return false;
      units = header->count * 2;
      unit = m_refSize;
      break;
    default: break;  // kinds not read have no size to check
  }
  return at <= m_objectsEnd && units <= (m_objectsEnd - at) / unit;
}

PlistObjectKind BinaryPlistObjects::Kind(Ref object) const {
  Header header;
  if (!ReadHeader(object, &header)) return PlistObjectKind::kInvalid;
  switch (header.marker >> 4) {
    case kSimple:
      return header.marker == 0x08 || header.marker == 0x09 ? PlistObjectKind::kBoolean : PlistObjectKind::kOther;
    case kInt: return PlistObjectKind::kInteger;
    case kRealKind: return PlistObjectKind::kReal;
    case kDateKind: return PlistObjectKind::kDate;
    case kDataKind: return PlistObjectKind::kData;
    case kAscii:
    case kUtf16: return PlistObjectKind::kString;
    case kUidKind: return PlistObjectKind::kUid;
    case kArrayKind: return PlistObjectKind::kArray;
    case kDictKind: return PlistObjectKind::kDictionary;
    default: return PlistObjectKind::kOther;
  }
}

bool BinaryPlistObjects::Boolean(Ref object) const {
  Header header;
  return ReadHeader(object, &header) && header.marker == 0x09;
}

bool BinaryPlistObjects::Text(Ref object, std::string* text) const {
  Header header;
  if (!ReadHeader(object, &header) || header.count == 0) return false;
  text->clear();
  const uint8_t* at = m_bytes + header.start;
  if ((header.marker >> 4) == kAscii) {
    // Bytes above 0x7F are not ASCII; they are taken as Latin-1 rather than refused.
    for (uint64_t i = 0; i < header.count && at[i] != 0; ++i) {
      if (at[i] < 0x80) {
        text->push_back(static_cast<char>(at[i]));
      } else {
        text->push_back(static_cast<char>(0xC0 | (at[i] >> 6)));
        text->push_back(static_cast<char>(0x80 | (at[i] & 0x3F)));
      }
    }
    return true;
  }
  std::u16string wide(static_cast<size_t>(header.count), u'\0');
  for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char16_t>((at[2 * i] << 8) | at[2 * i + 1]);
  *text = WideToUtf8(wide);  // up to the first NUL
  return true;
}

int64_t BinaryPlistObjects::Integer(Ref object) const {
  Header header;
  if (!ReadHeader(object, &header)) return 0;
  const size_t size = size_t{1} << (header.marker & 0xF);
  if (size < 8) return static_cast<int64_t>(ReadUnsigned(header.start, size));  // unsigned below 8 bytes
  if (size == 8) return static_cast<int64_t>(ReadUnsigned(header.start, 8));
  // 16 bytes: a signed 128-bit number, kept when it fits 64 bits.
  const uint64_t high = ReadUnsigned(header.start, 8);
  const uint64_t low = ReadUnsigned(header.start + 8, 8);
  const bool lowNegative = (low >> 63) != 0;
  if ((high == 0 && !lowNegative) || (high == ~uint64_t{0} && lowNegative)) return static_cast<int64_t>(low);
  return (high >> 63) != 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

double BinaryPlistObjects::Real(Ref object) const {
  Header header;
  if (!ReadHeader(object, &header)) return 0;
  if ((header.marker & 0xF) == 2) {
    const auto bits = static_cast<uint32_t>(ReadUnsigned(header.start, 4));
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }
  return ReadDouble(header.start);
}

double BinaryPlistObjects::Date(Ref object) const {
  Header header;
  return ReadHeader(object, &header) ? ReadDouble(header.start) : 0;
}

void BinaryPlistObjects::Data(Ref object, const uint8_t** bytes, size_t* length) const {
  Header header;
  if (!ReadHeader(object, &header)) {
    *bytes = nullptr;
    *length = 0;
    return;
  }
  *bytes = m_bytes + header.start;
  *length = static_cast<size_t>(header.count);
}

uint64_t BinaryPlistObjects::Uid(Ref object) const {
  Header header;
  if (!ReadHeader(object, &header)) return 0;
  return ReadUnsigned(header.start, (header.marker & 0xF) + size_t{1});
}

size_t BinaryPlistObjects::Count(Ref object) const {
  Header header;
  return ReadHeader(object, &header) ? static_cast<size_t>(header.count) : 0;
}

BinaryPlistObjects::Ref BinaryPlistObjects::Element(Ref object, size_t index) const {
  Header header;
  if (!ReadHeader(object, &header) || index >= header.count) return m_objectCount;  // no object
  return ReadUnsigned(header.start + index * m_refSize, m_refSize);
}

void BinaryPlistObjects::Entries(Ref object, std::vector<Ref>* keys, std::vector<Ref>* values) const {
  keys->clear();
  values->clear();
  Header header;
  if (!ReadHeader(object, &header)) return;
  const size_t count = static_cast<size_t>(header.count);
  keys->reserve(count);
  values->reserve(count);
  for (size_t i = 0; i < count; ++i) {
    keys->push_back(ReadUnsigned(header.start + i * m_refSize, m_refSize));
    values->push_back(ReadUnsigned(header.start + (count + i) * m_refSize, m_refSize));
  }
}

uint64_t BinaryPlistObjects::ExpandedValues(uint64_t limit) const {
  std::vector<uint64_t> memo(static_cast<size_t>(m_objectCount), 0);
  return Expanded(m_top, limit, 0, &memo);
}

uint64_t BinaryPlistObjects::Expanded(Ref object, uint64_t limit, int depth, std::vector<uint64_t>* memo) const {
  // Memo: 0 not counted yet, kCounting while its children are counted, else its count.
  constexpr uint64_t kCounting = ~uint64_t{0};
  constexpr int kDeepest = 1024;  // beyond the reader's nesting limit: such a tree is refused anyway
  if (object >= m_objectCount) return 1;  // no object: the reader refuses it there
  uint64_t& known = (*memo)[static_cast<size_t>(object)];
  if (known == kCounting || depth > kDeepest) return limit + 1;
  if (known != 0) return known;
  Header header;
  const uint8_t kind = ReadHeader(object, &header) ? header.marker >> 4 : 0;
  if (kind != kArrayKind && kind != kDictKind) return known = 1;
  known = kCounting;
  const uint64_t count = header.count;
  const uint64_t first = kind == kDictKind ? count : 0;  // a dictionary's values follow its keys
  uint64_t total = 1;
  for (uint64_t i = 0; i < count && total <= limit; ++i) {
    total += Expanded(ReadUnsigned(header.start + (first + i) * m_refSize, m_refSize), limit, depth + 1, memo);
  }
  return known = total > limit ? limit + 1 : total;
}

}  // namespace hlx
