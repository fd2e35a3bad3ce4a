// Text helpers shared by the whole service, and the one home of UTF-8: validation, UTF-8 <-> UTF-16
// conversions, a replace-all on byte strings, a no-throw buffer allocation, number and size texts.
// No state; every function is safe to call from any thread at the same time.
//
// Wide text is UTF-16 held in char16_t units (std::u16string), on every platform: wchar_t is 32
// bits on Linux, and the places where UTF-16 shows (lengths and offsets counted in UTF-16 units,
// text that travels to the desktop side) need real UTF-16, surrogate pairs included. "ANSI" (the
// desktop's narrow code page) is UTF-8 on this system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace hlx {

// Frees what the *Dup functions and the malloc'ed texts of the utilities return:
//   std::unique_ptr<char, FreeDeleter> text(FormatDuration(61.0));
struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// Whether the bytes are well-formed UTF-8 (no bad or truncated sequences, overlong forms, encoded
// surrogates or values above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The text as valid UTF-8: each maximal ill-formed part (a bad byte, or the start of a sequence cut
// short) becomes U+FFFD, the rest is kept as it is. Texts read from device files need not be UTF-8.
std::string ToValidUtf8(std::string_view text);

// UTF-8 (NUL-terminated, or null) to a new NUL-terminated UTF-16 string from malloc; the caller
// frees it. Null, and text that is not valid UTF-8 (bad or truncated sequences, overlong forms,
// encoded surrogates, values above U+10FFFF), give a new empty string, never a partial one.
char16_t* Utf8ToWideDup(const char* text);

// UTF-16 (NUL-terminated, or null) to a new NUL-terminated "ANSI" string from malloc. ANSI is UTF-8
// here, so this is WideToUtf8Dup, except that null gives a buffer of two zero bytes.
char* WideToAnsiDup(const char16_t* text);

// UTF-16 (NUL-terminated, or null) to a new NUL-terminated UTF-8 string from malloc; null gives a
// new empty string. An unpaired surrogate becomes U+FFFD, so the result is always valid UTF-8.
char* WideToUtf8Dup(const char16_t* text);

// As Utf8ToWideDup, into a std::u16string. The std::string form reads up to its first NUL, as the
// NUL-terminated form does.
std::u16string Utf8ToWide(const char* text);
std::u16string Utf8ToWide(const std::string& text);

// As WideToUtf8Dup, into a std::string; null gives an empty string.
std::string WideToUtf8(const char16_t* text);
std::string WideToUtf8(const std::u16string& text);

// `text` with every occurrence of `from` replaced by `to`, searching on after each inserted `to`
// (so "a" -> "aa" in "aaa" gives six letters). An empty `from` returns the text unchanged.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);

// The text with ASCII letters a-z upper-cased byte by byte; other bytes (UTF-8 sequences too) stay.
std::string ToUpperAscii(std::string_view text);

// Allocates `count` bytes with new[] without throwing. True with *out set on success; false with
// *out null when the memory is not there. The caller frees with delete[].
[[nodiscard]] bool TryAllocBuffer(uint8_t** out, size_t count);

// Reads a number as atoi does (leading blanks, a sign, digits; anything else ends it), clamped to
// the int range instead of atoi's undefined overflow.
int ReadLeadingInt(const char* text);

// "%.2f B" below 1024 bytes, "%.2f KB" below 1024^2, "%.2f MB" below 1024^3, else "%.2f GB".
std::string FormatByteSize(uint64_t byteCount);

}  // namespace hlx
