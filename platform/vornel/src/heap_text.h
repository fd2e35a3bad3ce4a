#pragma once
// The base library's one way of handing out strings: a malloc'd, terminated copy that the caller frees
// with VNLUtilityString::Free or free. Null when memory runs out.

#include <cstdlib>
#include <cwchar>
#include <string>

namespace vnl {

inline wchar_t* HeapCopy(const std::wstring& text) {
    auto* out = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (text.size() + 1)));
    if (out != nullptr) {
        wmemcpy(out, text.c_str(), text.size() + 1);
    }
    return out;
}

}  // namespace vnl
