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
// not a JSON object (403, 404). A list whose every family failed (a statement that does not prepare,
// an SQL error or a bound of hlx_sqlite.h halfway) ends with the code of the first family tried.
//
// Threads: any worker. Requests 400 to 402 of one device run one at a time, under that device's
// list mutex, which guards its database copy and path; lists of other devices run meanwhile, so a
// device whose lists run to their time bound holds back none of theirs. The remembered functions
// have a mutex of their own, held only to look one up or store it. 403 and 404 take no lock.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>

#include "utility/hlx_feature_module.h"
#include "utility/hlx_lock_order.h"
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
  // The list mutex of the device with this UDID, made on first use and kept while the service runs.
  std::shared_ptr<Mutex> ListMutexOf(const std::string& udid);
  // The function remembered for the version, or null; and storing one.
  PhotoQueryFunction RememberedQuery(ListKind kind, const std::string& version);
  void RememberQuery(ListKind kind, const std::string& version, PhotoQueryFunction query);

  // Filled by the constructor, then only read.
  std::array<std::map<int, PhotoQueryFunction>, kListKinds> m_queryTables;
  Mutex m_rememberedMutex;  // taken alone, under a device's list mutex
  // guards: m_rememberedQueries
  std::array<std::map<std::string, PhotoQueryFunction>, kListKinds> m_rememberedQueries
      HLX_GUARDED_BY(m_rememberedMutex);
  Mutex m_listMutexesMutex;  // taken alone
  // guards: m_listMutexes
  std::map<std::string, std::shared_ptr<Mutex>> m_listMutexes HLX_GUARDED_BY(m_listMutexesMutex);
};

}  // namespace hlx
