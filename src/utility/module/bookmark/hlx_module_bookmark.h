// The bookmarks module: requests 1400 to 1402 on the device's synchronisation service, class
// "com.apple.Bookmarks" (hlx_sync_session.h runs the sessions):
//   1400  list the bookmark tree: a count reply ({"Count":n}, bookmarks only, folders not counted;
//         -1 when there are none and a data-sync account holds them), then one record reply per
//         top-level record, each the JSON tree of that record ordered by "position"; a tree
//         lists 32 levels (so that its JSON nests no deeper than 64): a folder at the 32nd level
//         lists no children and, when it has some, names their number in "children_omitted"
//   1401  send the changes message (XML property-list text, the whole data part) that the desktop
//         composed
//   1402  delete a bookmark or folder {"id"}; the device deletes a folder's subtree with it
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 8 a data part that is not what the
// request needs (checked before any session opens), 13 no service, 24 the connection was lost, 35
// the device refused or cancelled.
//
// Threads: any worker; no state of its own.
#pragma once

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleBookmark : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  int ListBookmarks(const FeatureRequest& request);
  int WriteBookmarkChanges(const FeatureRequest& request);
  int DeleteBookmark(const FeatureRequest& request);
};

}  // namespace hlx
