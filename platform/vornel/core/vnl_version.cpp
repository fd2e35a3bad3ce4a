// Dotted version comparison; see vnl_version.h.
#include "vnl_version.h"

#include <cstdint>

namespace vnl {
namespace {

// Reads one part and moves past its dot. Parts above 2^31 are clamped: versions are never that large, and
// clamping keeps a hostile string from overflowing.
uint32_t NextPart(const char*& p) {
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
        ++p;
    }
    while (*p != '\0' && *p != '.') ++p;
    if (*p == '.') ++p;
    return static_cast<uint32_t>(value);
}

}  // namespace

int CompareDottedVersions(const char* a, const char* b) {
    const char* pa = a ? a : "";
    const char* pb = b ? b : "";
    while (*pa != '\0' || *pb != '\0') {
        const uint32_t x = NextPart(pa);
        const uint32_t y = NextPart(pb);
        if (x < y) return -1;
        if (x > y) return 1;
    }
    return 0;
}

}  // namespace vnl
