// Requests 1000 (the whole library: songs, movies, music videos and TV shows, the playlists and each
// playlist's item ids) and 1010 (the item ids of one playlist), read from the local copy of
// MediaLibrary.sqlitedb or, on devices without it, of Library.itdb with Locations.itdb.
//
// Threads: any worker; the caller passes the device's copies (hlx_media_copies.h for the locks).
#pragma once

#include <cstdint>

#include "utility/module/media/hlx_media_copies.h"

namespace hlx {

// 1000; `afc` is the device's open file service, `cancelled` the request's cancel. Returns the final
// reply's code.
int ListMediaLibrary(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc,
                     const CancelTest& cancelled);

// 1010; `afc` is null when "refresh" is 0 (nothing is copied then). Returns the final code.
int ListPlaylistItems(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc, int64_t containerId,
                      const CancelTest& cancelled);

}  // namespace hlx
