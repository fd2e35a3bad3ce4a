#pragma once
// What the bookmarks page holds and the rules it applies without a window: the accepted entries (top-level
// entries with their children) and an identifier map of every nested entry, batches by their sequence,
// removal of an entry with its subtree, the flat search, new entries' place in the tree, and the check
// marks of the column tree (a check goes down to every descendant; an uncheck also goes up through the
// checked ancestors), the open folders and selection a rebuilt tree keeps, and the column tree's column
// texts and measures. Portable (no windows.h); UI
// thread of the page.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "feature_codes.h"
#include "page_sequence.h"

namespace dunmar {

using EntryPtr = std::shared_ptr<BookmarkItem>;

bool IsFolder(const BookmarkItem& entry);

class BookmarkModel {
public:
    int Sequence() const { return m_sequence.Current(); }
    const std::vector<EntryPtr>& Entries() const { return m_entries; }
    size_t MappedCount() const { return m_byIdentifier.size(); }
    EntryPtr Find(const std::wstring& identifier) const;

    // A batch of top-level entries: false when it is older than what the page holds (nothing changes);
    // `cleared` when it replaced everything.
    bool Accept(const ItemBatch<BookmarkItem>& batch, bool& cleared);
    // A reload: the held entries go at once, the identifier map with the next newer batch.
    void ClearEntries() { m_entries.clear(); }
    // Removes the first entry with `identifier` (depth first) with its subtree, and its subtree's
    // identifiers from the map; the removed entry, or null when none has it.
    EntryPtr Remove(const std::wstring& identifier);
    // Every held entry, nested ones too, whose name or URL folded contains `foldedQuery`, depth first.
    std::vector<BookmarkItem*> Search(const std::wstring& foldedQuery) const;

private:
    void MapSubtree(const EntryPtr& entry);
    void UnmapSubtree(const BookmarkItem& entry);

    pages::PageSequence m_sequence;
    std::vector<EntryPtr> m_entries;
    std::map<std::wstring, EntryPtr> m_byIdentifier;
};

// Every entry of `entry`'s subtree, the entry itself included.
std::set<const BookmarkItem*> SubtreeOf(const BookmarkItem& entry);

// A new entry for the add codes 11 (folder) and 12 (page) next to or inside `target` (null: top level): a
// page target gives its parent reference and its position + 1, a folder target holds the new entry at 0.
std::unique_ptr<BookmarkItem> NewEntry(int64_t dialogKind, const BookmarkItem* target, const std::wstring& identifier);

// The check marks of a tree whose nodes the `Tree` type reaches: Parent, FirstChild, NextSibling (null at
// the end), Checked and SetChecked.
template <typename Tree, typename Node>
void SetSubtreeChecked(Tree& tree, Node node, bool checked) {
    for (Node child = tree.FirstChild(node); child != nullptr; child = tree.NextSibling(child)) {
        tree.SetChecked(child, checked);
        SetSubtreeChecked(tree, child, checked);
    }
}

// A click on `node`'s check box: flips it, gives the new mark to all descendants, and on an uncheck
// unchecks the ancestors upward until one that already is unchecked.
template <typename Tree, typename Node>
void ToggleCheck(Tree& tree, Node node) {
    const bool checked = !tree.Checked(node);
    tree.SetChecked(node, checked);
    SetSubtreeChecked(tree, node, checked);
    if (checked) return;
    for (Node parent = tree.Parent(node); parent != nullptr && tree.Checked(parent); parent = tree.Parent(parent)) {
        tree.SetChecked(parent, false);
    }
}

// What a rebuilt tree keeps of the one the user looked at, by identifier (the rebuild brings new records
// and new items): the open folders and the selected entry.
struct KeptTreeState {
    std::set<std::wstring> open;
    std::wstring selected;
};

// Adds the identifiers of the open nodes from `first` on, depth first, to `open`; closed folders are
// visited too, so a folder open inside a closed one stays open once its parent is opened again.
// `identifierOf(node)` gives a node's identifier (null when it has no record).
template <typename Tree, typename Node, typename IdentifierOf>
void CollectOpen(Tree& tree, Node first, IdentifierOf identifierOf, std::set<std::wstring>& open) {
    for (Node node = first; node != nullptr; node = tree.NextSibling(node)) {
        const std::wstring* identifier = identifierOf(node);
        if (identifier != nullptr && tree.Expanded(node)) open.insert(*identifier);
        CollectOpen(tree, tree.FirstChild(node), identifierOf, open);
    }
}

// Opens the nodes from `first` on, depth first, whose identifiers `kept` holds as open; the node with the
// kept selection's identifier, or null when none has it.
template <typename Tree, typename Node, typename IdentifierOf>
Node Reopen(Tree& tree, Node first, IdentifierOf identifierOf, const KeptTreeState& kept) {
    Node selected = nullptr;
    for (Node node = first; node != nullptr; node = tree.NextSibling(node)) {
        const std::wstring* identifier = identifierOf(node);
        if (identifier != nullptr && kept.open.count(*identifier) != 0) tree.Expand(node);
        if (identifier != nullptr && selected == nullptr && !kept.selected.empty() && *identifier == kept.selected) {
            selected = node;
        }
        const Node inner = Reopen(tree, tree.FirstChild(node), identifierOf, kept);
        if (selected == nullptr) selected = inner;
    }
    return selected;
}

// The text of column `column` of a column-tree item whose text holds the column texts separated by tabs:
// column 0 is the text before the first tab, a further column the next part, the last of `columnCount`
// columns the whole rest; empty when the text has no part for the column.
std::wstring ColumnPart(const std::wstring& text, int column, int columnCount);

// The column tree's measures from the common controls' major version (0 when it cannot be read) and the
// height of a letter in the tree's font: controls of version 6 and later draw a taller header, and their
// cells' texts stand further in.
struct ColumnTreeMetrics {
    int headerHeight = 0;
    int textIndent = 0;  // of columns 1 and up
};
ColumnTreeMetrics ColumnTreeMetricsFor(int commonControlsMajorVersion, int letterHeight);

// The checked nodes from `first` on, depth first. With `takeSubtrees`, a checked node stands for its
// subtree, which is not visited (a delete); else every checked node is listed (an export).
template <typename Tree, typename Node>
void CollectChecked(Tree& tree, Node first, bool takeSubtrees, std::vector<Node>& out) {
    for (Node node = first; node != nullptr; node = tree.NextSibling(node)) {
        const bool checked = tree.Checked(node);
        if (checked) out.push_back(node);
        if (!(checked && takeSubtrees)) CollectChecked(tree, tree.FirstChild(node), takeSubtrees, out);
    }
}

}  // namespace dunmar
