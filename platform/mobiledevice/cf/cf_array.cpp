// Arrays: ordered, retaining their elements. Arrays made by property-list parsing without the
// mutable option refuse changes: a change to an immutable array is a caller bug, which this library
// answers by leaving the array as it is rather than corrupting shared data (and by aborting in strict
// mode, where such a bug should be loud).
//
// Threads: any for reading; a mutable array must not be changed while another thread uses it.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cstdio>
#include <cstdlib>

namespace cf {
namespace {

// The array behind `pointer` when it may be changed; null otherwise.
ArrayObj* ChangeableArray(CFTypeRef pointer) noexcept {
  ArrayObj* array = AsMutable<ArrayObj>(pointer);
  if (array != nullptr && !array->m_mutable) {
    if (IsStrict()) {
      std::fprintf(stderr, "CoreFoundation strict mode: change to an immutable array (%p)\n", pointer);
      std::abort();
    }
    return nullptr;
  }
  return array;
}

}  // namespace

ArrayObj::~ArrayObj() {
  for (Object* item : m_items) Release(item);
}

Ref<ArrayObj> NewArray(bool isMutable) { return MakeObject<ArrayObj>(isMutable); }

void ArrayAppend(ArrayObj* array, const Object* value) {
  array->m_items.push_back(const_cast<Object*>(value));
  Retain(value);
}

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const void*) {
  // The capacity is a hint only: a limit that silently drops appends would hide caller bugs.
  return Guarded<CFMutableArrayRef>(nullptr, [&]() -> CFMutableArrayRef {
    if (capacity < 0) return nullptr;
    return reinterpret_cast<CFMutableArrayRef>(NewArray(true).Leak());
  });
}

MD_EXPORT void CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
  GuardedVoid([&] {
    ArrayObj* target = ChangeableArray(array);
    const Object* item = Validate(value);
    if (target == nullptr || item == nullptr) return;
    ArrayAppend(target, item);
  });
}

MD_EXPORT CFIndex CFArrayGetCount(CFArrayRef array) {
  const ArrayObj* valid = As<ArrayObj>(array);
  return valid == nullptr ? 0 : static_cast<CFIndex>(valid->m_items.size());
}

MD_EXPORT const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  const ArrayObj* valid = As<ArrayObj>(array);
  if (valid == nullptr || index < 0 || static_cast<size_t>(index) >= valid->m_items.size()) return nullptr;
  return valid->m_items[static_cast<size_t>(index)];
}

MD_EXPORT void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index) {
  ArrayObj* target = ChangeableArray(array);
  if (target == nullptr || index < 0 || static_cast<size_t>(index) >= target->m_items.size()) return;
  Object* removed = target->m_items[static_cast<size_t>(index)];
  target->m_items.erase(target->m_items.begin() + index);
  Release(removed);
}

MD_EXPORT void HLXCFArraySetValueAtIndex(CFMutableArrayRef array, CFIndex index, const void* value) {
  ArrayObj* target = ChangeableArray(array);
  const Object* item = Validate(value);
  if (target == nullptr || item == nullptr || index < 0 || static_cast<size_t>(index) >= target->m_items.size()) return;
  Retain(item);
  Release(std::exchange(target->m_items[static_cast<size_t>(index)], const_cast<Object*>(item)));
}

MD_EXPORT void HLXCFArrayInsertValueAtIndex(CFMutableArrayRef array, CFIndex index, const void* value) {
  GuardedVoid([&] {
    ArrayObj* target = ChangeableArray(array);
    const Object* item = Validate(value);
    if (target == nullptr || item == nullptr || index < 0 || static_cast<size_t>(index) > target->m_items.size())
      return;
    target->m_items.insert(target->m_items.begin() + index, const_cast<Object*>(item));
    Retain(item);
  });
}

MD_EXPORT CFMutableArrayRef HLXCFArrayCreateMutableCopy(CFArrayRef array) {
  return Guarded<CFMutableArrayRef>(nullptr, [&]() -> CFMutableArrayRef {
    const ArrayObj* valid = As<ArrayObj>(array);
    if (valid == nullptr) return nullptr;
    return reinterpret_cast<CFMutableArrayRef>(MutableDeepCopy(valid).Leak());
  });
}

}  // extern "C"
