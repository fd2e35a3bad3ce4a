#pragma once
// The relay module's notes and bookmarks actions in service mode: the host's writes, deletions, imports
// and exports under ZERITH_COMMAND_DO_NOTE and ZERITH_COMMAND_DO_BOOKMARK (the listings are
// relay_lists.h's). Each feature's source (relay_notes.cpp, relay_bookmarks.cpp) turns a request into
// steps, device-service requests that run one at a time in the order they were asked for, and answers
// the host when its last step is done:
//   notes     59 save (1201), 62 import an XML backup (1201 per note); both answer 59 or 62 with the
//             added notes and the new count; 60 and 61 write the checked notes as XML or HTML.
//   bookmarks 106 add or edit (1401, then a fresh listing), 104 import an XML backup into the held tree
//             (1401, then a fresh listing), 105 delete (1402 per entry; 105 per removed entry with the
//             new count); 102 and 103 write the checked entries as HTML or XML.
// Exports are written into the chosen folder at once and never replace a file (WriteExport).
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_message.h"
#include "list_records.h"
#include "relay_feature.h"
#include "relay_lists.h"
#include "relay_wire.h"

namespace relay {

// What a step's request got back: the last reply's code (kStepNotSent when it was never sent or the
// service went away), the data parts of the replies, and the count ({"Count": n}) that any of them
// reported.
constexpr std::int64_t kStepNotSent = -1;
struct StepResult {
    std::int64_t code = kStepNotSent;
    std::vector<std::string> parts;
    std::optional<std::int64_t> count;
};

struct ActionStep {
    std::string device;
    std::uint32_t serviceCode = 0;
    std::string data;
    std::function<void(const StepResult&)> done;
};

class ActionsService final : public RelayFeature {
public:
    ActionsService(RelayLink& link, ListsService& lists) : m_link(link), m_lists(lists) {}

    // A host request; false when it is none of the notes and bookmarks actions. Takes over the payloads
    // the request hands over.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers none of this service's steps.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: the running step and the queued ones end as not sent.
    void OnServiceGone() override;

    // For the features' sources.
    RelayLink& Link() { return m_link; }
    void Queue(ActionStep step);
    // An answer under `name` whose `payload` (freed by `release` when undelivered) carries what changed,
    // and `countLeft` the feature's count after the change.
    void Answer(const char* name, const std::string& device, std::int64_t code, void* payload, std::int64_t countLeft,
                ReleasePayloadFunction release);
    // A fresh listing of the feature `name` (its list request `code`) for `device`, as the host asks for it.
    void Relist(const char* name, std::int64_t code, const std::string& device);

private:
    void StartNext();
    void Finish(StepResult result);

    RelayLink& m_link;
    ListsService& m_lists;
    std::deque<ActionStep> m_queue;
    std::uint64_t m_running = 0;  // request id of the step at the queue's front; 0: none
    StepResult m_result;
};

// Each feature's actions; false when `message.code` is not one of them.
bool HandleNoteAction(ActionsService& service, CommandMessage& message);
bool HandleBookmarkAction(ActionsService& service, CommandMessage& message);

// The export files (UTF-8) and their names. Notes: an HTML table of title, content and time, and the
// XML backup <notesBackup version="1"><note><title/><content/><time/></note>...</notesBackup>.
// Bookmarks: the entries in tree order, each nested in its folder when that folder is exported too: an
// HTML list of links, and the XML backup <bookmarksBackup version="1"><folder name><bookmark name url/>
// </folder></bookmarksBackup>. Null entries are skipped.
constexpr wchar_t kNotesHtmlFileName[] = L"Notes.html";
constexpr wchar_t kNotesXmlFileName[] = L"Notes.xml";
constexpr wchar_t kBookmarksHtmlFileName[] = L"Bookmarks.html";
constexpr wchar_t kBookmarksXmlFileName[] = L"Bookmarks.xml";
std::string ComposeNotesHtml(const std::vector<const NoteItem*>& notes);
std::string ComposeNotesXml(const std::vector<const NoteItem*>& notes);
std::string ComposeBookmarksHtml(const std::vector<const BookmarkItem*>& entries);
std::string ComposeBookmarksXml(const std::vector<const BookmarkItem*>& entries);

// The backups read back: false, with a short reason in `error`, when `bytes` is not one.
[[nodiscard]] bool ReadNotesXml(const std::string& bytes, std::vector<NoteItem>& notes, std::string& error);
// The top-level entries with their children (identifiers empty, positions in file order).
[[nodiscard]] bool ReadBookmarksXml(const std::string& bytes, std::vector<std::shared_ptr<BookmarkItem>>& entries,
                                    std::string& error);

}  // namespace relay
