// Reading a copy of the device's message database (sms.db) and sending its conversations to the
// desktop: one chat object per conversation, newest first, each followed by its messages in arrays
// of at most kMessagesPerReply. Two table layouts are read: the current one (message, handle, chat
// and their join tables) and the oldest one (message rows keyed by address). The database is
// opened read-only in place, never created: the file is the service's own copy of a backup's database.
//
// Threads: any worker; no shared state.
#pragma once

#include <cstddef>
#include <string>

namespace hlx {

class FeatureRequest;

inline constexpr size_t kMessagesPerReply = 50;

// Reads the database at `path` and sends the conversations as intermediate replies of the request.
// kReplySuccess (also when the layout holds no conversation, or is one that is not read: nothing is
// sent then), kReplyDatabaseNotOpened when the path is empty or the file cannot be opened,
// kReplyStatementFailed when it is no SQLite database or a statement fails (or passes the bounds of
// hlx_sqlite.h), kReplyCancelled when the request was cancelled.
[[nodiscard]] int QuerySmsDb(const FeatureRequest& request, const std::string& path);

}  // namespace hlx
