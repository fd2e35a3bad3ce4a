// Books and ringtones: request 1001 (the iTunesCDB's books and ringtones merged with the device's
// book lists), 1012 (import a PDF or EPUB book from the PC or from the device) and 1013 (delete a
// book). The book lists are edited on their local copies and uploaded back.
//
// Threads: any worker; 1012 and 1013 hold the device's book mutex (hlx_media_copies.h).
#pragma once

#include <rapidjson/fwd.h>

#include "utility/module/media/hlx_media_copies.h"

namespace hlx {

int ListBooksAndRingtones(const FeatureRequest& request, MediaCopies* copies, AFCConnectionRef afc);
// `data` is the request object of the data part.
// The request object is checked before the device is touched (8 when it cannot be used).
int ImportBook(const FeatureRequest& request, MediaCopies* copies, const AfcOpener& openAfc,
               const rapidjson::Value& data);
int DeleteBook(MediaCopies* copies, const AfcOpener& openAfc, const rapidjson::Value& data);

}  // namespace hlx
