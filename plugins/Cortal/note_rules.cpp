// The notes page's rules; see note_rules.h.
#include "note_rules.h"

#include <algorithm>

namespace cortal {

bool NoteMatches(const NoteItem& note, const std::wstring& foldedQuery) {
    return pages::ContainsFolded(note.title, foldedQuery) || pages::ContainsFolded(note.content, foldedQuery) ||
           pages::ContainsFolded(note.summary, foldedQuery);
}

void SortNotes(std::vector<NoteItem*>& records, int column, bool ascending, pages::TextCompare compare) {
    const std::wstring NoteItem::*field = nullptr;
    if (column == 1) field = &NoteItem::title;
    if (column == 2) field = &NoteItem::content;
    if (column == 3) field = &NoteItem::time;
    if (field == nullptr) return;
    pages::SortRecordsBy(records, ascending, [compare, field](const NoteItem& a, const NoteItem& b) {
        return compare((a.*field).c_str(), (b.*field).c_str());
    });
}

std::wstring OneLine(const std::wstring& text) {
    std::wstring line;
    line.reserve(text.size());
    for (wchar_t c : text) {
        const bool lineBreak = c == L'\n' || c == L'\r';
        if (!lineBreak) {
            line += c;
        } else if (line.empty() || line.back() != L' ') {
            line += L' ';
        }
    }
    return line;
}

void SortHeldByTime(std::vector<std::shared_ptr<NoteItem>>& held) {
    std::sort(held.begin(), held.end(), [](const std::shared_ptr<NoteItem>& a, const std::shared_ptr<NoteItem>& b) {
        return pages::CompareOrdinal(a->time.c_str(), b->time.c_str()) > 0;
    });
}

}  // namespace cortal
