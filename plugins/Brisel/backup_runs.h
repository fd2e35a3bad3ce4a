#pragma once
// The backups and restores the manager handed to the host and what became of them, as its status line
// tells a user: the progress of each run while it runs, then its outcome in words (finished, or failed and
// why: the device was disconnected, the password is wrong, the disk is full, it was cancelled ...), a
// restore that finished saying that the device restarts. Runs are kept by device; a new run of a device
// replaces its earlier one. Portable (no window); UI thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "backup_records.h"

namespace brisel {

// The words for the device service's result `code` of a failed backup or restore; `serviceText` (the
// service's own text) is used for codes that have no words of their own.
std::wstring FailureReason(int64_t code, const std::wstring& serviceText);

class BackupRuns {
public:
    // A run of `kind` for the device `key` named `name` was handed to the host.
    void Start(sdk::backups::RunKind kind, const std::wstring& key, const std::wstring& name);
    // The relay's report on a run; a report on a device started nowhere here is shown under its key.
    // False when nothing shown changes.
    bool Apply(const sdk::backups::BackupRunReport& report);
    // Forgets the runs that have ended (their outcome has been on screen).
    void ForgetEnded();

    // A run's line as shown, and whether it tells of a failure.
    struct Line {
        std::wstring text;
        bool failed = false;
    };
    // Each run's line, newest first.
    std::vector<Line> Lines() const;
    // Those lines joined by blanks; empty when there is none.
    std::wstring Text() const;
    // True when a run shown has failed.
    bool HasFailure() const;
    // The percent of the newest run that still runs; -1 when none runs.
    int RunningPercent() const;

private:
    struct Run {
        sdk::backups::RunKind kind;
        std::wstring key;
        std::wstring name;
        int percent = 0;
        bool ended = false;
        int64_t resultCode = 0;
        std::wstring reason;
    };
    static std::wstring LineOf(const Run& run);

    std::vector<Run> m_runs;  // oldest first
};

}  // namespace brisel
