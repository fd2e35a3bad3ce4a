// A new identifier's text from the system's GUIDs; see guid_text.h.
#include <windows.h>
#include <objbase.h>

#include "guid_text.h"

namespace pages {

std::string NewGuidText() {
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) return std::string();
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = guid.Data4[i];
    return FormatGuidText(guid.Data1, guid.Data2, guid.Data3, tail);
}

}  // namespace pages
