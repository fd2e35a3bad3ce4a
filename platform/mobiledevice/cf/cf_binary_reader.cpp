// The binary property-list reader ("bplist00").
//
// Layout: the 8-byte magic, the objects, the offset table (one big-endian offset per object), and a
// 32-byte trailer: 6 bytes unused, the offset size, the object-reference size, then three 64-bit
// big-endian counts: objects, top object, offset-table position. Every value is checked before it is
// used: sizes 1 to 8, the table inside the file, each offset inside the object area, each reference
// below the object count, each length inside the object area (so no allocation exceeds the input),
// no object reachable from itself, nesting at most kMaxDepth.
//
// Shared objects: an object referenced twice is read once. Without the mutable option its containers
// are shared like its leaves; with it each reference gets its own container (so that changing one does
// not change the other), and the total of elements so made is capped in proportion to the input so
// that a small file of nested shared references cannot expand exponentially.
//
// Integers: 1, 2 and 4 bytes unsigned, 8 bytes signed, 16 bytes signed 128-bit of which only the range
// [-2^63, 2^64-1] is accepted (Python's plistlib writes 2^63..2^64-1 that way). Strings: ASCII
// (marker 5, bytes >= 0x80 refused) or UTF-16BE (marker 6, unpaired surrogates refused).
//
// Threads: any; one reader per call.
#include "cf/cf_plist.h"

#include "cf/cf_text.h"

#include <cstring>

namespace cf {
namespace {

constexpr size_t kTrailerSize = 32;

enum Marker : uint8_t {
  kMarkerSimple = 0x0,
  kMarkerInteger = 0x1,
  kMarkerReal = 0x2,
  kMarkerDate = 0x3,
  kMarkerData = 0x4,
  kMarkerAsciiString = 0x5,
  kMarkerUtf16String = 0x6,
  kMarkerUID = 0x8,
  kMarkerArray = 0xA,
  kMarkerDictionary = 0xD,
};

uint64_t ReadBigEndian(const uint8_t* bytes, size_t size) noexcept {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  return value;
}

double ReadDouble(const uint8_t* bytes) noexcept {
  const uint64_t bits = ReadBigEndian(bytes, 8);
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float ReadFloat(const uint8_t* bytes) noexcept {
  const auto bits = static_cast<uint32_t>(ReadBigEndian(bytes, 4));
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

class BinaryReader {
 public:
  BinaryReader(std::string_view bytes, bool mutableContainers)
      : m_bytes(reinterpret_cast<const uint8_t*>(bytes.data())), m_size(bytes.size()), m_mutable(mutableContainers) {}

  Ref<Object> Parse(std::string* error) {
    Ref<Object> root = ReadTrailer() ? ReadObject(m_topObject, 0) : nullptr;
    if (!root && error != nullptr) *error = m_error.empty() ? "malformed binary property list" : m_error;
    return root;
  }

 private:
  std::nullptr_t Fail(const char* reason) {
    if (m_error.empty()) m_error = reason;
    return nullptr;
  }

  bool ReadTrailer() {
    if (m_size < kBinaryPlistMagic.size() + kTrailerSize + 2) return Fail("too short"), false;
    const uint8_t* trailer = m_bytes + m_size - kTrailerSize;
    m_offsetSize = trailer[6];
    m_refSize = trailer[7];
    m_objectCount = ReadBigEndian(trailer + 8, 8);
    m_topObject = ReadBigEndian(trailer + 16, 8);
    m_tableOffset = ReadBigEndian(trailer + 24, 8);
    const uint64_t tableLimit = m_size - kTrailerSize;
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8) return Fail("bad trailer sizes"), false;
    if (m_objectCount == 0 || m_topObject >= m_objectCount) return Fail("bad object count"), false;
    if (m_tableOffset <= kBinaryPlistMagic.size() || m_tableOffset >= tableLimit)
      return Fail("bad offset table"), false;
    if (m_objectCount > (tableLimit - m_tableOffset) / m_offsetSize) return Fail("offset table out of range"), false;
    // Every object takes at least one byte of the object area.
    if (m_objectCount > m_tableOffset - kBinaryPlistMagic.size()) return Fail("more objects than bytes"), false;
    // Both are bounded by the input size through the check above.
    m_cache.resize(m_objectCount);
    m_onPath.assign(m_objectCount, 0);
    m_elementBudget = 8 * m_size + 1024;
    return true;
  }

  // The position of an object, inside the object area.
  bool ObjectOffset(uint64_t index, uint64_t* offset) {
    *offset = ReadBigEndian(m_bytes + m_tableOffset + index * m_offsetSize, m_offsetSize);
    if (*offset < kBinaryPlistMagic.size() || *offset >= m_tableOffset)
      return Fail("object offset out of range"), false;
    return true;
  }

  // The element count of a data, string or container object: the marker's low nibble, or with 0xF an
  // integer object that follows. `position` is moved past the count.
  bool ReadCount(uint8_t low, uint64_t* position, uint64_t* count) {
    if (low != 0xF) {
      *count = low;
      return true;
    }
    if (*position >= m_tableOffset) return Fail("count out of range"), false;
    const uint8_t marker = m_bytes[*position];
    if ((marker >> 4) != kMarkerInteger || (marker & 0xF) > 3) return Fail("bad count"), false;
    const uint64_t size = uint64_t{1} << (marker & 0xF);
    if (size > m_tableOffset - *position - 1) return Fail("count out of range"), false;
    *count = ReadBigEndian(m_bytes + *position + 1, size);
    *position += 1 + size;
    return true;
  }

  // Whether `count` items of `itemSize` bytes fit between `position` and the offset table.
  bool Fits(uint64_t position, uint64_t count, uint64_t itemSize) const noexcept {
    return position <= m_tableOffset && count <= (m_tableOffset - position) / itemSize;
  }

  bool ReadReference(uint64_t position, uint64_t* index) {
    *index = ReadBigEndian(m_bytes + position, m_refSize);
    if (*index >= m_objectCount) return Fail("object reference out of range"), false;
    return true;
  }

  Ref<Object> ReadObject(uint64_t index, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    if (m_cache[index]) return m_cache[index];
    if (m_onPath[index] != 0) return Fail("object refers to itself");
    uint64_t offset = 0;
    if (!ObjectOffset(index, &offset)) return nullptr;
    const uint8_t marker = m_bytes[offset];
    const uint8_t type = marker >> 4;
    const uint8_t low = marker & 0xF;
    uint64_t position = offset + 1;
    Ref<Object> object;
    bool container = false;
    switch (type) {
      case kMarkerSimple:
        if (low == 0x8 || low == 0x9) object = Ref<Object>::Share(GetBoolean(low == 0x9));
        break;
      case kMarkerInteger: object = ReadInteger(low, position); break;
      case kMarkerReal:
        if (low == 2 && Fits(position, 1, 4)) object = NewReal(ReadFloat(m_bytes + position), kCFNumberFloat32Type);
        if (low == 3 && Fits(position, 1, 8)) object = NewReal(ReadDouble(m_bytes + position));
        break;
      case kMarkerDate:
        if (low == 3 && Fits(position, 1, 8)) object = NewDate(ReadDouble(m_bytes + position));
        break;
      case kMarkerData: {
        uint64_t count = 0;
        if (!ReadCount(low, &position, &count)) return nullptr;
        if (Fits(position, count, 1)) object = NewData(m_bytes + position, count);
        break;
      }
      case kMarkerAsciiString: {
        uint64_t count = 0;
        if (!ReadCount(low, &position, &count)) return nullptr;
        if (!Fits(position, count, 1)) break;
        const std::string_view text(reinterpret_cast<const char*>(m_bytes + position), count);
        for (const char c : text) {
          if (static_cast<unsigned char>(c) >= 0x80) return Fail("non-ASCII byte in an ASCII string");
        }
        object = NewString(text);
        break;
      }
      case kMarkerUtf16String: {
        uint64_t count = 0;
        if (!ReadCount(low, &position, &count)) return nullptr;
        if (!Fits(position, count, 2)) break;
        std::string text;
        text.reserve(count);
        if (!AppendUtf16BEAsUtf8(m_bytes + position, count, text)) return Fail("unpaired surrogate");
        object = NewStringFromValidUtf8(std::move(text));
        break;
      }
      case kMarkerUID:
        if (low < 8 && Fits(position, 1, low + 1u)) object = NewUID(ReadBigEndian(m_bytes + position, low + 1u));
        break;
      case kMarkerArray:
      case kMarkerDictionary: {
        container = true;
        m_onPath[index] = 1;
        object = type == kMarkerArray ? ReadArray(low, position, depth) : ReadDictionary(low, position, depth);
        m_onPath[index] = 0;
        if (!object) return nullptr;
        break;
      }
      default: break;
    }
    if (!object) return Fail("malformed object");
    if (!container || !m_mutable) m_cache[index] = object;
    return object;
  }

  Ref<Object> ReadInteger(uint8_t low, uint64_t position) {
    if (low > 4) return nullptr;
    const uint64_t size = uint64_t{1} << low;
    if (!Fits(position, 1, size)) return nullptr;
    const uint8_t* bytes = m_bytes + position;
    if (size < 8) return NewSigned(static_cast<int64_t>(ReadBigEndian(bytes, size)));
    if (size == 8) return NewSigned(static_cast<int64_t>(ReadBigEndian(bytes, 8)));
    const uint64_t high = ReadBigEndian(bytes, 8);
    const uint64_t lowWord = ReadBigEndian(bytes + 8, 8);
    if (high == 0) return NewUnsigned(lowWord);
    if (high == ~uint64_t{0} && (lowWord >> 63) != 0) return NewSigned(static_cast<int64_t>(lowWord));
    return Fail("integer beyond 64 bits");
  }

  bool SpendElements(uint64_t count) {
    if (!m_mutable) return true;
    if (count + 1 > m_elementBudget) return Fail("too many shared containers"), false;
    m_elementBudget -= count + 1;
    return true;
  }

  Ref<Object> ReadArray(uint8_t low, uint64_t position, int depth) {
    uint64_t count = 0;
    if (!ReadCount(low, &position, &count)) return nullptr;
    if (!Fits(position, count, m_refSize)) return Fail("array out of range");
    if (!SpendElements(count)) return nullptr;
    auto array = NewArray(m_mutable);
    array->m_items.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t child = 0;
      if (!ReadReference(position + i * m_refSize, &child)) return nullptr;
      Ref<Object> value = ReadObject(child, depth + 1);
      if (!value) return nullptr;
      ArrayAppend(array.Get(), value.Get());
    }
    return array;
  }

  Ref<Object> ReadDictionary(uint8_t low, uint64_t position, int depth) {
    uint64_t count = 0;
    if (!ReadCount(low, &position, &count)) return nullptr;
    if (!Fits(position, count, 2 * uint64_t{m_refSize})) return Fail("dictionary out of range");
    if (!SpendElements(count)) return nullptr;
    auto dictionary = NewDictionary(m_mutable);
    dictionary->m_entries.reserve(count);
    const uint64_t valuesAt = position + count * m_refSize;
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t keyIndex = 0;
      uint64_t valueIndex = 0;
      if (!ReadReference(position + i * m_refSize, &keyIndex) ||
          !ReadReference(valuesAt + i * m_refSize, &valueIndex)) {
        return nullptr;
      }
      Ref<Object> key = ReadObject(keyIndex, depth + 1);
      if (!key) return nullptr;
      if (key->m_type != TypeId::kString) return Fail("dictionary key is not a string");
      Ref<Object> value = ReadObject(valueIndex, depth + 1);
      if (!value) return nullptr;
      DictionarySet(dictionary.Get(), key.Get(), value.Get(), true);
    }
    return dictionary;
  }

  const uint8_t* m_bytes;
  size_t m_size;
  bool m_mutable;
  unsigned m_offsetSize = 0;
  unsigned m_refSize = 0;
  uint64_t m_objectCount = 0;
  uint64_t m_topObject = 0;
  uint64_t m_tableOffset = 0;
  uint64_t m_elementBudget = 0;
  std::vector<Ref<Object>> m_cache;
  std::vector<uint8_t> m_onPath;
  std::string m_error;
};

}  // namespace

Ref<Object> ParseBinaryPlist(std::string_view bytes, bool mutableContainers, std::string* error) {
  if (bytes.substr(0, kBinaryPlistMagic.size()) != kBinaryPlistMagic) {
    if (error != nullptr) *error = "not a binary property list";
    return nullptr;
  }
  return BinaryReader(bytes, mutableContainers).Parse(error);
}

}  // namespace cf
