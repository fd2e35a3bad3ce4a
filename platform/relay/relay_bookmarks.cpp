// The relay's bookmarks: the bookmark tree (1400, one root per reply) as the bookmarks page's records, each
// entry with its children and its parent's identifier (relay_lists.h); adding, editing, importing,
// deleting and exporting entries (relay_actions.h).
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_contacts_codec.h"
#include "relay_lists.h"
#include "relay_xml.h"
#include "vnl_utf8.h"
#include "wide_pair.h"

namespace relay {
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
    {ZERITH_COMMAND_DO_BOOKMARK, 101, 1400, ZERITH_COMMAND_DO_BOOKMARK, sdk::bookmarks::kRelayLoaded, 100,
     kRequestStatus, &kBookmarkBatches, kAnySection, false, "", true},
};
const std::int64_t kQueries[] = {99};

// The relay module's bookmarks codes beside those of feature_codes.h.
constexpr std::int64_t kRelayExportHtml = 102;
constexpr std::int64_t kRelayBackupXml = 103;
constexpr std::int64_t kRelayImportXml = 104;
constexpr std::int64_t kRelayDelete = 105;

constexpr std::uint32_t kListBookmarks = 1400;
constexpr std::uint32_t kWriteBookmarks = 1401;
constexpr std::uint32_t kDeleteBookmark = 1402;
constexpr std::size_t kMaxBookmarksBackupBytes = 64u * 1024 * 1024;
constexpr char kBookmarksRoot[] = "bookmarksBackup";
constexpr char kFormatVersion[] = "1";

bool IsFolder(const BookmarkItem& entry) { return entry.kind != kBookmarkKind; }

// The identifier of the folder that holds `entry`; empty at the top level.
std::wstring ParentOf(const BookmarkItem& entry) {
    return entry.parent.empty() ? std::wstring() : entry.parent.begin()->second;
}

// Entries in tree order, each inside the last folder before it that holds it: `open` a folder, `leaf` a
// page, `close` a folder that holds nothing further.
template <typename Open, typename Leaf, typename Close>
void WalkNested(const std::vector<const BookmarkItem*>& entries, Open open, Leaf leaf, Close close) {
    std::vector<std::wstring> folders;  // the open folders' identifiers, outermost first
    for (const BookmarkItem* entry : entries) {
        if (entry == nullptr) continue;
        const std::wstring parent = ParentOf(*entry);
        while (!folders.empty() && (parent.empty() || folders.back() != parent)) {
            folders.pop_back();
            close(folders.size());
        }
        if (IsFolder(*entry)) {
            open(*entry, folders.size());
            folders.push_back(entry->identifier);
        } else {
            leaf(*entry, folders.size());
        }
    }
    while (!folders.empty()) {
        folders.pop_back();
        close(folders.size());
    }
}

std::string Indent(std::size_t depth) { return std::string(2 * (depth + 1), ' '); }

void AppendAttribute(std::string& out, const char* name, const std::wstring& value) {
    out += std::string(" ") + name + "=\"";
    AppendXmlEscaped(out, value, true);
    out += '"';
}

// One record of a changes message: `key` the device's id or a new one, `parentKey` the folder's (empty:
// top level).
void AppendChange(std::string& out, const std::string& key, const BookmarkItem& entry, const std::string& parentKey,
                  std::int64_t position) {
    const auto text = [&out](const char* name, const std::wstring& value) {
        out += std::string("<key>") + name + "</key><string>";
        AppendXmlEscaped(out, value, false);
        out += "</string>";
    };
    out += "<key>";
    AppendXmlEscaped(out, vnl::WideFromUtf8(key), false);
    out += "</key><dict>";
    text("com.apple.syncservices.RecordEntityName", IsFolder(entry) ? kBookmarkFolderKind : kBookmarkKind);
    text("name", entry.name);
    if (!IsFolder(entry)) text("url", entry.url);
    out += "<key>position</key><integer>" + std::to_string(position) + "</integer>";
    if (!parentKey.empty()) {
        out += "<key>parent</key><array><string>";
        AppendXmlEscaped(out, vnl::WideFromUtf8(parentKey), false);
        out += "</string></array>";
    }
    out += "</dict>";
}

std::string ChangesMessage(const std::string& records) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><array><string>SDMessageProcessChanges</string><string>com.apple.Bookmarks</string>"
           "<dict>" +
           records +
           "</dict><false/><dict><key>SyncDeviceLinkEntityNamesKey</key><array>"
           "<string>com.apple.bookmarks.Folder</string><string>com.apple.bookmarks.Bookmark</string></array></dict>"
           "</array></plist>";
}

// The imported entries that the held tree lacks, as change records: an imported folder with the name of
// a held one beside it is merged into it, an imported page with the name and address of a held one
// beside it is left out; what is new goes after the entries beside it.
std::string ImportChanges(const std::vector<const BookmarkItem*>& heldTop,
                          const std::vector<std::shared_ptr<BookmarkItem>>& imported) {
    struct Level {
        const std::vector<std::shared_ptr<BookmarkItem>>* children;  // imported
        std::vector<const BookmarkItem*> held;  // beside them on the device; empty under a new folder
        std::string parentKey;
    };
    std::string records;
    std::vector<Level> pending = {{&imported, heldTop, std::string()}};
    while (!pending.empty()) {
        Level level = std::move(pending.back());
        pending.pop_back();
        std::int64_t next = 0;
        for (const BookmarkItem* held : level.held) next = std::max(next, held->position + 1);
        for (const auto& child : *level.children) {
            if (!child) continue;
            const auto same = std::find_if(level.held.begin(), level.held.end(), [&child](const BookmarkItem* held) {
                return IsFolder(*held) == IsFolder(*child) && held->name == child->name &&
                       (IsFolder(*held) || held->url == child->url);
            });
            if (same != level.held.end()) {
                if (!IsFolder(**same)) continue;
                std::vector<const BookmarkItem*> inside;
                for (const auto& grandchild : (*same)->children) inside.push_back(grandchild.get());
                pending.push_back({&child->children, std::move(inside), vnl::Utf8FromWide((*same)->identifier)});
                continue;
            }
            const std::string key = NewTemporaryId();
            AppendChange(records, key, *child, level.parentKey, next++);
            if (IsFolder(*child)) pending.push_back({&child->children, {}, key});
        }
    }
    return records;
}

// Writes the change records, then lists the bookmarks afresh so that the page shows the device's tree.
void WriteChanges(ActionsService& service, const std::string& device, const std::string& records) {
    if (records.empty()) return;
    service.Queue({device, kWriteBookmarks, ChangesMessage(records), [&service, device](const StepResult& result) {
                       if (result.code == 0)
                           service.Relist(ZERITH_COMMAND_DO_BOOKMARK, sdk::bookmarks::kRelayLoaded, device);
                   }});
}

// Deletes the entries one by one, then counts the bookmarks, and answers each removed entry with the count.
void DeleteEntries(ActionsService& service, const std::string& device, const std::vector<WideStringPair>& entries) {
    auto removed = std::make_shared<std::vector<std::wstring>>();
    for (const WideStringPair& entry : entries) {
        service.Queue({device, kDeleteBookmark, ComposeDeleteData(entry.first),
                       [removed, identifier = entry.first](const StepResult& result) {
                           if (result.code == 0) removed->push_back(identifier);
                       }});
    }
    service.Queue({device, kListBookmarks, std::string(), [&service, device, removed](const StepResult& result) {
                       const std::int64_t count = result.count.value_or(0);
                       for (const std::wstring& identifier : *removed) {
                           service.Answer(ZERITH_COMMAND_DO_BOOKMARK, device, kRelayDelete, HeapCopy(identifier), count,
                                          &sdk::bookmarks::ReleasePayload);
                       }
                   }});
}

class BookmarksXmlReader final : public XmlReader {
public:
    std::vector<std::shared_ptr<BookmarkItem>> entries;

private:
    const char* DocumentKind() const override { return "bookmarks backup"; }
    bool OnOpen(const std::string& name, const XmlAttributes& attributes) override {
        if (OpenElements().empty()) {
            if (name != kBookmarksRoot) {
                return Fail("not a bookmarks backup: the root element is <" + ShownXmlName(name) + ">");
            }
            if (attributes.size() != 1 || attributes[0].first != "version" || attributes[0].second != kFormatVersion) {
                return Fail("unsupported bookmarks backup version");
            }
            return true;
        }
        const bool folder = name == "folder";
        if ((!folder && name != "bookmark") || OpenElements().back() == "bookmark") {
            return Fail("unexpected element <" + ShownXmlName(name) + "> in <" + OpenElements().back() + ">");
        }
        auto entry = std::make_shared<BookmarkItem>();
        entry->kind = folder ? kBookmarkFolderKind : kBookmarkKind;
        for (const auto& [attribute, value] : attributes) {
            if (attribute == "name") {
                entry->name = vnl::WideFromUtf8(value);
            } else if (attribute == "url" && !folder) {
                entry->url = vnl::WideFromUtf8(value);
            } else {
                return Fail("unexpected attribute " + ShownXmlName(attribute) + " on <" + name + ">");
            }
        }
        auto& siblings = m_folders.empty() ? entries : m_folders.back()->children;
        entry->position = static_cast<std::int64_t>(siblings.size());
        siblings.push_back(entry);
        m_folders.push_back(entry.get());
        return true;
    }
    void OnClose() override {
        if (OpenElements().size() > 1) m_folders.pop_back();
    }

    std::vector<BookmarkItem*> m_folders;  // the open folder and bookmark elements' entries, outermost first
};

}  // namespace

std::string ComposeBookmarksHtml(const std::vector<const BookmarkItem*>& entries) {
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Bookmarks</title>\n</head>\n<body>\n"
        "<h1>Bookmarks</h1>\n<ul>\n";
    WalkNested(
        entries,
        [&out](const BookmarkItem& folder, std::size_t depth) {
            out += Indent(depth) + "<li><strong>";
            AppendXmlEscaped(out, folder.name, false);
            out += "</strong>\n" + Indent(depth) + "<ul>\n";
        },
        [&out](const BookmarkItem& page, std::size_t depth) {
            out += Indent(depth) + "<li><a href=\"";
            AppendXmlEscaped(out, page.url, true);
            out += "\">";
            AppendXmlEscaped(out, page.name, false);
            out += "</a></li>\n";
        },
        [&out](std::size_t depth) { out += Indent(depth) + "</ul></li>\n"; });
    return out + "</ul>\n</body>\n</html>\n";
}

std::string ComposeBookmarksXml(const std::vector<const BookmarkItem*>& entries) {
    std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + kBookmarksRoot + " version=\"" +
                      kFormatVersion + "\">\n";
    WalkNested(
        entries,
        [&out](const BookmarkItem& folder, std::size_t depth) {
            out += Indent(depth) + "<folder";
            AppendAttribute(out, "name", folder.name);
            out += ">\n";
        },
        [&out](const BookmarkItem& page, std::size_t depth) {
            out += Indent(depth) + "<bookmark";
            AppendAttribute(out, "name", page.name);
            AppendAttribute(out, "url", page.url);
            out += "/>\n";
        },
        [&out](std::size_t depth) { out += Indent(depth) + "</folder>\n"; });
    return out + "</" + kBookmarksRoot + ">\n";
}

bool ReadBookmarksXml(const std::string& bytes, std::vector<std::shared_ptr<BookmarkItem>>& entries,
                      std::string& error) {
    BookmarksXmlReader reader;
    if (!reader.Read(bytes, kMaxBookmarksBackupBytes, error)) return false;
    entries.insert(entries.end(), reader.entries.begin(), reader.entries.end());
    return true;
}

bool HandleBookmarkAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_BOOKMARK) != 0) return false;
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    switch (message.code) {
    case sdk::bookmarks::kRelaySave: {
        std::unique_ptr<BookmarkItem> entry(static_cast<BookmarkItem*>(message.data));
        message.data = nullptr;
        if (!entry || device.empty() || entry->identifier.empty()) return true;
        std::string record;
        AppendChange(record, vnl::Utf8FromWide(entry->identifier), *entry, vnl::Utf8FromWide(ParentOf(*entry)),
                     entry->position);
        WriteChanges(service, device, record);
        return true;
    }
    case kRelayImportXml: {
        std::unique_ptr<sdk::BookmarkImport, void (*)(sdk::BookmarkImport*)> import(
            static_cast<sdk::BookmarkImport*>(message.data),
            [](sdk::BookmarkImport* p) { sdk::ReleaseAs(sdk::PayloadKind::BookmarkImport, p); });
        message.data = nullptr;
        if (!import || import->second == nullptr || device.empty()) return true;
        std::vector<std::shared_ptr<BookmarkItem>> imported;
        for (const std::wstring& path : *import->second) {
            std::string bytes;
            std::string error;
            if (service.Link().ReadWholeFile(path, kMaxBookmarksBackupBytes, bytes)) {
                (void)ReadBookmarksXml(bytes, imported, error);
            }
        }
        std::vector<const BookmarkItem*> held;
        if (import->first != nullptr) {
            for (const BookmarkItem* entry : *import->first) {
                if (entry != nullptr) held.push_back(entry);
            }
        }
        WriteChanges(service, device, ImportChanges(held, imported));
        return true;
    }
    case kRelayDelete: {
        std::unique_ptr<std::vector<WideStringPair>> entries(static_cast<std::vector<WideStringPair>*>(message.data));
        message.data = nullptr;
        if (entries && !device.empty()) DeleteEntries(service, device, *entries);
        return true;
    }
    case kRelayExportHtml:
    case kRelayBackupXml: {
        std::unique_ptr<std::vector<BookmarkItem*>> records(static_cast<std::vector<BookmarkItem*>*>(message.data));
        message.data = nullptr;
        const auto* folder = static_cast<const wchar_t*>(message.extra);  // lent for the call
        if (!records || folder == nullptr) return true;
        const std::vector<const BookmarkItem*> checked(records->begin(), records->end());
        bool written = false;
        if (message.code == kRelayExportHtml) {
            written = WriteExport(service.Link(), folder, kBookmarksHtmlFileName, ComposeBookmarksHtml(checked));
        } else {
            written = WriteExport(service.Link(), folder, kBookmarksXmlFileName, ComposeBookmarksXml(checked));
        }
        message.status = written ? kExportWritten : kExportNotWritten;
        return true;
    }
    default: return false;
    }
}

const BatchReader kBookmarkBatches = {&ReadBookmarks, &sdk::bookmarks::ReleasePayload};
const ListFeature kBookmarksList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
