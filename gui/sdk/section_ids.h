#pragma once
// The sections of the section list: the ids of its entries (SectionEntry.id), of the section counters
// (SectionCount) and of the section a choice names (QUARNEL_COMMAND_SELECT_ITEM's `value4`). Group headers
// (Info, Media, Apps) and parent entries (Music, Videos, Photos) have ids but no page of their own. No
// state; any thread.

#include <cstdint>

namespace sdk {

enum SectionId : int32_t {
    kSectionSummary = 0,
    kSectionInfoHeader = 1,
    kSectionContacts = 2,
    kSectionMessages = 3,
    kSectionNotes = 4,
    kSectionCalendars = 5,
    kSectionBookmarks = 6,
    kSectionMediaHeader = 7,
    kSectionMusic = 8,  // the parent of songs, voice memos and tones
    kSectionSongs = 9,
    kSectionVoiceMemos = 10,
    kSectionTones = 11,
    kSectionVideos = 12,  // the parent of movies, TV shows and music videos
    kSectionMovies = 13,
    kSectionTvShows = 14,
    kSectionMusicVideos = 15,
    kSectionPhotoGroup = 16,  // the parent of photos and albums
    kSectionPhotos = 17,
    kSectionAlbums = 18,
    kSectionBooks = 19,
    kSectionAppsHeader = 20,
    kSectionApps = 21,
    kHighestSectionId = kSectionApps,
};

}  // namespace sdk
