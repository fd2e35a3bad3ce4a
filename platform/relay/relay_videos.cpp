// The relay's videos: movies (1005), TV shows (1006) and music videos (1007), sections of the media library's
// answer (1000), asked under the media command, as the movies, TV shows and music videos tables
// (relay_tables.h); each answer names its kind in `status`; see relay_lists.h.
#include <iterator>

#include "command_names.h"
#include "relay_lists.h"

namespace relay {
namespace {

std::vector<std::wstring> MovieCells(const MediaCells& v) { return {v.title, v.genre, v.year, v.time, v.size}; }
// A TV show's album is its show (and season).
std::vector<std::wstring> ShowCells(const MediaCells& v) { return {v.title, v.album, v.genre, v.year, v.time, v.size}; }
std::vector<std::wstring> MusicVideoCells(const MediaCells& v) {
    return {v.title, v.artist, v.genre, v.year, v.time, v.size};
}

const BatchReader kMovieRows = {&ReadTable<&AddMediaRows<&MovieCells>>, &ReleaseTextBatch};
const BatchReader kShowRows = {&ReadTable<&AddMediaRows<&ShowCells>>, &ReleaseTextBatch};
const BatchReader kMusicVideoRows = {&ReadTable<&AddMediaRows<&MusicVideoCells>>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_MEDIA, 86, 1000, ZERITH_COMMAND_DO_VIDEO, 86, 85, 13, &kMovieRows, 1005},
    {ZERITH_COMMAND_DO_MEDIA, 92, 1000, ZERITH_COMMAND_DO_VIDEO, 92, 91, 14, &kShowRows, 1006},
    {ZERITH_COMMAND_DO_MEDIA, 89, 1000, ZERITH_COMMAND_DO_VIDEO, 89, 88, 15, &kMusicVideoRows, 1007},
};
const std::int64_t kQueries[] = {84, 90, 87};

}  // namespace

const ListFeature kVideosList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
