// The media module: the device's music and video library, playlists, books, ringtones and voice
// memos, read from local copies of the device's media files in its cache folder, and the import and
// deletion of books:
//   1000  the library: sections 1004 songs, 1005 movies, 1007 music videos, 1006 TV shows (each a
//         count packet, then batches of at most 100), 1009 playlists, and 1010 per playlist
//   1001  books (1008) and ringtones (1003)          1002  voice memos (1002, one batch)
//   1010  the item ids of one playlist {"info":{"refresh","container_pid"}}
//   1011  a list of item ids {"item_pids":[...]} (checked, nothing else)
//   1012  import a book, 1013 delete a book: the request object in the data part
//   1003 to 1009 as requests: 0
// Replies: the frame's 21, 7 and 8; 12 no file service, 18 no library copy for a refresh, 19 a
// copy does not open, 20 a statement does not prepare; 32, 33, 34, 37, 38 and 39 for books
// (hlx_reply_code.h).
//
// Threads: any worker; several requests may run for one device at once (hlx_media_copies.h says
// how its copies are locked).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "utility/hlx_feature_module.h"

namespace hlx {

struct MediaCopies;

class HLXModuleMedia : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  // The copies of a device, made with its cache folder on first use and kept while the service runs.
  std::shared_ptr<MediaCopies> CopiesOf(const std::string& udid);

  std::mutex m_copiesMutex;
  // guards: m_copies
  std::map<std::string, std::shared_ptr<MediaCopies>> m_copies;
};

}  // namespace hlx
