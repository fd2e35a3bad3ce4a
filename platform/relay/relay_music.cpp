// The relay's music: the songs (1004), a section of the media library's answer (1000), asked under the media
// command, as the songs table (relay_tables.h): title, artist, album, genre, length and size; see
// relay_lists.h.
#include <iterator>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

std::vector<std::wstring> SongCells(const MediaCells& s) {
    return {s.title, s.artist, s.album, s.genre, s.time, s.size};
}

const BatchReader kSongRows = {&ReadTable<&AddMediaRows<&SongCells>>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_MEDIA, 95, 1000, ZERITH_COMMAND_DO_MUSIC, 95, 94, kRequestStatus, &kSongRows, 1004},
};
const std::int64_t kQueries[] = {93};

}  // namespace

MediaCells MediaCellsOf(const rapidjson::Value& item) {
    MediaCells cells;
    cells.title = CellMember(item, "title");
    cells.path = WideMember(item, "path");
    if (cells.title.empty()) cells.title = FileName(cells.path);
    cells.artist = CellMember(item, "artist");
    cells.album = CellMember(item, "album");
    cells.genre = CellMember(item, "genre");
    const std::int64_t year = NumberMember(item, "year");
    if (year > 0) cells.year = std::to_wstring(year);
    cells.time = DurationText(NumberMember(item, "total_time_ms_int"));
    if (HasNumber(item, "file_size")) cells.size = SizeText(NumberMember(item, "file_size"));
    return cells;
}

const ListFeature kMusicList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
