// The relay's notes: the list of notes (1200) as the notes page's records; see relay_lists.h.
#include <iterator>
#include <memory>

#include "command_names.h"
#include "relay_lists.h"

namespace trv::relay {
namespace {

// "2024-03-01T10:20:30Z" as "2024-03-01 10:20:30"; the text still sorts as the time does.
std::wstring TimeText(std::wstring stamp) {
    if (stamp.size() > 10 && stamp[10] == L'T') stamp[10] = L' ';
    if (!stamp.empty() && stamp.back() == L'Z') stamp.pop_back();
    return stamp;
}

std::shared_ptr<NoteItem> NoteOf(const rapidjson::Value& record) {
    auto note = std::make_shared<NoteItem>();
    note->identifier = WideMember(record, "guid");
    if (note->identifier.empty()) note->identifier = WideMember(record, "id");
    note->title = WideMember(record, "subject");
    note->summary = WideMember(record, "author");
    note->content = WideMember(record, "content");
    std::wstring modified = WideMember(record, "dateModified");
    note->time = TimeText(modified.empty() ? WideMember(record, "dateCreated") : modified);
    return note;
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_NOTE, notes::kRelayLoad, 1200, ZERITH_COMMAND_DO_NOTE, notes::kRelayLoaded,
     notes::kRelayCloudState, kRequestStatus, &kNoteBatches, kAnySection},
};
const std::int64_t kQueries[] = {56};

}  // namespace

const BatchReader kNoteBatches = {&ReadRecordBatch<NoteItem, &NoteOf>, &notes::ReleasePayload};
const ListFeature kNotesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
