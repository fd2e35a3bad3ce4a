// Script files, sorted-key messages and framing of the simulated services (see md_service_message.h).
// Threads: any.
#include "md/md_service_message.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "md/md_base.h"

namespace {

// Device messages nest a handful of levels; the limit only keeps a hostile script file from
// exhausting the device thread's stack.
constexpr int kMaxMessageDepth = 64;

// A list whose dictionaries were filled in key order (the binary writer keeps insertion order).
// A container whose dictionaries are all in key order already (a record parsed from a file written
// with sorted keys) is kept as it is, with one more reference, the first time it is met; the others
// are copies. A container met again is copied again, as the writer writes a container object once
// however often it is referenced and the copies keep each occurrence its own. `kept` holds the
// containers kept so far. Null when a key is not a string or the nesting is too deep.
MDCFPtr SortedCopy(CFTypeRef value, int depth, std::unordered_set<CFTypeRef>* kept) {
  if (value == nullptr || depth > kMaxMessageDepth) return nullptr;
  const CFTypeID type = CFGetTypeID(value);
  if (type == kHLXCFDictionaryTypeID) {
    auto dictionary = static_cast<CFDictionaryRef>(value);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    std::vector<std::pair<std::string_view, size_t>> order;
    order.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == nullptr || CFGetTypeID(keys[i]) != kHLXCFStringTypeID) return nullptr;
      size_t length = 0;
      const char* text = HLXCFStringGetUTF8(static_cast<CFStringRef>(keys[i]), &length);
      if (text == nullptr) return nullptr;
      order.emplace_back(std::string_view(text, length), i);
    }
    // string_view compares as unsigned bytes: UTF-8 in code-point order.
    bool unchanged = std::is_sorted(order.begin(), order.end());
    if (!unchanged) std::sort(order.begin(), order.end());
    std::vector<MDCFPtr> children;
    children.reserve(order.size());
    for (const auto& [key, index] : order) {
      children.push_back(SortedCopy(values[index], depth + 1, kept));
      if (!children.back()) return nullptr;
      unchanged = unchanged && children.back().get() == values[index];
    }
    if (unchanged && kept->insert(value).second) return MDCFPtr(CFRetain(value));
    MDCFPtr copy(CFDictionaryCreateMutable(nullptr, count, nullptr, nullptr));
    if (!copy) return nullptr;
    auto mutableCopy = static_cast<CFMutableDictionaryRef>(const_cast<void*>(copy.get()));
    for (size_t i = 0; i < order.size(); ++i)
      HLXCFDictionarySetValue(mutableCopy, keys[order[i].second], children[i].get());
    return copy;
  }
  if (type == kHLXCFArrayTypeID) {
    auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    std::vector<MDCFPtr> children;
    children.reserve(static_cast<size_t>(count));
    bool unchanged = true;
    for (CFIndex i = 0; i < count; ++i) {
      const CFTypeRef element = CFArrayGetValueAtIndex(array, i);
      children.push_back(SortedCopy(element, depth + 1, kept));
      if (!children.back()) return nullptr;
      unchanged = unchanged && children.back().get() == element;
    }
    if (unchanged && kept->insert(value).second) return MDCFPtr(CFRetain(value));
    MDCFPtr copy(CFArrayCreateMutable(nullptr, count, nullptr));
    if (!copy) return nullptr;
    auto mutableCopy = static_cast<CFMutableArrayRef>(const_cast<void*>(copy.get()));
    for (const MDCFPtr& child : children) CFArrayAppendValue(mutableCopy, child.get());
    return copy;
  }
  return MDCFPtr(CFRetain(value));
}

}  // namespace

MDCFPtr MDLoadImagePlist(const std::string& imageFolder, const char* name) {
  std::string bytes;
  if (MDReadFile(imageFolder + "/" + name, kMDMaxServiceScriptBytes, &bytes) != 0) return nullptr;
  return MDCFPtr(HLXCFPropertyListCreateFromBytes(bytes.data(), bytes.size(), kCFPropertyListImmutable, nullptr));
}

bool MDSerializeSortedBinary(CFTypeRef list, std::string* out) {
  std::unordered_set<CFTypeRef> kept;
  MDCFPtr sorted = SortedCopy(list, 0, &kept);
  if (!sorted) return false;
  MDCFPtr data(HLXCFPropertyListCreateData(sorted.get(), kCFPropertyListBinaryFormat_v1_0));
  if (!data) return false;
  auto dataRef = static_cast<CFDataRef>(data.get());
  out->assign(reinterpret_cast<const char*>(CFDataGetBytePtr(dataRef)), static_cast<size_t>(CFDataGetLength(dataRef)));
  return true;
}

MDCFPtr MDParseMessage(const std::string& body) {
  return MDCFPtr(HLXCFPropertyListCreateFromBytes(body.data(), body.size(), kCFPropertyListImmutable, nullptr));
}

CFTypeRef MDDictionaryValue(CFTypeRef dictionary, const char* key) {
  if (dictionary == nullptr || CFGetTypeID(dictionary) != kHLXCFDictionaryTypeID) return nullptr;
  MDCFPtr keyString = MDCFStringCreate(key);
  if (!keyString) return nullptr;
  return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), keyString.get());
}

bool MDDictionarySet(CFTypeRef dictionary, const char* key, CFTypeRef value) {
  MDCFPtr keyString = MDCFStringCreate(key);
  if (!keyString || value == nullptr) return false;
  HLXCFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(dictionary)), keyString.get(), value);
  return true;
}

bool MDDictionaryText(CFTypeRef dictionary, const char* key, std::string* text) {
  return MDCFStringToUtf8(MDDictionaryValue(dictionary, key), text);
}

bool MDReadFrame(MDDeviceStream* stream, MDFrameOrder order, size_t maxBytes, std::string* body) {
  unsigned char word[4];
  if (!stream->ReadExact(word, sizeof word)) return false;
  const uint32_t length =
      order == MDFrameOrder::kBigEndian
          ? (uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) | (uint32_t{word[2]} << 8) | word[3]
          : (uint32_t{word[3]} << 24) | (uint32_t{word[2]} << 16) | (uint32_t{word[1]} << 8) | word[0];
  if (length > maxBytes) return false;
  body->assign(length, '\0');
  return length == 0 || stream->ReadExact(&(*body)[0], length);
}

bool MDWriteLengthWord(MDDeviceStream* stream, MDFrameOrder order, uint32_t length) {
  unsigned char word[4];
  for (int i = 0; i < 4; ++i) {
    const int shift = order == MDFrameOrder::kBigEndian ? 8 * (3 - i) : 8 * i;
    word[i] = static_cast<unsigned char>(length >> shift);
  }
  return stream->WriteAll(word, sizeof word);
}

bool MDWriteFrame(MDDeviceStream* stream, MDFrameOrder order, const std::string& body) {
  if (body.size() > UINT32_MAX) return false;
  return MDWriteLengthWord(stream, order, static_cast<uint32_t>(body.size())) &&
         (body.empty() || stream->WriteAll(body.data(), body.size()));
}
