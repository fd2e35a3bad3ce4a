#pragma once
// The payloads of the features other than contacts and notes, as they travel under each feature's page
// and relay commands, and each feature's payload release (feature_payload.h). The host, the relay module
// and the pages all free through these, so a payload dropped anywhere is freed as it was made.
//
// List answers of these features carry an ItemBatch<TextItem> (a null payload: the listing finished);
// deletions, imports and exports carry heap vectors of wide strings (identifiers or paths). No state;
// any thread.

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "feature_payload.h"
#include "item_batch.h"
#include "wide_pair.h"

// One listed record as a run of texts (a note's title, content and time; a bookmark's name and address;
// a song's title, artist and album ...). The receiving page decides which field it shows where.
struct TextItem {
    std::vector<std::wstring> fields;
};

// A bookmark as the bookmarks page keeps it; the host passes lists of pointers to it on unchanged.
struct BookmarkItem;

namespace features {

enum class PayloadKind {
    None,          // no payload, or one that is lent for the call
    WideStrings,   // std::vector<std::wstring>*: identifiers or paths
    WidePairs,     // std::vector<WideStringPair>*: (identifier, kind) pairs
    Bookmarks,     // std::vector<BookmarkItem*>*: the page's records, not owned by the list
    BookmarkImport,  // BookmarkImport*: the page's top-level records and the chosen files
    Items,         // ItemBatch<TextItem>*
    HeapText,      // wchar_t* from malloc (shared heap)
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

}  // namespace features

// Each feature's release: which code carries which payload on which leg. Codes of a reply leg are those
// of the leg (relay codes on RelayReply, page codes on PageReply).
namespace bookmarks {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    using features::PayloadKind;
    PayloadKind kind = PayloadKind::None;
    if (leg == PayloadLeg::PageRequest) {
        kind = code >= 2 && code <= 4 ? PayloadKind::Bookmarks : code == 6 ? PayloadKind::WidePairs : PayloadKind::None;
    } else if (leg == PayloadLeg::RelayRequest) {
        kind = code == 102 || code == 103 ? PayloadKind::Bookmarks
               : code == 104              ? PayloadKind::BookmarkImport
               : code == 105              ? PayloadKind::WidePairs
                                          : PayloadKind::None;
    } else if ((leg == PayloadLeg::RelayReply && code == 101) || (leg == PayloadLeg::PageReply && code == 7)) {
        kind = PayloadKind::Items;
    } else if ((leg == PayloadLeg::RelayReply && code == 105) || (leg == PayloadLeg::PageReply && code == 6)) {
        kind = PayloadKind::HeapText;  // the removed entry's identifier
    }
    features::ReleaseAs(kind, payload);
}
}  // namespace bookmarks

// Features whose requests carry only identifier or path lists and whose answers carry only list batches:
// `lists` are the request codes (page and relay legs) with a vector of wide strings, `batches` the reply
// codes (relay and page legs) with a batch.
namespace features {
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
}  // namespace features

namespace calendars {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {6, 68, 70}, {65, 7});
}
}  // namespace calendars

namespace messages {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {}, {24, 25, 10, 11});
}
}  // namespace messages

namespace apps {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {5, 55}, {52, 53, 55, 5, 6, 7});
}
}  // namespace apps

namespace books {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {4, 5, 76, 77}, {74, 6});
}
}  // namespace books

namespace music {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {}, {95, 96, 97, 98, 6, 9, 14, 15});
}
}  // namespace music

namespace videos {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {}, {86, 92, 89, 7});
}
}  // namespace videos

namespace photos {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    using features::PayloadKind;
    if ((leg == PayloadLeg::RelayReply && code == 134) || (leg == PayloadLeg::PageReply && code == 5)) {
        features::ReleaseAs(PayloadKind::HeapText, payload);  // the removed photo's identifier
        return;
    }
    features::ReleaseByCodes(leg, code, payload, {2, 5, 13, 109, 134}, {125, 126, 129, 6, 7, 8});
}
}  // namespace photos

namespace recordings {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {}, {83, 6});
}
}  // namespace recordings

namespace ringtones {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {}, {80, 6});
}
}  // namespace ringtones

// The backup manager's traffic: deletions and the restore's source folder carry vectors of wide strings;
// the relay's list answer (136) carries a batch of backups.
namespace backups {
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    features::ReleaseByCodes(leg, code, payload, {4, 5, 136, 137}, {136, 1, 2, 3});
}
}  // namespace backups
