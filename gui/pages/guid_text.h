#pragma once
// The text of a new identifier (a new contact group's, a new bookmark's): a GUID written as
// "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X" (the third group in lower case, the others upper case).
// No state; any thread.

#include <cstdint>
#include <string>

namespace pages {

std::string FormatGuidText(uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t (&data4)[8]);

#ifdef _WIN32
// A new GUID as that text; empty when the system has none to give.
std::string NewGuidText();
#endif

}  // namespace pages
