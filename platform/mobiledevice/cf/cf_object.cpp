// Reference counting and object destruction: CFRetain, CFRelease, CFGetTypeID, the live-object count
// and strict mode. This file alone frees objects; the destroy step knows every type's layout.
//
// Threads: any. Counts are atomic; the last release frees the object on the releasing thread.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace cf {
namespace {

// The live count is kept in stripes, one cache line each, a thread counting in its own: the device's
// threads and the service's create and free objects at the same time, and one shared counter made
// every creation wait for the line to come back from the other core. The count is their sum.
constexpr size_t kLiveStripes = 16;
struct alignas(64) LiveStripe {
  std::atomic<int64_t> count{0};
};
LiveStripe g_liveObjects[kLiveStripes];

std::atomic<int64_t>& LiveCountOfThisThread() noexcept {
  static std::atomic<size_t> nextStripe{0};
  thread_local const size_t stripe = nextStripe.fetch_add(1, std::memory_order_relaxed) % kLiveStripes;
  return g_liveObjects[stripe].count;
}

// -1 until first read from the environment, then 0 or 1; HLXCFSetStrictMode overrides it.
std::atomic<int> g_strict{-1};

// Non-null while this thread frees objects (see Release).
thread_local std::vector<Object*>* t_pendingDestroy = nullptr;

// What HLXCFGetRetainCount answers for objects that are never freed.
constexpr CFIndex kImmortalRetainCount = 0x7FFFFFFF;

uint32_t ReadMagic(const void* pointer) noexcept {
  uint32_t magic = 0;
  std::memcpy(&magic, pointer, sizeof magic);
  return magic;
}

[[noreturn]] void StrictAbort(const char* what, const void* pointer) noexcept {
  std::fprintf(stderr, "CoreFoundation strict mode: %s (%p)\n", what, pointer);
  std::abort();
}

// Freed objects kept in strict mode. Holding them in a list keeps them reachable, so leak checkers do
// not report the deliberate retention.
struct Quarantine {
  std::mutex mutex;
  // guards: objects
  std::vector<void*> objects;
};

Quarantine& Quarantined() {
  static Quarantine* quarantine = new Quarantine();  // never destroyed: objects may die during exit
  return *quarantine;
}

// Runs the destructor. In strict mode the memory is kept with a dead marker so that a later release
// of the same pointer is caught instead of touching reused memory.
template <class T>
void DestroyAs(Object* object) noexcept {
  T* typed = static_cast<T*>(object);
  if (IsStrict()) {
    typed->~T();
    const uint32_t dead = kDeadMagic;
    std::memcpy(static_cast<void*>(object), &dead, sizeof dead);
    try {
      Quarantine& quarantine = Quarantined();
      std::lock_guard<std::mutex> lock(quarantine.mutex);
      quarantine.objects.push_back(object);
    } catch (...) {
      // No room to record it: the memory simply stays allocated.
    }
  } else if constexpr (std::is_same_v<T, StringObj>) {
    typed->~T();
    ::operator delete(static_cast<void*>(typed));  // the object and its bytes are one block (MakeString)
  } else {
    delete typed;
  }
}

void Destroy(Object* object) noexcept {
  switch (object->m_type) {
    case TypeId::kString: {
      auto* string = static_cast<StringObj*>(object);
      string->m_bytes = nullptr;  // they live in the string's own block
      DestroyAs<StringObj>(object);
      break;
    }
    case TypeId::kNumber: DestroyAs<NumberObj>(object); break;
    case TypeId::kData: DestroyAs<DataObj>(object); break;
    case TypeId::kDate: DestroyAs<DateObj>(object); break;
    case TypeId::kUID: DestroyAs<UIDObj>(object); break;
    case TypeId::kArray: DestroyAs<ArrayObj>(object); break;
    case TypeId::kDictionary: DestroyAs<DictionaryObj>(object); break;
    case TypeId::kURL: DestroyAs<URLObj>(object); break;
    case TypeId::kWriteStream: DestroyAs<StreamObj>(object); break;
    case TypeId::kError: DestroyAs<ErrorObj>(object); break;
    case TypeId::kBoolean: return;  // immortal, never reaches here
  }
  LiveCountOfThisThread().fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

bool IsStrict() noexcept {
  int strict = g_strict.load(std::memory_order_relaxed);
  if (strict < 0) {
    const char* value = std::getenv("HLX_CF_STRICT");
    strict = (value != nullptr && std::strcmp(value, "1") == 0) ? 1 : 0;
    int expected = -1;
    if (!g_strict.compare_exchange_strong(expected, strict)) strict = expected;
  }
  return strict == 1;
}

void NoteCreated() noexcept { LiveCountOfThisThread().fetch_add(1, std::memory_order_relaxed); }

const Object* Validate(CFTypeRef pointer) noexcept {
  if (pointer == nullptr) return nullptr;
  const uint32_t magic = ReadMagic(pointer);
  if (magic == kLiveMagic) return static_cast<const Object*>(pointer);
  if (IsStrict()) StrictAbort(magic == kDeadMagic ? "use of a released object" : "not an object", pointer);
  return nullptr;
}

void Release(const Object* object) noexcept {
  if (object == nullptr || object->m_immortal) return;
  auto* mutableObject = const_cast<Object*>(object);
  const int64_t before = mutableObject->m_refs.fetch_sub(1, std::memory_order_acq_rel);
  if (before <= 0) {
    if (IsStrict()) StrictAbort("over-release", object);
    return;
  }
  if (before != 1) return;
  // A container's destructor releases its members. Members that die then are queued and freed by the
  // outermost release on this thread, so a deeply nested structure cannot exhaust the stack.
  if (t_pendingDestroy != nullptr) {
    try {
      t_pendingDestroy->push_back(mutableObject);
      return;
    } catch (...) {
      Destroy(mutableObject);  // out of memory for the queue: recurse instead
      return;
    }
  }
  std::vector<Object*> pending;
  t_pendingDestroy = &pending;
  Destroy(mutableObject);
  while (!pending.empty()) {
    Object* next = pending.back();
    pending.pop_back();
    Destroy(next);
  }
  t_pendingDestroy = nullptr;
}

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFTypeRef CFRetain(CFTypeRef object) {
  const Object* valid = Validate(object);
  Retain(valid);
  return valid;
}

MD_EXPORT void CFRelease(CFTypeRef object) {
  if (object == nullptr) return;
  if (ReadMagic(object) == kDeadMagic && IsStrict()) StrictAbort("over-release", object);
  Release(Validate(object));
}

MD_EXPORT CFTypeID CFGetTypeID(CFTypeRef object) {
  const Object* valid = Validate(object);
  return valid == nullptr ? 0 : static_cast<CFTypeID>(valid->m_type);
}

MD_EXPORT CFIndex HLXCFGetRetainCount(CFTypeRef object) {
  const Object* valid = Validate(object);
  if (valid == nullptr) return 0;
  if (valid->m_immortal) return kImmortalRetainCount;
  return static_cast<CFIndex>(valid->m_refs.load(std::memory_order_relaxed));
}

MD_EXPORT int64_t HLXCFGetLiveObjectCount(void) {
  int64_t live = 0;
  for (const LiveStripe& stripe : g_liveObjects) live += stripe.count.load(std::memory_order_relaxed);
  return live;
}

MD_EXPORT void HLXCFSetStrictMode(Boolean strict) { g_strict.store(strict ? 1 : 0, std::memory_order_relaxed); }

MD_EXPORT Boolean HLXCFIsStrictMode(void) { return IsStrict() ? 1 : 0; }

}  // extern "C"
