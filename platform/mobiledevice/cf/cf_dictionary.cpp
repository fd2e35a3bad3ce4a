// Dictionaries: keys compared by value (strings by content, numbers by value), keys and values
// retained, entries kept in insertion order for iteration and for the binary writer (the XML writer
// sorts on its own). Immutable dictionaries refuse changes as arrays do (cf_array.cpp).
//
// Threads: any for reading; a mutable dictionary must not be changed while another thread uses it.
// A key must not change after insertion (a mutable container used as a key would lose its slot).
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace cf {
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

Ref<DictionaryObj> NewDictionary(bool isMutable) { return MakeObject<DictionaryObj>(isMutable); }

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);
// Up to this many entries a dictionary has no index: a search in place is as fast, and the index of
// every small record of a large parsed list would outweigh the records themselves.
constexpr size_t kMaxUnindexedEntries = 8;
constexpr size_t kMinIndexSlots = 32;
constexpr uint64_t kPositionMask = 0xFFFFFFFFu;

// The index is open-addressed with linear probing, a power of two in size and at most half full. A
// slot holds a 32-bit tag of the key's hash in its upper half and the entry's position + 1 in its
// lower half; 0 is an empty slot. Slots are placed by the tag alone, so growing the index moves
// words without hashing any key again, and a probe compares keys only when the tags agree.
uint32_t TagOf(const Object* key) noexcept {
  const uint64_t hash = Hash(key);
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

size_t HomeSlot(uint32_t tag, size_t slots) noexcept {
  return static_cast<size_t>((uint64_t{tag} * 0x9E3779B97F4A7C15ull) >> (64 - __builtin_ctzll(slots)));
}

void PlaceWord(std::vector<uint64_t>& index, uint64_t word) noexcept {
  const size_t mask = index.size() - 1;
  size_t slot = HomeSlot(static_cast<uint32_t>(word >> 32), index.size());
  while (index[slot] != 0) slot = (slot + 1) & mask;
  index[slot] = word;
}

uint64_t IndexWord(uint32_t tag, size_t position) noexcept { return (uint64_t{tag} << 32) | (position + 1); }

// The position of `key` in the entries, or kNotFound; *tag receives the key's tag when the
// dictionary is indexed. The index is either empty or covers every entry.
size_t FindEntry(const DictionaryObj* dictionary, const Object* key, uint32_t* tag = nullptr) noexcept {
  const auto& entries = dictionary->m_entries;
  const auto& index = dictionary->m_index;
  if (index.empty()) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (KeysEqual(entries[i].first, key)) return i;
    }
    return kNotFound;
  }
  const uint32_t keyTag = TagOf(key);
  if (tag != nullptr) *tag = keyTag;
  const size_t mask = index.size() - 1;
  for (size_t slot = HomeSlot(keyTag, index.size());; slot = (slot + 1) & mask) {
    const uint64_t word = index[slot];
    if (word == 0) return kNotFound;
    if (static_cast<uint32_t>(word >> 32) != keyTag) continue;
    const size_t position = static_cast<size_t>(word & kPositionMask) - 1;
    if (KeysEqual(entries[position].first, key)) return position;
  }
}

// Indexes the entry just appended (whose key has `tag` when the dictionary is indexed), or every
// entry once the dictionary outgrows the search in place.
void IndexNewEntry(DictionaryObj* dictionary, uint32_t tag) {
  auto& index = dictionary->m_index;
  const size_t count = dictionary->m_entries.size();
  if (count >= kPositionMask) throw std::length_error("dictionary too large");
  if (!index.empty()) {
    if (count * 2 > index.size()) {
      std::vector<uint64_t> grown(index.size() * 2);
      for (const uint64_t word : index) {
        if (word != 0) PlaceWord(grown, word);
      }
      index.swap(grown);
    }
    PlaceWord(index, IndexWord(tag, count - 1));
  } else if (count > kMaxUnindexedEntries) {
    size_t slots = kMinIndexSlots;
    while (slots < count * 2) slots *= 2;
    index.assign(slots, 0);
    for (size_t i = 0; i < count; ++i) PlaceWord(index, IndexWord(TagOf(dictionary->m_entries[i].first), i));
  }
}

}  // namespace

void DictionarySet(DictionaryObj* dictionary, const Object* key, const Object* value, bool replace) {
  uint32_t tag = 0;
  const size_t position = FindEntry(dictionary, key, &tag);
  if (position != kNotFound) {
    if (!replace) return;
    Object*& slot = dictionary->m_entries[position].second;
    Retain(value);
    Release(std::exchange(slot, const_cast<Object*>(value)));
    return;
  }
  dictionary->m_entries.emplace_back(const_cast<Object*>(key), const_cast<Object*>(value));
  try {
    IndexNewEntry(dictionary, tag);
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
  auto& index = dictionary->m_index;
  if (!index.empty()) {
    // Placed again without the removed entry, later positions one lower.
    std::vector<uint64_t> rebuilt(index.size());
    for (const uint64_t word : index) {
      if (word == 0) continue;
      const size_t indexed = static_cast<size_t>(word & kPositionMask) - 1;
      if (indexed == position) continue;
      PlaceWord(rebuilt, indexed > position ? word - 1 : word);
    }
    index.swap(rebuilt);
  }
  dictionary->m_entries.erase(dictionary->m_entries.begin() + static_cast<std::ptrdiff_t>(position));
  Release(removedKey);
  Release(removedValue);
  return true;
}

}  // namespace cf

using namespace cf;

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
MD_EXPORT void CFDictionaryApplyFunction(CFDictionaryRef dictionary, CFDictionaryApplierFunction applier,
                                         void* context) {
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
