#pragma once
// The base library's one way of handing out strings: a malloc'd, terminated copy that the caller frees
// with VNLUtilityString::Free or free. Null when memory runs out.

#include <cstdlib>
#include <cstring>
#include <string>

namespace vnl {

template <typename Char>
Char* HeapCopy(const std::basic_string<Char>& text) {
    auto* out = static_cast<Char*>(std::malloc(sizeof(Char) * (text.size() + 1)));
    if (out != nullptr) {
        std::memcpy(out, text.c_str(), sizeof(Char) * (text.size() + 1));
    }
    return out;
}

inline wchar_t* HeapCopy(const wchar_t* text) { return HeapCopy(std::wstring(text)); }

}  // namespace vnl
