// The chunked iTunes database reader (see hlx_itunes_db.h).
#include "utility/module/media/hlx_itunes_db.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "utility/hlx_text.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

// A database header longer than this may announce a compressed body; shorter headers never do.
constexpr uint32_t kCompressibleHeaderAbove = 169;
constexpr size_t kChunkPrefixBytes = 12;  // tag, header length, total length (or a list's count)

// One chunk found in the buffer: [at, end) with its header length and the word at +8 (the total
// length of a chunk, the count of a list).
struct Chunk {
  size_t at = 0;
  size_t header = 0;
  size_t end = 0;
  uint32_t word8 = 0;
};

class ChunkWalker {
 public:
  explicit ChunkWalker(const std::string& bytes) : m_bytes(bytes) {}

  // Reads a little-endian u32 at `at`, 0 when it would pass `end` (callers check headers first).
  uint32_t U32(size_t at, size_t end) const {
    if (at > end || end - at < 4) return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(m_bytes.data()) + at;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  }

  // The chunk at `at` inside [at, limit): false when its tag differs, its header is shorter than
  // `minHeader` (the fields the caller reads) or longer than the room left, or (for chunks that
  // carry a total length) the total is below the header. The total is clamped to `limit`, so a
  // child never reaches past its parent; a list chunk (no total) runs to `limit`.
  bool Open(size_t at, size_t limit, const char* tag, size_t minHeader, bool hasTotal, Chunk* chunk) const {
    if (at >= limit || limit - at < kChunkPrefixBytes || std::memcmp(m_bytes.data() + at, tag, 4) != 0) return false;
    chunk->at = at;
    chunk->header = U32(at + 4, limit);
    chunk->word8 = U32(at + 8, limit);
    if (chunk->header < std::max(minHeader, kChunkPrefixBytes) || chunk->header > limit - at) return false;
    if (!hasTotal) {
      chunk->end = limit;
      return true;
    }
    if (chunk->word8 < chunk->header) return false;
    chunk->end = at + std::min<size_t>(chunk->word8, limit - at);
    return true;
  }

  // Data objects of a track or playlist: `count` "mhod" children from `at`, each advanced by its
  // total length, ending at the first that does not open. Returns where the last one ended.
  size_t ReadObjects(size_t at, size_t limit, uint32_t count, std::vector<ITunesDataObject>* objects) const {
    Chunk object;
    for (uint32_t i = 0; i < count && Open(at, limit, "mhod", 16, true, &object); ++i) {
      ITunesDataObject parsed;
      parsed.type = U32(object.at + 12, object.end);
      if (IsStringType(parsed.type)) parsed.text = ReadString(object.at + object.header, object.end);
      objects->push_back(std::move(parsed));
      at = object.end;
    }
    return at;
  }

  // mhit: +12 object count, +16 id, +24 type bytes, +36 file size, +40 length.
  bool ReadTrack(size_t at, size_t limit, ITunesDataSet* set, size_t* next) const {
    Chunk chunk;
    if (!Open(at, limit, "mhit", 44, true, &chunk)) return false;
    ITunesTrack track;
    track.id = static_cast<int32_t>(U32(at + 16, chunk.end));
    for (int i = 3; i >= 0; --i) track.fileType += m_bytes[at + 24 + static_cast<size_t>(i)];
    track.fileSizeBytes = U32(at + 36, chunk.end);
    track.lengthMs = U32(at + 40, chunk.end);
    ReadObjects(at + chunk.header, chunk.end, U32(at + 12, chunk.end), &track.objects);
    set->tracks[track.id] = std::move(track);
    *next = chunk.end;
    return true;
  }

  // mhyp: +12 object count, +16 item count; its objects, then its "mhip" items (+24 track id).
  bool ReadPlaylist(size_t at, size_t limit, ITunesDataSet* set, size_t* next) const {
    Chunk chunk;
    if (!Open(at, limit, "mhyp", 20, true, &chunk)) return false;
    ITunesPlaylist playlist;
    size_t child = ReadObjects(at + chunk.header, chunk.end, U32(at + 12, chunk.end), &playlist.objects);
    const uint32_t itemCount = U32(at + 16, chunk.end);
    Chunk item;
    for (uint32_t i = 0; i < itemCount && Open(child, chunk.end, "mhip", 28, true, &item); ++i) {
      playlist.trackIds.push_back(static_cast<int32_t>(U32(item.at + 24, item.end)));
      child = item.end;
    }
    set->playlists.push_back(std::move(playlist));
    *next = chunk.end;
    return true;
  }

  bool ReadAlbum(size_t at, size_t limit, ITunesDataSet* set, size_t* next) const {
    Chunk chunk;
    if (!Open(at, limit, "mhia", 12, true, &chunk)) return false;
    ++set->albumCount;
    *next = chunk.end;
    return true;
  }

  // mhsd: its one list chunk at its header length, whose children run to the data set's end.
  ITunesDataSet ReadDataSet(const Chunk& dataSet) const {
    ITunesDataSet set;
    using Reader = bool (ChunkWalker::*)(size_t, size_t, ITunesDataSet*, size_t*) const;
    struct ListKind {
      const char* tag;
      ITunesDataSet::Kind kind;
      Reader read;
    };
    static constexpr ListKind kLists[] = {{"mhlt", ITunesDataSet::Kind::kTracks, &ChunkWalker::ReadTrack},
                                          {"mhlp", ITunesDataSet::Kind::kPlaylists, &ChunkWalker::ReadPlaylist},
                                          {"mhla", ITunesDataSet::Kind::kAlbums, &ChunkWalker::ReadAlbum}};
    for (const ListKind& list : kLists) {
      Chunk chunk;
      if (!Open(dataSet.at + dataSet.header, dataSet.end, list.tag, 12, false, &chunk)) continue;
      set.kind = list.kind;
      size_t child = chunk.at + chunk.header;
      uint32_t read = 0;
      while (read < chunk.word8 && (this->*list.read)(child, chunk.end, &set, &child)) ++read;
      break;
    }
    return set;
  }

 private:
  static bool IsStringType(uint32_t type) {
    return type <= 14 || type == 18 || type == 19 || (type >= 22 && type <= 24) || (type >= 27 && type <= 31) ||
           (type >= 200 && type <= 204) || type == 300;
  }

  // A string body: +4 byte length, +16 UTF-16LE text, clamped to the object and cut at its first NUL.
  std::string ReadString(size_t body, size_t end) const {
    if (body > end || end - body < 16) return "";
    const size_t length = std::min<size_t>(U32(body + 4, end), end - body - 16);
    std::u16string text;
    text.reserve(length / 2);
    for (size_t i = 0; i + 1 < length; i += 2) {
      const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(m_bytes[body + 16 + i]) |
                                                  static_cast<uint8_t>(m_bytes[body + 17 + i]) << 8);
      if (unit == 0) break;
      text += unit;
    }
    return WideToUtf8(text);
  }

  const std::string& m_bytes;
};

bool HasNoBlankEqual(const std::string& fileType, const char* wanted) {
  std::string text;
  for (char c : fileType) {
    if (c != ' ') text += c;
  }
  return strcasecmp(text.c_str(), wanted) == 0;
}

}  // namespace

bool ITunesDbReader::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return false;
  Parse(std::move(bytes));
  return true;
}

void ITunesDbReader::Parse(std::string bytes) {
  m_dataSets.clear();
  Chunk database;
  {
    const ChunkWalker walker(bytes);
    if (!walker.Open(0, bytes.size(), "mhbd", 24, false, &database)) return;
    const auto* body = reinterpret_cast<const uint8_t*>(bytes.data()) + database.header;
    const size_t stored = bytes.size() - database.header;
    if (database.header > kCompressibleHeaderAbove && stored >= 2 && body[0] == 0x78 &&
        ((body[0] << 8) | body[1]) % 31 == 0) {
      // The stored total (+8) bounds the compressed body when it is plausible.
      const size_t total = database.word8;
      const size_t length = total > database.header ? std::min(stored, total - database.header) : stored;
      std::string inflated = bytes.substr(0, database.header);
      if (ZlibInflate(inflated, body, length, kMaxITunesDbInflatedBytes) == InflateResult::kOk) {
        bytes.swap(inflated);
      }
    }
  }
  const ChunkWalker walker(bytes);
  const uint32_t dataSetCount = walker.U32(20, bytes.size());
  size_t at = database.header;
  Chunk dataSet;
  for (uint32_t i = 0; i < dataSetCount && walker.Open(at, bytes.size(), "mhsd", 12, true, &dataSet); ++i) {
    m_dataSets.push_back(walker.ReadDataSet(dataSet));
    at = dataSet.end;
  }
}

const std::string& ITunesDbReader::FindString(const ITunesTrack& track, uint32_t type) {
  static const std::string kNone;
  for (const ITunesDataObject& object : track.objects) {
    if (object.type == type) return object.text;
  }
  return kNone;
}

void ITunesDbReader::BuildCatalog(MediaCatalog* catalog) const {
  enum : uint32_t { kTitle = 1, kPath = 2, kArtist = 4, kGenre = 5, kKind = 6 };
  for (const ITunesDataSet& set : m_dataSets) {
    for (const ITunesPlaylist& playlist : set.playlists) {
      for (int32_t id : playlist.trackIds) {
        const ITunesTrack* track = nullptr;
        for (const ITunesDataSet& tracks : m_dataSets) {
          auto found = tracks.tracks.find(id);
          if (found != tracks.tracks.end()) {
            track = &found->second;
            break;
          }
        }
        if (track == nullptr) continue;
        if (HasNoBlankEqual(track->fileType, "pdf") || HasNoBlankEqual(track->fileType, "EPUB")) {
          if (catalog->books.count(id) != 0) continue;
          catalog->books[id] =
              BookRecord{FindString(*track, kTitle), track->fileSizeBytes,       FindString(*track, kArtist),
                         FindString(*track, kKind),  FindString(*track, kGenre), FindString(*track, kPath)};
        } else if (HasNoBlankEqual(track->fileType, "m4r")) {
          const std::string& path = FindString(*track, kPath);
          if (catalog->ringtones.count(id) != 0 || path.find("Music") != std::string::npos) continue;
          catalog->ringtones[id] = RingtoneRecord{FindString(*track, kTitle), track->fileSizeBytes,
                                                  static_cast<int32_t>(track->lengthMs), path};
        }
      }
    }
  }
}

}  // namespace hlx
