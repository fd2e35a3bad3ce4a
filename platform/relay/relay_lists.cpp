// The listing features in service mode; see relay_lists.h.
#include "relay_lists.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include <rapidjson/document.h>

#include "relay_cells.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr std::int64_t kTaskError = 2;

const ListFeature* const kFeatures[] = {&kNotesList,      &kBookmarksList, &kCalendarsList, &kMessagesList,
                                        &kMusicList,      &kVideosList,    &kBooksList,     &kRingtonesList,
                                        &kRecordingsList, &kPhotosList,    &kAppsList};

bool SameName(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

std::wstring ScalarText(const rapidjson::Value& value) {
    if (value.IsString()) return vnl::WideFromUtf8(std::string(value.GetString(), value.GetStringLength()).c_str());
    if (value.IsBool()) return value.GetBool() ? L"true" : L"false";
    if (value.IsInt64()) return std::to_wstring(value.GetInt64());
    if (value.IsUint64()) return std::to_wstring(value.GetUint64());
    if (value.IsDouble()) return std::to_wstring(value.GetDouble());
    return std::wstring();
}

void* ReadTextBatch(const std::string& json, std::int64_t sequence, std::int64_t& rows) {
    auto batch = std::make_unique<ItemBatch<TextItem>>();
    batch->sequence = sequence;
    if (!ReadTextItems(json, *batch) || batch->items.empty()) return nullptr;
    rows += static_cast<std::int64_t>(batch->items.size());
    return batch.release();
}

}  // namespace

void ReleaseTextBatch(PayloadLeg, std::int64_t, void* payload) { delete static_cast<ItemBatch<TextItem>*>(payload); }

const BatchReader kTextBatches = {&ReadTextBatch, &ReleaseTextBatch};

std::wstring WideMember(const rapidjson::Value& record, const char* name) {
    if (!record.IsObject()) return std::wstring();
    auto member = record.FindMember(name);
    return member != record.MemberEnd() && member->value.IsString() ? ScalarText(member->value) : std::wstring();
}

std::int64_t NumberMember(const rapidjson::Value& record, const char* name) {
    if (!record.IsObject()) return 0;
    auto member = record.FindMember(name);
    if (member == record.MemberEnd()) return 0;
    if (member->value.IsInt64()) return member->value.GetInt64();
    if (member->value.IsDouble()) return static_cast<std::int64_t>(member->value.GetDouble());
    return 0;
}

bool HasNumber(const rapidjson::Value& record, const char* name) {
    if (!record.IsObject()) return false;
    auto member = record.FindMember(name);
    return member != record.MemberEnd() && member->value.IsNumber();
}

const rapidjson::Value* ArrayMember(const rapidjson::Value& record, const char* name) {
    if (!record.IsObject()) return nullptr;
    auto member = record.FindMember(name);
    return member != record.MemberEnd() && member->value.IsArray() ? &member->value : nullptr;
}

std::wstring CellMember(const rapidjson::Value& record, const char* name) { return CellText(WideMember(record, name)); }

void* ReadTableBatch(const std::string& json, std::int64_t sequence, std::int64_t& rows, AddTableRows addRows) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError()) return nullptr;
    auto batch = std::make_unique<ItemBatch<TextItem>>();
    batch->sequence = sequence;
    addRows(document, *batch);
    if (batch->items.empty()) return nullptr;
    // An item without fields adds details to the row before it and is no row of its own.
    rows += std::count_if(batch->items.begin(), batch->items.end(),
                          [](const std::shared_ptr<TextItem>& item) { return !item->fields.empty(); });
    return batch.release();
}

void AddRow(ItemBatch<TextItem>& batch, std::vector<std::wstring> cells) {
    auto item = std::make_shared<TextItem>();
    item->fields = std::move(cells);
    batch.items.push_back(std::move(item));
}

std::optional<std::int64_t> ReportedCount(const ReplyFrame& frame) {
    JsonObjectView info;
    std::int64_t count = 0;
    if (!frame.hasInfo || !info.Parse(frame.infoJson) || !info.GetInteger("Count", count)) return std::nullopt;
    return count;
}

bool ForEachRecord(const std::string& json, const std::function<void(const rapidjson::Value&)>& each) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsArray()) return false;
    for (const rapidjson::Value& record : document.GetArray()) {
        if (record.IsObject()) each(record);
    }
    return true;
}

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
            std::string info;
            if (route.infoOf != nullptr && !route.infoOf(message, info)) continue;
            Start({&route, message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string(),
                   route.status == kRequestStatus ? message.status : route.status},
                  route.requestData, info);
            return true;
        }
    }
    return false;
}

void ListsService::Start(Listing listing, const std::string& data, const std::string& info) {
    listing.sequence = ++m_sequence;
    const std::uint32_t code = listing.route->serviceCode;
    const std::uint64_t id = listing.device.empty() && !listing.route->anyDevice ? 0
                             : info.empty() ? m_link.SendRequest(code, listing.device, data)
                                            : m_link.SendInfoRequest(code, listing.device, info);
    if (id == 0) {
        Finish(listing, kTaskError);
    } else {
        m_inFlight[id] = listing;
    }
}

void ListsService::Answer(const Listing& listing, std::int64_t code, void* batch, std::int64_t result,
                          std::int64_t count) {
    RelayAnswer answer;
    answer.device = listing.device;
    answer.code = code;
    answer.payload = batch;
    answer.resultOrCount = result;
    answer.count = count;
    answer.name = listing.route->answerName;
    answer.status = listing.status;
    answer.done = listing.route->kind;
    answer.release = listing.route->reader->release;
    m_link.Answer(answer);
}

void ListsService::Finish(const Listing& listing, std::int64_t serviceCode) {
    if (listing.route->countCode != kNoCount) {
        const bool reported = listing.route->serviceCount && listing.reported.has_value();
        const std::int64_t count = reported ? *listing.reported : listing.rows;
        if (serviceCode == 0) m_counted[{listing.device, listing.route->countCode}] = count;
        Answer(listing, listing.route->countCode, nullptr, 0, count);
    }
    Answer(listing, listing.route->listCode, nullptr, serviceCode, 0);
    if (serviceCode == 0 && listing.route->keyField >= 0 && m_listed) m_listed(*listing.route, listing.device, listing.keys);
}

std::optional<std::int64_t> ListsService::Counted(const std::string& device, std::int64_t countCode) const {
    auto it = m_counted.find({device, countCode});
    if (it == m_counted.end()) return std::nullopt;
    return it->second;
}

bool ListsService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) return false;
    Listing& listing = it->second;
    const std::uint32_t section = listing.route->section;
    if (const std::optional<std::int64_t> count = ReportedCount(frame)) listing.reported = count;
    if (!data.empty() && (section == kAnySection || packet.header.command == section)) {
        void* batch = listing.route->reader->read(data, listing.sequence, listing.rows);
        const int key = listing.route->keyField;
        if (batch != nullptr && key >= 0) {  // a route with a key field lists TextItem rows
            for (const auto& item : static_cast<const ItemBatch<TextItem>*>(batch)->items) {
                if (item != nullptr && static_cast<size_t>(key) < item->fields.size()) {
                    listing.keys.emplace_back(item->fields[static_cast<size_t>(key)], item->fields[0]);
                }
            }
        }
        if (batch != nullptr) Answer(listing, listing.route->listCode, batch, 0, 0);
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

}  // namespace relay
