// Loads and walks a chunk database with the service's reader in a process of its own, for
// bench_media.py: prints the seconds of the load and walk, then the tracks and playlists read.
//
//   bench_itunes_db_tool FILE
#include <chrono>
#include <cstdio>

#include "utility/module/media/hlx_itunes_db.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  hlx::ITunesDbReader reader;
  if (!reader.Load(argv[1])) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  hlx::MediaCatalog catalog;
  reader.BuildCatalog(&catalog);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  size_t tracks = 0;
  size_t playlists = 0;
  for (const hlx::ITunesDataSet& set : reader.DataSets()) {
    tracks += set.tracks.size();
    playlists += set.playlists.size();
  }
  std::printf("[%.6f, %zu, %zu]\n", seconds, tracks, playlists);
  return 0;
}
