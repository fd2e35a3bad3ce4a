#pragma once
// The header sort of the list pages: records are compared by one column's key with an unstable sort, and a
// descending sort is the ascending comparison turned round. Text comparisons are passed in, so that the
// pages use the system's case-insensitive comparison and the native tests a portable one. No windows.h;
// no state.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace pages {

// Every character folded with towlower (the search's folding).
std::wstring FoldLower(std::wstring text);
// True when `foldedQuery` is a substring of `text` folded with towlower.
bool ContainsFolded(const std::wstring& text, const std::wstring& foldedQuery);

// Negative, zero or positive, as wcscmp.
using TextCompare = int (*)(const wchar_t* first, const wchar_t* second);

// Case-insensitive: both folded with towlower, then code-unit order.
int CompareNoCase(const wchar_t* first, const wchar_t* second);
// Code-unit order (ordinal).
int CompareOrdinal(const wchar_t* first, const wchar_t* second);

inline int CompareNumbers(int64_t first, int64_t second) { return first < second ? -1 : (first > second ? 1 : 0); }

// Sorts `records` by `compare(a, b)` (an int as wcscmp), ascending or descending.
template <typename Record, typename Compare>
void SortRecordsBy(std::vector<Record*>& records, bool ascending, Compare compare) {
    std::sort(records.begin(), records.end(), [&](const Record* a, const Record* b) {
        const int order = compare(*a, *b);
        return ascending ? order < 0 : order > 0;
    });
}

}  // namespace pages
