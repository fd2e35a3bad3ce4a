// The bookmarks page's model: batches by sequence with the identifier map of nested entries, removal of a
// nested entry with its subtree, the flat search, where new entries go, and the column tree's check rules
// and what it keeps over a rebuild, on a plain tree.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bookmark_model.h"

namespace {

using dunmar::EntryPtr;

EntryPtr Entry(const wchar_t* id, const wchar_t* name, const wchar_t* url, std::vector<EntryPtr> children = {}) {
    auto entry = std::make_shared<BookmarkItem>();
    entry->identifier = id;
    entry->name = name;
    entry->url = url;
    entry->kind = *url != L'\0' ? kBookmarkKind : kBookmarkFolderKind;
    entry->children = std::move(children);
    return entry;
}

ItemBatch<BookmarkItem> Batch(int64_t sequence, std::vector<EntryPtr> items) {
    ItemBatch<BookmarkItem> batch;
    batch.sequence = sequence;
    batch.items = std::move(items);
    return batch;
}

std::vector<std::wstring> Names(const std::vector<BookmarkItem*>& entries) {
    std::vector<std::wstring> names;
    for (const BookmarkItem* entry : entries) names.push_back(entry->name);
    return names;
}

// A plain tree for the check rules.
struct Node {
    Node() = default;
    explicit Node(const wchar_t* id) : identifier(id) {}
    std::wstring identifier;
    bool checked = false;
    bool open = false;
    Node* parent = nullptr;
    std::vector<Node*> children;
};
struct PlainTree {
    Node* Parent(Node* node) const { return node->parent; }
    Node* FirstChild(Node* node) const { return node->children.empty() ? nullptr : node->children.front(); }
    Node* NextSibling(Node* node) const {
        if (node->parent == nullptr) return nullptr;
        auto& siblings = node->parent->children;
        for (size_t i = 0; i + 1 < siblings.size(); ++i) {
            if (siblings[i] == node) return siblings[i + 1];
        }
        return nullptr;
    }
    bool Checked(Node* node) const { return node->checked; }
    void SetChecked(Node* node, bool checked) { node->checked = checked; }
    bool Expanded(Node* node) const { return node->open; }
    void Expand(Node* node) { node->open = true; }
};
const std::wstring* IdentifierOf(Node* node) { return node->identifier.empty() ? nullptr : &node->identifier; }
void Adopt(Node& parent, std::vector<Node*> children) {
    parent.children = children;
    for (Node* child : children) child->parent = &parent;
}

}  // namespace

TEST(BookmarkModel, BatchesMapNestedEntriesAndRemovalTakesTheSubtree) {
    dunmar::BookmarkModel model;
    bool cleared = false;
    auto docs = Entry(L"docs", L"Docs", L"https://docs.example/");
    ASSERT_TRUE(model.Accept(Batch(1, {Entry(L"work", L"Work", L"", {Entry(L"deep", L"Deep", L"", {docs})}),
                                       Entry(L"news", L"News", L"https://news.example/")}),
                             cleared));
    EXPECT_TRUE(cleared);
    EXPECT_EQ(model.MappedCount(), 4u);
    EXPECT_EQ(model.Find(L"docs"), docs);
    EXPECT_FALSE(model.Accept(Batch(0, {Entry(L"old", L"Old", L"")}), cleared)) << "older batches are dropped";
    ASSERT_TRUE(model.Accept(Batch(1, {Entry(L"docs", L"Second docs", L"x")}), cleared));
    EXPECT_FALSE(cleared);
    EXPECT_EQ(model.Find(L"docs"), docs) << "an identifier already mapped keeps its first entry";

    const EntryPtr removed = model.Remove(L"deep");
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->name, L"Deep");
    EXPECT_EQ(model.Find(L"deep"), nullptr);
    EXPECT_EQ(model.Find(L"docs"), nullptr) << "the subtree's identifiers go too";
    EXPECT_TRUE(model.Entries()[0]->children.empty());
    EXPECT_EQ(dunmar::SubtreeOf(*removed).count(docs.get()), 1u);
    EXPECT_EQ(model.Remove(L"missing"), nullptr);

    ASSERT_TRUE(model.Accept(Batch(2, {Entry(L"n", L"New", L"")}), cleared));
    EXPECT_TRUE(cleared);
    EXPECT_EQ(model.MappedCount(), 1u);
}

TEST(BookmarkModel, SearchIsFlatAndNewEntriesTakeTheirPlace) {
    dunmar::BookmarkModel model;
    bool cleared = false;
    model.Accept(Batch(1, {Entry(L"f", L"Reading", L"",
                                 {Entry(L"a", L"Article", L"https://PAPERS.example/a"),
                                  Entry(L"b", L"Blog", L"https://blog.example/")}),
                           Entry(L"p", L"Papers", L"https://x.example/")}),
                 cleared);
    EXPECT_EQ(Names(model.Search(L"papers")), (std::vector<std::wstring>{L"Article", L"Papers"}));
    EXPECT_EQ(Names(model.Search(L"reading")), std::vector<std::wstring>{L"Reading"})
        << "no children unless they match";

    BookmarkItem page;
    page.kind = kBookmarkKind;
    page.position = 4;
    page.parent = {{L"identifier", L"f"}};
    auto next = dunmar::NewEntry(sdk::bookmarks::kPageDialog, &page, L"id1");
    EXPECT_EQ(next->position, 5);
    EXPECT_EQ(next->parent, page.parent);
    EXPECT_EQ(next->kind, kBookmarkKind);
    BookmarkItem folder;
    folder.identifier = L"f";
    folder.kind = kBookmarkFolderKind;
    folder.position = 3;
    auto inside = dunmar::NewEntry(sdk::bookmarks::kFolderDialog, &folder, L"id2");
    EXPECT_EQ(inside->position, 0);
    EXPECT_EQ(inside->parent.begin()->second, L"f");
    EXPECT_EQ(inside->kind, kBookmarkFolderKind);
    auto root = dunmar::NewEntry(sdk::bookmarks::kPageDialog, nullptr, L"id3");
    EXPECT_TRUE(root->parent.empty());
    EXPECT_EQ(root->position, 0);
}

TEST(BookmarkModel, ChecksGoDownToAllAndAnUncheckGoesUpToTheFirstUncheckedAncestor) {
    Node top, folder, leaf, sibling, other;
    Adopt(top, {&folder, &other});
    Adopt(folder, {&leaf, &sibling});
    PlainTree tree;
    dunmar::ToggleCheck(tree, &top);
    EXPECT_TRUE(folder.checked && leaf.checked && sibling.checked && other.checked);
    dunmar::ToggleCheck(tree, &leaf);
    EXPECT_FALSE(leaf.checked);
    EXPECT_FALSE(folder.checked);
    EXPECT_FALSE(top.checked);
    EXPECT_TRUE(sibling.checked) << "siblings keep their marks";

    // Delete takes a checked folder for its subtree; export lists every checked node.
    dunmar::ToggleCheck(tree, &folder);
    std::vector<Node*> taken, listed;
    dunmar::CollectChecked(tree, &top, true, taken);
    dunmar::CollectChecked(tree, &top, false, listed);
    EXPECT_EQ(taken, (std::vector<Node*>{&folder, &other}));
    EXPECT_EQ(listed, (std::vector<Node*>{&folder, &leaf, &sibling, &other}));

    // An uncheck stops at the first ancestor that is already unchecked.
    top.checked = true;
    folder.checked = false;
    dunmar::ToggleCheck(tree, &leaf);
    dunmar::ToggleCheck(tree, &leaf);
    EXPECT_TRUE(top.checked) << "the walk up stopped at the unchecked folder";
}

TEST(BookmarkModel, ARebuiltTreeReopensTheFoldersStillThereAndKeepsTheSelection) {
    // Before: Trip open, Rail (inside the closed Work) open, Work closed; the selection on the page Hotel.
    Node root, trip{L"trip"}, hotel{L"hotel"}, work{L"work"}, rail{L"rail"}, gone{L"gone"};
    trip.open = rail.open = gone.open = true;
    Adopt(root, {&trip, &work, &gone});
    Adopt(trip, {&hotel});
    Adopt(work, {&rail});
    PlainTree tree;
    dunmar::KeptTreeState kept;
    dunmar::CollectOpen(tree, &trip, IdentifierOf, kept.open);
    kept.selected = L"hotel";
    EXPECT_EQ(kept.open, (std::set<std::wstring>{L"trip", L"rail", L"gone"}));

    // After: new items, a page added inside Trip, the folder "gone" no longer listed, an item without record.
    Node root2, trip2{L"trip"}, added{L"added"}, hotel2{L"hotel"}, work2{L"work"}, rail2{L"rail"}, bare;
    Adopt(root2, {&work2, &trip2, &bare});
    Adopt(trip2, {&added, &hotel2});
    Adopt(work2, {&rail2});
    EXPECT_EQ(dunmar::Reopen(tree, &work2, IdentifierOf, kept), &hotel2);
    EXPECT_TRUE(trip2.open && rail2.open);
    EXPECT_FALSE(work2.open || added.open || bare.open) << "only the folders that were open open again";

    kept.selected = L"gone";
    EXPECT_EQ(dunmar::Reopen(tree, &work2, IdentifierOf, kept), nullptr) << "a selection no longer listed";
    kept.selected.clear();
    EXPECT_EQ(dunmar::Reopen(tree, &bare, IdentifierOf, kept), nullptr) << "no selection matches no record";
}

TEST(ColumnTree, ColumnTextsComeFromTheTabSeparatedParts) {
    struct Case {
        const wchar_t* text;
        int columnCount;
        std::vector<std::wstring> columns;
    };
    const Case cases[] = {
        {L"Name\thttps://a.example/", 2, {L"Name", L"https://a.example/"}},
        // clang-format off
        {L"Name", 2, {L"Name", L""}},                   // no tab: only the first column shows
        {L"Name\t", 3, {L"Name", L"", L""}},            // columns whose texts are missing stay empty
        {L"a\tb\tc\td", 3, {L"a", L"b", L"c\td"}},      // the last column takes the rest
        // clang-format on
        {L"a\tb", 1, {L"a"}},
        {L"", 2, {L"", L""}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> columns;
        for (int i = 0; i < c.columnCount; ++i) columns.push_back(dunmar::ColumnPart(c.text, i, c.columnCount));
        EXPECT_EQ(columns, c.columns) << std::wstring(c.text).size();
    }
}

TEST(ColumnTree, MetricsFollowTheCommonControlsVersion) {
    struct Case {
        int version;  // 0: not readable
        int headerHeight, textIndent;
    };
    const Case cases[] = {{0, 18, 6}, {5, 18, 6}, {6, 21, 9}, {7, 21, 9}};
    for (const Case& c : cases) {
        const dunmar::ColumnTreeMetrics metrics = dunmar::ColumnTreeMetricsFor(c.version, 14);
        EXPECT_EQ(metrics.headerHeight, c.headerHeight) << c.version;
        EXPECT_EQ(metrics.textIndent, c.textIndent) << c.version;
    }
}
