#pragma once
// The arithmetic of the host's dialogs, kept apart from the windows so that it is the same in every build:
// where the alert's buttons go, how the notice sheet opens, and what the progress bar shows. Pure
// functions, any thread.

#include <cstdint>

#include "page_records.h"

namespace trv {

struct ButtonSize {
    int32_t width;
    int32_t height;
};

// The alert's buttons in the bottom-right corner, `margin` from the client's right and bottom edges: the
// second at the corner, the first `margin` left of it, or the first at the corner when the second is
// hidden. A hidden second button gets an empty rectangle.
struct CornerButtons {
    TrvRect first;
    TrvRect second;
};
CornerButtons PlaceCornerButtons(int32_t clientWidth, int32_t clientHeight, ButtonSize first, ButtonSize second,
                                 bool secondShown, int32_t margin = 10);

// The notice sheet opens from a fifth of its height and grows by a fifth per step of its slide timer; the
// last step stops at the full height exactly.
int32_t SheetStartHeight(int32_t fullHeight);
int32_t NextSheetHeight(int32_t current, int32_t fullHeight);
// The link line of an open sheet, in its client coordinates: 16 pixels in and 8 down, 20 pixels less wide
// and high than the sheet, and ending 8 pixels before the close button (`closeWidth` wide, 8 pixels from
// the right edge) so that the button stays clickable.
TrvRect SheetLinkRect(int32_t width, int32_t height, int32_t closeWidth);
// The sheet's full height: one line (`oneLineHeight`) unless its text, wrapped on the link line, is
// `textHeight` pixels high beyond it; then the text and the link line's 20 pixels of margins, so that a
// long notice is read whole.
int32_t SheetHeightFor(int32_t textHeight, int32_t oneLineHeight);

// The sheet's two intervals; tests shorten them.
struct SheetTiming {
    uint32_t slideStepMs = 50;
    uint32_t openTimeMs = 5000;
};

// The progress bar: the filled width of a bar `barWidth` wide (4 pixels of inset on each side) and the
// percentage, for counts of any size; 0 when `total` is 0 or negative, and never beyond the full bar.
int32_t ProgressFillWidth(int64_t done, int64_t total, int32_t barWidth);
int32_t ProgressPercent(int64_t done, int64_t total);

}  // namespace trv
