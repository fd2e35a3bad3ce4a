// The text of a new identifier; see guid_text.h.
#include "guid_text.h"

#include <cstdio>

namespace pages {

std::string FormatGuidText(uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t (&d)[8]) {
    char text[40] = {};
    std::snprintf(text, sizeof(text), "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(data1),
                  static_cast<unsigned>(data2), static_cast<unsigned>(data3), d[0], d[1], d[2], d[3], d[4], d[5], d[6],
                  d[7]);
    return text;
}

}  // namespace pages
