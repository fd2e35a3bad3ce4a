// Text services of the base library; see VNLUtilityString.h. No state; any thread.
#include "vornel/VNLUtilityString.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "heap_text.h"
#include "vnl_utf8.h"
#include "vnl_version.h"

namespace {

template <typename Char>
Char* EmptyCopy() {
    return static_cast<Char*>(std::calloc(1, sizeof(Char)));
}

// The system code page: characters it lacks become its default character.
char* ToAnsi(const wchar_t* text) {
    if (text == nullptr) return EmptyCopy<char>();
    const int count = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return EmptyCopy<char>();
    auto* out = static_cast<char*>(std::malloc(static_cast<size_t>(count)));
    if (out == nullptr) return nullptr;
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, out, count, nullptr, nullptr) <= 0) out[0] = '\0';
    return out;
}

}  // namespace

wchar_t* VNLUtilityString::ConvertUtf8ToUnicode(const char* utf8) {
    return utf8 == nullptr ? EmptyCopy<wchar_t>() : vnl::HeapCopy(vnl::WideFromUtf8(utf8));
}

char* VNLUtilityString::ConvertUnicodeToUtf8(const wchar_t* text) {
    return text == nullptr ? EmptyCopy<char>() : vnl::HeapCopy(vnl::Utf8FromWide(text));
}

char* VNLUtilityString::ConvertUtf8ToAnsi(const char* utf8) {
    const std::wstring wide = vnl::WideFromUtf8(utf8 == nullptr ? "" : utf8);
    return ToAnsi(wide.c_str());
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
