// CF helpers (see md_cf_util.h). Threads: any.
#include "md/md_cf_util.h"

#include <algorithm>

bool MDCFStringToUtf8(CFTypeRef string, std::string* text) {
  if (string == nullptr || CFGetTypeID(string) != kHLXCFStringTypeID) return false;
  size_t length = 0;
  const char* bytes = HLXCFStringGetUTF8(static_cast<CFStringRef>(string), &length);
  if (bytes == nullptr) return false;
  text->assign(bytes, length);
  return true;
}

MDCFPtr MDCFStringCreate(const std::string& text) {
  return MDCFPtr(HLXCFStringCreateWithUTF8(text.data(), text.size()));
}

std::vector<std::pair<std::string, CFTypeRef>> MDCFSortedEntries(CFDictionaryRef dictionary) {
  const CFIndex count = CFDictionaryGetCount(dictionary);
  std::vector<const void*> keys(static_cast<size_t>(count));
  std::vector<const void*> values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  std::vector<std::pair<std::string, CFTypeRef>> entries;
  entries.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string key;
    if (MDCFStringToUtf8(keys[i], &key)) entries.emplace_back(std::move(key), values[i]);
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return entries;
}
