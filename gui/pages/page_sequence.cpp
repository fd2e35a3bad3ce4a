// The list pages' batch sequence rule; see page_sequence.h.
#include "page_sequence.h"

namespace pages {

BatchVerdict JudgeBatch(int current, int64_t batch) {
    const int64_t held = static_cast<int64_t>(current);
    if (batch < held) return BatchVerdict::Drop;
    return batch == held ? BatchVerdict::Append : BatchVerdict::Replace;
}

BatchVerdict PageSequence::Accept(int64_t batch) {
    const BatchVerdict verdict = JudgeBatch(Current(), batch);
    if (verdict == BatchVerdict::Replace) {
        // The page keeps an int; the batch's low 32 bits are what it compares from now on.
        m_value.store(static_cast<int>(static_cast<uint32_t>(batch)), std::memory_order_relaxed);
    }
    return verdict;
}

}  // namespace pages
