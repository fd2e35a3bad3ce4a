// The list pages' portable rules: the batch sequence rule at its edges and the receiver's reply routing
// (what is posted, what is answered at once, what is released and when).
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <utility>
#include <vector>

#include "feature_codes.h"
#include "note_codes.h"
#include "page_replies.h"
#include "page_sequence.h"

using pages::BatchVerdict;

TEST(PageSequence, LowerDropsEqualAppendsHigherReplacesWithTheLow32Bits) {
    EXPECT_EQ(pages::JudgeBatch(5, 4), BatchVerdict::Drop);
    EXPECT_EQ(pages::JudgeBatch(5, 5), BatchVerdict::Append);
    EXPECT_EQ(pages::JudgeBatch(5, 6), BatchVerdict::Replace);
    EXPECT_EQ(pages::JudgeBatch(-1, 0), BatchVerdict::Replace) << "the page's int is widened with its sign";

    pages::PageSequence sequence;
    EXPECT_EQ(sequence.Accept(3), BatchVerdict::Replace);
    EXPECT_EQ(sequence.Current(), 3);
    EXPECT_EQ(sequence.Accept(2), BatchVerdict::Drop);
    EXPECT_EQ(sequence.Accept(3), BatchVerdict::Append);
    EXPECT_EQ(sequence.Current(), 3);
    EXPECT_EQ(sequence.Accept(0x100000007LL), BatchVerdict::Replace);
    EXPECT_EQ(sequence.Current(), 7) << "the page keeps the batch's low 32 bits";
}

namespace {

enum : int64_t { kPlain = 1, kBare = 2, kBatch = 3, kQuery = 4, kWindowQuery = 5 };
const pages::ReplyRow kRows[] = {{kPlain, pages::ReplyRoute::Post},
                                 {kBare, pages::ReplyRoute::PostBare},
                                 {kBatch, pages::ReplyRoute::PostBatch},
                                 {kQuery, pages::ReplyRoute::AnswerSequence},
                                 {kWindowQuery, pages::ReplyRoute::AnswerWindow}};

std::vector<std::pair<int64_t, void*>> g_released;
void Release(PayloadLeg leg, int64_t code, void* payload) {
    if (leg == PayloadLeg::PageReply && payload != nullptr) g_released.emplace_back(code, payload);
}
// A batch payload here is an int64_t holding its sequence.
int64_t SequenceOf(int64_t, const void* payload) { return *static_cast<const int64_t*>(payload); }
const pages::ReplyTable kTable{kRows, sizeof(kRows) / sizeof(kRows[0]), &Release, &SequenceOf};

struct FakePage : pages::ReplyTarget {
    int sequence = 5;
    bool postWorks = true;
    mutable std::vector<std::pair<int64_t, void*>> posted;
    int Sequence() const override { return sequence; }
    TrvWindow Window() const override { return const_cast<FakePage*>(this); }
    bool Post(int64_t code, void* payload) const override {
        if (postWorks) posted.emplace_back(code, payload);
        return postWorks;
    }
};

// Dispatches one reply and returns it, for `status`.
CommandMessage Dispatch(const FakePage* page, int64_t code, void* payload) {
    CommandMessage message{};
    message.code = code;
    message.extra = payload;
    message.status = -9;
    pages::DispatchReply(kTable, page, message);
    return message;
}

using Sent = std::vector<std::pair<int64_t, void*>>;

}  // namespace

TEST(PageReplies, PostsByRowAndReleasesWhatNoPageTakes) {
    g_released.clear();
    FakePage page;
    int64_t older = 4, equal = 5, newer = 6;
    int payload = 0;
    Dispatch(&page, kPlain, &payload);
    Dispatch(&page, kBare, &payload);
    Dispatch(&page, kBatch, &older);
    Dispatch(&page, kBatch, &equal);
    Dispatch(&page, kBatch, &newer);
    Dispatch(&page, kBatch, nullptr);
    EXPECT_EQ(page.posted,
              (Sent{{kPlain, &payload}, {kBare, nullptr}, {kBatch, &equal}, {kBatch, &newer}, {kBatch, nullptr}}));
    EXPECT_EQ(g_released, (Sent{{kBatch, &older}})) << "an older batch is released, never posted";

    EXPECT_EQ(Dispatch(&page, kQuery, nullptr).status, 5);
    EXPECT_EQ(Dispatch(nullptr, kQuery, nullptr).status, -9) << "no page, no answer";
    EXPECT_EQ(Dispatch(&page, kWindowQuery, nullptr).window, page.Window());
    EXPECT_EQ(Dispatch(nullptr, kWindowQuery, nullptr).window, nullptr);
    EXPECT_EQ(page.posted.size(), 5u) << "answers are never posted";

    g_released.clear();
    page.posted.clear();
    Dispatch(nullptr, kPlain, &payload);
    page.postWorks = false;
    Dispatch(&page, kBatch, &newer);
    Dispatch(&page, 99, &payload);                    // no row: nothing known of its payload
    Dispatch(&page, kPlain | (1LL << 32), &payload);  // a high half: not a code of ours
    EXPECT_TRUE(page.posted.empty());
    EXPECT_EQ(g_released, (Sent{{kPlain, &payload}, {kBatch, &newer}}))
        << "a reply without a page and a failed post are released; unknown codes are left alone";
}

// The list pages' payload releases: a reply for a device without a page frees what it carries (the
// sanitizer build reports a leak otherwise), and a stale batch is freed rather than posted.
TEST(PageReplies, ListPagePayloadsAreReleasedWhenNoPageTakesThem) {
    const pages::ReplyRow rows[] = {{1, pages::ReplyRoute::PostBatch}, {7, pages::ReplyRoute::Post}};
    const pages::ReplyTable notesTable{rows, 2, &sdk::notes::ReleasePayload, &BatchSequenceOf<NoteItem>};
    auto deliver = [](const pages::ReplyTable& table, const FakePage* page, int64_t code, void* payload) {
        CommandMessage message{};
        message.code = code;
        message.extra = payload;
        pages::DispatchReply(table, page, message);
    };
    auto* notesBatch = new ItemBatch<NoteItem>();
    notesBatch->items.push_back(std::make_shared<NoteItem>());
    deliver(notesTable, nullptr, sdk::notes::kReplyLoaded, notesBatch);
    deliver(notesTable, nullptr, sdk::notes::kReplyChanged,
            new std::vector<std::shared_ptr<NoteItem>>{std::make_shared<NoteItem>()});

    const pages::ReplyRow markRows[] = {{6, pages::ReplyRoute::Post}, {7, pages::ReplyRoute::PostBatch}};
    const pages::ReplyTable marks{markRows, 2, &sdk::bookmarks::ReleasePayload, &BatchSequenceOf<BookmarkItem>};
    deliver(marks, nullptr, sdk::bookmarks::kReplyRemoved, wcsdup(L"id"));
    FakePage page;  // sequence 5: a batch of sequence 1 is stale
    auto* stale = new ItemBatch<BookmarkItem>();
    stale->sequence = 1;
    stale->items.push_back(std::make_shared<BookmarkItem>());
    deliver(marks, &page, sdk::bookmarks::kReplyLoaded, stale);
    EXPECT_TRUE(page.posted.empty());

    const pages::ReplyRow mediaRows[] = {{6, pages::ReplyRoute::PostBatch}};
    const pages::ReplyTable media{mediaRows, 1, &sdk::ringtones::ReleasePayload, &BatchSequenceOf<RingtoneItem>};
    deliver(media, nullptr, sdk::recordings::kReplyLoaded, new ItemBatch<RingtoneItem>());
}
