#pragma once
// The records of the notes, bookmarks, voice-memo and ringtone pages. The relay module builds them from the
// device service's answers and the host passes them on in ItemBatch payloads (item_batch.h); pages also
// build records for their requests (a new bookmark). Records travel as shared pointers so that list rows
// and tree items can point at what a page holds. Portable (no windows.h); no state; any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    std::wstring kind;                            // kBookmarkKind for a page; anything else is a folder
    std::map<std::wstring, std::wstring> parent;  // at most one entry: the folder that holds the entry
    int64_t position = 0;                         // place among its siblings
    std::wstring url;                             // empty for folders
    std::vector<std::shared_ptr<BookmarkItem>> children;
};
constexpr wchar_t kBookmarkKind[] = L"com.apple.bookmarks.Bookmark";
constexpr wchar_t kBookmarkFolderKind[] = L"com.apple.bookmarks.Folder";

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
