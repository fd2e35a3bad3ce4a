// The chunk database reader against an independent Python walker of the format (tools/
// make_media_data.py), on a real database and on generated ones, stored and compressed, and on
// damaged files, which must end cleanly with what could be read.
#include "utility/module/media/hlx_itunes_db.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "unit/utility/utility_test_support.h"

namespace hlx {
namespace {

using test::ReadFile;
using test::ShellOutput;
using test::ShellQuote;
using test::TempFolder;

// The shared folder of real files ($HLX_REAL_DATA overrides where it is); read through a copy.
std::string RealDatabasePath() {
  const char* root = std::getenv("HLX_REAL_DATA");
  return std::string(root != nullptr ? root : "/work/shared/real-data") + "/spiff/test-resources/iTunesDB";
}

// One line per track (in id order: a later duplicate id wins) and per playlist, as both readers see
// them: id, type, size, length and the texts of string types 1 to 6.
constexpr char kWalkerDump[] = R"(
import json, sys
sys.path.insert(0, sys.argv[1])
import make_media_data as m
walked = m.walk_itunes_db(open(sys.argv[2], "rb").read())
tracks = {}
for t in walked["tracks"]:
    tracks[t["id"] - (1 << 32) if t["id"] >= 1 << 31 else t["id"]] = t
for i in sorted(tracks):
    t = tracks[i]
    print("%d|%s|%d|%d|%s" % (i, t["type"], t["size"], t["length"], "|".join(t["strings"].get(k, "") for k in range(1, 7))))
for ids in walked["playlists"]:
    print("playlist " + ",".join(str(i) for i in ids))
)";

std::string ReaderDump(const ITunesDbReader& reader) {
  std::ostringstream out;
  for (const ITunesDataSet& set : reader.DataSets()) {
    for (const auto& [id, track] : set.tracks) {
      out << id << '|' << track.fileType << '|' << track.fileSizeBytes << '|' << track.lengthMs;
      for (uint32_t type = 1; type <= 6; ++type) out << '|' << ITunesDbReader::FindString(track, type);
      out << '\n';
    }
  }
  for (const ITunesDataSet& set : reader.DataSets()) {
    for (const ITunesPlaylist& playlist : set.playlists) {
      out << "playlist ";
      for (size_t i = 0; i < playlist.trackIds.size(); ++i) out << (i ? "," : "") << playlist.trackIds[i];
      out << '\n';
    }
  }
  return out.str();
}

std::string WalkerDump(const std::string& path) {
  int status = -1;
  const std::string script = ShellQuote(kWalkerDump);
  std::string output =
      ShellOutput(test::Python() + " -c " + script + " " + ShellQuote(HLX_TOOLS_DIR) + " " + ShellQuote(path), &status);
  EXPECT_EQ(status, 0);
  return output;
}

// A generated database: tracks of every kind, a "Library" playlist and one reaching some again.
std::string MakeDatabase(const TempFolder& folder, bool compress, int headerLength = 188) {
  const std::string path = folder / (compress ? "compressed" : "stored");
  const std::string script =
      "import random, sys; sys.path.insert(0, sys.argv[1]); import make_media_data as m\n"
      "t = m.make_itunes_tracks(random.Random(5), 30)\n"
      "open(sys.argv[2], 'wb').write(m.build_itunes_db(t, [('Library', [x['id'] for x in t]), "
      "('Again', [x['id'] for x in t][::3])], sys.argv[3] == '1', int(sys.argv[4])))\n";
  int status = -1;
  ShellOutput(test::Python() + " -c " + ShellQuote(script) + " " + ShellQuote(HLX_TOOLS_DIR) + " " + ShellQuote(path) +
                  (compress ? " 1 " : " 0 ") + std::to_string(headerLength),
              &status);
  EXPECT_EQ(status, 0);
  return path;
}

size_t TrackCount(const ITunesDbReader& reader) {
  size_t count = 0;
  for (const ITunesDataSet& set : reader.DataSets()) count += set.tracks.size();
  return count;
}

void PutU32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

TEST(ITunesDbReader, RealDatabaseIsWalkedCompletely) {
  if (!test::PathExists(RealDatabasePath())) GTEST_SKIP() << "no real data at " << RealDatabasePath();
  TempFolder folder;
  const std::string copy = folder / "iTunesDB";
  ASSERT_TRUE(test::WriteFile(copy, ReadFile(RealDatabasePath())));
  ITunesDbReader reader;
  ASSERT_TRUE(reader.Load(copy));
  EXPECT_EQ(TrackCount(reader), 5375u);
  EXPECT_EQ(ReaderDump(reader), WalkerDump(copy));
}

TEST(ITunesDbReader, GeneratedDatabasesStoredAndCompressedMatchTheWalkerAndTheCatalog) {
  TempFolder folder;
  for (bool compress : {false, true}) {
    const std::string path = MakeDatabase(folder, compress);
    ITunesDbReader reader;
    ASSERT_TRUE(reader.Load(path));
    EXPECT_EQ(TrackCount(reader), 30u);
    EXPECT_EQ(ReaderDump(reader), WalkerDump(path));
    MediaCatalog catalog;
    reader.BuildCatalog(&catalog);
    // Track n has type n % 6 of pdf, EPUB, M4R, MP3, epub, m4r: 15 books and 10 ringtones, less the
    // three (n = 2, 14, 26) stored under a music folder.
    EXPECT_EQ(catalog.books.size(), 15u);
    EXPECT_EQ(catalog.ringtones.size(), 7u);
    for (const auto& [id, ringtone] : catalog.ringtones)
      EXPECT_EQ(ringtone.devicePath.find("Music"), std::string::npos);
  }
  // A header of 169 bytes or less never announces a compressed body: it is walked as stored and
  // finds no data set.
  ITunesDbReader shortHeader;
  ASSERT_TRUE(shortHeader.Load(MakeDatabase(folder, true, 104)));
  EXPECT_TRUE(shortHeader.DataSets().empty());
}

TEST(ITunesDbReader, DamagedDatabasesEndCleanly) {
  TempFolder folder;
  const std::string good = ReadFile(MakeDatabase(folder, false));
  const size_t header = 188;
  const size_t dataSet = header;
  const size_t trackList = dataSet + 96;
  const size_t firstTrack = trackList + 92;
  ASSERT_EQ(good.compare(firstTrack, 4, "mhit"), 0);
  struct Damage {
    const char* name;
    size_t at;
    uint32_t value;
    size_t tracks;  // tracks still read
  };
  const Damage damages[] = {
      {"zero-length first track", firstTrack + 8, 0, 0},
      {"first track shorter than its header", firstTrack + 8, 20, 0},
      {"huge track count", trackList + 8, 0xFFFFFFFFu, 30},
      {"huge data set count", 20, 0xFFFFFFFFu, 30},
      {"track reaching past the file", firstTrack + 8, 0xFFFFFFF0u, 1},
      {"huge data object count", firstTrack + 12, 0xFFFFFFFFu, 30},
      {"huge string length", firstTrack + 156 + 24 + 4, 0xFFFFFFFFu, 30},
      {"header longer than the file", 4, 0xFFFFFF00u, 0},
  };
  for (const Damage& damage : damages) {
    std::string bytes = good;
    PutU32(&bytes, damage.at, damage.value);
    ITunesDbReader reader;
    reader.Parse(bytes);
    EXPECT_EQ(TrackCount(reader), damage.tracks) << damage.name;
  }
  // Every truncation reads a prefix of the tracks, never past the end (the sanitizer build checks).
  size_t previous = 0;
  for (size_t length = 0; length <= good.size(); length += 7) {
    ITunesDbReader reader;
    reader.Parse(good.substr(0, length));
    EXPECT_GE(TrackCount(reader), previous) << length;
    previous = TrackCount(reader);
  }
  // A compressed body cut short is walked as stored and finds nothing.
  const std::string compressed = ReadFile(MakeDatabase(folder, true));
  ITunesDbReader cut;
  cut.Parse(compressed.substr(0, compressed.size() / 2));
  EXPECT_TRUE(cut.DataSets().empty());
}

}  // namespace
}  // namespace hlx
