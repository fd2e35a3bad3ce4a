// Size texts; see vnl_size_text.h.
#include "vnl_size_text.h"

#include <cstdio>

namespace vnl {

std::wstring FormatByteSize(uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_wstring(bytes) + L" B";
    }
    static const wchar_t* const kUnits[] = {L"KB", L"MB", L"GB", L"TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        value /= 1024.0;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%.2f ", value);
    std::string narrow(text);
    return std::wstring(narrow.begin(), narrow.end()) + kUnits[unit];
}

}  // namespace vnl
