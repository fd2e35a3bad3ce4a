#pragma once
// The relay module's listing features in service mode: notes, bookmarks, calendars, messages, music,
// videos, books, ringtones, voice memos, photos, apps and backups. Each feature's source (relay_notes.cpp
// ...) holds only its routes: which of the host's relay requests becomes which device-service request, and
// under which relay name and codes its replies go back. The service's batches (JSON arrays of records, or
// objects of records by key) become ItemBatch<TextItem> answers whose fields are the record's key, if any,
// and its scalar members in the order sent; a count answer follows the last batch, and a final answer
// without a batch ends the listing, its `value2` the service's result code (2 while a feature's module is
// not built). A query ("is it loaded?") is
// answered "not yet" so that every section switch lists afresh.
//
// UI thread only; reaches the service and the host through ContactsLink, so that it is tested natively.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "command_message.h"
#include "feature_codes.h"
#include "relay_contacts.h"
#include "relay_wire.h"

namespace trv::relay {

constexpr std::int64_t kNoCount = -1;
constexpr std::int64_t kRequestStatus = -1;

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
    bool anyDevice = false;  // the service answers without a device (the computer's own files)
    const char* requestData = "";  // the request's JSON data, if it takes any
};

struct ListFeature {
    const ListRoute* routes;
    std::size_t routeCount;
    const std::int64_t* queryCodes;  // codes under the routes' request names that ask "loaded?"
    std::size_t queryCount;
};

// Every listing feature, in no particular order (the per-feature sources).
extern const ListFeature kNotesList, kBookmarksList, kCalendarsList, kMessagesList, kMusicList, kVideosList,
    kBooksList, kRingtonesList, kRecordingsList, kPhotosList, kAppsList, kBackupsList;

// The fields of each record of a JSON array or keyed object (`json`): the key, if any, then every string,
// number and boolean member, in order. False when `json` is neither.
[[nodiscard]] bool ReadTextItems(const std::string& json, ItemBatch<TextItem>& batch);

class ListsService {
public:
    explicit ListsService(ContactsLink& link) : m_link(link) {}

    // A host request under `message.name`; false when no listing feature serves it.
    bool Handle(CommandMessage& message);
    // A reply packet; false when it answers none of this service's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    // The service's connection is gone: every listing in flight ends with its code 2.
    void OnServiceGone();

private:
    struct Listing {
        const ListRoute* route;
        std::string device;
        std::int64_t status;
        std::int64_t rows = 0;
    };
    void Answer(const Listing& listing, std::int64_t code, void* extra, std::int64_t value2, std::int64_t value3);
    void Finish(const Listing& listing, std::int64_t serviceCode);

    ContactsLink& m_link;
    std::map<std::uint64_t, Listing> m_inFlight;  // by request id
    std::int64_t m_sequence = 0;
};

}  // namespace trv::relay
