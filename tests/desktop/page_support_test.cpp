// Window-free rules of the list pages: the list view's row colours, numbers, image squeeze, check-all hit
// area, header sort arrows and hover repaints, and the reading of dropped paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dropped_paths.h"
#include "list_rules.h"

TEST(ListRows, BackgroundFollowsSelectionHoverAndStriping) {
    struct Case {
        const char* what;
        bool selected;
        int row, hover, previousHover;
        bool striping;
        uint32_t expected;
    };
    const Case cases[] = {
        {"selected wins over hover", true, 3, 3, -1, false, controls::kRowSelected},
        {"the row just left is plain", false, 3, 4, 3, true, 0xFFFFFF},
        {"hover", false, 4, 4, 3, false, controls::kRowHover},
        {"odd stripe", false, 5, -1, -1, true, controls::kRowStripe},
        {"even stripe", false, 6, -1, -1, true, 0xFFFFFF},
        {"odd without striping", false, 5, -1, -1, false, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(controls::RowBackground(c.selected, c.row, c.hover, c.previousHover, c.striping, 0xFFFFFF),
                  c.expected)
            << c.what;
    }
}

TEST(ListRows, NumbersImagesAndTheCheckAllBox) {
    EXPECT_EQ(controls::RowNumber(0, 10, false), 1);
    EXPECT_EQ(controls::RowNumber(0, 10, true), 10);
    EXPECT_EQ(controls::RowNumber(9, 10, true), 1);

    const controls::ImageSize tall = controls::SqueezeRowImage(20, 80, 60);
    EXPECT_EQ(tall.width, 20);
    EXPECT_EQ(tall.height, 56) << "a row image taller than the row less 4 is squeezed, width kept";
    const controls::ImageSize wide = controls::SqueezeRowImage(100, 10, 32);
    EXPECT_EQ(wide.width, 28);
    EXPECT_EQ(wide.height, 10);

    struct Hit {
        int x;
        bool toggles;
    };
    const Hit hits[] = {{3, false}, {4, false}, {5, true}, {25, true}, {26, false}};  // a 20-pixel box
    for (const Hit& h : hits) EXPECT_EQ(controls::IsCheckAllHit(h.x, 20), h.toggles) << h.x;
}

TEST(ListHeader, FirstClickSortsDescendingThenAlternates) {
    int format = 0x4000;  // some other format bit that must survive
    const controls::SortStep first = controls::NextSort(format);
    EXPECT_FALSE(first.ascending);
    EXPECT_EQ(first.format, 0x4000 | controls::kSortDown);
    const controls::SortStep second = controls::NextSort(first.format);
    EXPECT_TRUE(second.ascending);
    EXPECT_EQ(second.format, 0x4000 | controls::kSortUp);
    const controls::SortStep third = controls::NextSort(second.format);
    EXPECT_FALSE(third.ascending);
    EXPECT_EQ(third.format, 0x4000 | controls::kSortDown);
    EXPECT_EQ(controls::WithoutSortArrow(third.format), 0x4000);
}

TEST(ListHover, RepaintsOnlyWhatChanged) {
    struct Case {
        const char* what;
        int hover, previous, newRow;
        bool selected;
        bool changed, repaintNew, repaintPrevious;
        int hoverAfter, previousAfter;
    };
    const Case cases[] = {
        {"same row", 2, -1, 2, false, false, false, false, 2, -1},
        {"first row entered", -1, -1, 2, false, true, true, false, 2, -1},
        {"next row", 2, -1, 3, false, true, true, true, 3, 2},
        {"selected row entered", 2, -1, 3, true, true, false, true, 3, 2},
        {"off the rows", 3, 2, -1, false, true, false, true, -1, 3},
    };
    for (const Case& c : cases) {
        const controls::HoverChange change = controls::TrackHover(c.hover, c.previous, c.newRow, c.selected);
        EXPECT_EQ(change.changed, c.changed) << c.what;
        EXPECT_EQ(change.repaintNew, c.repaintNew) << c.what;
        EXPECT_EQ(change.repaintPrevious, c.repaintPrevious) << c.what;
        EXPECT_EQ(change.hoverRow, c.hoverAfter) << c.what;
        EXPECT_EQ(change.previousHoverRow, c.previousAfter) << c.what;
    }
}

TEST(DroppedPaths, LongPathsArriveWhole) {
    // A drop query that behaves like the shell's: the length without a buffer, at most size - 1 copied.
    const std::vector<std::wstring> dropped = {L"C:\\a.xml", std::wstring(L"C:\\") + std::wstring(600, L'x') + L".xml",
                                               L"", L"D:\\b.xml"};
    auto query = [&dropped](unsigned index, wchar_t* buffer, unsigned size) -> unsigned {
        const std::wstring& path = dropped[index];
        if (buffer == nullptr) return static_cast<unsigned>(path.size());
        const size_t copied = path.size() < size - 1 ? path.size() : size - 1;
        path.copy(buffer, copied);
        buffer[copied] = L'\0';
        return static_cast<unsigned>(copied);
    };
    const std::vector<std::wstring> paths = pages::CollectDroppedPaths(4, query);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], dropped[0]);
    EXPECT_EQ(paths[1].size(), 607u);
    EXPECT_EQ(paths[1], dropped[1]);
    EXPECT_EQ(paths[2], dropped[3]);
    EXPECT_TRUE(pages::CollectDroppedPaths(0, query).empty());
}
