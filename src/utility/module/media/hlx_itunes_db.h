// The reader of the device's chunked iTunes database ("mhbd" file, also with the zlib-compressed body
// of iTunesCDB) and the catalog of books and ringtones built from it.
//
// The file comes from the device and is untrusted: every field is read through bounds-checked
// little-endian reads from the loaded buffer; a child whose tag does not match, whose header is
// shorter than the fields read from it or whose total length is below its header ends the list that
// holds it; lengths are clamped to the enclosing chunk; counts only bound loops that also stop at
// the end of the chunk; the inflated body is capped. Nothing throws for bad data.
//
// Threads: one reader per request; no shared state.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hlx {

// The largest inflated body accepted: a device's database of a very large library is tens of MiB.
constexpr uint64_t kMaxITunesDbInflatedBytes = 512ull * 1024 * 1024;

struct ITunesDataObject {
  uint32_t type = 0;
  std::string text;  // string objects: the UTF-16LE text as UTF-8, up to its first NUL; else ""
};

struct ITunesTrack {
  int32_t id = 0;
  std::string fileType;  // the four type bytes reversed, as text ("MP3 ", "pdf ")
  uint32_t fileSizeBytes = 0;
  uint32_t lengthMs = 0;
  std::vector<ITunesDataObject> objects;  // in file order
};

struct ITunesPlaylist {
  std::vector<ITunesDataObject> objects;
  std::vector<int32_t> trackIds;  // of its playlist items, in order
};

struct ITunesDataSet {
  enum class Kind { kNone, kTracks, kPlaylists, kAlbums };
  Kind kind = Kind::kNone;
  std::map<int32_t, ITunesTrack> tracks;  // a later track with the same id replaces the earlier
  std::vector<ITunesPlaylist> playlists;
  uint32_t albumCount = 0;
};

struct BookRecord {
  std::string title;
  int64_t sizeBytes = 0;
  std::string artist;
  std::string kind;
  std::string genre;
  std::string devicePath;
};

struct RingtoneRecord {
  std::string title;
  int64_t sizeBytes = 0;
  int32_t lengthMs = 0;
  std::string devicePath;
};

struct MediaCatalog {
  std::map<int32_t, BookRecord> books;
  std::map<int32_t, RingtoneRecord> ringtones;
};

class ITunesDbReader {
 public:
  // Reads and parses a local file; false when it cannot be opened or read in full.
  [[nodiscard]] bool Load(const std::string& path);
  // Parses a database already in memory (what Load does after reading).
  void Parse(std::string bytes);

  const std::vector<ITunesDataSet>& DataSets() const { return m_dataSets; }
  // Walks the playlists into the catalog: books (file type pdf or EPUB) and ringtones (m4r outside
  // any "Music" folder), each track once.
  void BuildCatalog(MediaCatalog* catalog) const;

  // The text of the track's first data object of that type, "" when none.
  static const std::string& FindString(const ITunesTrack& track, uint32_t type);

 private:
  std::vector<ITunesDataSet> m_dataSets;
};

}  // namespace hlx
