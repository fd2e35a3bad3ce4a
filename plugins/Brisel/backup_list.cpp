#include "backup_list.h"

#include <algorithm>
#include <cwchar>

#include "vnl_size_text.h"

namespace brisel {

std::wstring VersionText(const iOSBackup& backup) { return backup.productVersion + L" (" + backup.buildVersion + L")"; }

std::wstring TimeText(const iOSBackup& backup) {
    // The mark first, so that it is read even where the column cuts the time short.
    return backup.incomplete ? L"(unfinished) " + backup.time : backup.time;
}

namespace {

// Moves width from the columns wider than `needed` to those narrower, as FitColumns describes.
void MoveToNeeds(std::vector<int>& widths, const std::vector<int>& needed) {
    int64_t lacking = 0, spare = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        if (needed[i] > widths[i]) lacking += needed[i] - widths[i];
        if (needed[i] < widths[i]) spare += widths[i] - needed[i];
    }
    const int64_t moved = std::min(lacking, spare);
    if (moved == 0) return;
    int64_t given = 0, taken = 0;
    size_t roomiest = 0;  // the column with the most to spare takes the rounding
    for (size_t i = 0; i < widths.size(); ++i) {
        if (widths[i] - needed[i] > widths[roomiest] - needed[roomiest]) roomiest = i;
        if (needed[i] > widths[i]) {
            const int64_t more = (needed[i] - widths[i]) * moved / lacking;
            widths[i] += static_cast<int>(more);
            given += more;
        } else if (needed[i] < widths[i]) {
            const int64_t less = (widths[i] - needed[i]) * moved / spare;
            widths[i] -= static_cast<int>(less);
            taken += less;
        }
    }
    widths[roomiest] += static_cast<int>(taken - given);
}

}  // namespace

std::vector<int> FitColumns(const std::vector<int>& shares, int width, const std::vector<int>& needed,
                            const std::vector<int>& first) {
    std::vector<int> widths;
    for (int share : shares) widths.push_back(width * share / 100);
    std::vector<int> need(widths.size(), 0);
    for (size_t i = 0; i < need.size() && i < needed.size(); ++i) need[i] = needed[i];
    auto isFirst = [&first](size_t column) {
        return std::find(first.begin(), first.end(), static_cast<int>(column)) != first.end();
    };
    // First only the columns `first` need anything: each other column can give all of its width; the
    // first ones end at their needs (or wider), so the second round takes nothing from them.
    std::vector<int> firstNeed(need.size(), 0);
    bool anyFirst = false;
    for (size_t i = 0; i < need.size(); ++i) {
        if (isFirst(i)) {
            firstNeed[i] = need[i];
            anyFirst = true;
        }
    }
    if (anyFirst) MoveToNeeds(widths, firstNeed);
    for (size_t i = 0; i < need.size(); ++i) {
        if (isFirst(i)) need[i] = std::min(need[i], widths[i]);  // what it has is what it keeps
    }
    MoveToNeeds(widths, need);
    return widths;
}

bool BackupList::Add(BackupPtr backup) {
    if (!backup || !m_byKey.emplace(backup->key, backup).second) return false;
    m_items.push_back(std::move(backup));
    return true;
}

bool BackupList::SetSize(const std::wstring& key, int64_t size) {
    auto it = m_byKey.find(key);
    if (it == m_byKey.end()) return false;
    it->second->size = size;
    return true;
}

int BackupList::Remove(const std::wstring& key) {
    if (m_byKey.erase(key) == 0) return -1;
    auto it = std::find_if(m_items.begin(), m_items.end(), [&key](const BackupPtr& b) { return b->key == key; });
    const int row = static_cast<int>(it - m_items.begin());
    m_items.erase(it);
    return row;
}

void BackupList::Clear() {
    m_items.clear();
    m_byKey.clear();
}

void BackupList::SortByTime() {
    std::stable_sort(m_items.begin(), m_items.end(),
                     [](const BackupPtr& a, const BackupPtr& b) { return a->time > b->time; });
}

const iOSBackup* BackupList::At(int row) const {
    return row >= 0 && row < static_cast<int>(m_items.size()) ? m_items[static_cast<size_t>(row)].get() : nullptr;
}

std::wstring BackupList::SummaryText() const {
    uint64_t total = 0;
    for (const BackupPtr& backup : m_items) total += static_cast<uint64_t>(std::max<int64_t>(backup->size, 0));
    return std::to_wstring(m_items.size()) + L" backup(s), " + vnl::FormatByteSize(total);
}

std::vector<std::wstring> BackupList::KeysOf(const std::vector<bool>& checked) const {
    std::vector<std::wstring> keys;
    for (size_t row = 0; row < checked.size() && row < m_items.size(); ++row) {
        if (checked[row]) keys.push_back(m_items[row]->key);
    }
    return keys;
}

void BackupList::AppendForDevice(const std::wstring& deviceKey, std::vector<BackupPtr>& out) const {
    for (const BackupPtr& backup : m_items) {
        if (backup->deviceIdentifier.find(deviceKey) != std::wstring::npos) out.push_back(backup);
    }
}

}  // namespace brisel
