#pragma once
// The counters and status line of a progress run, shared between the reports that arrive on the relay
// module's threads and the progress dialog that paints them from its timer on the UI thread. Counts are
// 64-bit, so byte counts of large downloads neither wrap nor overflow the bar's arithmetic. Any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace trv {

class ProgressState {
public:
    std::atomic<int64_t> total{0};
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> failed{0};
    // Set when the run has ended (the finish report, or a cancel); the dialog then shows its summary.
    std::atomic<bool> finished{false};

    void SetStatusText(const std::wstring& text);
    std::wstring StatusText() const;
    // A new run: counters, flag and status line cleared.
    void Reset();

private:
    mutable std::mutex m_textLock;
    std::wstring m_status;
};

// What a finished run shows: "Finish", or "Failed(<n>)" followed by a blank and the last status when there
// is one; with failures the done count shown is the total less the failures.
struct ProgressSummary {
    std::wstring status;
    int64_t done;
};
ProgressSummary SummarizeProgress(int64_t total, int64_t done, int64_t failed, const std::wstring& lastStatus);

}  // namespace trv
