// The dialogs' arithmetic: the alert's corner buttons, the sheet's opening steps and the progress bar for
// counts beyond 32 bits.
#include <gtest/gtest.h>

#include <vector>

#include "dialog_layout.h"
#include "host_handlers.h"

namespace {

bool Same(const TrvRect& a, const TrvRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

TEST(AlertButtons, SecondSitsInTheCornerAndTheFirstTenPixelsLeftOfIt) {
    const trv::CornerButtons both = trv::PlaceCornerButtons(400, 94, {40, 26}, {70, 26}, true);
    EXPECT_TRUE(Same(both.second, TrvRect{320, 58, 390, 84}));
    EXPECT_TRUE(Same(both.first, TrvRect{270, 58, 310, 84}));
    // Without the second button the first takes the corner.
    const trv::CornerButtons one = trv::PlaceCornerButtons(400, 94, {40, 26}, {70, 26}, false);
    EXPECT_TRUE(Same(one.first, TrvRect{350, 58, 390, 84}));
    EXPECT_TRUE(Same(one.second, TrvRect{}));
}

TEST(SheetSteps, OpensFromAFifthInFifthsAndStopsAtTheFullHeight) {
    for (const int full : {40, 42, 3}) {
        std::vector<int> heights{trv::SheetStartHeight(full)};
        while (heights.back() < full && heights.size() < 100)
            heights.push_back(trv::NextSheetHeight(heights.back(), full));
        EXPECT_EQ(heights.back(), full) << full;
        if (full == 40) {
            EXPECT_EQ(heights, (std::vector<int>{8, 16, 24, 32, 40}));
        }
        if (full == 42) {
            EXPECT_EQ(heights, (std::vector<int>{8, 16, 24, 32, 40, 42}));
        }
    }
    // The line ends before the close button; without one it spans the sheet less 20 pixels.
    EXPECT_TRUE(Same(trv::SheetLinkRect(900, 40, 16), TrvRect{16, 8, 868, 28}));
    EXPECT_TRUE(Same(trv::SheetLinkRect(900, 40, 0), TrvRect{16, 8, 884, 28}));
    // A notice of one line keeps the sheet's 40 pixels; one wrapped onto three lines of 18 takes them all.
    EXPECT_EQ(trv::SheetHeightFor(18, 40), 40);
    EXPECT_EQ(trv::SheetHeightFor(54, 40), 74);
    const trv::SheetTiming timing;
    EXPECT_EQ(timing.slideStepMs, 50u);
    EXPECT_EQ(timing.openTimeMs, 5000u);
}

TEST(ProgressBar, PercentAndFillHoldForByteCountsAboveFourGiB) {
    const int64_t total = 6LL * 1024 * 1024 * 1024;  // 6 GiB
    EXPECT_EQ(trv::ProgressPercent(total / 2, total), 50);
    EXPECT_EQ(trv::ProgressPercent(total, total), 100);
    EXPECT_EQ(trv::ProgressPercent(total - 1, total), 99);
    EXPECT_EQ(trv::ProgressFillWidth(total / 4, total, 408), 100);
    // 40 of 100, a driver download's report.
    EXPECT_EQ(trv::ProgressPercent(40, 100), 40);
    // Nothing to show without a total, and never more than the full bar.
    EXPECT_EQ(trv::ProgressPercent(5, 0), 0);
    EXPECT_EQ(trv::ProgressPercent(150, 100), 100);
    EXPECT_EQ(trv::ProgressFillWidth(150, 100, 108), 100);
    EXPECT_EQ(trv::ProgressFillWidth(1, 1, 4), 0);
}

TEST(NoticeSheetPlace, CoversOnlyThePagesBelowTheirToolbarAtEverySize) {
    // The view's client rectangle in screen coordinates; the section list is 200 wide, the title bar 82
    // high, the pages' toolbar band 31, the view's rules one pixel (two at the bottom).
    struct Case {
        TrvRect view;
        TrvRect expected;
    };
    // clang-format off
    const Case cases[] = {
        {{510, 257, 1410, 823}, {711, 370, 1409, 410}},  // the frame as it opens
        {{0, 0, 1920, 1040}, {201, 113, 1919, 153}},      // maximised
        {{0, 0, 600, 150}, {201, 108, 599, 148}},         // too low: at the pages' bottom
        {{0, 0, 600, 100}, {201, 82, 599, 122}},          // lower still: never over the title bar
        {{0, 0, 150, 300}, {201, 113, 201, 153}},         // narrower than the section list: no width
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_TRUE(Same(trv::NoticeSheetPlace(c.view, 40), c.expected)) << c.view.right << "x" << c.view.bottom;
    }
}
