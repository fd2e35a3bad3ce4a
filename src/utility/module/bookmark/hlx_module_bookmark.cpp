// Requests 1400 to 1402 (see hlx_module_bookmark.h).
#include "utility/module/bookmark/hlx_module_bookmark.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "utility/hlx_device.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_sync_session.h"

namespace hlx {
namespace {

using ClassAnswer = HLXSyncSession::ClassAnswer;

constexpr char kBookmarkEntity[] = "com.apple.bookmarks.Bookmark";
// The delete announces the class with a version of its own.
const SyncDataClass kSyncBookmarksDelete = {kSyncBookmarks.name, kSyncBookmarks.deviceAnchorName, 106,
                                            kSyncBookmarks.dataClassWord};

struct BookmarkNode {
  std::string id;
  std::string name;
  std::string entityName;
  int64_t position = 0;
  std::string url;
  bool hasParent = false;            // the record has a "parent" entry (it is not top-level)
  std::vector<std::string> parents;  // the folder ids it names
  std::vector<const BookmarkNode*> children;
};

// The records of every batch (a record sent twice is the later one); the tree is linked only when
// all are in, so a record whose folder comes in a later batch is still placed.
struct BookmarkSyncContext {
  std::map<std::string, BookmarkNode> nodes;
};

void CollectBookmark(BookmarkSyncContext* sync, const std::string& id, const CIOSDictionary& record) {
  const PlistVariant* entity = record.Find(kSyncRecordEntityKey);
  if (entity == nullptr || entity->GetString() == nullptr) return;
  BookmarkNode node;
  node.id = id;
  node.entityName = *entity->GetString();
  for (const auto& [key, value] : record.entries()) {
    if (key == "name" && value.GetString() != nullptr)
      node.name = *value.GetString();
    else if (key == "url" && value.GetString() != nullptr)
      node.url = *value.GetString();
    else if (key == "position" && value.GetInt64() != nullptr)
      node.position = *value.GetInt64();
    else if (key == "parent") {
      node.hasParent = true;
      if (const PlistVariant::Array* parents = value.GetArray()) {
        for (const PlistVariant& parent : *parents) {
          if (parent.GetString() != nullptr) node.parents.push_back(*parent.GetString());
        }
      }
    }
  }
  sync->nodes[id] = std::move(node);
}

// Reads one answer: the records of a listing's batch (other answers carry none to keep).
void ReadBookmarks(BookmarkSyncContext* sync, const SyncMessage& message) {
  if (!message.answer.anotherBatch) return;
  for (const PlistVariant& element : message.elements) {
    const CIOSDictionary* dictionary = element.GetDictionary();
    if (dictionary == nullptr) continue;
    for (const auto& [id, value] : dictionary->entries()) {
      if (const CIOSDictionary* record = value.GetDictionary()) CollectBookmark(sync, id, *record);
    }
  }
}

SyncMessageReader ReaderOf(BookmarkSyncContext& sync) {
  return [&sync](const SyncMessage& message) { ReadBookmarks(&sync, message); };
}

bool ByPosition(const BookmarkNode* a, const BookmarkNode* b) { return a->position < b->position; }

// Links children to their folders and returns the top-level records, all ordered by position (equal
// positions in id order). A record under a folder the device did not send is in no tree; one that
// names a folder twice is listed there once.
std::vector<const BookmarkNode*> LinkTree(std::map<std::string, BookmarkNode>& nodes) {
  std::vector<const BookmarkNode*> roots;
  for (auto& [id, node] : nodes) {
    if (!node.hasParent) roots.push_back(&node);
    std::vector<std::string> seen;
    for (const std::string& parentId : node.parents) {
      auto parent = nodes.find(parentId);
      if (parent == nodes.end() || std::find(seen.begin(), seen.end(), parentId) != seen.end()) continue;
      seen.push_back(parentId);
      parent->second.children.push_back(&node);
    }
  }
  std::stable_sort(roots.begin(), roots.end(), ByPosition);
  for (auto& entry : nodes) std::stable_sort(entry.second.children.begin(), entry.second.children.end(), ByPosition);
  return roots;
}

// Each level of a tree is two levels of JSON, a record and its "children" array: a record nests no
// deeper than the service itself reads JSON from the peer.
constexpr size_t kMaxTreeLevels = kMaxPeerJsonDepth / 2;

// The JSON tree of a node, written without recursion (a deep tree costs heap, not stack). A child
// that is already on the path from the root (a parent loop) is left out, so every tree is finite. A
// folder at the deepest level lists no children; when it holds some, its "children_omitted" says how
// many were left out (they stay on the device as they are).
std::string SerializeBookmarkTree(const BookmarkNode& root) {
  JsonTextWriter json;
  struct Frame {
    const BookmarkNode* node;
    size_t next;
  };
  std::vector<Frame> path;
  std::unordered_set<const BookmarkNode*> onPath;
  auto open = [&](const BookmarkNode* node) {
    json->StartObject();
    json.Key("id");
    json.String(node->id);
    json.Key("name");
    json.String(node->name);
    json.Key("com_apple_syncservices_RecordEntityName");
    json.String(node->entityName);
    json.Key("position");
    json->Int64(node->position);
    json.Key("url");
    json.String(node->url);
    json.Key("children");
    json->StartArray();
    if (path.size() + 1 < kMaxTreeLevels) {
      path.push_back(Frame{node, 0});
      onPath.insert(node);
      return;
    }
    const auto omitted = std::count_if(node->children.begin(), node->children.end(), [&](const BookmarkNode* child) {
      return child != node && onPath.count(child) == 0;
    });
    json->EndArray();
    if (omitted > 0) {
      HLX_LOG(WARNING) << "bookmark folder " << node->id << " lies " << kMaxTreeLevels << " levels deep: " << omitted
                       << " records below it are not listed";
      json.Key("children_omitted");
      json->Int64(omitted);
    }
    json->EndObject();
  };
  open(&root);
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next < frame.node->children.size()) {
      const BookmarkNode* child = frame.node->children[frame.next++];
      if (onPath.count(child) == 0) open(child);
      continue;
    }
    json->EndArray();
    json->EndObject();
    onPath.erase(frame.node);
    path.pop_back();
  }
  return json.Text();
}

}  // namespace

int HLXModuleBookmark::Run(FeatureRequest& request) {
  switch (request.Command()) {
    case kRequestListBookmarks: return ListBookmarks(request);
    case kRequestWriteBookmarks: return WriteBookmarkChanges(request);
    default: return DeleteBookmark(request);
  }
}

int HLXModuleBookmark::ListBookmarks(const FeatureRequest& request) {
  AMDeviceRef device = request.Device()->Device();
  HLXSyncSession session(kSyncBookmarks);
  BookmarkSyncContext context;
  if (session.ListAll(device, ReaderOf(context)) != kReplySuccess) return session.Result();

  const std::vector<const BookmarkNode*> roots = LinkTree(context.nodes);
  const size_t bookmarks =
      static_cast<size_t>(std::count_if(context.nodes.begin(), context.nodes.end(),
                                        [](const auto& entry) { return entry.second.entityName == kBookmarkEntity; }));
  const std::string info = CountInfo(SyncListCount(device, kSyncBookmarks, bookmarks));
  request.SendProgress(kRequestListBookmarks, 0, &info, nullptr);
  for (const BookmarkNode* root : roots) {
    const std::string tree = SerializeBookmarkTree(*root);
    request.SendProgress(kRequestListBookmarks, 1, &info, &tree);
  }
  return kReplySuccess;
}

int HLXModuleBookmark::WriteBookmarkChanges(const FeatureRequest& request) {
  std::string text;
  if (request.ReadDataText(&text) != kReplySuccess) return kReplyBadData;
  CFPtr<CFPropertyListRef> list = ParseChangesMessage(text);
  BinaryPlistPtr message = list ? SerializePlist(list.get(), kCFPropertyListBinaryFormat_v1_0) : nullptr;
  if (!message) return kReplyBadData;
  HLXSyncSession session(kSyncBookmarks);
  BookmarkSyncContext context;
  return session.WriteOne(request.Device()->Device(), ClassAnswer::kAcceptOne, *message, ReaderOf(context));
}

int HLXModuleBookmark::DeleteBookmark(const FeatureRequest& request) {
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  BinaryPlistPtr deletion = RequestedDeletion(kSyncBookmarksDelete, data);
  if (!deletion) return kReplyBadData;
  HLXSyncSession session(kSyncBookmarksDelete);
  BookmarkSyncContext context;
  return session.WriteOne(request.Device()->Device(), ClassAnswer::kWaitForComputer, *deletion, ReaderOf(context));
}

}  // namespace hlx
