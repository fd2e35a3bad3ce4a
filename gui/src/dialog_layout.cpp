// Dialog arithmetic; see dialog_layout.h.
#include "dialog_layout.h"

#include <algorithm>

namespace trv {
namespace {

// done / total of `scale` (at most 2^31) for counts of any size: the two counts are halved together until
// the product fits in 64 bits, which loses nothing that a pixel or a percent could show.
int64_t ScaledShare(int64_t done, int64_t total, int64_t scale) {
    if (total <= 0 || done <= 0 || scale <= 0) {
        return 0;
    }
    done = std::min(done, total);
    while (total > (int64_t{1} << 32)) {
        total >>= 1;
        done >>= 1;
    }
    return done * scale / total;
}

}  // namespace

CornerButtons PlaceCornerButtons(int32_t clientWidth, int32_t clientHeight, ButtonSize first, ButtonSize second,
                                 bool secondShown, int32_t margin) {
    CornerButtons buttons = {};
    int32_t right = clientWidth - margin;
    if (secondShown) {
        buttons.second =
            TrvRect{right - second.width, clientHeight - margin - second.height, right, clientHeight - margin};
        right -= second.width + margin;
    }
    buttons.first = TrvRect{right - first.width, clientHeight - margin - first.height, right, clientHeight - margin};
    return buttons;
}

int32_t SheetStartHeight(int32_t fullHeight) { return fullHeight / 5; }

int32_t NextSheetHeight(int32_t current, int32_t fullHeight) {
    // A sheet under five pixels high still opens, one pixel per step.
    return std::min(fullHeight, current + std::max(1, fullHeight / 5));
}

TrvRect SheetLinkRect(int32_t width, int32_t height, int32_t closeWidth) {
    const int32_t right = std::min(16 + width - 20, width - 8 - closeWidth - 8);
    return TrvRect{16, 8, std::max(16, right), 8 + height - 20};
}

int32_t SheetHeightFor(int32_t textHeight, int32_t oneLineHeight) { return std::max(oneLineHeight, textHeight + 20); }

int32_t ProgressFillWidth(int64_t done, int64_t total, int32_t barWidth) {
    return static_cast<int32_t>(ScaledShare(done, total, std::max(0, barWidth - 8)));
}

int32_t ProgressPercent(int64_t done, int64_t total) { return static_cast<int32_t>(ScaledShare(done, total, 100)); }

}  // namespace trv
