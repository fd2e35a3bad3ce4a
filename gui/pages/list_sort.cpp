// The list pages' sort comparisons; see list_sort.h.
#include "list_sort.h"

#include <cwctype>

namespace pages {

std::wstring FoldLower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

bool ContainsFolded(const std::wstring& text, const std::wstring& foldedQuery) {
    return FoldLower(text).find(foldedQuery) != std::wstring::npos;
}

int CompareNoCase(const wchar_t* first, const wchar_t* second) {
    for (;; ++first, ++second) {
        const wint_t a = std::towlower(static_cast<wint_t>(*first));
        const wint_t b = std::towlower(static_cast<wint_t>(*second));
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

int CompareOrdinal(const wchar_t* first, const wchar_t* second) {
    for (;; ++first, ++second) {
        if (*first != *second) return static_cast<unsigned>(*first) < static_cast<unsigned>(*second) ? -1 : 1;
        if (*first == 0) return 0;
    }
}

}  // namespace pages
