// The bookmarks of the simulated synchronisation service: class "com.apple.Bookmarks", kept in
// bookmarks.plist of the image. Folders and bookmarks name the folders that hold them in "parent"
// (a record without "parent" lies at the top); deleting a folder deletes what it alone holds, down
// the whole subtree, while a bookmark that another folder holds too stays there.
#include "md/md_service_mobilesync_store.h"

MDSyncClassRules MDMakeBookmarksSyncRules() {
  MDSyncClassRules rules;
  rules.className = "com.apple.Bookmarks";
  rules.storeFile = "bookmarks.plist";
  for (const char* entity : {"com.apple.bookmarks.Folder", "com.apple.bookmarks.Bookmark"}) {
    MDSyncEntityRule rule{entity, "parent", true, {}};
    rule.ownerlessAtTop = true;
    rules.entities.push_back(rule);
  }
  return rules;
}
