// Strings: creation from C text and UTF-8 bytes, the interned constant strings, length in UTF-16
// units and copying out as ASCII or UTF-8. Text is held as validated UTF-8; the UTF-16 length is
// counted once at creation because callers size buffers from it.
//
// Threads: any. The interning table has its own mutex; strings themselves are immutable.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"
#include "cf/cf_text.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace cf {
namespace {

// A new string holding a NUL-terminated copy of `utf8` in the same allocation, right after the object:
// one allocation a string rather than two (a large parsed list holds some hundred thousand strings).
// cf_object.cpp frees the block as one.
StringObj* MakeString(std::string_view utf8, size_t utf16Length, bool isAscii, bool immortal) {
  void* block = ::operator new(sizeof(StringObj) + utf8.size() + 1);
  char* bytes = static_cast<char*>(block) + sizeof(StringObj);
  if (!utf8.empty()) std::memcpy(bytes, utf8.data(), utf8.size());
  bytes[utf8.size()] = '\0';
  auto* string = new (block) StringObj(bytes, utf8.size(), utf16Length, isAscii, immortal);
  if (!immortal) NoteCreated();
  return string;
}

// Interned strings live until the process ends: callers treat them as constants and may hand them out
// on any thread without counting references.
struct InternTable {
  std::mutex mutex;
  // guards: strings
  std::unordered_map<std::string, const StringObj*> strings;
};

InternTable& Interned() {
  static InternTable* table = new InternTable();  // never destroyed: strings outlive static destructors
  return *table;
}

}  // namespace

Ref<StringObj> NewString(std::string_view utf8) {
  size_t utf16Length = 0;
  bool isAscii = true;
  if (!InspectUtf8(utf8, &utf16Length, &isAscii)) return {};
  return Ref<StringObj>::Adopt(MakeString(utf8, utf16Length, isAscii, false));
}

Ref<StringObj> NewStringFromValidUtf8(std::string utf8) {
  size_t utf16Length = 0;
  bool isAscii = true;
  InspectUtf8(utf8, &utf16Length, &isAscii);
  return Ref<StringObj>::Adopt(MakeString(utf8, utf16Length, isAscii, false));
}

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFStringRef __CFStringMakeConstantString(const char* text) {
  return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
    if (text == nullptr) return nullptr;
    const std::string_view view(text);
    size_t utf16Length = 0;
    bool isAscii = true;
    if (!InspectUtf8(view, &utf16Length, &isAscii)) return nullptr;
    InternTable& table = Interned();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.strings.find(std::string(view));
    if (found != table.strings.end()) return reinterpret_cast<CFStringRef>(found->second);
    const StringObj* string = MakeString(view, utf16Length, isAscii, true);
    table.strings.emplace(std::string(view), string);
    return reinterpret_cast<CFStringRef>(string);
  });
}

MD_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
  return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
    if (text == nullptr) return nullptr;
    if (encoding != kCFStringEncodingASCII && encoding != kCFStringEncodingUTF8) return nullptr;
    Ref<StringObj> string = NewString(text);
    if (!string || (encoding == kCFStringEncodingASCII && !string->m_isAscii)) return nullptr;
    return reinterpret_cast<CFStringRef>(string.Leak());
  });
}

MD_EXPORT CFStringRef HLXCFStringCreateWithUTF8(const char* bytes, size_t length) {
  return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
    if (bytes == nullptr && length != 0) return nullptr;
    return reinterpret_cast<CFStringRef>(NewString(std::string_view(bytes == nullptr ? "" : bytes, length)).Leak());
  });
}

MD_EXPORT CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef string) {
  // Strings are immutable, so the copy is the same object with one more reference.
  const StringObj* valid = As<StringObj>(string);
  Retain(valid);
  return reinterpret_cast<CFStringRef>(valid);
}

MD_EXPORT CFIndex CFStringGetLength(CFStringRef string) {
  const StringObj* valid = As<StringObj>(string);
  return valid == nullptr ? 0 : static_cast<CFIndex>(valid->m_utf16Length);
}

// bufferSize counts the terminating NUL. On failure the buffer holds an empty text (when it has room
// for one), so a caller that prints it regardless sees nothing rather than stale bytes.
MD_EXPORT Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (buffer == nullptr || bufferSize <= 0) return 0;
  buffer[0] = '\0';
  const StringObj* valid = As<StringObj>(string);
  if (valid == nullptr) return 0;
  if (encoding != kCFStringEncodingASCII && encoding != kCFStringEncodingUTF8) return 0;
  if (encoding == kCFStringEncodingASCII && !valid->m_isAscii) return 0;
  if (valid->m_size >= static_cast<size_t>(bufferSize)) return 0;
  std::memcpy(buffer, valid->m_bytes, valid->m_size);
  buffer[valid->m_size] = '\0';
  return 1;
}

MD_EXPORT const char* HLXCFStringGetUTF8(CFStringRef string, size_t* length) {
  const StringObj* valid = As<StringObj>(string);
  if (valid == nullptr) return nullptr;
  if (length != nullptr) *length = valid->m_size;
  return valid->m_bytes;
}

}  // extern "C"
