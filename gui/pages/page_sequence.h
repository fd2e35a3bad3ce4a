#pragma once
// The batch sequence rule of the list pages. Each items-loaded batch carries a 64-bit sequence; the page
// keeps the sequence of the last batch it accepted as an int. A batch below it is dropped (an answer to a
// request the page has since replaced), an equal one is appended to what the page holds, a higher one
// replaces everything and becomes the page's sequence (its low 32 bits). The comparison widens the page's
// int with its sign.
//
// Portable (no windows.h): compiled into the page plug-ins and the native tests. The page's UI thread
// accepts batches; the plug-in's receiver may read Current() from the thread that delivers commands (one
// aligned int).

#include <atomic>
#include <cstdint>

namespace pages {

enum class BatchVerdict { Drop, Append, Replace };

// What a page whose sequence is `current` does with a batch of sequence `batch`.
BatchVerdict JudgeBatch(int current, int64_t batch);

class PageSequence {
public:
    int Current() const { return m_value.load(std::memory_order_relaxed); }
    // Judges the batch and, on Replace, adopts its sequence.
    BatchVerdict Accept(int64_t batch);

private:
    std::atomic<int> m_value{0};
};

}  // namespace pages
