// The voice-memo and ringtone pages' rules; see media_rules.h.
#include "media_rules.h"

namespace pages {

bool RecordingMatches(const RecordingItem& item, const std::wstring& foldedQuery) {
    return pages::ContainsFolded(item.name, foldedQuery) || item.dateCreated.find(foldedQuery) != std::wstring::npos;
}

std::wstring RecordingSizeText(const RecordingItem& item, const std::wstring& sizeText) {
    return item.size > 0 ? sizeText : L"No audio file";
}

void SortRecordings(std::vector<RecordingItem*>& records, int column, bool ascending, pages::TextCompare compare) {
    using R = RecordingItem;
    switch (column) {
    case 1:
        pages::SortRecordsBy(records, ascending,
                             [compare](const R& a, const R& b) { return compare(a.name.c_str(), b.name.c_str()); });
        break;
    case 2:
        pages::SortRecordsBy(records, ascending, [](const R& a, const R& b) { return a.time.compare(b.time); });
        break;
    case 3:
        pages::SortRecordsBy(records, ascending,
                             [](const R& a, const R& b) { return pages::CompareNumbers(a.size, b.size); });
        break;
    case 4:
        pages::SortRecordsBy(records, ascending,
                             [](const R& a, const R& b) { return a.dateCreated.compare(b.dateCreated); });
        break;
    default: break;
    }
}

bool RingtoneMatches(const RingtoneItem& item, const std::wstring& foldedQuery) {
    return pages::ContainsFolded(item.title, foldedQuery);
}

void SortRingtones(std::vector<RingtoneItem*>& records, int column, bool ascending, pages::TextCompare compare) {
    using R = RingtoneItem;
    switch (column) {
    case 1:
        pages::SortRecordsBy(records, ascending,
                             [compare](const R& a, const R& b) { return compare(a.title.c_str(), b.title.c_str()); });
        break;
    case 2:
        pages::SortRecordsBy(records, ascending,
                             [](const R& a, const R& b) { return pages::CompareNumbers(a.timeValue, b.timeValue); });
        break;
    case 6:
        pages::SortRecordsBy(records, ascending,
                             [](const R& a, const R& b) { return pages::CompareNumbers(a.size, b.size); });
        break;
    default: break;  // Artist, Album and Genre are empty: the arrow moves, the order stays
    }
}

}  // namespace pages
