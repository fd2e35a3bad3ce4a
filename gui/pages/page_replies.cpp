// The page plug-ins' reply routing; see page_replies.h.
#include "page_replies.h"

#include "page_sequence.h"

namespace pages {

const ReplyRow* ReplyTable::Find(int64_t code) const {
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].code == code) return &rows[i];
    }
    return nullptr;
}

void DispatchReply(const ReplyTable& table, const ReplyTarget* page, CommandMessage& message) {
    const int64_t code = message.code;
    if ((static_cast<uint64_t>(code) >> 32) != 0) return;
    const ReplyRow* row = table.Find(code);
    if (row == nullptr) return;
    if (row->route == ReplyRoute::AnswerSequence) {
        if (page != nullptr) message.status = static_cast<int64_t>(page->Sequence());
        return;
    }
    if (row->route == ReplyRoute::AnswerWindow) {
        if (page != nullptr) message.window = page->Window();
        return;
    }
    void* payload = message.extra;
    if (page == nullptr) {
        table.release(PayloadLeg::PageReply, code, payload);
        return;
    }
    if (row->route == ReplyRoute::PostBare) {
        payload = nullptr;
    } else if (row->route == ReplyRoute::PostBatch && payload != nullptr &&
               JudgeBatch(page->Sequence(), table.batchSequence(code, payload)) == BatchVerdict::Drop) {
        // Older than what the page shows: the page never sees it.
        table.release(PayloadLeg::PageReply, code, payload);
        return;
    }
    if (!page->Post(code, payload)) table.release(PayloadLeg::PageReply, code, payload);
}

}  // namespace pages
