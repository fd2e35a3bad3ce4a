// Dotted version texts ("9.3.1"): comparison and the order in which schemas of iOS majors are
// tried. No state; any thread.
#pragma once

#include <vector>

namespace hlx {

// version: the device's own major (or the largest known below it) first, then the larger majors
// ascending, then the smaller ones descending. "9.3" gives 9, 10, 8, 7, 6, 5, 4; below 4 (and null)
// gives 4..10; from 10 on gives 10..4. A version of major 4 gives 4 first (4, 5, ..., 10), by that
// same rule.
std::vector<int> OrderMajorVersionsFor(const char* version);

}  // namespace hlx
