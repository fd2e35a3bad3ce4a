// Progress state; see progress_state.h.
#include "progress_state.h"

namespace trv {

void ProgressState::SetStatusText(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(m_textLock);
    m_status = text;
}

std::wstring ProgressState::StatusText() const {
    std::lock_guard<std::mutex> lock(m_textLock);
    return m_status;
}

void ProgressState::Reset() {
    total = 0;
    done = 0;
    failed = 0;
    finished = false;
    SetStatusText(std::wstring());
}

ProgressSummary SummarizeProgress(int64_t total, int64_t done, int64_t failed, const std::wstring& lastStatus) {
    if (failed == 0) {
        return ProgressSummary{L"Finish", done};
    }
    std::wstring status = L"Failed(" + std::to_wstring(failed) + L")";
    if (!lastStatus.empty()) {
        status += L" " + lastStatus;
    }
    return ProgressSummary{status, total - failed};
}

}  // namespace trv
