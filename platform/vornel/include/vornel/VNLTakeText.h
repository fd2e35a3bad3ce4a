#pragma once
// Takes a string returned by a base-library operation into a standard string and frees the original, so
// that callers never handle the heap copy by hand. Header-only; any thread.

#include <memory>
#include <string>

#include "VNLUtilityString.h"

inline std::wstring VNLTakeText(wchar_t* text) {
    std::unique_ptr<wchar_t, decltype(&VNLUtilityString::Free)> owner(text, &VNLUtilityString::Free);
    return text != nullptr ? std::wstring(text) : std::wstring();
}

inline std::string VNLTakeText(char* text) {
    std::unique_ptr<char, decltype(&VNLUtilityString::Free)> owner(text, &VNLUtilityString::Free);
    return text != nullptr ? std::string(text) : std::string();
}
