// The listing features in service mode; see relay_lists.h.
#include "relay_lists.h"

#include <cstring>
#include <memory>

#include <rapidjson/document.h>

#include "vnl_utf8.h"

namespace trv::relay {
namespace {

constexpr std::int64_t kTaskError = 2;

const ListFeature* const kFeatures[] = {&kNotesList,    &kBookmarksList, &kCalendarsList, &kMessagesList,
                                        &kMusicList,    &kVideosList,    &kBooksList,     &kRingtonesList,
                                        &kRecordingsList, &kPhotosList,  &kAppsList,      &kBackupsList};

bool SameName(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

std::wstring ScalarText(const rapidjson::Value& value) {
    if (value.IsString()) return vnl::WideFromUtf8(std::string(value.GetString(), value.GetStringLength()).c_str());
    if (value.IsBool()) return value.GetBool() ? L"true" : L"false";
    if (value.IsInt64()) return std::to_wstring(value.GetInt64());
    if (value.IsUint64()) return std::to_wstring(value.GetUint64());
    if (value.IsDouble()) return std::to_wstring(value.GetDouble());
    return std::wstring();
}

void ReleaseBatch(PayloadLeg, std::int64_t, void* payload) { delete static_cast<ItemBatch<TextItem>*>(payload); }

}  // namespace

bool ReadTextItems(const std::string& json, ItemBatch<TextItem>& batch) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || (!document.IsArray() && !document.IsObject())) return false;
    // One record's fields: its key when the batch is keyed, then its scalar members (or itself).
    auto add = [&batch](const rapidjson::Value* key, const rapidjson::Value& record) {
        auto item = std::make_shared<TextItem>();
        if (key != nullptr) item->fields.push_back(ScalarText(*key));
        if (record.IsObject()) {
            for (const auto& member : record.GetObject()) {
                if (member.value.IsString() || member.value.IsNumber() || member.value.IsBool()) {
                    item->fields.push_back(ScalarText(member.value));
                }
            }
        } else {
            item->fields.push_back(ScalarText(record));
        }
        batch.items.push_back(std::move(item));
    };
    if (document.IsArray()) {
        for (const rapidjson::Value& record : document.GetArray()) add(nullptr, record);
    } else {
        for (const auto& member : document.GetObject()) add(&member.name, member.value);
    }
    return true;
}

bool ListsService::Handle(CommandMessage& message) {
    for (const ListFeature* feature : kFeatures) {
        for (std::size_t i = 0; i < feature->routeCount; ++i) {
            const ListRoute& route = feature->routes[i];
            if (!SameName(message.name, route.requestName)) continue;
            for (std::size_t q = 0; q < feature->queryCount; ++q) {
                if (feature->queryCodes[q] == message.code) {
                    message.status = 0;  // not loaded: the host asks for the listing next
                    return true;
                }
            }
            if (route.requestCode != message.code) continue;
            Listing listing{&route, message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string(),
                            route.status == kRequestStatus ? message.status : route.status};
            const std::uint64_t id = listing.device.empty() && !route.anyDevice
                                    ? 0
                                    : m_link.SendRequest(route.serviceCode, listing.device, route.requestData);
            if (id == 0) {
                Finish(listing, kTaskError);
            } else {
                m_inFlight[id] = listing;
            }
            return true;
        }
    }
    return false;
}

void ListsService::Answer(const Listing& listing, std::int64_t code, void* extra, std::int64_t value2,
                          std::int64_t value3) {
    ContactsAnswer answer;
    answer.device = listing.device;
    answer.code = code;
    answer.extra = extra;
    answer.value2 = value2;
    answer.value3 = value3;
    answer.name = listing.route->answerName;
    answer.status = listing.status;
    answer.release = &ReleaseBatch;
    m_link.Answer(answer);
}

void ListsService::Finish(const Listing& listing, std::int64_t serviceCode) {
    if (listing.route->countCode != kNoCount) Answer(listing, listing.route->countCode, nullptr, 0, listing.rows);
    Answer(listing, listing.route->listCode, nullptr, serviceCode, 0);
}

bool ListsService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) return false;
    Listing& listing = it->second;
    if (!data.empty()) {
        auto batch = std::make_unique<ItemBatch<TextItem>>();
        batch->sequence = ++m_sequence;
        if (ReadTextItems(data, *batch) && !batch->items.empty()) {
            listing.rows += static_cast<std::int64_t>(batch->items.size());
            Answer(listing, listing.route->listCode, batch.release(), 0, 0);
        }
    }
    if (IsLastReply(packet.header)) {
        const Listing done = listing;
        m_inFlight.erase(it);
        Finish(done, frame.code);
    }
    return true;
}

void ListsService::OnServiceGone() {
    std::map<std::uint64_t, Listing> gone;
    gone.swap(m_inFlight);
    for (const auto& entry : gone) Finish(entry.second, kTaskError);
}

}  // namespace trv::relay
