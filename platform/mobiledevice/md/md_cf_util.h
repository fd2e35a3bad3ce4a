// CoreFoundation helpers for the MobileDevice half: ownership wrappers and UTF-8 conversion of the
// CF strings that callers hand in (service names, lockdown domains and keys). Uses only the
// CoreFoundation library's exports (mobiledevice.h and cf/cf_internal.h).
// Threads: any.
#pragma once

#include "cf/cf_internal.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct MDCFReleaser {
  void operator()(const void* object) const {
    if (object != nullptr) CFRelease(object);
  }
};
// Owns one reference of a CF object.
using MDCFPtr = std::unique_ptr<const void, MDCFReleaser>;

// Shares one reference between threads (a cached parse result that readers keep while the cache
// moves on); the last holder releases it.
inline std::shared_ptr<const void> MDCFShare(CFTypeRef owned) {
  return std::shared_ptr<const void>(owned, MDCFReleaser());
}

// The UTF-8 text of a CF string; false for null, a non-string or a string that does not convert.
[[nodiscard]] bool MDCFStringToUtf8(CFTypeRef string, std::string* text);

// A new CF string of UTF-8 text (null when the text is not UTF-8).
MDCFPtr MDCFStringCreate(const std::string& text);

// The entries of a dictionary whose keys are strings, in byte order of the keys; entries with other
// keys are left out. The values are the dictionary's, not retained.
std::vector<std::pair<std::string, CFTypeRef>> MDCFSortedEntries(CFDictionaryRef dictionary);
