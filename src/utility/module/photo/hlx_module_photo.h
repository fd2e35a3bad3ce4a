// The photo module: requests 400 to 404.
//   400  the photo list; 401 the album list; 402 an album's contents ("info": {"refresh",
//        "album_id", "album_type"}): read from a local copy of the device's Photos.sqlite (with its
//        -wal and -shm), made on first use and again when "refresh" is non-zero. The query family
//        is picked by trying the functions of the iOS majors in the order OrderMajorVersionsFor
//        gives for the device's version (old schema for 4 and 5, new for 6 and later); the first
//        that succeeds is remembered for that version text. A walk calls each distinct function
//        once, so a failing family never sends its rows twice. Rows: hlx_photo_queries.h.
//   403  thumbnails of the files in the data object (hlx_photo_thumbnails.h).
//   404  {"name"}: 0 when a portable device of that name is attached, else 1 (a missing or empty
//        name is 1). It only looks; nothing is deleted.
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 12 no AFC service, 18 the database could
// not be copied (or has no join table), 19, 20, 21 as hlx_photo_queries.h says; 8 a data part that is
// not a JSON object (403, 404). 400 ends with 0 once the database copy is there.
//
// Threads: any worker. Requests 400 to 402 run one at a time, under the module mutex, which guards
// the remembered functions and the devices' database paths; 403 and 404 take no lock.
#pragma once

#include <array>
#include <map>
#include <string>

#include "utility/hlx_feature_module.h"
#include "utility/module/photo/hlx_photo_queries.h"

namespace hlx {

class HLXModulePhoto : public HLXFeatureModule {
 public:
  HLXModulePhoto();

 protected:
  int Run(FeatureRequest& request) override;

 private:
  enum ListKind { kPhotoList = 0, kAlbumList = 1, kAlbumContents = 2, kListKinds = 3 };

  int RunList(const FeatureRequest& request, ListKind kind);
  int WalkQueries(ListKind kind, const std::string& version, const PhotoRequestContext& context);

  // Filled by the constructor, then only read.
  std::array<std::map<int, PhotoQueryFunction>, kListKinds> m_queryTables;
  // guards (m_mutex of HLXModule): m_rememberedQueries
  std::array<std::map<std::string, PhotoQueryFunction>, kListKinds> m_rememberedQueries;
};

}  // namespace hlx
