#pragma once
// Dotted version comparison ("2.6.21" against "2.10"), shared by the base library's CompareVersion. Pure
// function, any thread.

namespace vnl {

// -1 when `a` is lower than `b`, 1 when higher, 0 when equal. Each dot-separated part counts by the number
// its leading digits form (none: 0); missing parts count as 0, so "2.6" equals "2.6.0". Null is "".
int CompareDottedVersions(const char* a, const char* b);

}  // namespace vnl
