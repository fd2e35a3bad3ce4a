// Text helpers shared by the whole service: UTF-8 <-> UTF-16 conversions, a replace-all on byte
// strings, a no-throw buffer allocation and zlib inflation into a caller's buffer. No state; every
// function is safe to call from any thread at the same time.
//
// Wide text is UTF-16 held in char16_t units (std::u16string), on every platform: wchar_t is 32
// bits on Linux, and the places where UTF-16 shows (lengths and offsets counted in UTF-16 units,
// text that travels to the Windows desktop side) need real UTF-16, surrogate pairs included. "ANSI"
// (the Windows code page) is UTF-8 on this system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace hlx {

// Frees what the *Dup functions and the malloc'ed texts of the utilities return:
//   std::unique_ptr<char, FreeDeleter> text(FormatDuration(61.0));
struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// UTF-8 (NUL-terminated, or null) to a new NUL-terminated UTF-16 string from malloc; the caller
// frees it. Null, and text that is not valid UTF-8 (bad or truncated sequences, overlong forms,
// encoded surrogates, values above U+10FFFF), give a new empty string, never a partial one.
char16_t* Utf8ToWideDup(const char* text);

// UTF-16 (NUL-terminated, or null) to a new NUL-terminated "ANSI" string from malloc. ANSI is UTF-8
// here, so this is WideToUtf8Dup, except that null gives a buffer of two zero bytes.
char* WideToAnsiDup(const char16_t* text);

// UTF-16 (NUL-terminated, or null) to a new NUL-terminated UTF-8 string from malloc; null gives a
// new empty string. An unpaired surrogate becomes U+FFFD, as the Windows converter writes it.
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

// Allocates `count` bytes with new[] without throwing. True with *out set on success; false with
// *out null when the memory is not there. The caller frees with delete[].
[[nodiscard]] bool TryAllocBuffer(uint8_t** out, size_t count);

// Inflates zlib-format data (15-bit window).
//   out == null: measures only; *outLength gets the whole inflated length (outCapacity unused).
//   out != null: writes at most outCapacity bytes; *outLength gets the bytes written.
// Returns 0 (Z_OK) at the end of the stream, or a zlib code:
//   Z_BUF_ERROR (-5)  the output did not fit into outCapacity (its first outCapacity bytes are
//                     written), or the input ended before the end of the stream (truncated data);
//   Z_DATA_ERROR (-3) corrupt data, or a stream that needs a preset dictionary;
//   Z_MEM_ERROR (-4)  no memory; other codes of inflateInit as it returns them.
// Never reads past inLength input bytes; bytes after the end of the stream are ignored. Sizes are
// 64-bit; the input is fed in steps of 16 KiB.
int InflateToBuffer(uint8_t* out, uint64_t outCapacity, const uint8_t* in, uint64_t inLength,
                    uint64_t* outLength);

// Debug trace hook of the original program; it does nothing.
void TracePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hlx
