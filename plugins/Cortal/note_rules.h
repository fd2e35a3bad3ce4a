#pragma once
// The notes page's rules: its search, its header sort and the order of the held notes once loading has
// finished. Portable (no windows.h); no state.

#include <memory>
#include <string>
#include <vector>

#include "note_codes.h"
#include "list_sort.h"

namespace cortal {

// The folded query in the title, the content or the further text, each folded; the time is not searched.
bool NoteMatches(const NoteItem& note, const std::wstring& foldedQuery);
// Column 1 titles, 2 contents, 3 time texts, each with the case-insensitive `compare`.
void SortNotes(std::vector<NoteItem*>& records, int column, bool ascending, pages::TextCompare compare);
// `text` on one line, as a list cell shows it: each run of line breaks becomes one space.
std::wstring OneLine(const std::wstring& text);
// A note's content as a person reads it: without its formatting tags (<b>, </div>, <span style=...>, ...;
// any other '<' stays, "<more>" among them), its character references (&amp;, &lt;, &#233; ...) as the
// characters they stand for, line-break tags (<br>, <div>, <p>, <li>) as line breaks and tabs as spaces.
std::wstring PlainText(const std::wstring& content);
// Greatest time text first (ordinal), once loading has finished.
void SortHeldByTime(std::vector<std::shared_ptr<NoteItem>>& held);

}  // namespace cortal
