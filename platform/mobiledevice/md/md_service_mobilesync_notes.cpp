// The notes of the simulated synchronisation service: class "com.apple.Notes", one entity, kept in
// notes.plist of the image (the store format of md_service_mobilesync_store.h).
#include "md/md_service_mobilesync_store.h"

MDSyncClassRules MDMakeNotesSyncRules() {
  MDSyncClassRules rules;
  rules.className = "com.apple.Notes";
  rules.storeFile = "notes.plist";
  rules.entities.push_back({"com.apple.notes.Note", "", false, {}});
  return rules;
}
