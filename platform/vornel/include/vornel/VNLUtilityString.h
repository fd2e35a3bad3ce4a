#pragma once
// Text services of the base library: UTF-8 / UTF-16 / ANSI conversion (the one place the desktop converts),
// wide formatting and dotted version comparison. Every returned string is a new heap copy (malloc) that
// the caller frees with VNLUtilityString::Free or free. Thread-safe; no state.

#include "vornel_export.h"

class VNL_API VNLUtilityString {
public:
    // Null or invalid input never fails: null gives "", invalid sequences become U+FFFD (or '?' in ANSI).
    static wchar_t* ConvertUtf8ToUnicode(const char* utf8);
    static char* ConvertUnicodeToUtf8(const wchar_t* text);
    static char* ConvertUtf8ToAnsi(const char* utf8);
    // printf formatting of the system runtime: %s takes a wide string. Null format gives "".
    static wchar_t* Format(const wchar_t* format, ...);
    // -1 when `first` is lower than `second`, 1 when higher, 0 when equal (see vnl_version.h).
    static int CompareVersion(const char* first, const char* second);
    static void Free(void* text);
};
