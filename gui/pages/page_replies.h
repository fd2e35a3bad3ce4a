#pragma once
// How a page plug-in's receiver hands the host's replies to its page: one table row per reply code says
// the route, instead of a switch per plug-in. A reply whose code has a high half, or whose code has no
// row, is left alone (nothing is known of its payload). A reply for a device without a page is released
// here, since nobody else will take it; so is a batch older than the page's sequence and a payload whose
// post failed. Once posted, a payload is the page's.
//
// Portable (no windows.h): the window side supplies the page through ReplyTarget (DhPageDelegate.h).
// Runs on the thread that delivers the host's commands; it only reads the page's sequence and posts.

#include <cstddef>
#include <cstdint>

#include "command_message.h"
#include "feature_payload.h"

namespace pages {

enum class ReplyRoute {
    Post,            // posted to the page with its payload (`extra`)
    PostBare,        // posted without a payload
    PostBatch,       // an ItemBatch: released when older than the page's sequence, else posted; null is posted
    AnswerSequence,  // answered at once: the page's sequence in `status`; no payload
    AnswerWindow,    // answered at once: the page's window in `window`; no payload
};

struct ReplyRow {
    int64_t code;
    ReplyRoute route;
};

// One feature's reply table with the feature's payload release and the sequence of its batch payloads.
struct ReplyTable {
    const ReplyRow* rows;
    size_t count;
    ReleasePayloadFunction release;
    int64_t (*batchSequence)(int64_t code, const void* payload);

    const ReplyRow* Find(int64_t code) const;
};

// The page a reply is for, as the receiver sees it.
class ReplyTarget {
public:
    virtual int Sequence() const = 0;
    virtual TrvWindow Window() const = 0;
    // Posts the reply to the page's UI thread; false when the post failed (the payload stays the caller's).
    virtual bool Post(int64_t code, void* payload) const = 0;

protected:
    ~ReplyTarget() = default;
};

// Routes one reply (`message.code`, payload in `message.extra`) to `page`, which is null when the device
// has no page.
void DispatchReply(const ReplyTable& table, const ReplyTarget* page, CommandMessage& message);

}  // namespace pages
