// Text services of the base library; see VNLUtilityString.h. No state; any thread.
#include "vornel/VNLUtilityString.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "../core/vnl_version.h"

namespace {

template <typename Char>
Char* EmptyCopy() {
    return static_cast<Char*>(std::calloc(1, sizeof(Char)));
}

// MultiByteToWideChar without MB_ERR_INVALID_CHARS replaces invalid sequences by U+FFFD, which is what a
// display string wants; a peer's bad byte must never make the conversion fail.
wchar_t* ToWide(const char* text, UINT codePage) {
    if (text == nullptr) return EmptyCopy<wchar_t>();
    const int count = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (count <= 0) return EmptyCopy<wchar_t>();
    auto* out = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(count)));
    if (out == nullptr) return nullptr;
    if (MultiByteToWideChar(codePage, 0, text, -1, out, count) <= 0) out[0] = L'\0';
    return out;
}

char* ToNarrow(const wchar_t* text, UINT codePage) {
    if (text == nullptr) return EmptyCopy<char>();
    const int count = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return EmptyCopy<char>();
    auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(count)));
    if (out == nullptr) return nullptr;
    if (WideCharToMultiByte(codePage, 0, text, -1, out, count, nullptr, nullptr) <= 0) out[0] = '\0';
    return out;
}

}  // namespace

wchar_t* VNLUtilityString::ConvertUtf8ToUnicode(const char* utf8) { return ToWide(utf8, CP_UTF8); }

char* VNLUtilityString::ConvertUnicodeToUtf8(const wchar_t* text) { return ToNarrow(text, CP_UTF8); }

char* VNLUtilityString::ConvertUtf8ToAnsi(const char* utf8) {
    wchar_t* wide = ToWide(utf8, CP_UTF8);
    if (wide == nullptr) return nullptr;
    char* ansi = ToNarrow(wide, CP_ACP);
    std::free(wide);
    return ansi;
}

wchar_t* VNLUtilityString::Format(const wchar_t* format, ...) {
    if (format == nullptr) return EmptyCopy<wchar_t>();
    va_list args;
    va_start(args, format);
    // The system runtime's counting call, so %s means a wide string as the callers write it.
    const int count = _vscwprintf(format, args);
    va_end(args);
    if (count < 0) return EmptyCopy<wchar_t>();
    auto* out = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (static_cast<size_t>(count) + 1)));
    if (out == nullptr) return nullptr;
    va_start(args, format);
    const int written = _vsnwprintf(out, static_cast<size_t>(count) + 1, format, args);
    va_end(args);
    out[written < 0 ? 0 : count] = L'\0';
    return out;
}

int VNLUtilityString::CompareVersion(const char* first, const char* second) {
    return vnl::CompareDottedVersions(first, second);
}

void VNLUtilityString::Free(void* text) { std::free(text); }
