#pragma once
// The relay module's actions in service mode: the host's writes, deletions, imports and exports under
// ZERITH_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_APP and ZERITH_COMMAND_DO_BOOK (the
// listings are relay_lists.h's). Each feature's source (relay_notes.cpp, relay_bookmarks.cpp,
// relay_apps.cpp, relay_books.cpp) turns a request into steps, device-service requests that run one at a
// time in the order they were asked for, and answers the host when its last step is done:
//   notes     59 save (1201), 62 import an XML backup (1201 per note); both answer 59 or 62 with the
//             added notes and the new count; 60 and 61 write the checked notes as XML or HTML.
//   bookmarks 106 add or edit (1401, then a fresh listing), 104 import an XML backup into the held tree
//             (1401, then a fresh listing), 105 delete (1402 per entry; 105 per removed entry with the
//             new count); 102 and 103 write the checked entries as HTML or XML.
//   apps      55 uninstall the checked apps (one 505 for all); answers 55 with the outcome in words, then
//             lists the apps afresh; each listing of the apps is followed by their icons (502), answered
//             as 53.
//   books     76 import the chosen files (1012 each), 77 delete the checked books (1013 each); each
//             answers 76 or 77 with the outcome in words and the count of books afterwards, then lists
//             the books afresh.
//   calendars 70 delete the checked records (1502 each); answers 70 with the outcome in words and the
//             calendars counted, then lists the calendars afresh; 67 and 66 list them afresh (1500) and
//             write them all as iCalendar or as XML, answered as a file export (ZERITH_COMMAND_DO_FILE
//             109: the files written in `value3`, the folder in `wideText`).
//   messages  26, 30, 32 and 35 list the conversations afresh (201) and write them all with their
//             messages as text, CSV, HTML or XML, answered as a file export.
//   photos    131 lists each checked album (402) and exports the photos' files (701, each file once),
//             answered as a file export; each listing of photos is followed by their thumbnails (403, a
//             bounded batch a request), answered as 126 batch by batch.
// An outcome in words travels as an ItemBatch<TextItem> of one row whose first field is the text
// (OutcomeBatch); the page shows it.
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
#include "wide_pair.h"

namespace relay {

// What a step's request got back: the last reply's code (kStepNotSent when it was never sent or the
// service went away), the data parts of the replies, and the count ({"Count": n}) that any of them
// reported.
constexpr std::int64_t kStepNotSent = -1;
struct StepResult {
    std::int64_t code = kStepNotSent;
    std::vector<std::string> parts;
    std::vector<std::string> infos;  // each part's reply's "info" as JSON text; empty when it had none
    std::optional<std::int64_t> count;
    // A request that works through a list reports each item in a reply of its own: the item (its "info",
    // a JSON string) and whether the device did it (packet status 7) or not (6).
    std::vector<std::pair<std::string, bool>> items;
    // The replies before the last that answered 0 (an export's files that arrived whole).
    std::int64_t doneReplies = 0;
};

struct ActionStep {
    std::string device;
    std::uint32_t serviceCode = 0;
    std::string data;
    std::function<void(const StepResult&)> done;
    bool itemReplies = false;  // the service reports each item (StepResult::items) before the request's end
    std::string info = {};     // the request's "info" member as JSON object text; empty: none
};

// The packet status of an item's reply: the device did it, or it did not.
constexpr std::uint16_t kItemDone = 7;
constexpr std::uint16_t kItemFailed = 6;

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
    const ListsService& Lists() const { return m_lists; }
    // The names a person knows the listed records of `device` by, as (key, name); the latest listing's.
    void KeepNames(const std::string& device, const std::vector<WideStringPair>& rows);
    // The name of record `key` of `device`; the key itself when none was kept.
    std::wstring NameOf(const std::string& device, const std::wstring& key) const;
    // A run of steps that the next run of the same `kind` for `device` replaces (the thumbnails of the
    // latest listing): the new run's number, and whether run `number` is still its kind's latest.
    std::uint64_t BeginRun(const std::string& device, const std::string& kind);
    bool IsLatestRun(const std::string& device, const std::string& kind, std::uint64_t number) const;

private:
    void StartNext();
    void Finish(StepResult result);

    RelayLink& m_link;
    ListsService& m_lists;
    std::deque<ActionStep> m_queue;
    std::uint64_t m_running = 0;  // request id of the step at the queue's front; 0: none
    StepResult m_result;
    std::map<std::string, std::map<std::wstring, std::wstring>> m_names;  // by device, then key
    std::map<std::pair<std::string, std::string>, std::uint64_t> m_runs;  // the latest run by device and kind
    std::uint64_t m_lastRun = 0;
};

// Each feature's actions; false when `message.code` is not one of them.
bool HandleNoteAction(ActionsService& service, CommandMessage& message);
bool HandleBookmarkAction(ActionsService& service, CommandMessage& message);
bool HandleAppAction(ActionsService& service, CommandMessage& message);
// The icons of the listed apps `apps` of `device` (502), answered as one batch of (identifier, PNG).
void FetchAppIcons(ActionsService& service, const std::string& device, const std::vector<std::wstring>& apps);
bool HandleBookAction(ActionsService& service, CommandMessage& message);
bool HandleCalendarAction(ActionsService& service, CommandMessage& message);
bool HandleMessageAction(ActionsService& service, CommandMessage& message);
bool HandlePhotoAction(ActionsService& service, CommandMessage& message);
// The thumbnails of the listed photos `paths` (device paths) of `device` (403), a bounded batch a request,
// each batch answered as 126 of (path, picture bytes); a later call for the device replaces what is left.
void FetchPhotoThumbnails(ActionsService& service, const std::string& device, const std::vector<std::wstring>& paths);
// A row of (key, a picture's bytes one a character), as icons and thumbnails travel to the pages.
std::shared_ptr<TextItem> PictureRow(const std::wstring& key, const std::string& bytes);

// An action's outcome for the page: a batch of one row whose first field is `text`; freed by
// ReleaseTextBatch when it is not delivered.
void* OutcomeBatch(const std::wstring& text);
// What an action on a list of items did: the items done, and each item not done with the reason.
struct ActionOutcome {
    std::vector<std::wstring> done;
    std::vector<std::pair<std::wstring, std::wstring>> failed;  // (item, why)
};
// "<Done> a, b." then "Could not <verb> c: why." for each failure; "Nothing was <done>." for neither.
std::wstring OutcomeText(const ActionOutcome& outcome, const wchar_t* doneWord, const wchar_t* verb);
// Why a step failed, in words: its service's result `code` (kStepNotSent: it never reached the service).
std::wstring FailureText(std::int64_t code);
// The JSON array of `texts` (UTF-8 strings), as list requests carry their items, and the JSON object of
// one text member, as the requests on one record carry it ({"path": ...}, {"id": ...}).
std::string JsonTextArray(const std::vector<std::wstring>& texts);
std::string JsonTextObject(const char* key, const std::wstring& text);
// A JSON string's text ("\"com.example\"" is com.example); `json` itself when it is not one.
std::wstring JsonStringText(const std::string& json);

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
// Calendars, from the data parts of a calendar listing (1500): iCalendar events (each with its calendar's
// title as its category, its repetition and alarms), and the XML backup <calendarsBackup version="1">
// <calendar title readOnly><event allDay><summary/><start_date/><end_date/><location/><description/>
// <recurrence frequency interval until/><alarm trigger>description</alarm></event></calendar>.
constexpr wchar_t kCalendarsIcsFileName[] = L"Calendars.ics";
constexpr wchar_t kCalendarsXmlFileName[] = L"Calendars.xml";
std::string ComposeCalendarsIcs(const std::vector<std::string>& parts);
std::string ComposeCalendarsXml(const std::vector<std::string>& parts);
// The messages, from the data parts of a conversations listing (201), in the format of export `code` (26
// text, 30 CSV, 32 HTML, 35 the XML backup <messagesBackup version="1"><conversation with><message date
// from>text</message></conversation>): each conversation with its parties and its messages in order, each
// message with its date, its sender ("Me" for a sent one) and its text. Empty for another code.
std::string ComposeMessagesExport(std::int64_t code, const std::vector<std::string>& parts);

// The backups read back: false, with a short reason in `error`, when `bytes` is not one.
[[nodiscard]] bool ReadNotesXml(const std::string& bytes, std::vector<NoteItem>& notes, std::string& error);
// The top-level entries with their children (identifiers empty, positions in file order).
[[nodiscard]] bool ReadBookmarksXml(const std::string& bytes, std::vector<std::shared_ptr<BookmarkItem>>& entries,
                                    std::string& error);

}  // namespace relay
