#pragma once
// The tables of the outside feature pages' stand-ins: the columns of each listing that the relay turns
// into rows (ItemBatch<TextItem>, one text per column in this order). The relay's translations
// (relay_messages.cpp, relay_calendars.cpp ...) fill the rows, and the list page (platform/pages/
// list_page.cpp) names and sizes its columns from the same tables, so that the two agree. Constant data.

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace relay {

struct Column {
    const wchar_t* name;
    int maxWidthPixels;  // the column grows to fit its texts up to this width
    bool alignRight;     // counts, durations and sizes
};

struct Table {
    const Column* columns;
    std::size_t count;
};

// clang-format off
// Messages: one row per conversation, latest first.
inline constexpr Column kMessages[] = {
    {L"With", 240, false}, {L"Messages", 90, true}, {L"Last message", 440, false}, {L"Date", 140, false}};
// One conversation, opened from its row: one row per message, oldest first (the rows' details).
inline constexpr Column kConversation[] = {{L"Time", 140, false}, {L"From", 220, false}, {L"Text", 1200, false}};
// Calendars: one row per event under its calendar; a calendar without events has one row of its own.
inline constexpr Column kCalendars[] = {
    {L"Calendar", 200, false}, {L"Event", 220, false},   {L"Starts", 170, false}, {L"Ends", 150, false},
    {L"Location", 180, false}, {L"Repeats", 220, false}, {L"Alarm", 130, false}};
inline constexpr Column kSongs[] = {{L"Title", 260, false}, {L"Artist", 180, false}, {L"Album", 200, false},
                                    {L"Genre", 120, false}, {L"Time", 70, true},     {L"Size", 90, true}};
inline constexpr Column kMovies[] = {{L"Title", 280, false}, {L"Genre", 120, false}, {L"Year", 60, true},
                                     {L"Time", 80, true},    {L"Size", 90, true}};
inline constexpr Column kTvShows[] = {{L"Title", 260, false}, {L"Show", 200, false}, {L"Genre", 120, false},
                                      {L"Year", 60, true},    {L"Time", 80, true},   {L"Size", 90, true}};
inline constexpr Column kMusicVideos[] = {{L"Title", 260, false}, {L"Artist", 180, false}, {L"Genre", 120, false},
                                          {L"Year", 60, true},    {L"Time", 80, true},     {L"Size", 90, true}};
inline constexpr Column kPhotos[] = {{L"Name", 160, false},    {L"Taken", 150, false}, {L"Modified", 150, false},
                                     {L"Size", 90, true},      {L"Folder", 220, false}};
inline constexpr Column kAlbums[] = {{L"Album", 240, false}, {L"Kind", 150, false}, {L"Items", 70, true}};
// The albums view's answers list either the albums (a row's key, after its columns, names the album) or the
// photos of one album (kPhotos' rows); `value4` says which.
constexpr std::int64_t kAlbumListing = 0;
constexpr std::int64_t kAlbumPhotosListing = 1;
inline constexpr Column kBooks[] = {{L"Title", 280, false}, {L"Author", 200, false}, {L"Genre", 140, false},
                                    {L"Format", 70, false}, {L"Size", 90, true}};
inline constexpr Column kApps[] = {{L"Name", 220, false},      {L"Version", 130, false},   {L"Size", 90, true},
                                   {L"Documents", 100, true},  {L"Developer", 200, false}, {L"Identifier", 260, false}};
// clang-format on

template <std::size_t count>
constexpr Table TableOf(const Column (&columns)[count]) {
    return {columns, count};
}

}  // namespace relay
