// The property-list codecs: XML and binary ("bplist00") readers and writers over byte strings. They
// know nothing of streams or the exported C functions (cf_propertylist.cpp); they build and walk the
// objects of cf_object.h.
//
// Readers treat their input as untrusted: every length, offset, reference and nesting level is checked
// against the input and against kMaxDepth before use, and a malformed input yields a null result with
// a short reason, never a partial tree. Writers refuse what a property list cannot hold (keys that are
// not strings, URLs, streams, cycles, nesting beyond kMaxDepth).
//
// Threads: any; each call works on its own state.
#pragma once

#include "cf/cf_object.h"

#include <string>
#include <string_view>

namespace cf {

inline constexpr std::string_view kBinaryPlistMagic = "bplist00";

// `mutableContainers` makes every array and dictionary of the result mutable.
Ref<Object> ParseXmlPlist(std::string_view text, bool mutableContainers, std::string* error);
Ref<Object> ParseBinaryPlist(std::string_view bytes, bool mutableContainers, std::string* error);

// Appends the serialised list to `out`; on failure `out` may hold a partial document.
bool WriteXmlPlist(const Object* root, std::string& out, std::string* error);
bool WriteBinaryPlist(const Object* root, std::string& out, std::string* error);

}  // namespace cf
