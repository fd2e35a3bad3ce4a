// Value equality and hashing of objects: what dictionaries use to find keys and what HLXCFEqual
// exports. Numbers compare by exact value across their types (1 equals 1.0, 2^63 as a big unsigned
// equals 2^63 as a real), so the hash of a number is taken from its exact value too.
//
// Container pairs already found equal are remembered for the rest of one comparison, so structures
// that share containers (a parsed binary list may describe 2^80 elements with 80 objects) compare in
// time proportional to their objects, not to their expansion.
//
// Threads: any; reads objects only.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_set>
#include <utility>

namespace cf {
namespace {

using Int128 = __int128;

// The exact integer value of a number when it has one. Reals outside the 128-bit range, fractions,
// NaN and infinities have none.
bool ExactInteger(const NumberObj* number, Int128* value) noexcept {
  switch (number->m_kind) {
    case NumberObj::Kind::kSigned: *value = number->m_signed; return true;
    case NumberObj::Kind::kBigUnsigned: *value = static_cast<Int128>(number->m_unsigned); return true;
    case NumberObj::Kind::kReal: {
      const double real = number->m_real;
      if (!std::isfinite(real) || std::trunc(real) != real) return false;
      if (real < -1.7014118346046923e38 || real >= 1.7014118346046923e38) return false;  // +-2^127
      *value = static_cast<Int128>(real);
      return true;
    }
  }
  return false;
}

bool NumbersEqual(const NumberObj* a, const NumberObj* b) noexcept {
  const bool aReal = a->m_kind == NumberObj::Kind::kReal;
  const bool bReal = b->m_kind == NumberObj::Kind::kReal;
  // NaN equals NaN here, unlike in arithmetic: equality must be reflexive for dictionary keys and for
  // comparing a list with its re-read copy.
  if (aReal && bReal) return a->m_real == b->m_real || (std::isnan(a->m_real) && std::isnan(b->m_real));
  Int128 left = 0;
  Int128 right = 0;
  return ExactInteger(a, &left) && ExactInteger(b, &right) && left == right;
}

size_t MixHash(size_t seed, size_t value) noexcept {
  return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

size_t HashDouble(double value) noexcept {
  if (value == 0.0) value = 0.0;         // -0.0 equals 0.0
  if (std::isnan(value)) return 0x7FF8;  // every NaN equals every other
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return std::hash<uint64_t>()(bits);
}

struct PairHash {
  size_t operator()(const std::pair<const Object*, const Object*>& pair) const noexcept {
    return std::hash<const void*>()(pair.first) * 31 + std::hash<const void*>()(pair.second);
  }
};

// Container pairs proven equal during one top-level comparison; made on the first container pair.
struct Proven {
  std::unique_ptr<std::unordered_set<std::pair<const Object*, const Object*>, PairHash>> pairs;

  bool Contains(const Object* a, const Object* b) const noexcept {
    return pairs != nullptr && pairs->count({a, b}) != 0;
  }
  void Add(const Object* a, const Object* b) noexcept {
    try {
      if (pairs == nullptr)
        pairs = std::make_unique<std::unordered_set<std::pair<const Object*, const Object*>, PairHash>>();
      pairs->insert({a, b});
    } catch (...) {
      // Without memory for the memo the comparison is only slower, never wrong.
    }
  }
};

bool EqualAt(const Object* a, const Object* b, int depth, Proven& proven) noexcept;

bool ContainersEqual(const Object* a, const Object* b, int depth, Proven& proven) noexcept {
  if (proven.Contains(a, b)) return true;
  bool equal = true;
  if (a->m_type == TypeId::kArray) {
    const auto& left = static_cast<const ArrayObj*>(a)->m_items;
    const auto& right = static_cast<const ArrayObj*>(b)->m_items;
    equal = left.size() == right.size();
    for (size_t i = 0; equal && i < left.size(); ++i) equal = EqualAt(left[i], right[i], depth + 1, proven);
  } else {
    const auto* left = static_cast<const DictionaryObj*>(a);
    const auto* right = static_cast<const DictionaryObj*>(b);
    equal = left->m_entries.size() == right->m_entries.size();
    for (size_t i = 0; equal && i < left->m_entries.size(); ++i) {
      const Object* other = DictionaryGet(right, left->m_entries[i].first);
      equal = other != nullptr && EqualAt(left->m_entries[i].second, other, depth + 1, proven);
    }
  }
  if (equal) proven.Add(a, b);
  return equal;
}

bool EqualAt(const Object* a, const Object* b, int depth, Proven& proven) noexcept {
  if (a == b) return true;
  if (a == nullptr || b == nullptr || a->m_type != b->m_type) return false;
  if (depth > kMaxDepth) return false;
  switch (a->m_type) {
    case TypeId::kString: return static_cast<const StringObj*>(a)->View() == static_cast<const StringObj*>(b)->View();
    case TypeId::kBoolean:
      return static_cast<const BooleanObj*>(a)->m_value == static_cast<const BooleanObj*>(b)->m_value;
    case TypeId::kNumber: return NumbersEqual(static_cast<const NumberObj*>(a), static_cast<const NumberObj*>(b));
    case TypeId::kData: return static_cast<const DataObj*>(a)->m_bytes == static_cast<const DataObj*>(b)->m_bytes;
    case TypeId::kDate: {
      const double left = static_cast<const DateObj*>(a)->m_time;
      const double right = static_cast<const DateObj*>(b)->m_time;
      return left == right || (std::isnan(left) && std::isnan(right));
    }
    case TypeId::kUID: return static_cast<const UIDObj*>(a)->m_value == static_cast<const UIDObj*>(b)->m_value;
    case TypeId::kURL: {
      const auto* left = static_cast<const URLObj*>(a);
      const auto* right = static_cast<const URLObj*>(b);
      return left->m_style == right->m_style && left->m_isDirectory == right->m_isDirectory &&
             EqualAt(left->m_path.Get(), right->m_path.Get(), depth + 1, proven);
    }
    case TypeId::kArray:
    case TypeId::kDictionary: return ContainersEqual(a, b, depth, proven);
    case TypeId::kWriteStream:
    case TypeId::kError: return false;  // identity only, handled above
  }
  return false;
}

}  // namespace

bool Equal(const Object* a, const Object* b) noexcept {
  Proven proven;
  return EqualAt(a, b, 0, proven);
}

size_t Hash(const Object* object) noexcept {
  if (object == nullptr) return 0;
  const size_t typeSeed = static_cast<size_t>(object->m_type);
  switch (object->m_type) {
    case TypeId::kString: return std::hash<std::string_view>()(static_cast<const StringObj*>(object)->View());
    case TypeId::kBoolean: return MixHash(typeSeed, static_cast<const BooleanObj*>(object)->m_value ? 1 : 0);
    case TypeId::kNumber: {
      const auto* number = static_cast<const NumberObj*>(object);
      Int128 exact = 0;
      if (ExactInteger(number, &exact)) {
        const auto low = static_cast<uint64_t>(exact);
        const auto high = static_cast<uint64_t>(static_cast<unsigned __int128>(exact) >> 64);
        return MixHash(std::hash<uint64_t>()(low), std::hash<uint64_t>()(high));
      }
      return HashDouble(number->m_real);
    }
    case TypeId::kData: {
      const auto& bytes = static_cast<const DataObj*>(object)->m_bytes;
      return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    case TypeId::kDate: return MixHash(typeSeed, HashDouble(static_cast<const DateObj*>(object)->m_time));
    case TypeId::kUID: return MixHash(typeSeed, static_cast<const UIDObj*>(object)->m_value);
    case TypeId::kURL: return MixHash(typeSeed, Hash(static_cast<const URLObj*>(object)->m_path.Get()));
    case TypeId::kArray: return MixHash(typeSeed, static_cast<const ArrayObj*>(object)->m_items.size());
    case TypeId::kDictionary: return MixHash(typeSeed, static_cast<const DictionaryObj*>(object)->m_entries.size());
    case TypeId::kWriteStream:
    case TypeId::kError: return std::hash<const void*>()(object);
  }
  return typeSeed;
}

}  // namespace cf

extern "C" MD_EXPORT Boolean HLXCFEqual(CFTypeRef a, CFTypeRef b) {
  using namespace cf;
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  const Object* left = Validate(a);
  const Object* right = Validate(b);
  if (left == nullptr || right == nullptr) return 0;
  return Equal(left, right) ? 1 : 0;
}
