#pragma once
// The backup manager's list as the plug-in keeps it: the backups by key and in list order, the rules for
// records that arrive twice, sizes, deletions, the sort by time and the status line. Portable (no window):
// the manager window mirrors this list in its rows. UI thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup_records.h"

namespace brisel {

using BackupPtr = std::shared_ptr<iOSBackup>;

// "product version (build version)".
std::wstring VersionText(const iOSBackup& backup);

// The time column's text: the backup's time, after "(unfinished) " for one that a run left unfinished.
std::wstring TimeText(const iOSBackup& backup);

// The lists' time and size columns (after the icon and the name columns).
constexpr int kTimeColumn = 2;
constexpr int kSizeColumn = 3;

// Column widths as `shares` (hundredths) of `width`, moved so that each column gets the width its texts
// need (`needed`, one per column) where others can spare it: a column narrower than it needs takes from the
// columns wider than they need, in proportion to what each can spare. The columns `first` (a time and a
// size, which say nothing cut short) are served before the others, from every other column in proportion
// to its width when nothing is spare; what is left is shared among the others in proportion to what each
// lacks. The widths always add up to the shares' total.
std::vector<int> FitColumns(const std::vector<int>& shares, int width, const std::vector<int>& needed,
                            const std::vector<int>& first);

class BackupList {
public:
    // False (and nothing changes) when a backup with the same key is listed already.
    bool Add(BackupPtr backup);
    // False when the key is not listed.
    bool SetSize(const std::wstring& key, int64_t size);
    // The row the backup had, or -1 when the key is not listed.
    int Remove(const std::wstring& key);
    void Clear();
    // Newest first: descending order of the time texts.
    void SortByTime();

    const std::vector<BackupPtr>& Items() const { return m_items; }
    const iOSBackup* At(int row) const;
    // "N backup(s), <total size>".
    std::wstring SummaryText() const;
    // The keys of the rows flagged in `checked` (one flag per row, in list order).
    std::vector<std::wstring> KeysOf(const std::vector<bool>& checked) const;
    // Appends to `out` every backup whose device identifier contains `deviceKey`.
    void AppendForDevice(const std::wstring& deviceKey, std::vector<BackupPtr>& out) const;

private:
    std::vector<BackupPtr> m_items;
    std::map<std::wstring, BackupPtr> m_byKey;
};

}  // namespace brisel
