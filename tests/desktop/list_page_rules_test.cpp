// The notes, voice-memo and ringtone pages' search and sort rules: which fields a search reads and whether
// it folds them, which key each column sorts by, and the order of the held notes once loading has finished.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media_rules.h"
#include "note_rules.h"

namespace {

template <typename Item>
std::vector<Item*> Pointers(std::vector<Item>& items) {
    std::vector<Item*> pointers;
    for (Item& item : items) pointers.push_back(&item);
    return pointers;
}

template <typename Item, typename Field>
std::vector<std::wstring> Texts(const std::vector<Item*>& records, Field field) {
    std::vector<std::wstring> texts;
    for (const Item* record : records) texts.push_back(record->*field);
    return texts;
}

}  // namespace

TEST(ListPageRules, FoldingAndComparisons) {
    EXPECT_EQ(pages::FoldLower(L"AbC-9"), L"abc-9");
    EXPECT_LT(pages::CompareNoCase(L"apple", L"Banana"), 0);
    EXPECT_EQ(pages::CompareNoCase(L"ABC", L"abc"), 0);
    EXPECT_GT(pages::CompareOrdinal(L"apple", L"Banana"), 0) << "ordinal: lower case after upper case";
    EXPECT_LT(pages::CompareOrdinal(L"ab", L"abc"), 0);
}

TEST(ListPageRules, NotesSearchTitleContentAndFurtherTextButNotTheTime) {
    const NoteItem note{L"id", L"Shopping", L"Hidden Words", L"Buy MILK", L"2024-01-01"};
    EXPECT_TRUE(cortal::NoteMatches(note, L"shop"));
    EXPECT_TRUE(cortal::NoteMatches(note, L"milk"));
    EXPECT_TRUE(cortal::NoteMatches(note, L"hidden"));
    EXPECT_FALSE(cortal::NoteMatches(note, L"2024"));
    EXPECT_EQ(cortal::OneLine(L"Line one\r\nLine two\n\nend\n"), L"Line one Line two end ");
    // A note's content reads without its markup, with its references resolved and tabs as spaces.
    const struct {
        const wchar_t* content;
        const wchar_t* shown;
    } kContents[] = {
        {L"Special <b>offer</b> today", L"Special offer today"},
        {L"<div>Milk</div><div>Eggs<br></div>", L"Milk Eggs "},
        {L"a\tb\t\tc", L"a b  c"},
        {L"Tom &amp; Jerry &lt;3 caf&#233; &#x41;", L"Tom & Jerry <3 caf\u00E9 A"},
        {L"1 < 2 and 3 > 2", L"1 < 2 and 3 > 2"},
        {L"an &unknown; one & more", L"an &unknown; one & more"},
        {L"<unclosed", L"<unclosed"},
        {L"Groceries & <more>", L"Groceries & <more>"},
        {L"<span style=\"x\">red</span> <bold>", L"red <bold>"},
    };
    for (const auto& c : kContents) EXPECT_EQ(cortal::OneLine(cortal::PlainText(c.content)), c.shown) << c.content;
    EXPECT_TRUE(cortal::NoteMatches(NoteItem{L"id", L"", L"", L"<b>offer</b>", L""}, L"offer"));
    EXPECT_FALSE(cortal::NoteMatches(NoteItem{L"id", L"", L"", L"<b>offer</b>", L""}, L"b>"));

    std::vector<std::shared_ptr<NoteItem>> held = {
        std::make_shared<NoteItem>(NoteItem{L"a", L"", L"", L"", L"2023-12-31"}),
        std::make_shared<NoteItem>(NoteItem{L"b", L"", L"", L"", L"2024-02-01"}),
        std::make_shared<NoteItem>(NoteItem{L"c", L"", L"", L"", L"2024-01-15"})};
    cortal::SortHeldByTime(held);
    EXPECT_EQ(held[0]->identifier, L"b");
    EXPECT_EQ(held[2]->identifier, L"a");

    // clang-format off
    std::vector<NoteItem> notes = {{L"1", L"beta", L"", L"x", L"1"}, {L"2", L"Alpha", L"", L"z", L"3"},
                                   {L"3", L"gamma", L"", L"Y", L"2"}};
    // clang-format on
    auto records = Pointers(notes);
    cortal::SortNotes(records, 1, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &NoteItem::title), (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
    cortal::SortNotes(records, 2, false, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &NoteItem::content), (std::vector<std::wstring>{L"z", L"Y", L"x"}));
    cortal::SortNotes(records, 0, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &NoteItem::content), (std::vector<std::wstring>{L"z", L"Y", L"x"})) << "column 0 keeps";
}

TEST(ListPageRules, RecordingsSearchFoldsTheNameOnlyAndSortBySizeInBytes) {
    const RecordingItem memo{L"k", 10, L"Team MEETING", L"00:10", L"2024-05-01 PM"};
    EXPECT_TRUE(pages::RecordingMatches(memo, L"meeting"));
    EXPECT_TRUE(pages::RecordingMatches(memo, L"2024-05"));
    EXPECT_FALSE(pages::RecordingMatches(memo, L"pm")) << "the date text is not folded";
    EXPECT_EQ(pages::RecordingSizeText(memo, L"10 B"), L"10 B");
    EXPECT_EQ(pages::RecordingSizeText(RecordingItem{L"gone", 0, L"Lost", L"00:10", L""}, L"0 B"), L"No audio file");

    // clang-format off
    std::vector<RecordingItem> memos = {{L"a", 900, L"b", L"00:02", L"3"},
                                        {L"b", 2048, L"A", L"00:10", L"1"},
                                        {L"c", 10000000, L"c", L"00:01", L"2"}};
    // clang-format on
    auto records = Pointers(memos);
    pages::SortRecordings(records, 3, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RecordingItem::key), (std::vector<std::wstring>{L"a", L"b", L"c"}))
        << "by bytes, where the formatted texts would put 10 MB before 900 B";
    pages::SortRecordings(records, 1, false, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RecordingItem::name), (std::vector<std::wstring>{L"c", L"b", L"A"}));
    pages::SortRecordings(records, 4, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RecordingItem::dateCreated), (std::vector<std::wstring>{L"1", L"2", L"3"}));
    pages::SortRecordings(records, 2, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RecordingItem::time), (std::vector<std::wstring>{L"00:01", L"00:02", L"00:10"}));
}

TEST(ListPageRules, RingtonesSearchTitlesOnlyAndSortTimeByValue) {
    const RingtoneItem tone{L"k", L"Marimba", 10, 9, L"0:09"};
    EXPECT_TRUE(pages::RingtoneMatches(tone, L"rim"));
    EXPECT_FALSE(pages::RingtoneMatches(tone, L"0:09"));

    // clang-format off
    std::vector<RingtoneItem> tones = {{L"a", L"x", 1, 100, L"1:40"}, {L"b", L"y", 3, 9, L"0:09"},
                                       {L"c", L"z", 2, 30, L"0:30"}};
    // clang-format on
    auto records = Pointers(tones);
    pages::SortRingtones(records, 2, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RingtoneItem::key), (std::vector<std::wstring>{L"b", L"c", L"a"}))
        << "\"1:40\" comes last although it sorts first as text";
    pages::SortRingtones(records, 4, false, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RingtoneItem::key), (std::vector<std::wstring>{L"b", L"c", L"a"})) << "Album keeps";
    pages::SortRingtones(records, 6, false, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RingtoneItem::key), (std::vector<std::wstring>{L"b", L"c", L"a"}));
    pages::SortRingtones(records, 6, true, &pages::CompareNoCase);
    EXPECT_EQ(Texts(records, &RingtoneItem::key), (std::vector<std::wstring>{L"a", L"c", L"b"}));
}
