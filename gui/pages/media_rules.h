#pragma once
// The search and sort rules of the voice-memo and ringtone pages. Portable (no windows.h); no state.

#include <string>
#include <vector>

#include "feature_codes.h"
#include "list_sort.h"

namespace pages {

// Voice memos: the folded query in the name folded with towlower, or in the date-created text as it is.
bool RecordingMatches(const RecordingItem& item, const std::wstring& foldedQuery);
// Column 1 names (case-insensitive `compare`), 2 time texts and 4 date-created texts (ordinal), 3 sizes.
void SortRecordings(std::vector<RecordingItem*>& records, int column, bool ascending, pages::TextCompare compare);
// The Size cell of a memo: its audio file's size as `sizeText` gives it, or, for a memo whose audio file the
// device lacks (the service reports no bytes for it), that there is no audio.
std::wstring RecordingSizeText(const RecordingItem& item, const std::wstring& sizeText);

// Ringtones: the folded query in the title folded with towlower; nothing else is searched.
bool RingtoneMatches(const RingtoneItem& item, const std::wstring& foldedQuery);
// Column 1 titles (case-insensitive `compare`), 2 time values, 6 sizes; columns 3 to 5 keep the order.
void SortRingtones(std::vector<RingtoneItem*>& records, int column, bool ascending, pages::TextCompare compare);

}  // namespace pages
