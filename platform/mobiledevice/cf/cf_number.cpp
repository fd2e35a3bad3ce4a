// Numbers and booleans. A number keeps the type it was made with, normalised to the fixed-size types
// (SInt8..SInt64, Float32, Float64), and CFNumberGetValue converts on the way out, reporting false for
// any conversion that loses information: a fraction dropped, a value out of the target's range, an
// integer a float cannot hold exactly. On such a loss the output still receives the nearest value the
// target can hold (truncated toward zero, clamped to its range) so that it is never left unset.
//
// Threads: any; numbers are immutable and the booleans are static singletons.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

namespace cf {
namespace {

using Int128 = __int128;

BooleanObj g_true(true);
BooleanObj g_false(false);

constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow127 = 1.7014118346046923e38;

// Normalised type for a creation type; 0 for an unknown one.
CFNumberType NormalisedType(CFNumberType type) noexcept {
  switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType: return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType: return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType: return kCFNumberSInt64Type;
    case kCFNumberLongType:
    case kCFNumberCFIndexType: return sizeof(long) == 8 ? kCFNumberSInt64Type : kCFNumberSInt32Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType: return kCFNumberFloat64Type;
    default: return 0;
  }
}

size_t IntegerWidth(CFNumberType normalised) noexcept {
  switch (normalised) {
    case kCFNumberSInt8Type: return 1;
    case kCFNumberSInt16Type: return 2;
    case kCFNumberSInt32Type: return 4;
    case kCFNumberSInt64Type: return 8;
    default: return 0;
  }
}

void StoreInteger(int64_t value, size_t width, void* out) noexcept {
  // clang-format off
  switch (width) {
    case 1: { const auto v = static_cast<int8_t>(value); std::memcpy(out, &v, 1); break; }
    case 2: { const auto v = static_cast<int16_t>(value); std::memcpy(out, &v, 2); break; }
    case 4: { const auto v = static_cast<int32_t>(value); std::memcpy(out, &v, 4); break; }
    default: std::memcpy(out, &value, 8); break;
  }
  // clang-format on
}

// Converts to a signed integer of `width` bytes; false when the value is not exactly representable.
bool ReadAsInteger(const NumberObj* number, size_t width, void* out) noexcept {
  const Int128 maximum = (static_cast<Int128>(1) << (8 * width - 1)) - 1;
  const Int128 minimum = -maximum - 1;
  Int128 value = 0;
  bool exact = true;
  switch (number->m_kind) {
    case NumberObj::Kind::kSigned: value = number->m_signed; break;
    case NumberObj::Kind::kBigUnsigned: value = static_cast<Int128>(number->m_unsigned); break;
    case NumberObj::Kind::kReal: {
      const double real = number->m_real;
      if (std::isnan(real)) {
        value = 0;
        exact = false;
      } else if (real >= kTwoPow127) {
        value = maximum;
        exact = false;
      } else if (real < -kTwoPow127) {
        value = minimum;
        exact = false;
      } else {
        const double whole = std::trunc(real);
        exact = whole == real;
        value = static_cast<Int128>(whole);
      }
      break;
    }
  }
  if (value > maximum) {
    value = maximum;
    exact = false;
  } else if (value < minimum) {
    value = minimum;
    exact = false;
  }
  StoreInteger(static_cast<int64_t>(value), width, out);
  return exact;
}

bool ReadAsFloat64(const NumberObj* number, double* out) noexcept {
  switch (number->m_kind) {
    case NumberObj::Kind::kReal: *out = number->m_real; return true;
    case NumberObj::Kind::kSigned: {
      *out = static_cast<double>(number->m_signed);
      // 2^63 (the rounding of INT64_MAX) is out of int64 range; it is exact only for a value of 2^63.
      return *out < kTwoPow63 && static_cast<int64_t>(*out) == number->m_signed;
    }
    case NumberObj::Kind::kBigUnsigned: {
      *out = static_cast<double>(number->m_unsigned);
      return *out < 18446744073709551616.0 && static_cast<uint64_t>(*out) == number->m_unsigned;
    }
  }
  return false;
}

bool ReadAsFloat32(const NumberObj* number, float* out) noexcept {
  double wide = 0.0;
  bool exact = ReadAsFloat64(number, &wide);
  if (std::isnan(wide)) {
    *out = static_cast<float>(wide);
    return exact;
  }
  if (std::isfinite(wide) && std::fabs(wide) > FLT_MAX) {
    *out = wide > 0 ? FLT_MAX : -FLT_MAX;
    return false;
  }
  *out = static_cast<float>(wide);
  return exact && static_cast<double>(*out) == wide;
}

// A number of the given kind and type; the caller sets its value.
Ref<NumberObj> MakeNumber(NumberObj::Kind kind, CFNumberType type) {
  Ref<NumberObj> number = MakeObject<NumberObj>();
  number->m_kind = kind;
  number->m_type = type;
  return number;
}

}  // namespace

Ref<NumberObj> NewSigned(int64_t value, CFNumberType type) {
  Ref<NumberObj> number = MakeNumber(NumberObj::Kind::kSigned, type);
  number->m_signed = value;
  return number;
}

Ref<NumberObj> NewUnsigned(uint64_t value) {
  if (value <= static_cast<uint64_t>(INT64_MAX)) return NewSigned(static_cast<int64_t>(value));
  Ref<NumberObj> number = MakeNumber(NumberObj::Kind::kBigUnsigned, kCFNumberSInt64Type);
  number->m_unsigned = value;
  return number;
}

Ref<NumberObj> NewReal(double value, CFNumberType type) {
  Ref<NumberObj> number = MakeNumber(NumberObj::Kind::kReal, type);
  number->m_real = value;
  return number;
}

const BooleanObj* GetBoolean(bool value) noexcept { return value ? &g_true : &g_false; }

}  // namespace cf

using namespace cf;

extern "C" {

const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(&g_true);

MD_EXPORT CFNumberRef HLXCFNumberCreate(CFNumberType type, const void* value) {
  return Guarded<CFNumberRef>(nullptr, [&]() -> CFNumberRef {
    if (value == nullptr) return nullptr;
    const CFNumberType normalised = NormalisedType(type);
    Ref<NumberObj> number;
    switch (normalised) {
      // clang-format off
      case kCFNumberSInt8Type: { int8_t v; std::memcpy(&v, value, 1); number = NewSigned(v, normalised); break; }
      case kCFNumberSInt16Type: { int16_t v; std::memcpy(&v, value, 2); number = NewSigned(v, normalised); break; }
      case kCFNumberSInt32Type: { int32_t v; std::memcpy(&v, value, 4); number = NewSigned(v, normalised); break; }
      case kCFNumberSInt64Type: { int64_t v; std::memcpy(&v, value, 8); number = NewSigned(v, normalised); break; }
      case kCFNumberFloat32Type: { float v; std::memcpy(&v, value, 4); number = NewReal(v, normalised); break; }
      case kCFNumberFloat64Type: { double v; std::memcpy(&v, value, 8); number = NewReal(v, normalised); break; }
      // clang-format on
      default: return nullptr;
    }
    return reinterpret_cast<CFNumberRef>(number.Leak());
  });
}

MD_EXPORT CFNumberRef HLXCFNumberCreateInt64(int64_t value) {
  return Guarded<CFNumberRef>(nullptr, [&] { return reinterpret_cast<CFNumberRef>(NewSigned(value).Leak()); });
}

MD_EXPORT CFNumberRef HLXCFNumberCreateUInt64(uint64_t value) {
  return Guarded<CFNumberRef>(nullptr, [&] { return reinterpret_cast<CFNumberRef>(NewUnsigned(value).Leak()); });
}

MD_EXPORT CFNumberRef HLXCFNumberCreateDouble(double value) {
  return Guarded<CFNumberRef>(nullptr, [&] { return reinterpret_cast<CFNumberRef>(NewReal(value).Leak()); });
}

MD_EXPORT CFNumberType CFNumberGetType(CFNumberRef number) {
  const NumberObj* valid = As<NumberObj>(number);
  return valid == nullptr ? 0 : valid->m_type;
}

MD_EXPORT CFIndex CFNumberGetByteSize(CFNumberRef number) {
  const NumberObj* valid = As<NumberObj>(number);
  if (valid == nullptr) return 0;
  if (valid->m_kind == NumberObj::Kind::kBigUnsigned) return 16;
  if (valid->m_type == kCFNumberFloat32Type) return 4;
  if (valid->m_type == kCFNumberFloat64Type) return 8;
  return static_cast<CFIndex>(IntegerWidth(valid->m_type));
}

MD_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value) {
  const NumberObj* valid = As<NumberObj>(number);
  if (valid == nullptr || value == nullptr) return 0;
  const CFNumberType target = NormalisedType(type);
  if (target == kCFNumberFloat64Type) {
    double out = 0.0;
    const bool exact = ReadAsFloat64(valid, &out);
    std::memcpy(value, &out, sizeof out);
    return exact ? 1 : 0;
  }
  if (target == kCFNumberFloat32Type) {
    float out = 0.0f;
    const bool exact = ReadAsFloat32(valid, &out);
    std::memcpy(value, &out, sizeof out);
    return exact ? 1 : 0;
  }
  const size_t width = IntegerWidth(target);
  if (width == 0) return 0;
  return ReadAsInteger(valid, width, value) ? 1 : 0;
}

MD_EXPORT Boolean HLXCFNumberIsFloatType(CFNumberRef number) {
  const NumberObj* valid = As<NumberObj>(number);
  return valid != nullptr && valid->m_kind == NumberObj::Kind::kReal ? 1 : 0;
}

MD_EXPORT Boolean HLXCFNumberGetUInt64(CFNumberRef number, uint64_t* value) {
  const NumberObj* valid = As<NumberObj>(number);
  if (valid == nullptr || value == nullptr) return 0;
  switch (valid->m_kind) {
    case NumberObj::Kind::kBigUnsigned: *value = valid->m_unsigned; return 1;
    case NumberObj::Kind::kSigned:
      if (valid->m_signed < 0) return 0;
      *value = static_cast<uint64_t>(valid->m_signed);
      return 1;
    case NumberObj::Kind::kReal: {
      const double real = valid->m_real;
      if (!(real >= 0.0) || real >= 18446744073709551616.0 || std::trunc(real) != real) return 0;
      *value = static_cast<uint64_t>(real);
      return 1;
    }
  }
  return 0;
}

MD_EXPORT CFBooleanRef HLXCFBooleanGet(Boolean value) { return reinterpret_cast<CFBooleanRef>(GetBoolean(value != 0)); }

MD_EXPORT Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  const BooleanObj* valid = As<BooleanObj>(boolean);
  return valid != nullptr && valid->m_value ? 1 : 0;
}

}  // extern "C"
