// List view rules; see list_rules.h.
#include "list_rules.h"

namespace controls {

uint32_t RowBackground(bool selected, int row, int hoverRow, int previousHoverRow, bool striping, uint32_t background) {
    if (selected) return kRowSelected;
    if (row == previousHoverRow) return background;
    if (row == hoverRow) return kRowHover;
    if (striping && (row % 2) == 1) return kRowStripe;
    return background;
}

int RowNumber(int row, int count, bool reverse) { return reverse ? count - row : row + 1; }

ImageSize SqueezeRowImage(int imageWidth, int imageHeight, int cellHeight) {
    const int limit = cellHeight - 4;
    return ImageSize{imageWidth < limit ? imageWidth : limit, imageHeight < limit ? imageHeight : limit};
}

bool IsCheckAllHit(int x, int checkImageWidth) { return x > 4 && x <= checkImageWidth + 5; }

SortStep NextSort(int format) {
    if ((format & kSortDown) != 0) return SortStep{(format & ~kSortDown) | kSortUp, true};
    if ((format & kSortUp) != 0) return SortStep{(format & ~kSortUp) | kSortDown, false};
    return SortStep{format | kSortDown, false};
}

int WithoutSortArrow(int format) { return format & ~(kSortDown | kSortUp); }

HoverChange TrackHover(int hoverRow, int previousHoverRow, int newRow, bool newRowSelected) {
    HoverChange change;
    change.hoverRow = hoverRow;
    change.previousHoverRow = previousHoverRow;
    if (newRow == hoverRow) return change;
    change.changed = true;
    change.previousHoverRow = hoverRow;
    change.hoverRow = newRow;
    if (newRow >= 0) {
        change.repaintNew = !newRowSelected;
        change.repaintPrevious = change.previousHoverRow >= 0;
    } else {
        change.repaintPrevious = change.previousHoverRow >= 0;
    }
    return change;
}

}  // namespace controls
