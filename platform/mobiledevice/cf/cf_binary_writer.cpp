// The binary property-list writer ("bplist00"); the layout is described in cf_binary_reader.cpp.
//
// Leaves with identical encodings (equal strings, numbers of the same kind and value, equal data and
// dates, the booleans) are written once and referenced wherever they occur. A container object that
// occurs more than once is written once too; a container reached again while its own elements are
// being written is a cycle, which a property list cannot hold, and fails the write. Dictionary entries
// keep their insertion order; keys must be strings.
//
// Integers use the smallest of 1, 2 or 4 unsigned bytes for non-negative values below 2^32, 8 signed
// bytes otherwise, and 16 bytes (signed 128-bit, high half zero) above INT64_MAX, which is what
// Python's plistlib reads and writes. Strings are ASCII when every byte is, UTF-16BE otherwise.
//
// Threads: any; one writer per call.
#include "cf/cf_plist.h"

#include "cf/cf_text.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace cf {
namespace {

void AppendBigEndian(std::string& out, uint64_t value, size_t size) {
  for (size_t i = size; i > 0; --i) out.push_back(static_cast<char>((value >> (8 * (i - 1))) & 0xFF));
}

// The fewest of 1, 2, 4 or 8 bytes that hold `value` unsigned.
size_t UnsignedSize(uint64_t value) noexcept {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

size_t SizeExponent(size_t size) noexcept { return size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3; }

// A marker with its element count: in the low nibble below 15, else 0xF and an integer object.
void AppendMarkerAndCount(std::string& out, uint8_t type, uint64_t count) {
  if (count < 15) {
    out.push_back(static_cast<char>((type << 4) | count));
    return;
  }
  out.push_back(static_cast<char>((type << 4) | 0xF));
  const size_t size = UnsignedSize(count);
  out.push_back(static_cast<char>(0x10 | SizeExponent(size)));
  AppendBigEndian(out, count, size);
}

void AppendDouble(std::string& out, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  AppendBigEndian(out, bits, 8);
}

class BinaryWriter {
 public:
  bool Write(const Object* root, std::string& out, std::string* error) {
    uint64_t top = 0;
    if (!Add(root, 0, &top)) {
      if (error != nullptr) *error = m_error;
      return false;
    }
    Emit(out);
    return true;
  }

 private:
  struct Entry {
    std::string encoded;         // leaves: the whole object
    uint8_t containerType = 0;   // 0xA or 0xD for containers, 0 for leaves
    std::vector<uint64_t> refs;  // containers: element references (dictionaries: keys, then values)
  };

  bool Fail(const char* reason) {
    m_error = reason;
    return false;
  }

  bool EncodeLeaf(const Object* object, std::string& out) {
    switch (object->m_type) {
      case TypeId::kBoolean:
        out.push_back(static_cast<const BooleanObj*>(object)->m_value ? '\x09' : '\x08');
        return true;
      case TypeId::kNumber: {
        const auto* number = static_cast<const NumberObj*>(object);
        switch (number->m_kind) {
          case NumberObj::Kind::kSigned: {
            const int64_t value = number->m_signed;
            const size_t size = value < 0 ? 8 : UnsignedSize(static_cast<uint64_t>(value));
            out.push_back(static_cast<char>(0x10 | SizeExponent(size)));
            AppendBigEndian(out, static_cast<uint64_t>(value), size);
            return true;
          }
          case NumberObj::Kind::kBigUnsigned:
            out.push_back('\x14');
            AppendBigEndian(out, 0, 8);
            AppendBigEndian(out, number->m_unsigned, 8);
            return true;
          case NumberObj::Kind::kReal:
            if (number->m_type == kCFNumberFloat32Type) {
              const auto value = static_cast<float>(number->m_real);
              uint32_t bits = 0;
              std::memcpy(&bits, &value, sizeof bits);
              out.push_back('\x22');
              AppendBigEndian(out, bits, 4);
            } else {
              out.push_back('\x23');
              AppendDouble(out, number->m_real);
            }
            return true;
        }
        return false;
      }
      case TypeId::kDate:
        out.push_back('\x33');
        AppendDouble(out, static_cast<const DateObj*>(object)->m_time);
        return true;
      case TypeId::kData: {
        const auto& bytes = static_cast<const DataObj*>(object)->m_bytes;
        AppendMarkerAndCount(out, 0x4, bytes.size());
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
      }
      case TypeId::kString: {
        const auto* string = static_cast<const StringObj*>(object);
        if (string->m_isAscii) {
          AppendMarkerAndCount(out, 0x5, string->m_size);
          out.append(string->View());
        } else {
          std::vector<uint8_t> units;
          AppendUtf8AsUtf16BE(string->View(), units);
          AppendMarkerAndCount(out, 0x6, units.size() / 2);
          out.append(reinterpret_cast<const char*>(units.data()), units.size());
        }
        return true;
      }
      case TypeId::kUID: {
        const uint64_t value = static_cast<const UIDObj*>(object)->m_value;
        const size_t size = UnsignedSize(value);
        out.push_back(static_cast<char>(0x80 | (size - 1)));
        AppendBigEndian(out, value, size);
        return true;
      }
      default: return Fail("object cannot be in a property list");
    }
  }

  bool Add(const Object* object, int depth, uint64_t* index) {
    if (object == nullptr) return Fail("null value");
    if (depth > kMaxDepth) return Fail("nesting too deep");
    const bool isContainer = object->m_type == TypeId::kArray || object->m_type == TypeId::kDictionary;
    if (!isContainer) {
      std::string encoded;
      if (!EncodeLeaf(object, encoded)) return false;
      auto found = m_leafIndex.find(encoded);
      if (found != m_leafIndex.end()) {
        *index = found->second;
        return true;
      }
      *index = m_entries.size();
      m_entries.push_back(Entry{encoded, 0, {}});
      m_leafIndex.emplace(std::move(encoded), *index);
      return true;
    }
    if (auto found = m_containerIndex.find(object); found != m_containerIndex.end()) {
      if (m_inProgress.count(object) != 0) return Fail("cyclic structure");
      *index = found->second;
      return true;
    }
    *index = m_entries.size();
    m_entries.emplace_back();
    m_containerIndex.emplace(object, *index);
    m_inProgress.insert(object);
    std::vector<uint64_t> refs;
    if (object->m_type == TypeId::kArray) {
      const auto* array = static_cast<const ArrayObj*>(object);
      m_entries[*index].containerType = 0xA;
      refs.reserve(array->m_items.size());
      for (const Object* item : array->m_items) {
        uint64_t child = 0;
        if (!Add(item, depth + 1, &child)) return false;
        refs.push_back(child);
      }
    } else {
      const auto* dictionary = static_cast<const DictionaryObj*>(object);
      m_entries[*index].containerType = 0xD;
      const size_t count = dictionary->m_entries.size();
      refs.resize(2 * count);
      for (size_t i = 0; i < count; ++i) {
        const Object* key = dictionary->m_entries[i].first;
        if (key->m_type != TypeId::kString) return Fail("dictionary key is not a string");
        if (!Add(key, depth + 1, &refs[i])) return false;
      }
      for (size_t i = 0; i < count; ++i) {
        if (!Add(dictionary->m_entries[i].second, depth + 1, &refs[count + i])) return false;
      }
    }
    m_entries[*index].refs = std::move(refs);
    m_inProgress.erase(object);
    return true;
  }

  void Emit(std::string& out) {
    const size_t start = out.size();
    out += kBinaryPlistMagic;
    const size_t refSize = UnsignedSize(m_entries.size() - 1);
    std::vector<uint64_t> offsets;
    offsets.reserve(m_entries.size());
    for (const Entry& entry : m_entries) {
      offsets.push_back(out.size() - start);
      if (entry.containerType == 0) {
        out += entry.encoded;
        continue;
      }
      const uint64_t count = entry.containerType == 0xD ? entry.refs.size() / 2 : entry.refs.size();
      AppendMarkerAndCount(out, entry.containerType, count);
      for (const uint64_t ref : entry.refs) AppendBigEndian(out, ref, refSize);
    }
    const uint64_t tableOffset = out.size() - start;
    const size_t offsetSize = UnsignedSize(offsets.back());
    for (const uint64_t offset : offsets) AppendBigEndian(out, offset, offsetSize);
    out.append(6, '\0');  // unused, sort version
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(refSize));
    AppendBigEndian(out, m_entries.size(), 8);
    AppendBigEndian(out, 0, 8);  // the top object is always written first
    AppendBigEndian(out, tableOffset, 8);
  }

  std::vector<Entry> m_entries;
  std::unordered_map<std::string, uint64_t> m_leafIndex;
  std::unordered_map<const Object*, uint64_t> m_containerIndex;
  std::unordered_set<const Object*> m_inProgress;
  std::string m_error;
};

}  // namespace

bool WriteBinaryPlist(const Object* root, std::string& out, std::string* error) {
  return BinaryWriter().Write(root, out, error);
}

}  // namespace cf
