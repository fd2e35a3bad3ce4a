#pragma once
// The payloads of the features other than contacts and notes, as they travel under each feature's page
// and relay commands, and each feature's payload release (feature_payload.h). The host, the relay module
// and the pages all free through these, so a payload dropped anywhere is freed as it was made.
//
// List answers carry an ItemBatch of the page's records (list_records.h) for bookmarks, voice memos and
// ringtones, and an ItemBatch<TextItem> for the other features (a null payload: the listing finished);
// deletions, imports and exports carry heap vectors of wide strings (identifiers or paths). No state;
// any thread.

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "backup_records.h"
#include "feature_payload.h"
#include "item_batch.h"
#include "list_records.h"
#include "wide_pair.h"

// One listed record as a run of texts (a note's title, content and time; a bookmark's name and address;
// a song's title, artist and album ...). The receiving page decides which field it shows where.
// `details` holds the records under this one, each as its own run of texts (a conversation's messages,
// in order). An item without fields carries more details of the item before it in the same listing: a
// long conversation's messages come in several batches after the conversation's own row.
struct TextItem {
    std::vector<std::wstring> fields;
    std::vector<std::vector<std::wstring>> details;
};

namespace sdk {

enum class PayloadKind {
    None,            // no payload, or one that is lent for the call
    WideStrings,     // std::vector<std::wstring>*: identifiers or paths
    WidePairs,       // std::vector<WideStringPair>*: (identifier, kind) pairs
    Bookmarks,       // std::vector<BookmarkItem*>*: the page's records, not owned by the list
    BookmarkImport,  // BookmarkImport*: the page's top-level records and the chosen files
    Items,           // ItemBatch<TextItem>*
    HeapText,        // wchar_t* from malloc (shared heap)
};

// Bookmarks import: the page's top-level entries (for the merge) and the chosen XML files.
using BookmarkImport = std::pair<std::vector<BookmarkItem*>*, std::vector<std::wstring>*>;

inline void ReleaseAs(PayloadKind kind, void* payload) {
    if (payload == nullptr) return;
    switch (kind) {
    case PayloadKind::None: break;
    case PayloadKind::WideStrings: delete static_cast<std::vector<std::wstring>*>(payload); break;
    case PayloadKind::WidePairs: delete static_cast<std::vector<WideStringPair>*>(payload); break;
    case PayloadKind::Bookmarks: delete static_cast<std::vector<BookmarkItem*>*>(payload); break;
    case PayloadKind::BookmarkImport: {
        auto* import = static_cast<BookmarkImport*>(payload);
        delete import->first;
        delete import->second;
        delete import;
        break;
    }
    case PayloadKind::Items: delete static_cast<ItemBatch<TextItem>*>(payload); break;
    case PayloadKind::HeapText: std::free(payload); break;
    }
}

// A page's list answers and the relay's list answers carry Items on both reply legs.
inline bool IsReplyLeg(PayloadLeg leg) { return leg == PayloadLeg::RelayReply || leg == PayloadLeg::PageReply; }

}  // namespace sdk

// Each feature's release: which code carries which payload on which leg. Codes of a reply leg are those
// of the leg (relay codes on RelayReply, page codes on PageReply).

// ---- Bookmarks (DUNMAR_COMMAND_DO_BOOKMARK <-> ZERITH_COMMAND_DO_BOOKMARK) ------------------------------
namespace sdk::bookmarks {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExportHtml = 2,  // data: std::vector<BookmarkItem*>* of the checked entries, the host's; count
    kRequestBackupXml = 3,   // as 2
    kRequestImportXml = 4,   // data: std::vector<BookmarkItem*>* of the held top-level entries, the host's
    kRequestDelete = 6,      // data: std::vector<WideStringPair>* (identifier, kind), the host's; count
    kRequestSave = 7,        // data: a new BookmarkItem*, the host's from then on
    kRequestAskEntry = 16,   // status: 11 folder, 12 page; data: WideStringPair* (name, URL) on the page's stack
};
enum PageReply : int64_t {
    kReplyRemoved = 6,   // extra: the identifier, malloc'd wide text
    kReplyLoaded = 7,    // extra: ItemBatch<BookmarkItem> of the top-level entries; null: loading finished
    kReplySequence = 8,  // answered with the page's sequence
    kReplyShowCloudNotice = 9,
    kReplyHideCloudNotice = 10,
};
constexpr int64_t kFolderDialog = 11;
constexpr int64_t kPageDialog = 12;
// The relay module's codes (relay requests 101 to 106 follow page requests 1 to 7; answers 100, 101, 105).
constexpr int64_t kRelayLoaded = 101;
constexpr int64_t kRelaySave = 106;

inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    if ((leg == PayloadLeg::RelayReply && code == kRelayLoaded) ||
        (leg == PayloadLeg::PageReply && code == kReplyLoaded)) {
        delete static_cast<ItemBatch<BookmarkItem>*>(payload);
        return;
    }
    if ((leg == PayloadLeg::PageRequest && code == kRequestSave) ||
        (leg == PayloadLeg::RelayRequest && code == kRelaySave)) {
        delete static_cast<BookmarkItem*>(payload);
        return;
    }
    PayloadKind kind = PayloadKind::None;
    if (leg == PayloadLeg::PageRequest) {
        kind = code >= kRequestExportHtml && code <= kRequestImportXml ? PayloadKind::Bookmarks
               : code == kRequestDelete                                ? PayloadKind::WidePairs
                                                                       : PayloadKind::None;
    } else if (leg == PayloadLeg::RelayRequest) {
        kind = code == 102 || code == 103 ? PayloadKind::Bookmarks
               : code == 104              ? PayloadKind::BookmarkImport
               : code == 105              ? PayloadKind::WidePairs
                                          : PayloadKind::None;
    } else if ((leg == PayloadLeg::RelayReply && code == 105) ||
               (leg == PayloadLeg::PageReply && code == kReplyRemoved)) {
        kind = PayloadKind::HeapText;  // the removed entry's identifier
    }
    ReleaseAs(kind, payload);
}
}  // namespace sdk::bookmarks

// Features whose requests carry only identifier or path lists and whose answers carry only list batches:
// `lists` are the request codes (page and relay legs) with a vector of wide strings, `batches` the reply
// codes (relay and page legs) with a batch.
namespace sdk {
inline void ReleaseByCodes(PayloadLeg leg, int64_t code, void* payload, std::initializer_list<int64_t> lists,
                           std::initializer_list<int64_t> batches) {
    const auto listed = [code](std::initializer_list<int64_t> codes) {
        for (int64_t c : codes) {
            if (c == code) return true;
        }
        return false;
    };
    if (IsReplyLeg(leg)) {
        ReleaseAs(listed(batches) ? PayloadKind::Items : PayloadKind::None, payload);
    } else {
        ReleaseAs(listed(lists) ? PayloadKind::WideStrings : PayloadKind::None, payload);
    }
}
}  // namespace sdk

namespace sdk::calendars {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {6, 68, 70}, {65, 7});
}
}  // namespace sdk::calendars

namespace sdk::messages {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {}, {24, 25, 10, 11});
}
}  // namespace sdk::messages

namespace sdk::apps {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {5, 55}, {52, 53, 55, 5, 6, 7});
}
}  // namespace sdk::apps

namespace sdk::books {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {4, 5, 76, 77}, {74, 6});
}
}  // namespace sdk::books

namespace sdk::music {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {}, {95, 96, 97, 98, 6, 9, 14, 15});
}
}  // namespace sdk::music

namespace sdk::videos {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {}, {86, 92, 89, 7});
}
}  // namespace sdk::videos

namespace sdk::photos {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if ((leg == PayloadLeg::RelayReply && code == 134) || (leg == PayloadLeg::PageReply && code == 5)) {
        ReleaseAs(PayloadKind::HeapText, payload);  // the removed photo's identifier
        return;
    }
    ReleaseByCodes(leg, code, payload, {2, 5, 13, 109, 134}, {125, 126, 129, 6, 7, 8});
}
}  // namespace sdk::photos

// ---- Voice memos and ringtones (ELVIST_COMMAND_DO_RECORDING, FAYDRA_COMMAND_DO_RINGTONE) -------------
// Both pages speak the same page codes; their relay codes differ (recordings 82/83, ringtones 79/80).
namespace sdk::recordings {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExport = 2,    // data: std::vector<WideStringPair>* (name or title, key), the host's; count; wideText
    kRequestAddFiles = 4,  // data: std::vector<std::wstring>* of paths, lent for the call; count; wideText
};
enum PageReply : int64_t {
    kReplyLoaded = 6,    // extra: ItemBatch<RecordingItem> (ringtones: ItemBatch<RingtoneItem>); null: finished
    kReplySequence = 7,  // answered with the page's sequence
    kReplyWindow = 8,    // ringtones only: answered with the page's window
};
constexpr int64_t kRelayLoaded = 83;
constexpr int64_t kExportRelayCode = 109;  // the export goes to the file relay

// The release of a voice-memo or ringtone payload whose list answer is `relayLoaded`, with `Item` records.
template <typename Item, int64_t relayLoaded>
void ReleaseListPayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    if ((leg == PayloadLeg::RelayReply && code == relayLoaded) ||
        (leg == PayloadLeg::PageReply && code == kReplyLoaded)) {
        delete static_cast<ItemBatch<Item>*>(payload);
    } else if ((leg == PayloadLeg::PageRequest && code == kRequestExport) ||
               (leg == PayloadLeg::RelayRequest && code == kExportRelayCode)) {
        ReleaseAs(PayloadKind::WidePairs, payload);
    }
}

inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseListPayload<RecordingItem, kRelayLoaded>(leg, code, payload);
}
}  // namespace sdk::recordings

namespace sdk::ringtones {
constexpr int64_t kRelayLoaded = 80;
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    recordings::ReleaseListPayload<RingtoneItem, kRelayLoaded>(leg, code, payload);
}
}  // namespace sdk::ringtones

// The backup manager's traffic: deletions and the folders to list carry vectors of wide strings; the
// relay's list answer (136) carries one backup, a size update or nothing by its `status`, and its run reports
// a BackupRunReport (backup_records.h); a new backup carries (device key, target folder), a restore a
// RestoreRequest; a deleted backup comes back as its key (malloc), and a device that comes or goes as
// (device key, device name).
namespace sdk::backups {
// What the restore dialog hands over (page code 12, relay code 140): the chosen backup's values, copied so
// that the request does not depend on the manager's list living on.
struct RestoreRequest {
    std::wstring backupFolder;  // the backup's key: its folder as the device service named it
    std::wstring sourceDevice;  // the identifier of the device the backup was made from
    std::wstring password;      // empty for a backup that is not encrypted
    std::wstring device;        // the key of the device to restore onto
};

// The relay's answer 136 is told apart by its `status`, which a release does not see: such a payload is
// released as the page code the host picked for it (1 a backup, 2 a size, 136 a run report), so relay
// code 136 itself releases nothing here.
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    const bool request = leg == PayloadLeg::PageRequest || leg == PayloadLeg::RelayRequest;
    if (request) {
        if (code == 8 || code == 138) {
            delete static_cast<WideStringPair*>(payload);
        } else if (code == 12 || code == 140) {
            delete static_cast<RestoreRequest*>(payload);
        } else {
            ReleaseByCodes(leg, code, payload, {4, 5, 136, 137}, {});
        }
    } else if (leg == PayloadLeg::PageReply) {
        switch (code) {
        case 1: delete static_cast<iOSBackup*>(payload); break;
        case 2: delete static_cast<BackupSizeUpdate*>(payload); break;
        case 5: ReleaseAs(PayloadKind::HeapText, payload); break;
        case 16:
        case 17: delete static_cast<WideStringPair*>(payload); break;
        case 136: delete static_cast<BackupRunReport*>(payload); break;
        default: break;
        }
    } else if (code == 137) {
        ReleaseAs(PayloadKind::HeapText, payload);
    }
}
}  // namespace sdk::backups
