// Deep mutable copies of property-list structures: containers are copied as mutable ones, leaves
// (immutable) are shared. Used by the copy helpers of cf_internal.h and by the property-list reader's
// mutable option.
//
// Threads: any; reads the source only.
#include "cf/cf_object.h"

namespace cf {

Ref<Object> MutableDeepCopy(const Object* object, int depth) {
  if (object == nullptr || depth > kMaxDepth) return {};
  if (object->m_type == TypeId::kArray) {
    auto copy = NewArray(true);
    const auto& items = static_cast<const ArrayObj*>(object)->m_items;
    copy->m_items.reserve(items.size());
    for (const Object* item : items) {
      Ref<Object> element = MutableDeepCopy(item, depth + 1);
      if (!element) return {};
      ArrayAppend(copy.Get(), element.Get());
    }
    return copy;
  }
  if (object->m_type == TypeId::kDictionary) {
    auto copy = NewDictionary(true);
    for (const auto& [key, value] : static_cast<const DictionaryObj*>(object)->m_entries) {
      Ref<Object> element = MutableDeepCopy(value, depth + 1);
      if (!element) return {};
      DictionarySet(copy.Get(), key, element.Get(), true);
    }
    return copy;
  }
  return Ref<Object>::Share(object);
}

}  // namespace cf
