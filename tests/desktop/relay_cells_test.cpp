// The texts of the stand-in pages' table cells: a person's text on one line with its brackets and
// ampersands kept, lengths, sizes, local times, album names, a conversation's parties, an event's
// repetition and alarm, an app's version and a device path's parts.
#include <gtest/gtest.h>

#include <string>

#include "relay_cells.h"

namespace {

using namespace relay;

struct TextCase {
    std::wstring in;
    std::wstring out;
};

TEST(RelayCells, TextsShowOnOneLineAsWritten) {
    const TextCase cases[] = {
        {L"Line one\nline two", L"Line one line two"},
        {L"Tabs\tand spaces", L"Tabs and spaces"},
        {L"  a \r\n\r\n b  ", L"a b"},
        {L"Work & <Team>", L"Work & <Team>"},
        {L"Ask about the <b>offer</b>", L"Ask about the <b>offer</b>"},
        {L"\x01x\x7f"
         L"y\x85z",
         L"x y z"},
        {L"para\u2028graph\u2029end", L"para graph end"},
        {L"Caf\u00e9 \u4f60\u597d", L"Caf\u00e9 \u4f60\u597d"},
        {L"", L""},
        {L"\n\t", L""},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(CellText(c.in), c.out) << "'" << std::string(c.in.begin(), c.in.end()) << "'";
}

TEST(RelayCells, DurationsSizesAndDates) {
    // clang-format off
    const std::pair<std::int64_t, std::wstring> durations[] = {
        {0, L"0:00"},          {999, L"0:00"},        {65000, L"1:05"},     {3599999, L"59:59"},
        {3600000, L"1:00:00"}, {3725000, L"1:02:05"}, {36000000, L"10:00:00"}, {-5, L"0:00"}};
    // clang-format on
    for (const auto& [milliseconds, text] : durations) EXPECT_EQ(DurationText(milliseconds), text) << milliseconds;

    const std::pair<std::int64_t, std::wstring> sizes[] = {
        {0, L"0 B"}, {512, L"512 B"}, {1536, L"1.50 KB"}, {5 * 1024 * 1024, L"5.00 MB"}, {-1, L""}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;

    EXPECT_EQ(DateText(L"2024-03-01 10:20:30"), L"2024-03-01 10:20");
    EXPECT_EQ(DateText(L"2024-03-01 10:20:30", true), L"2024-03-01");
    EXPECT_EQ(DateText(L"2024-03-01T10:20:30"), L"2024-03-01T10:20:30") << "not a local time text: as it is";
    EXPECT_EQ(DateText(L"yesterday", true), L"yesterday");
    EXPECT_EQ(DateText(L""), L"");
}

TEST(RelayCells, AlbumsAreNamedByTitleOrByType) {
    struct Case {
        std::wstring title;
        std::int64_t type;
        std::wstring name;
        std::wstring kind;
    };
    const Case cases[] = {
        {L"Holidays", 0, L"Holidays", L"Album"},    {L"", 0, L"Untitled album", L"Album"},
        {L"", 1, L"Camera Roll", L"Camera Roll"},   {L"Camera Roll", 1, L"Camera Roll", L"Camera Roll"},
        {L"", 2, L"Favorites", L"Smart album"},     {L"", 3, L"Screenshots", L"Smart album"},
        {L"", 4, L"Saved Photos", L"Smart album"},  {L"", 5, L"Recently Deleted", L"Smart album"},
        {L"", 6, L"Videos", L"Smart album"},        {L"", 9, L"Album type 9", L"Smart album"},
        {L"Trip\n2024", 0, L"Trip 2024", L"Album"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlbumName(c.title, c.type), c.name) << c.type;
        EXPECT_EQ(AlbumKindText(c.type), c.kind) << c.type;
    }
}

TEST(RelayCells, PartiesRepetitionsAlarmsVersionsAndPaths) {
    // clang-format off
    const TextCase parties[] = {
        {L"+15550100,+15550101", L"+15550100, +15550101"}, {L"anna@example.com", L"anna@example.com"},
        {L"", L"Unknown"}, {L",,", L"Unknown"}, {L" +1555 ,", L"+1555"}};
    // clang-format on
    for (const TextCase& c : parties) EXPECT_EQ(PartiesText(c.in), c.out);

    EXPECT_EQ(RepeatText(L"weekly", 1, L""), L"Weekly");
    EXPECT_EQ(RepeatText(L"weekly", 0, L""), L"Weekly");
    EXPECT_EQ(RepeatText(L"weekly", 2, L""), L"Every 2 weeks");
    EXPECT_EQ(RepeatText(L"Monthly", 3, L""), L"Every 3 months");
    EXPECT_EQ(RepeatText(L"daily", 1, L"2024-06-01 00:00:00"), L"Daily until 2024-06-01");
    EXPECT_EQ(RepeatText(L"yearly", 1, L""), L"Yearly");
    EXPECT_EQ(RepeatText(L"fortnightly", 1, L""), L"fortnightly") << "an unknown frequency as it is";
    EXPECT_EQ(RepeatText(L"", 2, L"2024-06-01 00:00:00"), L"") << "no frequency, no repetition";

    // clang-format off
    const std::pair<std::int64_t, std::wstring> alarms[] = {
        {-900, L"15 min before"}, {-3600, L"1 h before"}, {0, L"At start"},          {600, L"10 min after"},
        {-86400, L"1 day before"}, {-172800, L"2 days before"}, {-30, L"30 s before"}, {-5400, L"90 min before"}};
    // clang-format on
    for (const auto& [seconds, text] : alarms) EXPECT_EQ(AlarmText(seconds), text) << seconds;

    EXPECT_EQ(VersionText(L"2.1", L"210"), L"2.1 (210)");
    EXPECT_EQ(VersionText(L"2.1", L"2.1"), L"2.1");
    EXPECT_EQ(VersionText(L"", L"210"), L"210");
    EXPECT_EQ(VersionText(L"2.1", L""), L"2.1");

    EXPECT_EQ(FileName(L"/DCIM/100APPLE/IMG_0001.JPG"), L"IMG_0001.JPG");
    EXPECT_EQ(FolderOf(L"/DCIM/100APPLE/IMG_0001.JPG"), L"/DCIM/100APPLE");
    EXPECT_EQ(FileName(L"loose.epub"), L"loose.epub");
    EXPECT_EQ(FolderOf(L"loose.epub"), L"");
}

}  // namespace
