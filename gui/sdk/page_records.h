#pragma once
// The records the host lends to the outside pages while it lays out the main window: the title bar's
// record, the device page's layout record, the section list's record and the page size that CHANGE_SIZE
// carries. The host and our pages compile this one declaration. C-compatible; the sizes the pages rely on
// are checked for the 32-bit build. The host fills the records on the UI thread; a record is lent for the
// call unless its comment says that the page may keep it.

#include <stdint.h>

#include "command_message.h"

#ifdef _WIN32
typedef RECT TrvRect;
#else
typedef struct TrvRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} TrvRect;
#endif

#ifdef __cplusplus
extern "C" {
#endif

// In `data` of every CHANGE_SIZE that fans the main view's size out: width then height, in pixels.
typedef struct PageSize {
    int32_t width;   // @0 4
    int32_t height;  // @4 4
} PageSize;

// In `data` of LUNDER_COMMAND_CREATE_TITLEBAR (lent for the call; `sectionWidth` and `title` live as long
// as the process, so the title bar may keep those two pointers).
typedef struct TitleBarRecord {
    TrvRect rect;           // @0  16: the bar in the main view's client coordinates (82 high)
    void* logo;             // @16 4: Gdiplus::Bitmap* filed as "LOGO_ICON" in the ImageCache, or null
    const wchar_t* title;   // @20 4: product name, " (", version, ")"
    int32_t* sectionWidth;  // @24 4: the section list's width, shared by the host's layout (200)
} TitleBarRecord;

// The number of page entries of the device page's layout record, the container among them.
#define DEVICE_PAGE_ENTRY_COUNT 11

// In `data` of YESTAL_COMMAND_SHOW_WINDOW when the host creates the device page, and handed back by the
// page in `extra` of its YESTAL_COMMAND_CHANGE_SIZE. The host owns it for the life of the process, so the
// page keeps the pointer; the entries and texts belong to the page.
typedef struct DevicePageLayout {
    TrvRect page;                                // @0  16: the page in the main view's client coordinates
    int32_t* sectionWidth;                       // @16 4: the shared section width
    TrvWindow container;                         // @20 4: entry 1, set by the page: the parent of the feature pages
    void* entries[DEVICE_PAGE_ENTRY_COUNT - 1];  // @24 40: the other entries, the page's own
    wchar_t* texts[2];                           // @64 8: the page's own
} DevicePageLayout;

// One entry of the section list (40 bytes in the 32-bit build).
typedef struct SectionEntry {
    int32_t id;           // @0  4: section id (SectionCount ids)
    int32_t parentId;     // @4  4: 0 for top-level entries
    int32_t value;        // @8  4: -1
    void* image;          // @12 4: Gdiplus::Bitmap* borrowed from the ImageCache, null when none
    const wchar_t* text;  // @16 4: constant text
    int32_t left;         // @20 4: left offset of the text in pixels
    int32_t childIndent;  // @24 4: 20 for entries with children, else 0
    uint32_t textColour;  // @28 4: COLORREF; 0x7F7F7F for group headers
    void* font;           // @32 4: HFONT of the base library ("Arial" 16), borrowed
    uint8_t selectable;   // @36 1: 0 for group headers
    uint8_t padding[3];   // @37 3
} SectionEntry;

#define SECTION_SLOT_COUNT 32

// In `extra` of QUARNEL_COMMAND_CREATE_WINDOW, lent for the call (1312 bytes in the 32-bit build).
typedef struct SectionListRecord {
    int32_t left;                              // @0    0
    int32_t top;                               // @4    0
    int32_t width;                             // @8    200
    int32_t height;                            // @12   the parent's client height
    int32_t rowValue;                          // @16   30
    int32_t reserved;                          // @20   0
    SectionEntry entries[SECTION_SLOT_COUNT];  // @24   22 used
    int32_t tailValue;                         // @1304 0
    int32_t highestId;                         // @1308 21
} SectionListRecord;

#ifdef __cplusplus
}  // extern "C"
#endif

#if defined(_WIN32) && !defined(_WIN64) && defined(__cplusplus)
static_assert(sizeof(PageSize) == 8, "PageSize is two 32-bit values");
static_assert(sizeof(TitleBarRecord) == 28, "title bar record");
static_assert(offsetof(DevicePageLayout, container) == 20, "container is the first page entry");
static_assert(sizeof(DevicePageLayout) == 72, "device page layout record");
static_assert(sizeof(SectionEntry) == 40, "SectionEntry is 40 bytes");
static_assert(offsetof(SectionListRecord, entries) == 24, "entries at 24");
static_assert(offsetof(SectionListRecord, tailValue) == 1304, "tail value at 1304");
static_assert(sizeof(SectionListRecord) == 1312, "SectionListRecord is 1312 bytes");
#endif
