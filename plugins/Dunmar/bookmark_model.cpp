// The bookmarks page's model and rules; see bookmark_model.h.
#include "bookmark_model.h"

#include <algorithm>

#include "list_sort.h"

namespace dunmar {
namespace {

// Erases the first entry with `identifier` from `entries` or, depth first, from its children's vectors.
EntryPtr EraseFirst(std::vector<EntryPtr>& entries, const std::wstring& identifier) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (!*it) continue;
        if ((*it)->identifier == identifier) {
            EntryPtr removed = *it;
            entries.erase(it);
            return removed;
        }
        if (EntryPtr removed = EraseFirst((*it)->children, identifier)) return removed;
    }
    return nullptr;
}

void SearchInto(const std::vector<EntryPtr>& entries, const std::wstring& query, std::vector<BookmarkItem*>& found) {
    for (const EntryPtr& entry : entries) {
        if (!entry) continue;
        if (pages::ContainsFolded(entry->name, query) || pages::ContainsFolded(entry->url, query)) {
            found.push_back(entry.get());
        }
        SearchInto(entry->children, query, found);
    }
}

void AddSubtree(const BookmarkItem& entry, std::set<const BookmarkItem*>& out) {
    out.insert(&entry);
    for (const EntryPtr& child : entry.children) {
        if (child) AddSubtree(*child, out);
    }
}

}  // namespace

bool IsFolder(const BookmarkItem& entry) { return entry.kind != kBookmarkKind; }

EntryPtr BookmarkModel::Find(const std::wstring& identifier) const {
    auto it = m_byIdentifier.find(identifier);
    return it == m_byIdentifier.end() ? nullptr : it->second;
}

bool BookmarkModel::Accept(const ItemBatch<BookmarkItem>& batch, bool& cleared) {
    cleared = false;
    const pages::BatchVerdict verdict = m_sequence.Accept(batch.sequence);
    if (verdict == pages::BatchVerdict::Drop) return false;
    if (verdict == pages::BatchVerdict::Replace) {
        m_entries.clear();
        m_byIdentifier.clear();
        cleared = true;
    }
    for (const EntryPtr& entry : batch.items) {
        if (!entry) continue;
        m_entries.push_back(entry);
        MapSubtree(entry);
    }
    return true;
}

void BookmarkModel::MapSubtree(const EntryPtr& entry) {
    m_byIdentifier.emplace(entry->identifier, entry);  // an identifier already there keeps its first entry
    for (const EntryPtr& child : entry->children) {
        if (child) MapSubtree(child);
    }
}

void BookmarkModel::UnmapSubtree(const BookmarkItem& entry) {
    for (const EntryPtr& child : entry.children) {
        if (child) UnmapSubtree(*child);
    }
    m_byIdentifier.erase(entry.identifier);
}

EntryPtr BookmarkModel::Remove(const std::wstring& identifier) {
    EntryPtr removed = EraseFirst(m_entries, identifier);
    if (!removed) removed = Find(identifier);  // mapped but no longer held (after a reload)
    if (removed) UnmapSubtree(*removed);
    return removed;
}

std::vector<BookmarkItem*> BookmarkModel::Search(const std::wstring& foldedQuery) const {
    std::vector<BookmarkItem*> found;
    SearchInto(m_entries, foldedQuery, found);
    return found;
}

std::set<const BookmarkItem*> SubtreeOf(const BookmarkItem& entry) {
    std::set<const BookmarkItem*> out;
    AddSubtree(entry, out);
    return out;
}

std::unique_ptr<BookmarkItem> NewEntry(int64_t dialogKind, const BookmarkItem* target, const std::wstring& identifier) {
    auto entry = std::make_unique<BookmarkItem>();
    entry->identifier = identifier;
    entry->kind = dialogKind == sdk::bookmarks::kFolderDialog ? kBookmarkFolderKind : kBookmarkKind;
    if (target == nullptr) return entry;
    if (IsFolder(*target)) {
        entry->parent = {{L"identifier", target->identifier}};
        entry->position = 0;
    } else {
        entry->parent = target->parent;
        entry->position = target->position + 1;
    }
    return entry;
}

std::wstring ColumnPart(const std::wstring& text, int column, int columnCount) {
    size_t start = 0;
    for (int i = 0; i < column; ++i) {
        const size_t tab = text.find(L'\t', start);
        if (tab == std::wstring::npos) return std::wstring();
        start = tab + 1;
    }
    if (column > 0 && column == columnCount - 1) return text.substr(start);
    const size_t end = text.find(L'\t', start);
    return text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

ColumnTreeMetrics ColumnTreeMetricsFor(int commonControlsMajorVersion, int letterHeight) {
    const bool newControls = commonControlsMajorVersion > 5;
    ColumnTreeMetrics metrics;
    metrics.headerHeight = letterHeight + 4 + (newControls ? 3 : 0);
    metrics.textIndent = newControls ? 9 : 6;
    return metrics;
}

}  // namespace dunmar
