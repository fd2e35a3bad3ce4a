#pragma once
// The relay module's listing features in service mode: notes, bookmarks, calendars, messages, music,
// videos, books, ringtones, voice memos, photos and apps (the backup list is relay_backups.h's). Each
// feature's source (relay_notes.cpp ...) holds only its routes: which of the host's relay requests becomes
// which device-service request, and under which relay name and codes its replies go back. Each reply's batch
// becomes one answer through the route's BatchReader: the outside pages' stand-ins get the rows of their
// tables (relay_tables.h), one ItemBatch<TextItem> of readable texts a column; the notes, bookmarks,
// voice-memo and ringtone pages get their own records (list_records.h). A count answer follows the last
// batch, and a final answer without a batch ends the listing, its `value2` the service's result code (2
// while a feature's module is not built). A query ("is it loaded?") is answered "not yet" so that every
// section switch lists afresh.
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_message.h"
#include "feature_codes.h"
#include "note_codes.h"
#include "relay_feature.h"
#include "relay_wire.h"
#include "wide_pair.h"

// After windows.h (through command_message.h): the reader undoes its GetObject macro while it is read.
#include <rapidjson/document.h>

namespace relay {

constexpr std::int64_t kNoCount = -1;
constexpr std::int64_t kRequestStatus = -1;
constexpr std::uint32_t kAnySection = 0;

// How one reply's JSON data becomes a list answer: `read` returns the batch payload (null when the data
// is unreadable or lists nothing) and adds its records to `rows`; `release` frees what `read` made. The
// batches of one listing share `sequence`: a page adds them up, and a greater one replaces its list.
struct BatchReader {
    void* (*read)(const std::string& json, std::int64_t sequence, std::int64_t& rows);
    ReleasePayloadFunction release;
};
// The default: ItemBatch<TextItem> (see ReadTextItems).
extern const BatchReader kTextBatches;
// The pages' records: NoteItem (1200's notes), BookmarkItem (1400's trees, one root per reply, with
// parents and children), RecordingItem (1002's memos) and RingtoneItem (1001's ringtone section).
extern const BatchReader kNoteBatches, kBookmarkBatches, kRecordingBatches, kRingtoneBatches;

// One listing: the host's request `requestCode` under `requestName` becomes service request `serviceCode`;
// its answers go under `answerName` as `listCode` (batches and the end) and `countCode` (the count).
struct ListRoute {
    const char* requestName;
    std::int64_t requestCode;
    std::uint32_t serviceCode;
    const char* answerName;
    std::int64_t listCode;
    std::int64_t countCode;  // kNoCount: none
    std::int64_t status;     // the answers' `status`; kRequestStatus: the request's
    const BatchReader* reader = &kTextBatches;
    std::uint32_t section = kAnySection;  // only replies whose command is this one list (a request that
                                          // answers several sections); kAnySection: every reply
    bool anyDevice = false;               // the service answers without a device (the computer's own files)
    const char* requestData = "";         // the request's JSON data, if it takes any
    // The count answer carries the count the service reports ({"Count": n}: each record once, negative
    // while an online account holds the records) instead of the rows listed.
    bool serviceCount = false;
    // The TextItem field whose texts are announced, each with its row's first, when the listing has ended
    // (OnListed); -1: none.
    int keyField = -1;
    // Makes the request's "info" member of the host's message (which album's photos to list); null: the
    // request has none. A route with one takes only the messages it can make one of: the others go on to
    // the routes after it.
    bool (*infoOf)(const CommandMessage& message, std::string& info) = nullptr;
    // `value4` of every answer: which listing it is, where two listings share their answer codes (the photos'
    // album list and one album's photos, relay_tables.h).
    std::int64_t kind = 0;
};

struct ListFeature {
    const ListRoute* routes;
    std::size_t routeCount;
    const std::int64_t* queryCodes;  // codes under the routes' request names that ask "loaded?"
    std::size_t queryCount;
};

// Every listing feature, in no particular order (the per-feature sources).
extern const ListFeature kNotesList, kBookmarksList, kCalendarsList, kMessagesList, kMusicList, kVideosList, kBooksList,
    kRingtonesList, kRecordingsList, kPhotosList, kAppsList;

// The fields of each record of a JSON array or keyed object (`json`): the key, if any, then every string,
// number and boolean member, in order. False when `json` is neither.
[[nodiscard]] bool ReadTextItems(const std::string& json, ItemBatch<TextItem>& batch);

// Members of a service record, read leniently: a missing or mistyped member reads empty or 0 (null for
// an array).
std::wstring WideMember(const rapidjson::Value& record, const char* name);
std::int64_t NumberMember(const rapidjson::Value& record, const char* name);
bool HasNumber(const rapidjson::Value& record, const char* name);
const rapidjson::Value* ArrayMember(const rapidjson::Value& record, const char* name);
// A text member as a table cell (CellText of relay_cells.h).
std::wstring CellMember(const rapidjson::Value& record, const char* name);

// A stand-in page's table rows: a BatchReader's `read` for which `addRows` adds the rows that one reply's
// JSON document holds to `batch` (AddRow). Null when the data is not JSON or holds no row. Items without
// fields (details of the row before, TextItem) are not counted as rows.
using AddTableRows = void (*)(const rapidjson::Value& document, ItemBatch<TextItem>& batch);
void* ReadTableBatch(const std::string& json, std::int64_t sequence, std::int64_t& rows, AddTableRows addRows);
template <AddTableRows addRows>
void* ReadTable(const std::string& json, std::int64_t sequence, std::int64_t& rows) {
    return ReadTableBatch(json, sequence, rows, addRows);
}
void AddRow(ItemBatch<TextItem>& batch, std::vector<std::wstring> cells);
// The cells of a media library item (a song, movie, TV show or music video; relay_music.cpp): an item
// without a title is known by its file's name.
struct MediaCells {
    std::wstring title, artist, album, genre, year, time, size;
    std::wstring path;  // the file on the device: the row's key, after the shown columns
};
MediaCells MediaCellsOf(const rapidjson::Value& item);
// The rows of an array of media library items, `cellsOf` choosing a table's cells of each item's; each row
// ends with the item's device path.
template <std::vector<std::wstring> (*cellsOf)(const MediaCells&)>
void AddMediaRows(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsArray()) return;
    for (const rapidjson::Value& item : document.GetArray()) {
        if (!item.IsObject()) continue;
        const MediaCells cells = MediaCellsOf(item);
        std::vector<std::wstring> row = cellsOf(cells);
        row.push_back(cells.path);
        AddRow(batch, std::move(row));
    }
}
// The release of every ItemBatch<TextItem> answer.
void ReleaseTextBatch(PayloadLeg leg, std::int64_t code, void* payload);
// The count a reply's info reports ({"Count": n}), if any.
std::optional<std::int64_t> ReportedCount(const ReplyFrame& frame);
// Calls `each` for every object of the JSON array `json`; false when `json` is not an array.
bool ForEachRecord(const std::string& json, const std::function<void(const rapidjson::Value&)>& each);

// A BatchReader's `read` for a JSON array of records: an ItemBatch<Item> of what `make` builds from each.
template <typename Item, std::shared_ptr<Item> (*make)(const rapidjson::Value&)>
void* ReadRecordBatch(const std::string& json, std::int64_t sequence, std::int64_t& rows) {
    auto batch = std::make_unique<ItemBatch<Item>>();
    batch->sequence = sequence;
    const bool read =
        ForEachRecord(json, [&batch](const rapidjson::Value& record) { batch->items.push_back(make(record)); });
    if (!read || batch->items.empty()) return nullptr;
    rows += static_cast<std::int64_t>(batch->items.size());
    return batch.release();
}

class ListsService final : public RelayFeature {
public:
    explicit ListsService(RelayLink& link) : m_link(link) {}

    // A host request under `message.name`; false when no listing feature serves it.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers none of this service's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: every listing in flight ends with its code 2.
    void OnServiceGone() override;
    // The count that the last finished listing of `device` answered under `countCode`; none before one.
    std::optional<std::int64_t> Counted(const std::string& device, std::int64_t countCode) const;
    // Called when a listing whose route names a key field has ended well, with its rows' (key, first field).
    using ListedKeys = std::function<void(const ListRoute& route, const std::string& device,
                                          const std::vector<WideStringPair>& rows)>;
    void OnListed(ListedKeys listed) { m_listed = std::move(listed); }

private:
    struct Listing {
        const ListRoute* route;
        std::string device;
        std::int64_t status;
        std::int64_t rows = 0;
        std::int64_t sequence = 0;  // every batch of one listing shares it; a later listing's is greater
        std::optional<std::int64_t> reported = std::nullopt;  // the service's count, when it sent one
        std::vector<WideStringPair> keys = {};                // the rows' (key, first field), when the route names one
    };
    void Answer(const Listing& listing, std::int64_t code, void* batch, std::int64_t result, std::int64_t count);
    void Finish(const Listing& listing, std::int64_t serviceCode);
    void Start(Listing listing, const std::string& data, const std::string& info);

    RelayLink& m_link;
    std::map<std::uint64_t, Listing> m_inFlight;  // by request id
    std::map<std::pair<std::string, std::int64_t>, std::int64_t> m_counted;  // by device and count code
    ListedKeys m_listed;
    std::int64_t m_sequence = 0;
};

}  // namespace relay
