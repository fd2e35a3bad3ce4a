// The notes module: requests 1200 and 1201 on the device's synchronisation service, class
// "com.apple.Notes" (hlx_sync_session.h runs the sessions):
//   1200  list the notes: a count reply ({"Count":n}, -1 when there are none and a data-sync account
//         holds them), then record replies of at most 20 notes each (every batch the device sends
//         is read before anything is reported)
//   1201  add a note {"id", "title"?, "content"?}: one reply of the note as the device keeps it
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 8 a data part that is not the JSON the
// request needs, 13 no service, 24 the connection was lost, 35 the device refused or cancelled,
// 30 (1201) no id for the note.
//
// Threads: any worker; no state of its own.
#pragma once

#include <rapidjson/fwd.h>

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleNote : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  int ListNotes(const FeatureRequest& request);
  int AddNote(const FeatureRequest& request, const rapidjson::Value& data);
};

}  // namespace hlx
