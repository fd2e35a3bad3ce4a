// Version texts (see hlx_version.h).
#include "utility/hlx_version.h"

#include <climits>
#include <cstring>

#include "utility/hlx_text.h"

namespace hlx {

int CompareVersionStrings(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a != nullptr ? 1 : (b != nullptr ? -1 : 0);
  for (;;) {
    int left = ReadLeadingInt(a);
    int right = ReadLeadingInt(b);
    if (left != right) return left > right ? 1 : -1;
    const char* nextA = std::strchr(a, '.');
    const char* nextB = std::strchr(b, '.');
    if (nextA == nullptr) return nextB != nullptr ? -1 : 0;
    if (nextB == nullptr) return 1;
    a = nextA + 1;
    b = nextB + 1;
  }
}

std::vector<int> OrderMajorVersionsFor(const char* version) {
  static constexpr int kKnownMajors[] = {4, 5, 6, 7, 8, 9, 10};
  // ReadLeadingInt stops at the first '.', so it reads the major.
  int major = version != nullptr ? ReadLeadingInt(version) : INT_MIN;
  std::vector<int> collected;  // known majors up to and including the device's, ascending
  std::vector<int> above;      // known majors above it, ascending
  for (int known : kKnownMajors) (known <= major ? collected : above).push_back(known);
  std::vector<int> order;
  if (!collected.empty()) {
    order.push_back(collected.back());
    collected.pop_back();
  }
  order.insert(order.end(), above.begin(), above.end());
  order.insert(order.end(), collected.rbegin(), collected.rend());
  return order;
}

}  // namespace hlx
