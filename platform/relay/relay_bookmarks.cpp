// The relay's bookmarks: the bookmark tree (1400, one root per reply) as the bookmarks page's records, each
// entry with its children and its parent's identifier; see relay_lists.h.
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "command_names.h"
#include "relay_lists.h"

namespace trv::relay {
namespace {

std::shared_ptr<BookmarkItem> EntryOf(const rapidjson::Value& record) {
    auto entry = std::make_shared<BookmarkItem>();
    entry->identifier = WideMember(record, "id");
    entry->name = WideMember(record, "name");
    entry->kind = WideMember(record, "com_apple_syncservices_RecordEntityName");
    entry->position = NumberMember(record, "position");
    entry->url = WideMember(record, "url");
    return entry;
}

// The tree under `root`, built without recursion (the service's trees may be deep); counts the bookmarks
// (not the folders) into `rows`.
std::shared_ptr<BookmarkItem> ReadTree(const rapidjson::Value& root, std::int64_t& rows) {
    std::shared_ptr<BookmarkItem> top = EntryOf(root);
    std::vector<std::pair<const rapidjson::Value*, BookmarkItem*>> pending = {{&root, top.get()}};
    while (!pending.empty()) {
        const auto [record, entry] = pending.back();
        pending.pop_back();
        if (entry->kind == kBookmarkKind) ++rows;
        auto children = record->FindMember("children");
        if (children == record->MemberEnd() || !children->value.IsArray()) continue;
        for (const rapidjson::Value& child : children->value.GetArray()) {
            if (!child.IsObject()) continue;
            std::shared_ptr<BookmarkItem> childEntry = EntryOf(child);
            childEntry->parent = {{L"identifier", entry->identifier}};
            pending.emplace_back(&child, childEntry.get());
            entry->children.push_back(std::move(childEntry));
        }
    }
    return top;
}

void* ReadBookmarks(const std::string& json, std::int64_t sequence, std::int64_t& rows) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsObject()) return nullptr;
    auto batch = std::make_unique<ItemBatch<BookmarkItem>>();
    batch->sequence = sequence;
    batch->items.push_back(ReadTree(document, rows));
    return batch.release();
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_BOOKMARK, 101, 1400, ZERITH_COMMAND_DO_BOOKMARK, bookmarks::kRelayLoaded, 100, kRequestStatus,
     &kBookmarkBatches, kAnySection},
};
const std::int64_t kQueries[] = {99};

}  // namespace

const BatchReader kBookmarkBatches = {&ReadBookmarks, &bookmarks::ReleasePayload};
const ListFeature kBookmarksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace trv::relay
