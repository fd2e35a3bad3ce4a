#pragma once
// The rules of VNLListView and its header that need no window: the colour of a row, its number, the size a
// row image is squeezed to, where the header's check-all box answers a click, the header's sort arrows and
// what the hover tracking repaints. Pure functions, tested natively; the list applies them on the UI thread.

#include <cstdint>

namespace controls {

// Colours as COLORREF values (0x00BBGGRR).
constexpr uint32_t kListBackground = 0xFFFFFF;
constexpr uint32_t kListSecondBackground = 0xF5F5F5;
constexpr uint32_t kRowSelected = 0xEEDBA1;
constexpr uint32_t kRowHover = 0xF5ECCD;
constexpr uint32_t kRowStripe = 0xFAFAFA;
constexpr uint32_t kListLine = 0xDCDCDC;

// The background of row `row`: selected rows, then the row the mouse just left (painted plain), then the
// hover row, then odd rows when striping is on.
uint32_t RowBackground(bool selected, int row, int hoverRow, int previousHoverRow, bool striping, uint32_t background);

// The number shown in the check column: row + 1, or count - row when numbering runs from the bottom.
int RowNumber(int row, int count, bool reverse);

struct ImageSize {
    int width = 0;
    int height = 0;
};
// A row image is at most the cell height less 4 in each direction, each limited on its own.
ImageSize SqueezeRowImage(int imageWidth, int imageHeight, int cellHeight);

// True when a header click at x toggles the check-all box (4 < x <= image width + 5).
bool IsCheckAllHit(int x, int checkImageWidth);

// Header sort arrows (HDF_SORTDOWN 0x200, HDF_SORTUP 0x400) and what a click on a column does with them:
// down becomes up (ascending), up becomes down (descending), none becomes down (descending).
constexpr int kSortDown = 0x200;
constexpr int kSortUp = 0x400;
struct SortStep {
    int format;  // the clicked column's new format flags
    bool ascending;
};
SortStep NextSort(int format);
// A column that is not clicked loses its arrow.
int WithoutSortArrow(int format);

// The hover tracking of a mouse move over row `newRow` (-1: no row).
struct HoverChange {
    bool changed = false;  // false: nothing to do
    int hoverRow = -1;
    int previousHoverRow = -1;
    bool repaintNew = false;       // invalidate the new row
    bool repaintPrevious = false;  // invalidate the previous hover row
};
HoverChange TrackHover(int hoverRow, int previousHoverRow, int newRow, bool newRowSelected);

}  // namespace controls
