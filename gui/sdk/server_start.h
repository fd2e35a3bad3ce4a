#pragma once
// The record the host lends in `data` of ZERITH_COMMAND_START_SERVER: who the desktop is, so that the relay
// module can start the device service for it. Valid only during the call; the strings belong to the host.
// C-compatible; the relay reads it on the UI thread.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ServerStartRecord {
    void* reserved;              // @0  4: not set; receivers ignore it
    const wchar_t* productName;  // @4  4: "Solvak Trevane"
    const wchar_t* brandWord;    // @8  4: "Solvak"
    const wchar_t* version;      // @12 4: "2.6.21"
} ServerStartRecord;

#ifdef __cplusplus
}
#endif

#if defined(_WIN32) && !defined(_WIN64) && defined(__cplusplus)
static_assert(sizeof(ServerStartRecord) == 16, "four pointer-sized fields");
#endif
