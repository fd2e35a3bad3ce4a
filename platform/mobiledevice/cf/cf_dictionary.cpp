// Dictionaries: keys compared by value (strings by content, numbers by value), keys and values
// retained, entries kept in insertion order for iteration and for the binary writer (the XML writer
// sorts on its own). Immutable dictionaries refuse changes as arrays do (cf_array.cpp).
//
// Threads: any for reading; a mutable dictionary must not be changed while another thread uses it.
// A key must not change after insertion (a mutable container used as a key would lose its slot).
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cstdio>
#include <cstdlib>

namespace hlx::cf {
namespace {

DictionaryObj* ChangeableDictionary(CFTypeRef pointer) noexcept {
  DictionaryObj* dictionary = AsMutable<DictionaryObj>(pointer);
  if (dictionary != nullptr && !dictionary->m_mutable) {
    if (IsStrict()) {
      std::fprintf(stderr, "CoreFoundation strict mode: change to an immutable dictionary (%p)\n", pointer);
      std::abort();
    }
    return nullptr;
  }
  return dictionary;
}

}  // namespace

DictionaryObj::~DictionaryObj() {
  m_index.clear();
  for (auto& [key, value] : m_entries) {
    Release(key);
    Release(value);
  }
}

Ref<DictionaryObj> NewDictionary(bool isMutable) {
  auto* dictionary = new DictionaryObj(isMutable);
  NoteCreated();
  return Ref<DictionaryObj>::Adopt(dictionary);
}

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);
// Up to this many entries a dictionary has no index: a search in place is as fast, and the index of
// every small record of a large parsed list would outweigh the records themselves.
constexpr size_t kMaxUnindexedEntries = 8;

// The position of `key` in the entries, or kNotFound. The index is either empty or covers every entry.
size_t FindEntry(const DictionaryObj* dictionary, const Object* key) noexcept {
  if (dictionary->m_index.empty()) {
    for (size_t i = 0; i < dictionary->m_entries.size(); ++i) {
      if (KeysEqual(dictionary->m_entries[i].first, key)) return i;
    }
    return kNotFound;
  }
  auto found = dictionary->m_index.find(key);
  return found == dictionary->m_index.end() ? kNotFound : found->second;
}

// Indexes the entry just appended, or every entry once the dictionary outgrows the search in place.
void IndexNewEntry(DictionaryObj* dictionary) {
  const size_t count = dictionary->m_entries.size();
  if (!dictionary->m_index.empty()) {
    dictionary->m_index.emplace(dictionary->m_entries.back().first, count - 1);
  } else if (count > kMaxUnindexedEntries) {
    dictionary->m_index.reserve(count);
    for (size_t i = 0; i < count; ++i) dictionary->m_index.emplace(dictionary->m_entries[i].first, i);
  }
}

}  // namespace

void DictionarySet(DictionaryObj* dictionary, const Object* key, const Object* value, bool replace) {
  const size_t position = FindEntry(dictionary, key);
  if (position != kNotFound) {
    if (!replace) return;
    Object*& slot = dictionary->m_entries[position].second;
    Retain(value);
    Release(std::exchange(slot, const_cast<Object*>(value)));
    return;
  }
  dictionary->m_entries.emplace_back(const_cast<Object*>(key), const_cast<Object*>(value));
  try {
    IndexNewEntry(dictionary);
  } catch (...) {
    dictionary->m_index.clear();  // an empty index is always right: searches go through the entries
    dictionary->m_entries.pop_back();
    throw;
  }
  Retain(key);
  Retain(value);
}

const Object* DictionaryGet(const DictionaryObj* dictionary, const Object* key) noexcept {
  if (key == nullptr) return nullptr;
  const size_t position = FindEntry(dictionary, key);
  return position == kNotFound ? nullptr : dictionary->m_entries[position].second;
}

bool DictionaryRemove(DictionaryObj* dictionary, const Object* key) {
  const size_t position = FindEntry(dictionary, key);
  if (position == kNotFound) return false;
  auto [removedKey, removedValue] = dictionary->m_entries[position];
  if (!dictionary->m_index.empty()) {
    dictionary->m_index.erase(removedKey);
    for (auto& [indexedKey, indexedPosition] : dictionary->m_index) {
      if (indexedPosition > position) --indexedPosition;
    }
  }
  dictionary->m_entries.erase(dictionary->m_entries.begin() + static_cast<std::ptrdiff_t>(position));
  Release(removedKey);
  Release(removedValue);
  return true;
}

}  // namespace hlx::cf

using namespace hlx::cf;

extern "C" {

MD_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity, const void*, const void*) {
  // Callbacks are ignored: members are always retained, which is what the type callbacks ask for and
  // what every caller of this library expects. The capacity is a hint only.
  return Guarded<CFMutableDictionaryRef>(nullptr, [&]() -> CFMutableDictionaryRef {
    if (capacity < 0) return nullptr;
    return reinterpret_cast<CFMutableDictionaryRef>(NewDictionary(true).Leak());
  });
}

MD_EXPORT CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                             const void*, const void*) {
  return Guarded<CFDictionaryRef>(nullptr, [&]() -> CFDictionaryRef {
    if (count < 0 || (count > 0 && (keys == nullptr || values == nullptr))) return nullptr;
    auto dictionary = NewDictionary(false);
    for (CFIndex i = 0; i < count; ++i) {
      const Object* key = Validate(keys[i]);
      const Object* value = Validate(values[i]);
      if (key == nullptr || value == nullptr) return nullptr;
      DictionarySet(dictionary.Get(), key, value, true);
    }
    return reinterpret_cast<CFDictionaryRef>(dictionary.Leak());
  });
}

MD_EXPORT void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
  GuardedVoid([&] {
    DictionaryObj* target = ChangeableDictionary(dictionary);
    const Object* validKey = Validate(key);
    const Object* validValue = Validate(value);
    if (target == nullptr || validKey == nullptr || validValue == nullptr) return;
    DictionarySet(target, validKey, validValue, false);
  });
}

MD_EXPORT void HLXCFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
  GuardedVoid([&] {
    DictionaryObj* target = ChangeableDictionary(dictionary);
    const Object* validKey = Validate(key);
    const Object* validValue = Validate(value);
    if (target == nullptr || validKey == nullptr || validValue == nullptr) return;
    DictionarySet(target, validKey, validValue, true);
  });
}

MD_EXPORT void HLXCFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key) {
  GuardedVoid([&] {
    DictionaryObj* target = ChangeableDictionary(dictionary);
    const Object* validKey = Validate(key);
    if (target == nullptr || validKey == nullptr) return;
    DictionaryRemove(target, validKey);
  });
}

MD_EXPORT const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key) {
  const DictionaryObj* valid = As<DictionaryObj>(dictionary);
  if (valid == nullptr) return nullptr;
  return DictionaryGet(valid, Validate(key));
}

MD_EXPORT Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key) {
  return CFDictionaryGetValue(dictionary, key) != nullptr ? 1 : 0;
}

MD_EXPORT Boolean CFDictionaryContainsValue(CFDictionaryRef dictionary, const void* value) {
  const DictionaryObj* valid = As<DictionaryObj>(dictionary);
  const Object* wanted = Validate(value);
  if (valid == nullptr || wanted == nullptr) return 0;
  for (const auto& entry : valid->m_entries) {
    if (Equal(entry.second, wanted)) return 1;
  }
  return 0;
}

MD_EXPORT CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) {
  const DictionaryObj* valid = As<DictionaryObj>(dictionary);
  return valid == nullptr ? 0 : static_cast<CFIndex>(valid->m_entries.size());
}

MD_EXPORT void CFDictionaryGetKeysAndValues(CFDictionaryRef dictionary, const void** keys, const void** values) {
  const DictionaryObj* valid = As<DictionaryObj>(dictionary);
  if (valid == nullptr) return;
  for (size_t i = 0; i < valid->m_entries.size(); ++i) {
    if (keys != nullptr) keys[i] = valid->m_entries[i].first;
    if (values != nullptr) values[i] = valid->m_entries[i].second;
  }
}

// The applier sees the entries as they were when the call began, each held by a reference for the
// duration, so an applier that changes the dictionary cannot pull an entry out from under the walk.
MD_EXPORT void CFDictionaryApplyFunction(CFDictionaryRef dictionary, CFDictionaryApplierFunction applier, void* context) {
  GuardedVoid([&] {
    const DictionaryObj* valid = As<DictionaryObj>(dictionary);
    if (valid == nullptr || applier == nullptr) return;
    std::vector<std::pair<Ref<Object>, Ref<Object>>> snapshot;
    snapshot.reserve(valid->m_entries.size());
    for (const auto& [key, value] : valid->m_entries) {
      snapshot.emplace_back(Ref<Object>::Share(key), Ref<Object>::Share(value));
    }
    for (const auto& [key, value] : snapshot) applier(key.Get(), value.Get(), context);
  });
}

MD_EXPORT CFMutableDictionaryRef HLXCFDictionaryCreateMutableCopy(CFDictionaryRef dictionary) {
  return Guarded<CFMutableDictionaryRef>(nullptr, [&]() -> CFMutableDictionaryRef {
    const DictionaryObj* valid = As<DictionaryObj>(dictionary);
    if (valid == nullptr) return nullptr;
    return reinterpret_cast<CFMutableDictionaryRef>(MutableDeepCopy(valid).Leak());
  });
}

}  // extern "C"
