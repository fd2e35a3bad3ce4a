// The object model of the CoreFoundation library: the layout of every object type, reference
// counting, the owning smart pointer that the library's own code uses, value equality and the
// factories that the parsers and the exported functions share. Private to cf/: callers outside the
// library see opaque pointers only (mobiledevice.h, cf_internal.h).
//
// Threads: reference counts are atomic, so objects may be retained and released on any thread. The
// contents of immutable objects never change after creation and may be read concurrently; a mutable
// container has no lock of its own and must not be changed while another thread uses it (callers
// build a container on one thread and only then share it).
#pragma once

#include "mobiledevice.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cf {

// Nesting limit for parsing, writing, copying and comparing. Deeper structures are refused rather than
// risking the stack; real property lists stay far below it.
inline constexpr int kMaxDepth = 512;

enum class TypeId : uint32_t {
  kString = 7,
  kDictionary = 18,
  kArray = 19,
  kData = 20,
  kBoolean = 21,
  kNumber = 22,
  kURL = 29,
  kWriteStream = 39,
  kUID = 41,
  kDate = 42,
  kError = 43,
};

// A live object starts with this word; a freed one kept in strict mode carries kDeadMagic.
inline constexpr uint32_t kLiveMagic = 0x43584C48u;  // "HLXC" little-endian
inline constexpr uint32_t kDeadMagic = 0xDEADCF00u;

// Common header of every object. No virtual functions, so the magic word is the first word of every
// object and can be checked on any pointer the caller hands in.
struct Object {
  constexpr Object(TypeId type, bool immortal) noexcept
      : m_magic(kLiveMagic), m_type(type), m_immortal(immortal), m_refs(1) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  uint32_t m_magic;
  TypeId m_type;
  bool m_immortal;  // interned strings, the booleans, exported constants: never freed, not counted
  std::atomic<int64_t> m_refs;
};

// ---- lifetime (cf_object.cpp) ----

inline void Retain(const Object* object) noexcept {
  if (object == nullptr || object->m_immortal) return;
  const_cast<Object*>(object)->m_refs.fetch_add(1, std::memory_order_relaxed);
}
void Release(const Object* object) noexcept;
// Registers a freshly made heap object in the live count (MakeObject calls it).
void NoteCreated() noexcept;
bool IsStrict() noexcept;
// The object behind a pointer from outside, or null for null. A pointer that is not a live object of
// this library gives null, or aborts in strict mode.
const Object* Validate(CFTypeRef pointer) noexcept;

template <class T>
const T* As(CFTypeRef pointer) noexcept {
  const Object* object = Validate(pointer);
  return object != nullptr && object->m_type == T::kType ? static_cast<const T*>(object) : nullptr;
}

template <class T>
T* AsMutable(CFTypeRef pointer) noexcept {
  return const_cast<T*>(As<T>(pointer));
}

// Owns one reference. Ref<T>::Adopt takes over a +1 reference (a Create result); Ref<T>::Share adds one.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}  // NOLINT: lets failure paths return nullptr
  ~Ref() { Reset(); }
  Ref(const Ref& other) noexcept : m_object(other.m_object) {
    if (m_object != nullptr) Retain(m_object);
  }
  Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  template <class U>
  Ref(Ref<U>&& other) noexcept : m_object(other.Leak()) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(m_object, other.m_object);
    return *this;
  }

  static Ref Adopt(T* object) noexcept {
    Ref ref;
    ref.m_object = object;
    return ref;
  }
  static Ref Share(const T* object) noexcept {
    if (object != nullptr) Retain(object);
    return Adopt(const_cast<T*>(object));
  }

  T* Get() const noexcept { return m_object; }
  T* operator->() const noexcept { return m_object; }
  explicit operator bool() const noexcept { return m_object != nullptr; }
  // Hands the reference to the caller (a Create result crossing the C boundary).
  T* Leak() noexcept { return std::exchange(m_object, nullptr); }
  void Reset() noexcept {
    if (m_object != nullptr) Release(std::exchange(m_object, nullptr));
  }

 private:
  T* m_object = nullptr;
};

// Makes a heap object, counted live, and hands out its one reference; every type's factory makes
// its objects through it.
template <class T, class... Args>
Ref<T> MakeObject(Args&&... args) {
  auto* object = new T(std::forward<Args>(args)...);
  NoteCreated();
  return Ref<T>::Adopt(object);
}

// ---- value equality (cf_equal.cpp) ----

// Deep comparison; structures deeper than kMaxDepth compare unequal.
bool Equal(const Object* a, const Object* b) noexcept;
// Consistent with Equal; containers hash by type and count only, so hashing never recurses.
size_t Hash(const Object* object) noexcept;

// ---- the object types ----

// UTF-8 text with a NUL after the last byte (the text itself may contain NUL characters).
struct StringObj : Object {
  static constexpr TypeId kType = TypeId::kString;
  // For static constants: the bytes are an ASCII literal (so the UTF-16 length is the byte count) and
  // are never freed.
  constexpr StringObj(const char* literal, size_t size) noexcept
      : Object(kType, true), m_bytes(literal), m_size(size), m_utf16Length(size), m_isAscii(true) {}
  // `bytes` (NUL-terminated, already validated) lie in the object's own allocation, right after it
  // (cf_string.cpp).
  StringObj(char* bytes, size_t size, size_t utf16Length, bool isAscii, bool immortal) noexcept
      : Object(kType, immortal), m_bytes(bytes), m_size(size), m_utf16Length(utf16Length), m_isAscii(isAscii) {}

  std::string_view View() const noexcept { return {m_bytes, m_size}; }

  const char* m_bytes;  // right after the object for heap strings; a literal's for constants
  size_t m_size;
  size_t m_utf16Length;
  bool m_isAscii;
};

// Equal, with the common case of dictionary keys, two strings, decided in place.
inline bool KeysEqual(const Object* a, const Object* b) noexcept {
  if (a == b) return true;
  if (a->m_type == TypeId::kString && b->m_type == TypeId::kString) {
    return static_cast<const StringObj*>(a)->View() == static_cast<const StringObj*>(b)->View();
  }
  return Equal(a, b);
}

struct BooleanObj : Object {
  static constexpr TypeId kType = TypeId::kBoolean;
  constexpr explicit BooleanObj(bool value) noexcept : Object(kType, true), m_value(value) {}
  bool m_value;
};

// A number keeps the normalised type it was made with. Integers above INT64_MAX (from property
// lists) are kept exactly as kBigUnsigned and report SInt64: the public type list has no wider type.
struct NumberObj : Object {
  static constexpr TypeId kType = TypeId::kNumber;
  enum class Kind : uint8_t { kSigned, kBigUnsigned, kReal };
  NumberObj() noexcept : Object(kType, false) {}

  Kind m_kind = Kind::kSigned;
  CFNumberType m_type = kCFNumberSInt64Type;  // one of SInt8..SInt64, Float32, Float64
  int64_t m_signed = 0;
  uint64_t m_unsigned = 0;
  double m_real = 0.0;
};

struct DataObj : Object {
  static constexpr TypeId kType = TypeId::kData;
  DataObj() noexcept : Object(kType, false) {}
  std::vector<uint8_t> m_bytes;
};

struct DateObj : Object {
  static constexpr TypeId kType = TypeId::kDate;
  explicit DateObj(double time) noexcept : Object(kType, false), m_time(time) {}
  double m_time;  // seconds since 2001-01-01 00:00:00 UTC
};

struct UIDObj : Object {
  static constexpr TypeId kType = TypeId::kUID;
  explicit UIDObj(uint64_t value) noexcept : Object(kType, false), m_value(value) {}
  uint64_t m_value;
};

// Elements are retained by the array.
struct ArrayObj : Object {
  static constexpr TypeId kType = TypeId::kArray;
  explicit ArrayObj(bool isMutable) noexcept : Object(kType, false), m_mutable(isMutable) {}
  ~ArrayObj();

  bool m_mutable;
  std::vector<Object*> m_items;
};

// Keys and values are retained. Entries keep insertion order (iteration, the binary writer); the index
// finds a key by value in larger dictionaries (cf_dictionary.cpp searches small ones in place).
struct DictionaryObj : Object {
  static constexpr TypeId kType = TypeId::kDictionary;
  explicit DictionaryObj(bool isMutable) noexcept : Object(kType, false), m_mutable(isMutable) {}
  ~DictionaryObj();

  bool m_mutable;
  std::vector<std::pair<Object*, Object*>> m_entries;
  std::vector<uint64_t> m_index;  // open-addressed; see cf_dictionary.cpp
};

struct URLObj : Object {
  static constexpr TypeId kType = TypeId::kURL;
  URLObj() noexcept : Object(kType, false) {}
  Ref<StringObj> m_path;
  CFURLPathStyle m_style = 0;
  bool m_isDirectory = false;
};

// An in-memory write stream: bytes are taken only while it is open.
struct StreamObj : Object {
  static constexpr TypeId kType = TypeId::kWriteStream;
  enum class State : uint8_t { kNotOpen, kOpen, kClosed };
  StreamObj() noexcept : Object(kType, false) {}
  State m_state = State::kNotOpen;
  std::vector<uint8_t> m_bytes;
};

struct ErrorObj : Object {
  static constexpr TypeId kType = TypeId::kError;
  ErrorObj() noexcept : Object(kType, false) {}
  Ref<StringObj> m_description;
};

// ---- factories (each returns an owned reference; a null Ref when the input is refused) ----

Ref<StringObj> NewString(std::string_view utf8);          // null when not valid UTF-8
Ref<StringObj> NewStringFromValidUtf8(std::string utf8);  // caller has validated
Ref<NumberObj> NewSigned(int64_t value, CFNumberType type = kCFNumberSInt64Type);
Ref<NumberObj> NewUnsigned(uint64_t value);  // SInt64 up to INT64_MAX, big unsigned above
Ref<NumberObj> NewReal(double value, CFNumberType type = kCFNumberFloat64Type);
Ref<DataObj> NewData(const uint8_t* bytes, size_t size);
Ref<DateObj> NewDate(double time);
Ref<UIDObj> NewUID(uint64_t value);
Ref<ArrayObj> NewArray(bool isMutable);
Ref<DictionaryObj> NewDictionary(bool isMutable);
Ref<ErrorObj> NewError(std::string_view description);
const BooleanObj* GetBoolean(bool value) noexcept;

// ---- container operations used inside the library (ignore the mutable flag: builders own them) ----

void ArrayAppend(ArrayObj* array, const Object* value);
// Replaces the value of an equal key when `replace`, keeps the old one otherwise.
void DictionarySet(DictionaryObj* dictionary, const Object* key, const Object* value, bool replace);
const Object* DictionaryGet(const DictionaryObj* dictionary, const Object* key) noexcept;
bool DictionaryRemove(DictionaryObj* dictionary, const Object* key);

// A deep copy whose containers are all mutable; null past kMaxDepth.
Ref<Object> MutableDeepCopy(const Object* object, int depth = 0);

// Runs `body` and turns any exception into `fallback`: exported functions never let one escape.
template <class R, class F>
R Guarded(R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}
template <class F>
void GuardedVoid(F&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace cf
