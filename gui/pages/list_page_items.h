#pragma once
// The records the notes, bookmarks, voice-memo and ringtone pages read, and the codes of their page
// commands in both directions with each payload's release. The host (its relays) builds the records and
// hands them to the pages in ItemBatch payloads; pages also build records for their requests (a new
// bookmark). Records travel as shared pointers so that list rows and tree items can point at what a page
// holds. Portable (no windows.h); no state; any thread.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "feature_payload.h"
#include "item_batch.h"
#include "note_codes.h"
#include "wide_pair.h"

// A note: the identifier, then title, a further text that only the search reads, content and time text.
struct NoteItem {
    std::wstring identifier;
    std::wstring title;
    std::wstring summary;
    std::wstring content;
    std::wstring time;
};

// A bookmark or a folder of bookmarks, with its children.
struct BookmarkItem {
    std::wstring identifier;
    std::wstring name;
    std::wstring kind;                           // kBookmarkKind for a page; anything else is a folder
    std::map<std::wstring, std::wstring> parent;  // at most one entry: the folder that holds the entry
    int64_t position = 0;                         // place among its siblings
    std::wstring url;                             // empty for folders
    std::vector<std::shared_ptr<BookmarkItem>> children;
};
constexpr wchar_t kBookmarkKind[] = L"com.apple.bookmarks.Bookmark";
constexpr wchar_t kBookmarkFolderKind[] = L"com.apple.bookmarks.Folder";

// Dropped files travel as a vector of paths lent for the call: a host that takes them copies what it needs,
// and one that does not (no relay takes dropped files today) has nothing to free.

// A voice memo.
struct RecordingItem {
    std::wstring key;  // names the recording to the host
    int64_t size = 0;  // bytes
    std::wstring name;
    std::wstring time;  // length text
    std::wstring dateCreated;
};

// A ringtone.
struct RingtoneItem {
    std::wstring key;
    std::wstring title;
    int64_t size = 0;
    int64_t timeValue = 0;  // the Time column's sort key
    std::wstring time;
};

// ---- Notes page codes (CORTAL_COMMAND_DO_NOTE) beyond note_codes.h ---------------------------------------
namespace notes {
constexpr int64_t kRequestAddFiles = 5;   // data: std::vector<std::wstring>* of paths, lent; count; wideText
constexpr int64_t kRequestAskNote = 8;    // data: WideStringPair* on the page's stack; status: confirmed
constexpr int64_t kReplySequence = 9;     // answered with the page's sequence in `status`

// Host -> page payloads: code 1 an ItemBatch<NoteItem> (or null: loading finished), code 7 a
// std::vector<std::shared_ptr<NoteItem>>.
inline void ReleasePagePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    if (leg == PayloadLeg::PageReply && code == kReplyLoaded) delete static_cast<ItemBatch<NoteItem>*>(payload);
    if (leg == PayloadLeg::PageReply && code == kReplyChanged) {
        delete static_cast<std::vector<std::shared_ptr<NoteItem>>*>(payload);
    }
}
}  // namespace notes

// ---- Bookmarks page codes (DUNMAR_COMMAND_DO_BOOKMARK) ---------------------------------------------------
namespace bookmarks {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExportHtml = 2,  // data: std::vector<BookmarkItem*>* of the checked entries, count
    kRequestBackupXml = 3,   // as 2
    kRequestImportXml = 4,   // data: std::vector<BookmarkItem*>* of the held top-level entries
    kRequestDelete = 6,      // data: std::vector<WideStringPair>* (identifier, kind), count
    kRequestSave = 7,        // data: a new BookmarkItem*, the host's from then on
    kRequestAskEntry = 16,   // status: 11 folder, 12 page; data: WideStringPair* (name, URL) on the page's stack
};
enum PageReply : int64_t {
    kReplyRemoved = 6,      // extra: the identifier, malloc'd wide text
    kReplyLoaded = 7,       // extra: ItemBatch<BookmarkItem>
    kReplySequence = 8,     // answered with the page's sequence
    kReplyShowCloudNotice = 9,
    kReplyHideCloudNotice = 10,
};
constexpr int64_t kFolderDialog = 11;
constexpr int64_t kPageDialog = 12;

inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload == nullptr) return;
    if (leg == PayloadLeg::PageReply && code == kReplyRemoved) std::free(payload);
    if (leg == PayloadLeg::PageReply && code == kReplyLoaded) delete static_cast<ItemBatch<BookmarkItem>*>(payload);
}
}  // namespace bookmarks

// ---- Voice-memo and ringtone page codes (ELVIST_COMMAND_DO_RECORDING, FAYDRA_COMMAND_DO_RINGTONE) --------
namespace recordings {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExport = 2,    // data: std::vector<WideStringPair>* (name or title, key), count; wideText: the caption
    kRequestAddFiles = 4,  // data: std::vector<std::wstring>* of paths, lent for the call; count; wideText
};
enum PageReply : int64_t {
    kReplyLoaded = 6,    // extra: ItemBatch<RecordingItem> (ringtones: ItemBatch<RingtoneItem>)
    kReplySequence = 7,  // answered with the page's sequence
    kReplyWindow = 8,    // ringtones only: answered with the page's window
};

template <typename Item>
void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (payload != nullptr && leg == PayloadLeg::PageReply && code == kReplyLoaded) {
        delete static_cast<ItemBatch<Item>*>(payload);
    }
}
}  // namespace recordings

// The sequence of a batch payload of `Item` records (the reply routing's batchSequence).
template <typename Item>
int64_t BatchSequenceOf(int64_t, const void* payload) {
    return static_cast<const ItemBatch<Item>*>(payload)->sequence;
}
