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
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 99,
    kRelayLoad = 101,
    kRelayExportHtml = 102,  // data: as the page's 2; extra: the folder, lent for the call
    kRelayBackupXml = 103,   // as 102
    kRelayImportXml = 104,   // data: BookmarkImport*
    kRelayDelete = 105,      // data: as the page's 6
    kRelaySave = 106,        // data: as the page's 7
};
enum RelayReply : int64_t {
    kRelayCloudState = 100,  // value3: the bookmarks count, negative when an online account keeps them
    kRelayLoaded = 101,      // extra: ItemBatch<BookmarkItem>; null: the listing finished
    kRelayRemoved = 105,     // extra: the identifier, malloc'd wide text; value2: the count left
};

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
        kind = code == kRelayExportHtml || code == kRelayBackupXml ? PayloadKind::Bookmarks
               : code == kRelayImportXml                             ? PayloadKind::BookmarkImport
               : code == kRelayDelete                                ? PayloadKind::WidePairs
                                                                     : PayloadKind::None;
    } else if ((leg == PayloadLeg::RelayReply && code == kRelayRemoved) ||
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

// The media pages' exports all go to the relay's file command under this code, with the folder in `extra`
// and the checked files in `data` as std::vector<WideStringPair>* (name, device path), the receiver's.
namespace sdk::files {
constexpr int64_t kRelayExportFiles = 109;

// True when `code` on `leg` is the export of a page whose export request is `pageExport`: its payload is
// then the pairs.
inline bool IsExport(PayloadLeg leg, int64_t code, int64_t pageExport) {
    return (leg == PayloadLeg::PageRequest && code == pageExport) ||
           (leg == PayloadLeg::RelayRequest && code == kRelayExportFiles);
}
}  // namespace sdk::files

// ---- Calendars (WENDRA_COMMAND_DO_CALENDAR <-> ZERITH_COMMAND_DO_CALENDAR) --------------------------
namespace sdk::calendars {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExport = 2,     // the host asks for the folder
    kRequestBackupXml = 3,  // the host asks for the folder
    kRequestImportXml = 4,  // the host asks for the file
    kRequestDelete = 6,     // data: std::vector<std::wstring>* of the checked records' identifiers; count
};
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 63,
    kRelayLoad = 65,
    kRelayBackupXml = 66,  // extra: the folder, lent for the call
    kRelayExport = 67,     // as 66
    kRelayImportXml = 68,  // data: std::vector<std::wstring>* of the chosen paths
    kRelayDelete = 70,     // data: as the page's 6
};
enum RelayReply : int64_t {
    kRelayCloudState = 64,  // value3: the calendars count, negative when an online account keeps them
    kRelayLoaded = 65,      // extra: ItemBatch<TextItem>; null: the listing finished
    kRelayAdded = 69,       // value3: the calendars count after an import; extra: ItemBatch<TextItem>, the outcome
    kRelayRemoved = 70,     // value2: the calendars count after a deletion; extra: as 69
};
enum PageReply : int64_t {
    kReplyAdded = 0,
    kReplyRemoved = 6,
    kReplyLoaded = 7,  // extra: ItemBatch<TextItem>; null: loading finished
    kReplyHideCloudNotice = 9,
    kReplyShowCloudNotice = 10,
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {kRequestDelete, kRelayImportXml, kRelayDelete},
                   {kRelayLoaded, kRelayAdded, kRelayRemoved, kReplyLoaded, kReplyAdded, kReplyRemoved});
}
}  // namespace sdk::calendars

// ---- Messages (SORVAD_COMMAND_DO_SMS <-> ZERITH_COMMAND_DO_SMS) --------------------------------------
namespace sdk::messages {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExportText = 3,  // the host asks for the folder (3 to 6)
    kRequestExportCsv = 4,
    kRequestExportHtml = 5,
    kRequestBackupXml = 6,
};
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 22,
    kRelayLoad = 24,
    kRelayExportText = 26,  // extra: the folder, lent for the call (26 to 35)
    kRelayExportCsv = 30,
    kRelayExportHtml = 32,
    kRelayBackupXml = 35,
};
enum RelayReply : int64_t {
    kRelayCount = 23,   // value3: the conversations count
    kRelayLoaded = 24,  // extra: ItemBatch<TextItem>; null: the listing finished
    kRelayMessages = 25,
};
enum PageReply : int64_t {
    kReplyMessages = 10,
    kReplyLoaded = 11,
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {}, {kRelayLoaded, kRelayMessages, kReplyMessages, kReplyLoaded});
}
}  // namespace sdk::messages

// ---- Apps (GAVREL_COMMAND_DO_APP <-> ZERITH_COMMAND_DO_APP) -----------------------------------------
namespace sdk::apps {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestUninstall = 5,  // data: std::vector<std::wstring>* of the checked apps' identifiers; count
};
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 50,
    kRelayLoad = 52,
    kRelayUninstall = 55,  // data: as the page's 5
};
enum RelayReply : int64_t {
    kRelayCount = 51,        // value3: the apps count
    kRelayLoaded = 52,       // extra: ItemBatch<TextItem>; null: the listing finished
    kRelayIcons = 53,        // extra: ItemBatch<TextItem> of (identifier, the icon's PNG bytes one a character)
    kRelayUninstalled = 55,  // extra: ItemBatch<TextItem>, the outcome in words
};
enum PageReply : int64_t {
    kReplyUninstalled = 5,
    kReplyLoaded = 6,
    kReplyIcons = 7,
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    ReleaseByCodes(leg, code, payload, {kRequestUninstall, kRelayUninstall},
                   {kRelayLoaded, kRelayIcons, kRelayUninstalled, kReplyUninstalled, kReplyLoaded, kReplyIcons});
}
}  // namespace sdk::apps

// ---- Books (TELBOR_COMMAND_DO_BOOK <-> ZERITH_COMMAND_DO_BOOK; the list under ZERITH_COMMAND_DO_ITUNES) ----
namespace sdk::books {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExport = 2,       // data: std::vector<WideStringPair>* (name, device path) of the checked; folder asked
    kRequestImportFiles = 3,  // the host asks for the files
    kRequestAddFiles = 4,     // data: std::vector<std::wstring>* of dropped paths; count
    kRequestDelete = 5,       // data: std::vector<std::wstring>* of the checked books' identifiers; count
};
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 72,
    kRelayLoad = 74,
    kRelayImport = 76,  // data: std::vector<std::wstring>* of paths
    kRelayDelete = 77,  // data: as the page's 5
};
enum RelayReply : int64_t {
    kRelayCount = 73,  // value3: the books count
    kRelayLoaded = 74,
    kRelayImported = 76,  // value2: the books count afterwards; extra: ItemBatch<TextItem>, the outcome in words
    kRelayDeleted = 77,   // as 76
};
enum PageReply : int64_t {
    kReplyImported = 3,
    kReplyDeleted = 5,
    kReplyLoaded = 6,
    kReplyOwner = 8,  // the relay asks which page shows the books
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (files::IsExport(leg, code, kRequestExport)) return ReleaseAs(PayloadKind::WidePairs, payload);
    ReleaseByCodes(leg, code, payload, {kRequestAddFiles, kRequestDelete, kRelayImport, kRelayDelete},
                   {kRelayLoaded, kRelayImported, kRelayDeleted, kReplyLoaded, kReplyImported, kReplyDeleted});
}
}  // namespace sdk::books

// ---- Music (MULVAR_COMMAND_DO_MUSIC <-> ZERITH_COMMAND_DO_MUSIC; loads under ZERITH_COMMAND_DO_MEDIA) ----
namespace sdk::music {
enum PageRequest : int64_t {
    kRequestLoad = 1,
    kRequestExport = 2,  // data: std::vector<WideStringPair>* (name, device path) of the checked; folder asked
    kRequestReload = 8,
};
enum RelayRequest : int64_t {
    kRelayQueryLoaded = 93,
    kRelayLoad = 95,
    kRelayReload = 98,
};
enum RelayReply : int64_t {
    kRelayCount = 94,  // value3: the songs count
    kRelayLoaded = 95,
    kRelayPlaylists = 96,
    kRelayPlaylistSongs = 97,
    kRelayReloaded = 98,
};
enum PageReply : int64_t {
    kReplyLoaded = 6,
    kReplyPlaylists = 9,
    kReplyPlaylistSongs = 14,
    kReplyReloaded = 15,
    kReplyOwner = 17,  // the relay asks which page shows the songs
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (files::IsExport(leg, code, kRequestExport)) return ReleaseAs(PayloadKind::WidePairs, payload);
    ReleaseByCodes(leg, code, payload, {},
                   {kRelayLoaded, kRelayPlaylists, kRelayPlaylistSongs, kRelayReloaded, kReplyLoaded, kReplyPlaylists,
                    kReplyPlaylistSongs, kReplyReloaded});
}
}  // namespace sdk::music

// ---- Videos (VINTOR_COMMAND_DO_VIDEO <-> ZERITH_COMMAND_DO_VIDEO; loads under ZERITH_COMMAND_DO_MEDIA) ----
// One page with three views, named in `status` by their sections (13 movies, 14 TV shows, 15 music videos).
namespace sdk::videos {
enum PageRequest : int64_t {
    kRequestLoad = 1,    // status: the view
    kRequestExport = 2,  // data: std::vector<WideStringPair>* (name, device path) of the checked; folder asked
};
enum RelayRequest : int64_t {
    kRelayQueryMovies = 84,
    kRelayLoadMovies = 86,
    kRelayQueryMusicVideos = 87,
    kRelayLoadMusicVideos = 89,
    kRelayQueryTvShows = 90,
    kRelayLoadTvShows = 92,
};
enum RelayReply : int64_t {
    kRelayMovieCount = 85,
    kRelayMoviesLoaded = 86,
    kRelayMusicVideoCount = 88,
    kRelayMusicVideosLoaded = 89,
    kRelayTvShowCount = 91,
    kRelayTvShowsLoaded = 92,
};
enum PageReply : int64_t {
    kReplyLoaded = 7,  // status: the view
    kReplyOwner = 9,   // status: the view; the relay asks which page shows it
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if (files::IsExport(leg, code, kRequestExport)) return ReleaseAs(PayloadKind::WidePairs, payload);
    ReleaseByCodes(leg, code, payload, {},
                   {kRelayMoviesLoaded, kRelayTvShowsLoaded, kRelayMusicVideosLoaded, kReplyLoaded});
}
}  // namespace sdk::videos

// ---- Photos (PIMSEL_COMMAND_DO_PHOTO <-> ZERITH_COMMAND_DO_PHOTO) ------------------------------------
// One page with two views, named in `status`: 0 all photos, 1 the albums.
namespace sdk::photos {
constexpr int64_t kPhotosView = 0;
constexpr int64_t kAlbumsView = 1;
enum PageRequest : int64_t {
    kRequestLoad = 1,         // status: the view
    kRequestExport = 2,       // data: std::vector<WideStringPair>* (name, device path) of the checked; count
    kRequestDelete = 5,       // data: std::vector<std::wstring>* of the checked photos; count
    kRequestLoadAlbums = 9,   // the albums view's photos
    kRequestAlbumList = 12,   // the albums themselves
    kRequestExportAlbum = 13,  // data: as 5; the host asks for the folder
};
enum RelayRequest : int64_t {
    kRelayQueryPhotos = 123,
    kRelayLoadPhotos = 125,
    kRelayQueryAlbums = 127,
    kRelayLoadAlbums = 129,
    kRelayLoadAlbumPhotos = 130,
    kRelayExportAlbum = 131,  // data: as the page's 13; extra: the folder
    kRelayDelete = 134,       // data: as the page's 5
};
enum RelayReply : int64_t {
    kRelayPhotoCount = 124,
    kRelayPhotosLoaded = 125,
    kRelayThumbnails = 126,
    kRelayAlbumCount = 128,
    kRelayAlbumsLoaded = 129,
    kRelayNotice = 133,
    kRelayDeleted = 134,  // extra: the removed photo's identifier (malloc'd wide text); value2: the count left
};
enum PageReply : int64_t {
    kReplyDeleted = 5,
    kReplyPhotosLoaded = 6,
    kReplyThumbnails = 7,
    kReplyAlbumsLoaded = 8,
    kReplyNotice = 11,  // status: the view; also the host's word that a request reached the relay
};
inline void ReleasePayload(PayloadLeg leg, int64_t code, void* payload) {
    if ((leg == PayloadLeg::RelayReply && code == kRelayDeleted) ||
        (leg == PayloadLeg::PageReply && code == kReplyDeleted)) {
        ReleaseAs(PayloadKind::HeapText, payload);  // the removed photo's identifier
        return;
    }
    if (files::IsExport(leg, code, kRequestExport)) return ReleaseAs(PayloadKind::WidePairs, payload);
    ReleaseByCodes(leg, code, payload, {kRequestDelete, kRequestExportAlbum, kRelayExportAlbum, kRelayDelete},
                   {kRelayPhotosLoaded, kRelayThumbnails, kRelayAlbumsLoaded, kReplyPhotosLoaded, kReplyThumbnails,
                    kReplyAlbumsLoaded});
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
constexpr int64_t kRelayQueryLoaded = 81;
constexpr int64_t kRelayCount = 82;  // value3: the voice memos count
constexpr int64_t kRelayLoad = 83;    // answered under the same code
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
constexpr int64_t kRelayQueryLoaded = 78;
constexpr int64_t kRelayCount = 79;  // value3: the ringtones count
constexpr int64_t kRelayLoad = 80;    // answered under the same code
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
// Page -> host (BRISEL_COMMAND_DO_BACKUP, `window` = the calling window).
enum PageRequest : int64_t {
    kRequestList = 0,           // the backups in the folders the relay keeps
    kRequestListFolder = 4,     // the host asks for a folder to list
    kRequestDelete = 5,         // data: std::vector<std::wstring>* of the checked backups' keys; count
    kRequestDevices = 6,        // answered in place: extra = std::vector<WideStringPair>* (key, name)
    kRequestAskBackupNow = 7,   // answered in place: status 1 when confirmed
    kRequestBackup = 8,         // data: WideStringPair* (device key, target folder)
    kRequestCancel = 9,
    kRequestAskFolder = 10,     // wideText: the title; answered in place: extra = the folder (malloc), status 1
    kRequestAskRestore = 11,    // wideText: the device's name; answered in place: status 1 when confirmed
    kRequestRestore = 12,       // data: RestoreRequest*
    kRequestAskPassword = 13,   // answered in place: wideText = the password (malloc), status 1
    kRequestNoDeviceNotice = 14,
    kRequestNoBackupNotice = 15,
    kRequestUnfinishedNotice = 16,  // the chosen backup was never finished: it cannot be restored
};
// Host -> relay module (ZERITH_COMMAND_DO_BACKUP); the list answer and the deletion answer come back
// under the same codes.
enum RelayRequest : int64_t {
    kRelayList = 136,
    kRelayDelete = 137,
    kRelayBackup = 138,
    kRelayCancel = 139,
    kRelayRestore = 140,
};
// Host -> page: the list answer by its `status` (0 to 2: page codes 1 to 3), a run report (136) and a
// deleted backup's key (5).
enum PageReply : int64_t {
    kReplyBackup = 1,
    kReplySize = 2,
    kReplyListed = 3,
    kReplyDeleted = 5,
    kReplyDeviceCame = 16,  // extra: WideStringPair* (device key, device name)
    kReplyDeviceWent = 17,  // as 16
    kReplyRunReport = 136,
};
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
        if (code == kRequestBackup || code == kRelayBackup) {
            delete static_cast<WideStringPair*>(payload);
        } else if (code == kRequestRestore || code == kRelayRestore) {
            delete static_cast<RestoreRequest*>(payload);
        } else {
            ReleaseByCodes(leg, code, payload, {kRequestListFolder, kRequestDelete, kRelayList, kRelayDelete}, {});
        }
    } else if (leg == PayloadLeg::PageReply) {
        switch (code) {
        case kReplyBackup: delete static_cast<iOSBackup*>(payload); break;
        case kReplySize: delete static_cast<BackupSizeUpdate*>(payload); break;
        case kReplyDeleted: ReleaseAs(PayloadKind::HeapText, payload); break;
        case kReplyDeviceCame:
        case kReplyDeviceWent: delete static_cast<WideStringPair*>(payload); break;
        case kReplyRunReport: delete static_cast<BackupRunReport*>(payload); break;
        default: break;
        }
    } else if (code == kRelayDelete) {
        ReleaseAs(PayloadKind::HeapText, payload);
    }
}
}  // namespace sdk::backups
